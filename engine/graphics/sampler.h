#pragma once
// Samplers draw one 32-bit bitmap (the source) into another (the target) through a
// transform, interpolating and supersampling, and blend the result over the target. The
// shape renderer puts every cached shape bitmap onto pages, thumbnails and print bands
// through a map sampler.
//
// Positions in the source are integers in 1/256 source pixel; source pixel (i, j) sits at
// the point (i, j). Reads strictly inside the source's inner area mix four pixels
// bilinearly, weighted through a gamma table; every other read gives the source's
// OuterColor, so the drawn picture's edges fade against that colour.

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/shapes/transform.h"
#include "platform/core/color.h"
#include "platform/core/geometry.h"
#include "platform/raster/bitmap32.h"

namespace dtp {

// Fills steps[0 … n] with floor(k · total / n): steps[0] = 0 and steps[n] = total, spread
// as evenly as integers allow (rounding toward −∞, also for a negative total). n <= 0
// gives the single entry 0.
void SpreadSteps(int32_t total, int32_t n, int32_t* steps);

// Entry k = nint(255 · (k / 255)^0.7): the weight table of the interpolated read.
const uint8_t* SamplerGammaTable();

// The interpolated read at (x, y) in 1/256 source pixel, as described at the top.
TColor32 InterpolatedRead(const TBitmap32& source, int32_t x, int32_t y);

// Which code computes the runs. The reference follows the arithmetic step by step; the
// optimised path skips the parts of a run that lie wholly outside the source and uses the
// best kernels the CPU offers (portable: the same path with the scalar kernels). All give
// identical pixels. Tests switch between them; the program keeps skOptimised.
enum TSamplerKernels : uint8_t { skReference, skPortable, skOptimised };
void SetSamplerKernels(TSamplerKernels kernels);
TSamplerKernels SamplerKernels();
// True when skOptimised runs kernels of an instruction set beyond the portable ones.
bool OptimisedSamplerAvailable();

class TdtpSampler {
public:
  TdtpSampler() = default;
  virtual ~TdtpSampler();
  TdtpSampler(const TdtpSampler&) = delete;
  TdtpSampler& operator=(const TdtpSampler&) = delete;

  // Maps source pixel coordinates to target pixel coordinates; not owned. Storing it also
  // takes its inverse, so call it again after changing the transform. nullptr clears both.
  void SetTransform(TdtpTransform* transform);
  TdtpTransform* Transform() const { return m_Transform; }
  // Owned copy of the transform, inverted.
  const TdtpTransform* Inverse() const { return m_Inverse.get(); }

  // The bitmap drawn into; not owned.
  void SetTargetMap(TBitmap32* bitmap) { m_TargetMap = bitmap; }
  TBitmap32* TargetMap() const { return m_TargetMap; }
  // Kept for the caller; the drawing does not use it.
  void SetTargetArea(const TFloatRect& area) { m_TargetArea = area; }
  const TFloatRect& TargetArea() const { return m_TargetArea; }

  // The samples of target pixels (x … x + count − 1, y); the pointer stays valid until the
  // next call.
  virtual const TColor32* SampleRun(int32_t x, int32_t y, int32_t count) = 0;
  // Draws the part r of the source (in source pixels) into the target.
  virtual void Draw(const TFloatRect& r) = 0;

protected:
  // An empty transform of the same class as t. The transform family has no virtual
  // constructor, so the affine class is known here; other classes raise EDtpError unless
  // a derived sampler knows them.
  virtual std::unique_ptr<TdtpTransform> NewTransformLike(const TdtpTransform& t) const;

  TdtpTransform* m_Transform = nullptr;
  std::unique_ptr<TdtpTransform> m_Inverse;
  TBitmap32* m_TargetMap = nullptr;
  TFloatRect m_TargetArea;
};

class TdtpMapSampler : public TdtpSampler {
public:
  TdtpMapSampler();

  // The bitmap sampled; not owned.
  void SetSourceMap(const TBitmap32* bitmap) { m_SourceMap = bitmap; }
  const TBitmap32* SourceMap() const { return m_SourceMap; }

  // n × n sub-samples per target pixel on a regular grid, n = 1 … 6; n = 1 samples each
  // pixel once at its centre. Other values raise "Illegal oversampling value" and change
  // nothing, unless n² equals the current SubSamples (then nothing happens at all).
  void SetOversampling(int n);
  int SubSamples() const { return m_SubSamples; }
  const std::vector<TFloatPoint>& SubSampleOffsets() const { return m_SubSampleOffsets; }
  static constexpr int BytesPerPixel() { return 4; }

  // Without a source or a transform every sample is 0.
  const TColor32* SampleRun(int32_t x, int32_t y, int32_t count) override;
  // Blends the target pixels covered by r's transformed bounding box with the source's
  // MasterAlpha; draws nothing without target, source or transform.
  void Draw(const TFloatRect& r) override;

  // Per-pixel offsets of the last affine run's sample positions, in 1/256 source pixel.
  const std::vector<int32_t>& StepX() const { return m_StepX; }
  const std::vector<int32_t>& StepY() const { return m_StepY; }

private:
  struct TRunPlan;
  void PlanRun(int32_t x, int32_t y, int32_t count, TRunPlan& plan);
  void SampleReference(const TBitmap32& source, const TRunPlan& plan, int32_t count);
  // Fills [first, last) of RunBuffer and returns that span; the rest is OuterColor.
  void SampleOptimised(const TBitmap32& source, const TRunPlan& plan, int32_t count, int32_t& first,
                       int32_t& last);
  void Sample(const TBitmap32& source, int32_t x, int32_t y, int32_t count, int32_t& first,
              int32_t& last);

  const TBitmap32* m_SourceMap = nullptr;
  std::vector<TColor32> m_RunBuffer;
  std::vector<TColor32> m_SubSampleBuffer;
  std::vector<uint16_t> m_Sums;
  int m_SubSamples = 0;
  std::vector<TFloatPoint> m_SubSampleOffsets;
  std::vector<int32_t> m_StepX, m_StepY;
  // Sub-sample start positions of a run, or per-pixel positions when not stepped.
  std::vector<int32_t> m_StartX, m_StartY, m_PosX, m_PosY;
};

} // namespace dtp
