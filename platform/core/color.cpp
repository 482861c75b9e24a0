#include "platform/core/color.h"

namespace dtp {

namespace {

// The classic desktop colour scheme, indexed by system colour number; values 0x00BBGGRR.
constexpr uint32_t kSystemColors[] = {
    0xC8D0D4, // 0 scroll bar
    0xA56E3A, // 1 background
    0x6A240A, // 2 active caption
    0x808080, // 3 inactive caption
    0xC8D0D4, // 4 menu
    0xFFFFFF, // 5 window
    0x000000, // 6 window frame
    0x000000, // 7 menu text
    0x000000, // 8 window text
    0xFFFFFF, // 9 caption text
    0xC8D0D4, // 10 active border
    0xC8D0D4, // 11 inactive border
    0x808080, // 12 application work space
    0x6A240A, // 13 highlight
    0xFFFFFF, // 14 highlight text
    0xC8D0D4, // 15 button face
    0x808080, // 16 button shadow
    0x808080, // 17 grey text
    0x000000, // 18 button text
    0xC8D0D4, // 19 inactive caption text
    0xFFFFFF, // 20 button highlight
    0x404040, // 21 3-D dark shadow
    0xC8D0D4, // 22 3-D light
    0x000000, // 23 info text
    0xE1FFFF, // 24 info background
    0xB5B5B5, // 25
    0x800000, // 26 hot light
    0xF0CAA6, // 27 gradient active caption
    0xC0C0C0, // 28 gradient inactive caption
    0x6A240A, // 29 menu highlight
    0xC8D0D4, // 30 menu bar
};

} // namespace

TColor ColorToRGB(TColor c) {
  if (!IsSystemColor(c)) return c;
  const uint32_t index = static_cast<uint32_t>(c) & 0xFFu;
  if (index < sizeof(kSystemColors) / sizeof(kSystemColors[0]))
    return static_cast<TColor>(kSystemColors[index]);
  return 0;
}

TColor32 Color32FromColor(TColor c) {
  const auto rgb = static_cast<uint32_t>(ColorToRGB(c));
  const uint32_t r = rgb & 0xFF, g = (rgb >> 8) & 0xFF, b = (rgb >> 16) & 0xFF;
  return 0xFF000000u | (r << 16) | (g << 8) | b;
}

} // namespace dtp
