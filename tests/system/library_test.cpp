#include <qzlib/system/library.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include <qzlib/base/fatal_error.h>
#include <qzlib/base/log.h>
#include <qzlib/base/sysinfo.h>
#include <qzlib/file/file.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graphics.h>
#include <qzlib/soft/memimg.h>
#include "tests/support/test_support.h"

namespace {

std::string ReadLogFile() {
  std::ifstream f("Log.txt", std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

class LibraryTest : public LeakCheckedTest {
 protected:
  void TearDown() override {
    if (IsLibraryRunning()) EndLibrary();
    SetFatalErrorHook(nullptr);
    SetGraphMode(640, 480, 32);
    SetUse3DFlag(0);
    LeakCheckedTest::TearDown();
  }
};

struct FatalCalled : std::runtime_error {
  using std::runtime_error::runtime_error;
};
[[noreturn]] void ThrowingHook(const char* message) { throw FatalCalled(message); }

}  // namespace

TEST_F(LibraryTest, StartsInSoftwareModeAndEndsWithTheDump) {
  { std::ofstream("Log.txt") << "previous run"; }
  MmxUsableFlag = 7;
  ASSERT_EQ(InitLibrary(), 0);
  EXPECT_TRUE(IsLibraryRunning() == 1 && GetMmxFlag() == 1 && UseDirect3DFlag == 0);
  EXPECT_EQ(GetColorBitDepth(), 32);
  ASSERT_NE(SoftDrawTarget, nullptr);
  EXPECT_TRUE(SoftDrawTarget->Width == 640 && SoftDrawTarget->Height == 480);
  EXPECT_TRUE(DrawArea.right == 640 && DrawArea.bottom == 480);
  EXPECT_EQ(InitLibrary(), -1);   // already running
  EXPECT_EQ(SetUse3DFlag(1), -1);  // refused while running

  void* held = MemAllocTracked(24, "qzlib/soft/still_held.cpp", 77);
  ASSERT_EQ(EndLibrary(), 0);
  EXPECT_EQ(EndLibrary(), -1);
  EXPECT_EQ(SoftDrawTarget, nullptr);
  std::string log = ReadLogFile();
  EXPECT_EQ(log.find("previous run"), std::string::npos);  // the log was re-created
  EXPECT_NE(log.find("still_held.cpp(   77)"), std::string::npos) << log;
  MemFreeTracked(held);
}

TEST_F(LibraryTest, SixteenBitScreenOnRequest) {
  SetGraphMode(320, 200, 16);
  ASSERT_EQ(InitLibrary(), 0);
  EXPECT_EQ(GetColorBitDepth(), 16);
  ASSERT_NE(SoftDrawTarget, nullptr);
  EXPECT_EQ(SoftDrawTarget->Base->Format, MEMIMG_FORMAT_565);
  EXPECT_EQ(SoftDrawTarget->Width, 320);
  EXPECT_EQ(EndLibrary(), 0);
}

TEST_F(LibraryTest, EndReturnsToTheStartDirectory) {
  char start[4096], after[4096];
  ASSERT_NE(getcwd(start, sizeof(start)), nullptr);
  ASSERT_EQ(InitLibrary(), 0);
  ASSERT_EQ(FileSetCurrentDir(".."), 0);
  ASSERT_EQ(EndLibrary(), 0);
  ASSERT_NE(getcwd(after, sizeof(after)), nullptr);
  EXPECT_STREQ(after, start);
}

TEST_F(LibraryTest, FailedStartLeavesNothing) {
  int points = ForEachAllocationFailure([] {
    FatalErrorCatcher fatal;
    try {
      if (InitLibrary() != 0) return IsLibraryRunning() != 0;
    } catch (const FatalErrorThrown&) {
      // The default light's record: the engine ends there, as a real run would.
      TerminateGraphics();
      LogTerminate();
      return false;
    }
    EndLibrary();
    return true;
  });
  EXPECT_GT(points, 0);
}

TEST_F(LibraryTest, FatalErrorExitLogsEndsAndExits) {
  ASSERT_EQ(InitLibrary(), 0);
  SetFatalErrorHook(ThrowingHook);
  LogCaptureBegin();
  EXPECT_THROW(FatalErrorExit("fatal here"), FatalCalled);
  EXPECT_EQ(LogCaptureTextWithoutStamps(), "fatal here\r\n");
  LogCaptureEnd();
  SetFatalErrorHook(nullptr);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(FatalErrorExit("fatal for real"), ::testing::ExitedWithCode(255), "");
  EXPECT_EQ(IsLibraryRunning(), 1);  // the death happened in a child
  ASSERT_EQ(EndLibrary(), 0);
}

TEST_F(LibraryTest, StartDirectoryLongerThanAnyPathIsKept) {
  // 24 levels of 200-byte names: a start directory of more than 4,800 bytes, longer than any
  // path the system takes in one call.
  char outside[4096];
  ASSERT_NE(getcwd(outside, sizeof(outside)), nullptr);
  const std::string level(200, 'd');
  const int kLevels = 24;
  for (int i = 0; i < kLevels; ++i) {
    ASSERT_EQ(mkdir(level.c_str(), 0755), 0);
    ASSERT_EQ(chdir(level.c_str()), 0);
  }
  struct stat deep, now, logFile;
  ASSERT_EQ(stat(".", &deep), 0);
  ASSERT_EQ(InitLibrary(), 0);
  ASSERT_EQ(chdir("/"), 0);  // the program wanders off
  WriteLog("written from elsewhere\n");
  ASSERT_EQ(EndLibrary(), 0);
  ASSERT_EQ(stat(".", &now), 0);
  EXPECT_TRUE(now.st_ino == deep.st_ino && now.st_dev == deep.st_dev)
      << "EndLibrary did not return to the start directory";
  // The log was written in the start directory throughout, not relative to the current one.
  ASSERT_EQ(stat("Log.txt", &logFile), 0);
  EXPECT_NE(ReadLogFile().find("written from elsewhere"), std::string::npos);
  struct stat stray;
  EXPECT_NE(stat("/Log.txt", &stray), 0);
  // Climb out from wherever EndLibrary left us and remove the levels.
  std::remove("Log.txt");
  for (int i = 0; i < kLevels; ++i) {
    ASSERT_EQ(chdir(".."), 0);
    EXPECT_EQ(rmdir(level.c_str()), 0);
  }
  ASSERT_EQ(chdir(outside), 0);
}
