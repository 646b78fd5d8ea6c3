// The test data the benchmarks read (tests/data unless the build names another folder).
#pragma once
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// Path of a file or folder below the test data. A missing one ends the program with its name and
// status 1: a benchmark without its input would measure nothing.
inline std::string BenchDataPath(const std::string& relative) {
  std::string path = std::string(BENCH_TESTDATA_DIR) + "/" + relative;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    std::fprintf(stderr, "benchmark data file missing: %s\n", path.c_str());
    std::exit(1);
  }
  return path;
}
