#pragma once
// Pictures and picture files for the resource tests.

#include <string>

#include "engine/graphics/raster_formats.h"
#include "engine/persistence/resource.h"
#include "platform/raster/bitmap32.h"

namespace dtp::test {

inline TBitmap32 SolidPicture(int w, int h, TColor32 color) {
  TBitmap32 b(w, h);
  b.Clear(color);
  return b;
}

// A picture whose every pixel differs from its neighbours.
inline TBitmap32 PatternPicture(int w, int h, uint32_t seed = 1) {
  TBitmap32 b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      b.SetPixel(x, y, 0xFF000000u | ((uint32_t(x * 37 + y * 11) * 2654435761u + seed) >> 8));
  return b;
}

// Writes the picture in the format of the file's extension.
inline void WritePictureFile(const std::string& path, const TBitmap32& picture) {
  TdtpImageFiler filer;
  filer.SetFileName(path);
  filer.Save(&picture);
}

inline bool SamePixels(const TBitmap32& a, const TBitmap32& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (a.Pixel(x, y) != b.Pixel(x, y)) return false;
  return true;
}

} // namespace dtp::test
