// Feeds arbitrary bytes to the X reader of the model loader: parse, objects into the read model,
// conversion into a model base. A base that comes out must pass every invariant of the
// converted-base check and is deleted again; whatever the result, every tracked block must be
// given back.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/system/library.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/modelimport/x/xfile_model.h>
// The check has no test-framework dependency; it is compiled into the target.
#include "tests/support/converted_base_check.cpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // the engine in Direct3D mode over the stand-in device: the model system exists only then, and
  // textures become graphs
  SetGraphMode(640, 480, 32);
  SetUse3DFlag(1);
  if (InitLibrary() != 0) std::abort();
  MV1DeleteModelBase(MV1AddModelBaseHandle());  // the base table grows once, here
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t blocksBefore = MemLiveBlockCount();
  LogCaptureBegin();
  int handle = LoadXFileModel(data, size, "fuzz.x", "fuzz", ".");
  LogCaptureEnd();
  if (handle >= 0) {
    std::string report;
    if (CheckConvertedBase(ConvertedBase(handle), nullptr, false, &report) != 0) {
      std::fprintf(stderr, "%s", report.c_str());
      std::abort();
    }
    MV1DeleteModelBase(handle);
  } else if (handle != -1) {
    std::abort();
  }
  if (ModelBaseCount() != 0 || MemLiveBlockCount() != blocksBefore) std::abort();
  return 0;
}
