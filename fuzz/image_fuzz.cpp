// Feeds arbitrary bytes to the image reader table. Whatever is accepted must be readable in every
// pixel and convertible to X8R8G8B8; whatever is refused must leave no tracked block behind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/base/log.h"
#include "engine/base/memory.h"
#include "engine/image/baseimage.h"
#include "engine/image/pixel_codec.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // keep hostile sizes within the fuzzer's memory budget
  SetImageMemoryLimit(64u << 20);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t blocksBefore = MemLiveBlockCount();
  LogCaptureBegin();
  BASEIMAGE img;
  int r = CreateBaseImageToMem(nullptr, data, size, 1, &img, 0);
  LogCaptureEnd();
  if (r != 0) {
    if (r != -1 || img.GraphData != nullptr || MemLiveBlockCount() != blocksBefore) std::abort();
    return 0;
  }
  if (img.Width <= 0 || img.Height <= 0 || img.Width > 32768 || img.Height > 32768) std::abort();
  uint64_t sum = 0;
  for (int y = 0; y < img.Height; ++y) {
    for (int x = 0; x < img.Width; ++x) {
      int cr, cg, cb, ca;
      if (GetPixelBaseImage(&img, x, y, &cr, &cg, &cb, &ca) != 0) std::abort();
      sum += static_cast<uint32_t>(cr + cg + cb + ca);
    }
  }
  BASEIMAGE xrgb;
  if (CreateXRGB8ColorBaseImage(img.Width, img.Height, &xrgb) == 0) {
    RECT all = {0, 0, img.Width, img.Height};
    if (BltConvertPixelFormat(xrgb.GraphData, xrgb.Pitch, &xrgb.ColorData, img.GraphData, img.Pitch,
                              &img.ColorData, nullptr, 0, nullptr, 0, 0, &all, 0, 0, 0, 0, 0, 0, 0,
                              0, img.Width, img.Height, xrgb.Width, xrgb.Height) < 0)
      std::abort();
    ReleaseBaseImage(&xrgb);
  }
  ReleaseBaseImage(&img);
  if (MemLiveBlockCount() != blocksBefore) std::abort();
  return sum == 0xFFFFFFFFFFFFFFFFull ? 1 : 0;
}
