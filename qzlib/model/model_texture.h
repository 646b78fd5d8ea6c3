// Model textures: loading a texture from its colour and alpha files (with the built-in white
// fall-back and normal maps made from height maps), the three built-in textures, the re-upload of
// every model texture after a device restore, and the whole-file read the loaders share.
#pragma once
#include <cstddef>
#include <cstdint>

struct BASEIMAGE;

// The built-in images, TGA files of image type 10 kept in the program: the 8 x 8 opaque white
// image (84 bytes; also the fall-back of a missing texture file) and the two 256 x 8 grey ramps
// (172 bytes each; columns 0-63, 64-127, 128-191, 192-255 hold 0, 85, 170, 255).
enum : int {
  MV1_BUILTIN_TEXTURE_WHITE = 0,
  MV1_BUILTIN_TEXTURE_DIFFUSE_GRAD = 1,
  MV1_BUILTIN_TEXTURE_SPECULAR_GRAD = 2,
  MV1_BUILTIN_TEXTURE_NUM = 3,
};
// The TGA bytes of a built-in image and their count.
const unsigned char* MV1BuiltinTextureImage(int which, size_t* size);
// Graph handles of the built-in textures: -1 until model drawing makes them on first use (from
// MV1BuiltinTextureImage); reset to -1 at model-system start. MV1RestoreTextures refills those made.
extern int MV1BuiltinTextureGraph[MV1_BUILTIN_TEXTURE_NUM];

// The most textures one model load makes: a quarter of the graph table, so that a model file
// never takes the graph handles the program's own images need.
constexpr int MV1_LOAD_TEXTURE_MAX = 8192;
// The textures a load is about to make against MV1_LOAD_TEXTURE_MAX: 0, or -1 after one log line
// (the loader's prefix, the count and the cap).
int MV1CheckLoadTextureCount(const char* prefix, uint64_t count);

// Loads a model texture. Colour and alpha paths are full paths (either may be null); the name
// copies (optional outputs) are the paths relative to the folder, tracked blocks. A missing file
// is logged and replaced by a copy of the built-in white image. The file bytes are handed out
// (tracked blocks the caller keeps for device restore) with the graph made from them and the
// semi-transparency flag. 0, or -1 with every output cleared (graph -1) and nothing left taken.
int MV1LoadTexture(void** colorData, int* colorSize, void** alphaData, int* alphaSize,
                   int* graphHandle, int* semiTransparent, char** colorNameCopy,
                   char** alphaNameCopy, const char* colorPath, const char* alphaPath,
                   const char* folder, int bumpFlag, float bumpScale);

// Decodes a texture's colour and alpha data (each optional) into images: without colour data the
// colour image is white (of the alpha image's size, or the built-in white image without either);
// with the bump flag the colour image, a height map (red channel), becomes a normal map; each
// side that is not a power of two is stretched to the next one (filtered); last the alpha image
// is stretched to the colour image's size when the two differ. On 0 both images are set (alpha
// cleared when there is no alpha data); -1 leaves both cleared and nothing taken.
int MV1LoadTextureFiles(BASEIMAGE* colorImage, BASEIMAGE* alphaImage, const void* colorData,
                        int colorSize, const void* alphaData, int alphaSize, int bumpFlag,
                        float bumpScale);

// The normal map of a height map (the red channel of any image): a new XRGB8 image of the same
// size, alpha 0; the right and bottom neighbours wrap. The scale is raised to 0.000001 when
// smaller. 0, or -1 with *out cleared.
int MV1MakeNormalMapFromHeightMap(const BASEIMAGE* heightMap, float bumpScale, BASEIMAGE* out);

// Re-creates the contents of the built-in graphs made so far and of every base's and model's
// texture graph from the image bytes each keeps (same handles). Failures are skipped. 0.
int MV1RestoreTextures();

// Reads a whole file through the file layer into a new tracked block (the caller frees it); when
// the path cannot be opened, its last component is tried. Null outputs are skipped. 0, or -1
// (nothing taken) when neither opens, memory runs out or the read comes up short.
int LoadWholeFileToMemory(const char* path, void** buffer, int* size);
