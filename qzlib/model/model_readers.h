// The model file readers MV1LoadModel offers a file to, in this order: MV1, MQO, X, PMD. Each
// takes (file image, size, path as passed, model name, folder), decides by content alone and
// returns a model-base handle, or a negative value when the file is not its format or cannot be
// read (with its own log lines), freeing everything it took either way.
//
// The model library lies below the import library, so it calls the readers through a table: the
// MV1 reader's slot is filled here, the import readers' slots by RegisterModelImportReaders
// (qzlib/modelimport/model_import_readers.h), which engine start calls after InitModelSystem.
#pragma once
#include <cstddef>

using MV1ModelReader = int (*)(const void* image, size_t size, const char* path,
                               const char* modelName, const char* folder);

enum : int {
  MV1_READER_MV1 = 0,
  MV1_READER_MQO = 1,
  MV1_READER_X = 2,
  MV1_READER_PMD = 3,
  MV1_READER_NUM = 4,
};

// Frees the file image MV1LoadModel is offering to a reader, as soon as the reader holds what it
// needs of it (it must not read the image afterwards). MV1LoadModel then offers the file to no
// further reader: each reader refuses the others' files by their first bytes alone. Does
// nothing for an image MV1LoadModel does not hold (a reader called directly).
void MV1ReleaseLoadImage(const void* image);

// Sets a reader slot (null empties it). 0, or -1 for a slot out of range.
int MV1SetModelReader(int slot, MV1ModelReader reader);
// The reader of a slot, or null.
MV1ModelReader MV1GetModelReader(int slot);

int LoadMV1ToModelBase(const void* image, size_t size, const char* path, const char* modelName,
                       const char* folder);
int LoadMqoModel(const void* image, size_t size, const char* path, const char* modelName,
                 const char* folder);
int LoadXFileModel(const void* image, size_t size, const char* path, const char* modelName,
                   const char* folder);
int LoadPmdModel(const void* image, size_t size, const char* path, const char* modelName,
                 const char* folder);
