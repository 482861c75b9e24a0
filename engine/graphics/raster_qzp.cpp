// The engine's own lossless format: a 24-byte header and per page the alpha, red, green
// and blue planes, stored or packed with the primitives of raster_pack.
#include <cstring>
#include <new>

#include "engine/graphics/raster_codec.h"
#include "engine/graphics/raster_formats.h"
#include "engine/graphics/raster_pack.h"
#include "platform/core/numeric.h"

namespace dtp {

namespace {

constexpr size_t kHeaderSize = 24;

uint32_t U32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutU32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

bool SignatureMatches(const uint8_t* p) {
  // The first four bytes compare as text up to their first 0 byte.
  return p[0] == 'Q' && p[1] == 'Z' && p[2] == 'P' && p[3] == 0;
}

bool BitsSupported(const uint8_t bits[5]) {
  return (bits[0] == 0 || bits[0] == 1 || bits[0] == 8) && (bits[1] == 0 || bits[1] == 8) &&
         (bits[2] == 0 || bits[2] == 8) && (bits[3] == 0 || bits[3] == 8) && bits[4] == 0;
}

uint32_t ReadU32(TRasterStream& s) {
  uint8_t b[4];
  if (s.Read(b, 4) != 4) throw ERasterError(kMsgImageCorrupted);
  return U32(b);
}

std::unique_ptr<TdtpRaster> CreateQzp() {
  return std::make_unique<TQzpImage>();
}

} // namespace

uint64_t TQzpHeader::PlaneBytes() const {
  const uint64_t bits = uint64_t(Bits[0]) + Bits[1] + Bits[2] + Bits[3] + Bits[4];
  return (bits + 7) / 8 * uint64_t(Width) * uint64_t(Height);
}

const TRasterClass& TQzpImage::Class() {
  static const TRasterClass c{"TQzpImage", &CreateQzp, &TQzpImage::CanRead};
  return c;
}

bool TQzpImage::CanRead(TRasterStream* stream) {
  if (!stream) return false;
  const int64_t at = stream->Position();
  uint8_t header[kHeaderSize];
  const bool ok = stream->Read(header, kHeaderSize) == kHeaderSize && SignatureMatches(header);
  stream->SetPosition(at);
  return ok;
}

void TQzpImage::LoadFromStream(TRasterStream* stream, TBitmap32& bitmap, int32_t pageIndex,
                               int32_t maxWidth, int32_t maxHeight) {
  if (!stream) throw ERasterError(kMsgStreamUnassigned);
  uint8_t raw[kHeaderSize];
  if (stream->Read(raw, kHeaderSize) != kHeaderSize || !SignatureMatches(raw))
    throw ERasterError(kMsgImageCorrupted);
  TQzpHeader h;
  h.Width = U32(raw + 4);
  h.Height = U32(raw + 8);
  h.PageCount = U32(raw + 12);
  std::memcpy(h.Bits, raw + 16, 5);
  h.Compression = raw[21];
  m_Header = h;
  m_Width = int32_t(h.Width);
  m_Height = int32_t(h.Height);
  m_PageCount = int32_t(h.PageCount);

  const uint64_t s = h.PlaneBytes();
  if (s == 0) return;
  if (!BitsSupported(h.Bits)) throw ERasterError(kMsgUnsupportedBitdepth);
  raster::CheckPictureSize(h.Width, h.Height);

  if (h.PageCount > 1) {
    if (pageIndex < 0 || uint32_t(pageIndex) >= h.PageCount)
      throw ERasterError(kMsgNonExistingPage);
    for (int32_t page = 0;; ++page) {
      const uint32_t length = ReadU32(*stream);
      if (page == pageIndex) break;
      if (int64_t(length) > stream->Remaining()) throw ERasterError(kMsgImageCorrupted);
      stream->SetPosition(stream->Position() + length);
    }
  } else if (pageIndex != 0) {
    throw ERasterError(kMsgNonExistingPage);
  }

  std::vector<uint8_t> planes;
  if (h.Compression == 0) {
    if (int64_t(s) > stream->Remaining()) throw ERasterError(kMsgImageCorrupted);
    planes.resize(size_t(s));
    stream->ReadBuffer(planes.data(), planes.size());
  } else if (h.Compression == 1) {
    const uint32_t declared = ReadU32(*stream);
    const uint32_t length = ReadU32(*stream);
    if (declared != s || int64_t(length) > stream->Remaining())
      throw ERasterError(kMsgImageCorrupted);
    std::vector<uint8_t> block(length);
    stream->ReadBuffer(block.data(), block.size());
    try {
      planes = UnpackBytes(block, size_t(s));
    } catch (const ERasterError&) {
      throw ERasterError(kMsgUnableToDecompress);
    } catch (const std::bad_alloc&) {
      throw ERasterError(kMsgUnableToDecompress);
    }
    if (planes.size() != s) throw ERasterError(kMsgUnableToDecompress);
  } else {
    TRasterMemoryStream target;
    DecodeOther(h.Compression, *stream, target);
    if (target.Data().size() != s) throw ERasterError(kMsgImageCorrupted);
    planes = std::move(target.Data());
  }

  const float f = std::min(float(maxHeight) / float(h.Height), float(maxWidth) / float(h.Width));
  TBitmap32 decoded;
  DecodePlanes(planes, decoded);
  if (f <= 0 || f >= 1) {
    raster::AdoptPixels(bitmap, std::move(decoded));
    return;
  }
  // A factor that rounds a side to nothing still keeps one pixel.
  const int tw = int(std::max<int64_t>(1, Round(float(h.Width) * f)));
  const int th = int(std::max<int64_t>(1, Round(float(h.Height) * f)));
  TBitmap32 reduced(tw, th);
  AreaReduce(decoded, reduced);
  raster::AdoptPixels(bitmap, std::move(reduced));
}

void TQzpImage::DecodeOther(uint8_t, TRasterStream&, TRasterStream&) {
  throw ERasterError(kMsgNoSuitableCodec);
}

void TQzpImage::DecodePlanes(std::span<const uint8_t> planes, TBitmap32& bitmap) {
  const TQzpHeader& h = m_Header;
  if (!BitsSupported(h.Bits)) throw ERasterError(kMsgUnsupportedBitdepth);
  raster::CheckPictureSize(h.Width, h.Height);
  const size_t n = size_t(h.Width) * h.Height;
  size_t need = h.Bits[0] == 1 ? (n + 7) / 8 : h.Bits[0] == 8 ? n : 0;
  for (int c = 1; c <= 3; ++c) need += h.Bits[c] == 8 ? n : 0;
  if (planes.size() < need) throw ERasterError(kMsgImageCorrupted);

  bitmap.SetSize(int(h.Width), int(h.Height));
  TColor32* px = bitmap.Bits();
  const uint8_t* cur = planes.data();
  switch (h.Bits[0]) {
  case 0:
    std::fill(px, px + n, TColor32(0xFF000000));
    break;
  case 1:
    for (size_t i = 0; i < n; ++i)
      px[i] = (cur[i / 8] >> (7 - i % 8)) & 1 ? TColor32(0xFF000000) : 0;
    cur += (n + 7) / 8;
    break;
  default:
    for (size_t i = 0; i < n; ++i) px[i] = TColor32(cur[i]) << 24;
    cur += n;
    break;
  }
  for (int c = 1; c <= 3; ++c) {
    if (h.Bits[c] != 8) continue;
    const int shift = 8 * (3 - c); // red 16, green 8, blue 0
    for (size_t i = 0; i < n; ++i) px[i] |= TColor32(cur[i]) << shift;
    cur += n;
  }
}

void TQzpImage::SaveToStream(TRasterStream* stream, const TBitmap32& bitmap) {
  if (!stream) throw ERasterError(kMsgStreamUnassigned);
  const size_t w = size_t(bitmap.Width()), hgt = size_t(bitmap.Height());
  uint8_t header[kHeaderSize] = {'Q', 'Z', 'P', 0};
  PutU32(header + 4, uint32_t(w));
  PutU32(header + 8, uint32_t(hgt));
  PutU32(header + 12, 1);
  header[16] = header[17] = header[18] = header[19] = 8;
  header[21] = 1;
  const size_t n = w * hgt;
  if (n == 0) {
    stream->Write(header, kHeaderSize);
    return;
  }
  std::vector<uint8_t> packed;
  try {
    std::vector<uint8_t> planes(4 * n);
    const TColor32* px = bitmap.Bits();
    for (size_t i = 0; i < n; ++i) {
      planes[i] = uint8_t(px[i] >> 24);
      planes[n + i] = uint8_t(px[i] >> 16);
      planes[2 * n + i] = uint8_t(px[i] >> 8);
      planes[3 * n + i] = uint8_t(px[i]);
    }
    packed = PackBytes(planes);
  } catch (const ERasterError&) {
    throw ERasterError(kMsgUnableToCompress);
  } catch (const std::bad_alloc&) {
    throw ERasterError(kMsgUnableToCompress);
  }
  uint8_t sizes[8];
  PutU32(sizes, uint32_t(4 * n));
  PutU32(sizes + 4, uint32_t(packed.size()));
  stream->Write(header, kHeaderSize);
  stream->Write(sizes, 8);
  stream->Write(packed.data(), packed.size());
}

void TQzpGraphic::LoadFromStream(TRasterStream& stream) {
  TQzpImage image;
  image.LoadFromStream(&stream, *this, 0, 0, 0);
}

} // namespace dtp
