// Loading a model file into a model handle.
#pragma once
#include <cstddef>

// Reads the file (Shift_JIS path) whole, offers it to the readers (model_readers.h) in order,
// builds the base's device buffers and makes the first model of the base. The model handle, or -1
// with nothing left taken: a file that cannot be opened or held is logged with its path; a file
// that every reader refuses gets no line of its own (the readers log theirs).
int MV1LoadModel(const char* path);

// How MV1LoadModel splits a path: the folder (made full; the file layer's current directory for
// a path without "\", "/" or ":"), the file name after the last separator (Shift_JIS aware) and
// the model name (the file name cut at its first "."). 0, or -1 when an output does not fit.
int MV1SplitModelPath(const char* path, char* folder, size_t folderSize, char* fileName,
                      size_t fileNameSize, char* modelName, size_t modelNameSize);
