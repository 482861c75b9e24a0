// Loads arbitrary bytes as the binary form of a shape.
#include <cstdint>
#include <exception>

#include "engine/shapes/shape.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  dtp::TdtpShape shape;
  try {
    shape.LoadFromString(dtp::Bytes(data, data + size));
  } catch (const std::exception&) {
  }
  (void)shape.SaveToString();
  return 0;
}
