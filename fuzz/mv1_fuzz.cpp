// Feeds arbitrary bytes to the MV1 reader with the engine started in Direct3D mode over the
// stand-in device. Byte 0 chooses the form: bit 0 clear, the rest is the file; bit 0 set, the rest
// is the unpacked image after the magic, wrapped in a literal-only LZ block, so that mutations
// reach the image directly. Texture names resolve to missing files (the white fall-back). An
// accepted base is deleted; after every input tracked memory and the stand-in's live textures must
// be back where they were.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/system/library.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_readers.h>
#include <qzlib/platform/d3d_device.h>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetGraphMode(640, 480, 32);
  if (SetUse3DFlag(1) != 0 || InitLibrary() != 0) std::abort();
  // The base table grows on its first use and keeps its block: grow it before measuring.
  MV1DeleteModelBase(MV1AddModelBaseHandle());
  return 0;
}

namespace {

void Put32(std::vector<uint8_t>* b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::vector<uint8_t> file;
  if (data[0] & 1) {
    std::vector<uint8_t> stream;
    for (size_t i = 1; i < size; ++i) {
      stream.push_back(data[i]);
      if (data[i] == 0xFF) stream.push_back(0);
    }
    file = {'M', 'V', '1', '1'};
    Put32(&file, static_cast<uint32_t>(size - 1));
    Put32(&file, static_cast<uint32_t>(stream.size() + 9));
    file.push_back(0xFF);
    file.insert(file.end(), stream.begin(), stream.end());
  } else {
    file.assign(data + 1, data + size);
  }
  const size_t blocks = MemLiveBlockCount();
  const long textures = D3DLiveTextureCount();
  LogCaptureBegin();
  const int handle =
      LoadMV1ToModelBase(file.data(), file.size(), "fuzz.mv1", "fuzz", "/nonexistent/");
  LogCaptureEnd();
  if (handle >= 0 && MV1DeleteModelBase(handle) != 0) std::abort();
  if (MemLiveBlockCount() != blocks || D3DLiveTextureCount() != textures) std::abort();
  return 0;
}
