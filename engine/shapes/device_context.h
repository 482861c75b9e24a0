#pragma once
// The record every render call carries: what kind of device is drawn for, at which
// resolutions, with which resampling kernel.

#include "platform/core/color.h"
#include "platform/raster/bitmap32.h"

namespace dtp {

enum TDeviceType : uint8_t { dtScreen, dtPrinter, dtTransparent };

struct TDeviceContext {
  TDeviceType Device = dtScreen;
  TColor32 BackColor = 0; // the page colour with alpha 0
  float ScreenDpm = 0;    // pixels per mm of the bitmap being painted
  float RenderDpm = 0;    // resolution caches are built at
  TStretchFilter Quality = sfLinear;
  bool DropCaches = false;
  bool ExactResolution = false;
};

} // namespace dtp
