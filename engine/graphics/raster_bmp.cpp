// Windows bitmap files: reading of every header generation (core to V5) with 1, 4, 8,
// 16, 24 and 32 bits per pixel, RLE4, RLE8 and bit fields; writing as 32-bit (alpha kept)
// or 24-bit uncompressed bottom-up files with a 40-byte header.
#include <array>
#include <bit>
#include <cstring>

#include "engine/graphics/raster_codec.h"
#include "engine/graphics/raster_formats.h"

namespace dtp {

namespace {

constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6;

[[noreturn]] void Invalid(const char* detail) {
  throw ERasterError(FormatMessage("Bitmap image is not valid (%s)", {detail}));
}

uint16_t U16(const uint8_t* p) {
  return uint16_t(p[0] | p[1] << 8);
}
uint32_t U32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void PutU16(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}
void PutU32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}

void ReadOrTruncated(TRasterStream& s, void* buffer, size_t count) {
  if (s.Read(buffer, count) != count) Invalid("truncated data");
}

// One colour channel described by a bit mask.
struct TChannel {
  uint32_t Mask = 0;
  int Shift = 0;
  uint64_t Max = 0;
  explicit TChannel(uint32_t mask = 0) : Mask(mask) {
    if (!mask) return;
    Shift = std::countr_zero(mask);
    const uint32_t bits = mask >> Shift;
    if ((bits & (bits + 1)) != 0) Invalid("bit fields are not contiguous");
    Max = bits;
  }
  uint8_t Of(uint32_t v) const {
    if (!Mask) return 0;
    return uint8_t((uint64_t((v & Mask) >> Shift) * 255 + Max / 2) / Max);
  }
};

// Expands RLE data into one palette index per pixel, rows bottom-up as stored.
void DecodeRle(const std::vector<uint8_t>& data, bool rle4, int64_t w, int64_t h,
               std::vector<uint8_t>& indices, size_t& consumed) {
  int64_t x = 0, y = 0;
  size_t i = 0;
  const size_t n = data.size();
  auto put = [&](uint8_t index) {
    if (x >= w || y >= h) Invalid("run outside the picture");
    indices[size_t(y * w + x)] = index;
    ++x;
  };
  while (true) {
    if (i + 2 > n) Invalid("truncated data");
    const uint8_t count = data[i], value = data[i + 1];
    i += 2;
    if (count > 0) {
      for (int k = 0; k < count; ++k)
        put(rle4 ? uint8_t(k % 2 == 0 ? value >> 4 : value & 15) : value);
      continue;
    }
    if (value == 0) { // end of line
      x = 0;
      ++y;
    } else if (value == 1) { // end of bitmap
      break;
    } else if (value == 2) { // delta
      if (i + 2 > n) Invalid("truncated data");
      x += data[i];
      y += data[i + 1];
      i += 2;
      if (x > w || y > h) Invalid("run outside the picture");
    } else { // absolute run of `value` pixels, padded to 16 bits
      const size_t bytes = rle4 ? (size_t(value) + 1) / 2 : value;
      if (i + bytes > n) Invalid("truncated data");
      for (int k = 0; k < value; ++k)
        put(rle4 ? uint8_t(k % 2 == 0 ? data[i + k / 2] >> 4 : data[i + k / 2] & 15) : data[i + k]);
      i += bytes + (bytes & 1);
    }
    if (y > h) Invalid("run outside the picture");
  }
  consumed = std::min(i, n);
}

std::unique_ptr<TdtpRaster> CreateBmp() {
  return std::make_unique<TdtpBmpFormat>();
}

} // namespace

const TRasterClass& TdtpBmpFormat::Class() {
  static const TRasterClass c{"TdtpBmpFormat", &CreateBmp, &TdtpBmpFormat::CanRead};
  return c;
}

void TdtpBmpFormat::SetBitsPerPixel(int value) {
  if (value != 24 && value != 32) throw ERasterError(kMsgUnsupportedBitdepth);
  m_BitsPerPixel = value;
}

