#include <qzlib/base/log.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
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
  std::regex line(R"(\d+:one\r\n\d+:two cont\r\n\d+:\t\tv=7\r\n\d+:end\r\n)");
  EXPECT_TRUE(std::regex_match(text, line)) << text;
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
  EXPECT_TRUE(std::regex_match(text, std::regex(R"(\d+:first\r\n\d+:second\r\n)"))) << text;
  struct stat st;
  EXPECT_NE(stat("logsub/Log.txt", &st), 0);
  rmdir("logsub");
  std::remove("Log.txt");
}
