// Shared test helpers.
#pragma once
#include <gtest/gtest.h>

#include <cstddef>
#include <stdexcept>
#include <string>

#include <qzlib/base/fatal_error.h>
#include <qzlib/base/memory.h>
#include <qzlib/modelimport/readmodel_work.h>

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

// Path of a file or folder below the test data (tests/data unless the build names another
// folder). A path that does not exist fails the running test with its name; the path is returned
// all the same.
std::string TestDataPath(const std::string& relative);

// While alive, a fresh folder below the system's temporary folder ($TMPDIR, else /tmp) is the
// current directory, so that whatever is written by a relative name, the log of an engine
// started meanwhile included, lands there. The end returns to the previous current directory and
// removes the folder with everything in it. Every test of a program runs in one of its own
// (tests/support/test_main.cpp).
class TempWorkFolder {
 public:
  TempWorkFolder();
  ~TempWorkFolder();
  TempWorkFolder(const TempWorkFolder&) = delete;
  TempWorkFolder& operator=(const TempWorkFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  int previous_ = -1;  // the previous current directory, held open
};

// Sets whether the read model's small requests share blocks for its lifetime, then restores it.
class ScopedBlockSharing {
 public:
  explicit ScopedBlockSharing(bool on) : old_(ReadModelBlockSharing()) { ReadModelBlockSharing() = on; }
  ~ScopedBlockSharing() { ReadModelBlockSharing() = old_; }
  ScopedBlockSharing(const ScopedBlockSharing&) = delete;
  ScopedBlockSharing& operator=(const ScopedBlockSharing&) = delete;

 private:
  bool old_;
};

// Sets whether every shrink of a tracked block moves it for its lifetime, then restores it.
class ScopedShrinkMoves {
 public:
  explicit ScopedShrinkMoves(bool on) : old_(MemSetShrinkMoves(on)) {}
  ~ScopedShrinkMoves() { MemSetShrinkMoves(old_); }
  ScopedShrinkMoves(const ScopedShrinkMoves&) = delete;
  ScopedShrinkMoves& operator=(const ScopedShrinkMoves&) = delete;

 private:
  bool old_;
};

// Runs `attempt` with the nth allocation failing, for n = 1, 2, ... until an attempt completes
// without the hook firing. `attempt` returns true on success. Each failing attempt must leave no
// block behind. Returns the number of failure points exercised. The read model's requests take a
// block each meanwhile, so that each is a failure point.
template <class F>
int ForEachAllocationFailure(F attempt) {
  ScopedBlockSharing eachRequestABlock(false);
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