void TdtpBmpFormat::LoadFromStream(TRasterStream* stream, TBitmap32& bitmap, int32_t pageIndex,
                                   int32_t, int32_t) {
  CheckStreamAndPage(stream, pageIndex);
  TRasterStream& s = *stream;
  const int64_t start = s.Position();

  uint8_t fh[14];
  ReadOrTruncated(s, fh, sizeof fh);
  if (fh[0] != 'B' || fh[1] != 'M') Invalid("wrong signature");
  const uint32_t offBits = U32(fh + 10);

  uint8_t ih[124] = {};
  ReadOrTruncated(s, ih, 4);
  const uint32_t headerSize = U32(ih);
  if (headerSize != 12 && headerSize != 40 && headerSize != 52 && headerSize != 56 &&
      headerSize != 108 && headerSize != 124)
    Invalid("unknown header size");
  ReadOrTruncated(s, ih + 4, headerSize - 4);

  const bool core = headerSize == 12;
  int64_t w, h;
  uint32_t planes, bpp, compression = kRgb, colorsUsed = 0;
  if (core) {
    w = U16(ih + 4);
    h = U16(ih + 6);
    planes = U16(ih + 8);
    bpp = U16(ih + 10);
  } else {
    w = int32_t(U32(ih + 4));
    h = int32_t(U32(ih + 8));
    planes = U16(ih + 12);
    bpp = U16(ih + 14);
    compression = U32(ih + 16);
    colorsUsed = U32(ih + 32);
  }
  const bool topDown = h < 0;
  if (topDown) h = -h;
  if (planes != 1) Invalid("plane count is not 1");
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
    Invalid("unsupported bit depth");
  const bool rle = compression == kRle8 || compression == kRle4;
  const bool fields = compression == kBitFields || compression == kAlphaBitFields;
  if (!(compression == kRgb || (compression == kRle8 && bpp == 8) ||
        (compression == kRle4 && bpp == 4) || (fields && (bpp == 16 || bpp == 32))))
    Invalid("unsupported compression");
  if (rle && topDown) Invalid("top-down picture with RLE compression");
  if (w < 0) Invalid("negative width");
  m_Width = int32_t(w);
  m_Height = int32_t(h);
  if (w == 0 || h == 0) {
    TBitmap32 empty;
    raster::AdoptPixels(bitmap, std::move(empty));
    return;
  }
  raster::CheckPictureSize(w, h);

  // Bit masks: in the header from V2 on, after a 40-byte header otherwise.
  uint32_t masks[4] = {0, 0, 0, 0};
  if (fields) {
    if (headerSize == 40) {
      const size_t count = compression == kAlphaBitFields ? 4 : 3;
      uint8_t m[16];
      ReadOrTruncated(s, m, count * 4);
      for (size_t i = 0; i < count; ++i) masks[i] = U32(m + 4 * i);
    } else {
      for (size_t i = 0; i < 4; ++i) masks[i] = U32(ih + 40 + 4 * i);
      if (headerSize < 56) masks[3] = 0;
    }
  } else if (bpp == 16) {
    masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
  } else if (bpp >= 24) {
    masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
    masks[3] = bpp == 32 ? 0xFF000000u : 0;
  }
  const TChannel red(masks[0]), green(masks[1]), blue(masks[2]), alpha(masks[3]);

  std::vector<TColor32> palette;
  if (bpp <= 8) {
    const uint32_t maxColors = 1u << bpp;
    const uint32_t count = colorsUsed == 0 || core ? maxColors : colorsUsed;
    if (count > maxColors) Invalid("palette has more entries than the bit depth allows");
    const size_t entry = core ? 3 : 4;
    std::vector<uint8_t> raw(count * entry);
    ReadOrTruncated(s, raw.data(), raw.size());
    palette.resize(count);
    for (uint32_t i = 0; i < count; ++i)
      palette[i] = raster::ArgbOf(255, raw[i * entry + 2], raw[i * entry + 1], raw[i * entry]);
  }

  const int64_t headerEnd = s.Position() - start;
  if (int64_t(offBits) < headerEnd) Invalid("pixel data overlaps the header");
  if (int64_t(offBits) - headerEnd > s.Remaining()) Invalid("truncated data");
  s.SetPosition(start + offBits);

  TBitmap32 out{int(w), int(h)};
  auto rowOf = [&](int64_t stored) { return int(topDown ? stored : h - 1 - stored); };
  auto colour = [&](uint32_t index) {
    if (index >= palette.size()) Invalid("colour index outside the palette");
    return palette[index];
  };

  if (rle) {
    std::vector<uint8_t> data = raster::ReadRest(s);
    std::vector<uint8_t> indices(size_t(w * h), 0);
    size_t consumed = 0;
    DecodeRle(data, compression == kRle4, w, h, indices, consumed);
    for (int64_t y = 0; y < h; ++y) {
      TColor32* line = out.ScanLine(rowOf(y));
      for (int64_t x = 0; x < w; ++x) line[x] = colour(indices[size_t(y * w + x)]);
    }
    s.SetPosition(start + offBits + int64_t(consumed));
  } else {
    const int64_t stride = (w * bpp + 31) / 32 * 4;
    // The last row's padding is often left out; its pixels must be there.
    const int64_t need = stride * (h - 1) + (w * bpp + 7) / 8;
    if (need > s.Remaining()) Invalid("truncated data");
    std::vector<uint8_t> row(static_cast<size_t>(stride));
    bool anyAlpha = false;
    for (int64_t y = 0; y < h; ++y) {
      const size_t got = s.Read(row.data(), row.size());
      (void)got;
      TColor32* line = out.ScanLine(rowOf(y));
      const uint8_t* p = row.data();
      for (int64_t x = 0; x < w; ++x) {
        switch (bpp) {
        case 1:
          line[x] = colour((p[x / 8] >> (7 - x % 8)) & 1);
          break;
        case 4:
          line[x] = colour(x % 2 == 0 ? p[x / 2] >> 4 : p[x / 2] & 15);
          break;
        case 8:
          line[x] = colour(p[x]);
          break;
        default: {
          const size_t bytes = bpp / 8;
          uint32_t v = 0;
          for (size_t k = 0; k < bytes; ++k) v |= uint32_t(p[x * bytes + k]) << (8 * k);
          const uint8_t a = alpha.Of(v);
          anyAlpha = anyAlpha || a != 0;
          line[x] = raster::ArgbOf(a, red.Of(v), green.Of(v), blue.Of(v));
        }
        }
      }
    }
    // Writers that leave the alpha bytes unused set them to 0: such a picture is opaque.
    if (bpp >= 16 && !anyAlpha) {
      TColor32* px = out.Bits();
      for (size_t i = 0, n = size_t(w * h); i < n; ++i) px[i] |= 0xFF000000u;
    }
  }
  raster::AdoptPixels(bitmap, std::move(out));
}

