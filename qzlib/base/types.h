// Shared value types of the engine.
//
// Maths conventions, once for the whole engine: VECTOR is three floats; MATRIX is 4x4 floats,
// row-major, used with row vectors (v' = v * M), translation in the fourth row, left-handed,
// angles in radians.
#pragma once
#include <cstdint>

struct VECTOR {
  float x, y, z;
};

struct MATRIX {
  float m[4][4];
};

// Bytes b, g, r, a in that memory order.
struct COLOR_U8 {
  uint8_t b, g, r, a;
};

struct COLOR_F {
  float r, g, b, a;
};

struct UV {
  float u, v;
};

struct VERTEX3D {
  VECTOR pos;
  VECTOR norm;
  COLOR_U8 dif;
  COLOR_U8 spc;
  float u, v;
  float su, sv;
};

struct MATERIALPARAM {
  COLOR_F Diffuse;
  COLOR_F Ambient;
  COLOR_F Specular;
  COLOR_F Emissive;
  float Power;
};

// Blend modes and their parameter constants, as scripts name them.
namespace BLENDMODE {
enum : int {
  NOBLEND = 0,
  ALPHA = 1,
  ADD = 2,
  SUB = 3,
  MUL = 4,
  INVSRC = 10,
  MULA = 11,
};
enum : int { B1 = 1, B64 = 64, B128 = 128, B255 = 255 };
}  // namespace BLENDMODE
