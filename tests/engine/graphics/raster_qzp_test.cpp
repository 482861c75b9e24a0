// The QZP format: layout, pages, planes, the reduction on reading, and corrupt files.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "engine/graphics/raster_formats.h"
#include "engine/graphics/raster_pack.h"

namespace dtp {
namespace {

using Bytes = std::vector<uint8_t>;

uint32_t U32At(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}
void AppendU32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

Bytes Header(uint32_t w, uint32_t h, uint32_t pages, std::array<uint8_t, 5> bits,
             uint8_t compression) {
  Bytes b = {'Q', 'Z', 'P', 0};
  AppendU32(b, w);
  AppendU32(b, h);
  AppendU32(b, pages);
  b.insert(b.end(), bits.begin(), bits.end());
  b.insert(b.end(), {compression, 0, 0});
  return b;
}

Bytes Save(const TBitmap32& bmp) {
  TQzpImage q;
  TRasterMemoryStream s;
  q.SaveToStream(&s, bmp);
  return s.Data();
}

TBitmap32 Load(const Bytes& data, int32_t page = 0, int32_t maxW = 4000, int32_t maxH = 4000,
               TQzpImage* image = nullptr) {
  TQzpImage local;
  TQzpImage& q = image ? *image : local;
  TRasterViewStream s(data);
  TBitmap32 bmp;
  q.LoadFromStream(&s, bmp, page, maxW, maxH);
  return bmp;
}

std::string LoadError(const Bytes& data, int32_t page = 0) {
  try {
    (void)Load(data, page);
  } catch (const ERasterError& e) {
    return e.what();
  }
  return "";
}

TEST(QzpFormat, TwoByTwoWritesHeaderPlaneSizeAndPackedBlock) {
  TBitmap32 src(2, 2);
  src.SetPixel(0, 0, 0xFFFF0000);
  src.SetPixel(1, 0, 0xFF00FF00);
  src.SetPixel(0, 1, 0xFF0000FF);
  src.SetPixel(1, 1, 0xFF123456);
  const Bytes data = Save(src);
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 24), Header(2, 2, 1, {8, 8, 8, 8, 0}, 1));
  EXPECT_EQ(U32At(data, 24), 16u); // S = 4 planes x 4 pixels
  const Bytes planes = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0,    0x12,
                        0,    0xFF, 0,    0x34, 0,    0, 0xFF, 0x56};
  const Bytes packed = PackBytes(planes);
  EXPECT_EQ(U32At(data, 28), packed.size());
  EXPECT_EQ(Bytes(data.begin() + 32, data.end()), packed);

  TQzpImage q;
  const TBitmap32 back = Load(data, 0, 4000, 4000, &q);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(back.Bits()[i], src.Bits()[i]);
  EXPECT_EQ(q.Width(), 2);
  EXPECT_EQ(q.PageCount(), 1);
}

TEST(QzpFormat, EmptyBitmapWritesOnlyTheHeaderAndReadingItChangesNothing) {
  const Bytes data = Save(TBitmap32());
  EXPECT_EQ(data, Header(0, 0, 1, {8, 8, 8, 8, 0}, 1));
  TQzpImage q;
  TRasterViewStream s(data);
  TBitmap32 bmp(3, 3);
  bmp.Clear(0x11223344);
  q.LoadFromStream(&s, bmp, 0, 4000, 4000);
  EXPECT_EQ(bmp.Width(), 3);
  EXPECT_EQ(bmp.Pixel(2, 2), 0x11223344u);
}

TEST(QzpFormat, PlaneLayoutsDecodeAsDescribed) {
  struct Case {
    const char* name;
    std::array<uint8_t, 5> bits;
    Bytes planes;
    std::vector<TColor32> expected;
  };
  const Case cases[] = {
      // 3 x 3 with a 1-bit alpha plane: 9 pixels in two bytes, the first in the top bit.
      {"1-bit alpha",
       {1, 0, 0, 0, 0},
       {0xB0, 0x80, 0, 0, 0, 0, 0, 0, 0},
       {0xFF000000, 0, 0xFF000000, 0xFF000000, 0, 0, 0, 0, 0xFF000000}},
      {"no alpha plane is opaque",
       {0, 8, 8, 8, 0},
       {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14,
        15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27},
       {0xFF010A13, 0xFF020B14, 0xFF030C15, 0xFF040D16, 0xFF050E17, 0xFF060F18, 0xFF071019,
        0xFF08111A, 0xFF09121B}},
      {"alpha only",
       {8, 0, 0, 0, 0},
       {0, 1, 2, 3, 4, 5, 6, 7, 0xFF},
       {0, 0x01000000, 0x02000000, 0x03000000, 0x04000000, 0x05000000, 0x06000000, 0x07000000,
        0xFF000000}},
      {"green only",
       {0, 0, 8, 0, 0},
       {9, 9, 9, 9, 9, 9, 9, 9, 9},
       std::vector<TColor32>(9, 0xFF000900)},
  };
  for (const Case& c : cases) {
    Bytes file = Header(3, 3, 1, c.bits, 0);
    const uint64_t s = (uint64_t(c.bits[0]) + c.bits[1] + c.bits[2] + c.bits[3] + 7) / 8 * 9;
    Bytes planes = c.planes;
    planes.resize(size_t(s), 0);
    file.insert(file.end(), planes.begin(), planes.end());
    const TBitmap32 bmp = Load(file);
    ASSERT_EQ(bmp.Width(), 3) << c.name;
    for (int i = 0; i < 9; ++i)
      EXPECT_EQ(bmp.Bits()[i], c.expected[size_t(i)]) << c.name << " " << i;
  }
}

