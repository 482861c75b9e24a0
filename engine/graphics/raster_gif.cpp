// GIF over giflib: reading draws the first frame, writing reduces the bitmap to a palette
// (median cut, Floyd-Steinberg dithering) and marks pixels below the alpha threshold with
// a transparent index.
#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>

#include <gif_lib.h>

#include "engine/graphics/raster_codec.h"
#include "engine/graphics/raster_formats.h"

namespace dtp {

namespace {

// --- reading ---

struct TGifInput {
  const uint8_t* Data;
  size_t Size;
  size_t Offset;
};

int GifReadFunc(GifFileType* gif, GifByteType* out, int count) {
  auto* in = static_cast<TGifInput*>(gif->UserData);
  const size_t n = std::min(size_t(std::max(count, 0)), in->Size - in->Offset);
  if (n > 0) std::memcpy(out, in->Data + in->Offset, n);
  in->Offset += n;
  return int(n);
}

struct TGifReader {
  GifFileType* Gif = nullptr;
  ~TGifReader() {
    int err = 0;
    if (Gif) DGifCloseFile(Gif, &err);
  }
};

[[noreturn]] void ReadFailed(const char* detail) {
  throw ERasterError(FormatMessage("GIF image is not valid (%s)", {detail}));
}

[[noreturn]] void ReadFailed(int code) {
  const char* text = GifErrorString(code);
  ReadFailed(text ? text : "unknown error");
}

// --- writing ---

struct TGifOutput {
  std::vector<uint8_t>* Data;
};

int GifWriteFunc(GifFileType* gif, const GifByteType* data, int count) {
  auto* out = static_cast<TGifOutput*>(gif->UserData);
  try {
    out->Data->insert(out->Data->end(), data, data + count);
  } catch (...) {
    return 0; // giflib reports a write failure
  }
  return count;
}

struct TGifWriter {
  GifFileType* Gif = nullptr;
  ColorMapObject* Map = nullptr;
  ~TGifWriter() {
    int err = 0;
    if (Gif) EGifCloseFile(Gif, &err);
    if (Map) GifFreeMapObject(Map);
  }
};

[[noreturn]] void WriteFailed(int code) {
  const char* text = GifErrorString(code);
  throw ERasterError(FormatMessage("Unable to write GIF image (%s)", {text ? text : "unknown"}));
}

struct TRgb {
  int R = 0, G = 0, B = 0;
};

// A box of the median cut over a 5-bit-per-channel histogram.
struct TBox {
  int Lo[3], Hi[3]; // inclusive bounds per channel, 0..31
  uint64_t Count = 0;
};

constexpr int kBins = 32;
inline int BinIndex(int r, int g, int b) {
  return (r * kBins + g) * kBins + b;
}

// Reduces the colours of the marked pixels to at most maxColors palette entries.
class TQuantizer {
public:
  TQuantizer(const TBitmap32& bmp, const std::vector<uint8_t>& opaque, int maxColors)
      : m_Bmp(bmp), m_Opaque(opaque), m_Max(maxColors) {}

  // Fills the palette and one index per pixel (transparent pixels get 0).
  void Run(std::vector<TRgb>& palette, std::vector<uint8_t>& indices) {
    indices.assign(m_Opaque.size(), 0);
    if (ExactPalette(palette, indices)) return;
    palette.clear();
    MedianCut(palette);
    Dither(palette, indices);
  }

private:
  // Pictures with few enough colours keep them exactly.
  bool ExactPalette(std::vector<TRgb>& palette, std::vector<uint8_t>& indices) {
    std::unordered_map<uint32_t, uint8_t> seen;
    const TColor32* px = m_Bmp.Bits();
    for (size_t i = 0; i < m_Opaque.size(); ++i) {
      if (!m_Opaque[i]) continue;
      const uint32_t rgb = px[i] & 0xFFFFFF;
      auto it = seen.find(rgb);
      if (it == seen.end()) {
        if (int(seen.size()) == m_Max) return false;
        it = seen.emplace(rgb, uint8_t(seen.size())).first;
        palette.push_back({int(rgb >> 16), int((rgb >> 8) & 0xFF), int(rgb & 0xFF)});
      }
      indices[i] = it->second;
    }
    return true;
  }

