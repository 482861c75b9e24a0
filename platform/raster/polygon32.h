#pragma once
// Polygons of one or more contours in 16.16 fixed-point pixel coordinates, filled with
// antialiasing by the even-odd or the non-zero rule, and turned into the outline of a
// line drawn along their contours. Pixel (i, j) covers [i, i+1) × [j, j+1).
//
// Coverage comes from FreeType's smooth rasteriser and stroke outlines from its stroker;
// putting the coverage into ARGB pixels is ours (the target bitmap's CombineMode, the
// coverage acting as master alpha).

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/core/color.h"
#include "platform/core/geometry.h"
#include "platform/raster/bitmap32.h"
#include "platform/raster/fixed.h"

namespace dtp {

// pfAlternate: even-odd rule; pfWinding: non-zero rule.
enum TPolyFillMode : uint8_t { pfAlternate, pfWinding };

class TPolygon32 {
public:
  using TContour = std::vector<TFixedPoint>;

  TPolygon32() { Clear(); }

  // Without antialiasing a pixel is either set (at least half covered) or left alone.
  bool Antialiased = true;
  // Contours join their last point to their first when outlined or edged; filling always
  // treats them as closed.
  bool Closed = true;
  TPolyFillMode FillMode = pfAlternate;

  // Leaves one empty contour.
  void Clear();
  // Appends a point to the last contour.
  void Add(TFixedPoint p) { m_Points.back().push_back(p); }
  void Add(double x, double y) { Add(FixedPoint(x, y)); }
  // Starts a new contour (an empty last contour is reused).
  void NewLine();

  // Contours for reading and for transforming in place; there is always at least one.
  const std::vector<TContour>& Points() const { return m_Points; }
  std::vector<TContour>& Points() { return m_Points; }
  size_t ContourCount() const { return m_Points.size(); }
  size_t PointCount() const;

  // Smallest pixel rectangle holding every point; empty when there is no point.
  TRect BoundsRect() const;

  // Calls sink(y, x, length, coverage) for each run of equally covered pixels inside clip
  // (coverage 1..255; 255 = fully inside). Raises EDtpError when the rasteriser fails.
  using TSpanSink = std::function<void(int y, int x, int length, uint8_t coverage)>;
  void Render(const TRect& clip, const TSpanSink& sink) const;

  // Fills the polygon into the bitmap with the colour, each pixel by its coverage.
  void DrawFill(TBitmap32& bitmap, TColor32 color) const;
  // Draws every contour as an antialiased line one pixel wide (closed when Closed).
  void DrawEdge(TBitmap32& bitmap, TColor32 color) const;

  // The area of a line of half-width halfWidth (16.16 pixels) along every contour, as a
  // new antialiased non-zero polygon with this polygon's Closed flag. Joins are mitred
  // while the mitre stays within (1 + 2 * edgeSharpness) half-widths of the corner and
  // bevelled beyond; open contours get round ends. halfWidth <= 0 gives an empty polygon.
  TPolygon32 StrokeOutline(TFixed halfWidth, float edgeSharpness = 0.5f) const;

private:
  std::vector<TContour> m_Points;
};

} // namespace dtp
