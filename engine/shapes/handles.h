#pragma once
// The handles a selected shape offers for dragging. A handle painter keeps the list of
// handles in the shape's frame and, during a drag, where each handle would go.

#include <vector>

#include "platform/core/geometry.h"

namespace dtp {

class TdtpShape;

struct TdtpHandle {
  int Kind = 0;
  TFloatPoint Position;
  TFloatPoint DragPosition;
};

class TdtpHandlePainter {
public:
  virtual ~TdtpHandlePainter() = default;

  // Rebuilds the handle list for the shape's current geometry. The base layout: corners
  // (kinds 2, 4, 6, 8), grabbable edges (3, 5, 7, 9) and, when the shape may rotate, a
  // rotation handle (10) just right of the right edge's middle.
  virtual void UpdateHandles(const TdtpShape& shape);

  std::vector<TdtpHandle>& Handles() { return m_Handles; }
  const std::vector<TdtpHandle>& Handles() const { return m_Handles; }
  int IndexOfKind(int kind) const;

protected:
  std::vector<TdtpHandle> m_Handles;
};

} // namespace dtp
