#include "engine/graphics/raster_formats.h"

#include <algorithm>
#include <cstdio>

#include "engine/graphics/raster_codec.h"
#include "platform/core/limits.h"

namespace dtp {

// --- shared helpers ---

namespace raster {

void CheckPictureSize(int64_t width, int64_t height) {
  if (width <= 0 || height <= 0) throw ERasterError(kMsgImageCorrupted);
  if (width > limits::kMaxPictureSide || height > limits::kMaxPictureSide ||
      width * height > limits::kMaxPicturePixels || width * height * 4 > limits::kMaxPictureBytes)
    throw ERasterError(
        FormatMessage(kMsgImageTooLarge, {std::to_string(width), std::to_string(height)}));
}

std::vector<uint8_t> ReadRest(TRasterStream& stream) {
  const int64_t n = stream.Remaining();
  if (n > limits::kMaxPictureBytes) throw ERasterError("Encoded picture is too large");
  std::vector<uint8_t> data(static_cast<size_t>(n));
  data.resize(stream.Read(data.data(), data.size()));
  return data;
}

void AdoptPixels(TBitmap32& target, TBitmap32&& decoded) {
  // Copied rather than moved, so that every drawing setting of the target survives.
  target.SetSize(decoded.Width(), decoded.Height());
  std::copy(decoded.Bits(), decoded.Bits() + size_t(decoded.Width()) * size_t(decoded.Height()),
            target.Bits());
  decoded = TBitmap32();
}

} // namespace raster

std::string ExtractFileExt(const std::string& fileName) {
  const size_t dot = fileName.find_last_of("./\\:");
  if (dot == std::string::npos || fileName[dot] != '.') return {};
  return fileName.substr(dot);
}

namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

std::vector<TRasterClassHolder>& Registry() {
  static std::vector<TRasterClassHolder> list = [] {
    std::vector<TRasterClassHolder> l;
    auto add = [&l](const TRasterClass& c, const char* d, const char* e, uint16_t f) {
      l.push_back({&c, d, c.ClassName, e, f});
    };
    add(TdtpBmpFormat::Class(), "Windows Bitmap", ".bmp;.dib;", 15);
    add(TdtpJpgFormat::Class(), "JPEG images", ".jpg;.jp;.jpeg;", 3615);
    add(TQzpImage::Class(), "QZP Image", ".qzp;", 111);
    add(TdtpPngFormat::Class(), "Portable Network Graphics", ".png;", 79);
    add(TdtpGifFormat::Class(), "Compuserve GIF", ".gif;", 4207);
    return l;
  }();
  return list;
}

const TRasterClass* FindByExtension(const std::string& extension, uint16_t requiredFlags) {
  if (extension.empty()) return nullptr;
  const std::string key = Lower(extension) + ";";
  for (const TRasterClassHolder& h : Registry())
    if ((h.Flags & requiredFlags) == requiredFlags && h.Extensions.find(key) != std::string::npos)
      return h.RasterClass;
  return nullptr;
}

} // namespace

void RegisterRasterFormat(const TRasterClass& rasterClass, const std::string& description,
                          const std::string& extensions, uint16_t flags) {
  auto& list = Registry();
  for (TRasterClassHolder& h : list)
    if (h.RasterClass == &rasterClass) {
      h = {&rasterClass, description, rasterClass.ClassName, Lower(extensions), flags};
      return;
    }
  list.push_back({&rasterClass, description, rasterClass.ClassName, Lower(extensions), flags});
}

const TRasterClass* FindRasterFormat(const std::string& fileName) {
  return FindByExtension(ExtractFileExt(fileName), 0);
}

uint16_t RasterFormatFlags(const TRasterClass& rasterClass) {
  for (const TRasterClassHolder& h : Registry())
    if (h.RasterClass == &rasterClass) return h.Flags;
  return 0;
}

const TRasterClass* FindWriteFormat(const std::string& extension) {
  return FindByExtension(extension, rfWritable);
}

const std::vector<TRasterClassHolder>& RasterFormats() {
  return Registry();
}

// --- TdtpRaster ---

TdtpRaster::TdtpRaster(const TRasterClass& rasterClass)
    : m_Class(&rasterClass), m_Flags(RasterFormatFlags(rasterClass)) {}

void TdtpRaster::CheckStreamAndPage(TRasterStream* stream, int32_t pageIndex) const {
  if (pageIndex > 0) throw ERasterError(kMsgNonExistingPage);
  if (!stream) throw ERasterError(kMsgStreamUnassigned);
}

