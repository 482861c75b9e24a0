#pragma once
// Raster picture formats: a registry keyed by file extension, the image filer that picks
// a format and loads or saves a TBitmap32, the BMP, JPEG, PNG and GIF formats, and the
// engine's own lossless QZP format.
//
// Every reader checks the sizes it finds against platform/core/limits.h before it
// allocates and raises ERasterError for malformed, truncated or oversized data; the
// target bitmap is only changed once a picture has been decoded completely.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/graphics/raster_stream.h"
#include "platform/core/color.h"
#include "platform/core/errors.h"
#include "platform/core/geometry.h"
#include "platform/raster/bitmap32.h"

namespace dtp {

class ERasterError : public EDtpError {
public:
  using EDtpError::EDtpError;
};

// Messages of ERasterError, compared literally by callers.
inline constexpr const char* kMsgInputBitmapNotAssigned = "Input bitmap not assigned";
inline constexpr const char* kMsgUnknownRasterFormat = "Unknown raster format \"%s\"";
inline constexpr const char* kMsgCannotSaveFormat = "Cannot save format \"%s\"";
inline constexpr const char* kMsgMethodNotImplemented = "Method not implemented";
inline constexpr const char* kMsgLoadFromStreamNotImplemented =
    "Loading from stream is not implemented";
inline constexpr const char* kMsgNonExistingPage = "Requested non-existing page";
inline constexpr const char* kMsgStreamUnassigned = "Stream to read/write is unassigned";
inline constexpr const char* kMsgNoSuitableCodec = "No suitable codec found";
inline constexpr const char* kMsgUnsupportedBitdepth = "Unsupported bitdepth";
inline constexpr const char* kMsgImageCorrupted = "Image file is corrupted";
inline constexpr const char* kMsgUnableToCompress = "Unable to compress";
inline constexpr const char* kMsgUnableToDecompress = "Unable to decompress";
// Raised by every reader for a picture beyond the decoding limits; "%d x %d" is the size.
inline constexpr const char* kMsgImageTooLarge = "Image too large (%d x %d pixels)";

class TdtpRaster;

// What the registry knows of a format class: its name, how to create it and its class
// operation CanRead (nullptr: no data at hand).
struct TRasterClass {
  const char* ClassName;
  std::unique_ptr<TdtpRaster> (*Create)();
  bool (*CanRead)(TRasterStream* stream);
};

struct TRasterClassHolder {
  const TRasterClass* RasterClass = nullptr;
  std::string Description;
  std::string ClassName;
  std::string Extensions; // lower case, each with its dot and a ";": ".jpg;.jpeg;"
  uint16_t Flags = 0;
};

// Flag bits the engine acts on; the registry carries the other bits unchanged.
constexpr uint16_t rfReadStream = 1;
constexpr uint16_t rfWriteStream = 4;
constexpr uint16_t rfWritable = 8;

// Registering a class that is listed already overwrites its entry. The built-in formats
// are listed on first use, in the order BMP, JPEG, QZP, PNG, GIF.
void RegisterRasterFormat(const TRasterClass& rasterClass, const std::string& description,
                          const std::string& extensions, uint16_t flags);
// The class whose extension list holds the file's extension; nullptr when none does.
const TRasterClass* FindRasterFormat(const std::string& fileName);
uint16_t RasterFormatFlags(const TRasterClass& rasterClass);
// Like FindRasterFormat on an extension, among the classes with rfWritable.
const TRasterClass* FindWriteFormat(const std::string& extension);
const std::vector<TRasterClassHolder>& RasterFormats();

// ".JPG" of "/a/b.c/Photo.JPG"; empty when the name has no extension.
std::string ExtractFileExt(const std::string& fileName);

class TdtpRaster {
public:
  virtual ~TdtpRaster() = default;
  TdtpRaster(const TdtpRaster&) = delete;
  TdtpRaster& operator=(const TdtpRaster&) = delete;

  const TRasterClass& RasterClass() const { return *m_Class; }
  uint16_t Flags() const { return m_Flags; }
  int32_t Width() const { return m_Width; }
  int32_t Height() const { return m_Height; }
  int32_t PageCount() const { return m_PageCount; }
  int32_t BytesProcessed() const { return m_BytesProcessed; }

