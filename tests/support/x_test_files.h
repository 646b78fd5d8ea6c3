// Helpers for the X file tests: Shift_JIS texts, file bytes, a binary token builder and a
// binary writer that turns a parsed tree back into a binary X file.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>

struct XFileObjectList;

// The CP932 bytes of a UTF-8 text (log messages are Shift_JIS).
std::string XTestSjis(const std::string& utf8);
// The whole file, or an empty string.
std::string XTestReadFile(const std::string& path);

// Binary X tokens, little-endian; float lists 4 or 8 bytes wide.
class XBinaryBuilder {
 public:
  explicit XBinaryBuilder(bool float64 = false) : float64_(float64) {}
  static std::string Raw16(uint16_t v);
  static std::string Raw32(uint32_t v);
  std::string Name(const std::string& s) const { return Raw16(1) + Raw32(static_cast<uint32_t>(s.size())) + s; }
  std::string String(const std::string& s) const { return Raw16(2) + Raw32(static_cast<uint32_t>(s.size())) + s + Raw16(0x14); }
  std::string Guid() const { return Raw16(5) + std::string(16, '\x11'); }
  std::string Open() const { return Raw16(10); }
  std::string Close() const { return Raw16(11); }
  std::string Ints(std::initializer_list<uint32_t> v) const;
  std::string Floats(std::initializer_list<double> v) const;
  std::string IntList(const uint32_t* v, size_t n) const;
  std::string FloatList(const float* v, size_t n) const;

 private:
  bool float64_;
};

// Writes a parsed tree (below its first object, the synthetic top frame) as a binary X file with
// float size "0032" or "0064": every object with its name, data and references.
std::string XWriteBinary(const XFileObjectList& list, bool float64);
