// The MQO tokens against a slow reference written from the token rules, over random texts.
#include <qzlib/modelimport/mqo/mqo_text.h>

#include <gtest/gtest.h>

#include <random>
#include <string>

#include <qzlib/base/strutil.h>

namespace {

struct RefToken {
  bool ok;
  std::string text;
  size_t after;  // position after the token, or where the reader is left on an error
};

// The rules, one byte at a time.
RefToken RefNext(const std::string& s, size_t pos) {
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  while (pos < s.size() && space(s[pos])) ++pos;
  if (pos >= s.size()) return {false, "", pos};
  size_t end = pos + 1;
  const char c = s[pos];
  if (c == '"') {
    for (;;) {
      if (end >= s.size()) return {false, "", s.size()};
      const unsigned char b = static_cast<unsigned char>(s[end]);
      if (b == '"') break;
      const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
      if (lead && end + 1 >= s.size()) return {false, "", s.size()};
      end += lead ? 2 : 1;
    }
    ++end;
  } else if (letter(c)) {
    while (end < s.size() && (letter(s[end]) || digit(s[end]) || s[end] == '_')) ++end;
  } else if (c == '(' || c == ')' || c == '{' || c == '}') {
  } else if (c == '-' || c == '.' || digit(c)) {
    while (end < s.size() && (s[end] == '-' || s[end] == '.' || digit(s[end]))) ++end;
  } else {
    return {false, "", pos};
  }
  if (end - pos >= MQO_TOKEN_MAX) return {false, "", pos};
  return {true, s.substr(pos, end - pos), end};
}

std::string RandomText(std::mt19937& rng) {
  static const char* const kPieces[] = {" ", "\t", "\r\n", "abc", "Z_9", "V", "UV", "(", ")", "{", "}",
                                        "-12", "3.25", "-.5", "0", "4294967297", "\"name\"",
                                        "\"\x82\xA0\"", "\"\x81\"\"", "\"open", "#", "\x81",
                                        std::string(1, '\0').c_str(), "\"a\0b\"", "12a", "1e5", "+5", "1.2.3", "-0", "00012345678901234567"};
  std::string s;
  const int n = 1 + static_cast<int>(rng() % 30);
  for (int i = 0; i < n; ++i) {
    const size_t k = rng() % (sizeof(kPieces) / sizeof(kPieces[0]));
    if (k == 22) s += '\0';
    else if (k == 23) s += std::string("\"a\0b\"", 5);
    else s += kPieces[k];
  }
  if (rng() % 8 == 0) s += std::string(MQO_TOKEN_MAX + static_cast<int>(rng() % 3) - 2, '7');
  return s;
}

TEST(MqoText, TokensAndValuesFollowTheRules) {
  for (int seed = 1; seed <= 400; ++seed) {
    std::mt19937 rng(seed);
    const std::string s = RandomText(rng);
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    size_t pos = 0;
    for (int step = 0; step < 64; ++step) {
      const RefToken ref = RefNext(s, pos);
      const std::string copy = ref.ok ? ref.text : "";
      // each reading operation from the same position
      MqoTextReader r{s.data(), s.size(), pos};
      MqoToken t{};
      ASSERT_EQ(MqoNextToken(&r, &t) == 0, ref.ok);
      EXPECT_EQ(r.position, ref.after);
      if (ref.ok) {
        EXPECT_EQ(std::string(t.text, t.length), ref.text);
      }
      r.position = pos;
      char buf[MQO_TOKEN_MAX];
      ASSERT_EQ(MqoGetToken(&r, buf) == 0, ref.ok);
      if (ref.ok) {
        EXPECT_EQ(std::string(buf, ref.text.size()), ref.text);
      }
      r.position = pos;
      int iv = 7;
      ASSERT_EQ(MqoGetInt(&r, &iv) == 0, ref.ok);
      if (ref.ok) {
        EXPECT_EQ(iv, AsciiToInt(copy.c_str()));
      }
      r.position = pos;
      float fv = 7;
      ASSERT_EQ(MqoGetFloat(&r, &fv) == 0, ref.ok);
      if (ref.ok) {
        EXPECT_EQ(fv, static_cast<float>(AsciiToDouble(copy.c_str())));
      }
      r.position = pos;
      const std::string zt = copy.c_str();  // the token as a zero-terminated string sees it
      const bool isString = ref.ok && zt.size() >= 2 && zt.front() == '"' && zt.back() == '"';
      ASSERT_EQ(MqoGetString(&r, buf) == 0, isString);
      if (isString) {
        EXPECT_EQ(std::string(buf), zt.substr(1, zt.size() - 2));
      }
      for (char c : {'(', ')', '{', '}'}) {
        r.position = pos;
        EXPECT_EQ(MqoExpect(&r, c) == 0, ref.ok && ref.text == std::string(1, c));
      }
      if (!ref.ok) break;
      pos = ref.after;
    }
  }
}

TEST(MqoText, SkipChunkBalancesBraces) {
  const std::string s = "Scene 1 (2) { a { b } { { } } c } tail";
  MqoTextReader r{s.data(), s.size(), 5};
  ASSERT_EQ(MqoSkipChunk(&r), 0);
  MqoToken t;
  ASSERT_EQ(MqoNextToken(&r, &t), 0);
  EXPECT_TRUE(MqoTokenIs(t, "tail"));
  const std::string open = "x { { }";
  MqoTextReader u{open.data(), open.size(), 1};
  EXPECT_EQ(MqoSkipChunk(&u), -1);
}

}  // namespace
