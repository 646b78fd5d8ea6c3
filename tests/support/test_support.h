// Shared test helpers.
#pragma once
#include <gtest/gtest.h>

#include <cstddef>
#include <stdexcept>
#include <string>

#include <qzlib/base/fatal_error.h>
#include <qzlib/base/memory.h>

// Fails the test when tracked memory holds a different number of blocks at its end than at its
// start, and turns off any pending allocation-failure hook.
class LeakCheckedTest : public ::testing::Test {
 protected:
  void SetUp() override { blocksAtStart_ = MemLiveBlockCount(); }
  void TearDown() override {
    MemSetFailAt(0);
    EXPECT_EQ(MemLiveBlockCount(), blocksAtStart_) << "tracked blocks leaked";
  }

 private:
  size_t blocksAtStart_ = 0;
};

// Path of a file below the shared test data, and whether that folder exists.
std::string TestDataPath(const std::string& relative);
bool TestDataAvailable();
#define SKIP_WITHOUT_TESTDATA() \
  do { if (!TestDataAvailable()) GTEST_SKIP() << "shared test data absent"; } while (0)

// Runs `attempt` with the nth allocation failing, for n = 1, 2, ... until an attempt completes
// without the hook firing. `attempt` returns true on success. Each failing attempt must leave no
// block behind. Returns the number of failure points exercised.
template <class F>
int ForEachAllocationFailure(F attempt) {
  int points = 0;
  for (long n = 1; n < 100000; ++n) {
    size_t before = MemLiveBlockCount();
    uint64_t attemptsBefore = MemAllocAttempts();
    MemSetFailAt(n);
    bool ok = attempt();
    uint64_t used = MemAllocAttempts() - attemptsBefore;
    MemSetFailAt(0);
    if (static_cast<long>(used) < n) {
      // the hook never fired: the whole path ran
      EXPECT_TRUE(ok) << "no failure injected, yet the attempt failed";
      return points;
    }
    ++points;
    EXPECT_FALSE(ok) << "allocation " << n << " failed, yet the attempt reported success";
    EXPECT_EQ(MemLiveBlockCount(), before) << "leak after failing allocation " << n;
  }
  return points;
}

// Thrown in place of ending the program while a FatalErrorCatcher lives.
struct FatalErrorThrown : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// While alive, FatalErrorExit writes its log line and throws FatalErrorThrown (the message).
// Inline, so that tests which do not use it need not link engine start.
class FatalErrorCatcher {
 public:
  FatalErrorCatcher() { SetFatalErrorHook(Throw); }
  ~FatalErrorCatcher() { SetFatalErrorHook(nullptr); }

 private:
  [[noreturn]] static void Throw(const char* message) {
    throw FatalErrorThrown(message ? message : "");
  }
};