  // Reads the page into the bitmap; maxWidth and maxHeight bound the decoded size where
  // the format can reduce (JPEG, QZP).
  virtual void LoadFromFile(const std::string& fileName, TBitmap32& bitmap, int32_t pageIndex,
                            int32_t maxWidth, int32_t maxHeight);
  virtual void LoadFromStream(TRasterStream* stream, TBitmap32& bitmap, int32_t pageIndex,
                              int32_t maxWidth, int32_t maxHeight);
  virtual void SaveToStream(TRasterStream* stream, const TBitmap32& bitmap);
  // A failed save removes the partly written file.
  virtual void SaveToFile(const std::string& fileName, const TBitmap32& bitmap);

protected:
  explicit TdtpRaster(const TRasterClass& rasterClass);
  // The checks every single-page reader starts with.
  void CheckStreamAndPage(TRasterStream* stream, int32_t pageIndex) const;

  int32_t m_Width = 0;
  int32_t m_Height = 0;
  int32_t m_PageCount = 1;
  int32_t m_BytesProcessed = 0;

private:
  const TRasterClass* m_Class;
  uint16_t m_Flags = 0;
};

class TdtpBmpFormat : public TdtpRaster {
public:
  TdtpBmpFormat() : TdtpRaster(Class()) {}
  static const TRasterClass& Class();
  static bool CanRead(TRasterStream*) { return true; }

  // 32 (default: keeps alpha) or 24 bits per pixel when writing.
  int BitsPerPixel() const { return m_BitsPerPixel; }
  void SetBitsPerPixel(int value);

  void LoadFromStream(TRasterStream* stream, TBitmap32& bitmap, int32_t pageIndex, int32_t maxWidth,
                      int32_t maxHeight) override;
  void SaveToStream(TRasterStream* stream, const TBitmap32& bitmap) override;

private:
  int m_BitsPerPixel = 32;
};

class TdtpJpgFormat : public TdtpRaster {
public:
  TdtpJpgFormat() : TdtpRaster(Class()) {}
  static const TRasterClass& Class();
  static bool CanRead(TRasterStream*) { return true; }

  uint8_t Quality() const { return m_Quality; }
  void SetQuality(uint8_t value) { m_Quality = value; }

  void LoadFromStream(TRasterStream* stream, TBitmap32& bitmap, int32_t pageIndex, int32_t maxWidth,
                      int32_t maxHeight) override;
  void SaveToStream(TRasterStream* stream, const TBitmap32& bitmap) override;

  // The 1/d scale the reader decodes a w x h picture at: 1, 2, 4 or 8.
  static int ScaleDenominator(int64_t width, int64_t height, int32_t maxWidth, int32_t maxHeight);

private:
  uint8_t m_Quality = 90;
};

class TdtpPngFormat : public TdtpRaster {
public:
  TdtpPngFormat() : TdtpRaster(Class()) {}
  static const TRasterClass& Class();
  static bool CanRead(TRasterStream*) { return true; }

  void LoadFromStream(TRasterStream* stream, TBitmap32& bitmap, int32_t pageIndex, int32_t maxWidth,
                      int32_t maxHeight) override;
  void SaveToStream(TRasterStream* stream, const TBitmap32& bitmap) override;
};

class TdtpGifFormat : public TdtpRaster {
public:
  TdtpGifFormat() : TdtpRaster(Class()) {}
  static const TRasterClass& Class();
  static bool CanRead(TRasterStream*) { return true; }

  // Pixels with alpha below the threshold are written transparent.
  int32_t AlphaThreshold() const { return m_AlphaThreshold; }
  void SetAlphaThreshold(int32_t value) { m_AlphaThreshold = value; }
  // Palette colour of the transparent index.
  TColor TransparentColor() const { return m_TransparentColor; }
  void SetTransparentColor(TColor value) { m_TransparentColor = value; }

