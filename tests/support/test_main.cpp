// The main of every test program: GoogleTest's, except that a run in which every selected test
// skipped (missing test data) returns 77, which ctest reports as skipped rather than passed. A
// failure always wins over skips.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
  if (result == 0 && unit.test_to_run_count() > 0 &&
      unit.skipped_test_count() == unit.test_to_run_count())
    return 77;
  return result;
}
