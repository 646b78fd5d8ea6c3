// Feeds arbitrary bytes to the model texture decoder as colour and alpha data. The first bytes
// choose: byte 0 bit 0 the bump flag, byte 1 the bump scale (byte / 16), byte 2 bit 0 whether an
// alpha part is split off (at byte 3 / 256 of the input); the bytes stay part of the colour data,
// so that seed images keep their headers. Whatever succeeds must give power-of-two images of one
// size; every input must leave tracked memory as it found it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/image/baseimage.h>
#include <qzlib/image/pixel_codec.h>
#include <qzlib/model/model_texture.h>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetImageMemoryLimit(4u << 20);  // as the image reader target sets it
  return 0;
}

namespace {
bool PowerOfTwo(int v) { return v > 0 && (v & (v - 1)) == 0; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const size_t blocksBefore = MemLiveBlockCount();
  const int bump = data[0] & 1;
  const float scale = static_cast<float>(data[1]) / 16.0f;
  size_t colorSize = size;
  const uint8_t* alpha = nullptr;
  size_t alphaSize = 0;
  if (data[2] & 1) {
    colorSize = size * data[3] / 256;
    alpha = data + colorSize;
    alphaSize = size - colorSize;
  }
  LogCaptureBegin();
  BASEIMAGE color, alphaImage;
  int r = MV1LoadTextureFiles(&color, &alphaImage, colorSize ? data : nullptr,
                              static_cast<int>(colorSize), alpha, static_cast<int>(alphaSize),
                              bump, scale);
  LogCaptureEnd();
  if (r == 0) {
    if (!PowerOfTwo(color.Width) || !PowerOfTwo(color.Height)) std::abort();
    if (alpha && (alphaImage.Width != color.Width || alphaImage.Height != color.Height)) std::abort();
    int cr, cg, cb, ca;
    if (GetPixelBaseImage(&color, color.Width - 1, color.Height - 1, &cr, &cg, &cb, &ca) != 0)
      std::abort();
    ReleaseBaseImage(&color);
    ReleaseBaseImage(&alphaImage);
  } else if (r != -1 || color.GraphData || alphaImage.GraphData) {
    std::abort();
  }
  if (MemLiveBlockCount() != blocksBefore) std::abort();
  return 0;
}
