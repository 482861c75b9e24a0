#pragma once
// The document: owner of the pages, the undo lists and the view scale, and the one place
// that batches change, selection and focus notifications.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/shapes/command.h"
#include "platform/core/geometry.h"
#include "platform/xml/xml.h"

namespace dtp {

class TdtpShape;
class TdtpDocument;
class IStreamStorage;

using TdtpShapeEvent = std::function<void(TdtpDocument* sender, TdtpShape* shape)>;
using TdtpDocNotifyEvent = std::function<void(TdtpDocument* sender)>;
using TdtpLoadErrorEvent =
    std::function<void(TdtpDocument* sender, TdtpShape* shape, const std::string& error)>;
using TdtpShapeXmlEvent =
    std::function<void(TdtpDocument* sender, TdtpShape* shape, xml::TXmlNode node)>;

// The undo list's budget in bytes; the oldest records go first.
constexpr int64_t kUndoBudget = 10485760;

class TdtpDocument {
public:
  TdtpDocument();
  virtual ~TdtpDocument();
  TdtpDocument(const TdtpDocument&) = delete;
  TdtpDocument& operator=(const TdtpDocument&) = delete;

  // --- identity and state -------------------------------------------------------------
  // Pre-incremented each time a shape is attached.
  int32_t NextShapeID() { return ++m_NextShapeID; }
  bool IsLoading() const { return m_LoadingCount > 0; }
  bool Modified() const { return m_Modified; }
  virtual void SetModified(bool value);
  float StepAngle() const { return m_StepAngle; }
  void SetStepAngle(float a) { m_StepAngle = a; }
  bool ShowHint() const { return m_ShowHint; }
  void SetShowHint(bool v) { m_ShowHint = v; }
  // The storage container of the card, or none.
  IStreamStorage* Storage() const { return m_Storage; }
  void SetStorage(IStreamStorage* storage) { m_Storage = storage; }
  // The shape being edited in place, or none.
  TdtpShape* EditShape() const { return m_EditShape; }
  void LeaveEditing() { m_EditShape = nullptr; }

  // --- view scale ---------------------------------------------------------------------
  float ScreenDpm() const { return m_ScreenDpm; }
  void SetScreenDpm(float dpm) { m_ScreenDpm = dpm; }
  float WindowLeft() const { return m_WindowLeft; }
  float WindowTop() const { return m_WindowTop; }
  void SetWindowLeft(float v) { m_WindowLeft = v; }
  void SetWindowTop(float v) { m_WindowTop = v; }
  TFloatPoint DocToScreen(TFloatPoint p) const;
  TFloatPoint ScreenToDoc(TFloatPoint p) const;

  // --- update and undo brackets -------------------------------------------------------
  virtual void BeginUpdate();
  virtual void EndUpdate();
  int UpdateCount() const { return m_UpdateCount; }
  void BeginUndo();
  void EndUndo();
  void DisableUndo() { ++m_UndoDisableCount; }
  void EnableUndo() { --m_UndoDisableCount; }
  void BeginLoading() { ++m_LoadingCount; }
  void EndLoading() { --m_LoadingCount; }

  // --- undo lists ---------------------------------------------------------------------
  bool UndoEnabled() const { return m_UndoEnabled && m_UndoDisableCount == 0; }
  void SetUndoEnabled(bool v);
  bool IsRecordingRedo() const { return m_RecordingRedo; }
  void AddUndo(TdtpCommandPtr cmd);
  void AddRedo(TdtpCommandPtr cmd);
  virtual void ClearUndo();
  int UndoCount() const { return static_cast<int>(m_UndoList.size()); }
  int RedoCount() const { return static_cast<int>(m_RedoList.size()); }
  TdtpCommand* UndoItems(int i) const;
  TdtpCommand* RedoItems(int i) const;
  int64_t UndoSize() const { return m_UndoSize; }

  // --- what shapes report -------------------------------------------------------------
  void ShapeChanged(TdtpShape* shape);
  void SelectionChanged();
  void ShapeDestroyed(TdtpShape* shape);
  // Asks whatever shows the document to repaint a shape's area; no view, nothing to do.
  virtual void RepaintShape(TdtpShape* /*shape*/) {}

  // --- events -------------------------------------------------------------------------
  TdtpShapeEvent OnShapeChanged;
  TdtpDocNotifyEvent OnSelectionChanged;
  TdtpShapeEvent OnShapeDestroy;
  TdtpShapeEvent OnFocusShape;
  TdtpLoadErrorEvent OnLoadError;
  TdtpShapeXmlEvent OnShapeLoadAdditionalInfo;
  TdtpShapeXmlEvent OnShapeSaveAdditionalInfo;

protected:
  int32_t m_NextShapeID = 0;
  int m_LoadingCount = 0;
  bool m_Modified = false;
  float m_StepAngle = 0;
  bool m_ShowHint = false;
  IStreamStorage* m_Storage = nullptr;
  TdtpShape* m_EditShape = nullptr;
  TdtpShape* m_FocusedShape = nullptr;

  float m_ScreenDpm = 5.905512f;
  float m_WindowLeft = 0;
  float m_WindowTop = 0;

  int m_UpdateCount = 0;
  bool m_PendingShapeChanged = false;
  bool m_PendingSelectionChanged = false;
  bool m_PendingFocusShape = false;

  int m_UndoGroupDepth = 0;
  bool m_GroupHasCommand = false;
  int m_UndoDisableCount = 0;
  bool m_UndoEnabled = true;
  bool m_RecordingRedo = false;
  std::deque<TdtpCommandPtr> m_UndoList;
  std::deque<TdtpCommandPtr> m_RedoList;
  int64_t m_UndoSize = 0;
};

} // namespace dtp
