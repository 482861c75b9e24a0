#pragma once
// Bitmaps and byte streams embedded directly in card XML: an element holding "SourceSize",
// "CompressedSize" and "Buffer" (the packed stream in Base64). The stream of a bitmap is a
// complete Windows bitmap file image whose bytes are regrouped into planes before packing.
//
// Readers treat the element's sizes as claims: nothing is allocated from them alone, a
// "Buffer" shorter than "CompressedSize" or an unpacked stream of another length than
// "SourceSize" raises ERasterError("Unable to decompress"), bad Base64 raises EXmlError,
// and a bitmap image that does not decode raises the BMP reader's error. A failed read
// leaves the caller's stream or bitmap as it was.

#include <memory>
#include <string_view>

#include "engine/graphics/raster_stream.h"
#include "platform/raster/bitmap32.h"
#include "platform/xml/xml.h"

namespace dtp {

// Nothing when the stream is empty or the node is not assigned; else packs the whole
// stream (from position 0) and adds the element `name`.
void WriteXmlStream(xml::TXmlNode node, std::string_view name, TRasterStream& stream);
// Replaces the stream's content by the element's unpacked bytes and rewinds it. A missing
// element or a size of 0 leaves the stream empty. Returns whether bytes were read.
bool ReadXmlStream(xml::TXmlNode node, std::string_view name, TRasterStream& stream);

// A 24-bit bitmap image split into 3 planes (colour only).
void WriteXmlBitmap(xml::TXmlNode node, std::string_view name, const TBitmap32* bitmap);
// A 32-bit bitmap image split into 4 planes (alpha kept).
void WriteXmlBitmap32(xml::TXmlNode node, std::string_view name, const TBitmap32* bitmap);
// Read the forms above; the bitmap is created when the caller passes none. Without an
// element (or with an empty stream) the bitmap is left untouched and false is returned.
bool ReadXmlBitmap(xml::TXmlNode node, std::string_view name, std::unique_ptr<TBitmap32>& bitmap);
bool ReadXmlBitmap32(xml::TXmlNode node, std::string_view name, std::unique_ptr<TBitmap32>& bitmap);

// The largest unpacked stream a reader accepts: a picture at the decode limit plus its
// file header.
constexpr int64_t kMaxXmlStreamBytes = (int64_t(512) << 20) + 4096;

} // namespace dtp
