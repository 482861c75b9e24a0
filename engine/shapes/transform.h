#pragma once
// Coordinate mappings on pixels: a small class family with one concrete kind, the 2-D
// affine matrix in double precision.

#include <array>

#include "platform/core/geometry.h"

namespace dtp {

// Six doubles m00, m01, m10, m11, m20, m21: (x, y) maps to
// (m00·x + m10·y + m20, m01·x + m11·y + m21).
struct TAffineMatrix {
  double m00 = 1, m01 = 0, m10 = 0, m11 = 1, m20 = 0, m21 = 0;
  bool operator==(const TAffineMatrix&) const = default;
};
static_assert(sizeof(TAffineMatrix) == 48, "the matrix is copied as one 48-byte block");

class TdtpTransform {
public:
  virtual ~TdtpTransform() = default;
  // Accepts any transform and copies nothing at this level.
  virtual void Assign(const TdtpTransform& source);
  virtual bool IsAffine() const { return false; }
  virtual void Invert() = 0;
  virtual void Transform(TFloatPoint src, TFloatPoint& dst) const = 0;

  void TransformPoints(TFloatPoint* points, int count) const;
};

class TdtpAffineTransform : public TdtpTransform {
public:
  TdtpAffineTransform() = default;
  explicit TdtpAffineTransform(const TAffineMatrix& m) : m_Matrix(m) {}

  void Assign(const TdtpTransform& source) override;
  bool IsAffine() const override { return true; }
  // A singular matrix (determinant 0) is left unchanged: there is no inverse to take.
  void Invert() override;
  void Transform(TFloatPoint src, TFloatPoint& dst) const override;

  // Each composes "first the current matrix, then the elementary one".
  void Translate(double dx, double dy);
  void Scale(double sx, double sy);
  void Rotate(double angle, double cx, double cy);

  void Clear() { m_Matrix = TAffineMatrix{}; }
  const TAffineMatrix& Matrix() const { return m_Matrix; }
  void SetMatrix(const TAffineMatrix& m) { m_Matrix = m; }

private:
  TAffineMatrix m_Matrix;
};

// C = first B, then A.
void Multiply(const TAffineMatrix& a, const TAffineMatrix& b, TAffineMatrix& c);

// (0, 0) without a transform, else the transform's mapping of the point.
TFloatPoint TransformPoint(const TdtpTransform* transform, TFloatPoint p);

// Applies a matrix to a point with double arithmetic, storing floats.
TFloatPoint ApplyMatrix(const TAffineMatrix& m, TFloatPoint p);

} // namespace dtp
