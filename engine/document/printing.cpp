// Putting pages onto devices: the screen view, printers (in bands of bounded size) and any
// bitmap (thumbnails).

#include <algorithm>
#include <cmath>

#include "engine/document/bitmap_utils.h"
#include "engine/document/document.h"
#include "engine/document/page.h"
#include "engine/shapes/render.h"
#include "platform/core/numeric.h"
#include "platform/host/host.h"
#include "platform/host/printer.h"

namespace dtp {

namespace {

constexpr int64_t kMaxBandPixels = 1920000;

TColor32 BackColorOf(TdtpPage& page) {
  return Color32FromColor(page.PageColor()) & 0x00FFFFFFu;
}

int RoundInt(double v) {
  return static_cast<int>(Round(v));
}

// One page being printed: its bands go through here.
struct TBandPrinter {
  TdtpDocument& doc;
  TdtpPage& page;
  IPrinter& printer;
  TRect D;
  bool mirrorH, mirrorV;
  int rotation;
  float dpm;
  TDeviceContext context;
  TColor32 opaquePage;

  void Band(const TRect& dd, const TRect& ss, double lo, double hi) {
    const int64_t pixels = int64_t(ss.Width()) * ss.Height();
    if (pixels <= kMaxBandPixels) {
      Render(dd, ss);
      doc.ReportBandProgress(hi);
      return;
    }
    TRect d1 = dd, d2 = dd, s1 = ss, s2 = ss;
    if (ss.Height() < ss.Width()) {
      const int sh = ss.Width() / 2, dh = dd.Width() / 2;
      s1.Right = s2.Left = ss.Left + sh;
      d1.Right = d2.Left = dd.Left + dh;
    } else {
      const int sh = ss.Height() / 2, dh = dd.Height() / 2;
      s1.Bottom = s2.Top = ss.Top + sh;
      d1.Bottom = d2.Top = dd.Top + dh;
    }
    const double mid = (lo + hi) / 2;
    Band(d1, s1, lo, mid);
    Band(d2, s2, mid, hi);
  }

