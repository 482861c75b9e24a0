#include "engine/shapes/transform.h"

#include <gtest/gtest.h>

namespace dtp {
namespace {

void ExpectPoint(TFloatPoint actual, float x, float y) {
  EXPECT_NEAR(actual.X, x, 1e-5) << "x";
  EXPECT_NEAR(actual.Y, y, 1e-5) << "y";
}

TEST(AffineTransform, NewTransformIsIdentity) {
  TdtpAffineTransform t;
  EXPECT_EQ(t.Matrix(), TAffineMatrix{});
  EXPECT_TRUE(t.IsAffine());
  ExpectPoint(TransformPoint(&t, {3.5f, -2}), 3.5f, -2);
}

TEST(AffineTransform, RotateQuarterTurnIsClockwiseWithYDown) {
  TdtpAffineTransform t;
  t.Rotate(90, 0, 0);
  ExpectPoint(TransformPoint(&t, {1, 0}), 0, 1);
  ExpectPoint(TransformPoint(&t, {0, 1}), -1, 0);
}

TEST(AffineTransform, CallsComposeInTheOrderThePointTravels) {
  TdtpAffineTransform a;
  a.Translate(5, 0);
  a.Scale(2, 2);
  ExpectPoint(TransformPoint(&a, {1, 1}), 12, 2);

  TdtpAffineTransform b;
  b.Scale(2, 2);
  b.Translate(5, 0);
  ExpectPoint(TransformPoint(&b, {1, 1}), 7, 2);
}

TEST(AffineTransform, RotateAboutCentreKeepsTheCentre) {
  for (const double angle : {-270.0, -30.0, 17.5, 90.0, 200.0}) {
    TdtpAffineTransform t;
    t.Rotate(angle, 12.5, -4);
    ExpectPoint(TransformPoint(&t, {12.5f, -4}), 12.5f, -4);
  }
}

TEST(AffineTransform, InvertUndoesTheMapping) {
  TdtpAffineTransform t;
  t.Translate(3, 4);
  t.Invert();
  ExpectPoint(TransformPoint(&t, {3, 4}), 0, 0);

  TdtpAffineTransform u;
  u.Scale(2, 0.5);
  u.Rotate(33, 1, 2);
  u.Translate(-7, 9);
  TdtpAffineTransform inv(u.Matrix());
  inv.Invert();
  const TFloatPoint p{4.25f, -1.5f};
  ExpectPoint(TransformPoint(&inv, TransformPoint(&u, p)), p.X, p.Y);
}

TEST(AffineTransform, InvertOfSingularMatrixLeavesItUnchanged) {
  TdtpAffineTransform t;
  t.Scale(0, 1);
  const TAffineMatrix before = t.Matrix();
  t.Invert();
  EXPECT_EQ(t.Matrix(), before);
}

TEST(AffineTransform, MultiplyAppliesBFirst) {
  TdtpAffineTransform a, b;
  a.Rotate(90, 0, 0);
  b.Translate(1, 0);
  TAffineMatrix c;
  Multiply(a.Matrix(), b.Matrix(), c);
  // (0, 0) → B → (1, 0) → A → (0, 1)
  ExpectPoint(ApplyMatrix(c, {0, 0}), 0, 1);
}

TEST(AffineTransform, TransformPointsAndAbsentTransform) {
  TdtpAffineTransform t;
  t.Translate(1, 2);
  TFloatPoint pts[3] = {{0, 0}, {1, 1}, {-1, 5}};
  t.TransformPoints(pts, 3);
  ExpectPoint(pts[0], 1, 2);
  ExpectPoint(pts[1], 2, 3);
  ExpectPoint(pts[2], 0, 7);
  ExpectPoint(TransformPoint(nullptr, {5, 5}), 0, 0);
}

TEST(AffineTransform, AssignCopiesTheMatrixOnlyFromAnAffineSource) {
  TdtpAffineTransform src;
  src.Scale(3, 4);
  TdtpAffineTransform dst;
  dst.Assign(src);
  EXPECT_EQ(dst.Matrix(), src.Matrix());
}

} // namespace
} // namespace dtp
