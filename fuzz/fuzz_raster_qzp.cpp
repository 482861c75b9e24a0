// Arbitrary bytes through the QZP reader (the size limit makes the reduction run); see
// raster_fuzz.h.
#include "fuzz/raster_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzRasterReader<dtp::TQzpImage>(data, size);
}