  void MedianCut(std::vector<TRgb>& palette) {
    m_Hist.assign(kBins * kBins * kBins, 0);
    m_Sum.assign(size_t(kBins * kBins * kBins) * 3, 0);
    const TColor32* px = m_Bmp.Bits();
    for (size_t i = 0; i < m_Opaque.size(); ++i) {
      if (!m_Opaque[i]) continue;
      const int r = (px[i] >> 16) & 0xFF, g = (px[i] >> 8) & 0xFF, b = px[i] & 0xFF;
      const int k = BinIndex(r >> 3, g >> 3, b >> 3);
      ++m_Hist[size_t(k)];
      m_Sum[size_t(k) * 3] += uint64_t(r);
      m_Sum[size_t(k) * 3 + 1] += uint64_t(g);
      m_Sum[size_t(k) * 3 + 2] += uint64_t(b);
    }
    std::vector<TBox> boxes;
    TBox all{{0, 0, 0}, {kBins - 1, kBins - 1, kBins - 1}, 0};
    Shrink(all);
    boxes.push_back(all);
    while (int(boxes.size()) < m_Max) {
      // Split the most populated box that still spans more than one bin.
      int best = -1;
      for (int i = 0; i < int(boxes.size()); ++i) {
        const TBox& b = boxes[size_t(i)];
        const bool splittable = b.Hi[0] > b.Lo[0] || b.Hi[1] > b.Lo[1] || b.Hi[2] > b.Lo[2];
        if (splittable && (best < 0 || b.Count > boxes[size_t(best)].Count)) best = i;
      }
      if (best < 0) break;
      TBox a = boxes[size_t(best)], b = a;
      int axis = 0;
      for (int c = 1; c < 3; ++c)
        if (a.Hi[c] - a.Lo[c] > a.Hi[axis] - a.Lo[axis]) axis = c;
      // Weighted median along the axis.
      std::array<uint64_t, kBins> slab{};
      ForEachBin(a, [&](int r, int g, int bl, size_t k) {
        const int v[3] = {r, g, bl};
        slab[size_t(v[axis])] += m_Hist[k];
      });
      uint64_t acc = 0;
      int cut = a.Lo[axis];
      for (int v = a.Lo[axis]; v < a.Hi[axis]; ++v) {
        acc += slab[size_t(v)];
        cut = v;
        if (acc * 2 >= a.Count) break;
      }
      a.Hi[axis] = cut;
      b.Lo[axis] = cut + 1;
      Shrink(a);
      Shrink(b);
      boxes[size_t(best)] = a;
      if (b.Count > 0) boxes.push_back(b);
    }
    for (const TBox& box : boxes) {
      uint64_t n = 0, s[3] = {0, 0, 0};
      ForEachBin(box, [&](int, int, int, size_t k) {
        n += m_Hist[k];
        for (int c = 0; c < 3; ++c) s[c] += m_Sum[k * 3 + size_t(c)];
      });
      if (n == 0) continue;
      palette.push_back(
          {int((s[0] + n / 2) / n), int((s[1] + n / 2) / n), int((s[2] + n / 2) / n)});
    }
  }

  template <class F> void ForEachBin(const TBox& b, F f) const {
    for (int r = b.Lo[0]; r <= b.Hi[0]; ++r)
      for (int g = b.Lo[1]; g <= b.Hi[1]; ++g)
        for (int bl = b.Lo[2]; bl <= b.Hi[2]; ++bl) f(r, g, bl, size_t(BinIndex(r, g, bl)));
  }

  // Tightens a box to the bins that hold pixels and counts them.
  void Shrink(TBox& box) const {
    int lo[3] = {kBins, kBins, kBins}, hi[3] = {-1, -1, -1};
    uint64_t count = 0;
    ForEachBin(box, [&](int r, int g, int bl, size_t k) {
      if (!m_Hist[k]) return;
      count += m_Hist[k];
      const int v[3] = {r, g, bl};
      for (int c = 0; c < 3; ++c) lo[c] = std::min(lo[c], v[c]), hi[c] = std::max(hi[c], v[c]);
    });
    box.Count = count;
    if (count == 0) return;
    for (int c = 0; c < 3; ++c) box.Lo[c] = lo[c], box.Hi[c] = hi[c];
  }

  int Nearest(const std::vector<TRgb>& palette, int r, int g, int b) {
    const size_t key = size_t(BinIndex(r >> 3, g >> 3, b >> 3));
    // The cache is keyed by the 5-bit bin; its centre picks the entry.
    int16_t& hit = m_Cache[key];
    if (hit >= 0) return hit;
    const int cr = (r & ~7) + 4, cg = (g & ~7) + 4, cb = (b & ~7) + 4;
    int best = 0;
    int64_t bestD = INT64_MAX;
    for (size_t i = 0; i < palette.size(); ++i) {
      const int64_t dr = cr - palette[i].R, dg = cg - palette[i].G, db = cb - palette[i].B;
      const int64_t d = dr * dr + dg * dg + db * db;
      if (d < bestD) bestD = d, best = int(i);
    }
    hit = int16_t(best);
    return best;
  }

