#include <qzlib/base/strutil.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include <qzlib/base/engine_texts.h>

namespace {
// "表" (0x95 0x5C): trail byte "\". "ア" (0x83 0x41) and "ヂ" (0x83 0x61): trail bytes "A", "a".
const char kHyo[] = "\x95\x5C";
const char kA[] = "\x83\x41";
const char kDi[] = "\x83\x61";

std::string S(const char* a, const char* b = "", const char* c = "") {
  return std::string(a) + b + c;
}
}  // namespace

TEST(StrUtil, JapaneseTextsAreCp932ByteForByte) {
  // "×　QZライブラリの初期化に失敗しました"
  EXPECT_EQ(std::string(TEXT_INIT_FAILED),
            "\x81\x7E\x81\x40QZ\x83\x89\x83\x43\x83\x75\x83\x89\x83\x8A\x82\xCC\x8F\x89\x8A\xFA"
            "\x89\xBB\x82\xC9\x8E\xB8\x94\x73\x82\xB5\x82\xDC\x82\xB5\x82\xBD");
  // "メモリ領域の確保に失敗しました"
  EXPECT_EQ(std::string(TEXT_IMAGE_REASON_MEMORY),
            "\x83\x81\x83\x82\x83\x8A\x97\xCC\x88\xE6\x82\xCC\x8A\x6D\x95\xDB\x82\xC9\x8E\xB8\x94"
            "\x73\x82\xB5\x82\xDC\x82\xB5\x82\xBD");
  // the texts join with neighbouring literals
  EXPECT_EQ(std::string(TEXT_INIT_FAILED "\n").back(), '\n');
}

TEST(StrUtil, CopyAndCatNeverPassTheirSizeNorSplitACharacter) {
  char d[6];
  EXPECT_EQ(StrCopy(d, sizeof(d), "abcdef"), -1);
  EXPECT_STREQ(d, "abcde");
  EXPECT_EQ(StrCopy(d, sizeof(d), S("abcd", kHyo).c_str()), -1);  // "表" would not fit whole
  EXPECT_STREQ(d, "abcd");
  EXPECT_EQ(StrCopy(d, 1, "x"), -1);
  EXPECT_STREQ(d, "");
  EXPECT_EQ(StrCopy(d, 0, "x"), -1);
  EXPECT_EQ(StrCopy(d, sizeof(d), "ab"), 0);
  EXPECT_EQ(StrCat(d, sizeof(d), "cd"), 0);
  EXPECT_STREQ(d, "abcd");
  EXPECT_EQ(StrCat(d, sizeof(d), kHyo), -1);
  EXPECT_STREQ(d, "abcd");
  char full[3] = {'a', 'b', 'c'};  // not terminated within its size
  EXPECT_EQ(StrCat(full, sizeof(full), "x"), -1);
  EXPECT_EQ(full[2], 'c');
}

TEST(StrUtil, CopyAgreesWithTheWholeCharacterRule) {
  // Reference: whole characters (a lead byte with a byte after it is two) while they fit before
  // the terminator; -1 when one was left out.
  const char pieces[][3] = {"a", "\\", "\x95\x5C", "\x83", "z9"};
  for (uint32_t seed = 1; seed <= 400; ++seed) {
    std::mt19937 rng(seed);
    std::string src;
    for (uint32_t i = rng() % 12; i > 0; --i) src += pieces[rng() % 5];
    const size_t size = 1 + rng() % 16;
    std::string expected;
    size_t at = 0;
    while (at < src.size()) {
      const unsigned char c = static_cast<unsigned char>(src[at]);
      const size_t n = ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && at + 1 < src.size() ? 2 : 1;
      if (expected.size() + n > size - 1) break;
      expected.append(src, at, n);
      at += n;
    }
    char dest[20];
    std::memset(dest, '#', sizeof(dest));
    EXPECT_EQ(StrCopy(dest, size, src.c_str()), at == src.size() ? 0 : -1) << seed;
    EXPECT_EQ(std::string(dest), expected) << seed;
    EXPECT_EQ(dest[size], '#') << seed;  // nothing written past the size
  }
}

