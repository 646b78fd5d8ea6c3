// Conversion of a read model into a model base.
#include "engine/base/log.h"
#include "engine/modelimport/readmodel.h"

namespace {
ReadModelObserver g_observer = nullptr;
void* g_observerUser = nullptr;
}  // namespace

void SetReadModelObserver(ReadModelObserver observer, void* user) {
  g_observer = observer;
  g_observerUser = user;
}

int ConvertReadModelToModelBase(ReadModel* rm, const char* folder) {
  if (g_observer && g_observer(rm, folder, g_observerUser) != 0) return -1;
  WriteLog("Read Model Convert Error : model bases cannot be built yet\n");
  return -1;
}
