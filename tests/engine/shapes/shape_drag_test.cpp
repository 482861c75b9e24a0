#include <cmath>

#include <gtest/gtest.h>

#include "engine/document/document.h"
#include "engine/shapes/shape.h"

namespace dtp {
namespace {

struct DragCase {
  const char* what;
  int kind;
  TFloatPoint delta;
  bool preserve;
  float ex, ey, ew, eh; // geometry after ApplyDrag
};

// A 40 × 20 shape at (100, 50), unrotated.
TEST(ShapeDrag, HandleKindTable) {
  const DragCase cases[] = {
      {"body moves", hkBody, {5, -3}, false, 105, 47, 40, 20},
      {"top-left corner", hkTopLeft, {4, 2}, false, 104, 52, 36, 18},
      {"left edge", hkLeft, {-10, 7}, false, 90, 50, 50, 20},
      {"bottom-left corner", hkBottomLeft, {10, 5}, false, 110, 50, 30, 25},
      {"bottom edge", hkBottom, {3, 10}, false, 100, 50, 40, 30},
      {"bottom-right corner", hkBottomRight, {10, 10}, false, 100, 50, 50, 30},
      {"right edge", hkRight, {-20, 3}, false, 100, 50, 20, 20},
      {"top-right corner", hkTopRight, {5, 5}, false, 100, 55, 45, 15},
      {"top edge", hkTop, {0, -5}, false, 100, 45, 40, 25},
      {"no side shorter than 1 mm", hkRight, {-100, 0}, false, 100, 50, 1, 20},
      {"no side shorter than 1 mm from the left", hkLeft, {100, 0}, false, 139, 50, 1, 20},
      {"aspect on the right edge grows symmetrically", hkRight, {0, 0}, true, 100, 50, 40, 20},
      {"aspect on the right edge to 60 mm", hkRight, {20, 0}, true, 100, 45, 60, 30},
      {"aspect on the bottom edge", hkBottom, {0, 10}, true, 90, 50, 60, 30},
      {"aspect on the left edge", hkLeft, {-20, 0}, true, 80, 45, 60, 30},
      {"aspect on the top edge", hkTop, {0, -10}, true, 90, 40, 60, 30},
  };
  for (const DragCase& c : cases) {
    TdtpShape s;
    s.SetBounds(100, 50, 40, 20);
    if (c.preserve) s.SetPreserveAspect(true);
    s.DragPreview(c.delta, c.kind, false);
    s.ApplyDrag();
    EXPECT_NEAR(s.DocLeft(), c.ex, 1e-4) << c.what;
    EXPECT_NEAR(s.DocTop(), c.ey, 1e-4) << c.what;
    EXPECT_NEAR(s.DocWidth(), c.ew, 1e-4) << c.what;
    EXPECT_NEAR(s.DocHeight(), c.eh, 1e-4) << c.what;
  }
}

TEST(ShapeDrag, AspectRatioTwoOnTheRightEdge) {
  TdtpShape s;
  s.SetBounds(0, 0, 20, 10);
  s.SetPreserveAspect(true);
  ASSERT_FLOAT_EQ(s.AspectRatio(), 2);
  s.DragPreview({20, 0}, hkRight, false);
  s.ApplyDrag();
  EXPECT_FLOAT_EQ(s.DocWidth(), 40);
  EXPECT_FLOAT_EQ(s.DocHeight(), 20);
  // Top edge up by 5 mm and bottom edge down by 5 mm.
  EXPECT_FLOAT_EQ(s.DocTop(), -5);
  EXPECT_FLOAT_EQ(s.DocTop() + s.DocHeight(), 15);
}

TEST(ShapeDrag, MoveLockedShape) {
  TdtpShape s;
  s.SetBounds(10, 10, 40, 20);
  s.SetAllowMove(false);
  s.DragPreview({15, 15}, hkBody, false);
  s.ApplyDrag();
  EXPECT_EQ(s.DocLeft(), 10);
  EXPECT_EQ(s.DocTop(), 10);
  // Resizing from the top-left corner still moves the origin.
  s.DragPreview({5, 5}, hkTopLeft, false);
  s.ApplyDrag();
  EXPECT_FLOAT_EQ(s.DocLeft(), 15);
  EXPECT_FLOAT_EQ(s.DocTop(), 15);
  EXPECT_FLOAT_EQ(s.DocWidth(), 35);
}

TEST(ShapeDrag, RotatedShapeMovesAlongItsOwnAxes) {
  TdtpShape s;
  s.SetBoundsAndAngle(0, 0, 40, 20, 90);
  // A drag of the left edge by 10 mm along the shape's x axis (which points up).
  s.DragPreview({0, -10}, hkLeft, false);
  EXPECT_NEAR(s.DragWidth(), 30, 1e-4);
  EXPECT_NEAR(s.DragLeft(), 0, 1e-4);
  EXPECT_NEAR(s.DragTop(), -10, 1e-4);
}

TEST(ShapeDrag, PreviewMatrixMovesTheHandles) {
  TdtpShape s;
  s.SetBounds(0, 0, 40, 20);
  const TAffineMatrix m = s.DragPreview({10, 0}, hkRight, false);
  EXPECT_EQ(m, s.DragTransform());
  const auto& handles = s.HandlePainter()->Handles();
  const int br = s.HandlePainter()->IndexOfKind(hkBottomRight);
  ASSERT_GE(br, 0);
  EXPECT_NEAR(handles[static_cast<size_t>(br)].DragPosition.X, 50, 1e-4);
  EXPECT_NEAR(handles[static_cast<size_t>(br)].DragPosition.Y, 20, 1e-4);
}

TEST(ShapeDrag, PointHandleMovesOnlyItsOwnPoint) {
  TdtpShape s;
  s.SetBounds(0, 0, 40, 20);
  s.UpdateHandles();
  s.SetDragHandle(0);
  s.DragPreview({3, 4}, hkPoint, false);
  const auto& h = s.HandlePainter()->Handles();
  EXPECT_EQ(h[0].DragPosition, (TFloatPoint{3, 4}));
  EXPECT_EQ(h[1].DragPosition, h[1].Position);
}

TEST(ShapeDrag, CustomHandleKindsGoToTheSubclass) {
  struct TCustom : TdtpShape {
    int seen = 0;
    void DragCustomHandle(float& dx, float&, int kind, TFloatPoint, float&, float&,
                          float&) override {
      seen = kind;
      dx = 2;
    }
  } s;
  s.SetBounds(0, 0, 10, 10);
  s.DragPreview({1, 1}, 14, false);
  EXPECT_EQ(s.seen, 14);
  EXPECT_FLOAT_EQ(s.DragLeft(), 2);
}

// The mouse displacement that carries handle `index` around the shape's centre so that the
// shape turns by `degrees` (a handle moving towards negative angles turns the shape positively).
TFloatPoint RotationDelta(TdtpShape& s, int index, double degrees) {
  const TdtpHandle& h = s.HandlePainter()->Handles()[static_cast<size_t>(index)];
  const double cx = s.DocWidth() / 2.0, cy = s.DocHeight() / 2.0;
  const double dx = h.Position.X - cx, dy = h.Position.Y - cy;
  const double r = std::hypot(dx, dy);
  const double a = std::atan2(dy, dx) - degrees * M_PI / 180;
  return {static_cast<float>(cx + r * std::cos(a) - h.Position.X),
          static_cast<float>(cy + r * std::sin(a) - h.Position.Y)};
}

TEST(ShapeDrag, RotationSnappingTable) {
  struct Case {
    const char* what;
    float stepAngle;
    bool toggle;
    double drag;
    float expected;
  };
  const Case cases[] = {
      {"free rotation", 0, false, 22, 22},
      {"step 15 snaps", 15, false, 22, 15},
      {"step 15 with the toggle is free", 15, true, 22, 22},
      {"step 0 with the toggle snaps to 5", 0, true, 22, 20},
      {"step 0 with the toggle, 23 rounds to 25", 0, true, 23.5, 25},
      {"step 15 rounds up past the half step", 15, false, 38, 45},
  };
  for (const Case& c : cases) {
    TdtpDocument doc;
    doc.SetStepAngle(c.stepAngle);
    TdtpShape s;
    s.SetBounds(0, 0, 40, 20);
    s.SetDocument(&doc);
    s.UpdateHandles();
    const int rotation = s.HandlePainter()->IndexOfKind(hkRotate);
    s.SetDragHandle(rotation);
    s.DragPreview(RotationDelta(s, rotation, c.drag), hkRotate, c.toggle);
    EXPECT_NEAR(s.DragAngle(), c.expected, 1e-3) << c.what;
    s.ApplyDrag();
    EXPECT_NEAR(s.DocAngle(), c.expected, 1e-3) << c.what;
  }
}

TEST(ShapeDrag, ZeroSizedShapeHasAFiniteDrag) {
  TdtpShape s;
  s.DragPreview({5, 5}, hkBottomRight, false);
  EXPECT_TRUE(std::isfinite(s.DragWidth()));
  EXPECT_TRUE(std::isfinite(s.DragHeight()));
  s.ApplyDrag();
  EXPECT_GE(s.DocWidth(), 1);
}

} // namespace
} // namespace dtp

