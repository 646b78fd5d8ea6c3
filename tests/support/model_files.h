// Files for the model loading tests, benchmarks and demonstration: raw BGRA images and plain
// files written into the current directory (or any engine path).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include <qzlib/model/model_base.h>
#include "tests/support/test_support.h"

struct MV1Model;

// The engine's raw image format: "BGRA", width, height, then B, G, R, A per pixel.
std::vector<uint8_t> BgraFile(int width, int height, const std::vector<uint32_t>& argb);
// An image of one colour.
std::vector<uint8_t> BgraFileFilled(int width, int height, uint32_t argb);
// Writes bytes to an engine path (Shift_JIS, either separator); the folder must exist.
bool WriteEngineFile(const std::string& enginePath, const std::vector<uint8_t>& bytes);
// Makes a folder given as an engine path (its parent must exist).
bool MakeEngineFolder(const std::string& enginePath);
// Removes a file or an empty folder given as an engine path.
void RemoveEnginePath(const std::string& enginePath);

// What a loaded model holds on the device, to compare across a device loss: every base list's
// vertex and index buffer bytes (lists with a buffer record, in list order), every dynamic
// vertex buffer of a model (lists that have one), every texture graph's pixels (texture order).
std::vector<std::vector<uint8_t>> DeviceBufferBytes(const MV1ModelBase* base);
std::vector<std::vector<uint8_t>> ModelDynamicBufferBytes(const MV1Model* model);
std::vector<std::vector<uint32_t>> TextureGraphPixels(const MV1ModelBase* base);

// Runs prepare (no failure injected), then attempt with the nth allocation failing, for n = 1,
// 2, ... until the hook no longer fires; after each failing attempt, cleanup runs. Unlike
// ForEachAllocationFailure an attempt may succeed (a missing file falls back, a buffer record
// that cannot be had leaves its lists on the memory path); attempt returns whether it failed,
// and the tracked blocks after cleanup must equal those after prepare. Returns the points
// exercised and counts the failed attempts in *failures. As there, the read model's requests
// take a block each.
template <class P, class A, class C>
int ForEachAllocationFailureTolerant(P prepare, A attempt, C cleanup, int* failures = nullptr) {
  ScopedBlockSharing eachRequestABlock(false);
  for (long n = 1; n < 100000; ++n) {
    prepare();
    size_t before = MemLiveBlockCount();
    uint64_t attemptsBefore = MemAllocAttempts();
    MemSetFailAt(n);
    bool failed = attempt();
    uint64_t used = MemAllocAttempts() - attemptsBefore;
    MemSetFailAt(0);
    if (failed && failures) ++*failures;
    cleanup();
    EXPECT_EQ(MemLiveBlockCount(), before) << "leak after failing allocation " << n;
    if (static_cast<long>(used) < n) return static_cast<int>(n - 1);
  }
  return -1;
}
