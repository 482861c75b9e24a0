#include "platform/raster/bitmap32.h"

#include <algorithm>

#include "platform/core/errors.h"
#include "platform/core/limits.h"

namespace dtp {

void TBitmap32::SetSize(int width, int height) {
  width = std::max(0, width);
  height = std::max(0, height);
  if (width > limits::kMaxPictureSide || height > limits::kMaxPictureSide ||
      int64_t(width) * height > limits::kMaxPicturePixels)
    throw EDtpError("Bitmap too large");
  if (width == m_Width && height == m_Height) {
    Clear(0);
    return;
  }
  m_Bits.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  m_Width = width;
  m_Height = height;
}

void TBitmap32::Clear(TColor32 color) { std::fill(m_Bits.begin(), m_Bits.end(), color); }

TColor32 TBitmap32::PixelS(int x, int y) const {
  if (x < 0 || y < 0 || x >= m_Width || y >= m_Height) return OuterColor;
  return Pixel(x, y);
}

void TBitmap32::SetPixelS(int x, int y, TColor32 c) {
  if (x < 0 || y < 0 || x >= m_Width || y >= m_Height) return;
  SetPixel(x, y, c);
}

void TBitmap32::FillRect(int x1, int y1, int x2, int y2, TColor32 color) {
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, m_Width);
  y2 = std::min(y2, m_Height);
  if (x1 >= x2 || y1 >= y2) return;
  for (int y = y1; y < y2; ++y) std::fill(ScanLine(y) + x1, ScanLine(y) + x2, color);
}

} // namespace dtp
