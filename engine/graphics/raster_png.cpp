// PNG over libpng.
//
// libpng reports errors by longjmp to the setjmp of the running "step" function. Steps
// keep only trivially destructible locals and run with every C++ object they need already
// built; callbacks into our code catch their own exceptions before reporting an error, so
// no jump ever crosses a C++ destructor or an active exception.
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <png.h>

#include "engine/graphics/raster_codec.h"
#include "engine/graphics/raster_formats.h"
#include "platform/core/limits.h"

namespace dtp {

namespace {

struct TPngJob {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  bool Writing = false;
  char Message[256] = {};
  // reading
  const uint8_t* Data = nullptr;
  size_t Size = 0;
  size_t Offset = 0;
  png_uint_32 Width = 0, Height = 0;
  // both directions: one pointer per row of the picture
  png_bytepp Rows = nullptr;
  // writing
  std::vector<uint8_t>* Output = nullptr;

  ~TPngJob() {
    if (!Png) return;
    if (Writing)
      png_destroy_write_struct(&Png, &Info);
    else
      png_destroy_read_struct(&Png, &Info, nullptr);
  }
};

void PngError(png_structp png, png_const_charp message) {
  auto* job = static_cast<TPngJob*>(png_get_error_ptr(png));
  std::snprintf(job->Message, sizeof job->Message, "%s", message ? message : "unknown error");
  png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

void PngRead(png_structp png, png_bytep out, size_t count) {
  auto* job = static_cast<TPngJob*>(png_get_io_ptr(png));
  if (count > job->Size - job->Offset) png_error(png, "truncated data");
  std::memcpy(out, job->Data + job->Offset, count);
  job->Offset += count;
}

void PngWrite(png_structp png, png_bytep data, size_t count) {
  auto* job = static_cast<TPngJob*>(png_get_io_ptr(png));
  bool failed = false;
  try {
    job->Output->insert(job->Output->end(), data, data + count);
  } catch (...) {
    failed = true;
  }
  if (failed) png_error(png, "out of memory");
}

void PngFlush(png_structp) {}

// Reads the header and sets up 8-bit RGBA rows for any PNG colour type.
bool ReadHeader(TPngJob& job) {
  if (setjmp(png_jmpbuf(job.Png))) return false;
  png_structp png = job.Png;
  png_infop info = job.Info;
  png_set_read_fn(png, &job, &PngRead);
  png_set_user_limits(png, png_uint_32(limits::kMaxPictureSide),
                      png_uint_32(limits::kMaxPictureSide));
  png_read_info(png, info);
  job.Width = png_get_image_width(png, info);
  job.Height = png_get_image_height(png, info);
  const int type = png_get_color_type(png, info);
  // Palette, low-bit grey and tRNS transparency become 8-bit RGB(A).
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  if (!(type & PNG_COLOR_MASK_ALPHA) && !png_get_valid(png, info, PNG_INFO_tRNS))
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != size_t(job.Width) * 4) png_error(png, "unexpected row size");
  return true;
}

bool ReadImage(TPngJob& job) {
  if (setjmp(png_jmpbuf(job.Png))) return false;
  png_read_image(job.Png, job.Rows);
  return true;
}

// The chunks after the pixels; the picture is complete whatever happens here.
bool ReadEnd(TPngJob& job) {
  if (setjmp(png_jmpbuf(job.Png))) return false;
  png_read_end(job.Png, nullptr);
  return true;
}

bool Write(TPngJob& job) {
  if (setjmp(png_jmpbuf(job.Png))) return false;
  png_structp png = job.Png;
  png_set_write_fn(png, &job, &PngWrite, &PngFlush);
  png_set_IHDR(png, job.Info, job.Width, job.Height, 8, PNG_COLOR_TYPE_RGB_ALPHA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 9);
  png_write_info(png, job.Info);
  png_write_image(png, job.Rows);
  png_write_end(png, nullptr);
  return true;
}

std::unique_ptr<TdtpRaster> CreatePng() {
  return std::make_unique<TdtpPngFormat>();
}

} // namespace

const TRasterClass& TdtpPngFormat::Class() {
  static const TRasterClass c{"TdtpPngFormat", &CreatePng, &TdtpPngFormat::CanRead};
  return c;
}

void TdtpPngFormat::LoadFromStream(TRasterStream* stream, TBitmap32& bitmap, int32_t pageIndex,
                                   int32_t, int32_t) {
  CheckStreamAndPage(stream, pageIndex);
  const int64_t start = stream->Position();
  const std::vector<uint8_t> data = raster::ReadRest(*stream);
  auto fail = [](const char* detail) {
    throw ERasterError(FormatMessage("PNG image is not valid (%s)", {detail}));
  };
  if (data.size() < 8 || png_sig_cmp(data.data(), 0, 8) != 0) fail("wrong signature");

  TPngJob job;
  job.Data = data.data();
  job.Size = data.size();
  job.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job, &PngError, &PngWarning);
  if (!job.Png) fail("out of memory");
  job.Info = png_create_info_struct(job.Png);
  if (!job.Info) fail("out of memory");
  if (!ReadHeader(job)) fail(job.Message);
  m_Width = int32_t(job.Width);
  m_Height = int32_t(job.Height);
  raster::CheckPictureSize(job.Width, job.Height);

