#include "engine/shapes/handles.h"

#include "engine/shapes/shape.h"

namespace dtp {

void TdtpHandlePainter::UpdateHandles(const TdtpShape& shape) {
  const float w = shape.DocWidth(), h = shape.DocHeight();
  m_Handles.clear();
  const auto add = [this](int kind, float x, float y) {
    m_Handles.push_back({kind, {x, y}, {x, y}});
  };
  add(hkTopLeft, 0, 0);
  add(hkLeft, 0, h / 2);
  add(hkBottomLeft, 0, h);
  add(hkBottom, w / 2, h);
  add(hkBottomRight, w, h);
  add(hkRight, w, h / 2);
  add(hkTopRight, w, 0);
  add(hkTop, w / 2, 0);
  if (shape.AllowRotate()) add(hkRotate, 1.03f * w, h / 2);
}

int TdtpHandlePainter::IndexOfKind(int kind) const {
  for (size_t i = 0; i < m_Handles.size(); ++i)
    if (m_Handles[i].Kind == kind) return static_cast<int>(i);
  return -1;
}

} // namespace dtp
