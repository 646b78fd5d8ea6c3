// Whole model loads beside the distribution's peer importer (libassimp, when the build found it),
// in one binary so that every figure reads as a ratio taken in one run:
//
//   load/<work>/engine    MV1LoadModel of the file from disk, then MV1DeleteModel (CPU time)
//   load/<work>/peer      the peer's ReadFile of the same file without post-processing
//   load/<work>/peer_pp   the same with triangulation, identical-vertex joining and smooth normals
//   mem/<work>/<kind>     the same load once in a fresh child process: the peak resident memory
//                         above the child's resident memory just before the load (counter peak_KiB),
//                         and the heap the load leaves in use (counter kept_KiB: the model, for
//                         the engine its base and the device's copies of its buffers)
//
// Inputs: the test data's X files under 100 KB, each copied alone into a folder of its own below
// a scratch folder (their texture files stay behind, so every texture name is looked up and
// missed), the X files of 100 KB and more as found (with their textures) and copied alone the
// same way, and generated grids of 1,000 to 1,000,000 triangles written as MQO, as text X without
// normals and as binary X without normals (a folder per size). Counters say what scripts/bench_table.py needs for its ratio and target columns:
// group (0 small X, 1 large X as found, 2 large X untextured, 3 grid), has_normals, triangles,
// and for engine loads the vertices of the model's triangle lists.
// The scratch folder is the current directory while the benchmarks run and is removed at exit.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_engine.h"
#include <qzlib/file/file.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_base.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_load.h>
#include <qzlib/modelimport/x/xfile_parser.h>
#include "tests/support/x_test_files.h"

#ifdef HAVE_ASSIMP
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#endif

namespace {

constexpr unsigned kPeerPostProcess =
#ifdef HAVE_ASSIMP
    aiProcess_Triangulate | aiProcess_JoinIdenticalVertices | aiProcess_GenSmoothNormals;
#else
    0;
#endif

enum Group { kSmallX = 0, kLargeX = 1, kLargeXUntextured = 2, kGrid = 3 };

struct Input {
  std::string work;
  std::string path;
  Group group;
  bool normals;
  bool peerReads;  // the peer has a reader for the format
  int64_t triangles;
};

std::string ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f << bytes;
  return bool(f);
}

// Parses an X file with the engine's parser: false when refused; otherwise whether any mesh
// carries normals and how many triangles its faces make.
bool InspectX(const std::string& bytes, bool* normals, int64_t* triangles) {
  XFileObjectList list{};
  XFileAddObject(&list, XOBJ_FRAME, "XTopFrame", nullptr);
  const bool ok = ParseXFile(bytes.data(), bytes.size(), &list) == 0;
  *normals = false;
  *triangles = 0;
  for (XFileObject* o = list.first; ok && o; o = o->next) {
    if (o->type == XOBJ_MESHNORMALS) *normals = true;
    if (o->type == XOBJ_MESH)
      for (uint32_t i = 0; i < o->data.mesh.faces.count; ++i) {
        const uint32_t n = XFaceVertexCount(o->data.mesh.faces, i);
        if (n >= 3) *triangles += n - 2;
      }
  }
  FreeXFileObjectList(&list);
  return ok;
}

// A wavy grid of w x h quadrangles: (w + 1) x (h + 1) vertices with UVs, one material.
struct Grid {
  int w, h;
  double X(int x) const { return 1.0 + x * 2.0; }
  double Y(int y) const { return 1.0 + y * 2.0; }
  double Z(int x, int y) const { return 1.0 + ((x * 7 + y * 13) % 17) * 0.25; }
  int Vertex(int x, int y) const { return y * (w + 1) + x; }
};

