#include "tests/support/memory_files.h"

#include <algorithm>
#include <cstring>
#include <set>

#include <qzlib/base/memory.h>
#include <qzlib/file/file.h>
#include "tests/support/test_support.h"

namespace {

struct OpenFile {
  const std::vector<uint8_t>* data;
  int64_t pos;
};

MemoryFiles* g_files = nullptr;
std::set<FileHandle> g_handles;
FileFunctionTable g_table;

std::string Normal(std::string p) {
  std::replace(p.begin(), p.end(), '/', '\\');
  return p;
}

OpenFile* Mine(FileHandle h) { return g_handles.count(h) ? reinterpret_cast<OpenFile*>(h) : nullptr; }
const FileFunctionTable* Plain() { return GetPlainFileFunctionTable(); }

}  // namespace

struct MemoryFilesOps {
  static FileHandle Open(const char* path, int c, int b, int a) {
    g_files->requested.push_back(path);
    auto it = g_files->files_.find(Normal(path));
    if (it == g_files->files_.end()) return g_files->fallback_ ? Plain()->Open(path, c, b, a) : 0;
    auto* f = new OpenFile{&it->second, 0};
    FileHandle h = reinterpret_cast<FileHandle>(f);
    g_handles.insert(h);
    return h;
  }
  static int Close(FileHandle h) {
    OpenFile* f = Mine(h);
    if (!f) return Plain()->Close(h);
    g_handles.erase(h);
    delete f;
    return 0;
  }
  static int64_t Tell(FileHandle h) {
    OpenFile* f = Mine(h);
    return f ? f->pos : Plain()->Tell(h);
  }
  static int Seek(FileHandle h, int64_t offset, int origin) {
    OpenFile* f = Mine(h);
    if (!f) return Plain()->Seek(h, offset, origin);
    int64_t base = origin == 0 ? 0 : origin == 1 ? f->pos : origin == 2 ? static_cast<int64_t>(f->data->size()) : -1;
    if (base < 0 || base + offset < 0) return -1;
    f->pos = base + offset;
    return 0;
  }
  static size_t Read(void* buffer, size_t elementSize, size_t count, FileHandle h) {
    OpenFile* f = Mine(h);
    if (!f) return Plain()->Read(buffer, elementSize, count, h);
    int64_t size = static_cast<int64_t>(f->data->size());
    if (elementSize == 0 || f->pos >= size) return 0;
    size_t left = static_cast<size_t>(size - f->pos);
    size_t whole = std::min(count, left / elementSize);
    size_t bytes = std::min(left, count * elementSize);
    std::memcpy(buffer, f->data->data() + f->pos, bytes);
    f->pos += static_cast<int64_t>(bytes);
    return whole;
  }
  static int Eof(FileHandle h) {
    OpenFile* f = Mine(h);
    return f ? (f->pos >= static_cast<int64_t>(f->data->size()) ? 1 : 0) : Plain()->Eof(h);
  }
  static int IdleCheck(FileHandle h) { return Mine(h) ? 1 : Plain()->IdleCheck(h); }
};

MemoryFiles::MemoryFiles(bool plainFallback) : fallback_(plainFallback) {
  g_files = this;
  g_table = *GetPlainFileFunctionTable();
  g_table.Open = MemoryFilesOps::Open;
  g_table.Close = MemoryFilesOps::Close;
  g_table.Tell = MemoryFilesOps::Tell;
  g_table.Seek = MemoryFilesOps::Seek;
  g_table.Read = MemoryFilesOps::Read;
  g_table.Eof = MemoryFilesOps::Eof;
  g_table.IdleCheck = MemoryFilesOps::IdleCheck;
  SetFileFunctionTable(&g_table);
}

MemoryFiles::~MemoryFiles() {
  SetFileFunctionTable(nullptr);
  g_files = nullptr;
}

void MemoryFiles::Add(const std::string& path, std::vector<uint8_t> bytes) { files_[Normal(path)] = std::move(bytes); }

std::string JoinEnginePath(const std::string& folder, const std::string& name) { return folder + "\\" + name; }

std::vector<uint8_t> ReadTestDataBytes(const std::string& relative) {
  size_t size = 0;
  void* data = FileReadAll(TestDataPath(relative).c_str(), &size);
  std::vector<uint8_t> out;
  if (data) out.assign(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
  MemFreeTracked(data);
  return out;
}