  void Dither(const std::vector<TRgb>& palette, std::vector<uint8_t>& indices) {
    m_Cache.assign(kBins * kBins * kBins, -1);
    const int w = m_Bmp.Width(), h = m_Bmp.Height();
    // Error rows with one guard cell at each end, in 1/16 units.
    std::vector<int> cur(size_t(w + 2) * 3, 0), next(size_t(w + 2) * 3, 0);
    for (int y = 0; y < h; ++y) {
      std::fill(next.begin(), next.end(), 0);
      const TColor32* line = m_Bmp.ScanLine(y);
      for (int x = 0; x < w; ++x) {
        const size_t i = size_t(y) * size_t(w) + size_t(x);
        if (!m_Opaque[i]) continue;
        const int src[3] = {int((line[x] >> 16) & 0xFF), int((line[x] >> 8) & 0xFF),
                            int(line[x] & 0xFF)};
        int want[3];
        for (int c = 0; c < 3; ++c)
          want[c] = std::clamp(src[c] + cur[size_t(x + 1) * 3 + size_t(c)] / 16, 0, 255);
        const int k = Nearest(palette, want[0], want[1], want[2]);
        indices[i] = uint8_t(k);
        const int got[3] = {palette[size_t(k)].R, palette[size_t(k)].G, palette[size_t(k)].B};
        for (int c = 0; c < 3; ++c) {
          const int e = want[c] - got[c];
          cur[size_t(x + 2) * 3 + size_t(c)] += e * 7;
          next[size_t(x) * 3 + size_t(c)] += e * 3;
          next[size_t(x + 1) * 3 + size_t(c)] += e * 5;
          next[size_t(x + 2) * 3 + size_t(c)] += e;
        }
      }
      std::swap(cur, next);
    }
  }

  const TBitmap32& m_Bmp;
  const std::vector<uint8_t>& m_Opaque;
  int m_Max;
  std::vector<uint64_t> m_Hist, m_Sum;
  std::vector<int16_t> m_Cache;
};

// Later frames and extensions are passed over so that the stream ends up after the GIF.
// The first frame is complete: damage after it only stops the skipping.
void SkipToTrailer(GifFileType* gif) {
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR || type == TERMINATE_RECORD_TYPE) return;
    GifByteType* block = nullptr;
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return;
      while (block)
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return;
    } else if (type == IMAGE_DESC_RECORD_TYPE) {
      int codeSize = 0;
      if (DGifGetImageDesc(gif) == GIF_ERROR || DGifGetCode(gif, &codeSize, &block) == GIF_ERROR)
        return;
      while (block)
        if (DGifGetCodeNext(gif, &block) == GIF_ERROR) return;
    } else {
      return;
    }
  }
}

std::unique_ptr<TdtpRaster> CreateGif() {
  return std::make_unique<TdtpGifFormat>();
}

} // namespace

const TRasterClass& TdtpGifFormat::Class() {
  static const TRasterClass c{"TdtpGifFormat", &CreateGif, &TdtpGifFormat::CanRead};
  return c;
}

void TdtpGifFormat::LoadFromStream(TRasterStream* stream, TBitmap32& bitmap, int32_t pageIndex,
                                   int32_t, int32_t) {
  CheckStreamAndPage(stream, pageIndex);
  const int64_t start = stream->Position();
  const std::vector<uint8_t> data = raster::ReadRest(*stream);
  TGifInput input{data.data(), data.size(), 0};

  TGifReader reader;
  int err = 0;
  reader.Gif = DGifOpen(&input, &GifReadFunc, &err);
  if (!reader.Gif) ReadFailed(err);
  GifFileType* gif = reader.Gif;

  int transparent = -1;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR) ReadFailed(gif->Error);
    if (type == TERMINATE_RECORD_TYPE) ReadFailed("no image");
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* ext = nullptr;
      if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) ReadFailed(gif->Error);
      if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4)
        transparent = (ext[1] & 1) ? ext[4] : -1;
      while (ext)
        if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) ReadFailed(gif->Error);
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) ReadFailed("unknown record");
    break;
  }
  if (DGifGetImageDesc(gif) == GIF_ERROR) ReadFailed(gif->Error);

  const GifImageDesc& frame = gif->Image;
  const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
  if (!map || map->ColorCount <= 0) ReadFailed("no colour table");
  if (frame.Width <= 0 || frame.Height <= 0) ReadFailed("empty frame");
  int64_t w = gif->SWidth, h = gif->SHeight;
  // Some writers leave the screen size 0; the frame then gives it.
  if (w <= 0 || h <= 0) {
    w = int64_t(frame.Left) + frame.Width;
    h = int64_t(frame.Top) + frame.Height;
  }
  m_Width = int32_t(w);
  m_Height = int32_t(h);
  raster::CheckPictureSize(w, h);
  raster::CheckPictureSize(frame.Width, frame.Height);

  TBitmap32 decoded{int(w), int(h)};
  std::vector<GifPixelType> line(static_cast<size_t>(frame.Width));
  auto drawRow = [&](int64_t row) {
    if (DGifGetLine(gif, line.data(), frame.Width) == GIF_ERROR) ReadFailed(gif->Error);
    const int64_t y = frame.Top + row;
    for (int x = 0; x < frame.Width; ++x) {
      const int index = line[size_t(x)];
      if (index == transparent) continue;
      if (index >= map->ColorCount) ReadFailed("colour index outside the palette");
      const int64_t px = int64_t(frame.Left) + x;
      if (px >= w || y >= h) continue;
      const GifColorType& c = map->Colors[index];
      decoded.SetPixel(int(px), int(y), raster::ArgbOf(255, c.Red, c.Green, c.Blue));
    }
  };
  if (frame.Interlace) {
    static const int kOffset[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
      for (int64_t row = kOffset[pass]; row < frame.Height; row += kStep[pass]) drawRow(row);
  } else {
    for (int64_t row = 0; row < frame.Height; ++row) drawRow(row);
  }
  SkipToTrailer(gif);
  stream->SetPosition(start + int64_t(input.Offset));
  raster::AdoptPixels(bitmap, std::move(decoded));
}