TEST(StrUtil, ComparesAndSearchesStepOverDoubleByteCharacters) {
  EXPECT_EQ(StrCompare("ab", "abc"), 1);
  EXPECT_EQ(StrICompare("Model.MV1", "model.mv1"), 0);
  EXPECT_EQ(StrICompare("a[", "A{"), 1);
  EXPECT_EQ(StrICompare(S(kA).c_str(), S(kDi).c_str()), 1);  // trail "A" is not the letter A
  EXPECT_EQ(StrICompare(S("x", kA).c_str(), S("X", kA).c_str()), 0);
  EXPECT_EQ(StrNCompare("abcX", "abcY", 3), 0);
  EXPECT_EQ(StrNCompare("abcX", "abcY", 4), 1);
  EXPECT_EQ(StrNCompare("ab", "ab", 10), 0);

  std::string s = S("x", kHyo, "\\y");
  const char* p = StrChrSjis(s.c_str(), '\\');
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p - s.c_str(), 3);  // the "\" after "表", not its trail byte
  EXPECT_EQ(StrChrSjis(S("x", kHyo).c_str(), '\\'), nullptr);
  EXPECT_EQ(StrChrSjis(S(kA).c_str(), 'A'), nullptr);
  const char* t = "a/b/c";
  EXPECT_EQ(StrRChrSjis(t, '/'), t + 3);
  EXPECT_EQ(StrChrSjis(t, 0), t + 5);

  std::string hay = S(kDi, "a");  // 0x83 0x61 'a': "a" occurs at offset 1 inside "ヂ" and at 2
  EXPECT_EQ(StrStr(hay.c_str(), "a"), hay.c_str() + 2);
  EXPECT_EQ(StrStr(hay.c_str(), S(kDi).c_str()), hay.c_str());
  const char* abc = "abc";
  EXPECT_EQ(StrStr(abc, ""), abc);
  EXPECT_EQ(StrStr(abc, "cd"), nullptr);
  EXPECT_EQ(StrStr(abc, "bc"), abc + 1);

  EXPECT_EQ(SjisCharLength("\x95"), 1u);  // a lone lead byte before the terminator
  EXPECT_TRUE(IsLeadByte("\x81") && IsLeadByte("\x9F") && IsLeadByte("\xE0") && IsLeadByte("\xFC"));
  EXPECT_FALSE(IsLeadByte("\x80") || IsLeadByte("\xA0") || IsLeadByte("\xFD") || IsLeadByte("A"));
}

