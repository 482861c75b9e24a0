#pragma once
// What printing needs of a printer: a job of sheets, the sheet's size and the printable
// area's offset in device pixels, and bands of pixels stretched onto device rectangles.

#include <string>

#include "platform/core/geometry.h"
#include "platform/raster/bitmap32.h"

namespace dtp {

class IPrinter {
public:
  virtual ~IPrinter() = default;
  virtual void SetTitle(const std::string& title) = 0;
  virtual void BeginDocument() = 0;
  virtual void NewPage() = 0;
  virtual void EndDocument() = 0;
  // The whole sheet and the offset of the printable area within it, in device pixels.
  virtual TPoint PhysicalSize() const = 0;
  virtual TPoint PhysicalOffset() const = 0;
  // Stretches the band (rows top first, colours without alpha) onto the device rectangle,
  // given in the coordinates of the printable area.
  virtual void StretchBand(const TBitmap32& band, const TRect& device) = 0;
};

} // namespace dtp
