#include "engine/shapes/handles.h"

#include "engine/shapes/shape.h"
#include "platform/core/errors.h"

namespace dtp {

const TdtpShape& TdtpHandlePainter::CheckedShape() const {
  if (!m_Shape) throw EDtpError("Shape object must be assigned");
  return *m_Shape;
}

void TdtpHandlePainter::Rebuild() {
  const TdtpShape& s = CheckedShape();
  const float w = s.DocWidth(), h = s.DocHeight();
  m_Handles = {{hkTopLeft, {0, 0}, {0, 0}},
               {hkBottomLeft, {0, h}, {0, h}},
               {hkBottomRight, {w, h}, {w, h}},
               {hkTopRight, {w, 0}, {w, 0}}};
  if (s.AllowRotate()) m_Handles.push_back({hkRotate, {1.03f * w, h / 2}, {1.03f * w, h / 2}});
  m_Lines = {{0, 1, hkLeft, true, true},
             {1, 2, hkBottom, true, true},
             {2, 3, hkRight, true, true},
             {3, 0, hkTop, true, true}};
}

void TdtpW2K3HandlePainter::Rebuild() {
  const TdtpShape& s = CheckedShape();
  const float w = s.DocWidth(), h = s.DocHeight();
  const TFloatPoint pos[9] = {{0, 0},     {w / 2, 0}, {w, 0},     {w, h / 2}, {w, h},
                              {w / 2, h}, {0, h},     {0, h / 2}, {w / 2, -5}};
  const uint8_t codes[9] = {hkTopLeft, hkTop,        hkTopRight, hkRight, hkBottomRight,
                            hkBottom,  hkBottomLeft, hkLeft,     hkRotate};
  m_Handles.clear();
  for (int i = 0; i < 9; ++i) m_Handles.push_back({codes[i], pos[i], pos[i]});
  m_Lines = {{0, 2, 0, false, true},
             {2, 4, 0, false, true},
             {4, 6, 0, false, true},
             {6, 0, 0, false, true},
             {1, 8, 0, s.AllowRotate(), false}};
}

int TdtpHandlePainter::IndexOfKind(int code) const {
  for (size_t i = 0; i < m_Handles.size(); ++i)
    if (m_Handles[i].Code == code) return static_cast<int>(i);
  return -1;
}

} // namespace dtp