std::string GridMqo(const Grid& g) {
  std::string s = "Metasequoia Document\r\nFormat Text Ver 1.0\r\n\r\n";
  s += "Material 1 {\r\n\t\"m\" col(1.000 1.000 1.000 1.000) dif(0.800) amb(0.600) power(5.00)\r\n}\r\n";
  // The X reader smooths across edges under 89.5 degrees; the MQO file states the same angle, so
  // that both formats make the same model of this rough grid (the vertices counter shows it).
  s += "Object \"grid\" {\r\n\tdepth 0\r\n\tfacet 89.5\r\n";
  char line[256];
  std::snprintf(line, sizeof(line), "\tvertex %d {\r\n", (g.w + 1) * (g.h + 1));
  s += line;
  for (int y = 0; y <= g.h; ++y)
    for (int x = 0; x <= g.w; ++x) {
      std::snprintf(line, sizeof(line), "\t\t%.4f %.4f %.4f\r\n", g.X(x), g.Y(y), g.Z(x, y));
      s += line;
    }
  std::snprintf(line, sizeof(line), "\t}\r\n\tface %d {\r\n", g.w * g.h);
  s += line;
  for (int y = 0; y < g.h; ++y)
    for (int x = 0; x < g.w; ++x) {
      const double u0 = double(x) / g.w, u1 = double(x + 1) / g.w;
      const double v0 = double(y) / g.h, v1 = double(y + 1) / g.h;
      std::snprintf(line, sizeof(line),
                    "\t\t4 V(%d %d %d %d) M(0) UV(%.5f %.5f %.5f %.5f %.5f %.5f %.5f %.5f)\r\n",
                    g.Vertex(x, y), g.Vertex(x + 1, y), g.Vertex(x + 1, y + 1), g.Vertex(x, y + 1),
                    u0, v0, u1, v0, u1, v1, u0, v1);
      s += line;
    }
  s += "\t}\r\n}\r\nEof\r\n";
  return s;
}

// The same grid as a text X file: one frame, one mesh, one material, per-vertex UVs, no normals.
std::string GridXText(const Grid& g) {
  std::string s = "xof 0303txt 0032\n";
  s += "Frame grid {\n FrameTransformMatrix { 1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0;; }\n";
  char line[256];
  const int vertices = (g.w + 1) * (g.h + 1), faces = g.w * g.h;
  std::snprintf(line, sizeof(line), " Mesh {\n  %d;\n", vertices);
  s += line;
  for (int y = 0; y <= g.h; ++y)
    for (int x = 0; x <= g.w; ++x) {
      std::snprintf(line, sizeof(line), "  %.4f;%.4f;%.4f;%c\n", g.X(x), g.Y(y), g.Z(x, y),
                    y == g.h && x == g.w ? ';' : ',');
      s += line;
    }
  std::snprintf(line, sizeof(line), "  %d;\n", faces);
  s += line;
  for (int y = 0; y < g.h; ++y)
    for (int x = 0; x < g.w; ++x) {
      std::snprintf(line, sizeof(line), "  4;%d,%d,%d,%d;%c\n", g.Vertex(x, y), g.Vertex(x, y + 1),
                    g.Vertex(x + 1, y + 1), g.Vertex(x + 1, y),
                    y == g.h - 1 && x == g.w - 1 ? ';' : ',');
      s += line;
    }
  std::snprintf(line, sizeof(line), "  MeshMaterialList {\n   1;\n   %d;\n", faces);
  s += line;
  for (int i = 0; i < faces; ++i) s += i + 1 == faces ? "   0;\n" : "   0,\n";
  s += "   Material { 0.8;0.8;0.8;1.0;; 20.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; }\n  }\n";
  std::snprintf(line, sizeof(line), "  MeshTextureCoords {\n   %d;\n", vertices);
  s += line;
  for (int y = 0; y <= g.h; ++y)
    for (int x = 0; x <= g.w; ++x) {
      std::snprintf(line, sizeof(line), "   %.5f;%.5f;%c\n", double(x) / g.w, double(y) / g.h,
                    y == g.h && x == g.w ? ';' : ',');
      s += line;
    }
  s += "  }\n }\n}\n";
  return s;
}

// The text grid re-written in the binary form.
std::string GridXBinary(const std::string& text) {
  XFileObjectList list{};
  XFileAddObject(&list, XOBJ_FRAME, "XTopFrame", nullptr);
  std::string out;
  if (ParseXFile(text.data(), text.size(), &list) == 0) out = XWriteBinary(list, false);
  FreeXFileObjectList(&list);
  return out;
}

std::string g_scratch;

void RemoveScratch() {
  if (g_scratch.empty()) return;
  std::string cmd = "rm -rf '" + g_scratch + "'";
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", g_scratch.c_str());
}

std::string Stem(const std::string& name) { return name.substr(0, name.rfind('.')); }

