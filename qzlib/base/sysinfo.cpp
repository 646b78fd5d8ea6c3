#include <qzlib/base/sysinfo.h>

#include <sys/utsname.h>
#include <unistd.h>

#include <qzlib/base/log.h>

int MmxUsableFlag = 1;

int GetMmxFlag() { return MmxUsableFlag; }

void WriteSystemInfoToLog() {
  __builtin_cpu_init();
  MmxUsableFlag = __builtin_cpu_supports("mmx") ? 1 : 0;
  struct utsname name;
  if (uname(&name) == 0) WriteLogFmt("OS: %s %s %s", name.sysname, name.release, name.machine);
  WriteLogFmt("CPU: MMX %s, SSE2 %s, AVX2 %s, %ld processors", MmxUsableFlag ? "yes" : "no",
              __builtin_cpu_supports("sse2") ? "yes" : "no",
              __builtin_cpu_supports("avx2") ? "yes" : "no", sysconf(_SC_NPROCESSORS_ONLN));
}