// Three stored 1 x 1 pages, each preceded by its length.
Bytes ThreePages() {
  Bytes file = Header(1, 1, 3, {8, 8, 8, 8, 0}, 0);
  for (uint8_t p = 1; p <= 3; ++p) {
    AppendU32(file, 4);
    file.insert(file.end(), {0xFF, p, uint8_t(p * 2), uint8_t(p * 3)});
  }
  return file;
}

TEST(QzpFormat, PagesAreFoundByTheirLengths) {
  TQzpImage q;
  EXPECT_EQ(Load(ThreePages(), 1, 4000, 4000, &q).Pixel(0, 0), 0xFF020406u);
  EXPECT_EQ(q.PageCount(), 3);
  EXPECT_EQ(Load(ThreePages(), 2).Pixel(0, 0), 0xFF030609u);
  EXPECT_EQ(LoadError(ThreePages(), 3), "Requested non-existing page");
  EXPECT_EQ(LoadError(ThreePages(), -1), "Requested non-existing page");
  Bytes lying = ThreePages();
  lying[24] = 0xFF, lying[25] = 0xFF; // first page claims 65535 bytes
  EXPECT_EQ(LoadError(lying, 2), "Image file is corrupted");
}

TEST(QzpFormat, LargePicturesAreReducedByAreaAveraging) {
  // Stored planes keep the fixture cheap; the reduction does not depend on compression.
  const size_t n = 8000 * 2000;
  Bytes data = Header(8000, 2000, 1, {8, 8, 8, 8, 0}, 0);
  const size_t planes = data.size();
  data.resize(planes + 4 * n, 0);
  auto set = [&](size_t i, TColor32 c) {
    for (int k = 0; k < 4; ++k) data[planes + size_t(k) * n + i] = uint8_t(c >> (24 - 8 * k));
  };
  set(0, 0xFFFFFFFF);
  set(n - 1, 0x80402010);
  set(n - 2, 0x80402010);
  const TBitmap32 out = Load(data);
  ASSERT_EQ(out.Width(), 4000);
  ASSERT_EQ(out.Height(), 1000);
  EXPECT_EQ(out.Pixel(0, 0), 0x3F3F3F3Fu);
  EXPECT_EQ(out.Pixel(1, 0), 0u);
  EXPECT_EQ(out.Pixel(3999, 999), 0x40201008u);

  TQzpGraphic graphic;
  TRasterViewStream s(data);
  graphic.LoadFromStream(s);
  EXPECT_EQ(graphic.Width(), 8000);
}

TEST(QzpFormat, ReductionFactorIsTheSmallerOfTheTwoRatios) {
  const Bytes data = Save(TBitmap32(800, 200));
  const struct {
    int32_t maxW, maxH;
    int w, h;
  } limits[] = {
      {800, 200, 800, 200}, // f = 1: no reduction
      {0, 0, 800, 200},     // f = 0: no limit
      {100, 400, 100, 25},  {400, 10, 40, 10},
      {1, 1, 1, 1}, // a side that rounds to 0 keeps one pixel
  };
  for (const auto& l : limits) {
    const TBitmap32 r = Load(data, 0, l.maxW, l.maxH);
    EXPECT_EQ(r.Width(), l.w) << l.maxW << "x" << l.maxH;
    EXPECT_EQ(r.Height(), l.h) << l.maxW << "x" << l.maxH;
  }
}

