#pragma once
// Colour types shared by every layer. TColor32 is 0xAARRGGBB, not premultiplied.
// TColor is the platform's 0x00BBGGRR value; values with the top byte 0xFF name a
// system colour and are resolved to RGB before use.

#include <cstdint>

namespace dtp {

using TColor32 = uint32_t;
using TColor = int32_t;

constexpr TColor kSystemColorFlag = static_cast<TColor>(0xFF000000u);

// System colour indices used by the engine (the platform's COLOR_* numbers).
constexpr TColor clScrollBar = kSystemColorFlag | 0;
constexpr TColor clBackground = kSystemColorFlag | 1;
constexpr TColor clWindow = kSystemColorFlag | 5;
constexpr TColor clWindowText = kSystemColorFlag | 8;
constexpr TColor clAppWorkSpace = kSystemColorFlag | 12;
constexpr TColor clHighlight = kSystemColorFlag | 13;
constexpr TColor clBtnFace = kSystemColorFlag | 15;
constexpr TColor clBtnShadow = kSystemColorFlag | 16;
constexpr TColor clInfoBk = kSystemColorFlag | 24;

constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;

inline bool IsSystemColor(TColor c) {
  return (static_cast<uint32_t>(c) & 0xFF000000u) == 0xFF000000u;
}

// The RGB value (0x00BBGGRR) of a colour; system colours take the classic desktop scheme.
TColor ColorToRGB(TColor c);

// An opaque TColor32 of a TColor (system colours resolved first).
TColor32 Color32FromColor(TColor c);

} // namespace dtp