// Every input, the scratch folder made and filled on first use.
const std::vector<Input>& Inputs() {
  static const std::vector<Input> inputs = [] {
    std::vector<Input> in;
    char tmpl[] = "/tmp/qz_load_bench_XXXXXX";
    if (!mkdtemp(tmpl)) return in;
    g_scratch = tmpl;
    std::atexit(RemoveScratch);
    const std::string xDir = std::string(BENCH_TESTDATA_DIR) + "/models/x/";
    FileHandle find;
    FileFindInfo info;
    std::vector<std::string> names;
    if ((find = FileFindFirst((xDir + "*.x").c_str(), &info)) != 0) {
      do {
        if (!info.DirFlag) names.push_back(info.Name);
      } while (FileFindNext(find, &info) == 0);
      FileFindClose(find);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      const std::string bytes = ReadBytes(xDir + name);
      bool normals;
      int64_t triangles;
      if (bytes.empty() || !InspectX(bytes, &normals, &triangles) || triangles == 0) continue;
      const std::string folder = g_scratch + "/" + Stem(name);
      const std::string copy = folder + "/" + name;
      if (mkdir(folder.c_str(), 0755) != 0 || !WriteBytes(copy, bytes)) continue;
      if (bytes.size() < 100 * 1024) {
        in.push_back({"x_small_" + Stem(name), copy, kSmallX, normals, true, triangles});
      } else {
        in.push_back({"x_large_" + Stem(name), xDir + name, kLargeX, normals, true, triangles});
        in.push_back({"x_untex_" + Stem(name), copy, kLargeXUntextured, normals, true, triangles});
      }
    }
    for (int side : {22, 71, 224, 707}) {  // 968 to 999,698 triangles
      const Grid g{side, side};
      const std::string tag = std::to_string(int64_t(side) * side * 2);
      const std::string folder = g_scratch + "/grid" + tag;
      const std::string base = folder + "/grid" + tag;
      if (mkdir(folder.c_str(), 0755) != 0) continue;
      const std::string text = GridXText(g);
      const int64_t triangles = int64_t(side) * side * 2;
      if (WriteBytes(base + ".mqo", GridMqo(g)))
        in.push_back({"grid_mqo_" + tag, base + ".mqo", kGrid, false, false, triangles});
      if (WriteBytes(base + "_text.x", text))
        in.push_back({"grid_xtext_" + tag, base + "_text.x", kGrid, false, true, triangles});
      if (WriteBytes(base + "_bin.x", GridXBinary(text)))
        in.push_back({"grid_xbin_" + tag, base + "_bin.x", kGrid, false, true, triangles});
    }
    if (chdir(g_scratch.c_str()) != 0) std::perror("chdir");
    return in;
  }();
  return inputs;
}

void Counters(benchmark::State& state, const Input& in) {
  state.counters["group"] = in.group;
  state.counters["has_normals"] = in.normals;
  state.counters["triangles"] = double(in.triangles);
}

// The vertices of a loaded model's triangle lists (what its device buffers hold).
int64_t ListVertices(int model) {
  const MV1Model* m = MV1GetModelChecked(model);
  int64_t n = 0;
  for (int i = 0; m && i < m->BaseData->TriangleListCount; ++i) n += m->BaseData->TriangleList[i].VertexCount;
  return n;
}

void EngineLoad(benchmark::State& state, const Input& in) {
  BenchModelEngine();
  const int first = MV1LoadModel(in.path.c_str());  // handle tables and built-in textures, once
  state.counters["vertices"] = double(ListVertices(first));
  MV1DeleteModel(first);
  for (auto _ : state) {
    const int h = MV1LoadModel(in.path.c_str());
    if (h < 0) {
      state.SkipWithError("refused");
      break;
    }
    MV1DeleteModel(h);
  }
  Counters(state, in);
}

#ifdef HAVE_ASSIMP
void PeerLoad(benchmark::State& state, const Input& in, unsigned flags) {
  Assimp::Importer importer;
  for (auto _ : state) {
    const aiScene* scene = importer.ReadFile(in.path, flags);
    if (!scene) {
      state.SkipWithError("peer refused the file");
      break;
    }
    benchmark::DoNotOptimize(scene);
    importer.FreeScene();
  }
  Counters(state, in);
}
#endif

