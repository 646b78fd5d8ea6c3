#include <qzlib/modelimport/mqo/mqo_text.h>

#include <cstring>

#include <qzlib/base/strutil.h>

namespace {

// Byte classes: white space, letter, a byte that continues a word, a byte of a number.
enum : uint8_t { kSpace = 1, kLetter = 2, kWord = 4, kNumber = 8 };

struct ByteClasses {
  uint8_t of[256];
  constexpr ByteClasses() : of() {
    of[uint8_t(' ')] = of[uint8_t('\t')] = of[uint8_t('\r')] = of[uint8_t('\n')] = kSpace;
    for (int c = 'A'; c <= 'Z'; ++c) of[c] = of[c + 32] = kLetter | kWord;
    for (int c = '0'; c <= '9'; ++c) of[c] = kWord | kNumber;
    of[uint8_t('_')] = kWord;
    of[uint8_t('-')] = of[uint8_t('.')] = kNumber;
  }
};
constexpr ByteClasses kClasses;

inline bool Is(char c, uint8_t cls) { return (kClasses.of[static_cast<uint8_t>(c)] & cls) != 0; }

}  // namespace

void MqoSkipSpace(MqoTextReader* r) {
  while (r->position < r->size && Is(r->start[r->position], kSpace)) ++r->position;
}

int MqoSkipToLineEnd(MqoTextReader* r) {
  while (r->position < r->size && (r->start[r->position] == ' ' || r->start[r->position] == '\t')) {
    ++r->position;
  }
  return r->position >= r->size || r->start[r->position] == '\r' || r->start[r->position] == '\n';
}

int MqoAtEnd(MqoTextReader* r) {
  MqoSkipSpace(r);
  return r->position >= r->size;
}

int MqoNextToken(MqoTextReader* r, MqoToken* token) {
  MqoSkipSpace(r);
  const char* s = r->start;
  const size_t size = r->size;
  size_t begin = r->position;
  if (begin >= size) return -1;
  size_t end = begin + 1;
  char c = s[begin];
  if (c == '"') {
    for (;;) {
      if (end >= size) {
        r->position = size;
        return -1;
      }
      if (s[end] == '"') break;
      if (IsLeadByte(s + end)) {
        if (end + 1 >= size) {
          r->position = size;
          return -1;
        }
        end += 2;
      } else {
        ++end;
      }
    }
    ++end;  // the closing quote
  } else if (Is(c, kLetter)) {
    while (end < size && Is(s[end], kWord)) ++end;
  } else if (c == '(' || c == ')' || c == '{' || c == '}') {
  } else if (Is(c, kNumber)) {
    while (end < size && Is(s[end], kNumber)) ++end;
  } else {
    return -1;
  }
  size_t len = end - begin;
  if (len >= MQO_TOKEN_MAX) return -1;
  *token = MqoToken{s + begin, len};
  r->position = end;
  return 0;
}

int MqoGetToken(MqoTextReader* r, char* buf) {
  MqoToken t;
  if (MqoNextToken(r, &t) != 0) return -1;
  std::memcpy(buf, t.text, t.length);
  buf[t.length] = '\0';
  return 0;
}

namespace {

// A number token that is a whole plain decimal ([-]digits[.digits], see ReadPlainDecimal) read
// in the one pass that finds its end: true with the position past it; false, nothing moved, when
// the token is anything else (the general path reads it then).
bool PlainNumberToken(MqoTextReader* r, bool point, double* value, uint32_t* integer) {
  MqoSkipSpace(r);
  if (r->position >= r->size) return false;
  const char* s = r->start + r->position;
  const char* end = r->start + r->size;
  if (*s == '+' || !Is(*s, kNumber)) return false;  // '+' is no token byte
  const char* stop = ReadPlainDecimal(s, end, point, value, integer);
  if (!stop || (stop < end && Is(*stop, kNumber))) return false;
  r->position = static_cast<size_t>(stop - r->start);
  return true;
}

}  // namespace

int MqoGetInt(MqoTextReader* r, int* value) {
  double unused;
  uint32_t integer;
  if (PlainNumberToken(r, false, &unused, &integer)) {
    *value = static_cast<int>(integer);
    return 0;
  }
  MqoToken t;
  if (MqoNextToken(r, &t) != 0) return -1;
  *value = AsciiToIntN(t.text, t.length);
  return 0;
}

int MqoGetFloat(MqoTextReader* r, float* value) {
  double d;
  if (PlainNumberToken(r, true, &d, nullptr)) {
    *value = static_cast<float>(d);
    return 0;
  }
  MqoToken t;
  if (MqoNextToken(r, &t) != 0) return -1;
  *value = static_cast<float>(AsciiToDoubleN(t.text, t.length));
  return 0;
}

int MqoGetString(MqoTextReader* r, char* buf) {
  MqoToken t;
  if (MqoNextToken(r, &t) != 0) return -1;
  // a zero byte inside ends the value before its closing quote: not a string
  if (t.length < 2 || t.text[0] != '"' || t.text[t.length - 1] != '"' ||
      std::memchr(t.text, 0, t.length))
    return -1;
  std::memcpy(buf, t.text + 1, t.length - 2);
  buf[t.length - 2] = '\0';
  return 0;
}

int MqoExpect(MqoTextReader* r, char c) {
  MqoToken t;
  if (MqoNextToken(r, &t) != 0) return -1;
  return t.length == 1 && t.text[0] == c ? 0 : -1;
}

int MqoSkipChunk(MqoTextReader* r) {
  MqoToken t;
  do {
    if (MqoNextToken(r, &t) != 0) return -1;
  } while (!(t.length == 1 && t.text[0] == '{'));
  int depth = 1;
  while (depth > 0) {
    if (MqoNextToken(r, &t) != 0) return -1;
    if (t.text[0] == '{') ++depth;
    else if (t.text[0] == '}') --depth;
  }
  return 0;
}
