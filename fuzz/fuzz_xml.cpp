// Parses arbitrary bytes as XML, then reads them as a shape element and writes them back.
#include <cstdint>
#include <exception>
#include <string_view>

#include "engine/shapes/shape.h"
#include "platform/xml/xml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  dtp::xml::TXmlDocument doc;
  try {
    doc.Parse(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const std::exception&) {
    return 0;
  }
  try {
    dtp::TdtpShape shape;
    shape.LoadFromXml(doc.Root());
    (void)shape.SaveToString();
  } catch (const std::exception&) {
  }
  (void)doc.WriteIndented();
  (void)doc.WriteCompact();
  return 0;
}
