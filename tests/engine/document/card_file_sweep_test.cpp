// Damaged card files: a small saved card cut at every length and with bytes flipped, each
// opened, every page read, printed and painted. Each must open or fail with the engine's
// error; anything else (another exception, a crash under the sanitizers) is a fault.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <set>
#include <string>
#include <vector>

#include "engine/document/document.h"
#include "engine/document/page.h"
#include "engine/persistence/resource.h"
#include "engine/persistence/storage.h"
#include "engine/persistence/storage_blocks.h"
#include "engine/shapes/shape.h"
#include "tests/support/card_exercise.h"

namespace dtp {
namespace {

using Bytes = std::vector<uint8_t>;

std::unique_ptr<TdtpShape> Shape(float x, float y, float w, float h, float angle, int alpha) {
  auto s = std::make_unique<TdtpShape>();
  s->SetBounds(x, y, w, h);
  s->SetDocAngle(angle);
  s->SetMasterAlpha(alpha);
  return s;
}

// Two pages (a default page with a turned, translucent group over the embedded default
// background; a page of its own size and colour with one mirrored shape over a tiled
// picture stored as a part), tiny thumbnails so the bitmap reader is in the sweep.
Bytes SmallCard() {
  TdtpDocument doc;
  doc.SetDefaultPageWidth(105);
  doc.SetDefaultPageHeight(148);
  doc.SetThumbnailWidth(4);
  doc.SetThumbnailHeight(3);
  doc.SetPageWidth(105);
  doc.SetPageHeight(148);
  auto group = Shape(10, 20, 50, 30, 15, 200);
  group->SetName("Gruppe");
  group->AddShape(Shape(5, 5, 10, 10, 0, 255));
  doc.AddShape(std::move(group));
  doc.AddShape(Shape(60, 100, 20, 20, 0, 128));
  doc.AddPage(nullptr);
  TdtpPage* own = doc.Pages(1);
  own->SetPageWidth(40);
  own->SetPageHeight(25);
  own->SetPageColor(0x80C0FF);
  // Pictures in both places a card keeps them: the default background embedded in the
  // index, the own page's tiled background as a part of the container. The own page is
  // small: a tiled background costs the page's area at 150 dpi whatever the output size.
  TBitmap32 tile(16, 12);
  tile.Clear(0x80FF8040u);
  tile.SetPixel(5, 3, 0xFF102030u);
  doc.SetDefaultBackground(&tile);
  own->SetBackgroundImage(&tile);
  own->BackgroundImage().SetStorage(rsArchive);
  own->SetBackgroundTiled(true);
  doc.SetCurrentPageIndex(1);
  auto mirrored = Shape(10, 5, 20, 10, 0, 255);
  mirrored->SetMirrored(true);
  doc.AddShape(std::move(mirrored));
  TvqMemoryStream out;
  doc.SaveToStream(out);
  return out.TakeBytes();
}

// Runs one damaged variant; a failure names what was done to the card.
test::TCardOutcome Exercise(const Bytes& bytes, const std::string& what) {
  try {
    return test::ExerciseCard(bytes.data(), bytes.size());
  } catch (const std::exception& e) {
    ADD_FAILURE() << what << ": " << e.what();
  } catch (...) {
    ADD_FAILURE() << what << ": an exception of no known type";
  }
  return {};
}

class CardFileSweep : public ::testing::Test {
protected:
  static void SetUpTestSuite() { s_Card = new Bytes(SmallCard()); }
  static void TearDownTestSuite() {
    delete s_Card;
    s_Card = nullptr;
  }
  // The container's header, text field and index: everything before the first block.
  static size_t HeaderEnd() {
    const auto index = storage::ReadIndex(TvqMemoryStream(*s_Card), false);
    int64_t first = static_cast<int64_t>(s_Card->size());
    for (const auto& item : index) first = std::min(first, item.Offset);
    return static_cast<size_t>(first);
  }
  static Bytes* s_Card;
};

Bytes* CardFileSweep::s_Card = nullptr;

TEST_F(CardFileSweep, TheUndamagedCardReadsCompletely) {
  const test::TCardOutcome o = Exercise(*s_Card, "undamaged");
  EXPECT_TRUE(o.Opened);
  EXPECT_EQ(o.PagesRead, 2);
  EXPECT_TRUE(o.SavedAndReopened);
  // Keeps the sweep quick: a few kilobytes, thumbnails included.
  EXPECT_LT(s_Card->size(), 6000u);
  EXPECT_GT(HeaderEnd(), 73u);
}

TEST_F(CardFileSweep, EveryCutIsRefusedAtOpening) {
  // The compact layout ends with the last block: any shorter file misses bytes the index
  // names, and a card that lacks bytes must never open as if it were whole.
  for (size_t cut = 0; cut < s_Card->size(); ++cut) {
    const Bytes part(s_Card->begin(), s_Card->begin() + static_cast<std::ptrdiff_t>(cut));
    const test::TCardOutcome o = Exercise(part, "cut at " + std::to_string(cut));
    EXPECT_FALSE(o.Opened) << "cut at " << cut;
  }
}

TEST_F(CardFileSweep, FlippedHeaderBytesOpenOrFailCleanly) {
  const size_t end = HeaderEnd();
  int opened = 0;
  for (size_t at = 0; at < end; ++at) {
    for (const uint8_t mask : {0x01, 0x40, 0xFF}) {
      Bytes bytes = *s_Card;
      bytes[at] ^= mask;
      const auto o = Exercise(bytes, "byte " + std::to_string(at) + " ^ " + std::to_string(mask));
      opened += o.Opened;
    }
  }
  // The text field is ignored by readers: flips there must not matter.
  EXPECT_GE(opened, 55 * 3);
}

TEST_F(CardFileSweep, FlippedBodyBytesOpenOrFailCleanly) {
  // Every part's bytes at a stride, plus the first and last bytes of each part, where
  // lengths, XML declarations and closing tags sit.
  const auto index = storage::ReadIndex(TvqMemoryStream(*s_Card), false);
  std::set<size_t> offsets;
  for (size_t at = HeaderEnd(); at < s_Card->size(); at += 11) offsets.insert(at);
  for (const auto& item : index) {
    const auto first = static_cast<size_t>(item.Offset), size = static_cast<size_t>(item.Size);
    for (size_t k = 0; k < std::min<size_t>(size, 8); ++k) {
      offsets.insert(first + k);
      offsets.insert(first + size - 1 - k);
    }
  }
  int pagesRead = 0;
  for (const size_t at : offsets) {
    for (const uint8_t mask : {0x20, 0xFF}) {
      Bytes bytes = *s_Card;
      bytes[at] ^= mask;
      pagesRead +=
          Exercise(bytes, "byte " + std::to_string(at) + " ^ " + std::to_string(mask)).PagesRead;
    }
  }
  // Most single flips land in values or text and leave pages readable.
  EXPECT_GT(pagesRead, static_cast<int>(offsets.size()));
}

} // namespace
} // namespace dtp
