#include <qzlib/modelimport/mqo/mqo_text.h>

#include <cstring>

#include <qzlib/base/strutil.h>

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

void MqoSkipSpace(MqoTextReader* r) {
  while (r->position < r->size && IsSpace(r->start[r->position])) ++r->position;
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

int MqoGetToken(MqoTextReader* r, char* buf) {
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
  } else if (IsLetter(c)) {
    while (end < size && (IsLetter(s[end]) || IsDigit(s[end]) || s[end] == '_')) ++end;
  } else if (c == '(' || c == ')' || c == '{' || c == '}') {
  } else if (c == '-' || c == '.' || IsDigit(c)) {
    while (end < size && (s[end] == '-' || s[end] == '.' || IsDigit(s[end]))) ++end;
  } else {
    return -1;
  }
  size_t len = end - begin;
  if (len >= MQO_TOKEN_MAX) return -1;
  std::memcpy(buf, s + begin, len);
  buf[len] = '\0';
  r->position = end;
  return 0;
}

int MqoGetInt(MqoTextReader* r, int* value) {
  char buf[MQO_TOKEN_MAX];
  if (MqoGetToken(r, buf) != 0) return -1;
  *value = AsciiToInt(buf);
  return 0;
}

int MqoGetFloat(MqoTextReader* r, float* value) {
  char buf[MQO_TOKEN_MAX];
  if (MqoGetToken(r, buf) != 0) return -1;
  *value = static_cast<float>(AsciiToDouble(buf));
  return 0;
}

int MqoGetString(MqoTextReader* r, char* buf) {
  if (MqoGetToken(r, buf) != 0) return -1;
  size_t len = std::strlen(buf);
  if (len < 2 || buf[0] != '"' || buf[len - 1] != '"') return -1;
  std::memmove(buf, buf + 1, len - 2);
  buf[len - 2] = '\0';
  return 0;
}

int MqoExpect(MqoTextReader* r, const char* text) {
  char buf[MQO_TOKEN_MAX];
  if (MqoGetToken(r, buf) != 0) return -1;
  return std::strcmp(buf, text) == 0 ? 0 : -1;
}

int MqoSkipChunk(MqoTextReader* r) {
  char buf[MQO_TOKEN_MAX];
  do {
    if (MqoGetToken(r, buf) != 0) return -1;
  } while (std::strcmp(buf, "{") != 0);
  int depth = 1;
  while (depth > 0) {
    if (MqoGetToken(r, buf) != 0) return -1;
    if (buf[0] == '{') ++depth;
    else if (buf[0] == '}') --depth;
  }
  return 0;
}
