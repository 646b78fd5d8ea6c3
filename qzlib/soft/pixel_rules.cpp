#include <qzlib/soft/pixel_rules.h>

#include <qzlib/base/mathutil.h>
#include <qzlib/base/sysinfo.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/soft/drawer_guard.h>

int SoftForceGenericPath = 0;

namespace {
int CompactMode(int mode) {
  switch (static_cast<uint32_t>(mode)) {
    case 0: return SOFT_MODE_NOBLEND;
    case 1: return SOFT_MODE_ALPHA;
    case 2: return SOFT_MODE_ADD;
    case 3: return SOFT_MODE_SUB;
    case 4: return SOFT_MODE_MUL;
    case 10: return SOFT_MODE_INVSRC;
    case 11: return SOFT_MODE_MULA;
    default: return -1;
  }
}
}  // namespace

RECT SoftDestArea(const MEMIMG* dst) {
  RECT area = DrawArea;
  RECT whole{0, 0, dst->Width, dst->Height};
  RectClipping(&area, &whole);
  return area;
}

int SoftPrepareDraw(SoftDrawPrep* prep, const SoftFamily& fam, const MEMIMG* dst, const MEMIMG* src,
                    int trans, const MEMIMG* graph) {
  if (!MemImgUsable(dst)) return 0;
  const MemImgBase* db = dst->Base;
  if (db->Format != MEMIMG_FORMAT_565 && db->Format != MEMIMG_FORMAT_XRGB8) return 0;
  if (db->PaletteFlag || db->AlphaFlag) return 0;
  const MemImgBase* sb = nullptr;
  if (src) {
    if (!MemImgUsable(src)) return 0;
    sb = src->Base;
    if (sb->Format != db->Format) return 0;
    if (graph) {
      if (!MemImgUsable(graph)) return 0;
      if (!SoftBlendGraphFits(graph, src)) return 0;
    }
  }
  int mode = CompactMode(DrawBlendMode);
  if (mode < 0) return 0;
  int p = SoftBlendParam();

  SoftVariant v{};
  v.Dst16 = db->Format == MEMIMG_FORMAT_565 ? 1 : 0;
  v.Src = !sb ? SOFT_SRC_DIRECT : sb->PaletteFlag ? SOFT_SRC_PAL : sb->AlphaFlag ? SOFT_SRC_ALPHA : SOFT_SRC_DIRECT;
  v.Graph = graph ? 1 : 0;
  v.Tint = (DrawBright & 0xFFFFFFu) != 0xFFFFFFu ? 1 : 0;
  v.Trans = trans ? 1 : 0;

  switch (mode) {
    case SOFT_MODE_ALPHA:
      if (p == 0) return 0;
      if (p == 255) mode = SOFT_MODE_NOBLEND;
      break;
    case SOFT_MODE_ADD:
      if (p == 0) return 0;
      break;
    case SOFT_MODE_SUB:
      if (p == 0 && (v.Src != SOFT_SRC_PAL || fam.SubZeroDrawsNothingForPalette)) return 0;
      break;
    default: break;
  }
  v.Mode = mode;

  prep->Mmx = MmxUsableFlag == 1 ? 1 : 0;
  const bool plainish = !v.Graph && !v.Tint && v.Src != SOFT_SRC_ALPHA;
  v.Sub = SOFT_SUB_NONE;
  if (plainish) {
    if (mode == SOFT_MODE_ALPHA) {
      if (p == 128 && fam.AlphaHalfShortcut) v.Sub = SOFT_SUB_HALF;
      else if (v.Dst16 && p != 128 && fam.Alpha16MixTable) v.Sub = SOFT_SUB_MIX6;
    } else if (p == 255 && (mode == SOFT_MODE_ADD || mode == SOFT_MODE_SUB)) {
      bool mmx = !v.Dst16 && prep->Mmx && (mode == SOFT_MODE_ADD ? fam.MmxAdd : fam.MmxSub);
      if (mmx) v.Sub = SOFT_SUB_MMX;
      else if (mode == SOFT_MODE_ADD && fam.AddNoOrAt255) v.Sub = SOFT_SUB_ADD255;
    }
  }
  prep->Variant = v;
  prep->P = p;
  prep->Bright = DrawBright & 0xFFFFFFu;
  prep->Key = sb ? sb->TransColor : 0;
  for (int c = 0; c < 3; ++c) {
    uint32_t b = (prep->Bright >> (8 * c)) & 0xFF;
    prep->TintMul[c] = b;
    prep->TintRow[c] = MemImgBlendTables.Multiply[b];
  }
  prep->MulP = MemImgBlendTables.Multiply[p];
  prep->SigP = SignedRow(p);
  prep->Mix6 = &MemImgBlendTables.Mix6[p >> 2][0][0];
  prep->GraphTable = graph ? MemImgBlendGraphTable : nullptr;

  if (v.Src == SOFT_SRC_PAL) {
    const uint8_t* pal = sb->Palette;
    for (int i = 0; i < 256; ++i) {
      if (v.Dst16) {
        uint16_t e = 0;
        if (pal) std::memcpy(&e, pal + 2 * i, 2);
        prep->Pal16[i] = static_cast<uint16_t>(SoftTransformSource16(fam, v, *prep, e));
      } else {
        uint32_t e = 0;
        if (pal) std::memcpy(&e, pal + 4 * i, 4);
        prep->Pal32[i] = SoftTransformSource32(fam, v, *prep, e);
      }
    }
  }
  return 1;
}
