#include <qzlib/base/strutil.h>

#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void MemFill(void* dest, int value, size_t count) {
  if (count) std::memset(dest, value, count);
}

void MemCopy(void* dest, const void* src, size_t count) {
  if (count) std::memcpy(dest, src, count);
}

void MemMove(void* dest, const void* src, size_t count) {
  if (count) std::memmove(dest, src, count);
}

int MemCompare(const void* a, const void* b, size_t count) {
  if (count == 0) return 0;
  return std::memcmp(a, b, count) == 0 ? 0 : 1;
}

void SjisTrimPartialChar(char* buffer) {
  char* p = buffer;
  while (*p) {
    if (IsLeadByte(p) && p[1] == 0) {
      *p = 0;
      return;
    }
    p += SjisCharLength(p);
  }
}

namespace {

// Copies whole characters of src to dest while they fit in room bytes (terminator excluded);
// returns the bytes written and whether src was copied entirely. Does not terminate.
size_t CopyWholeChars(char* dest, size_t room, const char* src, bool* complete) {
  size_t n = 0;
  const char* p = src;
  while (*p) {
    size_t len = SjisCharLength(p);
    if (n + len > room) {
      *complete = false;
      return n;
    }
    std::memcpy(dest + n, p, len);
    n += len;
    p += len;
  }
  *complete = true;
  return n;
}

uint8_t FoldAscii(uint8_t c) { return (c >= 'a' && c <= 'z') ? uint8_t(c - 'a' + 'A') : c; }

}  // namespace

int StrCopy(char* dest, size_t destSize, const char* src) {
  if (destSize == 0) return -1;
  // a source that fits whole is its whole characters
  const size_t length = strnlen(src, destSize);
  if (length < destSize) {
    std::memmove(dest, src, length + 1);
    return 0;
  }
  bool complete;
  size_t n = CopyWholeChars(dest, destSize - 1, src, &complete);
  dest[n] = 0;
  return complete ? 0 : -1;
}

int StrCat(char* dest, size_t destSize, const char* src) {
  size_t len = strnlen(dest, destSize);
  if (len >= destSize) return -1;  // dest is not even terminated within its size
  return StrCopy(dest + len, destSize - len, src);
}

int StrCompare(const char* a, const char* b) { return std::strcmp(a, b) == 0 ? 0 : 1; }

int StrICompare(const char* a, const char* b) {
  for (;;) {
    if (IsLeadByte(a) && a[1] != 0) {
      // a double-byte character: both bytes must match exactly
      if (a[0] != b[0] || a[1] != b[1]) return 1;
      a += 2;
      b += 2;
      continue;
    }
    uint8_t ca = static_cast<uint8_t>(*a), cb = static_cast<uint8_t>(*b);
    if (FoldAscii(ca) != FoldAscii(cb)) return 1;
    if (ca == 0) return 0;
    ++a;
    ++b;
  }
}

int StrNCompare(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return 1;
    if (a[i] == 0) return 0;
  }
  return 0;
}

const char* StrChrSjis(const char* s, int c) {
  char ch = static_cast<char>(c);
  for (const char* p = s;; p += SjisCharLength(p)) {
    if (*p == ch && !(IsLeadByte(p) && p[1] != 0)) return p;
    if (*p == 0) return nullptr;
  }
}

const char* StrRChrSjis(const char* s, int c) {
  char ch = static_cast<char>(c);
  const char* found = nullptr;
  for (const char* p = s;; p += SjisCharLength(p)) {
    if (*p == ch && !(IsLeadByte(p) && p[1] != 0)) found = p;
    if (*p == 0) return found;
  }
}

const char* StrStr(const char* s, const char* part) {
  size_t n = std::strlen(part);
  for (const char* p = s;; p += SjisCharLength(p)) {
    if (std::strncmp(p, part, n) == 0) return p;
    if (*p == 0) return nullptr;
  }
}

int AsciiToInt(const char* text) { return AsciiToIntN(text, std::strlen(text)); }

int AsciiToIntN(const char* text, size_t length) {
  const char* p = text;
  const char* end = text + length;
  while (p < end && *p && *p != '-' && !(*p >= '0' && *p <= '9')) ++p;
  bool negative = false;
  if (p < end && *p == '-') {
    negative = true;
    ++p;
  }
  uint32_t value = 0;
  while (p < end && *p >= '0' && *p <= '9') value = value * 10u + uint32_t(*p++ - '0');
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

const char* ReadPlainDecimal(const char* text, const char* end, bool allowPoint, double* value,
                             uint32_t* integer) {
  // With the digits m below 2^53 and k <= 19 fraction digits, m and 10^k are exact doubles and
  // their quotient is rounded once: the correctly rounded value, as from_chars gives it.
  static const double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,
                                  1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19};
  const char* p = text;
  bool negative = false;
  if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  // at most 20 digits are taken (20 or more refuse the text)
  uint64_t m = 0;
  const char* lastDigit = end - p > 20 ? p + 20 : end;
  const char* first = p;
  for (unsigned d; p < lastDigit && (d = static_cast<unsigned>(*p - '0')) < 10; ++p) m = m * 10 + d;
  int digits = static_cast<int>(p - first), fraction = 0;
  if (allowPoint && p < end && *p == '.') {
    ++p;
    const char* firstFraction = p;
    lastDigit = end - p > 20 - digits ? p + (20 - digits) : end;
    for (unsigned d; p < lastDigit && (d = static_cast<unsigned>(*p - '0')) < 10; ++p) m = m * 10 + d;
    fraction = static_cast<int>(p - firstFraction);
    digits += fraction;
  }
  if (digits == 0 || digits > 19 || m > (uint64_t{1} << 53)) return nullptr;
  double d = static_cast<double>(m) / kPow10[fraction];
  *value = negative ? -d : d;
  if (integer) *integer = negative ? 0u - static_cast<uint32_t>(m) : static_cast<uint32_t>(m);
  return p;
}

double AsciiToDouble(const char* text) { return AsciiToDoubleN(text, std::strlen(text)); }

double AsciiToDoubleN(const char* text, size_t length) {
  const char* p = text;
  const char* end = text + length;
  while (p < end && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = (*p++ == '-');
  if (p == end || !((*p >= '0' && *p <= '9') || *p == '.')) return 0.0;
  double value = 0.0;
  // the common plain decimal directly, when nothing after it could continue the number
  const char* stop = ReadPlainDecimal(p, end, true, &value, nullptr);
  if (stop && !(stop < end && ((*stop >= '0' && *stop <= '9') || *stop == 'e' || *stop == 'E' || *stop == '.')))
    return negative ? -value : value;
  auto r = std::from_chars(p, end, value, std::chars_format::general);
  if (r.ec == std::errc::invalid_argument) return 0.0;
  if (r.ec == std::errc::result_out_of_range) {
    // from_chars leaves value untouched; take the limit the text points to (a number this long
    // is an overflow or an underflow whatever its further digits)
    char number[1024];
    size_t n = static_cast<size_t>(r.ptr - p) < sizeof number - 1 ? static_cast<size_t>(r.ptr - p) : sizeof number - 1;
    std::memcpy(number, p, n);
    number[n] = 0;
    value = std::strtod(number, nullptr);
  }
  return negative ? -value : value;
}

int FormatString(char* buffer, size_t bufferSize, const char* format, ...) {
  if (bufferSize == 0) return 0;
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, bufferSize, format, args);
  va_end(args);
  if (n < 0) buffer[0] = 0;
  else if (static_cast<size_t>(n) >= bufferSize) SjisTrimPartialChar(buffer);
  return 0;
}
