// Arbitrary bytes through the JPEG reader; see raster_fuzz.h.
#include "fuzz/raster_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzRasterReader<dtp::TdtpJpgFormat>(data, size);
}
