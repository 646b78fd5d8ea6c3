#include <qzlib/soft/blend_tables.h>

MemImgBlendTablesT MemImgBlendTables;
uint8_t MemImgBlendGraphTable[256];

int InitMemImgBlendTable() {
  for (int a = 0; a < 256; ++a) {
    for (int d = -255; d <= 255; ++d) MemImgBlendTables.Signed[a][d + 255] = a * d / 255;  // C truncates toward zero
    MemImgBlendTables.Signed[a][511] = 0;
    for (int i = 0; i < 256; ++i) MemImgBlendTables.Multiply[a][i] = a * i / 255;
  }
  for (int k = 0; k < 64; ++k)
    for (int y = 0; y < 64; ++y)
      for (int z = 0; z < 64; ++z)
        MemImgBlendTables.Mix6[k][y][z] = static_cast<uint8_t>((y * k + z * (63 - k)) / 63);
  return 0;
}

void MakeMemImgBlendGraphTable(int border, int range) {
  border = border < 0 ? 0 : (border > 255 ? 255 : border);
  range = range < 0 ? 0 : (range > 255 ? 255 : range);
  int step = 65536 / (range + 1);
  int offset = ((step + 256) * border) / 256;
  int base = 256 - offset;
  for (int i = 0; i < 256; ++i) {
    int v = (256 * i) / (range + 1) + base;
    MemImgBlendGraphTable[i] = static_cast<uint8_t>(v > 255 ? 255 : (v < 0 ? 0 : v));
  }
}
