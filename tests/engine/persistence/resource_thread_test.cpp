#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/document/document.h"
#include "engine/document/page.h"
#include "engine/persistence/resource.h"
#include "engine/persistence/resource_thread.h"
#include "tests/engine/persistence/resource_fixture.h"
#include "tests/engine/persistence/storage_fixture.h"

namespace dtp {
namespace {

using test::SolidPicture;

// Runs the process's resource thread for one test and puts its settings back afterwards.
class ResourceThread : public ::testing::Test {
protected:
  TdtpResourceThread& Thread = TdtpResourceThread::Instance();
  void SetUp() override { ASSERT_FALSE(Thread.Running()); }
  void TearDown() override {
    StopResourceThread();
    Thread.RestoreDefaults();
  }
  // Waits (without any claim about how long it takes) for the thread to trim.
  bool WaitForTrimAfter(int count) {
    for (int i = 0; i < 2000 && Thread.TrimCount() <= count; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return Thread.TrimCount() > count;
  }
};

TColor32 Colour(int i) {
  return 0xFF000000u | uint32_t(40 + i * 13) << 16 | uint32_t(200 - i * 9) << 8 | uint32_t(i * 29);
}

TEST_F(ResourceThread, TrimsOnItsOwnOnceEnoughPicturesWereUsed) {
  Thread.SetTrimInterval(0);
  std::vector<std::unique_ptr<TdtpBitmapResource>> rs;
  for (int i = 0; i < 14; ++i) {
    rs.push_back(std::make_unique<TdtpBitmapResource>());
    const TBitmap32 p = SolidPicture(8, 8, Colour(i));
    rs.back()->SetBitmap(&p);
  }
  StartResourceThread();
  const int before = Thread.TrimCount();
  // Use the pictures round and round until the thread has trimmed once.
  for (int n = 0; Thread.TrimCount() == before && n < 1000000; ++n) {
    TdtpBitmapResource& r = *rs[size_t(n) % rs.size()];
    TLockedBitmap picture(&r);
    ASSERT_TRUE(picture);
    ASSERT_EQ(picture->Pixel(3, 3), Colour(n % 14));
    if (n % 100 == 99) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_GT(Thread.TrimCount(), before);
  StopResourceThread();
  // At most one picture was used after the trim: all but the ten newest and that one
  // had lost their decoded form, and every one still has its data.
  int decoded = 0;
  for (auto& r : rs) {
    decoded += r->Obj() != nullptr;
    EXPECT_GT(r->Data().Size(), 0);
  }
  EXPECT_LE(decoded, TdtpResourceThread::kMaxDecoded + 1);
  for (int i = 0; i < 14; ++i) EXPECT_EQ(rs[size_t(i)]->Bitmap()->Pixel(0, 0), Colour(i));
}

// Many pages, each with its own background in one of the three stored forms, drawn over
// and over while the thread keeps at most three pictures decoded: every drawing must show
// the page's own picture, before and after a save and a reload.
TEST_F(ResourceThread, PagesDrawTheirOwnBackgroundsWhileTheThreadTrims) {
  constexpr int kPages = 16, kSide = 64;
  test::TScratchFolder dir;
  TdtpDocument doc;
  doc.SetDefaultPageWidth(20);
  doc.SetDefaultPageHeight(28);
  doc.SetPageCount(kPages);
  for (int p = 0; p < kPages; ++p) {
    TdtpPage& page = *doc.Pages(p);
    const TBitmap32 picture = SolidPicture(kSide, kSide, Colour(p));
    switch (p % 3) {
    case 0:
      page.SetBackgroundImage(&picture);
      break;
    case 1:
      page.BackgroundImage().SetStorage(rsArchive);
      page.SetBackgroundImage(&picture);
      break;
    default: {
      const std::string file = dir.File("bg" + std::to_string(p) + ".png");
      test::WritePictureFile(file, picture);
      page.BackgroundImage().SetStorage(rsExternal);
      page.BackgroundImage().LoadFromFile(file);
    }
    }
    page.SetBackgroundTiled(p % 2 == 0);
  }
  Thread.SetMaxDecoded(3);
  Thread.SetMemoryBudget(int64_t(3) * kSide * kSide * 4);
  Thread.SetTrimInterval(0);
  Thread.SetTouchThreshold(1);
  StartResourceThread();
  const int before = Thread.TrimCount();

  const auto drawAll = [&](TdtpDocument& d) {
    for (int p = 0; p < kPages; ++p) {
      TdtpPage& page = *d.Pages(p);
      TBitmap32 target(30, 40);
      page.DrawTo(target, target.BoundsRect(), kDpm150, true);
      EXPECT_EQ(target.Pixel(15, 20), Colour(p)) << "page " << p;
      page.SetModified(true);
      const TBitmap32* thumb = page.Thumbnail();
      ASSERT_NE(thumb, nullptr);
      EXPECT_EQ(thumb->Pixel(40, 30), Colour(p)) << "thumbnail " << p;
    }
  };
  for (int round = 0; round < 3; ++round) drawAll(doc);

  TvqMemoryStream stream;
  doc.SaveToStream(stream);
  drawAll(doc);
  TdtpDocument back;
  back.LoadFromStream(stream);
  for (int round = 0; round < 2; ++round) drawAll(back);

  EXPECT_TRUE(WaitForTrimAfter(before));
  StopResourceThread();
  // What the thread left decoded stays within its limit once it has trimmed after the
  // last use.
  TrimResources();
  int decoded = 0;
  for (TdtpDocument* d : {&doc, &back})
    for (int p = 0; p < kPages; ++p) decoded += d->Pages(p)->BackgroundImage().Obj() != nullptr;
  EXPECT_LE(decoded, 3);
}

} // namespace
} // namespace dtp
