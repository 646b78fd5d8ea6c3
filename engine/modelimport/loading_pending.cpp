// Stand-ins for the model loading calls of loading_pending.h until that subsystem lands: a texture
// gets no data and no graph, a triangle list's per-vertex records stay as they are.
#include "engine/modelimport/loading_pending.h"

int MV1LoadTexture(void** colorData, int* colorSize, void** alphaData, int* alphaSize,
                   int* graphHandle, int* semiTransparent, char** colorNameCopy,
                   char** alphaNameCopy, const char*, const char*, const char*, int, float) {
  *colorData = nullptr;
  *colorSize = 0;
  *alphaData = nullptr;
  *alphaSize = 0;
  *graphHandle = -1;
  *semiTransparent = 0;
  if (colorNameCopy) *colorNameCopy = nullptr;
  if (alphaNameCopy) *alphaNameCopy = nullptr;
  return 0;
}

void MV1SetupTriangleListPositions(MV1TriangleList*) {}
