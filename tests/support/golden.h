#pragma once
// Golden images: a rendered bitmap is compared with tests/data/golden/NAME.png channel by
// channel. On a mismatch the expected and the actual picture are written next to the test
// program (golden-out/NAME.expected.png, NAME.actual.png) for a look. To accept new
// pictures after a deliberate change:
//   KARTOLINO_UPDATE_GOLDENS=1 build/test/tests/engine_tests --gtest_filter='Golden*'

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "engine/graphics/raster_formats.h"
#include "platform/raster/bitmap32.h"

namespace dtp::test {

inline void WritePng(const std::string& path, const TBitmap32& bitmap) {
  TdtpImageFiler filer;
  filer.SetFileName(path);
  filer.Save(&bitmap);
}

inline ::testing::AssertionResult MatchesGolden(const std::string& name, const TBitmap32& actual,
                                                int tolerance) {
  namespace fs = std::filesystem;
  const fs::path golden = fs::path(KARTOLINO_TEST_DATA) / "golden" / (name + ".png");
  if (const char* update = std::getenv("KARTOLINO_UPDATE_GOLDENS"); update && *update == '1') {
    WritePng(golden.string(), actual);
    return ::testing::AssertionSuccess() << "rewrote " << golden;
  }
  TBitmap32 expected;
  try {
    TdtpImageFiler filer;
    filer.SetFileName(golden.string());
    filer.Load(&expected);
  } catch (const std::exception& e) {
    return ::testing::AssertionFailure() << "cannot read " << golden << ": " << e.what();
  }
  std::string why;
  if (expected.Width() != actual.Width() || expected.Height() != actual.Height()) {
    why = "size " + std::to_string(actual.Width()) + "x" + std::to_string(actual.Height()) +
          ", expected " + std::to_string(expected.Width()) + "x" +
          std::to_string(expected.Height());
  } else {
    int worst = 0, wx = 0, wy = 0, over = 0;
    for (int y = 0; y < actual.Height(); ++y)
      for (int x = 0; x < actual.Width(); ++x) {
        const TColor32 a = actual.Pixel(x, y), e = expected.Pixel(x, y);
        int d = 0;
        for (int k = 0; k < 32; k += 8)
          d = std::max(d, std::abs(int((a >> k) & 0xFF) - int((e >> k) & 0xFF)));
        if (d > tolerance) ++over;
        if (d > worst) {
          worst = d;
          wx = x;
          wy = y;
        }
      }
    if (over == 0) return ::testing::AssertionSuccess();
    why = std::to_string(over) + " pixels differ by more than " + std::to_string(tolerance) +
          ", worst " + std::to_string(worst) + " at (" + std::to_string(wx) + ", " +
          std::to_string(wy) + ")";
  }
  const fs::path out = fs::current_path() / "golden-out";
  fs::create_directories(out);
  WritePng((out / (name + ".actual.png")).string(), actual);
  if (!expected.Empty()) WritePng((out / (name + ".expected.png")).string(), expected);
  return ::testing::AssertionFailure() << name << ": " << why << "; pictures in " << out;
}

} // namespace dtp::test