// VmRSS or VmHWM of this process in KiB, or -1.
long StatusKiB(const char* field) {
  std::ifstream f("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(field);
  while (std::getline(f, line))
    if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':') return std::atol(line.c_str() + n + 1);
  return -1;
}

// Heap bytes in use (from the C library's statistics), in KiB.
long HeapInUseKiB() {
  const struct mallinfo2 mi = mallinfo2();
  return long((mi.uordblks + mi.hblkhd) >> 10);
}

// The child's side: start what the load needs, reset the peak to the present, load once and
// print the peak above the start and the heap the load left in use, in KiB. The exit status
// is 0 when the load succeeded.
int ChildLoad(const char* kind, const char* path) {
  const bool engine = std::strcmp(kind, "engine") == 0;
  int handle = -1;
#ifdef HAVE_ASSIMP
  Assimp::Importer importer;
#endif
  if (engine) BenchModelEngine();
  {
    std::ofstream reset("/proc/self/clear_refs");
    reset << "5";  // the peak resident size becomes the present one
  }
  const long start = StatusKiB("VmRSS");
  const long heapStart = HeapInUseKiB();
  bool ok = false;
  if (engine) {
    handle = MV1LoadModel(path);
    ok = handle >= 0;
  } else {
#ifdef HAVE_ASSIMP
    ok = importer.ReadFile(path, std::strcmp(kind, "peer_pp") == 0 ? kPeerPostProcess : 0) != nullptr;
#endif
  }
  const long peak = StatusKiB("VmHWM");
  std::printf("%ld %ld\n", start < 0 || peak < 0 ? -1 : peak - start, HeapInUseKiB() - heapStart);
  std::fflush(stdout);
  (void)handle;
  _exit(ok ? 0 : 1);
}

// Runs this program as a child loading the file once: its peak in KiB, or -1, and the heap it
// kept in *kept.
long ChildPeak(const char* kind, const std::string& path, long* kept) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    execl("/proc/self/exe", "load_peer_bench", "--load-child", kind, path.c_str(), (char*)nullptr);
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  char buf[64];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof(buf))) > 0) out.append(buf, size_t(n));
  close(fds[0]);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1;
  char* end = nullptr;
  const long peak = std::strtol(out.c_str(), &end, 10);
  *kept = std::strtol(end, nullptr, 10);
  return peak;
}

void MemoryPeak(benchmark::State& state, const Input& in, const char* kind) {
  long kib = -1, kept = -1;
  for (auto _ : state) kib = ChildPeak(kind, in.path, &kept);
  if (kib < 0) state.SkipWithError("child load failed");
  state.counters["peak_KiB"] = double(kib);
  state.counters["kept_KiB"] = double(kept);
  Counters(state, in);
}

// Files the engine refuses are left out: nothing to compare (and the peer's reader has crashed
// on the test data's deliberately damaged file).
bool EngineLoads(const Input& in) {
  BenchModelEngine();
  const int h = MV1LoadModel(in.path.c_str());
  MV1DeleteModel(h);
  return h >= 0;
}

void RegisterAll() {
  for (const Input& in : Inputs()) {
    if (in.group != kGrid && !EngineLoads(in)) continue;
    const std::string load = "load/" + in.work + "/";
    if (in.group != kLargeXUntextured)
      benchmark::RegisterBenchmark((load + "engine").c_str(), EngineLoad, in)->Unit(benchmark::kMicrosecond);
#ifdef HAVE_ASSIMP
    if (in.peerReads && in.group != kLargeXUntextured) {
      benchmark::RegisterBenchmark((load + "peer").c_str(), PeerLoad, in, 0u)->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark((load + "peer_pp").c_str(), PeerLoad, in, kPeerPostProcess)
          ->Unit(benchmark::kMicrosecond);
    }
#endif
    // memory: the untextured large files and the X grids, beside the peer
    if (in.group != kLargeXUntextured && !(in.group == kGrid && in.peerReads)) continue;
    const std::string mem = "mem/" + in.work + "/";
    for (const char* kind : {"engine", "peer", "peer_pp"}) {
#ifndef HAVE_ASSIMP
      if (std::strcmp(kind, "engine") != 0) continue;
#endif
      benchmark::RegisterBenchmark((mem + kind).c_str(), MemoryPeak, in, kind)->Iterations(1);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--load-child") == 0) return ChildLoad(argv[2], argv[3]);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RegisterAll();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
