// JPEG over libjpeg's IJG interface.
//
// libjpeg reports errors by calling error_exit, which must not return; it longjmps back to
// a setjmp taken in a "step" function. A step keeps only trivially destructible locals and
// is entered with every C++ object it needs already built, so the jump never skips a
// destructor; the caller turns a failed step into an exception after the jump.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "engine/graphics/raster_codec.h"
#include "engine/graphics/raster_formats.h"
#include "platform/core/limits.h"

namespace dtp {

namespace {

struct TJpegError {
  jpeg_error_mgr Manager;
  std::jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<TJpegError*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->Message);
  std::longjmp(err->Jump, 1);
}

void JpegOutputMessage(j_common_ptr) {}

// Warnings are not printed. Those that mean pixels are missing (the scan data ends early
// or cannot be decoded) end the decode: a picture never loads half grey without a word.
void JpegEmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  const int code = cinfo->err->msg_code;
  if (code == JWRN_HIT_MARKER || code == JWRN_HUFF_BAD_CODE || code == JWRN_JPEG_EOF ||
      code == JWRN_MUST_RESYNC)
    JpegErrorExit(cinfo);
}

void InitErrors(TJpegError& err) {
  jpeg_std_error(&err.Manager);
  err.Manager.error_exit = &JpegErrorExit;
  err.Manager.output_message = &JpegOutputMessage;
  err.Manager.emit_message = &JpegEmitMessage;
  err.Message[0] = 0;
}

// --- decoding ---

struct TJpegDecode {
  jpeg_decompress_struct Info;
  TJpegError Error;
  jpeg_source_mgr Source;
  jpeg_progress_mgr Progress;
  bool Created = false;
  bool AllowEnd = false; // the picture is complete: a missing end marker is harmless
  bool HitEnd = false;
  const uint8_t* Data = nullptr;
  size_t Size = 0;
  int Denominator = 1;
  int32_t MaxWidth = 0, MaxHeight = 0;
  bool Cmyk = false;
  TBitmap32* Target = nullptr;
  uint8_t* Row = nullptr;

  ~TJpegDecode() {
    if (Created) jpeg_destroy_decompress(&Info);
  }
};

TJpegDecode& JobOf(j_decompress_ptr cinfo) {
  return *static_cast<TJpegDecode*>(cinfo->client_data);
}

void SourceInit(j_decompress_ptr) {}
void SourceTerm(j_decompress_ptr) {}

boolean SourceFill(j_decompress_ptr cinfo) {
  static const JOCTET kEnd[2] = {0xFF, JPEG_EOI};
  TJpegDecode& job = JobOf(cinfo);
  job.HitEnd = true;
  if (!job.AllowEnd) ERREXIT(cinfo, JERR_INPUT_EOF);
  cinfo->src->next_input_byte = kEnd;
  cinfo->src->bytes_in_buffer = 2;
  return TRUE;
}

void SourceSkip(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  if (size_t(count) > src->bytes_in_buffer) {
    src->next_input_byte += src->bytes_in_buffer;
    src->bytes_in_buffer = 0;
    return;
  }
  src->next_input_byte += count;
  src->bytes_in_buffer -= size_t(count);
}

void ProgressMonitor(j_common_ptr cinfo) {
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > limits::kMaxJpegScans) {
    auto* err = reinterpret_cast<TJpegError*>(cinfo->err);
    std::snprintf(err->Message, sizeof err->Message, "more than %d scans", limits::kMaxJpegScans);
    std::longjmp(err->Jump, 1);
  }
}

// Reads the header and fixes the output size.
bool DecodeHeader(TJpegDecode& job) {
  if (setjmp(job.Error.Jump)) return false;
  j_decompress_ptr c = &job.Info;
  InitErrors(job.Error);
  c->err = &job.Error.Manager;
  jpeg_create_decompress(c);
  job.Created = true;
  c->client_data = &job;
  c->mem->max_memory_to_use = long(limits::kMaxPictureBytes);
  job.Source.init_source = &SourceInit;
  job.Source.fill_input_buffer = &SourceFill;
  job.Source.skip_input_data = &SourceSkip;
  job.Source.resync_to_restart = &jpeg_resync_to_restart;
  job.Source.term_source = &SourceTerm;
  job.Source.next_input_byte = job.Data;
  job.Source.bytes_in_buffer = job.Size;
  c->src = &job.Source;
  job.Progress.progress_monitor = &ProgressMonitor;
  c->progress = &job.Progress;

  jpeg_read_header(c, TRUE);
  job.Denominator =
      TdtpJpgFormat::ScaleDenominator(c->image_width, c->image_height, job.MaxWidth, job.MaxHeight);
  c->scale_num = 1;
  c->scale_denom = unsigned(job.Denominator);
  c->dct_method = JDCT_ISLOW;
  c->do_fancy_upsampling = TRUE;
  job.Cmyk = c->jpeg_color_space == JCS_CMYK || c->jpeg_color_space == JCS_YCCK;
  c->out_color_space = job.Cmyk ? JCS_CMYK : JCS_RGB;
  jpeg_calc_output_dimensions(c);
  return true;
}