void TdtpRaster::LoadFromFile(const std::string& fileName, TBitmap32& bitmap, int32_t pageIndex,
                              int32_t maxWidth, int32_t maxHeight) {
  if (!(m_Flags & rfReadStream)) throw ERasterError(kMsgMethodNotImplemented);
  TRasterFileStream file(fileName, TRasterFileStream::fmOpenRead);
  LoadFromStream(&file, bitmap, pageIndex, maxWidth, maxHeight);
  m_BytesProcessed = int32_t(file.Position());
}

void TdtpRaster::LoadFromStream(TRasterStream*, TBitmap32&, int32_t, int32_t, int32_t) {
  throw ERasterError(kMsgLoadFromStreamNotImplemented);
}

void TdtpRaster::SaveToStream(TRasterStream*, const TBitmap32&) {
  throw ERasterError(kMsgMethodNotImplemented);
}

void TdtpRaster::SaveToFile(const std::string& fileName, const TBitmap32& bitmap) {
  if (!(m_Flags & rfWriteStream)) throw ERasterError(kMsgMethodNotImplemented);
  TRasterFileStream file(fileName, TRasterFileStream::fmCreate);
  try {
    SaveToStream(&file, bitmap);
    m_BytesProcessed = int32_t(file.Position());
    file.Close();
  } catch (...) {
    // No half-written picture is left behind under the requested name.
    try {
      file.Close();
    } catch (const EStreamError&) {
    }
    std::remove(fileName.c_str());
    throw;
  }
}

// --- TdtpImageFiler ---

TdtpImageFiler::TdtpImageFiler() = default;
TdtpImageFiler::~TdtpImageFiler() = default;

void TdtpImageFiler::SetExtension(const std::string& value) {
  if (value == m_Extension) return;
  m_Extension = value;
  m_Format.reset();
}

void TdtpImageFiler::SetFileName(const std::string& value) {
  if (value == m_FileName) return;
  m_FileName = value;
  m_Format.reset();
}

void TdtpImageFiler::ChooseReadFormat() {
  if (!m_FileName.empty()) {
    // Keep the format: the name is unchanged, only its extension is looked at.
    m_Extension = ExtractFileExt(m_FileName);
  }
  if (!m_Extension.empty()) {
    if (const TRasterClass* c = FindByExtension(m_Extension, 0)) {
      std::unique_ptr<TdtpRaster> candidate = c->Create();
      if (c->CanRead(nullptr)) {
        m_Format = std::move(candidate);
        return;
      }
      if (m_Stream && (candidate->Flags() & rfReadStream)) {
        // Checked where the picture will be read from, so that a picture inside a larger
        // stream is judged by its own bytes.
        const int64_t at = m_Stream->Position();
        const bool ok = c->CanRead(m_Stream);
        m_Stream->SetPosition(at);
        if (ok) {
          m_Format = std::move(candidate);
          return;
        }
      } else if (!m_FileName.empty()) {
        TRasterFileStream file(m_FileName, TRasterFileStream::fmOpenRead);
        if (c->CanRead(&file)) {
          m_Format = std::move(candidate);
          return;
        }
      }
    }
  }
  if (m_FileName.empty()) return;
  TRasterFileStream file(m_FileName, TRasterFileStream::fmOpenRead);
  for (const TRasterClassHolder& h : Registry()) {
    file.SetPosition(0);
    if (h.RasterClass->CanRead(&file)) {
      m_Format = h.RasterClass->Create();
      return;
    }
  }
}

void TdtpImageFiler::Load(TBitmap32* bitmap) {
  if (!bitmap) throw ERasterError(kMsgInputBitmapNotAssigned);
  if (!m_Format) ChooseReadFormat();
  if (!m_Format) throw ERasterError(FormatMessage(kMsgUnknownRasterFormat, {m_Extension}));
  if (m_Stream) {
    const int64_t before = m_Stream->Position();
    m_Format->LoadFromStream(m_Stream, *bitmap, m_PageIndex, m_MaxWidth, m_MaxHeight);
    m_BytesProcessed = int32_t(m_Stream->Position() - before);
  } else if (m_Format->Flags() & rfReadStream) {
    TRasterFileStream file(m_FileName, TRasterFileStream::fmOpenRead);
    m_Format->LoadFromStream(&file, *bitmap, m_PageIndex, m_MaxWidth, m_MaxHeight);
    m_BytesProcessed = int32_t(file.Size());
  } else {
    m_Format->LoadFromFile(m_FileName, *bitmap, m_PageIndex, m_MaxWidth, m_MaxHeight);
    m_BytesProcessed = m_Format->BytesProcessed();
  }
  m_PageCount = m_Format->PageCount();
}

