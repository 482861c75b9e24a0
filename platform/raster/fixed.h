#pragma once
// 16.16 fixed-point coordinates, the unit of polygon contours (value × 65536).

#include <cmath>
#include <cstdint>

namespace dtp {

using TFixed = int32_t;

constexpr TFixed kFixedOne = 65536;

struct TFixedPoint {
  TFixed X = 0;
  TFixed Y = 0;
  bool operator==(const TFixedPoint&) const = default;
};

// Nearest fixed value of a float, saturated to the fixed range; NaN gives 0, so that
// coordinates from outside never turn into undefined conversions.
inline TFixed FixedFromFloat(double v) {
  if (!(v == v)) return 0;
  const double f = std::nearbyint(v * 65536.0);
  if (f >= 2147483647.0) return INT32_MAX;
  if (f <= -2147483648.0) return INT32_MIN;
  return static_cast<TFixed>(f);
}

inline double FixedToFloat(TFixed v) {
  return v / 65536.0;
}

inline TFixedPoint FixedPoint(double x, double y) {
  return {FixedFromFloat(x), FixedFromFloat(y)};
}

} // namespace dtp
