#pragma once
// Helpers the raster format readers and writers share; not part of the public API.

#include <cstdint>
#include <vector>

#include "engine/graphics/raster_formats.h"

namespace dtp::raster {

// Raises ERasterError(kMsgImageTooLarge) unless a width x height picture of 4-byte
// pixels is within the decoding limits (sides, pixel count, bytes). Sides <= 0 are
// rejected as "Image file is corrupted".
void CheckPictureSize(int64_t width, int64_t height);

// The bytes from the stream's position to its end; raises when they exceed the largest
// encoded picture accepted. The stream position is left at its end.
std::vector<uint8_t> ReadRest(TRasterStream& stream);

// Puts a decoded picture into the caller's bitmap, keeping the caller's drawing settings
// (outer colour, master alpha, modes); frees the decoded one.
void AdoptPixels(TBitmap32& target, TBitmap32&& decoded);

inline TColor32 ArgbOf(uint8_t a, uint8_t r, uint8_t g, uint8_t b) {
  return TColor32(a) << 24 | TColor32(r) << 16 | TColor32(g) << 8 | TColor32(b);
}

} // namespace dtp::raster
