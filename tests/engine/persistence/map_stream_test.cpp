#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "engine/persistence/map_stream.h"
#include "platform/core/errors.h"

namespace dtp {
namespace {

std::vector<uint8_t> Ramp(size_t n) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), uint8_t(1));
  return v;
}

TEST(MapStream, WritesAndReadsAcrossPageBoundaries) {
  TMapStream s(16);
  const std::vector<uint8_t> data = Ramp(53);
  s.SetPosition(3);
  s.Write(data.data(), data.size());
  EXPECT_EQ(s.Size(), 56);
  EXPECT_EQ(s.PageCount(), 4u);
  s.SetPosition(3);
  std::vector<uint8_t> back(60, 0xEE);
  EXPECT_EQ(s.Read(back.data(), back.size()), 53u);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin()));
  // The bytes before the first write are zero.
  s.SetPosition(0);
  uint8_t head[3] = {9, 9, 9};
  s.Read(head, 3);
  EXPECT_EQ(head[0] | head[1] | head[2], 0);
}

TEST(MapStream, SeekBeyondTheEndGrowsAndReadingAtTheEndGivesNothing) {
  TMapStream s(16);
  const std::vector<uint8_t> data = Ramp(5);
  s.Write(data.data(), data.size());
  EXPECT_EQ(s.Seek(10, 2), 15);
  EXPECT_EQ(s.Size(), 15);
  uint8_t b = 0;
  EXPECT_EQ(s.Read(&b, 1), 0u);
  EXPECT_EQ(s.Seek(-4, 1), 11);
  EXPECT_EQ(s.Seek(7, 99), 0); // unknown origin
  // Moving the position alone never grows the stream.
  s.SetPosition(100);
  EXPECT_EQ(s.Size(), 15);
  EXPECT_EQ(s.Read(&b, 1), 0u);
}

TEST(MapStream, ShrinkingReleasesPagesAndRegrownBytesReadAsZero) {
  TMapStream s(16);
  const std::vector<uint8_t> data(40, 0xAB);
  s.Write(data.data(), data.size());
  s.SetSize(18);
  EXPECT_EQ(s.PageCount(), 2u);
  EXPECT_EQ(s.Position(), 18);
  s.SetSize(40);
  std::vector<uint8_t> back(40);
  s.SetPosition(0);
  s.Read(back.data(), back.size());
  for (size_t i = 0; i < 40; ++i) EXPECT_EQ(back[i], i < 18 ? 0xAB : 0) << i;
  s.Clear();
  EXPECT_EQ(s.PageCount(), 0u);
}

TEST(MapStream, PageSizeOfZeroIsAnError) {
  EXPECT_THROW(
      {
        try {
          TMapStream s(0);
        } catch (const EStreamError& e) {
          EXPECT_STREQ(e.what(), "Memory map page size is zero");
          throw;
        }
      },
      EStreamError);
  EXPECT_GE(TMapStream::DefaultPageSize(), 65536);
}

} // namespace
} // namespace dtp
