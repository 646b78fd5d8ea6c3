// Decoding a 1024x1024 PNG and JPEG, written by the engine's own writers from a generated
// picture: the engine's reader table against the libraries' bare decode of the same bytes into
// the same pixel layout. The difference is the engine's overhead (format checks, allocation).
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <qzlib/image/baseimage.h>

namespace {

constexpr int kSide = 1024;

std::vector<uint8_t> WriteAndRead(bool png) {
  BASEIMAGE img;
  if (CreateXRGB8ColorBaseImage(kSide, kSide, &img) != 0) std::abort();
  uint32_t noise = 12345;
  for (int y = 0; y < kSide; ++y) {
    uint8_t* row = static_cast<uint8_t*>(img.GraphData) + static_cast<size_t>(y) * img.Pitch;
    for (int x = 0; x < kSide; ++x) {
      noise = noise * 1664525u + 1013904223u;
      int n = static_cast<int>((noise >> 28) & 7);
      row[4 * x + 0] = static_cast<uint8_t>((x ^ y) / 4 + n);
      row[4 * x + 1] = static_cast<uint8_t>(y / 4 + n);
      row[4 * x + 2] = static_cast<uint8_t>(x / 4 + ((x / 64 + y / 64) & 1) * 40);
      row[4 * x + 3] = 0;
    }
  }
  const std::string path = png ? "image_bench_picture.png" : "image_bench_picture.jpg";
  int r = png ? SaveBaseImageToPng(path.c_str(), &img, 6) : SaveBaseImageToJpeg(path.c_str(), &img, 90);
  ReleaseBaseImage(&img);
  if (r != 0) std::abort();
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(path.c_str());
  return bytes;
}

const std::vector<uint8_t>& PngFile() {
  static const std::vector<uint8_t> file = WriteAndRead(true);
  return file;
}
const std::vector<uint8_t>& JpegFile() {
  static const std::vector<uint8_t> file = WriteAndRead(false);
  return file;
}

void EngineDecode(benchmark::State& state, const std::vector<uint8_t>& file) {
  for (auto _ : state) {
    BASEIMAGE img;
    if (CreateBaseImageToMem(nullptr, file.data(), file.size(), 1, &img, 0) != 0) std::abort();
    benchmark::DoNotOptimize(img.GraphData);
    ReleaseBaseImage(&img);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSide * kSide * 3);
}

void BM_PngDecodeEngine(benchmark::State& state) { EngineDecode(state, PngFile()); }
void BM_JpegDecodeEngine(benchmark::State& state) { EngineDecode(state, JpegFile()); }

// libpng alone: memory read callback, B, G, R rows into one plain buffer.
struct PngMem {
  const uint8_t* Data;
  size_t Pos;
};
void PngRead(png_structp png, png_bytep out, png_size_t n) {
  PngMem* m = static_cast<PngMem*>(png_get_io_ptr(png));
  std::memcpy(out, m->Data + m->Pos, n);
  m->Pos += n;
}

void BM_PngDecodeBare(benchmark::State& state) {
  const std::vector<uint8_t>& file = PngFile();
  for (auto _ : state) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    PngMem mem = {file.data(), 0};
    png_set_read_fn(png, &mem, PngRead);
    png_read_info(png, info);
    png_set_bgr(png);
    png_read_update_info(png, info);
    const size_t pitch = (png_get_rowbytes(png, info) + 3) & ~static_cast<size_t>(3);
    uint8_t* pixels = static_cast<uint8_t*>(std::malloc(pitch * kSide));
    std::vector<png_bytep> rows(kSide);
    for (int y = 0; y < kSide; ++y) rows[y] = pixels + pitch * y;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    benchmark::DoNotOptimize(pixels);
    std::free(pixels);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSide * kSide * 3);
}

// libjpeg alone: its own memory source, B, G, R rows into one plain buffer.
void BM_JpegDecodeBare(benchmark::State& state) {
  const std::vector<uint8_t>& file = JpegFile();
  for (auto _ : state) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    const size_t pitch = (static_cast<size_t>(cinfo.output_width) * 3 + 3) & ~static_cast<size_t>(3);
    uint8_t* pixels = static_cast<uint8_t*>(std::malloc(pitch * cinfo.output_height));
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW row = pixels + pitch * cinfo.output_scanline;
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    benchmark::DoNotOptimize(pixels);
    std::free(pixels);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSide * kSide * 3);
}

}  // namespace

BENCHMARK(BM_PngDecodeBare)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngDecodeEngine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegDecodeBare)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegDecodeEngine)->Unit(benchmark::kMillisecond);
