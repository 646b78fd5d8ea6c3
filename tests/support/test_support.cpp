#include "tests/support/test_support.h"

#include <sys/stat.h>

std::string TestDataPath(const std::string& relative) {
  return std::string(TESTDATA_DIR) + "/" + relative;
}

bool TestDataAvailable() {
  struct stat st;
  return stat(TESTDATA_DIR, &st) == 0 && S_ISDIR(st.st_mode);
}
