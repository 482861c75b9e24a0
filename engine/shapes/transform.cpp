#include "engine/shapes/transform.h"

#include <cmath>

#include "platform/core/numeric.h"

namespace dtp {

void TdtpTransform::Assign(const TdtpTransform& /*source*/) {}

void TdtpTransform::TransformPoints(TFloatPoint* points, int count) const {
  for (int i = 0; i < count; ++i) Transform(points[i], points[i]);
}

void TdtpAffineTransform::Assign(const TdtpTransform& source) {
  TdtpTransform::Assign(source);
  if (const auto* a = dynamic_cast<const TdtpAffineTransform*>(&source)) m_Matrix = a->m_Matrix;
}

void TdtpAffineTransform::Invert() {
  TAffineMatrix& m = m_Matrix;
  const double det = m.m00 * m.m11 - m.m01 * m.m10;
  if (det == 0 || !std::isfinite(det)) return;
  const double k = 1.0 / det;
  const TAffineMatrix r{k * m.m11,
                        -k * m.m01,
                        -k * m.m10,
                        k * m.m00,
                        k * (m.m21 * m.m10 - m.m20 * m.m11),
                        k * (m.m20 * m.m01 - m.m21 * m.m00)};
  m = r;
}

TFloatPoint ApplyMatrix(const TAffineMatrix& m, TFloatPoint p) {
  const double x = p.X, y = p.Y;
  return {static_cast<float>(m.m00 * x + m.m10 * y + m.m20),
          static_cast<float>(m.m01 * x + m.m11 * y + m.m21)};
}

void TdtpAffineTransform::Transform(TFloatPoint src, TFloatPoint& dst) const {
  dst = ApplyMatrix(m_Matrix, src);
}

void TdtpAffineTransform::Translate(double dx, double dy) {
  TAffineMatrix e;
  e.m20 = dx;
  e.m21 = dy;
  Multiply(e, m_Matrix, m_Matrix);
}

void TdtpAffineTransform::Scale(double sx, double sy) {
  TAffineMatrix e;
  e.m00 = sx;
  e.m11 = sy;
  Multiply(e, m_Matrix, m_Matrix);
}

void TdtpAffineTransform::Rotate(double angle, double cx, double cy) {
  const bool centred = cx != 0 || cy != 0;
  if (centred) Translate(-cx, -cy);
  const double a = DegToRad(angle);
  TAffineMatrix e;
  e.m00 = std::cos(a);
  e.m01 = std::sin(a);
  e.m10 = -std::sin(a);
  e.m11 = std::cos(a);
  Multiply(e, m_Matrix, m_Matrix);
  if (centred) Translate(cx, cy);
}

void Multiply(const TAffineMatrix& a, const TAffineMatrix& b, TAffineMatrix& c) {
  const TAffineMatrix r{
      a.m00 * b.m00 + a.m10 * b.m01,         a.m01 * b.m00 + a.m11 * b.m01,
      a.m00 * b.m10 + a.m10 * b.m11,         a.m01 * b.m10 + a.m11 * b.m11,
      a.m00 * b.m20 + a.m10 * b.m21 + a.m20, a.m01 * b.m20 + a.m11 * b.m21 + a.m21};
  c = r;
}

TFloatPoint TransformPoint(const TdtpTransform* transform, TFloatPoint p) {
  if (!transform) return {0, 0};
  TFloatPoint out;
  transform->Transform(p, out);
  return out;
}

} // namespace dtp
