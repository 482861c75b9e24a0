// Unpacks arbitrary bytes with the packing primitives; whatever unpacks must pack and
// unpack back to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <exception>

#include "engine/graphics/raster_formats.h"
#include "engine/graphics/raster_pack.h"

namespace {

void Check(const std::vector<uint8_t>& bytes) {
  if (dtp::UnpackBytes(dtp::PackBytes(bytes), bytes.size()) != bytes) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> in(data, size);
  constexpr size_t kMax = 1 << 20;
  try {
    Check(dtp::UnpackBytes(in, kMax));
  } catch (const dtp::ERasterError&) {
  }
  try {
    Check(dtp::SymbolUnpack(in, kMax));
  } catch (const dtp::ERasterError&) {
  }
  try {
    Check(dtp::RunUnpack(in, kMax));
  } catch (const dtp::ERasterError&) {
  }
  // The input itself as plain data.
  Check(std::vector<uint8_t>(data, data + size));
  return 0;
}