void TdtpImageFiler::Save(const TBitmap32* bitmap) {
  if (!bitmap) throw ERasterError(kMsgInputBitmapNotAssigned);
  if (!m_Format) {
    std::string ext = ExtractFileExt(m_FileName);
    if (ext.empty()) ext = m_Extension;
    const TRasterClass* c = FindWriteFormat(ext);
    if (!c) throw ERasterError(FormatMessage(kMsgCannotSaveFormat, {ext}));
    m_Format = c->Create();
  }
  if (m_Stream && (m_Format->Flags() & rfWriteStream)) {
    const int64_t before = m_Stream->Position();
    m_Format->SaveToStream(m_Stream, *bitmap);
    m_BytesProcessed = int32_t(m_Stream->Size() - before);
  } else {
    m_Format->SaveToFile(m_FileName, *bitmap);
    TRasterFileStream file(m_FileName, TRasterFileStream::fmOpenRead);
    m_BytesProcessed = int32_t(file.Size());
  }
}

// --- area-averaging reduction ---

namespace {

// Distributes total over count steps as evenly as integer steps allow; returns the
// count + 1 run boundaries.
std::vector<int64_t> SplitBounds(int64_t total, int64_t count) {
  std::vector<int64_t> bounds(size_t(count) + 1);
  const int64_t b = total / count;
  int64_t acc = 0, run = 0;
  for (int64_t i = 0; i < count; ++i) {
    bounds[size_t(i)] = run;
    int64_t step = b;
    acc += total - count * b;
    if (acc >= count) {
      step = b + 1;
      acc -= count;
    }
    run += step;
  }
  bounds[size_t(count)] = run;
  return bounds;
}

bool Inside(const TRect& r, const TBitmap32& bmp) {
  return r.Left >= 0 && r.Top >= 0 && r.Right <= bmp.Width() && r.Bottom <= bmp.Height() &&
         r.Left <= r.Right && r.Top <= r.Bottom;
}

} // namespace

void AreaReduce(const TBitmap32& src, const TRect& srcRect, TBitmap32& dst, const TRect& dstRect) {
  const int64_t sw = srcRect.Width(), sh = srcRect.Height();
  const int64_t tw = dstRect.Width(), th = dstRect.Height();
  if (!Inside(srcRect, src) || !Inside(dstRect, dst) || tw > sw || th > sh)
    throw ERasterError("Invalid reduction rectangle");
  if (tw == 0 || th == 0) return;

  const std::vector<int64_t> cols = SplitBounds(sw, tw);
  const std::vector<int64_t> rows = SplitBounds(sh, th);
  std::vector<uint64_t> sums(size_t(tw) * 4);
  for (int64_t ty = 0; ty < th; ++ty) {
    std::fill(sums.begin(), sums.end(), 0);
    const int64_t y0 = rows[size_t(ty)], y1 = rows[size_t(ty) + 1];
    for (int64_t y = y0; y < y1; ++y) {
      const TColor32* line = src.ScanLine(int(srcRect.Top + y)) + srcRect.Left;
      for (int64_t tx = 0; tx < tw; ++tx) {
        uint64_t* s = &sums[size_t(tx) * 4];
        for (int64_t x = cols[size_t(tx)]; x < cols[size_t(tx) + 1]; ++x) {
          const TColor32 c = line[x];
          s[0] += c >> 24;
          s[1] += (c >> 16) & 0xFF;
          s[2] += (c >> 8) & 0xFF;
          s[3] += c & 0xFF;
        }
      }
    }
    TColor32* out = dst.ScanLine(int(dstRect.Top + ty)) + dstRect.Left;
    for (int64_t tx = 0; tx < tw; ++tx) {
      const uint64_t n = uint64_t(cols[size_t(tx) + 1] - cols[size_t(tx)]) * uint64_t(y1 - y0);
      const uint64_t* s = &sums[size_t(tx) * 4];
      out[tx] = raster::ArgbOf(uint8_t(s[0] / n), uint8_t(s[1] / n), uint8_t(s[2] / n),
                               uint8_t(s[3] / n));
    }
  }
}

void AreaReduce(const TBitmap32& src, TBitmap32& dst) {
  AreaReduce(src, {0, 0, src.Width(), src.Height()}, dst, {0, 0, dst.Width(), dst.Height()});
}

} // namespace dtp
