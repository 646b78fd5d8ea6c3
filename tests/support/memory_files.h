// A caller-supplied file-function table for tests: serves named files from memory and, when
// asked, every other path from plain files.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// While alive, the installed file-function table. Paths are compared with "/" read as "\".
class MemoryFiles {
 public:
  explicit MemoryFiles(bool plainFallback = false);
  ~MemoryFiles();
  MemoryFiles(const MemoryFiles&) = delete;
  MemoryFiles& operator=(const MemoryFiles&) = delete;
  void Add(const std::string& path, std::vector<uint8_t> bytes);
  // Every path an open was asked for, in order.
  std::vector<std::string> requested;

 private:
  friend struct MemoryFilesOps;
  std::map<std::string, std::vector<uint8_t>> files_;
  bool fallback_;
};

// Path of a served file: folder and name joined with "\".
std::string JoinEnginePath(const std::string& folder, const std::string& name);

// The bytes of a file below the test data (read through the current file table), or nothing
// when it cannot be read (a missing file fails the test, as TestDataPath does).
std::vector<uint8_t> ReadTestDataBytes(const std::string& relative);