TEST(StrUtil, NumbersAndFormatting) {
  EXPECT_EQ(AsciiToInt("  x=-45;"), -45);
  EXPECT_EQ(AsciiToInt("-"), 0);
  EXPECT_EQ(AsciiToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(AsciiToInt("4294967297"), 1);  // wraps modulo 2^32
  EXPECT_EQ(AsciiToDouble(" -2.25e2xyz"), -225.0);
  EXPECT_EQ(AsciiToDouble("+.5"), 0.5);
  EXPECT_EQ(AsciiToDouble("abc"), 0.0);
  EXPECT_EQ(AsciiToDouble("--1"), 0.0);
  EXPECT_EQ(AsciiToDouble("1.2.3"), 1.2);
  EXPECT_EQ(AsciiToDouble("."), 0.0);
  EXPECT_EQ(AsciiToDoubleN("0.639216;", 9), 0.639216);
  // the plain decimal reader: where it stops, the wrapped integer, what it leaves to the general path
  const std::string plain[] = {"4294967297,", "-5 ", "+12.5;", "1e5", ".", "-", "12345678901234567890"};
  const long stops[] = {10, 2, 5, 1, -1, -1, -1};
  const uint32_t integers[] = {1, 0xFFFFFFFBu, 0, 1, 0, 0, 0};  // the point read only in case 2
  for (int i = 0; i < 7; ++i) {
    double v = 0;
    uint32_t n = 0;
    const char* t = plain[i].c_str();
    const char* stop = ReadPlainDecimal(t, t + plain[i].size(), i == 2, &v, &n);
    EXPECT_EQ(stop ? stop - t : -1, stops[i]) << plain[i];
    if (stop && i != 2) { EXPECT_EQ(n, integers[i]) << plain[i]; }
  }

  char b[8];
  EXPECT_EQ(FormatString(b, sizeof(b), "%d-%s", 42, "ab"), 0);
  EXPECT_STREQ(b, "42-ab");
  EXPECT_EQ(FormatString(b, sizeof(b), "%s", "abcdefghij"), 0);
  EXPECT_STREQ(b, "abcdefg");
  EXPECT_EQ(FormatString(b, sizeof(b), "abcdef%s", kHyo), 0);  // cut between "表"'s two bytes
  EXPECT_STREQ(b, "abcdef");
}

// Decimal texts of every length around the fast path's limits (19 digits, 2^53, 22 fraction
// digits, exponents, stray characters) convert exactly as strtod does.
TEST(StrUtil, AsciiToDoubleMatchesStrtod) {
  const char kChars[] = "0123456789.eE-+x;";
  for (uint32_t seed = 0; seed < 20000; ++seed) {
    std::mt19937 rng(seed);
    std::string text = rng() % 4 ? "" : (rng() % 2 ? "-" : "+");
    int digits = 1 + static_cast<int>(rng() % 24);
    for (int i = 0; i < digits; ++i) text += static_cast<char>('0' + rng() % 10);
    if (rng() % 4) text.insert(rng() % (text.size() + 1), ".");
    for (uint32_t i = rng() % 3; i > 0; --i) text += kChars[rng() % (sizeof kChars - 1)];
    if (seed % 7 == 0) text = "9007199254740993." + std::to_string(seed);  // just above 2^53
    std::string copy = text;
    double want = std::strtod(copy.c_str(), nullptr);
    double got = AsciiToDoubleN(text.data(), text.size());
    ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0) << "seed " << seed << ": " << text;
  }
}

// The plain decimal reader over random texts: it takes [+|-]digits[.digits] with 1 to 19 digits
// whose value is at most 2^53, stops right after them, and gives the correctly rounded value and
// the digits modulo 2^32 with the sign; anything else is refused.
TEST(StrUtil, PlainDecimalFollowsItsRule) {
  const char kChars[] = "0123456789.-+;x";
  for (int seed = 1; seed <= 3000; ++seed) {
    std::mt19937 rng(seed);
    std::string s;
    const int n = static_cast<int>(rng() % 26);
    for (int i = 0; i < n; ++i) s += rng() % 4 ? kChars[rng() % 10] : kChars[rng() % (sizeof(kChars) - 1)];
    const bool point = rng() % 2;
    // reference
    size_t p = 0;
    bool negative = false;
    if (p < s.size() && (s[p] == '-' || s[p] == '+')) negative = s[p++] == '-';
    std::string digits;
    while (p < s.size() && std::isdigit(static_cast<unsigned char>(s[p])) && digits.size() < 20) digits += s[p++];
    size_t fraction = 0;
    if (point && p < s.size() && s[p] == '.') {
      ++p;
      while (p < s.size() && std::isdigit(static_cast<unsigned char>(s[p])) && digits.size() < 20) digits += s[p++], ++fraction;
    }
    const bool ok = !digits.empty() && digits.size() <= 19 && std::stoull(digits) <= (uint64_t{1} << 53);
    double v = -7;
    uint32_t integer = 7;
    const char* stop = ReadPlainDecimal(s.data(), s.data() + s.size(), point, &v, &integer);
    ASSERT_EQ(stop != nullptr, ok) << s;
    if (!ok) continue;
    EXPECT_EQ(static_cast<size_t>(stop - s.data()), p) << s;
    std::string text = digits.substr(0, digits.size() - fraction) + "." + digits.substr(digits.size() - fraction);
    double expected = std::strtod(text.c_str(), nullptr);
    EXPECT_EQ(v, negative ? -expected : expected) << s;
    const uint32_t low = static_cast<uint32_t>(std::stoull(digits));
    EXPECT_EQ(integer, negative ? 0u - low : low) << s;
  }
}
