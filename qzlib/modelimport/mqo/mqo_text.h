// Tokens of a Metasequoia text document. The reader never looks at a byte at or beyond size.
//
// White space is space, tab, carriage return and line feed. A token is a double-quoted string
// (quotes included; Shift_JIS pairs are taken whole), a word of letters, digits and "_" that
// begins with a letter, one of "(", ")", "{", "}", or a run of "-", "." and digits. Anything
// else, an unterminated string, a lead byte as the last byte, or a token of MQO_TOKEN_MAX bytes
// or more (longer than a token buffer holds) is a token error.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

enum : int { MQO_TOKEN_MAX = 1024 };  // bytes of a token buffer, terminator included

struct MqoTextReader {
  const char* start;
  size_t size;
  size_t position;
};

// A token where it lies in the data (not zero-terminated).
struct MqoToken {
  const char* text;
  size_t length;
};

// True when the token is exactly the literal text.
template <size_t N>
inline bool MqoTokenIs(const MqoToken& t, const char (&text)[N]) {
  return t.length == N - 1 && std::memcmp(t.text, text, N - 1) == 0;
}

// Skips spaces, tabs, carriage returns and line feeds.
void MqoSkipSpace(MqoTextReader* r);
// Skips spaces and tabs only; then non-zero when the line (or the data) ends here.
int MqoSkipToLineEnd(MqoTextReader* r);
// Non-zero when only white space is left.
int MqoAtEnd(MqoTextReader* r);
// The next token in place; 0, or -1 on a token error or at the end of the data (the position
// then stays at the error, or at the size).
int MqoNextToken(MqoTextReader* r, MqoToken* token);
// The next token copied into buf (MQO_TOKEN_MAX bytes); 0 or -1 as MqoNextToken.
int MqoGetToken(MqoTextReader* r, char* buf);
// The next token as a decimal integer (wrapping modulo 2^32) / number; 0, or -1 on a token error.
int MqoGetInt(MqoTextReader* r, int* value);
int MqoGetFloat(MqoTextReader* r, float* value);
// The next token as a string value with its quotes removed; 0, or -1 when it is not a string.
int MqoGetString(MqoTextReader* r, char* buf);
// 0 when the next token is the one character c; -1 otherwise (token errors included).
int MqoExpect(MqoTextReader* r, char c);
// Skips a chunk whose keyword was read: tokens up to the next "{", then until the braces balance.
// 0, or -1 on a token error.
int MqoSkipChunk(MqoTextReader* r);
