// The draw state of the graphics core, read by every drawer.
//
// All of it is set between draw calls on the main thread; drawers read what they need once at the
// start of a call. Rectangles are left, top, right, bottom with right and bottom exclusive.
#pragma once
#include <cstdint>

#include <qzlib/platform/wintypes.h>

struct MEMIMG;

// 1 when drawing goes through Direct3D (chosen at engine start), 0 in software mode.
extern int UseDirect3DFlag;
// Clip rectangle of all drawing; always inside the current draw target.
extern RECT DrawArea;
// Current blend mode (a BLENDMODE value) and its parameter 0..255.
extern int DrawBlendMode;
extern int DrawBlendParam;
// Draw-bright colour 0x00RRGGBB; 0xFFFFFF means no tint.
extern uint32_t DrawBright;
// The MEMIMG that all software drawing goes into, or null before graphics start.
extern MEMIMG* SoftDrawTarget;
// The single-channel (format 2) MEMIMG of the current blend graph, or null.
extern MEMIMG* SoftBlendGraph;
// The same datum under the name the blits use.
extern MEMIMG*& DrawBlendGraphMemImg;

// Orders the corners and clamps them to the current draw target (0..width, 0..height); without a
// target, to the draw-screen size. Returns 0.
int SetDrawArea(int x1, int y1, int x2, int y2);
// Sets the blend mode and its parameter (clamped to 0..255). Returns 0.
int SetDrawBlendMode(int mode, int param);
// Sets the draw-bright colour, each channel clamped to 0..255. Returns 0.
int SetDrawBright(int red, int green, int blue);
// Packs R, G, B into the screen's pixel format: 5:6:5 in the low 16 bits for a 16-bit screen,
// 0x00RRGGBB for a 32-bit one.
uint32_t GetColor(int red, int green, int blue);
// The screen's colour bit depth, 16 or 32.
int GetColorBitDepth();
// The draw-screen size in pixels (640 x 480 when unset); null pointers are skipped. Returns 0.
int GetDrawScreenSize(int* width, int* height);

// Records the software draw target (null allowed) with its size, which the draw area is clamped
// to, and sets DrawArea to the whole target. Called by SetSoftDrawTarget (graphics/graphics.h),
// which reads the size from the target.
void SetSoftDrawTargetRecord(MEMIMG* target, int width, int height);

// Engine-start settings, taken by InitLibrary: screen size and colour depth (16 or 32).
void SetGraphMode(int width, int height, int colorBitDepth);
// Resets blend mode, parameter, bright and area to their start values.
void InitDrawState();
