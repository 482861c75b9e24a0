// Round trips, foreign files and corrupt input for the BMP, PNG, JPEG and GIF formats.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>

#include <gif_lib.h>
#include <jpeglib.h>
#include <zlib.h>

#include "engine/graphics/raster_formats.h"

namespace dtp {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Encode(TdtpRaster& format, const TBitmap32& bmp) {
  TRasterMemoryStream s;
  format.SaveToStream(&s, bmp);
  return s.Data();
}

TBitmap32 Decode(TdtpRaster& format, const Bytes& data, int32_t maxW = 4000, int32_t maxH = 4000,
                 int32_t page = 0) {
  TRasterViewStream s(data);
  TBitmap32 bmp;
  format.LoadFromStream(&s, bmp, page, maxW, maxH);
  return bmp;
}

template <class F> TBitmap32 DecodeWith(const Bytes& data) {
  F format;
  return Decode(format, data);
}

// Raises the error of decoding or "" when it decodes.
template <class F>
std::string DecodeError(const Bytes& data, int32_t maxW = 4000, int32_t page = 0) {
  F format;
  try {
    (void)Decode(format, data, maxW, maxW, page);
  } catch (const ERasterError& e) {
    return e.what();
  }
  return "";
}

TBitmap32 RandomBitmap(int w, int h, uint32_t seed, bool opaque = false) {
  std::mt19937 rng(seed);
  TBitmap32 bmp(w, h);
  for (int i = 0; i < w * h; ++i) bmp.Bits()[i] = rng() | (opaque ? 0xFF000000u : 0);
  return bmp;
}

// Slowly varying colours, as photographs have them.
TBitmap32 SmoothBitmap(int w, int h) {
  TBitmap32 bmp(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int r = int(127 + 100 * std::sin(x * 0.05));
      const int g = int(127 + 100 * std::cos(y * 0.04));
      const int b = int(127 + 100 * std::sin((x + y) * 0.03));
      bmp.SetPixel(x, y, 0xFF000000u | uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b));
    }
  return bmp;
}

void ExpectSamePixels(const TBitmap32& a, const TBitmap32& b, const std::string& what) {
  ASSERT_EQ(a.Width(), b.Width()) << what;
  ASSERT_EQ(a.Height(), b.Height()) << what;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      ASSERT_EQ(a.Pixel(x, y), b.Pixel(x, y)) << what << " at " << x << "," << y;
}

