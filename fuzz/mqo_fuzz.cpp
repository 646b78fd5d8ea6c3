// Loads the input as an MQO document through the reader and the converter. A loaded base must pass
// every invariant of the converted-base check on the read model the converter was given; a refusal
// must leave no base and no tracked block behind.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graphics.h>
#include <qzlib/system/library.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_readers.h>
#include "fuzz/fuzz_model_engine.h"
// The test helpers have no test-framework dependency; they are compiled into the target.
#include "tests/support/converted_base_check.cpp"
#include "tests/support/readmodel_builder.cpp"

namespace {

// The read model is gone once the reader returns, and the check needs it: the observer converts it
// itself (observing nothing meanwhile), checks the base, and stops the reader's own conversion.
int ConvertAndCheck(const ReadModel* rm, const char* folder, void*) {
  SetReadModelObserver(nullptr, nullptr);
  int handle = ConvertReadModelToModelBase(const_cast<ReadModel*>(rm), folder);
  SetReadModelObserver(ConvertAndCheck, nullptr);
  if (handle >= 0) {
    std::string report;
    if (CheckConvertedBase(ConvertedBase(handle), rm, true, &report) != 0) {
      std::fprintf(stderr, "%s\n%s", report.c_str(), DumpReadModel(rm).c_str());
      std::abort();
    }
    MV1DeleteModelBase(handle);
  }
  return 1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzStartModelEngine();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t blocksBefore = MemLiveBlockCount();
  const int basesBefore = ModelBaseCount();
  LogCaptureBegin();
  SetReadModelObserver(ConvertAndCheck, nullptr);
  int handle = LoadMqoModel(data, size, "fuzz.mqo", "fuzz", "fuzz");
  SetReadModelObserver(nullptr, nullptr);
  if (handle >= 0) std::abort();  // the observer stops every conversion
  LogCaptureEnd();
  if (ModelBaseCount() != basesBefore) std::abort();
  if (MemLiveBlockCount() != blocksBefore) std::abort();
  return 0;
}
