#include "engine/document/document.h"

#include "engine/shapes/shape.h"
#include "platform/core/errors.h"

namespace dtp {

TdtpDocument::TdtpDocument() = default;
TdtpDocument::~TdtpDocument() = default;

void TdtpDocument::SetModified(bool value) { m_Modified = value; }

TFloatPoint TdtpDocument::DocToScreen(TFloatPoint p) const {
  return {(p.X - m_WindowLeft) * m_ScreenDpm, (p.Y - m_WindowTop) * m_ScreenDpm};
}

TFloatPoint TdtpDocument::ScreenToDoc(TFloatPoint p) const {
  return {p.X / m_ScreenDpm + m_WindowLeft, p.Y / m_ScreenDpm + m_WindowTop};
}

void TdtpDocument::BeginUpdate() { ++m_UpdateCount; }

void TdtpDocument::EndUpdate() {
  --m_UpdateCount;
  if (m_UpdateCount < 0) throw EDtpError("EndUpdate called more often than BeginUpdate");
  if (m_UpdateCount != 0) return;
  if (m_PendingShapeChanged) {
    m_PendingShapeChanged = false;
    ShapeChanged(nullptr);
  }
  if (m_PendingSelectionChanged) {
    m_PendingSelectionChanged = false;
    if (OnSelectionChanged) OnSelectionChanged(this);
  }
  if (m_PendingFocusShape) {
    m_PendingFocusShape = false;
    if (OnFocusShape) OnFocusShape(this, m_FocusedShape);
  }
}

void TdtpDocument::BeginUndo() {
  ++m_UndoGroupDepth;
  BeginUpdate();
}

void TdtpDocument::EndUndo() {
  --m_UndoGroupDepth;
  if (m_UndoGroupDepth == 0) m_GroupHasCommand = false;
  if (m_UndoGroupDepth < 0) {
    m_UndoGroupDepth = 0;
    throw EDtpError("EndUndo called more often than BeginUndo");
  }
  EndUpdate();
}

void TdtpDocument::SetUndoEnabled(bool v) {
  m_UndoEnabled = v;
  if (!v) ClearUndo();
}

void TdtpDocument::AddUndo(TdtpCommandPtr cmd) {
  if (!UndoEnabled() || !cmd) return;
  if (m_UndoGroupDepth > 0) {
    if (m_GroupHasCommand) cmd->Grouped = true;
    m_GroupHasCommand = true;
  }
  const TdtpCommand* p = (m_RedoList.empty() && !m_UndoList.empty()) ? m_UndoList.back().get()
                                                                      : nullptr;
  if (p && cmd->Kind == ckProperty && p->Kind == ckProperty && cmd->ID == p->ID &&
      cmd->Name == p->Name && cmd->Value == p->Value)
    return;
  m_RedoList.clear();
  m_UndoSize += cmd->Size();
  m_UndoList.push_back(std::move(cmd));
  while (m_UndoSize > kUndoBudget && !m_UndoList.empty()) {
    m_UndoSize -= m_UndoList.front()->Size();
    m_UndoList.pop_front();
  }
}

void TdtpDocument::AddRedo(TdtpCommandPtr cmd) {
  if (!m_RecordingRedo || !cmd) return;
  if (m_UndoGroupDepth > 0) {
    if (m_GroupHasCommand) cmd->Grouped = true;
    m_GroupHasCommand = true;
  }
  m_RedoList.push_back(std::move(cmd));
}

void TdtpDocument::ClearUndo() {
  m_UndoList.clear();
  m_RedoList.clear();
  m_UndoSize = 0;
}

TdtpCommand* TdtpDocument::UndoItems(int i) const {
  if (i < 0 || i >= UndoCount()) return nullptr;
  return m_UndoList[static_cast<size_t>(i)].get();
}

TdtpCommand* TdtpDocument::RedoItems(int i) const {
  if (i < 0 || i >= RedoCount()) return nullptr;
  return m_RedoList[static_cast<size_t>(i)].get();
}

void TdtpDocument::ShapeChanged(TdtpShape* shape) {
  SetModified(true);
  if (m_UpdateCount > 0) {
    m_PendingShapeChanged = true;
    return;
  }
  if (OnShapeChanged) OnShapeChanged(this, shape);
}

void TdtpDocument::SelectionChanged() {
  if (m_UpdateCount > 0) {
    m_PendingSelectionChanged = true;
    return;
  }
  if (OnSelectionChanged) OnSelectionChanged(this);
}

void TdtpDocument::ShapeDestroyed(TdtpShape* shape) {
  if (m_FocusedShape == shape) m_FocusedShape = nullptr;
  if (m_EditShape == shape) m_EditShape = nullptr;
  if (OnShapeDestroy) OnShapeDestroy(this, shape);
}

} // namespace dtp
