#pragma once
// Rounding helpers with the semantics the engine relies on. Round() is to nearest with
// ties to even; Trunc/Floor/Ceil name the direction so that the sign never surprises.

#include <cmath>
#include <cstdint>

namespace dtp {

inline int64_t Round(double v) { return static_cast<int64_t>(std::nearbyint(v)); }
inline int64_t Trunc(double v) { return static_cast<int64_t>(std::trunc(v)); }
inline int64_t Floor(double v) { return static_cast<int64_t>(std::floor(v)); }
inline int64_t Ceil(double v) { return static_cast<int64_t>(std::ceil(v)); }

// Integer division truncating toward zero, as the engine's `div` does.
inline int64_t Div(int64_t a, int64_t b) { return a / b; }

constexpr double kPi = 3.14159265358979323846;
inline double DegToRad(double deg) { return deg * kPi / 180.0; }

} // namespace dtp
