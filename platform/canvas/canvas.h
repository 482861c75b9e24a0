#pragma once
// A drawing canvas on a TBitmap32 in the manner of the window system's device contexts:
// integer pixel coordinates, aliased drawing, right and bottom edges of rectangles and
// ellipses excluded, a line's last pixel not drawn. Like those contexts it writes colours
// with alpha 0 (or XORs only the colour bits); callers that want the touched pixels
// opaque invert the alpha bytes around the drawing.
//
// Pens of width 1 draw one-pixel lines with the dash styles; wider pens are solid and
// centred on the path. A dash pattern starts at the first pixel of every drawing call and
// runs on from segment to segment within it. Brushes fill the inside of rectangles, ellipses and
// polygons (even-odd rule). The pen and brush modes apply to both.

#include <cstdint>
#include <span>
#include <vector>

#include "platform/core/color.h"
#include "platform/core/geometry.h"
#include "platform/raster/bitmap32.h"

namespace dtp {

enum TPenStyle : uint8_t { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear };
// pmCopy writes the pen colour, pmXor exclusive-ors it into the pixel.
enum TPenMode : uint8_t { pmCopy, pmXor };
enum TBrushStyle : uint8_t { bsSolid, bsClear };

struct TPen {
  TColor Color = clBlack;
  int Width = 1; // 0 counts as 1
  TPenStyle Style = psSolid;
  TPenMode Mode = pmCopy;
};

struct TBrush {
  TColor Color = clWhite;
  TBrushStyle Style = bsSolid;
};

class TCanvas {
public:
  explicit TCanvas(TBitmap32& bitmap) : m_Bitmap(bitmap) {}

  TPen Pen;
  TBrush Brush;

  TBitmap32& Bitmap() { return m_Bitmap; }

  TPoint PenPos() const { return m_PenPos; }
  void MoveTo(int x, int y);
  // A line from the pen position to (x, y), the end pixel excluded; the pen moves there.
  void LineTo(int x, int y);
  // Lines through the points, the last pixel excluded; the pen position is not used.
  void Polyline(std::span<const TPoint> points);
  // The closed outline through the points with the pen, its inside with the brush.
  void Polygon(std::span<const TPoint> points);
  // [x1, x2) × [y1, y2): outline with the pen, inside with the brush.
  void Rectangle(int x1, int y1, int x2, int y2);
  // The ellipse inscribed in [x1, x2) × [y1, y2).
  void Ellipse(int x1, int y1, int x2, int y2);
  // Fills [Left, Right) × [Top, Bottom) with the brush colour (copy, whatever the mode).
  void FillRect(const TRect& r);

  // The pixel's colour as a TColor (0x00BBGGRR); -1 outside the bitmap.
  TColor Pixel(int x, int y) const;
  void SetPixel(int x, int y, TColor color);

private:
  class TMask;
  void PenLine(TMask& mask, TPoint a, TPoint b, bool lastPixel);
  void PenPath(TMask& mask, std::span<const TPoint> points, bool closed);
  void Apply(const TMask& mask);

  TBitmap32& m_Bitmap;
  TPoint m_PenPos;
  int64_t m_DashPos = 0; // position in the dash pattern within one drawing call
};

} // namespace dtp
