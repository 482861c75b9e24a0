// Writes the bundled sample card assets/samples/beispielkarte.wqx (and its format
// companion file) through the engine's own API:
//
//   kartolino-make-sample assets/samples/beispielkarte.wqx
//
// The card has the first card format: A4 folded once to A6 portrait, three pages
// "Vorderseite" 105 x 148 mm, "Innenseite" 210 x 148 mm and "Rückseite" 105 x 148 mm, with
// the main window's design-time document settings. Front and back are default pages in the
// document's page colour; the inside spread has settings of its own.
//
// Front and back show the document's default background, a tile of small hearts; the
// inside spread has a tile of its own. Both pictures are drawn here, pixel by pixel, and
// stored in the card's container as parts of their own.
//
// Only the shape base class exists so far; its shapes are placed, turned and made
// translucent as the designer would, but draw nothing of their own yet.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "engine/document/card_format_file.h"
#include "engine/document/document.h"
#include "engine/document/page.h"
#include "engine/persistence/resource.h"
#include "engine/shapes/shape.h"
#include "platform/raster/bitmap32.h"

namespace {

using dtp::TdtpDocument;
using dtp::TdtpPage;
using dtp::TdtpShape;

constexpr int kCardFormat = 0;
// Tiles are shown at 150 dpi: 60 pixels are about 10 mm on the card.
constexpr int kTile = 60;
// Samples per pixel side when a tile is drawn, for smooth edges.
constexpr int kSub = 4;

using dtp::TColor32;

TColor32 Mix(TColor32 under, TColor32 over, double cover) {
  const auto channel = [&](int shift) {
    const double a = (under >> shift) & 0xFF, b = (over >> shift) & 0xFF;
    return static_cast<TColor32>(std::lround(a + (b - a) * cover)) << shift;
  };
  return 0xFF000000u | channel(16) | channel(8) | channel(0);
}

// Draws a tile: for every pixel the share of its samples for which `inside` holds (in
// tile units, 0 … 1 across) puts `ink` over `paper`.
template <class Inside> dtp::TBitmap32 Tile(TColor32 paper, TColor32 ink, Inside inside) {
  dtp::TBitmap32 tile(kTile, kTile);
  for (int y = 0; y < kTile; ++y)
    for (int x = 0; x < kTile; ++x) {
      int hits = 0;
      for (int sy = 0; sy < kSub; ++sy)
        for (int sx = 0; sx < kSub; ++sx)
          hits += inside((x + (sx + 0.5) / kSub) / kTile, (y + (sy + 0.5) / kSub) / kTile);
      tile.SetPixel(x, y, Mix(paper, ink, double(hits) / (kSub * kSub)));
    }
  return tile;
}

// A heart in the middle of the tile and a quarter dot in each corner, so that the corners
// of four tiles make one dot.
dtp::TBitmap32 HeartTile() {
  return Tile(0xFFFFF5E6u, 0xFFE07A8Cu, [](double u, double v) {
    const double x = (u - 0.5) / 0.22, y = (0.47 - v) / 0.22;
    const double a = x * x + y * y - 1;
    const bool heart = a * a * a - x * x * y * y * y <= 0;
    const double cu = std::min(u, 1 - u), cv = std::min(v, 1 - v);
    const bool dot = cu * cu + cv * cv <= 0.06 * 0.06;
    return heart || dot;
  });
}

// Small white dots on a diagonal lattice over pale rose.
dtp::TBitmap32 DotTile() {
  return Tile(0xFFFFE8EEu, 0xFFFFFFFFu, [](double u, double v) {
    const auto near = [&](double cu, double cv) {
      return (u - cu) * (u - cu) + (v - cv) * (v - cv) <= 0.07 * 0.07;
    };
    return near(0.25, 0.25) || near(0.75, 0.75);
  });
}

std::unique_ptr<TdtpShape> Shape(const char* name, float x, float y, float w, float h,
                                 float angle = 0, int alpha = 255) {
  auto s = std::make_unique<TdtpShape>();
  s->SetName(name);
  s->SetBounds(x, y, w, h);
  s->SetDocAngle(angle);
  s->SetMasterAlpha(alpha);
  return s;
}

void SetPage(TdtpPage& page, const char* name, float width, float height) {
  page.SetDocWidth(width);
  page.SetDocHeight(height);
  page.SetName(name);
}

void BuildCard(TdtpDocument& doc) {
  // The designer's document: 105 x 148 mm default pages, 5 mm margins, a 1 mm grid,
  // pictures cached at 300 dpi, printer quality.
  doc.SetDefaultPageWidth(105);
  doc.SetDefaultPageHeight(148);
  doc.SetDefaultMarginLeft(5);
  doc.SetDefaultMarginTop(5);
  doc.SetDefaultMarginRight(5);
  doc.SetDefaultMarginBottom(5);
  doc.SetDefaultGridSize(1);
  doc.SetRenderDPI(300);
  doc.SetDevice(dtp::dtPrinter);
  doc.SetAutoPageUpdate(true);
  // A warm ivory paper for the default pages (colours are $00BBGGRR), under a tiled
  // picture kept as a part of the card.
  doc.SetDefaultPageColor(0xE6F5FF);
  const dtp::TBitmap32 hearts = HeartTile();
  doc.SetDefaultBackground(&hearts);
  doc.DefaultBgrImage().SetStorage(dtp::rsArchive);
  doc.SetDefaultBackgroundTiled(true);

  while (doc.PageCount() < 3) doc.AddPage(nullptr);

  // Vorderseite: a turned title block over a translucent band, a group with two children.
  TdtpPage& front = *doc.Pages(0);
  SetPage(front, "Vorderseite", 105, 148);
  doc.SetCurrentPageIndex(0);
  doc.AddShape(Shape("Band", 0, 92, 105, 24, 0, 160));
  doc.AddShape(Shape("Titel", 14, 30, 77, 22, -8));
  auto group = Shape("Blumen", 60, 110, 36, 30);
  group->AddShape(Shape("Blüte", 4, 4, 14, 14, 20));
  group->AddShape(Shape("Blatt", 18, 14, 16, 10, -35, 200));
  doc.AddShape(std::move(group));

  // Innenseite: the spread, its own pale rose paper with white dots and wider margins, one
  // text block per panel.
  TdtpPage& inside = *doc.Pages(1);
  SetPage(inside, "Innenseite", 210, 148);
  inside.SetIsDefaultPage(false);
  inside.SetPageColor(0xEEE8FF);
  inside.SetMarginLeft(8);
  inside.SetMarginTop(8);
  inside.SetMarginRight(8);
  inside.SetMarginBottom(8);
  const dtp::TBitmap32 dots = DotTile();
  inside.SetBackgroundImage(&dots);
  inside.BackgroundImage().SetStorage(dtp::rsArchive);
  inside.SetBackgroundTiled(true);
  doc.SetCurrentPageIndex(1);
  doc.AddShape(Shape("Gedicht", 12, 20, 80, 100));
  doc.AddShape(Shape("Gruß", 118, 40, 80, 60, 4));
  doc.AddShape(Shape("Unterschrift", 130, 112, 60, 16, 0, 220));

  // Rückseite: a small imprint at the foot.
  TdtpPage& back = *doc.Pages(2);
  SetPage(back, "Rückseite", 105, 148);
  doc.SetCurrentPageIndex(2);
  doc.AddShape(Shape("Impressum", 20, 128, 65, 10));

  doc.SetCurrentPageIndex(0);
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT.wqx\n", argv[0]);
    return 2;
  }
  const std::string file = argv[1];
  try {
    TdtpDocument doc;
    BuildCard(doc);
    doc.SaveToFile(file);
    dtp::WriteCardFormatIndex(file, kCardFormat);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s: %s\n", argv[0], file.c_str(), e.what());
    return 1;
  }
  std::printf("%s: %d pages, card format %d\n", file.c_str(), 3, kCardFormat);
  return 0;
}
