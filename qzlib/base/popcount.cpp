#include <qzlib/base/popcount.h>

namespace {
int DetectPopcnt() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("popcnt") ? 1 : 0;
}
}  // namespace

int CpuHasPopcnt = DetectPopcnt();
