// The software renderer's blend and colour tables, filled once at graphics start.
#pragma once
#include <cstdint>

struct MemImgBlendTablesT {
  // Signed table: row a (a weight 0..255), entry 255 + d for d = -255..255 holds trunc(a*d/255);
  // entry 511 stays 0. Take SignedRow(a) to index by a signed difference.
  int32_t Signed[256][512];
  // Multiply table: entry [a][i] = floor(a*i/255); row 255 is the identity.
  int32_t Multiply[256][256];
  // 6-bit mix table: plane k, row y, column z = floor((y*k + z*(63 - k)) / 63).
  uint8_t Mix6[64][64][64];
};

extern MemImgBlendTablesT MemImgBlendTables;
// 256 weights, one per blend-graph byte, rebuilt whenever the blend graph or its border changes.
extern uint8_t MemImgBlendGraphTable[256];

// Fills the signed, multiply and 6-bit mix tables. Returns 0.
int InitMemImgBlendTable();
// Fills MemImgBlendGraphTable from the border parameter and range (each limited to 0..255 here):
// entry i = (256 i) / (range + 1) + 256 - ((65536 / (range + 1) + 256) * border) / 256, limited to
// 0..255. Border 0 gives 255 everywhere.
void MakeMemImgBlendGraphTable(int border, int range);

// The signed row of weight a, positioned at d = 0: SignedRow(a)[d] = trunc(a*d/255).
inline const int32_t* SignedRow(int a) { return &MemImgBlendTables.Signed[a][255]; }
