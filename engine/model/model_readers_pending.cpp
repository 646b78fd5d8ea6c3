// Stand-ins for the readers whose formats are not read yet: each refuses every file. A reader's
// line goes when the reader itself arrives.
#include "engine/model/model_readers.h"

int LoadMV1ToModelBase(const void*, size_t, const char*, const char*, const char*) { return -1; }
int LoadXFileModel(const void*, size_t, const char*, const char*, const char*) { return -1; }
int LoadPmdModel(const void*, size_t, const char*, const char*, const char*) { return -1; }
