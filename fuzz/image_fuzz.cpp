// Feeds arbitrary bytes to the image reader table. Whatever is accepted must be readable in its
// pixels and convertible to X8R8G8B8; whatever is refused must leave no tracked block behind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/image/baseimage.h>
#include <qzlib/image/pixel_codec.h>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Images up to 4 MB: beyond that a few bytes of run-length data spend the run on clearing
  // fresh pages instead of exercising the readers; larger sizes still meet the refusal path.
  SetImageMemoryLimit(4u << 20);
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
  // Every pixel of a small image is read back; of a large one (a few bytes of run-length data may
  // describe tens of millions of pixels) the edges and an even grid of about kSamples pixels, so
  // that the time goes to the reader, not to this check. Conversion covers the top-left window.
  constexpr uint64_t kSamples = 1u << 12;
  constexpr int kWindow = 64;
  const uint64_t area = static_cast<uint64_t>(img.Width) * img.Height;
  int step = 1;
  while (area / (static_cast<uint64_t>(step) * step) > kSamples) step *= 2;
  uint64_t sum = 0;
  auto check = [&](int x, int y) {
    int cr, cg, cb, ca;
    if (GetPixelBaseImage(&img, x, y, &cr, &cg, &cb, &ca) != 0) std::abort();
    sum += static_cast<uint32_t>(cr + cg + cb + ca);
  };
  for (int y = 0; y < img.Height; y += step)
    for (int x = 0; x < img.Width; x += step) check(x, y);
  if (step > 1) {
    for (int x = 0; x < img.Width; ++x) check(x, img.Height - 1);
    for (int y = 0; y < img.Height; ++y) check(img.Width - 1, y);
  }
  const int cw = img.Width < kWindow ? img.Width : kWindow;
  const int ch = img.Height < kWindow ? img.Height : kWindow;
  BASEIMAGE xrgb;
  if (CreateXRGB8ColorBaseImage(cw, ch, &xrgb) == 0) {
    RECT window = {0, 0, cw, ch};
    if (BltConvertPixelFormat(xrgb.GraphData, xrgb.Pitch, &xrgb.ColorData, img.GraphData, img.Pitch,
                              &img.ColorData, nullptr, 0, nullptr, 0, 0, &window, 0, 0, 0, 0, 0, 0,
                              0, 0, img.Width, img.Height, xrgb.Width, xrgb.Height) < 0)
      std::abort();
    ReleaseBaseImage(&xrgb);
  }
  ReleaseBaseImage(&img);
  if (MemLiveBlockCount() != blocksBefore) std::abort();
  return sum == 0xFFFFFFFFFFFFFFFFull ? 1 : 0;
}
