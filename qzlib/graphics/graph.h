// Graphs of the software renderer: the graph handle table, creation from images, deletion and
// size, the blend graph and the draw screen.
//
// A graph handle is a LibHandle of kind GRAPH_HANDLE_KIND: bit 31 clear, the kind in bits 27-30,
// an 11-bit check number in bits 16-26 (a counter 0..2047 that wraps, kept in the record) and the
// slot index in bits 0-15 (GRAPH_HANDLE_MAX slots). Every function checks the sign, the kind, the
// index, a live slot and the check number, and fails with -1 on any mismatch.
//
// Surface of a graph (its MEMIMG, made with the run map and premultiplied plane):
//   - format: 0 (5:6:5) on a 16-bit screen, 1 (X8R8G8B8) on a 32-bit one;
//   - with alpha when an alpha image is given or the colour image's format has alpha;
//   - else palettised when the colour image is palettised (indices and palette kept);
//   - colour key 0.
// In Direct3D mode a graph is instead one device texture holding its image as 32-bit A8R8G8B8
// (alpha from the alpha image's blue channel when one is given, else the image's own, else 255)
// at the image's own size, with a host copy of those pixels from which device restore refills it.
#pragma once
#include <cstddef>
#include <cstdint>

#include <qzlib/image/baseimage.h>
#include <qzlib/soft/memimg.h>

class D3DTexture;

constexpr int32_t GRAPH_HANDLE_KIND = 0x08000000;
constexpr int32_t GRAPH_HANDLE_MAX = 32768;
// The screen handles: the back and the front screen (one software screen).
constexpr int32_t DX_SCREEN_BACK = -2;
constexpr int32_t DX_SCREEN_FRONT = -4;

struct GRAPH_RECORD {
  int32_t Handle;       // the whole handle, check number included
  int32_t Width;        // in pixels
  int32_t Height;
  MEMIMG Image;         // the graph's own surface
  MEMIMG BlendImage;    // format-2 copy of the blue channel, made when first used as blend graph
  D3DTexture* Texture;  // Direct3D mode: the device texture (null while the device is lost)
  uint32_t* HostPixels; // Direct3D mode: Width x Height A8R8G8B8 pixels, rows packed
};

// A new graph made from a colour image and an optional alpha image of the same size (its blue
// channel becomes the alpha). The three further flags are accepted and not read in software mode.
// The handle, or -1 (bad image, allocation failure; nothing left allocated). A full table ends
// the program through FatalErrorExit.
int CreateGraphFromImageData(const BASEIMAGE* rgbImage, const BASEIMAGE* alphaImage, int flag3,
                             int flag4, int flag5);
// A new graph made from an image file held in memory (any format the image readers accept).
// The further flags are accepted and not read. The handle, or -1.
int CreateGraphFromImageFile(const void* data, size_t size, int flag3, int flag4, int flag5,
                             int flag6);
// The graphs of model textures, from images and from an image file in memory: as the two above,
// except that a full table gives -1 (nothing changed), so that a file with too many textures
// fails its load instead of ending the program.
int CreateModelTextureGraph(const BASEIMAGE* rgbImage, const BASEIMAGE* alphaImage);
int CreateModelTextureGraphFromFile(const void* data, size_t size);
// Refill an existing graph from images of its own size (an image of another size gives -1 and
// leaves the graph as it was). 0, or -1.
int ReCreateGraphFromImageData(const BASEIMAGE* rgbImage, const BASEIMAGE* alphaImage, int handle,
                               int flag4, int flag5, int flag6);
int ReCreateGraphFromImageFile(const void* data, size_t size, int handle, int flag4, int flag5,
                               int flag6, int flag7);
// Records the texture block limit (flag 1: size; flag 0: the device maximum). Textures are never
// split on this platform, so nothing else changes. Returns 0.
int SetTextureSizeLimit(int flag, int size);
// The recorded limit: flag and size.
void GetTextureSizeLimit(int* flag, int* size);
// Direct3D mode: the device texture of a live graph, or null.
D3DTexture* GetGraphTexture(int handle);
// Device restore: releases every graph texture / re-creates each at its handle and size and
// refills it from its host copy (a graph whose texture cannot be made is left without one).
void ReleaseAllGraphTextures();
void RestoreAllGraphTextures();
// Deletes a graph. When it is the current blend graph, SoftBlendGraph becomes null; when it is the
// current draw target, the target returns to the screen. 0, or -1 for a handle that is not live.
int DeleteGraph(int handle, int flag = 0);
// Deletes every graph (at graphics end).
void DeleteAllGraphs();
// Size in pixels of a live graph, or of the screen for DX_SCREEN_BACK and DX_SCREEN_FRONT; null
// pointers are skipped. 0, or -1 for a handle that is not a live graph.
int GetGraphSize(int handle, int* width, int* height);
// The record of a live graph, or null.
GRAPH_RECORD* GetGraphRecord(int handle);

// Sets the blend graph: -1 none; else a live graph whose blue channel (5-bit blue widened to 8
// bits on 16-bit surfaces, palette entries looked up) is copied into its format-2 blend surface,
// made on first use. SoftBlendGraph points at that surface and MemImgBlendGraphTable is rebuilt
// from border and range (each limited to 0..255). 0, or -1 (nothing changed) for a handle that is
// not a live graph or when the surface cannot be made.
int SetBlendGraph(int handle, int border, int range);
// Chooses the draw target: DX_SCREEN_BACK or DX_SCREEN_FRONT the screen, else (software mode
// only) a live graph's surface; DrawArea becomes the whole target. Then places the view for the
// target's size (PlaceDrawScreenView), in both modes. 0, or -1 (nothing changed).
int SetDrawScreen(int handle);