  void LoadFromStream(TRasterStream* stream, TBitmap32& bitmap, int32_t pageIndex, int32_t maxWidth,
                      int32_t maxHeight) override;
  void SaveToStream(TRasterStream* stream, const TBitmap32& bitmap) override;

private:
  int32_t m_AlphaThreshold = 32;
  TColor m_TransparentColor = clBlack;
};

// The header of a QZP picture.
struct TQzpHeader {
  uint32_t Width = 0;
  uint32_t Height = 0;
  uint32_t PageCount = 1;
  uint8_t Bits[5] = {8, 8, 8, 8, 0}; // alpha, red, green, blue, fifth plane
  uint8_t Compression = 1;           // 0 stored, 1 packed
  // Bytes of plane data of one page: ((sum of bits + 7) div 8) * W * H.
  uint64_t PlaneBytes() const;
};

class TQzpImage : public TdtpRaster {
public:
  TQzpImage() : TdtpRaster(Class()) {}
  static const TRasterClass& Class();
  // Checks the signature "QZP\0" and restores the position; false without a stream.
  static bool CanRead(TRasterStream* stream);

  void LoadFromStream(TRasterStream* stream, TBitmap32& bitmap, int32_t pageIndex, int32_t maxWidth,
                      int32_t maxHeight) override;
  void SaveToStream(TRasterStream* stream, const TBitmap32& bitmap) override;

  // Decompresses a page packed with a compression kind other than 0 and 1.
  virtual void DecodeOther(uint8_t compression, TRasterStream& source, TRasterStream& target);
  // Fills a bitmap of the header's size from the plane data of one page.
  virtual void DecodePlanes(std::span<const uint8_t> planes, TBitmap32& bitmap);

  const TQzpHeader& Header() const { return m_Header; }

private:
  TQzpHeader m_Header;
};

// A bitmap that loads itself from QZP data (page 0, no size limit).
class TQzpGraphic : public TBitmap32 {
public:
  void LoadFromStream(TRasterStream& stream);
};

class TdtpImageFiler {
public:
  TdtpImageFiler();
  ~TdtpImageFiler();
  TdtpImageFiler(const TdtpImageFiler&) = delete;
  TdtpImageFiler& operator=(const TdtpImageFiler&) = delete;

  const std::string& Extension() const { return m_Extension; }
  void SetExtension(const std::string& value);
  const std::string& FileName() const { return m_FileName; }
  void SetFileName(const std::string& value);
  int32_t MaxWidth() const { return m_MaxWidth; }
  void SetMaxWidth(int32_t value) { m_MaxWidth = value; }
  int32_t MaxHeight() const { return m_MaxHeight; }
  void SetMaxHeight(int32_t value) { m_MaxHeight = value; }
  int32_t PageIndex() const { return m_PageIndex; }
  void SetPageIndex(int32_t value) { m_PageIndex = value; }
  int32_t PageCount() const { return m_PageCount; }
  TdtpRaster* Format() const { return m_Format.get(); }
  void SetFormat(std::unique_ptr<TdtpRaster> format) { m_Format = std::move(format); }
  TRasterStream* Stream() const { return m_Stream; }
  void SetStream(TRasterStream* stream) { m_Stream = stream; }
  int32_t BytesProcessed() const { return m_BytesProcessed; }

  // Reads the picture into the bitmap (resized to it).
  void Load(TBitmap32* bitmap);
  void Save(const TBitmap32* bitmap);

private:
  void ChooseReadFormat();

  std::string m_Extension;
  std::string m_FileName;
  int32_t m_MaxWidth = 4000;
  int32_t m_MaxHeight = 4000;
  int32_t m_PageIndex = 0;
  int32_t m_PageCount = 0;
  std::unique_ptr<TdtpRaster> m_Format;
  TRasterStream* m_Stream = nullptr;
  int32_t m_BytesProcessed = 0;
};

// Area-averaging reduction of src's rectangle into dst's (target sides no larger than the
// source's, both inside their bitmaps): each target pixel is, channel by channel, the
// integer mean of its block of source pixels. Raises ERasterError for invalid rectangles.
void AreaReduce(const TBitmap32& src, const TRect& srcRect, TBitmap32& dst, const TRect& dstRect);
// The whole of src into the whole of dst.
void AreaReduce(const TBitmap32& src, TBitmap32& dst);

} // namespace dtp
