// Loading a model file: the path split, the whole-file read, the reader chain, the first model.
#include <qzlib/model/model_load.h>

#include <cstdint>
#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/base/strutil.h>
#include <qzlib/file/file.h>
#include <qzlib/file/path.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_buffers.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_readers.h>
#include <qzlib/base/engine_texts.h>

namespace {

MV1ModelReader g_readers[MV1_READER_NUM] = {LoadMV1ToModelBase, nullptr, nullptr, nullptr};

// The file image of the load in progress, until it is freed; released when a reader gave it up.
uint8_t* g_loadImage = nullptr;
bool g_loadImageReleased = false;

int CopyOut(const char* s, size_t n, char* out, size_t outSize) {
  if (n + 1 > outSize) {
    if (outSize) out[0] = 0;
    return -1;
  }
  std::memcpy(out, s, n);
  out[n] = 0;
  return 0;
}

}  // namespace

void MV1ReleaseLoadImage(const void* image) {
  if (!image || image != g_loadImage) return;
  MEM_FREE(g_loadImage);
  g_loadImage = nullptr;
  g_loadImageReleased = true;
}

int MV1SetModelReader(int slot, MV1ModelReader reader) {
  if (slot < 0 || slot >= MV1_READER_NUM) return -1;
  g_readers[slot] = reader;
  return 0;
}

MV1ModelReader MV1GetModelReader(int slot) {
  return slot >= 0 && slot < MV1_READER_NUM ? g_readers[slot] : nullptr;
}

int MV1SplitModelPath(const char* path, char* folder, size_t folderSize, char* fileName,
                      size_t fileNameSize, char* modelName, size_t modelNameSize) {
  const char* last = nullptr;
  for (const char* p = path; *p; p += SjisCharLength(p))
    if (IsPathSeparator(p) || *p == ':') last = p;
  const char* file = path;
  if (!last) {
    if (FileGetCurrentDir(folder, folderSize) != 0) return -1;
  } else {
    size_t k = static_cast<size_t>(last - path);
    size_t keep = k + 1;
    // "dir\" loses its separator; "C:\" and "C:" stay whole, and so does a lone leading one.
    if (*last != ':' && k > 0 && path[k - 1] != ':') keep = k;
    char head[2048];
    if (CopyOut(path, keep, head, sizeof(head)) != 0) return -1;
    if (ConvertFullPath(head, folder, folderSize) != 0) return -1;
    file = last + 1;
  }
  size_t fileLength = std::strlen(file);
  if (CopyOut(file, fileLength, fileName, fileNameSize) != 0) return -1;
  size_t nameLength = 0;
  while (nameLength < fileLength && file[nameLength] != '.')
    nameLength += SjisCharLength(file + nameLength);
  if (nameLength > fileLength) nameLength = fileLength;
  return CopyOut(file, nameLength, modelName, modelNameSize);
}

namespace {

// Reads the file whole and offers it to the readers: a model-base handle, or -1.
int ReadModelBase(const char* path, const char* modelName, const char* folder) {
  FileHandle fp = FileOpen(path);
  if (!fp) return WriteLogFmt(TEXT_MV1_MODEL_OPEN_FAILED, path);
  FileSeek(fp, 0, 2);
  const int64_t size = FileTell(fp);
  FileSeek(fp, 0, 0);
  if (size < 0) {
    FileClose(fp);
    return WriteLogFmt(TEXT_MV1_MODEL_OPEN_FAILED, path);
  }
  auto* image = static_cast<uint8_t*>(
      static_cast<uint64_t>(size) < SIZE_MAX ? MEM_ALLOC(static_cast<size_t>(size) + 1) : nullptr);
  if (!image) {
    FileClose(fp);
    return WriteLogFmt(TEXT_MV1_MODEL_IMAGE_ALLOC_FAILED, path);
  }
  const bool whole = size == 0 || FileRead(image, static_cast<size_t>(size), 1, fp) == 1;
  FileClose(fp);
  if (!whole) {
    MEM_FREE(image);
    return WriteLogFmt(TEXT_MV1_MODEL_OPEN_FAILED, path);
  }
  image[size] = 0;

  g_loadImage = image;
  g_loadImageReleased = false;
  int baseHandle = -1;
  for (int r = 0; r < MV1_READER_NUM && baseHandle < 0 && !g_loadImageReleased; ++r)
    if (g_readers[r]) baseHandle = g_readers[r](image, static_cast<size_t>(size), path, modelName, folder);
  MEM_FREE(g_loadImage);  // a reader may have given it up already
  g_loadImage = nullptr;
  return baseHandle < 0 ? -1 : baseHandle;
}

}  // namespace

int MV1LoadModel(const char* path) {
  if (!MV1SystemInitFlag || !path) return -1;
  // every file of the load (model, textures, motions) is looked up against folder listings
  // read once, and the current directory is asked once
  FileListingScopeBegin();
  char folder[2048], fileName[1024], modelName[1024];
  if (MV1SplitModelPath(path, folder, sizeof(folder), fileName, sizeof(fileName), modelName,
                        sizeof(modelName)) != 0) {
    FileListingScopeEnd();
    return WriteLogFmt(TEXT_MV1_MODEL_OPEN_FAILED, path);
  }
  const int baseHandle = ReadModelBase(path, modelName, folder);
  FileListingScopeEnd();
  if (baseHandle < 0) return -1;
  MV1SetupModelBaseVertexBuffer(baseHandle);

  const int modelHandle = MV1AddModelHandle();
  if (modelHandle < 0) {
    WriteLogFmt(TEXT_MV1_MODEL_HANDLE_FAILED, path);
    MV1ReleaseModelBase(baseHandle);
    return -1;
  }
  if (MV1CreateModelFromBase(modelHandle, baseHandle) != 0) {
    WriteLogFmt(TEXT_MV1_MODEL_CREATE_FAILED, path);
    MV1ReleaseModelBase(baseHandle);
    MV1DeleteModel(modelHandle);
    return -1;
  }
  return modelHandle;
}
