// Feeds arbitrary bytes to LzDecode: first the head check alone, then a full decode into a
// buffer of exactly the claimed size (bounded) and into one a byte too small.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <qzlib/file/lz.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int claimed = LzDecode(data, size, nullptr, 0);
  if (claimed < 0 || claimed > (1 << 22)) return 0;
  // exact-size heap buffer, so that any write past the claimed size is caught
  std::vector<uint8_t> out(static_cast<size_t>(claimed) + (claimed == 0 ? 1 : 0));
  int got = LzDecode(data, size, out.data(), static_cast<size_t>(claimed));
  if (got != -1 && got != claimed) std::abort();
  if (claimed > 0) {
    std::vector<uint8_t> small(static_cast<size_t>(claimed - 1) + 1);
    if (LzDecode(data, size, small.data(), static_cast<size_t>(claimed - 1)) != -1) std::abort();
  }
  return 0;
}
