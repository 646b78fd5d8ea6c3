#include <qzlib/file/stream.h>

#include <cstring>

#include <qzlib/file/file.h>

namespace {

FileHandle AsHandle(void* h) { return reinterpret_cast<FileHandle>(h); }

int64_t FsTell(void* h) { return FileTell(AsHandle(h)); }
int FsSeek(void* h, int64_t offset, int origin) { return FileSeek(AsHandle(h), offset, origin); }
size_t FsRead(void* buffer, size_t size, size_t count, void* h) {
  return FileRead(buffer, size, count, AsHandle(h));
}
int FsEof(void* h) { return FileEof(AsHandle(h)); }
int FsIdleCheck(void* h) { return FileIdleCheck(AsHandle(h)); }
int FsClose(void* h) { return FileClose(AsHandle(h)); }

MemStream* AsMem(void* h) { return static_cast<MemStream*>(h); }

void UpdateEnd(MemStream* s) { s->EndFlag = s->Position >= s->Size ? 1 : 0; }

int64_t MsTell(void* h) { return static_cast<int64_t>(AsMem(h)->Position); }

int MsSeek(void* h, int64_t offset, int origin) {
  MemStream* s = AsMem(h);
  int64_t base;
  switch (origin) {
    case 0: base = 0; break;
    case 1: base = static_cast<int64_t>(s->Position); break;
    case 2: base = static_cast<int64_t>(s->Size); break;
    default: return -1;
  }
  // both lie within 0..Size, so the sum cannot overflow unless offset is far outside anyway
  if (offset < -base || offset > static_cast<int64_t>(s->Size) - base) return -1;
  s->Position = static_cast<size_t>(base + offset);
  UpdateEnd(s);
  return 0;
}

size_t MsRead(void* buffer, size_t size, size_t count, void* h) {
  MemStream* s = AsMem(h);
  if (!buffer || size == 0 || count == 0) return 0;
  size_t left = s->Size - s->Position;
  size_t whole = left / size < count ? left / size : count;
  size_t bytes = whole * size;
  // a part of an element at the end is consumed but not counted, as file reads do
  size_t take = whole < count ? left : bytes;
  if (take) std::memcpy(buffer, s->Data + s->Position, take);
  s->Position += take;
  UpdateEnd(s);
  return whole;
}

int MsEof(void* h) { return AsMem(h)->Position >= AsMem(h)->Size ? 1 : 0; }
int MsIdleCheck(void*) { return 1; }
int MsClose(void*) { return 0; }

}  // namespace

const StreamFunctionTable FileStreamFunctions = {FsTell, FsSeek, FsRead, FsEof, FsIdleCheck, FsClose};
const StreamFunctionTable MemStreamFunctions = {MsTell, MsSeek, MsRead, MsEof, MsIdleCheck, MsClose};

int OpenMemStream(MemStream* stream, const void* data, size_t size) {
  stream->Data = static_cast<const uint8_t*>(data);
  stream->Size = data ? size : 0;
  stream->Position = 0;
  UpdateEnd(stream);
  return 0;
}
