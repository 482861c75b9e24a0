#pragma once
// Float points and rectangles in millimetres, integer ones for pixels.

#include <cstdint>

namespace dtp {

struct TFloatPoint {
  float X = 0;
  float Y = 0;
  bool operator==(const TFloatPoint&) const = default;
};

struct TFloatRect {
  float Left = 0;
  float Top = 0;
  float Right = 0;
  float Bottom = 0;
  bool operator==(const TFloatRect&) const = default;
  float Width() const { return Right - Left; }
  float Height() const { return Bottom - Top; }
};

struct TPoint {
  int32_t X = 0;
  int32_t Y = 0;
  bool operator==(const TPoint&) const = default;
};

struct TRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;
  bool operator==(const TRect&) const = default;
  int32_t Width() const { return Right - Left; }
  int32_t Height() const { return Bottom - Top; }
};

} // namespace dtp
