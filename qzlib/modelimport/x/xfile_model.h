// The X reader of the model loader: an X file image into a read model and a model base.
#pragma once
#include <cstddef>

#include <qzlib/modelimport/readmodel.h>
#include <qzlib/modelimport/x/xfile_parser.h>

// The reader interface of the model loader: image and size of the whole file, the path as
// passed, the model name and the folder. A model-base handle, or -1 (a file without the magic
// "xof " silently; every other refusal with its log line). Frees all it took either way.
int LoadXFileModel(const void* image, size_t size, const char* path, const char* modelName, const char* folder);

// Turns a parsed object tree (under its top frame) into frames, meshes, materials, textures,
// skin weights and animation sets of rm. 0, or -1 with its log line.
int ConvertXFileObjects(XFileObjectList* list, ReadModel* rm);
