#pragma once
// The body shared by the per-format reader fuzz targets: decode arbitrary bytes at a small
// size limit, then write the picture losslessly and read it again; the second read must
// give the same pixels.

#include <cstdint>
#include <cstdlib>
#include <exception>

#include "engine/graphics/raster_formats.h"

template <class TReader> int FuzzRasterReader(const uint8_t* data, size_t size) {
  dtp::TBitmap32 bmp;
  try {
    dtp::TRasterViewStream in(std::span<const uint8_t>(data, size));
    TReader reader;
    reader.LoadFromStream(&in, bmp, 0, 256, 256);
  } catch (const std::exception&) {
    return 0;
  }
  if (bmp.Empty()) return 0;
  dtp::TRasterMemoryStream out;
  dtp::TQzpImage qzp;
  qzp.SaveToStream(&out, bmp);
  out.SetPosition(0);
  dtp::TBitmap32 again;
  qzp.LoadFromStream(&out, again, 0, 0, 0);
  for (int y = 0; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x)
      if (again.Pixel(x, y) != bmp.Pixel(x, y)) std::abort();
  return 0;
}
