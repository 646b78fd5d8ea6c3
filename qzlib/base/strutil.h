// The engine's own byte and string helpers.
//
// Strings are zero-terminated byte strings in Shift_JIS: bytes 0x81 to 0x9F and 0xE0 to 0xFC
// start a double-byte character whose second (trail) byte may be any value, "\" and ASCII
// letters included. The helpers that look for characters step over double-byte characters
// whole, and the ones that write take their destination size and never write past it; a text
// they have to cut is cut before a double-byte character that would not fit whole.
#pragma once
#include <cstddef>
#include <cstdint>

// Fills count bytes of dest with value.
void MemFill(void* dest, int value, size_t count);
// Copies count bytes; the ranges must not overlap.
void MemCopy(void* dest, const void* src, size_t count);
// Copies count bytes; the ranges may overlap.
void MemMove(void* dest, const void* src, size_t count);
// 0 when the count bytes of a and b are equal, 1 otherwise.
int MemCompare(const void* a, const void* b, size_t count);

// Non-zero when *p is a Shift_JIS lead byte (0x81..0x9F, 0xE0..0xFC). The engine knows one
// character set, so charSet is not consulted.
inline int IsLeadByte(const char* p, int /*charSet*/ = 0) {
  const unsigned char c = static_cast<unsigned char>(*p);
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
// Byte length of the character at p: 2 for a lead byte followed by a trail byte, else 1
// (0 at the terminator). A lead byte right before the terminator counts as one byte.
inline size_t SjisCharLength(const char* p) {
  if (*p == 0) return 0;
  return (IsLeadByte(p) && p[1] != 0) ? 2 : 1;
}

// Copies src into dest (destSize bytes, terminator included). 0, or -1 when src had to be cut
// (dest then holds the longest whole-character prefix that fits). destSize 0 writes nothing.
int StrCopy(char* dest, size_t destSize, const char* src);
// Appends src to the string in dest (destSize bytes in all). 0, or -1 when it had to be cut.
int StrCat(char* dest, size_t destSize, const char* src);
// 0 when the strings are equal byte for byte, 1 otherwise.
int StrCompare(const char* a, const char* b);
// As StrCompare, with single-byte ASCII letters compared without regard to case; the bytes of
// double-byte characters are compared exactly.
int StrICompare(const char* a, const char* b);
// 0 when the first n bytes of a and b are equal (a shared terminator within them ends the
// comparison as equal), 1 otherwise.
int StrNCompare(const char* a, const char* b, size_t n);
// The first single-byte character c in s, stepping over double-byte characters; null when
// absent. c = 0 finds the terminator.
const char* StrChrSjis(const char* s, int c);
// The last such character, or null.
const char* StrRChrSjis(const char* s, int c);
// The first occurrence of part in s that starts on a character boundary, or null. An empty part
// is found at s.
const char* StrStr(const char* s, const char* part);

// The decimal integer of a text: skips to the first digit or "-", then reads digits. Values
// beyond 32 bits wrap modulo 2^32. No digit gives 0.
int AsciiToInt(const char* text);
// The same over the first length bytes of text (a zero byte among them still ends it), which
// need not be zero-terminated.
int AsciiToIntN(const char* text, size_t length);
// The value of a decimal floating-point text (leading blanks, an optional sign, digits, a point,
// digits, an optional exponent); 0.0 when there is no number. Independent of the C locale.
double AsciiToDouble(const char* text);
// The same over the first length bytes of text, which need not be zero-terminated.
double AsciiToDoubleN(const char* text, size_t length);
// The plain decimal "[+|-]digits[.digits]" at the start of [text, end) with at most 19 digits
// whose digits read as an integer are at most 2^53 (the point only when allowPoint): where it
// stops, with *value as AsciiToDoubleN gives it (and, without a point, *integer the digits
// modulo 2^32 with the sign applied, as AsciiToInt wraps); null for any other text.
const char* ReadPlainDecimal(const char* text, const char* end, bool allowPoint, double* value,
                             uint32_t* integer);

// printf rules into buffer (bufferSize bytes, terminator included), cut to fit. Returns 0.
int FormatString(char* buffer, size_t bufferSize, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Cuts the string in buffer so that it ends on a whole character: a lone lead byte at its end is
// removed. Used after a byte-counted cut.
void SjisTrimPartialChar(char* buffer);
