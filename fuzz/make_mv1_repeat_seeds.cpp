// Writes the MV1 fuzz seeds that repeat frames and faces (literal-only blocks, so that the
// fuzzer's mutations reach the records), and checks that the reader accepts each. Built by hand
// against a release tree, from the repository root:
//   g++ -std=c++17 -I. -Ibuild/release/generated fuzz/make_mv1_repeat_seeds.cpp \
//       build/release/libtest_support.a build/release/libqzlib_*.a (in layer order) -lpng -ljpeg -lz
//   ./a.out fuzz/corpus/mv1_fuzz
#include <cstdio>
#include <string>

#include <qzlib/base/draw_state.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_readers.h>
#include "tests/support/mv1_writer.h"
static void Save(const char* path, const std::vector<uint8_t>& b) {
  int h = LoadMV1ToModelBase(b.data(), b.size(), "x.mv1", "x", "./");
  std::printf("%s: %zu bytes, base %d\n", path, b.size(), h);
  if (h >= 0) MV1DeleteModelBase(h);
  FILE* f = std::fopen(path, "wb"); std::fwrite(b.data(), 1, b.size(), f); std::fclose(f);
}
int main(int, char** argv) {
  std::string dir = argv[1];
  UseDirect3DFlag = 1; InitModelSystem();
  Mv1WLayout lit; lit.literalsOnly = true;
  { // a chain of frames, each with a quad
    Mv1WScene s; s.materials.resize(1); s.materials[0].name = "m";
    for (int i = 0; i < 60; ++i) { Mv1WFrame f; f.parent = i - 1; f.name = "f" + std::to_string(i); f.translate = {0, 1, 0}; s.frames.push_back(f); }
    for (int i = 0; i < 60; i += 4) Mv1AddQuad(&s, i, 0, 1.0f);
    Save((dir + "/repeat_chain").c_str(), WriteMv1(s, lit).file);
  }
  { // sibling frames
    Mv1WScene s; s.materials.resize(1); s.materials[0].name = "m";
    Mv1WFrame root; root.name = "root"; s.frames.push_back(root);
    for (int i = 0; i < 80; ++i) { Mv1WFrame f; f.parent = 0; f.name = "s" + std::to_string(i); s.frames.push_back(f); }
    Mv1AddQuad(&s, 0, 0, 1.0f);
    Save((dir + "/repeat_siblings").c_str(), WriteMv1(s, lit).file);
  }
  { // one quad's triangles repeated
    Mv1WScene s; s.materials.resize(1); s.materials[0].name = "m";
    Mv1WFrame root; root.name = "root"; s.frames.push_back(root);
    Mv1AddQuad(&s, 0, 0, 1.0f);
    std::vector<uint16_t> idx;
    for (int i = 0; i < 600; ++i) { idx.push_back(0); idx.push_back(2); idx.push_back(1); }
    s.meshes[0].lists[0].indices = idx;
    Save((dir + "/repeat_faces").c_str(), WriteMv1(s, lit).file);
  }
  return 0;
}
