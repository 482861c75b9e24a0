// Writes the seed corpora of the fuzz_raster_* targets: small pictures made by the
// engine's own writers, plus cut and lying variants. Not part of the build; run it from
// the repository root after building the engine, e.g.
//   g++ -std=c++20 -I. fuzz/fuzz_raster_seeds.cpp build/h-formats/engine/libkartolino_engine.a \
//     build/h-formats/platform/libkartolino_platform.a -lpng -ljpeg -lgif -lz -lpugixml \
//     -o /tmp/seeds && /tmp/seeds fuzz/corpus
#include <cstdio>
#include <fstream>
#include <string>

#include "engine/graphics/raster_formats.h"
#include "engine/graphics/raster_pack.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put(const std::string& dir, const std::string& name, const Bytes& b) {
  std::ofstream(dir + "/" + name, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

Bytes Encode(dtp::TdtpRaster&& f, const dtp::TBitmap32& bmp) {
  dtp::TRasterMemoryStream s;
  f.SaveToStream(&s, bmp);
  return s.Data();
}

Bytes Cut(Bytes b, size_t keep) {
  b.resize(std::min(keep, b.size()));
  return b;
}

dtp::TBitmap32 Picture(int w, int h, bool alpha) {
  dtp::TBitmap32 bmp(w, h);
  for (int i = 0; i < w * h; ++i)
    bmp.Bits()[i] = (alpha && i % 3 == 0 ? 0x10000000u : 0xFF000000u) | uint32_t(i * 0x1F2F3F);
  return bmp;
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string root = argv[1];
  const dtp::TBitmap32 small = Picture(3, 2, true), opaque = Picture(9, 8, false);

  {
    const std::string d = root + "/fuzz_raster_bmp";
    dtp::TdtpBmpFormat b24;
    b24.SetBitsPerPixel(24);
    const Bytes b32 = Encode(dtp::TdtpBmpFormat(), small);
    Put(d, "rgba32.bmp", b32);
    Put(d, "rgb24.bmp", Encode(std::move(b24), opaque));
    Put(d, "cut.bmp", Cut(b32, b32.size() - 5));
    Bytes lying = b32;
    lying[18] = lying[19] = 0xFF; // width 65535
    Put(d, "lying.bmp", lying);
    // 8-bit RLE, 4 x 2, two palette entries.
    Bytes rle = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 62, 0, 0, 0, 40, 0, 0, 0, 4,
                 0,   0,   0, 2, 0, 0, 0, 1, 0, 8, 0,  1, 0, 0, 0,  0, 0, 0, 0,
                 0,   0,   0, 0, 0, 0, 0, 0, 2, 0, 0,  0, 0, 0, 0,  0, 0, 0, 255,
                 0,   255, 0, 0, 0, 4, 1, 0, 0, 0, 4,  0, 1, 0, 1,  0, 1};
    Put(d, "rle8.bmp", rle);
  }
  {
    const std::string d = root + "/fuzz_raster_png";
    const Bytes png = Encode(dtp::TdtpPngFormat(), small);
    Put(d, "rgba.png", png);
    Put(d, "cut.png", Cut(png, png.size() / 2));
  }
  {
    const std::string d = root + "/fuzz_raster_jpg";
    const Bytes jpg = Encode(dtp::TdtpJpgFormat(), opaque);
    Put(d, "baseline.jpg", jpg);
    Put(d, "cut.jpg", Cut(jpg, jpg.size() * 2 / 3));
  }
  {
    const std::string d = root + "/fuzz_raster_gif";
    const Bytes gif = Encode(dtp::TdtpGifFormat(), small);
    Put(d, "transparent.gif", gif);
    Put(d, "many.gif", Encode(dtp::TdtpGifFormat(), opaque));
    Put(d, "cut.gif", Cut(gif, gif.size() - 6));
  }
  {
    const std::string d = root + "/fuzz_raster_qzp";
    const Bytes qzp = Encode(dtp::TQzpImage(), opaque);
    Put(d, "packed.qzp", qzp);
    Put(d, "empty.qzp", Encode(dtp::TQzpImage(), dtp::TBitmap32()));
    Put(d, "cut.qzp", Cut(qzp, qzp.size() - 4));
    // Two stored 1 x 1 pages with a 1-bit alpha plane and blue.
    Bytes pages = {'Q', 'Z', 'P', 0, 1, 0, 0, 0, 1, 0, 0,    0, 2, 0, 0, 0, 1, 0,
                   0,   8,   0,   0, 0, 0, 2, 0, 0, 0, 0x80, 7, 2, 0, 0, 0, 0, 9};
    Put(d, "pages.qzp", pages);
  }
  {
    const std::string d = root + "/fuzz_raster_pack";
    Bytes data;
    for (int i = 0; i < 300; ++i) data.push_back(uint8_t(i % 7 < 3 ? 5 : i));
    Put(d, "packed.bin", dtp::PackBytes(data));
    Put(d, "symbols.bin", dtp::SymbolPack(Bytes{42}));
    Put(d, "runs.bin", dtp::RunPack(data));
  }
  std::puts("seeds written");
  return 0;
}