void TdtpGifFormat::SaveToStream(TRasterStream* stream, const TBitmap32& bitmap) {
  if (!stream) throw ERasterError(kMsgStreamUnassigned);
  const int w = bitmap.Width(), h = bitmap.Height();
  if (w <= 0 || h <= 0 || w > 65535 || h > 65535)
    throw ERasterError("Unable to write GIF image (no pixels)");
  const size_t n = size_t(w) * size_t(h);

  std::vector<uint8_t> opaque(n);
  bool anyTransparent = false;
  const TColor32* px = bitmap.Bits();
  for (size_t i = 0; i < n; ++i) {
    opaque[i] = int32_t(px[i] >> 24) >= m_AlphaThreshold;
    anyTransparent = anyTransparent || !opaque[i];
  }
  // One index stays free for transparency, so that no visible colour ever shares it.
  std::vector<TRgb> palette;
  std::vector<uint8_t> indices;
  TQuantizer(bitmap, opaque, anyTransparent ? 255 : 256).Run(palette, indices);

  int transparentIndex = -1;
  if (anyTransparent) {
    std::array<uint64_t, 256> uses{};
    for (size_t i = 0; i < n; ++i)
      if (opaque[i]) ++uses[indices[i]];
    transparentIndex = int(std::find(uses.begin(), uses.end(), 0) - uses.begin());
    for (size_t i = 0; i < n; ++i)
      if (!opaque[i]) indices[i] = uint8_t(transparentIndex);
  }
  const size_t entries = std::max<size_t>(palette.size(), size_t(transparentIndex + 1));
  int mapSize = 2;
  while (size_t(mapSize) < entries) mapSize *= 2;

  std::vector<uint8_t> output;
  TGifOutput out{&output};
  TGifWriter writer;
  writer.Map = GifMakeMapObject(mapSize, nullptr);
  if (!writer.Map) throw ERasterError("Unable to write GIF image (out of memory)");
  for (size_t i = 0; i < palette.size(); ++i)
    writer.Map->Colors[i] = {GifByteType(palette[i].R), GifByteType(palette[i].G),
                             GifByteType(palette[i].B)};
  if (transparentIndex >= 0) {
    const TColor rgb = ColorToRGB(m_TransparentColor);
    writer.Map->Colors[transparentIndex] = {GifByteType(rgb & 0xFF), GifByteType((rgb >> 8) & 0xFF),
                                            GifByteType((rgb >> 16) & 0xFF)};
  }

  int err = 0;
  writer.Gif = EGifOpen(&out, &GifWriteFunc, &err);
  if (!writer.Gif) WriteFailed(err);
  GifFileType* gif = writer.Gif;
  EGifSetGifVersion(gif, transparentIndex >= 0);
  if (EGifPutScreenDesc(gif, w, h, 8, 0, writer.Map) == GIF_ERROR) WriteFailed(gif->Error);
  if (transparentIndex >= 0) {
    const GifByteType control[4] = {1, 0, 0, GifByteType(transparentIndex)};
    if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control) == GIF_ERROR)
      WriteFailed(gif->Error);
  }
  if (EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) == GIF_ERROR) WriteFailed(gif->Error);
  for (int y = 0; y < h; ++y)
    if (EGifPutLine(gif, &indices[size_t(y) * size_t(w)], w) == GIF_ERROR) WriteFailed(gif->Error);
  writer.Gif = nullptr;
  if (EGifCloseFile(gif, &err) == GIF_ERROR) WriteFailed(err);
  stream->Write(output.data(), output.size());
}

} // namespace dtp
