#include "d3d_replay.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>

namespace {

// Where the parts of a vertex lie in a vertex of a flexible format.
struct Layout {
  int normal = -1, diffuse = -1, tex = -1;
};

Layout LayoutOf(uint32_t fvf) {
  Layout l;
  int at = 12;
  if (fvf & D3DFVF_NORMAL) l.normal = at, at += 12;
  if (fvf & D3DFVF_DIFFUSE) l.diffuse = at, at += 4;
  if (fvf & D3DFVF_SPECULAR) at += 4;
  if ((fvf & D3DFVF_TEXCOUNT_MASK) != 0) l.tex = at;
  return l;
}

struct ScreenVertex {
  float x, y, z, w;  // pixels, and depth z / w
  float r, g, b, a;  // 0..1
  float u, v;
};

// One primitive to draw, with the state it draws with.
struct Primitive {
  float depth;
  int count;  // 2 line, 3 triangle
  ScreenVertex v[3];
  const D3DDrawSnapshot* draw;
};

VECTOR ReadVec(const uint8_t* p) {
  VECTOR v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

float Clamp01(float v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }

// Plain Lambert lighting of one vertex: material (or vertex) diffuse times the ambient and the
// lights' diffuse terms, plus emissive.
void Light(const D3DDrawSnapshot& s, const VECTOR& worldPos, VECTOR n, ScreenVertex* out) {
  VECTOR wn;
  VTransformSRInline(&wn, &n, &s.World);
  const float len = std::sqrt(VectorDot(&wn, &wn));
  if (len > 0) wn = VECTOR{wn.x / len, wn.y / len, wn.z / len};
  const bool vertexDiffuse = s.RenderStates[D3DRS_DIFFUSEMATERIALSOURCE] == D3DMCS_COLOR1;
  const COLOR_F dif =
      vertexDiffuse ? COLOR_F{out->r, out->g, out->b, out->a} : s.Material.Diffuse;
  const uint32_t amb = s.RenderStates[D3DRS_AMBIENT];
  float lr = ((amb >> 16) & 255) / 255.0f * s.Material.Ambient.r;
  float lg = ((amb >> 8) & 255) / 255.0f * s.Material.Ambient.g;
  float lb = (amb & 255) / 255.0f * s.Material.Ambient.b;
  for (const auto& [index, L] : s.Lights) {
    VECTOR dir = L.Direction;
    float atten = 1;
    if (L.Type != 3) {
      dir = VECTOR{worldPos.x - L.Position.x, worldPos.y - L.Position.y, worldPos.z - L.Position.z};
      const float d = std::sqrt(VectorDot(&dir, &dir));
      if (d > 0) dir = VECTOR{dir.x / d, dir.y / d, dir.z / d};
      const float q = L.Attenuation0 + L.Attenuation1 * d + L.Attenuation2 * d * d;
      atten = q > 0 ? std::min(1.0f, 1.0f / q) : 1.0f;
    }
    const float k = std::max(0.0f, -VectorDot(&dir, &wn)) * atten;
    lr += k * L.Diffuse.r + L.Ambient.r * s.Material.Ambient.r;
    lg += k * L.Diffuse.g + L.Ambient.g * s.Material.Ambient.g;
    lb += k * L.Diffuse.b + L.Ambient.b * s.Material.Ambient.b;
  }
  out->r = Clamp01(dif.r * lr + s.Material.Emissive.r);
  out->g = Clamp01(dif.g * lg + s.Material.Emissive.g);
  out->b = Clamp01(dif.b * lb + s.Material.Emissive.b);
  out->a = dif.a;
}

// Transforms one vertex; false when the snapshot does not hold it.
bool Vertex(const D3DDrawSnapshot& s, const Layout& l, const MATRIX& wvp, uint32_t index, int w,
            int h, ScreenVertex* out) {
  if (index < s.FirstVertex) return false;
  const size_t at = size_t(index - s.FirstVertex) * s.Stride;
  if (at + s.Stride > s.Vertices.size() || s.Stride < 12) return false;
  const uint8_t* p = s.Vertices.data() + at;
  const VECTOR pos = ReadVec(p);
  VECTOR clip;
  float one = 1, cw;
  VectorTransform4(&clip, &cw, &pos, &one, &wvp);
  out->w = cw;
  out->x = (clip.x / cw + 1) * 0.5f * float(w);
  out->y = (1 - clip.y / cw) * 0.5f * float(h);
  out->z = clip.z / cw;
  out->r = out->g = out->b = out->a = 1;
  if (l.diffuse >= 0 && l.diffuse + 4 <= int(s.Stride)) {
    COLOR_U8 c;
    std::memcpy(&c, p + l.diffuse, 4);
    out->r = c.r / 255.0f, out->g = c.g / 255.0f, out->b = c.b / 255.0f, out->a = c.a / 255.0f;
  }
  out->u = out->v = 0;
  if (l.tex >= 0 && l.tex + 8 <= int(s.Stride)) {
    std::memcpy(&out->u, p + l.tex, 4);
    std::memcpy(&out->v, p + l.tex + 4, 4);
  }
  if (s.RenderStates[D3DRS_LIGHTING] && l.normal >= 0) {
    VECTOR wp;
    VTransformInline(&wp, &pos, &s.World);
    Light(s, wp, ReadVec(p + l.normal), out);
  }
  return true;
}

// The texture factor's alpha (0..1) where an enabled stage reads the factor as an alpha
// argument, else 1.
float FactorAlpha(const D3DDrawSnapshot& s) {
  for (const D3DStageSnapshot& st : s.Stages) {
    if (st.States[D3DTSS_ALPHAOP] == D3DTOP_DISABLE) break;
    if (st.States[D3DTSS_ALPHAARG1] == D3DTA_TFACTOR || st.States[D3DTSS_ALPHAARG2] == D3DTA_TFACTOR)
      return float(s.RenderStates[D3DRS_TEXTUREFACTOR] >> 24) / 255.0f;
  }
  return 1.0f;
}

// The blend mode that draws as the recorded blend states do.
int BlendModeOf(const D3DDrawSnapshot& s) {
  const uint32_t* rs = s.RenderStates;
  if (!rs[D3DRS_ALPHABLENDENABLE]) return BLENDMODE::NOBLEND;
  if (rs[D3DRS_BLENDOP] == D3DBLENDOP_REVSUBTRACT) return BLENDMODE::SUB;
  if (rs[D3DRS_SRCBLEND] == D3DBLEND_ZERO) return BLENDMODE::MUL;
  if (rs[D3DRS_DESTBLEND] == D3DBLEND_ONE) return BLENDMODE::ADD;
  return BLENDMODE::ALPHA;
}

uint32_t PackColor(const MEMIMG* target, float r, float g, float b) {
  const int ir = int(r * 255 + 0.5f), ig = int(g * 255 + 0.5f), ib = int(b * 255 + 0.5f);
  if (target->Base->Format == 0) return uint32_t(ir >> 3) << 11 | uint32_t(ig >> 2) << 5 | uint32_t(ib >> 3);
  return uint32_t(ir) << 16 | uint32_t(ig) << 8 | uint32_t(ib);
}

// What stage 0 makes of its texture and the (lit) diffuse colour, for colour and for alpha. On
// stage 0 the current colour is the diffuse one; a disabled stage 0 passes the diffuse colour on.
struct StageUse {
  bool texColor, diffuseColor, texAlpha, diffuseAlpha;
};

StageUse StageZeroUse(const D3DDrawSnapshot& s) {
  const uint32_t* st = s.Stages[0].States;
  auto reads = [](uint32_t op, uint32_t a1, uint32_t a2, uint32_t arg) {
    auto is = [arg](uint32_t a) { return a == arg || (arg == D3DTA_DIFFUSE && a == D3DTA_CURRENT); };
    if (op == D3DTOP_DISABLE) return arg == D3DTA_DIFFUSE;
    if (op == D3DTOP_SELECTARG1) return is(a1);
    if (op == D3DTOP_SELECTARG2) return is(a2);
    return is(a1) || is(a2);
  };
  const uint32_t cop = st[D3DTSS_COLOROP], c1 = st[D3DTSS_COLORARG1], c2 = st[D3DTSS_COLORARG2];
  const uint32_t aop = st[D3DTSS_ALPHAOP], a1 = st[D3DTSS_ALPHAARG1], a2 = st[D3DTSS_ALPHAARG2];
  return {reads(cop, c1, c2, D3DTA_TEXTURE), reads(cop, c1, c2, D3DTA_DIFFUSE),
          reads(aop, a1, a2, D3DTA_TEXTURE), reads(aop, a1, a2, D3DTA_DIFFUSE)};
}

// A software surface holding a texture's pixels, made once per texture: opaque, or with the
// texture's alpha where a blend reads it (an alpha surface only when some texel is not opaque).
struct TextureSurfaces {
  std::map<std::pair<const D3DTexturePixels*, bool>, std::unique_ptr<MEMIMG>> made;
  ~TextureSurfaces() {
    for (auto& [k, m] : made) TerminateMemImg(m.get());
  }
  MEMIMG* Get(const D3DTexturePixels* t, int format, bool withAlpha) {
    withAlpha = withAlpha && std::any_of(t->Pixels.begin(), t->Pixels.end(),
                                         [](uint32_t px) { return px >> 24 != 255; });
    auto& slot = made[{t, withAlpha}];
    if (slot) return slot.get();
    slot = std::make_unique<MEMIMG>();
    std::memset(slot.get(), 0, sizeof(MEMIMG));
    if (InitializeMemImg(slot.get(), int(t->Width), int(t->Height), -1, 0, format, 0, withAlpha ? 1 : 0,
                         0, nullptr) != 0)
      return nullptr;
    const int bpp = MemImgBytesPerPixel(slot.get());
    for (uint32_t y = 0; y < t->Height; ++y)
      for (uint32_t x = 0; x < t->Width; ++x) {
        const uint32_t px = t->Pixels[y * t->Width + x];
        uint8_t* d = slot->Pixels + size_t(y) * slot->Base->Pitch + size_t(x) * bpp;
        if (format == 1) {
          const uint32_t v = withAlpha ? px : px & 0xFFFFFF;
          std::memcpy(d, &v, 4);
        } else {
          const uint32_t v565 = ((px >> 19) & 31) << 11 | ((px >> 10) & 63) << 5 | ((px >> 3) & 31);
          if (bpp == 4) {  // 5:6:5 with the alpha in bits 16-23
            const uint32_t v = v565 | (px >> 24) << 16;
            std::memcpy(d, &v, 4);
          } else {
            const uint16_t v = uint16_t(v565);
            std::memcpy(d, &v, 2);
          }
        }
      }
    MemImgMarkPixelsChanged(slot.get());
    return slot.get();
  }
};

}  // namespace

ReplayStats ReplayDraws(const std::vector<D3DDrawSnapshot>& draws, MEMIMG* target) {
  ReplayStats stats;
  if (!CheckValidMemImg(target)) return stats;
  const int w = target->Width, h = target->Height;
  std::vector<Primitive> prims;
  for (const D3DDrawSnapshot& s : draws) {
    if (!(s.Fvf & D3DFVF_XYZ) || s.Stride == 0) {
      ++stats.Skipped;
      continue;
    }
    const Layout l = LayoutOf(s.Fvf);
    MATRIX wv, wvp;
    CreateMultiplyMatrix(&wv, &s.World, &s.View);
    CreateMultiplyMatrix(&wvp, &wv, &s.Projection);
    const int per = s.PrimitiveType == D3DPT_LINELIST ? 2 : s.PrimitiveType == D3DPT_TRIANGLELIST ? 3 : 0;
    if (!per) {
      ++stats.Skipped;
      continue;
    }
    const uint32_t count = D3DPrimitiveVertexCount(s.PrimitiveType, s.PrimitiveCount);
    for (uint32_t i = 0; i + per <= count; i += uint32_t(per)) {
      Primitive p{};
      p.count = per;
      p.draw = &s;
      bool ok = true, behind = false;
      for (int k = 0; k < per && ok; ++k) {
        const uint32_t index = s.Indices.empty() ? s.FirstVertex + i + k : s.Indices[i + k];
        ok = Vertex(s, l, wvp, index, w, h, &p.v[k]);
        behind = behind || p.v[k].w <= 0 || p.v[k].z < 0;
      }
      if (!ok) continue;
      if (behind) {
        ++stats.Clipped;
        continue;
      }
      if (per == 3) {
        // Winding on screen (y down): clockwise has a positive cross product here.
        const float cross = (p.v[1].x - p.v[0].x) * (p.v[2].y - p.v[0].y) -
                            (p.v[1].y - p.v[0].y) * (p.v[2].x - p.v[0].x);
        const uint32_t cull = s.RenderStates[D3DRS_CULLMODE];
        if ((cull == D3DCULL_CCW && cross < 0) || (cull == D3DCULL_CW && cross > 0)) {
          ++stats.Culled;
          continue;
        }
      }
      float depth = 0;
      for (int k = 0; k < per; ++k) depth += p.v[k].z;
      p.depth = depth / float(per);
      prims.push_back(p);
    }
  }
  std::stable_sort(prims.begin(), prims.end(),
                   [](const Primitive& a, const Primitive& b) { return a.depth > b.depth; });
  const int savedMode = DrawBlendMode, savedParam = DrawBlendParam;
  const uint32_t savedBright = DrawBright;
  TextureSurfaces textures;
  for (const Primitive& p : prims) {
    float r = 0, g = 0, b = 0, a = 0;
    for (int k = 0; k < p.count; ++k) r += p.v[k].r, g += p.v[k].g, b += p.v[k].b, a += p.v[k].a;
    r /= float(p.count), g /= float(p.count), b /= float(p.count), a /= float(p.count);
    auto X = [](float f) { return int(std::floor(f + 0.5f)); };
    if (p.count == 2) {
      SetDrawBlendMode(BlendModeOf(*p.draw), int(a * FactorAlpha(*p.draw) * 255 + 0.5f));
      DrawLineMemImg(target, X(p.v[0].x), X(p.v[0].y), X(p.v[1].x), X(p.v[1].y), PackColor(target, r, g, b));
      ++stats.Lines;
      continue;
    }
    // A format without texture coordinates (the outline's) is drawn flat in its colours.
    const StageUse use = StageZeroUse(*p.draw);
    const int mode = BlendModeOf(*p.draw);
    const bool blendReadsAlpha = mode == BLENDMODE::ALPHA || mode == BLENDMODE::ADD || mode == BLENDMODE::SUB;
    const D3DTexturePixels* tex =
        LayoutOf(p.draw->Fvf).tex >= 0 && use.texColor ? p.draw->Stages[0].Texture.get() : nullptr;
    MEMIMG* src = tex ? textures.Get(tex, target->Base->Format, use.texAlpha && blendReadsAlpha) : nullptr;
    if (!use.diffuseAlpha) a = 1;
    SetDrawBlendMode(mode, int(a * FactorAlpha(*p.draw) * 255 + 0.5f));
    // Texture coordinates repeat (the default wrap addressing): the triangle's are moved by whole
    // texture sizes to start inside the texture, as the software drawer reads inside it only.
    float du = 0, dv = 0;
    if (src) {
      du = std::floor(std::min({p.v[0].u, p.v[1].u, p.v[2].u}));
      dv = std::floor(std::min({p.v[0].v, p.v[1].v, p.v[2].v}));
      if (!std::isfinite(du) || !std::isfinite(dv)) du = dv = 0;
    }
    MemImgVertex mv[3];
    for (int k = 0; k < 3; ++k)
      mv[k] = MemImgVertex{X(p.v[k].x), X(p.v[k].y), src ? X((p.v[k].u - du) * float(src->Width)) : 0,
                           src ? X((p.v[k].v - dv) * float(src->Height)) : 0};
    // A textured triangle takes its lit colour where stage 0 modulates the texture by it.
    if (src && use.diffuseColor) SetDrawBright(int(r * 255 + 0.5f), int(g * 255 + 0.5f), int(b * 255 + 0.5f));
    else DrawBright = 0xFFFFFF;
    DrawPolygonMemImg(target, src, mv, 0, nullptr, PackColor(target, r, g, b));
    ++stats.Triangles;
  }
  DrawBright = savedBright;
  SetDrawBlendMode(savedMode, savedParam);
  return stats;
}
