#include <qzlib/base/fatal_error.h>

#include <cstdlib>

#include <qzlib/base/log.h>

namespace {

FatalErrorHook g_fatalHook = nullptr;
FatalErrorEndFunction g_endFunction = nullptr;

}  // namespace

void SetFatalErrorHook(FatalErrorHook hook) { g_fatalHook = hook; }

void SetFatalErrorEndFunction(FatalErrorEndFunction end) { g_endFunction = end; }

void FatalErrorExit(const char* message) {
  WriteLog(message ? message : "");
  WriteLog("\n");
  if (g_fatalHook) g_fatalHook(message);
  if (FatalErrorEndFunction end = g_endFunction) {
    g_endFunction = nullptr;  // an end that fails fatally in turn must not come back here
    end();
  }
  std::exit(-1);
}