double Psnr(const TBitmap32& a, const TBitmap32& b) {
  double se = 0;
  for (int i = 0; i < a.Width() * a.Height(); ++i)
    for (int shift = 0; shift < 24; shift += 8) {
      const double d =
          double((a.Bits()[i] >> shift) & 0xFF) - double((b.Bits()[i] >> shift) & 0xFF);
      se += d * d;
    }
  const double mse = se / (3.0 * a.Width() * a.Height());
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

struct TSize {
  int W, H;
};
const TSize kAwkwardSizes[] = {{1, 1}, {1, 7}, {7, 1}, {11, 13}, {301, 301}};

void PutU16(Bytes& b, size_t at, uint16_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void PutU32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}
void AppendU32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void AppendU32BE(Bytes& b, uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}

// ---------------------------------------------------------------- lossless round trips

TEST(RasterRoundTrip, LosslessFormatsKeepEveryPixelAtAwkwardSizes) {
  struct Format {
    const char* name;
    std::function<std::unique_ptr<TdtpRaster>()> make;
    bool keepsAlpha;
  };
  const Format formats[] = {
      {"BMP 32", [] { return std::make_unique<TdtpBmpFormat>(); }, true},
      {"BMP 24",
       [] {
         auto f = std::make_unique<TdtpBmpFormat>();
         f->SetBitsPerPixel(24);
         return f;
       },
       false},
      {"PNG", [] { return std::make_unique<TdtpPngFormat>(); }, true},
      {"QZP", [] { return std::make_unique<TQzpImage>(); }, true},
  };
  uint32_t seed = 1;
  for (const Format& f : formats)
    for (const TSize& size : kAwkwardSizes) {
      const TBitmap32 src = RandomBitmap(size.W, size.H, seed++, !f.keepsAlpha);
      auto writer = f.make();
      const Bytes data = Encode(*writer, src);
      auto reader = f.make();
      const std::string what =
          std::string(f.name) + " " + std::to_string(size.W) + "x" + std::to_string(size.H);
      ExpectSamePixels(Decode(*reader, data), src, what);
      EXPECT_EQ(reader->Width(), size.W) << what;
      EXPECT_EQ(reader->Height(), size.H) << what;
    }
}

TEST(RasterRoundTrip, ReadingStopsAtTheEndOfThePicture) {
  // Pictures inside a larger stream: the position ends right after each one.
  const TBitmap32 src = RandomBitmap(5, 3, 77);
  TdtpBmpFormat bmp;
  TdtpPngFormat png;
  TdtpJpgFormat jpg;
  TdtpGifFormat gif;
  TQzpImage qzp;
  for (TdtpRaster* f : std::initializer_list<TdtpRaster*>{&bmp, &png, &jpg, &gif, &qzp}) {
    Bytes data = Encode(*f, src);
    const size_t size = data.size();
    data.insert(data.end(), {1, 2, 3, 4, 5});
    TRasterViewStream s(data);
    TBitmap32 out;
    f->LoadFromStream(&s, out, 0, 4000, 4000);
    EXPECT_EQ(s.Position(), int64_t(size)) << f->RasterClass().ClassName;
    EXPECT_EQ(out.Width(), 5);
  }
}

TEST(RasterRoundTrip, DecodingKeepsTheTargetsDrawingSettings) {
  TdtpPngFormat png;
  const Bytes data = Encode(png, RandomBitmap(3, 2, 5));
  TRasterViewStream s(data);
  TBitmap32 target;
  target.OuterColor = 0x12345678;
  target.MasterAlpha = 77;
  target.DrawMode = dmBlend;
  png.LoadFromStream(&s, target, 0, 4000, 4000);
  EXPECT_EQ(target.Width(), 3);
  EXPECT_EQ(target.OuterColor, 0x12345678u);
  EXPECT_EQ(target.MasterAlpha, 77);
  EXPECT_EQ(target.DrawMode, dmBlend);
}

TEST(RasterRoundTrip, EveryFormatRefusesPagesAfterTheFirst) {
  const TBitmap32 src = RandomBitmap(2, 2, 3);
  TdtpBmpFormat bmp;
  TdtpPngFormat png;
  TdtpJpgFormat jpg;
  TdtpGifFormat gif;
  TQzpImage qzp;
  for (TdtpRaster* f : std::initializer_list<TdtpRaster*>{&bmp, &png, &jpg, &gif, &qzp}) {
    const Bytes data = Encode(*f, src);
    try {
      (void)Decode(*f, data, 4000, 4000, 1);
      ADD_FAILURE() << f->RasterClass().ClassName;
    } catch (const ERasterError& e) {
      EXPECT_STREQ(e.what(), "Requested non-existing page") << f->RasterClass().ClassName;
    }
    TBitmap32 out;
    EXPECT_THROW(f->LoadFromStream(nullptr, out, 0, 1, 1), ERasterError);
    EXPECT_THROW(f->SaveToStream(nullptr, src), ERasterError);
  }
}

// ---------------------------------------------------------------- BMP

struct TBmpLayout { // designated initialisers leave the rest at these defaults
  uint32_t headerSize = 40;
  int32_t w = 1, h = 1;
  uint16_t planes = 1, bpp = 24;
  uint32_t compression = 0;
  uint32_t colorsUsed = 0;
  std::vector<uint32_t> palette = {}; // 0x00RRGGBB
  std::vector<uint32_t> masks = {};   // after a 40-byte header, or inside larger ones
  Bytes pixels = {};
  int64_t offBits = -1; // -1: right after the palette
};

Bytes MakeBmp(const TBmpLayout& s) {
  Bytes h(14 + std::max<uint32_t>(s.headerSize, 40), 0);
  h[0] = 'B', h[1] = 'M';
  PutU32(h, 14, s.headerSize);
  if (s.headerSize == 12) {
    PutU16(h, 18, uint16_t(s.w));
    PutU16(h, 20, uint16_t(s.h));
    PutU16(h, 22, s.planes);
    PutU16(h, 24, s.bpp);
  } else {
    PutU32(h, 18, uint32_t(s.w));
    PutU32(h, 22, uint32_t(s.h));
    PutU16(h, 26, s.planes);
    PutU16(h, 28, s.bpp);
    PutU32(h, 30, s.compression);
    PutU32(h, 46, s.colorsUsed);
    if (s.headerSize > 40)
      for (size_t i = 0; i < s.masks.size(); ++i) PutU32(h, 54 + 4 * i, s.masks[i]);
  }
  if (s.headerSize != 12 && s.headerSize < 40) h.resize(14 + s.headerSize);
  if (s.headerSize == 40)
    for (uint32_t m : s.masks) AppendU32(h, m);
  for (uint32_t c : s.palette) {
    h.push_back(uint8_t(c));
    h.push_back(uint8_t(c >> 8));
    h.push_back(uint8_t(c >> 16));
    if (s.headerSize != 12) h.push_back(0);
  }
  PutU32(h, 10, uint32_t(s.offBits >= 0 ? s.offBits : int64_t(h.size())));
  PutU32(h, 2, uint32_t(h.size() + s.pixels.size()));
  h.insert(h.end(), s.pixels.begin(), s.pixels.end());
  return h;
}

TEST(BmpFormat, ReadsForeignLayouts) {
  struct Case {
    const char* name;
    TBmpLayout layout;
    std::vector<TColor32> expected; // rows from the top
  };
  const uint32_t red = 0xFF0000, green = 0x00FF00, blue = 0x0000FF, white = 0xFFFFFF;
  const TColor32 R = 0xFFFF0000, G = 0xFF00FF00, B = 0xFF0000FF, W = 0xFFFFFFFF, K = 0xFF000000;
  const Case cases[] = {
      {"1 bit, bottom-up, padded rows",
       {.w = 3, .h = 2, .bpp = 1, .palette = {0, white}, .pixels = {0xA0, 0, 0, 0, 0x40, 0, 0, 0}},
       {K, W, K, W, K, W}},
      {"4 bit with a short palette",
       {.w = 3,
        .h = 1,
        .bpp = 4,
        .colorsUsed = 3,
        .palette = {red, green, blue},
        .pixels = {0x21, 0x00, 0, 0}},
       {B, G, R}},
      {"8 bit top-down",
       {.w = 2,
        .h = -2,
        .bpp = 8,
        .colorsUsed = 2,
        .palette = {red, blue},
        .pixels = {0, 1, 0, 0, 1, 1, 0, 0}},
       {R, B, B, B}},
      {"16 bit 5-5-5", {.w = 2, .h = 1, .bpp = 16, .pixels = {0x00, 0x7C, 0x1F, 0x00}}, {R, B}},
      {"16 bit 5-6-5 bit fields",
       {.w = 2,
        .h = 1,
        .bpp = 16,
        .compression = 3,
        .masks = {0xF800, 0x07E0, 0x001F},
        .pixels = {0xE0, 0x07, 0xFF, 0xFF}},
       {G, W}},
      {"24 bit, core header",
       {.headerSize = 12, .w = 1, .h = 1, .bpp = 24, .pixels = {0xFF, 0, 0, 0}},
       {B}},
      {"32 bit V5 with an alpha mask",
       {.headerSize = 124,
        .w = 2,
        .h = 1,
        .bpp = 32,
        .compression = 3,
        .masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000},
        .pixels = {1, 2, 3, 0x80, 4, 5, 6, 0}},
       {0x80030201, 0x00060504}},
      {"32 bit with unused alpha bytes is opaque",
       {.w = 2, .h = 1, .bpp = 32, .pixels = {1, 2, 3, 0, 4, 5, 6, 0}},
       {0xFF030201, 0xFF060504}},
      {"RLE8 with an absolute run",
       {.w = 4,
        .h = 2,
        .bpp = 8,
        .compression = 1,
        .colorsUsed = 2,
        .palette = {red, blue},
        .pixels = {4, 1, 0, 0, 0, 4, 0, 1, 0, 1, 0, 1}},
       {R, B, R, B, B, B, B, B}},
      {"RLE4 with a delta",
       {.w = 4,
        .h = 1,
        .bpp = 4,
        .compression = 2,
        .colorsUsed = 2,
        .palette = {red, blue},
        .pixels = {2, 0x11, 0, 2, 1, 0, 1, 0x10, 0, 1}},
       {B, B, R, B}},
  };
  for (const Case& c : cases) {
    const TBitmap32 bmp = DecodeWith<TdtpBmpFormat>(MakeBmp(c.layout));
    const int w = c.layout.w, h = std::abs(c.layout.h);
    ASSERT_EQ(bmp.Width(), w) << c.name;
    ASSERT_EQ(bmp.Height(), h) << c.name;
    for (int i = 0; i < w * h; ++i)
      EXPECT_EQ(bmp.Bits()[i], c.expected[size_t(i)]) << c.name << " pixel " << i;
  }
}

