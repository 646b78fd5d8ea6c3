// Builds wild read models from the input (counts, indices, weights, key sets, shapes and frame
// trees through the read model's own operations) and converts them. A converted base must pass
// every invariant of the converted-base check; a refusal must leave no base and, once the read
// model is gone, no tracked block behind.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graphics.h>
#include <qzlib/system/library.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_handles.h>
#include "fuzz/fuzz_model_engine.h"
// The test helpers have no test-framework dependency; they are compiled into the target.
#include "tests/support/converted_base_check.cpp"
#include "tests/support/readmodel_builder.cpp"
#include "tests/support/readmodel_random.cpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzStartModelEngine();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t blocksBefore = MemLiveBlockCount();
  const int basesBefore = ModelBaseCount();
  LogCaptureBegin();
  {
    OwnedReadModel rm;
    BuildReadModelFromBytes(rm.get(), data, size);
    int handle = ConvertReadModelToModelBase(rm.get(), "fuzz");
    if (handle >= 0) {
      std::string report;
      if (CheckConvertedBase(ConvertedBase(handle), rm.get(), false, &report) != 0) {
        std::fprintf(stderr, "%s", report.c_str());
        std::abort();
      }
      MV1DeleteModelBase(handle);
    }
    if (ModelBaseCount() != basesBefore) std::abort();
  }
  LogCaptureEnd();
  if (MemLiveBlockCount() != blocksBefore) std::abort();
  return 0;
}
