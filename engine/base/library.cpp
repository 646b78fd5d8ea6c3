#include "engine/base/library.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "engine/base/log.h"
#include "engine/base/memory.h"
#include "engine/base/sysinfo.h"
#include "engine/file/file.h"
#include "engine/graphics/draw_state.h"
#include "engine/graphics/graphics.h"
#include "engine/model/model_handles.h"
#include "engine_texts.h"

namespace {

bool g_running = false;
int g_use3D = 0;
std::string g_startDir;
FatalErrorHook g_fatalHook = nullptr;

}  // namespace

int SetUse3DFlag(int flag) {
  if (g_running) return -1;
  g_use3D = flag ? 1 : 0;
  return 0;
}

int InitLibrary() {
  if (g_running) return -1;
  char cwd[4096];
  g_startDir = getcwd(cwd, sizeof(cwd)) ? cwd : "";
  SetFileFunctionTable(nullptr);
  LogInitialize();
  WriteSystemInfoToLog();
  UseDirect3DFlag = g_use3D;
  int width, height;
  GetDrawScreenSize(&width, &height);
  WriteLogFmt("Graphics: %s, %d x %d, %d bit", UseDirect3DFlag ? "Direct3D" : "software", width,
              height, GetColorBitDepth());
  if (InitGraphics() != 0) {
    WriteLog(TEXT_INIT_FAILED);
    WriteLog("\n");
    LogTerminate();
    return -1;
  }
  g_running = true;
  InitModelSystem();
  return 0;
}

int EndLibrary() {
  if (!g_running) return -1;
  g_running = false;
  MV1TerminateModelSystem();
  TerminateGraphics();
  if (!g_startDir.empty() && chdir(g_startDir.c_str()) != 0)
    WriteLogFmt("Cannot return to the start directory %s", g_startDir.c_str());
  MemDumpToLog();
  LogTerminate();
  return 0;
}

int IsLibraryRunning() { return g_running ? 1 : 0; }

void SetFatalErrorHook(FatalErrorHook hook) { g_fatalHook = hook; }

void FatalErrorExit(const char* message) {
  WriteLog(message ? message : "");
  WriteLog("\n");
  if (g_fatalHook) g_fatalHook(message);
  EndLibrary();
  std::exit(-1);
}