// Decodes every row into the target bitmap, whose size and row buffer are ready.
bool DecodeRows(TJpegDecode& job) {
  if (setjmp(job.Error.Jump)) return false;
  j_decompress_ptr c = &job.Info;
  jpeg_start_decompress(c);
  // Adobe writes CMYK inverted.
  const bool inverted = job.Cmyk && c->saw_Adobe_marker;
  while (c->output_scanline < c->output_height) {
    JSAMPROW row = job.Row;
    const JDIMENSION y = c->output_scanline;
    if (jpeg_read_scanlines(c, &row, 1) != 1) ERREXIT(c, JERR_INPUT_EOF);
    TColor32* line = job.Target->ScanLine(int(y));
    const uint8_t* p = job.Row;
    for (JDIMENSION x = 0; x < c->output_width; ++x) {
      if (job.Cmyk) {
        unsigned cc = p[4 * x], m = p[4 * x + 1], yy = p[4 * x + 2], k = p[4 * x + 3];
        if (!inverted) cc = 255 - cc, m = 255 - m, yy = 255 - yy, k = 255 - k;
        line[x] = raster::ArgbOf(255, uint8_t((cc * k + 127) / 255), uint8_t((m * k + 127) / 255),
                                 uint8_t((yy * k + 127) / 255));
      } else {
        line[x] = raster::ArgbOf(255, p[3 * x], p[3 * x + 1], p[3 * x + 2]);
      }
    }
  }
  job.AllowEnd = true;
  jpeg_finish_decompress(c);
  return true;
}

[[noreturn]] void ReadFailed(const TJpegDecode& job) {
  throw ERasterError(FormatMessage("JPEG image is not valid (%s)", {job.Error.Message}));
}

// --- encoding ---

struct TJpegEncode {
  jpeg_compress_struct Info;
  TJpegError Error;
  bool Created = false;
  unsigned char* Buffer = nullptr;
  unsigned long BufferSize = 0;
  const TBitmap32* Source = nullptr;
  uint8_t* Row = nullptr;
  int Quality = 90;

  ~TJpegEncode() {
    if (Created) jpeg_destroy_compress(&Info);
    std::free(Buffer);
  }
};

bool Encode(TJpegEncode& job) {
  if (setjmp(job.Error.Jump)) return false;
  j_compress_ptr c = &job.Info;
  InitErrors(job.Error);
  c->err = &job.Error.Manager;
  jpeg_create_compress(c);
  job.Created = true;
  jpeg_mem_dest(c, &job.Buffer, &job.BufferSize);
  c->image_width = JDIMENSION(job.Source->Width());
  c->image_height = JDIMENSION(job.Source->Height());
  c->input_components = 3;
  c->in_color_space = JCS_RGB;
  jpeg_set_defaults(c);
  jpeg_set_quality(c, job.Quality, TRUE);
  jpeg_start_compress(c, TRUE);
  while (c->next_scanline < c->image_height) {
    const TColor32* line = job.Source->ScanLine(int(c->next_scanline));
    for (JDIMENSION x = 0; x < c->image_width; ++x) {
      job.Row[3 * x] = uint8_t(line[x] >> 16);
      job.Row[3 * x + 1] = uint8_t(line[x] >> 8);
      job.Row[3 * x + 2] = uint8_t(line[x]);
    }
    JSAMPROW row = job.Row;
    jpeg_write_scanlines(c, &row, 1);
  }
  jpeg_finish_compress(c);
  return true;
}

std::unique_ptr<TdtpRaster> CreateJpg() {
  return std::make_unique<TdtpJpgFormat>();
}

} // namespace

const TRasterClass& TdtpJpgFormat::Class() {
  static const TRasterClass c{"TdtpJpgFormat", &CreateJpg, &TdtpJpgFormat::CanRead};
  return c;
}

int TdtpJpgFormat::ScaleDenominator(int64_t width, int64_t height, int32_t maxWidth,
                                    int32_t maxHeight) {
  int d = 1;
  while (width >= 2 * d * int64_t(maxWidth) && height >= 2 * d * int64_t(maxHeight) && d < 5)
    d *= 2;
  return d;
}

void TdtpJpgFormat::LoadFromStream(TRasterStream* stream, TBitmap32& bitmap, int32_t pageIndex,
                                   int32_t maxWidth, int32_t maxHeight) {
  CheckStreamAndPage(stream, pageIndex);
  const int64_t start = stream->Position();
  const std::vector<uint8_t> data = raster::ReadRest(*stream);

  TJpegDecode job;
  job.Data = data.data();
  job.Size = data.size();
  job.MaxWidth = maxWidth;
  job.MaxHeight = maxHeight;
  if (!DecodeHeader(job)) ReadFailed(job);
  m_Width = int32_t(job.Info.image_width);
  m_Height = int32_t(job.Info.image_height);
  raster::CheckPictureSize(job.Info.output_width, job.Info.output_height);

  TBitmap32 decoded{int(job.Info.output_width), int(job.Info.output_height)};
  std::vector<uint8_t> row(size_t(job.Info.output_width) * size_t(job.Info.out_color_components));
  job.Target = &decoded;
  job.Row = row.data();
  // A picture that fails half way is an error, never a partly filled bitmap.
  if (!DecodeRows(job)) ReadFailed(job);

  const size_t consumed = job.HitEnd ? data.size() : data.size() - job.Source.bytes_in_buffer;
  stream->SetPosition(start + int64_t(consumed));
  raster::AdoptPixels(bitmap, std::move(decoded));
}

void TdtpJpgFormat::SaveToStream(TRasterStream* stream, const TBitmap32& bitmap) {
  if (!stream) throw ERasterError(kMsgStreamUnassigned);
  TJpegEncode job;
  std::vector<uint8_t> row(size_t(bitmap.Width()) * 3 + 3);
  job.Source = &bitmap;
  job.Row = row.data();
  job.Quality = m_Quality;
  if (!Encode(job))
    throw ERasterError(FormatMessage("Unable to write JPEG image (%s)", {job.Error.Message}));
  stream->Write(job.Buffer, job.BufferSize);
}

} // namespace dtp
