// Using the engine: start it (software mode), make a graph from an image file (a generated one when
// the file cannot be read), draw it in two blend modes and a circle on the software screen, save
// the screen as a PNG and end the engine. Usage: qzlib_example_draw_and_save [image] [out.png];
// the image defaults to tests/data/images/png/basn6a08.png, as seen from the repository's root.
#include <iconv.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <qzlib/qzlib.h>

// The engine's log (Log.txt, and the capture) is Shift_JIS (CP932): print it as UTF-8.
static void PrintLog(const char* failedCall) {
  std::string in = LogCaptureEnd(), out(in.size() * 3 / 2 + 16, '\0');
  char *src = in.data(), *dst = out.data();
  size_t srcLeft = in.size(), dstLeft = out.size();
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd != (iconv_t)-1) iconv(cd, &src, &srcLeft, &dst, &dstLeft), iconv_close(cd);
  std::fprintf(stderr, "%s failed; the log says:\n%.*s\n", failedCall, int(dst - out.data()), out.data());
  LogCaptureBegin();
}

int main(int argc, char** argv) {
  const char* input = argc > 1 ? argv[1] : "tests/data/images/png/basn6a08.png";
  const char* output = argc > 2 ? argv[2] : "example.png";
  LogCaptureBegin();
  if (InitLibrary() != 0) return PrintLog("InitLibrary"), 1;

  size_t size = 0;
  void* bytes = FileReadAll(input, &size);
  int graph = bytes ? CreateGraphFromImageFile(bytes, size, 1, 0, 0, 0) : -1;
  MemFreeTracked(bytes);
  if (graph < 0) {  // no usable file: a 48 x 48 colour ramp instead
    if (bytes) PrintLog("CreateGraphFromImageFile");
    BASEIMAGE ramp{};
    if (CreateXRGB8ColorBaseImage(48, 48, &ramp) == 0) {
      for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x) SetPixelBaseImage(&ramp, x, y, x * 5, y * 5, 160, 255);
      graph = CreateGraphFromImageData(&ramp, nullptr, 1, 0, 1);
      ReleaseBaseImage(&ramp);
    }
  }
  // A graph's record lives until DeleteGraph: never keep the pointer beyond it.
  if (const GRAPH_RECORD* record = GetGraphRecord(graph)) {
    SetDrawBlendMode(BLENDMODE::NOBLEND, 255);
    MemImgDrawExtendGraph(20, 20, 180, 180, record, 1);
    SetDrawBlendMode(BLENDMODE::ADD, 160);
    MemImgDrawExtendGraph(100, 100, 260, 260, record, 1);
  }
  SetDrawBlendMode(BLENDMODE::ALPHA, 128);
  DrawCircle(400, 240, 100, GetColor(255, 200, 40), 1);
  SetDrawBlendMode(BLENDMODE::NOBLEND, 255);

  // The 32-bit software screen holds X8R8G8B8 rows, the layout of an XRGB8 BASEIMAGE.
  const MEMIMG* screen = GetSoftScreenMemImg();
  BASEIMAGE shot{};
  bool saved = screen && CreateXRGB8ColorBaseImage(screen->Width, screen->Height, &shot) == 0;
  for (int y = 0; saved && y < screen->Height; ++y)
    std::memcpy(static_cast<char*>(shot.GraphData) + y * shot.Pitch,
                screen->Pixels + y * screen->Base->Pitch, size_t(screen->Width) * 4);
  saved = saved && SaveBaseImageToPng(output, &shot, 6) == 0;
  if (!saved) PrintLog("SaveBaseImageToPng");
  ReleaseBaseImage(&shot);
  DeleteGraph(graph);
  EndLibrary();
  std::printf("%s: %s\n", output, saved ? "saved" : "NOT saved");
  return saved && graph >= 0 ? 0 : 1;
}