  void Render(TRect db, const TRect& sb) {
    if (sb.Width() <= 0 || sb.Height() <= 0) return;
    TBitmap32 bmp(sb.Width(), sb.Height());
    const TFloatRect area{sb.Left / dpm, sb.Top / dpm, sb.Right / dpm, sb.Bottom / dpm};
    DrawShape(page, bmp, area, true, context);
    if (doc.OptimizedPrinting() && IsUniformColor(&bmp, opaquePage)) return;
    switch (rotation) {
    case 1:
      RotateQuarterCounterClockwise(bmp);
      break;
    case 2:
      RotateHalf(bmp);
      break;
    case 3:
      RotateQuarterClockwise(bmp);
      break;
    default:
      break;
    }
    if (mirrorV) MirrorTopBottom(bmp);
    if (mirrorH) MirrorLeftRight(bmp);
    // Mirroring of the band's place inside the page rectangle.
    const bool quarter = rotation == 1 || rotation == 3;
    const bool flipX = quarter ? mirrorV : mirrorH;
    const bool flipY = quarter ? mirrorH : mirrorV;
    if (flipX) {
      const int w = db.Width();
      db.Left = D.Left + D.Right - db.Right;
      db.Right = db.Left + w;
    }
    if (flipY) {
      const int h = db.Height();
      db.Top = D.Top + D.Bottom - db.Bottom;
      db.Bottom = db.Top + h;
    }
    const int dL = D.Left, dT = D.Top, dR = D.Right, dB = D.Bottom;
    const int bL = db.Left, bT = db.Top, bW = db.Width(), bH = db.Height();
    TRect placed;
    switch (rotation) {
    case 1:
      placed = {dL + bT - dT, dT + dR - bL - bW, 0, 0};
      placed.Right = placed.Left + bH;
      placed.Bottom = placed.Top + bW;
      break;
    case 2:
      placed = {dL + dR - bL - bW, dT + dB - bT - bH, 0, 0};
      placed.Right = placed.Left + bW;
      placed.Bottom = placed.Top + bH;
      break;
    case 3:
      placed = {dL + dB - bT - bH, dT + bL - dL, 0, 0};
      placed.Right = placed.Left + bH;
      placed.Bottom = placed.Top + bW;
      break;
    default:
      placed = {bL, bT, bL + bW, bT + bH};
      break;
    }
    printer.StretchBand(bmp, placed);
  }
};

} // namespace

void TdtpDocument::ReportBandProgress(double hi) {
  if (m_PrintProgressTotal > 0 && OnProgress)
    OnProgress(this, ptPrint, m_PrintProgressCount, m_PrintProgressTotal,
               static_cast<float>((m_PrintProgressCount - 1 + hi) / m_PrintProgressTotal));
}

void TdtpDocument::ReportPrintProgress(int count, int total, float percent) {
  m_PrintProgressCount = count;
  m_PrintProgressTotal = total;
  if (OnProgress) OnProgress(this, ptPrint, count, total, percent);
}

void TdtpPage::PrintTo(IPrinter& printer, const TRect& rectIn, bool mirrorH, bool mirrorV,
                       int rotation, float dpm) {
  EnsureLoaded();
  if (!m_Document) return;
  TPrintingGuard printing(*m_Document);
  SetDocAngle(0);
  TRect rect = rectIn;
  if (rotation == 1 || rotation == 3) {
    rect.Right = rect.Left + rectIn.Height();
    rect.Bottom = rect.Top + rectIn.Width();
  }
  const double f = std::min(rect.Height() / double(m_DocHeight), rect.Width() / double(m_DocWidth));
  if (dpm == 0) dpm = static_cast<float>(f);
  const int dw = RoundInt(f * m_DocWidth), dh = RoundInt(f * m_DocHeight);
  TRect D;
  D.Left = rect.Left + (rect.Width() - dw) / 2;
  D.Top = rect.Top + (rect.Height() - dh) / 2;
  D.Right = D.Left + dw;
  D.Bottom = D.Top + dh;
  const TRect S{0, 0, RoundInt(double(dpm) * m_DocWidth), RoundInt(double(dpm) * m_DocHeight)};
  TDeviceContext ctx;
  ctx.Device = dtPrinter;
  ctx.BackColor = BackColorOf(*this);
  ctx.ScreenDpm = ctx.RenderDpm = dpm;
  ctx.Quality = m_Document->Quality();
  TBandPrinter bands{*m_Document, *this,    printer, D,   mirrorH,
                     mirrorV,     rotation, dpm,     ctx, ctx.BackColor | 0xFF000000u};
  bands.Band(D, S, 0, 1);
  if (m_Document->Performance() == dpMemoryOverSpeed) FreeCaches();
}

void TdtpPage::PrintTo150(IPrinter& printer, const TRect& rect, bool mirrorH, bool mirrorV,
                          int rotation) {
  PrintTo(printer, rect, mirrorH, mirrorV, rotation, kDpm150);
}

void TdtpPage::DrawTo(TBitmap32& target, const TRect& rect, float maxDpm, bool fit) {
  EnsureLoaded();
  if (!m_Document) return;
  TPrintingGuard printing(*m_Document);
  TDeviceContext ctx;
  ctx.Device = dtPrinter;
  ctx.BackColor = BackColorOf(*this);
  ctx.ScreenDpm = m_Document->ScreenDpm();
  ctx.RenderDpm = std::min(m_Document->RenderDpm(), maxDpm);
  ctx.Quality = m_Document->Quality();
  const int w = std::max(1, RoundInt(double(ctx.ScreenDpm) * m_DocWidth));
  const int h = std::max(1, RoundInt(double(ctx.ScreenDpm) * m_DocHeight));
  TRect dest{rect.Left, rect.Top, rect.Left + w, rect.Top + h};
  if (fit) {
    const double s = std::min(rect.Height() / double(h), rect.Width() / double(w));
    const int fw = RoundInt(w * s), fh = RoundInt(h * s);
    dest.Left = rect.Left + (rect.Width() - fw) / 2;
    dest.Top = rect.Top + (rect.Height() - fh) / 2;
    dest.Right = dest.Left + fw;
    dest.Bottom = dest.Top + fh;
  }
  m_Document->SetDevice(dtPrinter);
  TBitmap32 bmp(w, h);
  DrawShape(*this, bmp, {0, 0, m_DocWidth, m_DocHeight}, true, ctx);
  // Put the picture where it belongs, shrinking with the linear kernel when needed.
  bmp.StretchFilter =
      int64_t(dest.Width()) * dest.Height() < int64_t(w) * h ? sfLinear : ctx.Quality;
  bmp.DrawMode = dmOpaque;
  target.Draw(dest, TRect{0, 0, w, h}, bmp);
}

void TdtpDocument::Print(const std::vector<int>& pageIndexes, IPrinter& printer) {
  CheckBusy();
  const int n = static_cast<int>(pageIndexes.size());
  ReportPrintProgress(0, n, 0);
  printer.BeginDocument();
  const TPoint sheet = printer.PhysicalSize();
  const TPoint offset = printer.PhysicalOffset();
  for (int i = 0; i < n; ++i) {
    ReportPrintProgress(i + 1, n, float(i) / n);
    TdtpPage* page = Pages(pageIndexes[static_cast<size_t>(i)]);
    if (!page) continue;
    const TRect r{-offset.X, -offset.Y, sheet.X - offset.X, sheet.Y - offset.Y};
    page->EnsureLoaded();
    const double pw = page->DocWidth(), ph = page->DocHeight();
    const double f0 = std::min(sheet.Y / ph, sheet.X / pw);
    const double f1 = std::min(sheet.X / ph, sheet.Y / pw);
    page->PrintTo(printer, r, false, false, f0 < f1 ? 1 : 0, PrinterDpm());
    if (i < n - 1) {
      printer.NewPage();
      ReportPrintProgress(i + 1, n, float(i + 1) / n);
    }
  }
  printer.EndDocument();
  ReportPrintProgress(n, n, 100);
  m_PrintProgressTotal = 0;
}

void TdtpDocument::PrintAll(IPrinter& printer) {
  std::vector<int> pages(static_cast<size_t>(PageCount()));
  for (int i = 0; i < PageCount(); ++i) pages[static_cast<size_t>(i)] = i;
  Print(pages, printer);
}

void TdtpDocument::PrintRange(int first, int count, IPrinter& printer) {
  std::vector<int> pages;
  for (int i = 0; i < count; ++i) pages.push_back(first + i);
  Print(pages, printer);
}

bool TdtpDocument::PaintPage(const TRect& clip, TBitmap32& out) {
  if (IsPrinting() || IsLoading()) return false;
  if (clip.Width() <= 0 || clip.Height() <= 0) return false;
  out.SetSize(clip.Width(), clip.Height());
  out.Clear(Color32FromColor(m_Color));
  if (TdtpPage* page = CurrentPage()) {
    TDeviceContext ctx;
    ctx.Device = dtScreen;
    ctx.BackColor = BackColorOf(*page);
    ctx.ScreenDpm = m_ScreenDpm;
    ctx.RenderDpm = m_RenderAtScreenRes ? m_ScreenDpm : m_RenderDpm;
    ctx.Quality = m_Quality;
    const TFloatPoint a = ScreenToDoc({float(clip.Left), float(clip.Top)});
    const TFloatPoint b = ScreenToDoc({float(clip.Right), float(clip.Bottom)});
    DrawShape(*page, out, {a.X, a.Y, b.X, b.Y}, false, ctx);
  }
  // A cache build showed the busy cursor; the view's own comes back.
  ApplyCursor(m_ControlCursor);
  return true;
}

} // namespace dtp
