// The main of every test program: GoogleTest's, with two additions.
// - The program works in a temporary folder of its own, and each test in a fresh one below it
//   (TempWorkFolder), so that a run from any folder leaves nothing behind, the engine's Log.txt
//   included. A death test's child process (re-started in the program's first directory) goes
//   to the folder of its test, named in ENGINE_TEST_FOLDER.
// - A run in which any test skipped returns 77, which ctest's summary reports as skipped rather
//   than passed, and the program's output ends with each skipped test and its reason. No test
//   skips for want of a data file (a missing one fails). A failure always wins over skips.
// - With ENGINE_SHRINK_MOVES=1 in the environment, every shrink of a tracked block moves it
//   (MemSetShrinkMoves), as under a C library that moves shrinking blocks; ctest runs some
//   programs a second time so (the <program>_shrink_moves entries).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "tests/support/test_support.h"

namespace {

constexpr char kFolderVariable[] = "ENGINE_TEST_FOLDER";

class FreshFolderPerTest : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    folder_ = std::make_unique<TempWorkFolder>();
    setenv(kFolderVariable, folder_->Path().c_str(), 1);
  }
  void OnTestEnd(const ::testing::TestInfo&) override {
    unsetenv(kFolderVariable);
    folder_.reset();
  }
  std::unique_ptr<TempWorkFolder> folder_;
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const char* shrinkMoves = std::getenv("ENGINE_SHRINK_MOVES");
  if (shrinkMoves && std::strcmp(shrinkMoves, "1") == 0) MemSetShrinkMoves(true);
  if (!GTEST_FLAG_GET(internal_run_death_test).empty()) {
    const char* folder = std::getenv(kFolderVariable);
    if (!folder || chdir(folder) != 0) return 1;
    return RUN_ALL_TESTS();
  }
  int result;
  const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
  {
    TempWorkFolder program;
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshFolderPerTest);
    result = RUN_ALL_TESTS();
  }
  if (result != 0 || unit.skipped_test_count() == 0) return result;
  for (int s = 0; s < unit.total_test_suite_count(); ++s) {
    const ::testing::TestSuite& suite = *unit.GetTestSuite(s);
    for (int t = 0; t < suite.total_test_count(); ++t) {
      const ::testing::TestInfo& info = *suite.GetTestInfo(t);
      const ::testing::TestResult& r = *info.result();
      if (!r.Skipped()) continue;
      std::printf("skipped: %s.%s:", suite.name(), info.name());
      for (int p = 0; p < r.total_part_count(); ++p)
        if (r.GetTestPartResult(p).skipped()) std::printf(" %s", r.GetTestPartResult(p).message());
      std::printf("\n");
    }
  }
  return 77;
}
