// Feeds arbitrary bytes to LoadPmdModel, with the model system started so that what the reader
// admits goes through the converter into a model base (deleted again). The bytes after the
// model's morphs (where real files keep their extension data) are served as its first motion
// "f\f000.vmd" through a caller-supplied file-function table, so that inputs carry a model and a
// motion.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <qzlib/file/file.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/system/library.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/modelimport/pmd/pmd_file.h>
#include <qzlib/modelimport/pmd/pmd_reader.h>

namespace {

struct Served {
  const uint8_t* data = nullptr;
  size_t size = 0;
  int64_t pos = 0;
  bool open = false;
} g_motion;

FileHandle Open(const char* path, int, int, int) {
  if (std::strcmp(path, "f\\f000.vmd") != 0 || !g_motion.data || g_motion.open) return 0;
  g_motion.open = true;
  g_motion.pos = 0;
  return reinterpret_cast<FileHandle>(&g_motion);
}
int Close(FileHandle) {
  g_motion.open = false;
  return 0;
}
int64_t Tell(FileHandle) { return g_motion.pos; }
int Seek(FileHandle, int64_t offset, int origin) {
  int64_t base = origin == 0 ? 0 : origin == 1 ? g_motion.pos : static_cast<int64_t>(g_motion.size);
  if (base + offset < 0) return -1;
  g_motion.pos = base + offset;
  return 0;
}
size_t Read(void* buffer, size_t elementSize, size_t count, FileHandle) {
  int64_t left = static_cast<int64_t>(g_motion.size) - g_motion.pos;
  if (elementSize == 0 || left <= 0) return 0;
  size_t bytes = count * elementSize < static_cast<size_t>(left) ? count * elementSize : static_cast<size_t>(left);
  std::memcpy(buffer, g_motion.data + g_motion.pos, bytes);
  g_motion.pos += static_cast<int64_t>(bytes);
  return bytes / elementSize;
}
int Eof(FileHandle) { return g_motion.pos >= static_cast<int64_t>(g_motion.size); }
int Idle(FileHandle) { return 1; }

// Where the morphs of a parsed file end.
size_t ModelEnd(const PmdFile& f) {
  const uint8_t* p = f.morphs;
  for (uint32_t i = 0; i < f.morphCount; ++i) {
    PmdMorph m;
    PmdReadMorph(p, &m);
    p = m.next;
  }
  return static_cast<size_t>(p - f.image);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // the engine in Direct3D mode over the stand-in device, started once: the model system exists
  // only then, and textures become graphs
  static int started = [] {
    SetGraphMode(640, 480, 32);
    SetUse3DFlag(1);
    if (InitLibrary() != 0) std::abort();
    return 0;
  }();
  (void)started;
  static FileFunctionTable table = [] {
    FileFunctionTable t = *GetPlainFileFunctionTable();
    t.Open = Open;
    t.Close = Close;
    t.Tell = Tell;
    t.Seek = Seek;
    t.Read = Read;
    t.Eof = Eof;
    t.IdleCheck = Idle;
    return t;
  }();
  SetFileFunctionTable(&table);
  PmdFile f;
  g_motion = Served{};
  if (ParsePmdFile(data, size, &f) == 0) {
    size_t end = ModelEnd(f);
    g_motion.data = data + end;
    g_motion.size = size - end;
  }
  int base = LoadPmdModel(data, size, "f\\f.pmd", "f", "f");
  if (base >= 0) MV1DeleteModelBase(base);
  return 0;
}
