// Adding frames: the frame list is the frame tree in depth-first pre-order with every index its
// place, checked against the tree itself after every add; and adding visits frames in proportion
// to the frames added, directly and through the X and MQO readers.
#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <qzlib/model/model_readers.h>
#include "tests/support/readmodel_builder.h"
#include "tests/support/test_support.h"

namespace {

class ReadModelFramesTest : public LeakCheckedTest {};

// The frames in pre-order of the tree, built from the parent links and the order of adding alone.
std::vector<const ReadModelFrame*> PreOrder(const std::vector<const ReadModelFrame*>& added) {
  std::vector<const ReadModelFrame*> out;
  std::function<void(const ReadModelFrame*)> visit = [&](const ReadModelFrame* f) {
    out.push_back(f);
    for (const ReadModelFrame* c : added)
      if (c->Parent == f) visit(c);
  };
  for (const ReadModelFrame* f : added)
    if (!f->Parent) visit(f);
  return out;
}

// Expects the list, both ways, its indices, count and ends to be the tree's pre-order.
void ExpectListIsPreOrder(const ReadModel* rm, const std::vector<const ReadModelFrame*>& added, uint32_t seed) {
  const std::vector<const ReadModelFrame*> want = PreOrder(added);
  std::vector<const ReadModelFrame*> got;
  for (const ReadModelFrame* f = rm->FirstFrame; f && got.size() <= want.size(); f = f->Next) {
    EXPECT_EQ(f->Index, static_cast<int>(got.size())) << seed;
    EXPECT_EQ(f->Prev, got.empty() ? nullptr : got.back()) << seed;
    got.push_back(f);
  }
  EXPECT_TRUE(got == want) << seed;
  EXPECT_EQ(rm->FrameCount, static_cast<int>(want.size())) << seed;
  EXPECT_EQ(rm->LastFrame, want.empty() ? nullptr : want.back()) << seed;
}

TEST_F(ReadModelFramesTest, RandomTreesKeepTheListInPreOrder) {
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    std::mt19937 rng(seed);
    OwnedReadModel rm;
    std::vector<const ReadModelFrame*> added;
    std::vector<ReadModelFrame*> frames;
    const int n = 1 + static_cast<int>(rng() % 40);
    for (int i = 0; i < n; ++i) {
      // parents: none, the last frame, a recent one (as readers do), or any (as PMD bones may)
      ReadModelFrame* parent = nullptr;
      const uint32_t kind = rng() % 4;
      if (!frames.empty() && kind == 1) parent = frames.back();
      if (!frames.empty() && kind == 2) parent = frames[frames.size() - 1 - rng() % std::min<size_t>(frames.size(), 3)];
      if (!frames.empty() && kind == 3) parent = frames[rng() % frames.size()];
      ReadModelFrame* f = ReadModelAddFrame(rm.get(), std::to_string(i).c_str(), parent);
      ASSERT_NE(f, nullptr);
      EXPECT_EQ(f->Parent, parent);
      frames.push_back(f);
      added.push_back(f);
      ExpectListIsPreOrder(rm.get(), added, seed);
      if (HasFailure()) return;
    }
  }
}

// Frames visited by the adds of make, which returns the number of frames it added.
uint64_t VisitsOf(const std::function<int(ReadModel*)>& make, int* frames) {
  OwnedReadModel rm;
  const uint64_t before = ReadModelWorkCount().FrameVisits;
  *frames = make(rm.get());
  EXPECT_EQ(rm->FrameCount, *frames);
  return ReadModelWorkCount().FrameVisits - before;
}

// Frame shapes of the readers, at sizes where renumbering the whole list per add took well over
// ten seconds.
TEST_F(ReadModelFramesTest, AddingFramesVisitsFramesInProportion) {
  const int n = 100000;
  struct Case {
    const char* what;
    std::function<int(ReadModel*)> make;
  } cases[] = {
      {"top-level frames",
       [&](ReadModel* rm) {
         for (int i = 0; i < n; ++i) ReadModelAddFrame(rm, "", nullptr);
         return n;
       }},
      {"a chain",
       [&](ReadModel* rm) {
         ReadModelFrame* p = nullptr;
         for (int i = 0; i < n; ++i) p = ReadModelAddFrame(rm, "", p);
         return n;
       }},
      {"a chain whose frames each hold a mesh frame first",
       [&](ReadModel* rm) {
         ReadModelFrame* p = nullptr;
         for (int i = 0; i < n; ++i) {
           p = ReadModelAddFrame(rm, "", p);
           ReadModelAddFrame(rm, "mesh", p);
         }
         return 2 * n;
       }},
      {"objects by depth, up and down",
       [&](ReadModel* rm) {
         std::vector<ReadModelFrame*> depth;
         std::mt19937 rng(7);
         for (int i = 0; i < n; ++i) {
           size_t d = rng() % (depth.size() + 1);
           if (rng() % 4 == 0) d = depth.size();  // deeper
           depth.resize(d);
           depth.push_back(ReadModelAddFrame(rm, "", d ? depth[d - 1] : nullptr));
         }
         return n;
       }},
  };
  for (const Case& c : cases) {
    int frames = 0;
    const uint64_t visits = VisitsOf(c.make, &frames);
    EXPECT_LE(visits, 2u * static_cast<uint64_t>(frames)) << c.what;
  }
}

// Frames visited while a reader reads data, the conversion stopped.
uint64_t ReaderVisits(int (*reader)(const void*, size_t, const char*, const char*, const char*),
                      const std::string& data, int* frames) {
  const uint64_t before = ReadModelWorkCount().FrameVisits;
  SetReadModelObserver(
      [](const ReadModel* rm, const char*, void* user) {
        *static_cast<int*>(user) = rm->FrameCount;
        return 1;
      },
      frames);
  reader(data.data(), data.size(), "dir/model", "model", "dir");
  SetReadModelObserver(nullptr, nullptr);
  return ReadModelWorkCount().FrameVisits - before;
}

std::string XFrames(int n, bool meshReference) {
  std::string s = "xof 0303txt 0032\n";
  if (meshReference) s += "Mesh m { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }\n";
  for (int i = 0; i < n; ++i) s += meshReference ? "Frame { {m} }\n" : "Frame { }\n";
  return s;
}

std::string MqoObjects(int n, bool chain) {
  std::string s = "Metasequoia Document\r\nFormat Text Ver 1.0\r\n";
  for (int i = 0; i < n; ++i)
    s += "Object \"o" + std::to_string(i) + "\" {\r\n\tdepth " + std::to_string(chain ? i : 0) + "\r\n}\r\n";
  return s + "Eof\r\n";
}

TEST_F(ReadModelFramesTest, ReadersAddFramesInProportion) {
  struct Case {
    const char* what;
    int (*reader)(const void*, size_t, const char*, const char*, const char*);
    std::string data;
    int frames;
  } cases[] = {
      {"unnamed X frames", LoadXFileModel, XFrames(60000, false), 60000},
      {"X frames that each reference a mesh", LoadXFileModel, XFrames(30000, true), 60000},
      {"MQO objects", LoadMqoModel, MqoObjects(60000, false), 60000},
      {"an MQO chain", LoadMqoModel, MqoObjects(60000, true), 60000},
  };
  for (const Case& c : cases) {
    int frames = 0;
    const uint64_t visits = ReaderVisits(c.reader, c.data, &frames);
    EXPECT_EQ(frames, c.frames) << c.what;
    EXPECT_LE(visits, 2u * static_cast<uint64_t>(c.frames)) << c.what;
  }
}

}  // namespace
