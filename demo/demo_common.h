// What the demonstration parts share.
#pragma once
#include <qzlib/soft/memimg.h>

#include <cstdint>

// A colour in a surface format: 0x00RRGGBB for format 1, 5:6:5 for format 0.
uint32_t DemoColor(int format, int r, int g, int b);
// Fills a surface with a vertical colour ramp crossed by grey bands, so blends show.
void DrawDemoBackground(MEMIMG* img, int format);

// Saves a 16-bit (5:6:5) or 32-bit MEMIMG as a PNG picture. Returns true on success.
bool SaveMemImgPicture(const MEMIMG* img, const char* path);
// Saves img as the PNG picture path and its legend (what the rows, columns and tiles show, and
// which oddities are the engine's own behaviour) beside it, as path with ".txt" for ".png", and
// prints one line: the file, whether it was saved, and the legend's first line. The legend's
// "%d" (if any) takes the surface's bit depth. Returns true when both were written.
bool SaveDemoPicture(const MEMIMG* img, const char* path, const char* legend);

// Starts the engine in Direct3D mode over the stand-in device at 640 x 480 x 32; false (with a
// line on stdout) when it cannot. EndDirect3DDemo ends it and returns to software mode.
bool StartDirect3DDemo();
void EndDirect3DDemo();
