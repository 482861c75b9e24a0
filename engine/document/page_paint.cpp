// The page's own painting: colour, background picture, the handler hooks and the on-screen
// aids (grid, dots, margins, border and shadow).

#include <algorithm>
#include <cmath>

#include "engine/document/bitmap_utils.h"
#include "engine/document/document.h"
#include "engine/document/page.h"
#include "platform/canvas/canvas.h"
#include "platform/core/numeric.h"

namespace dtp {

namespace {

constexpr TColor32 kBlack = 0xFF000000u;
constexpr TColor32 kWhite = 0xFFFFFFFFu;
constexpr TColor32 kCheckerGrey = 0xFFB0B0B0u;
constexpr float kPixelsPerMm150 = 5.9055118f;
// Background tiles drawn on less than this many pixels are painted as a fill of the
// picture's mean colour (which also bounds the number of tiles by the pixels painted).
constexpr double kMinTileArea = 2;

TColor32 MeanColor(const TBitmap32& b) {
  uint64_t sum[4] = {0, 0, 0, 0};
  for (int y = 0; y < b.Height(); ++y) {
    const TColor32* row = b.ScanLine(y);
    for (int x = 0; x < b.Width(); ++x)
      for (int k = 0; k < 4; ++k) sum[k] += (row[x] >> (8 * k)) & 0xFF;
  }
  const uint64_t n = uint64_t(b.Width()) * uint64_t(b.Height());
  TColor32 c = 0;
  for (int k = 0; k < 4; ++k) c |= static_cast<TColor32>((sum[k] + n / 2) / n) << (8 * k);
  return c;
}

TPoint DevicePoint(const TdtpShape& s, float x, float y) {
  const TFloatPoint p = s.LocalToDevice({x, y});
  return {static_cast<int>(Round(p.X)), static_cast<int>(Round(p.Y))};
}

// Runs a document handler on a canvas over the bitmap, with the alpha inversion that keeps
// untouched pixels as they were and makes drawn ones opaque.
void RunCanvasHandler(TdtpDocument& doc, TBitmap32& bitmap, const TDeviceContext& context,
                      const TRect& pageRect, const TdtpPaintEvent& handler) {
  InvertAlpha(bitmap);
  {
    TCanvas canvas(bitmap);
    handler(&doc, canvas, context, pageRect);
  }
  InvertAlpha(bitmap);
}

} // namespace

void TdtpPage::Paint(TBitmap32& bitmap, const TDeviceContext& context) {
  const TPoint p0 = DevicePoint(*this, 0, 0);
  const TPoint p1 = DevicePoint(*this, m_DocWidth, m_DocHeight);
  const TPoint ps = DevicePoint(*this, m_DocWidth + 1, m_DocHeight + 1);
  const TPoint m0 = DevicePoint(*this, MarginLeft(), MarginTop());
  const TPoint m1 = DevicePoint(*this, m_DocWidth - MarginRight(), m_DocHeight - MarginBottom());
  const TRect r{p0.X, p0.Y, p1.X, p1.Y};
  const int shadow = ps.X - p1.X;
  const int helper = HelperMethod();

  if (context.Device == dtScreen && helper == hmPattern) {
    const int x1 = std::max(r.Left, 0), y1 = std::max(r.Top, 0);
    const int x2 = std::min(r.Right, bitmap.Width()), y2 = std::min(r.Bottom, bitmap.Height());
    for (int y = y1; y < y2; ++y) {
      TColor32* row = bitmap.ScanLine(y);
      const int cy = ((y - p0.Y) >> 3) & 1;
      for (int x = x1; x < x2; ++x) row[x] = ((((x - p0.X) >> 3) & 1) ^ cy) ? kCheckerGrey : kWhite;
    }
  } else {
    if (context.Device != dtTransparent)
      bitmap.FillRect(r.Left, r.Top, r.Right, r.Bottom, Color32FromColor(PageColor()));
    // The handle keeps the picture locked, so the resource thread cannot unload it mid-draw.
    if (TLockedBitmap image = LockedBackgroundBitmap(); image && !image->Empty()) {
      image->StretchFilter = context.Quality;
      image->DrawMode = dmBlend;
      if (BackgroundTiled()) {
        const double scale = context.ScreenDpm / kPixelsPerMm150;
        const double tw = image->Width() * scale, th = image->Height() * scale;
        // Only the tiles that meet the bitmap are drawn, so painting a band or a small
        // view of a large page costs what it shows, not the whole page.
        const TRect clip{std::max(r.Left, 0), std::max(r.Top, 0), std::min(r.Right, bitmap.Width()),
                         std::min(r.Bottom, bitmap.Height())};
        if (!(tw > 0 && th > 0) || clip.Width() <= 0 || clip.Height() <= 0) {
          // nothing to draw
        } else if (tw * th < kMinTileArea) {
          // Tiles this small show nothing but their mean colour.
          bitmap.FillRectBlend(clip.Left, clip.Top, clip.Right, clip.Bottom, MeanColor(*image));
        } else {
          const auto first = [](int from, int origin, double size) {
            return static_cast<int>(std::floor((from - origin) / size)) - 1;
          };
          const int w0 = std::max(0, first(clip.Left, r.Left, tw));
          const int m0 = std::max(0, first(clip.Top, r.Top, th));
          for (int m = m0;; ++m) {
            const int top = r.Top + static_cast<int>(Round(m * th));
            if (top >= clip.Bottom) break;
            const int bottom = r.Top + static_cast<int>(Round((m + 1) * th));
            for (int w = w0;; ++w) {
              const int left = r.Left + static_cast<int>(Round(w * tw));
              if (left >= clip.Right) break;
              const int right = r.Left + static_cast<int>(Round((w + 1) * tw));
              const TRect tile{left, top, std::min(right, r.Right), std::min(bottom, r.Bottom)};
              if (tile.Width() <= 0 || tile.Height() <= 0 || tile.Right <= clip.Left ||
                  tile.Bottom <= clip.Top)
                continue;
              // A whole tile gets the whole picture, whatever its rounded size; only the
              // tiles cut off at the right and bottom edge of the page take a part of it.
              const auto part = [](int cut, int whole, double exact, int size) {
                if (cut == whole) return size;
                return std::min(size, static_cast<int>(Round(cut / exact * size)));
              };
              const int sw = part(tile.Width(), right - left, tw, image->Width());
              const int sh = part(tile.Height(), bottom - top, th, image->Height());
              if (sw <= 0 || sh <= 0) continue;
              bitmap.Draw(tile, TRect{0, 0, sw, sh}, *image);
            }
          }
        }
      } else {
        bitmap.Draw(r, TRect{0, 0, image->Width(), image->Height()}, *image);
      }
    }
  }

  if (m_Document && m_Document->OnPaintBackground)
    RunCanvasHandler(*m_Document, bitmap, context, r, m_Document->OnPaintBackground);

  if (context.Device != dtScreen) return;
  const float g = GridSize();
  const TColor32 gridColor = Color32FromColor(GridColor());
  if (helper == hmGrid && g > 0) {
    const int nx = static_cast<int>(Trunc(m_DocWidth / g)) - 1;
    const int ny = static_cast<int>(Trunc(m_DocHeight / g)) - 1;
    for (int i = 1; i <= nx; ++i) {
      const TPoint top = DevicePoint(*this, i * g, 0);
      const TPoint bottom = DevicePoint(*this, i * g, m_DocHeight);
      bitmap.VertLine(top.X, top.Y + 1, bottom.Y - 2, gridColor);
    }
    for (int j = 1; j <= ny; ++j) {
      const TPoint left = DevicePoint(*this, 0, j * g);
      const TPoint right = DevicePoint(*this, m_DocWidth, j * g);
      bitmap.HorzLine(left.X + 1, left.Y, right.X - 2, gridColor);
    }
  } else if (helper == hmDots && g > 0) {
    const int nx = static_cast<int>(Trunc(m_DocWidth / g));
    const int ny = static_cast<int>(Trunc(m_DocHeight / g));
    for (int i = 1; i <= nx; ++i)
      for (int j = 1; j <= ny; ++j) {
        const TPoint d = DevicePoint(*this, i * g, j * g);
        bitmap.SetPixelS(d.X, d.Y, gridColor);
      }
  }
  if (ShowMargins()) {
    const TColor32 dashes[] = {kWhite, kBlack};
    bitmap.SetStipple(dashes);
    bitmap.StippleStep = 0.5f;
    bitmap.FrameRectStippled(m0.X, m0.Y, m1.X + 1, m1.Y + 1); // M1 inclusive
  }
  if (!m_Parent && ViewStyle() == vsPrintLayout) {
    bitmap.FrameRect(r.Left, r.Top, r.Right, r.Bottom, kBlack);
    bitmap.FillRect(p0.X + shadow, p1.Y, ps.X, ps.Y, kBlack);
    bitmap.FillRect(p1.X, p0.Y + shadow, ps.X, p1.Y, kBlack);
  }
}

void TdtpPage::AfterPaint(TBitmap32& bitmap, const TDeviceContext& context) {
  if (!m_Document || !m_Document->OnPaintForeground) return;
  const TPoint p0 = DevicePoint(*this, 0, 0);
  const TPoint p1 = DevicePoint(*this, m_DocWidth, m_DocHeight);
  RunCanvasHandler(*m_Document, bitmap, context, {p0.X, p0.Y, p1.X, p1.Y},
                   m_Document->OnPaintForeground);
}

} // namespace dtp