  // Rows are decoded as R, G, B, A bytes straight into the pixels, then repacked.
  TBitmap32 decoded{int(job.Width), int(job.Height)};
  std::vector<png_bytep> rows(job.Height);
  for (png_uint_32 y = 0; y < job.Height; ++y)
    rows[y] = reinterpret_cast<png_bytep>(decoded.ScanLine(int(y)));
  job.Rows = rows.data();
  if (!ReadImage(job)) fail(job.Message);
  (void)ReadEnd(job);

  for (png_uint_32 y = 0; y < job.Height; ++y) {
    TColor32* line = decoded.ScanLine(int(y));
    const uint8_t* p = rows[y];
    for (png_uint_32 x = 0; x < job.Width; ++x) {
      uint8_t b[4];
      std::memcpy(b, p + 4 * x, 4);
      line[x] = raster::ArgbOf(b[3], b[0], b[1], b[2]);
    }
  }
  stream->SetPosition(start + int64_t(job.Offset));
  raster::AdoptPixels(bitmap, std::move(decoded));
}

void TdtpPngFormat::SaveToStream(TRasterStream* stream, const TBitmap32& bitmap) {
  if (!stream) throw ERasterError(kMsgStreamUnassigned);
  const size_t w = size_t(bitmap.Width()), h = size_t(bitmap.Height());
  std::vector<uint8_t> pixels(w * h * 4);
  std::vector<png_bytep> rows(h);
  for (size_t y = 0; y < h; ++y) {
    const TColor32* line = bitmap.ScanLine(int(y));
    uint8_t* p = &pixels[y * w * 4];
    rows[y] = p;
    for (size_t x = 0; x < w; ++x) {
      p[4 * x] = uint8_t(line[x] >> 16);
      p[4 * x + 1] = uint8_t(line[x] >> 8);
      p[4 * x + 2] = uint8_t(line[x]);
      p[4 * x + 3] = uint8_t(line[x] >> 24);
    }
  }
  std::vector<uint8_t> output;
  TPngJob job;
  job.Writing = true;
  job.Width = png_uint_32(w);
  job.Height = png_uint_32(h);
  job.Rows = rows.data();
  job.Output = &output;
  auto fail = [](const char* detail) {
    throw ERasterError(FormatMessage("Unable to write PNG image (%s)", {detail}));
  };
  job.Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &job, &PngError, &PngWarning);
  if (!job.Png) fail("out of memory");
  job.Info = png_create_info_struct(job.Png);
  if (!job.Info) fail("out of memory");
  if (!Write(job)) fail(job.Message);
  stream->Write(output.data(), output.size());
}

} // namespace dtp
