#include <qzlib/system/library.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include <qzlib/base/fatal_error.h>
#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/base/sysinfo.h>
#include <qzlib/file/file.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graph.h>
#include <qzlib/graphics/graphics.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/modelimport/model_import_readers.h>
#include <qzlib/base/engine_texts.h>

namespace {

bool g_running = false;
int g_use3D = 0;
int g_startDir = -1;  // the start directory held open (its path may exceed any path limit)

}  // namespace

int SetUse3DFlag(int flag) {
  if (g_running) return -1;
  g_use3D = flag ? 1 : 0;
  return 0;
}

int InitLibrary() {
  if (g_running) return -1;
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
  SetDrawScreen(DX_SCREEN_BACK);
  SetDrawScreen(DX_SCREEN_FRONT);
  g_startDir = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  g_running = true;
  SetFatalErrorEndFunction([] { EndLibrary(); });
  InitModelSystem();
  RegisterModelImportReaders();
  return 0;
}

int EndLibrary() {
  if (!g_running) return -1;
  g_running = false;
  SetFatalErrorEndFunction(nullptr);
  MV1TerminateModelSystem();
  TerminateGraphics();
  if (g_startDir >= 0) {
    if (fchdir(g_startDir) != 0) WriteLog("Cannot return to the start directory\n");
    close(g_startDir);
    g_startDir = -1;
  }
  MemDumpToLog();
  LogTerminate();
  return 0;
}

int IsLibraryRunning() { return g_running ? 1 : 0; }