TEST(AreaReduce, BlocksFollowTheSplitOfColumnsAndRows) {
  // Split(7, 3) gives the column blocks 2, 2, 3; Split(3, 2) the row blocks 1, 2.
  TBitmap32 src(7, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 7; ++x)
      src.SetPixel(x, y,
                   uint32_t(10 * (x + 1)) << 24 | uint32_t(y * 30) << 16 | uint32_t(x) << 8 | 255);
  TBitmap32 dst(3, 2);
  AreaReduce(src, dst);
  const TColor32 expected[] = {
      0x0F000000u | 0x00 << 16 | 0 << 8 | 255, // (10+20)/2, row 0, columns 0..1 mean 0
      0x23000000u | 0x00 << 16 | 2 << 8 | 255, // (30+40)/2, columns 2..3 mean 2
      0x3C000000u | 0x00 << 16 | 5 << 8 | 255, // (50+60+70)/3, columns 4..6 mean 5
      0x0F000000u | 45 << 16 | 0 << 8 | 255,   // rows 1..2: (30+60)/2
      0x23000000u | 45 << 16 | 2 << 8 | 255,   0x3C000000u | 45 << 16 | 5 << 8 | 255,
  };
  for (int i = 0; i < 6; ++i) EXPECT_EQ(dst.Bits()[i], expected[i]) << i;

  // Rectangles inside larger bitmaps; a target larger than its source is refused.
  TBitmap32 canvas(5, 5);
  canvas.Clear(0x01010101);
  AreaReduce(src, {1, 0, 3, 1}, canvas, {4, 4, 5, 5});
  EXPECT_EQ(canvas.Pixel(4, 4), 0x190001FFu); // means of (20, 0, 1, 255) and (30, 0, 2, 255)
  EXPECT_EQ(canvas.Pixel(3, 4), 0x01010101u);
  EXPECT_THROW(AreaReduce(src, {0, 0, 2, 2}, canvas, {0, 0, 3, 2}), ERasterError);
  EXPECT_THROW(AreaReduce(src, {0, 0, 8, 2}, canvas, {0, 0, 3, 2}), ERasterError);
}

TEST(QzpFormat, CanReadChecksTheSignatureAndKeepsThePosition) {
  EXPECT_FALSE(TQzpImage::CanRead(nullptr));
  Bytes good = Header(1, 1, 1, {8, 8, 8, 8, 0}, 0);
  good.insert(good.begin(), {7, 7});
  TRasterViewStream s(good);
  s.SetPosition(2);
  EXPECT_TRUE(TQzpImage::CanRead(&s));
  EXPECT_EQ(s.Position(), 2);
  Bytes other = Header(1, 1, 1, {8, 8, 8, 8, 0}, 0);
  other[3] = 'X';
  TRasterViewStream o(other);
  EXPECT_FALSE(TQzpImage::CanRead(&o));
  const Bytes shortData = {'Q', 'Z', 'P', 0, 1};
  TRasterViewStream t(shortData);
  EXPECT_FALSE(TQzpImage::CanRead(&t));
}

TEST(QzpFormat, CorruptFilesRaiseTheirMessages) {
  const Bytes good = Save(TBitmap32(4, 4));
  auto with = [&](std::function<void(Bytes&)> f) {
    Bytes b = good;
    f(b);
    return b;
  };
  Bytes stored = Header(2, 2, 1, {8, 8, 8, 8, 0}, 0);
  stored.resize(stored.size() + 10);
  const struct {
    const char* name;
    Bytes data;
    std::string message;
  } cases[] = {
      {"wrong signature", with([](Bytes& b) { b[0] = 'X'; }), "Image file is corrupted"},
      {"header cut short", Bytes(good.begin(), good.begin() + 20), "Image file is corrupted"},
      {"4-bit planes", with([](Bytes& b) { b[17] = 4; }), "Unsupported bitdepth"},
      {"2-bit alpha", with([](Bytes& b) { b[16] = 2; }), "Unsupported bitdepth"},
      {"a fifth plane", with([](Bytes& b) { b[20] = 8; }), "Unsupported bitdepth"},
      {"65535 x 65535", with([](Bytes& b) { b[4] = b[5] = b[8] = b[9] = 0xFF; }),
       "Image too large (65535 x 65535 pixels)"},
      {"w x h beyond 32 bits", with([](Bytes& b) { b[6] = b[10] = 1, b[4] = b[8] = 0; }),
       "Image too large (65536 x 65536 pixels)"},
      {"S differs from the header", with([](Bytes& b) { b[24] = 65; }), "Image file is corrupted"},
      {"packed length past the end", with([](Bytes& b) { b[29] = 0x10; }),
       "Image file is corrupted"},
      {"packed block garbled", with([](Bytes& b) { std::memset(&b[32], 0xEE, 13); }),
       "Unable to decompress"},
      {"packed block cut short", Bytes(good.begin(), good.end() - 3), "Image file is corrupted"},
      {"stored planes cut short", stored, "Image file is corrupted"},
      {"unknown compression", with([](Bytes& b) { b[21] = 2; }), "No suitable codec found"},
      {"page after the only one", good, "Requested non-existing page"},
  };
  for (const auto& c : cases) {
    const int32_t page = std::string(c.name) == "page after the only one" ? 1 : 0;
    EXPECT_EQ(LoadError(c.data, page), c.message) << c.name;
  }
}

TEST(QzpFormat, PackedPlanesRoundTripRandomPictures) {
  std::mt19937 rng(11);
  for (const auto& [w, h] : {std::pair{1, 1}, {1, 7}, {7, 1}, {11, 13}, {64, 3}}) {
    TBitmap32 src(w, h);
    for (int i = 0; i < w * h; ++i) src.Bits()[i] = (rng() % 4 == 0) ? rng() : 0xFF808080u;
    const TBitmap32 back = Load(Save(src));
    for (int i = 0; i < w * h; ++i) ASSERT_EQ(back.Bits()[i], src.Bits()[i]) << w << "x" << h;
  }
}

} // namespace
} // namespace dtp
