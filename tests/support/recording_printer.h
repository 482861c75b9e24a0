#pragma once
// A printer for tests: keeps every band with its placement and can put them together into
// one sheet image (nearest-neighbour, as a device would place them).

#include <vector>

#include "platform/host/printer.h"

namespace dtp::test {

class TRecordingPrinter : public IPrinter {
public:
  struct TBand {
    TBitmap32 Pixels;
    TRect Device;
    int Sheet = 0;
    TPoint Size; // the band's size in pixels, also when its pixels were not kept
  };

  TRecordingPrinter(int width, int height, TPoint offset = {0, 0})
      : m_Size{width, height}, m_Offset(offset) {}

  void SetTitle(const std::string& title) override { Title = title; }
  void BeginDocument() override {
    ++Documents;
    Sheets = 1;
  }
  void NewPage() override { ++Sheets; }
  void EndDocument() override { ++Ended; }
  TPoint PhysicalSize() const override { return m_Size; }
  TPoint PhysicalOffset() const override { return m_Offset; }
  void StretchBand(const TBitmap32& band, const TRect& device) override {
    if (KeepPixels)
      Bands.push_back({band, device, Sheets, {band.Width(), band.Height()}});
    else
      Bands.push_back({TBitmap32(), device, Sheets, {band.Width(), band.Height()}});
  }

  // The sheet as the bands cover it (white where nothing was printed), in the coordinates
  // of the printable area shifted to the physical sheet.
  TBitmap32 Assemble(int sheet = 1) const {
    TBitmap32 out(m_Size.X, m_Size.Y);
    out.Clear(0xFFFFFFFF);
    for (const TBand& b : Bands) {
      if (b.Sheet != sheet) continue;
      const int w = b.Device.Width(), h = b.Device.Height();
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const int sx = x * b.Pixels.Width() / w, sy = y * b.Pixels.Height() / h;
          out.SetPixelS(b.Device.Left + x + m_Offset.X, b.Device.Top + y + m_Offset.Y,
                        b.Pixels.Pixel(sx, sy) | 0xFF000000u);
        }
    }
    return out;
  }

  // Off, only the placement and size of each band are kept (for measuring memory).
  bool KeepPixels = true;
  std::string Title;
  int Documents = 0, Sheets = 0, Ended = 0;
  std::vector<TBand> Bands;

private:
  TPoint m_Size;
  TPoint m_Offset;
};

} // namespace dtp::test
