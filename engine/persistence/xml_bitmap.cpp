#include "engine/persistence/xml_bitmap.h"

#include <vector>

#include "engine/graphics/raster_formats.h"
#include "engine/graphics/raster_pack.h"
#include "engine/persistence/map_stream.h"
#include "platform/core/errors.h"
#include "platform/core/limits.h"

namespace dtp {

namespace {

std::vector<uint8_t> StreamBytes(TRasterStream& stream) {
  std::vector<uint8_t> bytes(static_cast<size_t>(std::max<int64_t>(0, stream.Size())));
  stream.SetPosition(0);
  if (!bytes.empty()) stream.ReadBuffer(bytes.data(), bytes.size());
  return bytes;
}

// The unpacked bytes of the element, empty when there is none or a size is 0.
std::vector<uint8_t> ReadPacked(xml::TXmlNode node, std::string_view name) {
  const xml::TXmlNode element = node.FindChild(name);
  if (!element) return {};
  const int64_t sourceSize = element.ReadInteger("SourceSize", 0);
  const int64_t compressedSize = element.ReadInteger("CompressedSize", 0);
  if (sourceSize == 0 || compressedSize == 0) return {};
  if (sourceSize < 0 || compressedSize < 0 || sourceSize > kMaxXmlStreamBytes ||
      compressedSize > limits::kMaxBase64Bytes)
    throw ERasterError(kMsgUnableToDecompress);
  std::vector<uint8_t> packed = element.ReadBinary("Buffer");
  if (static_cast<int64_t>(packed.size()) < compressedSize)
    throw ERasterError(kMsgUnableToDecompress);
  packed.resize(static_cast<size_t>(compressedSize));
  std::vector<uint8_t> bytes = UnpackBytes(packed, static_cast<size_t>(sourceSize));
  if (static_cast<int64_t>(bytes.size()) != sourceSize) throw ERasterError(kMsgUnableToDecompress);
  return bytes;
}

void WritePacked(xml::TXmlNode node, std::string_view name, const std::vector<uint8_t>& bytes) {
  if (bytes.empty() || !node) return;
  const std::vector<uint8_t> packed = PackBytes(bytes);
  xml::TXmlNode element = node.AddChild(name);
  element.WriteInteger("SourceSize", static_cast<int64_t>(bytes.size()), 0);
  element.WriteInteger("CompressedSize", static_cast<int64_t>(packed.size()), 0);
  element.WriteBinary("Buffer", packed);
}

void WriteBitmap(xml::TXmlNode node, std::string_view name, const TBitmap32* bitmap, int bits) {
  if (!bitmap || !node || name.empty()) return;
  TRasterMemoryStream image;
  TdtpBmpFormat bmp;
  bmp.SetBitsPerPixel(bits);
  bmp.SaveToStream(&image, *bitmap);
  std::vector<uint8_t>& bytes = image.Data();
  PlaneSplit(bytes, bits / 8);
  WritePacked(node, name, bytes);
}

bool ReadBitmap(xml::TXmlNode node, std::string_view name, std::unique_ptr<TBitmap32>& bitmap,
                int planes) {
  std::vector<uint8_t> bytes = ReadPacked(node, name);
  if (bytes.empty()) return false;
  PlaneJoin(bytes, planes);
  TRasterViewStream in(bytes);
  TBitmap32 decoded;
  TdtpBmpFormat().LoadFromStream(&in, decoded, 0, 0, 0);
  if (!bitmap) bitmap = std::make_unique<TBitmap32>();
  *bitmap = std::move(decoded);
  return true;
}

} // namespace

void WriteXmlStream(xml::TXmlNode node, std::string_view name, TRasterStream& stream) {
  if (!node || stream.Size() <= 0) return;
  WritePacked(node, name, StreamBytes(stream));
}

bool ReadXmlStream(xml::TXmlNode node, std::string_view name, TRasterStream& stream) {
  const std::vector<uint8_t> bytes = ReadPacked(node, name);
  // The caller's stream is replaced only once the element has decoded completely.
  if (auto* memory = dynamic_cast<TRasterMemoryStream*>(&stream)) {
    memory->Data() = bytes;
  } else if (auto* map = dynamic_cast<TMapStream*>(&stream)) {
    map->Assign(bytes.data(), bytes.size());
  } else {
    stream.SetPosition(0);
    if (!bytes.empty()) stream.Write(bytes.data(), bytes.size());
    if (stream.Size() != static_cast<int64_t>(bytes.size()))
      throw EStreamError("Stream write error");
  }
  stream.SetPosition(0);
  return !bytes.empty();
}

void WriteXmlBitmap(xml::TXmlNode node, std::string_view name, const TBitmap32* bitmap) {
  WriteBitmap(node, name, bitmap, 24);
}

void WriteXmlBitmap32(xml::TXmlNode node, std::string_view name, const TBitmap32* bitmap) {
  WriteBitmap(node, name, bitmap, 32);
}

bool ReadXmlBitmap(xml::TXmlNode node, std::string_view name, std::unique_ptr<TBitmap32>& bitmap) {
  return ReadBitmap(node, name, bitmap, 3);
}

bool ReadXmlBitmap32(xml::TXmlNode node, std::string_view name,
                     std::unique_ptr<TBitmap32>& bitmap) {
  return ReadBitmap(node, name, bitmap, 4);
}

} // namespace dtp
