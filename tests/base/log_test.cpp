#include <qzlib/base/log.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// The text with the stamp (decimal milliseconds and a colon) taken off the start of each
// CR LF-ended line; a line without one, or text after the last CR LF, is marked.
std::string WithoutStamps(const std::string& text) {
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find("\r\n", at);
    if (end == std::string::npos) return out + "<unended: " + text.substr(at) + ">";
    size_t p = at;
    while (p < end && text[p] >= '0' && text[p] <= '9') ++p;
    if (p == at || p == end || text[p] != ':') return out + "<no stamp: " + text.substr(at, end - at) + ">";
    out += text.substr(p + 1, end + 2 - (p + 1));
    at = end + 2;
  }
  return out;
}

}  // namespace

TEST(Log, LinesCarryStampIndentAndCrLf) {
  LogCaptureBegin();
  EXPECT_EQ(WriteLog("one\ntwo "), -1);
  EXPECT_EQ(WriteLog("cont\n"), -1);
  AddLogIndent();
  AddLogIndent();
  EXPECT_EQ(WriteLogFmt("v=%d", 7), -1);
  SubLogIndent();
  SubLogIndent();
  SubLogIndent();  // never below 0
  WriteLog("end\n");
  EXPECT_EQ(WriteLog(nullptr), -1);
  std::string text = LogCaptureEnd();
  // a stamp (decimal milliseconds and a colon) only at the start of each line
  EXPECT_EQ(WithoutStamps(text), "one\r\ntwo cont\r\n\t\tv=7\r\nend\r\n") << text;
}

TEST(Log, FormattedLineIsCutToItsBufferThenEnded) {
  std::string longText(2000, 'x');
  LogCaptureBegin();
  WriteLogFmt("%s", longText.c_str());
  std::string plain = LogCaptureTextWithoutStamps();
  LogCaptureEnd();
  EXPECT_EQ(plain, std::string(1023, 'x') + "\r\n");
}

TEST(Log, FileIsRecreatedAndStaysInTheStartDirectory) {
  char start[4096];
  ASSERT_NE(getcwd(start, sizeof(start)), nullptr);
  { std::ofstream("Log.txt") << "old contents"; }
  LogInitialize();
  WriteLog("first\n");
  mkdir("logsub", 0755);
  ASSERT_EQ(chdir("logsub"), 0);
  WriteLog("second\n");
  ASSERT_EQ(chdir(start), 0);
  LogTerminate();
  WriteLog("after the end\n");
  std::string text = ReadFile(std::string(start) + "/Log.txt");
  EXPECT_EQ(WithoutStamps(text), "first\r\nsecond\r\n") << text;
  struct stat st;
  EXPECT_NE(stat("logsub/Log.txt", &st), 0);
  rmdir("logsub");
  std::remove("Log.txt");
}

TEST(Log, RandomTextsAgreeWithTheLineRule) {
  // Reference from the rule: the indentation (after the stamp) before the first character of each
  // line, "\n" written as CR LF, nothing added to a text that ends mid-line; WriteLogFmt's text is
  // cut at 1023 bytes and ends at an embedded zero, then a line feed follows.
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    uint32_t s = seed * 2654435761u;
    auto next = [&s](uint32_t n) {
      s = s * 1664525u + 1013904223u;
      return (s >> 8) % n;
    };
    for (int i = 0; i < 64; ++i) SubLogIndent();
    WriteLog("\n");  // at a line start, indentation 0
    std::string expected;
    bool lineStart = true;
    int indent = 0;
    auto expect = [&](const std::string& text) {
      for (char c : text) {
        if (lineStart) expected.append(size_t(indent), '\t');
        lineStart = c == '\n';
        expected += lineStart ? std::string("\r\n") : std::string(1, c);
      }
    };
    LogCaptureBegin();
    for (int call = 0; call < 12; ++call) {
      std::string text;
      const uint32_t length = next(4) == 0 ? 500 + next(600) : next(12);
      for (uint32_t i = 0; i < length; ++i) text += "ab\n\t\x83\x5C:9"[next(8)];
      switch (next(5)) {
        case 0: AddLogIndent(); ++indent; break;
        case 1: SubLogIndent(); if (indent > 0) --indent; break;
        case 2: {
          const char middle = next(2) ? '\0' : 'z';
          WriteLogFmt("%s%c%s", text.c_str(), middle, text.c_str());
          std::string formatted = (text + middle + text).substr(0, 1023);
          expect(std::string(formatted.c_str()) + "\n");
          break;
        }
        default: WriteLog(text.c_str()); expect(text); break;
      }
    }
    EXPECT_EQ(LogCaptureTextWithoutStamps(), expected) << "seed " << seed;
    LogCaptureEnd();
  }
}
