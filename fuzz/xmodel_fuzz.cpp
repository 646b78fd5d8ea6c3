// Feeds arbitrary bytes to the X reader of the model loader: parse, objects into the read model,
// conversion. Whatever the result, every tracked block must be given back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "engine/base/log.h"
#include "engine/base/memory.h"
#include "engine/modelimport/x/xfile_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t blocksBefore = MemLiveBlockCount();
  LogCaptureBegin();
  int handle = LoadXFileModel(data, size, "fuzz.x", "fuzz", ".");
  LogCaptureEnd();
  if (handle >= 0) std::abort();  // no model system is started here: no base can be made
  if (MemLiveBlockCount() != blocksBefore) std::abort();
  return 0;
}
