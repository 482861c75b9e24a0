#pragma once
// A shape for render tests: paints its frame as a solid rectangle (optionally with its
// top-left quarter in a second colour, so turns and mirrors show) and counts its paints.

#include "engine/shapes/shape.h"
#include "platform/raster/bitmap32.h"

namespace dtp::test {

class TSolidShape : public TdtpShape {
public:
  explicit TSolidShape(TColor32 c = 0xFFFF0000u, TColor32 corner = 0)
      : m_Color(c), m_Corner(corner) {}
  void Paint(TBitmap32& bitmap, const TDeviceContext&) override {
    ++Paints;
    bitmap.FillRect(DeviceLeft(), DeviceTop(), DeviceRight(), DeviceBottom(), m_Color);
    if (m_Corner)
      bitmap.FillRect(DeviceLeft(), DeviceTop(), (DeviceLeft() + DeviceRight()) / 2,
                      (DeviceTop() + DeviceBottom()) / 2, m_Corner);
  }
  int Paints = 0;

private:
  TColor32 m_Color, m_Corner;
};

} // namespace dtp::test