void TdtpBmpFormat::SaveToStream(TRasterStream* stream, const TBitmap32& bitmap) {
  if (!stream) throw ERasterError(kMsgStreamUnassigned);
  const int64_t w = bitmap.Width(), h = bitmap.Height();
  const int64_t bytes = m_BitsPerPixel / 8;
  const int64_t stride = (w * m_BitsPerPixel + 31) / 32 * 4;
  const int64_t imageSize = stride * h;
  std::vector<uint8_t> head;
  head.reserve(54);
  head.push_back('B');
  head.push_back('M');
  PutU32(head, uint32_t(54 + imageSize));
  PutU32(head, 0);
  PutU32(head, 54);
  PutU32(head, 40);
  PutU32(head, uint32_t(w));
  PutU32(head, uint32_t(h));
  PutU16(head, 1);
  PutU16(head, uint16_t(m_BitsPerPixel));
  PutU32(head, kRgb);
  PutU32(head, uint32_t(imageSize));
  PutU32(head, 0);
  PutU32(head, 0);
  PutU32(head, 0);
  PutU32(head, 0);
  stream->Write(head.data(), head.size());

  std::vector<uint8_t> row(static_cast<size_t>(stride), 0);
  for (int64_t y = h - 1; y >= 0; --y) {
    const TColor32* line = bitmap.ScanLine(int(y));
    for (int64_t x = 0; x < w; ++x) {
      uint8_t* p = &row[size_t(x * bytes)];
      p[0] = uint8_t(line[x]);
      p[1] = uint8_t(line[x] >> 8);
      p[2] = uint8_t(line[x] >> 16);
      if (bytes == 4) p[3] = uint8_t(line[x] >> 24);
    }
    stream->Write(row.data(), row.size());
  }
}

} // namespace dtp
