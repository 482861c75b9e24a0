#include <gtest/gtest.h>

#include "engine/document/document.h"
#include "engine/document/page.h"
#include "engine/shapes/handles.h"
#include "engine/shapes/render.h"
#include "engine/shapes/shape.h"

namespace dtp {
namespace {

TEST(ShapeCache, NeedsCacheThresholds) {
  struct Case {
    const char* what;
    float angle;
    int alpha;
    bool mirrored, flipped, always;
    bool cached;
  };
  const Case cases[] = {
      {"plain", 0, 255, false, false, false, false},
      {"a hair of rotation", 0.0001f, 255, false, false, false, true},
      {"alpha 254", 0, 254, false, false, false, true},
      {"mirrored", 0, 255, true, false, false, true},
      {"flipped", 0, 255, false, true, false, true},
      {"always cached", 0, 255, false, false, true, true},
  };
  for (const Case& c : cases) {
    TdtpShape s;
    s.SetDocAngle(c.angle);
    s.SetMasterAlpha(c.alpha);
    s.SetMirrored(c.mirrored);
    s.SetFlipped(c.flipped);
    s.SetAlwaysCached(c.always);
    EXPECT_EQ(s.NeedsCache(), c.cached) << c.what;
  }
}

TEST(ShapeCache, GeometryRoundsMarginsUpToWholePixels) {
  TdtpShape s;
  s.SetBounds(0, 0, 20, 10);
  s.SetCurb(1.05f, 0, 0.01f, 0);
  const TCacheGeometry g = CacheGeometry(s, 10);
  EXPECT_EQ(g.L, 11);
  EXPECT_EQ(g.T, 0);
  EXPECT_EQ(g.R, 201);
  EXPECT_EQ(g.B, 100);
  EXPECT_EQ(s.LocalToCachePixel({0, 0}), (TFloatPoint{-1, -1})) << "no cache yet";
  s.EnsureCacheBitmap().SetSize(g.L + g.R, g.T + g.B);
  s.SetCacheDpm(10);
  EXPECT_EQ(s.LocalToCachePixel({0, 0}), (TFloatPoint{11, 0}));
  s.FreeCache();
  EXPECT_EQ(s.CacheBitmap(), nullptr);
  EXPECT_EQ(s.CacheDpm(), 0);
}

TEST(HitOffsets, TableFromTheSensitivity) {
  TdtpDocument doc;
  const auto& o = doc.HitOffsets();
  ASSERT_EQ(o.size(), 21u);
  EXPECT_EQ(o[0], (TPoint{0, 0}));
  EXPECT_EQ(o[1], (TPoint{4, 0}));
  EXPECT_EQ(o[16], (TPoint{0, -1}));
  EXPECT_EQ(o[17], (TPoint{3, 3}));
  EXPECT_EQ(o[20], (TPoint{-3, -3}));
  doc.SetHitSensitivity(0.1f);
  EXPECT_EQ(doc.HitOffsets().size(), 13u); // n is at least 2
  doc.SetHitSensitivity(2);
  EXPECT_EQ(doc.HitOffsets().size(), 37u);
}

// A document at 1 pixel per mm with an unshifted view, so shape millimetres are pixels.
class HitFixture : public ::testing::Test {
protected:
  void SetUp() override {
    doc.SetViewStyle(vsNormal);
    doc.SetScreenDpm(1);
    doc.SetHitSensitivity(0.1f); // offsets of at most 2 pixels
    auto s = std::make_unique<TdtpShape>();
    s->SetBounds(100, 100, 50, 30);
    shape = s.get();
    doc.AddShape(std::move(s));
  }
  // Gives the shape a cache whose every pixel has the alpha.
  void FillCache(uint8_t alpha) {
    const TCacheGeometry g = CacheGeometry(*shape, 1);
    TBitmap32& c = shape->EnsureCacheBitmap();
    c.SetSize(g.L + g.R, g.T + g.B);
    c.Clear(TColor32(alpha) << 24);
    shape->SetCacheDpm(1);
  }
  TdtpDocument doc;
  TdtpShape* shape = nullptr;
};

TEST_F(HitFixture, OpaquePixelThresholds) {
  struct Case {
    int masterAlpha;
    uint8_t pixelAlpha;
    bool hit;
  };
  for (const Case c : {Case{255, 50, false}, {255, 51, true}, {100, 19, false}, {100, 20, true}}) {
    shape->SetMasterAlpha(c.masterAlpha);
    FillCache(c.pixelAlpha);
    EXPECT_EQ(shape->HitTestOpaque({120, 110}), c.hit) << c.masterAlpha << "/" << int(c.pixelAlpha);
    EXPECT_EQ(shape->HitTest({120, 110}), c.hit);
  }
  EXPECT_TRUE(shape->HitTestOpaque({500, 500})) << "outside the cache counts as a hit";
}

TEST_F(HitFixture, RegionTestWithoutCache) {
  EXPECT_TRUE(shape->HitTest({100, 100}));
  EXPECT_TRUE(shape->HitTest({149, 129}));
  EXPECT_FALSE(shape->HitTest({150, 110}));
  EXPECT_FALSE(shape->HitTest({99, 110}));
  TdtpShape* found = nullptr;
  EXPECT_TRUE(shape->HitTestDeep({120, 110}, found));
  EXPECT_EQ(found, shape);
}

TEST_F(HitFixture, GroupMissedByAllItsChildrenReportsFalse) {
  shape->AddShape(std::make_unique<TdtpShape>());
  shape->Shapes(0)->SetBounds(0, 0, 10, 10);
  TdtpShape* found = nullptr;
  EXPECT_TRUE(shape->HitTestDeep({105, 105}, found));
  EXPECT_EQ(found, shape->Shapes(0));
  EXPECT_FALSE(shape->HitTestDeep({140, 125}, found));
  EXPECT_EQ(found, shape) << "the group stays the candidate";
}

TEST_F(HitFixture, EdgeLineHitWithinThreePixels) {
  doc.SetHandlePainter(hpStippleHandle);
  shape->SetSelected(true);
  // The left edge runs from (100, 100) to (100, 130); the middle is far from the corners.
  EXPECT_EQ(shape->HitTestHandle({97, 115}), hkLeft);
  EXPECT_EQ(shape->HitTestHandle({96, 115}), hkNone);
  EXPECT_EQ(shape->HitTestHandle({100, 100}), hkTopLeft);
  EXPECT_EQ(shape->DragHandle(), 0);
  shape->SetAllowResize(false);
  EXPECT_EQ(shape->HitTestHandle({100, 100}), hkNone);
  EXPECT_EQ(shape->HitTestHandle({97, 115}), hkNone);
  const int rotation = shape->HandlePainter()->IndexOfKind(hkRotate);
  const TFloatPoint r = shape->HandlePainter()->Handles()[static_cast<size_t>(rotation)].Position;
  const TPoint rp{static_cast<int>(100 + r.X), static_cast<int>(100 + r.Y)};
  EXPECT_EQ(shape->HitTestHandle(rp), hkRotate);
  shape->SetAllowRotate(false);
  EXPECT_EQ(shape->HitTestHandle(rp), hkNone);
  shape->SetSelected(false);
  EXPECT_EQ(shape->HitTestHandle({100, 100}), hkNone) << "only selected shapes have handles";
}

TEST_F(HitFixture, ScreenRectRoundsOutwards) {
  shape->SetCurb(0.2f, 0, 0, 0);
  const TRect r = shape->GetScreenRect();
  EXPECT_EQ(r.Left, 99);
  EXPECT_EQ(r.Top, 100);
  EXPECT_EQ(r.Right, 150);
  EXPECT_EQ(r.Bottom, 130);
}

} // namespace
} // namespace dtp
