// Calls of model loading that the converter makes and whose work belongs to the model loading
// subsystem, not built yet. Each keeps its final signature; loading_pending.cpp holds do-nothing
// bodies, to be replaced by the real ones.
#pragma once

struct MV1TriangleList;

// Loads a model texture: the files' bytes, the graph made from them, the semi-transparency flag
// and copies of the file paths relative to the folder (each output optional). 0, or -1.
int MV1LoadTexture(void** colorData, int* colorSize, void** alphaData, int* alphaSize,
                   int* graphHandle, int* semiTransparent, char** colorNameCopy,
                   char** alphaNameCopy, const char* colorPath, const char* alphaPath,
                   const char* folder, int bumpFlag, float bumpScale);

// Writes the per-vertex records of a base triangle list from its mesh vertices and positions.
void MV1SetupTriangleListPositions(MV1TriangleList* list);