TEST(BmpFormat, WritesA40ByteHeaderBottomUp) {
  TBitmap32 src(2, 2);
  src.SetPixel(0, 0, 0x11223344);
  src.SetPixel(1, 1, 0xAABBCCDD);
  TdtpBmpFormat f;
  const Bytes data = Encode(f, src);
  ASSERT_EQ(data.size(), 54u + 16u);
  EXPECT_EQ(data[0], 'B');
  EXPECT_EQ(data[14], 40);
  EXPECT_EQ(data[28], 32);
  // The first stored row is the bottom one.
  EXPECT_EQ(Bytes(data.begin() + 54, data.begin() + 62),
            (Bytes{0, 0, 0, 0, 0xDD, 0xCC, 0xBB, 0xAA}));
  // An empty bitmap writes a header that reads back empty.
  const Bytes empty = Encode(f, TBitmap32());
  EXPECT_EQ(DecodeWith<TdtpBmpFormat>(empty).Width(), 0);
  EXPECT_THROW(f.SetBitsPerPixel(16), ERasterError);
}

TEST(BmpFormat, RejectsBadInputWithAClearMessage) {
  auto valid = [] { return TBmpLayout{.w = 10, .h = 10, .pixels = Bytes(320, 0)}; };
  auto with = [&](std::function<void(TBmpLayout&)> f) {
    TBmpLayout s = valid();
    f(s);
    return MakeBmp(s);
  };
  Bytes wrongMagic = MakeBmp(valid());
  wrongMagic[1] = 'X';
  Bytes headerCut = MakeBmp(valid());
  headerCut.resize(30);
  Bytes paletteCut = with([](TBmpLayout& s) {
    s.bpp = 8;
    s.colorsUsed = 256;
    s.palette.assign(10, 0);
    s.pixels.clear();
  });
  const std::string invalid = "Bitmap image is not valid ";
  const struct {
    const char* name;
    Bytes data;
    std::string message;
  } cases[] = {
      {"wrong magic", wrongMagic, invalid + "(wrong signature)"},
      {"empty file", {}, invalid + "(truncated data)"},
      {"header cut short", headerCut, invalid + "(truncated data)"},
      {"unknown header size", with([](TBmpLayout& s) { s.headerSize = 20; }),
       invalid + "(unknown header size)"},
      {"two planes", with([](TBmpLayout& s) { s.planes = 2; }), invalid + "(plane count is not 1)"},
      {"7 bits per pixel", with([](TBmpLayout& s) { s.bpp = 7; }),
       invalid + "(unsupported bit depth)"},
      {"embedded JPEG", with([](TBmpLayout& s) { s.compression = 4; }),
       invalid + "(unsupported compression)"},
      {"RLE8 on 24 bits", with([](TBmpLayout& s) { s.compression = 1; }),
       invalid + "(unsupported compression)"},
      {"negative width", with([](TBmpLayout& s) { s.w = -10; }), invalid + "(negative width)"},
      {"65535 x 65535", with([](TBmpLayout& s) { s.w = s.h = 65535; }),
       "Image too large (65535 x 65535 pixels)"},
      {"w x h beyond 32 bits", with([](TBmpLayout& s) { s.w = s.h = 65536; }),
       "Image too large (65536 x 65536 pixels)"},
      {"sides fine, too many pixels", with([](TBmpLayout& s) { s.w = s.h = 20000; }),
       "Image too large (20000 x 20000 pixels)"},
      {"lying height", with([](TBmpLayout& s) { s.h = 11; }), invalid + "(truncated data)"},
      {"pixel data cut short", with([](TBmpLayout& s) { s.pixels.resize(100); }),
       invalid + "(truncated data)"},
      {"palette larger than 8 bits allow", with([](TBmpLayout& s) {
         s.bpp = 8;
         s.colorsUsed = 300;
         s.palette.assign(300, 0);
       }),
       invalid + "(palette has more entries than the bit depth allows)"},
      {"palette cut short", paletteCut, invalid + "(truncated data)"},
      {"index outside the palette", with([](TBmpLayout& s) {
         s.bpp = 8;
         s.colorsUsed = 2;
         s.palette = {0, 0xFFFFFF};
         s.pixels.assign(120, 5);
       }),
       invalid + "(colour index outside the palette)"},
      {"pixel offset inside the header", with([](TBmpLayout& s) { s.offBits = 20; }),
       invalid + "(pixel data overlaps the header)"},
      {"pixel offset past the end", with([](TBmpLayout& s) { s.offBits = 100000; }),
       invalid + "(truncated data)"},
      {"RLE run past the row", with([](TBmpLayout& s) {
         s.w = 2, s.h = 1, s.bpp = 8, s.compression = 1, s.palette.assign(256, 0);
         s.pixels = {5, 1, 0, 1};
       }),
       invalid + "(run outside the picture)"},
      {"RLE without end marker", with([](TBmpLayout& s) {
         s.w = 2, s.h = 1, s.bpp = 8, s.compression = 1, s.palette.assign(256, 0);
         s.pixels = {2, 1};
       }),
       invalid + "(truncated data)"},
      {"bit fields with holes", with([](TBmpLayout& s) {
         s.bpp = 16, s.compression = 3, s.masks = {0x0F0F, 0x00F0, 0xF000};
         s.pixels.assign(200, 0);
       }),
       invalid + "(bit fields are not contiguous)"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeError<TdtpBmpFormat>(c.data), c.message) << c.name;
}

// ---------------------------------------------------------------- PNG

Bytes PngChunk(const char* type, const Bytes& data) {
  Bytes out;
  AppendU32BE(out, uint32_t(data.size()));
  Bytes body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  out.insert(out.end(), body.begin(), body.end());
  AppendU32BE(out, uint32_t(crc32(0, body.data(), uInt(body.size()))));
  return out;
}

// A PNG from raw scan lines (a filter byte 0 is put before each).
Bytes MakePng(uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType,
              const std::vector<Bytes>& rows,
              const std::vector<std::pair<const char*, Bytes>>& extra = {}) {
  Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  AppendU32BE(ihdr, w);
  AppendU32BE(ihdr, h);
  ihdr.insert(ihdr.end(), {depth, colorType, 0, 0, 0});
  const Bytes c = PngChunk("IHDR", ihdr);
  out.insert(out.end(), c.begin(), c.end());
  for (const auto& [type, data] : extra) {
    const Bytes e = PngChunk(type, data);
    out.insert(out.end(), e.begin(), e.end());
  }
  Bytes raw;
  for (const Bytes& r : rows) {
    raw.push_back(0);
    raw.insert(raw.end(), r.begin(), r.end());
  }
  uLongf len = compressBound(uLong(raw.size()));
  Bytes z(len);
  compress(z.data(), &len, raw.data(), uLong(raw.size()));
  z.resize(len);
  const Bytes idat = PngChunk("IDAT", z);
  out.insert(out.end(), idat.begin(), idat.end());
  const Bytes iend = PngChunk("IEND", {});
  out.insert(out.end(), iend.begin(), iend.end());
  return out;
}

TEST(PngFormat, ConvertsEveryColourTypeToArgb) {
  const struct {
    const char* name;
    Bytes png;
    std::vector<TColor32> expected;
  } cases[] = {
      {"RGB is opaque", MakePng(2, 1, 8, 2, {{1, 2, 3, 4, 5, 6}}), {0xFF010203, 0xFF040506}},
      {"grey", MakePng(2, 1, 8, 0, {{0x10, 0xF0}}), {0xFF101010, 0xFFF0F0F0}},
      {"grey with alpha", MakePng(1, 1, 8, 4, {{0x40, 0x80}}), {0x80404040}},
      {"16-bit RGBA keeps the high bytes",
       MakePng(1, 1, 16, 6, {{1, 9, 2, 9, 3, 9, 4, 9}}),
       {0x04010203}},
      {"2-bit palette with tRNS",
       MakePng(3, 1, 2, 3, {{0x18}},
               {{"PLTE", {255, 0, 0, 0, 0, 255, 0, 255, 0}}, {"tRNS", {255, 0}}}),
       {0xFFFF0000, 0x000000FF, 0xFF00FF00}},
  };
  for (const auto& c : cases) {
    const TBitmap32 bmp = DecodeWith<TdtpPngFormat>(c.png);
    ASSERT_EQ(size_t(bmp.Width() * bmp.Height()), c.expected.size()) << c.name;
    for (size_t i = 0; i < c.expected.size(); ++i)
      EXPECT_EQ(bmp.Bits()[i], c.expected[i]) << c.name << " pixel " << i;
  }
}

TEST(PngFormat, WritesRgbaAtCompressionNine) {
  TdtpPngFormat f;
  const Bytes data = Encode(f, SmoothBitmap(64, 64));
  EXPECT_EQ(data[25], 6); // colour type RGBA
  // Level 9 shows in the zlib header's level bits (3: maximum compression).
  const size_t idat = 8 + 25 + 8;
  ASSERT_EQ(std::memcmp(&data[idat - 4], "IDAT", 4), 0);
  EXPECT_EQ(data[idat + 1] >> 6, 3);
  try {
    (void)Encode(f, TBitmap32());
    ADD_FAILURE() << "empty bitmap written";
  } catch (const ERasterError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Unable to write PNG image (", 0), 0u) << e.what();
  }
}

TEST(PngFormat, RejectsBadInputWithAClearMessage) {
  const Bytes good = MakePng(4, 4, 8, 2, std::vector<Bytes>(4, Bytes(12, 7)));
  Bytes wrongMagic = good;
  wrongMagic[1] = 'Q';
  Bytes truncated(good.begin(), good.begin() + long(good.size()) / 2);
  Bytes badCrc = good;
  badCrc[29] ^= 1;
  const std::string invalid = "PNG image is not valid ";
  const struct {
    const char* name;
    Bytes data;
    std::string message;
  } cases[] = {
      {"wrong magic", wrongMagic, invalid + "(wrong signature)"},
      {"empty", {}, invalid + "(wrong signature)"},
      {"truncated", truncated, invalid + "(truncated data)"},
      {"CRC error", badCrc, invalid + "(IHDR: CRC error)"},
      {"65535 x 65535", MakePng(65535, 65535, 8, 2, {}), invalid + "(Invalid IHDR data)"},
      {"lying dimensions", MakePng(20000, 20000, 8, 2, {Bytes(60000, 0)}),
       "Image too large (20000 x 20000 pixels)"},
      {"too few rows", MakePng(4, 40, 8, 2, std::vector<Bytes>(4, Bytes(12, 7))),
       invalid + "(Not enough image data)"},
      {"palette of a broken length", MakePng(1, 1, 8, 3, {{0}}, {{"PLTE", {1, 2, 3, 4}}}),
       invalid + "(PLTE: invalid)"},
      {"palette picture without a palette", MakePng(1, 1, 8, 3, {{0}}),
       invalid + "(IDAT: Missing PLTE before IDAT)"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeError<TdtpPngFormat>(c.data), c.message) << c.name;
}

// ---------------------------------------------------------------- JPEG

TEST(JpgFormat, QualityNinetyStaysAboveFortyDecibels) {
  for (const TSize& size : kAwkwardSizes) {
    const TBitmap32 src = SmoothBitmap(size.W, size.H);
    TdtpJpgFormat f;
    EXPECT_EQ(f.Quality(), 90);
    const TBitmap32 out = Decode(f, Encode(f, src));
    ASSERT_EQ(out.Width(), size.W);
    ASSERT_EQ(out.Height(), size.H);
    EXPECT_GE(Psnr(src, out), 40.0) << size.W << "x" << size.H;
    for (int i = 0; i < size.W * size.H; ++i) ASSERT_EQ(out.Bits()[i] >> 24, 0xFFu);
  }
  TdtpJpgFormat low;
  low.SetQuality(20);
  TdtpJpgFormat high;
  const TBitmap32 src = SmoothBitmap(100, 100);
  EXPECT_LT(Encode(low, src).size(), Encode(high, src).size());
}

TEST(JpgFormat, LargePicturesAreDecodedAtOneOverD) {
  const Bytes data = [] {
    TdtpJpgFormat f;
    return Encode(f, SmoothBitmap(128, 96));
  }();
  const struct {
    int32_t maxW, maxH;
    int w, h;
  } cases[] = {
      {4000, 4000, 128, 96}, {65, 48, 128, 96}, // not twice the limit in both directions
      {64, 48, 64, 48},      {64, 10, 64, 48},  // 1/2
      {32, 24, 32, 24},                         // 1/4
      {16, 12, 16, 12},      {1, 1, 16, 12},    // 1/8 at most
  };
  for (const auto& c : cases) {
    TdtpJpgFormat f;
    const TBitmap32 out = Decode(f, data, c.maxW, c.maxH);
    EXPECT_EQ(out.Width(), c.w) << c.maxW << "x" << c.maxH;
    EXPECT_EQ(out.Height(), c.h) << c.maxW << "x" << c.maxH;
    EXPECT_EQ(f.Width(), 128);
  }
  EXPECT_EQ(TdtpJpgFormat::ScaleDenominator(9000, 9000, 4000, 4000), 2);
  EXPECT_EQ(TdtpJpgFormat::ScaleDenominator(16000, 16000, 4000, 4000), 4);
  EXPECT_EQ(TdtpJpgFormat::ScaleDenominator(40000, 40000, 4000, 4000), 8);
  EXPECT_EQ(TdtpJpgFormat::ScaleDenominator(9000, 7999, 4000, 4000), 1);
}

// The offset of the SOF0 marker's height field.
size_t SofAt(const Bytes& jpeg) {
  for (size_t i = 2; i + 1 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) return i + 5;
  return 0;
}

Bytes WithJpegSize(Bytes jpeg, uint16_t w, uint16_t h) {
  const size_t at = SofAt(jpeg);
  jpeg[at] = uint8_t(h >> 8), jpeg[at + 1] = uint8_t(h);
  jpeg[at + 2] = uint8_t(w >> 8), jpeg[at + 3] = uint8_t(w);
  return jpeg;
}

TEST(JpgFormat, RejectsBadInputWithAClearMessage) {
  TdtpJpgFormat f;
  const Bytes good = Encode(f, SmoothBitmap(40, 40));
  Bytes truncated(good.begin(), good.begin() + long(good.size()) / 2);
  const std::string invalid = "JPEG image is not valid ";
  const struct {
    const char* name;
    Bytes data;
    int32_t maxW;
    std::string message;
  } cases[] = {
      {"wrong magic", MakeBmp(TBmpLayout{}), 4000,
       invalid + "(Not a JPEG file: starts with 0x42 0x4d)"},
      {"empty", {}, 4000, invalid + "(Premature end of input file)"},
      {"truncated", truncated, 4000, invalid + "(Premature end of input file)"},
      {"65535 x 65535", WithJpegSize(good, 65535, 65535), 4000,
       invalid + "(Maximum supported image dimension is 65500 pixels)"},
      {"lying dimensions", WithJpegSize(good, 30000, 30000), 100000,
       "Image too large (30000 x 30000 pixels)"},
      {"lying dimensions, reduced", WithJpegSize(good, 30000, 30000), 4000,
       invalid + "(Corrupt JPEG data: premature end of data segment)"},
      {"zero width", WithJpegSize(good, 0, 40), 4000,
       invalid + "(Empty JPEG image (DNL not supported))"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DecodeError<TdtpJpgFormat>(c.data, c.maxW), c.message) << c.name;
  try {
    (void)Encode(f, TBitmap32());
    ADD_FAILURE() << "empty bitmap written";
  } catch (const ERasterError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Unable to write JPEG image (", 0), 0u) << e.what();
  }
}

// JPEG files written by libjpeg itself in layouts the format never writes: progressive,
// greyscale, or CMYK with the Adobe convention (255 = no ink).
Bytes LibJpeg(const TBitmap32& bmp, bool progressive, J_COLOR_SPACE space = JCS_RGB) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &buffer, &size);
  c.image_width = JDIMENSION(bmp.Width());
  c.image_height = JDIMENSION(bmp.Height());
  c.input_components = space == JCS_GRAYSCALE ? 1 : space == JCS_CMYK ? 4 : 3;
  c.in_color_space = space;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 95, TRUE);
  if (progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  Bytes row(size_t(bmp.Width()) * 4);
  while (c.next_scanline < c.image_height) {
    const TColor32* line = bmp.ScanLine(int(c.next_scanline));
    for (int x = 0; x < bmp.Width(); ++x) {
      const uint8_t r = uint8_t(line[x] >> 16), g = uint8_t(line[x] >> 8), b = uint8_t(line[x]);
      uint8_t* p = &row[size_t(x) * size_t(c.input_components)];
      if (space == JCS_GRAYSCALE) {
        p[0] = g;
      } else if (space == JCS_CMYK) {
        p[0] = r, p[1] = g, p[2] = b, p[3] = 255;
      } else {
        p[0] = r, p[1] = g, p[2] = b;
      }
    }
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&c, &p, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  Bytes out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

TEST(JpgFormat, GreyAndCmykPicturesBecomeOpaqueRgb) {
  TBitmap32 src = SmoothBitmap(32, 16);
  const TBitmap32 cmyk = DecodeWith<TdtpJpgFormat>(LibJpeg(src, false, JCS_CMYK));
  EXPECT_GE(Psnr(src, cmyk), 35.0);
  for (int i = 0; i < 32 * 16; ++i)
    src.Bits()[i] = 0xFF000000u | ((src.Bits()[i] >> 8) & 0xFF) * 0x010101u;
  const TBitmap32 grey = DecodeWith<TdtpJpgFormat>(LibJpeg(src, false, JCS_GRAYSCALE));
  EXPECT_GE(Psnr(src, grey), 40.0);
  EXPECT_EQ(grey.Pixel(3, 3) >> 24, 0xFFu);
}

TEST(JpgFormat, ProgressivePicturesDecodeUpToFiveHundredScans) {
  const TBitmap32 src = SmoothBitmap(24, 16);
  const Bytes progressive = LibJpeg(src, true);
  EXPECT_GE(Psnr(src, DecodeWith<TdtpJpgFormat>(progressive)), 30.0);

  // A first-pass AC scan repeated at the end: libjpeg only warns about such a
  // progression and each copy decodes on its own, so without a limit it reads them all.
  std::vector<size_t> sos;
  for (size_t i = 2; i + 1 < progressive.size(); ++i)
    if (progressive[i] == 0xFF && progressive[i + 1] == 0xDA) sos.push_back(i);
  ASSERT_GE(sos.size(), 4u);
  // Each scan brings its own Huffman table (DHT) just before it.
  auto tableBefore = [&](size_t at) {
    size_t dht = 0;
    for (size_t i = 2; i + 1 < at; ++i)
      if (progressive[i] == 0xFF && progressive[i + 1] == 0xC4) dht = i;
    return dht;
  };
  const Bytes scan(progressive.begin() + long(tableBefore(sos[2])),
                   progressive.begin() + long(tableBefore(sos[3])));
  auto withScans = [&](int copies) {
    Bytes out(progressive.begin(), progressive.end() - 2);
    for (int i = 0; i < copies; ++i) out.insert(out.end(), scan.begin(), scan.end());
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
  };
  // simple progression has 10 scans of a colour picture
  EXPECT_EQ(DecodeError<TdtpJpgFormat>(withScans(480)), "");
  EXPECT_EQ(DecodeError<TdtpJpgFormat>(withScans(600)),
            "JPEG image is not valid (more than 500 scans)");
  // A progressive frame keeps every coefficient until the last scan: a lying size must
  // fail on the memory bound, not allocate gigabytes.
  EXPECT_EQ(DecodeError<TdtpJpgFormat>(WithJpegSize(progressive, 60000, 60000), 4000),
            "JPEG image is not valid (Backing store not supported)");
}

// ---------------------------------------------------------------- GIF

// GIF writes through giflib for fixtures the format itself never writes.
struct TGifBuild {
  Bytes data;
  static int Write(GifFileType* gif, const GifByteType* p, int n) {
    auto* self = static_cast<TGifBuild*>(gif->UserData);
    self->data.insert(self->data.end(), p, p + n);
    return n;
  }
};

Bytes MakeGif(int sw, int sh, const std::vector<GifColorType>& colors, bool globalMap, int left,
              int top, int w, int h, bool interlace, const std::vector<Bytes>& rowsInFileOrder) {
  TGifBuild b;
  int err = 0;
  GifFileType* gif = EGifOpen(&b, &TGifBuild::Write, &err);
  ColorMapObject* map =
      colors.empty() ? nullptr : GifMakeMapObject(int(colors.size()), colors.data());
  EGifPutScreenDesc(gif, sw, sh, 8, 0, globalMap ? map : nullptr);
  EGifPutImageDesc(gif, left, top, w, h, interlace, nullptr);
  for (const Bytes& r : rowsInFileOrder) EGifPutLine(gif, const_cast<GifPixelType*>(r.data()), w);
  EGifCloseFile(gif, &err);
  if (map) GifFreeMapObject(map);
  return b.data;
}

// The transparent index of the first graphic control extension, or -1.
int GifTransparentIndex(const Bytes& gif) {
  for (size_t i = 0; i + 7 < gif.size(); ++i)
    if (gif[i] == 0x21 && gif[i + 1] == 0xF9 && gif[i + 2] == 4)
      return (gif[i + 3] & 1) ? gif[i + 6] : -1;
  return -1;
}

int GifGlobalColors(const Bytes& gif) {
  return (gif[10] & 0x80) ? 2 << (gif[10] & 7) : 0;
}

TEST(GifFormat, FewColoursRoundTripExactly) {
  struct Case {
    const char* name;
    int colors, mapSize;
  } cases[] = {{"two colours", 2, 2}, {"three colours", 3, 4}, {"256 colours", 256, 256}};
  for (const Case& c : cases) {
    TBitmap32 src(16, 16);
    for (int i = 0; i < 256; ++i)
      src.Bits()[i] = 0xFF000000u | uint32_t((i % c.colors) * 0x010305 + 0x102030);
    TdtpGifFormat f;
    const Bytes data = Encode(f, src);
    EXPECT_EQ(GifGlobalColors(data), c.mapSize) << c.name;
    EXPECT_EQ(GifTransparentIndex(data), -1) << c.name;
    ExpectSamePixels(Decode(f, data), src, c.name);
  }
}

TEST(GifFormat, ManyColoursAreQuantisedAndDithered) {
  const TBitmap32 src = SmoothBitmap(120, 90);
  TdtpGifFormat f;
  const Bytes data = Encode(f, src);
  EXPECT_EQ(GifGlobalColors(data), 256);
  const TBitmap32 out = Decode(f, data);
  ASSERT_EQ(out.Width(), 120);
  EXPECT_GE(Psnr(src, out), 30.0);
  // Dithering keeps the average colour of an area.
  for (int shift : {0, 8, 16}) {
    double a = 0, b = 0;
    for (int i = 0; i < 120 * 90; ++i)
      a += (src.Bits()[i] >> shift) & 0xFF, b += (out.Bits()[i] >> shift) & 0xFF;
    EXPECT_NEAR(a / (120 * 90), b / (120 * 90), 1.0);
  }
}

TEST(GifFormat, PixelsBelowTheAlphaThresholdBecomeTransparent) {
  TBitmap32 src(4, 2);
  src.Clear(0xFFFF0000);
  src.SetPixel(0, 0, 0x1F00FF00); // alpha 31: transparent
  src.SetPixel(1, 0, 0x200000FF); // alpha 32: opaque
  src.SetPixel(2, 1, 0x00000000);
  TdtpGifFormat f;
  f.SetTransparentColor(0x00336699); // TColor: 0x00BBGGRR
  const Bytes data = Encode(f, src);
  const int t = GifTransparentIndex(data);
  ASSERT_GE(t, 0);
  // The palette entry of the transparent index is TransparentColor.
  const size_t entry = 13 + size_t(t) * 3;
  EXPECT_EQ(Bytes(data.begin() + long(entry), data.begin() + long(entry) + 3),
            (Bytes{0x99, 0x66, 0x33}));
  const TBitmap32 out = Decode(f, data);
  EXPECT_EQ(out.Pixel(0, 0), 0u);
  EXPECT_EQ(out.Pixel(1, 0), 0xFF0000FFu);
  EXPECT_EQ(out.Pixel(2, 1), 0u);
  EXPECT_EQ(out.Pixel(3, 1), 0xFFFF0000u);
}

TEST(GifFormat, TransparencyNeverTakesTheIndexOfAVisibleColour) {
  // 256 distinct opaque colours plus transparent pixels: one colour is merged so that a
  // free index is left for transparency.
  TBitmap32 src(17, 16);
  for (int i = 0; i < 256; ++i)
    src.Bits()[(i / 16) * 17 + i % 16] = 0xFF000000u | uint32_t(i * 0x010101);
  for (int y = 0; y < 16; ++y) src.SetPixel(16, y, 0);
  TdtpGifFormat f;
  const Bytes data = Encode(f, src);
  ASSERT_GE(GifTransparentIndex(data), 0);
  const TBitmap32 out = Decode(f, data);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 17; ++x)
      EXPECT_EQ(out.Pixel(x, y) >> 24, x == 16 ? 0u : 255u) << x << "," << y;
}

TEST(GifFormat, ReadsTheFirstFrameWithOffsetAndInterlace) {
  const std::vector<GifColorType> colors = {{255, 0, 0}, {0, 0, 255}};
  // A 2 x 2 frame at (1, 1) on a 4 x 3 screen.
  const TBitmap32 offset =
      DecodeWith<TdtpGifFormat>(MakeGif(4, 3, colors, true, 1, 1, 2, 2, false, {{0, 1}, {1, 0}}));
  ASSERT_EQ(offset.Width(), 4);
  ASSERT_EQ(offset.Height(), 3);
  EXPECT_EQ(offset.Pixel(0, 0), 0u);
  EXPECT_EQ(offset.Pixel(1, 1), 0xFFFF0000u);
  EXPECT_EQ(offset.Pixel(2, 1), 0xFF0000FFu);
  EXPECT_EQ(offset.Pixel(1, 2), 0xFF0000FFu);
  EXPECT_EQ(offset.Pixel(3, 2), 0u);

  // Interlaced rows are stored in the order 0, 8, 4, 2, 6, 1, 3, 5, 7, 9.
  const int order[] = {0, 8, 4, 2, 6, 1, 3, 5, 7, 9};
  std::vector<Bytes> rows;
  for (int r : order) rows.push_back({uint8_t(r % 2), uint8_t(r % 3 == 0)});
  const TBitmap32 inter =
      DecodeWith<TdtpGifFormat>(MakeGif(2, 10, colors, true, 0, 0, 2, 10, true, rows));
  for (int y = 0; y < 10; ++y) {
    EXPECT_EQ(inter.Pixel(0, y), y % 2 ? 0xFF0000FFu : 0xFFFF0000u) << y;
    EXPECT_EQ(inter.Pixel(1, y), y % 3 == 0 ? 0xFF0000FFu : 0xFFFF0000u) << y;
  }
}

TEST(GifFormat, RejectsBadInputWithAClearMessage) {
  const std::vector<GifColorType> four = {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}};
  const Bytes good =
      MakeGif(4, 4, four, true, 0, 0, 4, 4, false, std::vector<Bytes>(4, {0, 1, 2, 3}));
  Bytes wrongMagic = good;
  wrongMagic[0] = 'X';
  Bytes truncated(good.begin(), good.begin() + long(good.size()) - 8);
  Bytes huge = good;
  huge[6] = huge[7] = huge[8] = huge[9] = 0xFF;
  // Claim 2 colours and drop the last two entries: indices 2 and 3 point past the palette.
  Bytes shortPalette = good;
  shortPalette[10] = uint8_t((shortPalette[10] & ~7) | 0);
  shortPalette.erase(shortPalette.begin() + 13 + 6, shortPalette.begin() + 13 + 12);
  Bytes noPalette = good;
  noPalette[10] &= 0x7F;
  noPalette.erase(noPalette.begin() + 13, noPalette.begin() + 13 + 12);
  const std::string invalid = "GIF image is not valid ";
  const struct {
    const char* name;
    Bytes data;
    std::string message;
  } cases[] = {
      {"wrong magic", wrongMagic, invalid + "(Data is not in GIF format)"},
      {"empty", {}, invalid + "(Failed to read from given file)"},
      {"truncated", truncated, invalid + "(Failed to read from given file)"},
      {"65535 x 65535 screen", huge, "Image too large (65535 x 65535 pixels)"},
      {"index outside the palette", shortPalette, invalid + "(colour index outside the palette)"},
      {"no colour table", noPalette, invalid + "(no colour table)"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeError<TdtpGifFormat>(c.data), c.message) << c.name;
  TdtpGifFormat f;
  EXPECT_THROW((void)Encode(f, TBitmap32()), ERasterError);
}

} // namespace
} // namespace dtp