namespace dtp {
namespace {

TEST(HandlePainters, LayoutsOfTheTwoPainters) {
  TdtpDocument doc;
  TdtpShape s;
  s.SetBounds(0, 0, 40, 20);
  s.SetDocument(&doc);
  s.UpdateHandles(); // the document's default painter
  const auto& w = s.HandlePainter()->Handles();
  ASSERT_EQ(w.size(), 9u);
  EXPECT_EQ(w[8].Code, hkRotate);
  EXPECT_EQ(w[8].Position, (TFloatPoint{20, -5}));
  EXPECT_EQ(w[3].Code, hkRight);
  EXPECT_EQ(w[3].Position, (TFloatPoint{40, 10}));

  TdtpShape plain; // no document: the stipple painter
  plain.SetBounds(0, 0, 40, 20);
  plain.SetAllowRotate(false);
  plain.UpdateHandles();
  EXPECT_EQ(plain.HandlePainter()->Handles().size(), 4u);
  ASSERT_EQ(plain.HandlePainter()->Lines().size(), 4u);
  EXPECT_EQ(plain.HandlePainter()->Lines()[1].Code, hkBottom);

  TdtpHandlePainter orphan;
  EXPECT_THROW(orphan.Rebuild(), std::exception);
}

} // namespace
} // namespace dtp
