// The fatal-error exit on its own: the log line, the test hook, and the end function engine start
// registers (base knows nothing of what it ends).
#include <qzlib/base/fatal_error.h>

#include <cstdio>
#include <stdexcept>

#include <qzlib/base/log.h>
#include "tests/support/test_support.h"

namespace {

int g_endCalls = 0;

struct FatalCalled : std::runtime_error {
  using std::runtime_error::runtime_error;
};
[[noreturn]] void ThrowingHook(const char* message) { throw FatalCalled(message ? message : "(null)"); }

class FatalErrorTest : public LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    g_endCalls = 0;
  }
  void TearDown() override {
    SetFatalErrorHook(nullptr);
    SetFatalErrorEndFunction(nullptr);
    LeakCheckedTest::TearDown();
  }
};

}  // namespace

TEST_F(FatalErrorTest, HookTakesOverBeforeTheEngineEnds) {
  SetFatalErrorEndFunction([] { ++g_endCalls; });
  SetFatalErrorHook(ThrowingHook);
  LogCaptureBegin();
  EXPECT_THROW(FatalErrorExit("out of handles"), FatalCalled);
  EXPECT_THROW(FatalErrorExit(nullptr), FatalCalled);
  EXPECT_EQ(LogCaptureTextWithoutStamps(), "out of handles\r\n\r\n");
  LogCaptureEnd();
  EXPECT_EQ(g_endCalls, 0);
}

TEST_F(FatalErrorTest, EndsTheEngineThroughTheRegisteredFunctionThenExits) {
  SetFatalErrorEndFunction([] { std::fputs("engine ended\n", stderr); });
  EXPECT_EXIT(FatalErrorExit("fatal"), ::testing::ExitedWithCode(255), "engine ended");
  SetFatalErrorEndFunction(nullptr);
  EXPECT_EXIT(FatalErrorExit("fatal"), ::testing::ExitedWithCode(255), "");
  // An end that fails fatally in turn exits instead of coming back.
  SetFatalErrorEndFunction([] { FatalErrorExit("again"); });
  EXPECT_EXIT(FatalErrorExit("fatal"), ::testing::ExitedWithCode(255), "");
}
