#pragma once
// The handles a selected shape offers for dragging. A handle painter keeps the handles in
// the shape's frame (and, during a drag, where each would go) and the lines between them.

#include <cstdint>
#include <vector>

#include "platform/core/geometry.h"

namespace dtp {

class TdtpShape;

struct TdtpHandle {
  uint8_t Code = 0; // the hit code the handle reports
  TFloatPoint Position;
  TFloatPoint DragPosition;
};

struct TdtpDragLine {
  int StartHandle = 0;
  int EndHandle = 0;
  uint8_t Code = 0;        // reported when the line itself is hit; 0 = not grabbable
  bool InOutline = true;   // drawn in the selection outline
  bool DrawnInDrag = true; // drawn in the drag outline
};

class TdtpHandlePainter {
public:
  explicit TdtpHandlePainter(TdtpShape* shape = nullptr) : m_Shape(shape) {}
  virtual ~TdtpHandlePainter() = default;

  // Lays out handles and lines for the shape's current size: corners 2, 4, 6, 8, the
  // rotation handle 10 just right of the right edge when the shape may turn, and the four
  // edges as grabbable lines 3, 5, 7, 9. Raises "Shape object must be assigned" without a shape.
  virtual void Rebuild();
  // Half the side of a handle's screen square, in pixels.
  virtual int HandleHalfSize(int /*index*/) const { return 3; }

  TdtpShape* Shape() const { return m_Shape; }
  void SetShape(TdtpShape* shape) { m_Shape = shape; }
  std::vector<TdtpHandle>& Handles() { return m_Handles; }
  const std::vector<TdtpHandle>& Handles() const { return m_Handles; }
  std::vector<TdtpDragLine>& Lines() { return m_Lines; }
  const std::vector<TdtpDragLine>& Lines() const { return m_Lines; }
  int IndexOfKind(int code) const;

protected:
  const TdtpShape& CheckedShape() const;
  TdtpShape* m_Shape;
  std::vector<TdtpHandle> m_Handles;
  std::vector<TdtpDragLine> m_Lines;
};

// The default painter: corners and edge midpoints, and a rotation handle on a stick 5 mm
// above the top edge.
class TdtpW2K3HandlePainter : public TdtpHandlePainter {
public:
  using TdtpHandlePainter::TdtpHandlePainter;
  void Rebuild() override;
};

} // namespace dtp
