// Files for the model loading tests, benchmarks and demonstration: raw BGRA images and plain
// files written into the current directory (or any engine path).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

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
