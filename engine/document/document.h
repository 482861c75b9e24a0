#pragma once
// The document: owner of the pages, the undo lists and the view scale, and the one place
// that batches change, selection and focus notifications. It is a plain object; whatever
// shows it attaches an IDocumentHost.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/persistence/resource.h"
#include "engine/persistence/storage.h"
#include "engine/shapes/command.h"
#include "engine/shapes/device_context.h"
#include "platform/core/color.h"
#include "platform/core/geometry.h"
#include "platform/raster/bitmap32.h"
#include "platform/xml/xml.h"

namespace dtp {

class TdtpShape;
class TdtpPage;
class TdtpDocument;
class IStreamStorage;
class IDocumentHost;
class TdtpHandlePainter;
class TCanvas;
class IPrinter;

enum TdtpProgressType : uint8_t { ptLoad, ptSave, ptPrint, ptWizard };
enum TdtpViewerModeType : uint8_t { vmBrowse, vmEdit, vmTextSelect, vmZoom, vmSlideshow };

enum TPrintQualityType : uint8_t { pqLow, pqMedium, pqHigh, pqDevice };
enum TMultiSelectMethodType : uint8_t { msmCtrl, msmSimple };
enum TdtpDocPerformanceType : uint8_t { dpMemoryOverSpeed, dpSpeedOverMemory };
enum TdtpHZScrollingType : uint8_t { hzsNoScroll, hzsAlways, hzsWhenMouseDown };
enum TdtpHandlePainterType : uint8_t { hpStippleHandle, hpW2K3Handle, hpCustomHandle };
enum TdtpHelperMethodType : uint8_t { hmNone, hmDots, hmGrid, hmPattern };
enum TdtpViewStyleType : uint8_t { vsPrintLayout, vsNormal };
enum TRulerUnits : uint8_t { ruCenti, ruMilli, ruInch, ruPixel, ruNone };

// Cursor numbers the document applies.
constexpr int crDefault = 0;
constexpr int crHourGlass = -11;
constexpr int crAppStart = -19;

using TdtpShapeEvent = std::function<void(TdtpDocument* sender, TdtpShape* shape)>;
using TdtpPageEvent = std::function<void(TdtpDocument* sender, TdtpPage* page)>;
using TdtpDocNotifyEvent = std::function<void(TdtpDocument* sender)>;
using TdtpLoadErrorEvent =
    std::function<void(TdtpDocument* sender, TdtpShape* shape, const std::string& error)>;
using TdtpShapeXmlEvent =
    std::function<void(TdtpDocument* sender, TdtpShape* shape, xml::TXmlNode node)>;
using TdtpCreateHandlePainterEvent = std::function<void(
    TdtpDocument* sender, TdtpShape* shape, std::unique_ptr<TdtpHandlePainter>& painter)>;
using TdtpPaintEvent = std::function<void(TdtpDocument* sender, TCanvas& canvas,
                                          const TDeviceContext& device, const TRect& pageRect)>;
using TdtpXmlEvent = std::function<void(TdtpDocument* sender, xml::TXmlNode node)>;
using TdtpProgressEvent = std::function<void(TdtpDocument* sender, TdtpProgressType kind, int count,
                                             int total, float percent)>;

// The undo list's budget in bytes; the oldest records go first.
constexpr int64_t kUndoBudget = 10485760;
constexpr int kMaxPageCount = 25;
constexpr float kDpm150 = 5.905512f;
constexpr float kDpm300 = 11.811024f;
constexpr float kDpm600 = 23.622047f;

class TdtpDocument {
public:
  TdtpDocument();
  virtual ~TdtpDocument();
  TdtpDocument(const TdtpDocument&) = delete;
  TdtpDocument& operator=(const TdtpDocument&) = delete;

  // --- host ---------------------------------------------------------------------------
  IDocumentHost* Host() const { return m_Host; }
  // Attaching a host starts the animate timer; detaching (nullptr) stops it.
  void SetHost(IDocumentHost* host);
  uint32_t TickCount() const;

  // --- page list ----------------------------------------------------------------------
  int PageCount() const { return static_cast<int>(m_Pages.size()); }
  void SetPageCount(int count);
  TdtpPage* Pages(int index) const;
  TdtpPage* CurrentPage() const { return Pages(m_CurrentPageIndex); }
  int CurrentPageIndex() const { return m_CurrentPageIndex; }
  void SetCurrentPageIndex(int value);
  int IndexOfPage(const TdtpPage* page) const;
  // Appends a page (a new one of the default size when `page` is null); returns its index.
  int AddPage(std::unique_ptr<TdtpPage> page = nullptr);
  void DeletePage(int index);
  // Reads a page's content from the storage container (lazy loading).
  void LoadPage(int index);
  float PageWidth() const;
  float PageHeight() const;
  void SetPageWidth(float w);
  void SetPageHeight(float h);

  // --- shapes of the current page -----------------------------------------------------
  int ShapeCount() const;
  TdtpShape* Shapes(int index) const;
  int AddShape(std::unique_ptr<TdtpShape> shape);
  void InsertShapeAt(int index, std::unique_ptr<TdtpShape> shape);
  void DeleteShape(int index);
  int RemoveShape(TdtpShape* shape);
  std::unique_ptr<TdtpShape> ExtractShape(TdtpShape* shape);
  void ExchangeShapes(int i, int j);

  // --- selection and focus ------------------------------------------------------------
  int SelectedCount() const;
  TdtpShape* SelectedShapes(int n) const;
  virtual bool HasSelection() const { return SelectedCount() > 0; }
  void ClearSelection();
  void ToggleSelection(TdtpShape* shape);
  TdtpShape* FocusedShape() const;
  void SetFocusShape(TdtpShape* shape);

  // --- alignment and z-order ----------------------------------------------------------
  void AlignLefts();
  void AlignTops();
  void AlignRights();
  void AlignBottoms();
  void CenterHorizontally();
  void CenterVertically();
  void SendBackward();
  void BringForward();
  void SendToBack();
  void BringToFront();

  // --- identity and state -------------------------------------------------------------
  // Pre-incremented each time a shape is attached.
  int32_t NextShapeID() { return ++m_NextShapeID; }
  bool IsLoading() const { return m_LoadingCount > 0; }
  void BeginLoading() { ++m_LoadingCount; }
  void EndLoading() { --m_LoadingCount; }
  bool Modified() const { return m_Modified; }
  virtual void SetModified(bool value);
  void DocumentChanged();
  // The storage container of the card: the document's own unless one was set.
  IStreamStorage* Storage() const { return m_Storage; }
  void SetStorage(IStreamStorage* storage) { m_Storage = storage; }
  TvqStorage* OwnStorage() const { return m_OwnStorage.get(); }
  // The shape being edited in place, or none.
  TdtpShape* EditShape() const { return m_EditShape; }
  void LeaveEditing() { m_EditShape = nullptr; }
  // New document: no page, no undo, every setting back to its default.
  virtual void Clear();

  // --- file operations (document_file.cpp) --------------------------------------------
  // Reads the card from the bound container: settings, then every page unloaded with its
  // thumbnail; page 0 is read at once.
  virtual void LoadFromArchive();
  virtual void ReadDocumentXml(xml::TXmlNode node);
  // Writes the settings and every page that changed or was never stored.
  virtual void SaveToArchive();
  virtual void WriteDocumentXml(xml::TXmlNode node);
  // A card that cannot be opened raises before the current document is cleared.
  virtual void LoadFromFile(const std::string& fileName);
  virtual void LoadFromStream(const TvqStream& stream);
  virtual void SaveToFile(const std::string& fileName);
  virtual void SaveToStream(TvqStream& stream);
  const std::string& Version() const { return m_Version; }

  // --- view scale ---------------------------------------------------------------------
  float ScreenDpm() const { return m_ScreenDpm; }
  void SetScreenDpm(float dpm);
  float WindowLeft() const { return m_WindowLeft; }
  float WindowTop() const { return m_WindowTop; }
  void SetWindowLeft(float v) { m_WindowLeft = v; }
  void SetWindowTop(float v) { m_WindowTop = v; }
  TFloatPoint DocToScreen(TFloatPoint p) const;
  TFloatPoint ScreenToDoc(TFloatPoint p) const;
  // Lays the scroll area out for the current page and places the page in it.
  virtual void UpdateScrollRange();
  float VirtualWidth() const { return m_VirtualWidth; }
  float VirtualHeight() const { return m_VirtualHeight; }
  float ScrollX() const { return m_ScrollX; }
  float ScrollY() const { return m_ScrollY; }
  void Repaint();
  // Asks the host to repaint a shape's area.
  virtual void RepaintShape(TdtpShape* shape);

  // --- brackets -----------------------------------------------------------------------
  virtual void BeginUpdate();
  virtual void EndUpdate();
  int UpdateCount() const { return m_UpdateCount; }
  void BeginUndo();
  void EndUndo();
  void DisableUndo() { ++m_UndoDisableCount; }
  void EnableUndo() { --m_UndoDisableCount; }
  void BeginBusy(int cursor);
  void EndBusy();
  bool IsBusy() const { return m_BusyCount > 0; }
  // Raises "Threading error (working already)" while a file operation runs.
  void CheckBusy() const;
  void BeginPrinting() { ++m_PrintingCount; }
  void EndPrinting();
  bool IsPrinting() const { return m_PrintingCount > 0; }

  // --- undo and redo ------------------------------------------------------------------
  bool UndoEnabled() const {
    return m_UndoEnabled && m_UndoDisableCount == 0 && m_UndoExecuting == 0;
  }
  void SetUndoEnabled(bool v);
  bool UndoPastSave() const { return m_UndoPastSave; }
  void SetUndoPastSave(bool v) { m_UndoPastSave = v; }
  bool IsRecordingRedo() const { return m_RecordingRedo && m_UndoDisableCount == 0; }
  void AddUndo(TdtpCommandPtr cmd);
  void AddRedo(TdtpCommandPtr cmd);
  virtual void ClearUndo();
  virtual bool ExecuteCommand(const TdtpCommand& cmd);
  int UndoCount() const { return static_cast<int>(m_UndoList.size()); }
  int RedoCount() const { return static_cast<int>(m_RedoList.size()); }
  TdtpCommand* UndoItems(int i) const;
  TdtpCommand* RedoItems(int i) const;
  int64_t UndoSize() const { return m_UndoSize; }
  // Takes back the newest group of changes; the records the shapes file while restoring
  // become one redo group. False when there was nothing to undo or a record found no shape.
  bool Undo();
  // Re-applies the newest undone group; its records go back to the undo list.
  bool Redo();
  bool CanUndo() const { return !m_UndoList.empty(); }
  bool CanRedo() const { return !m_RedoList.empty(); }

  // The picture default pages show behind their shapes ("DefaultBgrImage" in Index.xml).
  TdtpBitmapResource& DefaultBgrImage() const { return *m_DefaultBgrImage; }
  // The decoded default picture or none, without the resource lock: valid only while
  // nothing can unload it (see TdtpPage::BackgroundBitmap).
  TBitmap32* DefaultBackground() const;
  // A copy of the picture becomes the default background (kept in Index.xml); none
  // clears it.
  void SetDefaultBackground(const TBitmap32* bitmap);

  // --- painting and printing ---------------------------------------------------------
  // Renders the visible part of the current page for a clip rectangle of the view into
  // `out` (sized to the clip). False when nothing may be painted now (printing, loading).
  virtual bool PaintPage(const TRect& clip, TBitmap32& out);
  // One printer sheet per page; indexes that name no page are skipped.
  virtual void Print(const std::vector<int>& pageIndexes, IPrinter& printer);
  void PrintAll(IPrinter& printer);
  void PrintRange(int first, int count, IPrinter& printer);
  // Progress of the page being printed: its bands report their share up to `hi` (0 … 1).
  void ReportBandProgress(double hi);

  // --- clipboard ----------------------------------------------------------------------
  // The selection as an XML text ("Selection" with one "shape" per selected shape).
  virtual std::string SelectionToXml() const;
  // Adds the shapes of such a text to the current page and selects them; returns how many.
  // Text that is not such a document pastes nothing.
  virtual int PasteFromXml(const std::string& text);
  virtual void CopySelection();
  virtual void CutSelection();
  virtual void Paste();
  virtual bool CanPaste() const;
  void DeleteSelection();

  // The handle painter a selected shape gets, by HandlePainter.
  virtual std::unique_ptr<TdtpHandlePainter> CreateHandlePainter(TdtpShape* shape);

  // --- what shapes report -------------------------------------------------------------
  void ShapeChanged(TdtpShape* shape);
  void SelectionChanged();
  void ShapeDestroyed(TdtpShape* shape);

  // --- published properties -----------------------------------------------------------
  bool AllowKeyInput() const { return m_AllowKeyInput; }
  void SetAllowKeyInput(bool v) { m_AllowKeyInput = v; }
  bool ArchiveDirect() const { return m_ArchiveDirect; }
  void SetArchiveDirect(bool v) { m_ArchiveDirect = v; }
  bool AutoPageUpdate() const { return m_AutoPageUpdate; }
  void SetAutoPageUpdate(bool v) { m_AutoPageUpdate = v; }
  bool AutoWidth() const { return m_AutoWidth; }
  void SetAutoWidth(bool v) { m_AutoWidth = v; }
  TColor Color() const { return m_Color; }
  void SetColor(TColor c);
  bool DefaultBackgroundTiled() const { return m_DefaultBackgroundTiled; }
  void SetDefaultBackgroundTiled(bool v);
  TColor DefaultGridColor() const { return m_DefaultGridColor; }
  void SetDefaultGridColor(TColor c);
  float DefaultGridSize() const { return m_DefaultGridSize; }
  void SetDefaultGridSize(float v);
  float DefaultMarginLeft() const { return m_DefaultMarginLeft; }
  float DefaultMarginTop() const { return m_DefaultMarginTop; }
  float DefaultMarginRight() const { return m_DefaultMarginRight; }
  float DefaultMarginBottom() const { return m_DefaultMarginBottom; }
  void SetDefaultMarginLeft(float v);
  void SetDefaultMarginTop(float v);
  void SetDefaultMarginRight(float v);
  void SetDefaultMarginBottom(float v);
  TColor DefaultPageColor() const { return m_DefaultPageColor; }
  void SetDefaultPageColor(TColor c);
  float DefaultPageWidth() const { return m_DefaultPageWidth; }
  float DefaultPageHeight() const { return m_DefaultPageHeight; }
  void SetDefaultPageWidth(float v);
  void SetDefaultPageHeight(float v);
  TDeviceType Device() const { return m_Device; }
  void SetDevice(TDeviceType d) { m_Device = d; }
  int PageUpdateInterval() const { return m_PageUpdateInterval; }
  void SetPageUpdateInterval(int ms) { m_PageUpdateInterval = ms; }
  float PrinterDpm() const;
  TPrintQualityType PrintQuality() const { return m_PrintQuality; }
  void SetPrintQuality(TPrintQualityType q) { m_PrintQuality = q; }
  bool FontEmbedding() const { return m_FontEmbedding; }
  void SetFontEmbedding(bool v) { m_FontEmbedding = v; }
  TColor HandleEdgeColor() const { return m_HandleEdgeColor; }
  void SetHandleEdgeColor(TColor c) { m_HandleEdgeColor = c; }
  TColor HandleColor() const { return m_HandleColor; }
  void SetHandleColor(TColor c) { m_HandleColor = c; }
  TdtpHandlePainterType HandlePainter() const { return m_HandlePainter; }
  void SetHandlePainter(TdtpHandlePainterType t) { m_HandlePainter = t; }
  TdtpHelperMethodType HelperMethod() const { return m_HelperMethod; }
  void SetHelperMethod(TdtpHelperMethodType m);
  int HintHidePause() const { return m_HintHidePause; }
  void SetHintHidePause(int v) { m_HintHidePause = v; }
  int HintPause() const { return m_HintPause; }
  void SetHintPause(int v) { m_HintPause = v; }
  int HintShortPause() const { return m_HintShortPause; }
  void SetHintShortPause(int v) { m_HintShortPause = v; }
  float HitSensitivity() const { return m_HitSensitivity; }
  void SetHitSensitivity(float v);
  // Pixel offsets that pixel hit tests sample around the mouse.
  const std::vector<TPoint>& HitOffsets() const { return m_HitOffsets; }
  TdtpHZScrollingType HotzoneScrolling() const { return m_HotzoneScrolling; }
  void SetHotzoneScrolling(TdtpHZScrollingType v) { m_HotzoneScrolling = v; }
  TdtpViewerModeType Mode() const { return m_Mode; }
  void SetMode(TdtpViewerModeType m);
  TMultiSelectMethodType MultiSelectMethod() const { return m_MultiSelectMethod; }
  void SetMultiSelectMethod(TMultiSelectMethodType m) { m_MultiSelectMethod = m; }
  bool OptimizedPrinting() const { return m_OptimizedPrinting; }
  void SetOptimizedPrinting(bool v) { m_OptimizedPrinting = v; }
  TdtpDocPerformanceType Performance() const { return m_Performance; }
  void SetPerformance(TdtpDocPerformanceType p) { m_Performance = p; }
  TStretchFilter Quality() const { return m_Quality; }
  void SetQuality(TStretchFilter q);
  bool ReadOnly() const { return m_ReadOnly; }
  void SetReadOnly(bool v);
  bool RenderAtScreenRes() const { return m_RenderAtScreenRes; }
  void SetRenderAtScreenRes(bool v);
  float RenderDpm() const { return m_RenderDpm; }
  void SetRenderDpm(float dpm);
  float RenderDPI() const { return m_RenderDpm * 25.4f; }
  void SetRenderDPI(float dpi) { SetRenderDpm(dpi / 25.4f); }
  TRulerUnits RulerUnits() const { return m_RulerUnits; }
  void SetRulerUnits(TRulerUnits u) { m_RulerUnits = u; }
  bool ShowMargins() const { return m_ShowMargins; }
  void SetShowMargins(bool v);
  bool ShowHint() const { return m_ShowHint; }
  void SetShowHint(bool v) { m_ShowHint = v; }
  bool SnapToGrid() const { return m_SnapToGrid; }
  void SetSnapToGrid(bool v) { m_SnapToGrid = v; }
  float StepAngle() const { return m_StepAngle; }
  void SetStepAngle(float a) { m_StepAngle = a; }
  bool StoreThumbnails() const { return m_StoreThumbnails; }
  void SetStoreThumbnails(bool v) { m_StoreThumbnails = v; }
  int ThumbnailWidth() const { return m_ThumbnailWidth; }
  int ThumbnailHeight() const { return m_ThumbnailHeight; }
  void SetThumbnailWidth(int w);
  void SetThumbnailHeight(int h);
  bool UseClipboard() const { return m_UseClipboard; }
  void SetUseClipboard(bool v);
  TdtpViewStyleType ViewStyle() const { return m_ViewStyle; }
  void SetViewStyle(TdtpViewStyleType v);
  float ZoomPercent() const { return m_ZoomPercent; }

  // --- events -------------------------------------------------------------------------
  TdtpDocNotifyEvent OnAnimate;
  TdtpCreateHandlePainterEvent OnCreateHandlePainter;
  TdtpDocNotifyEvent OnDocumentChanged;
  TdtpShapeEvent OnFocusShape;
  TdtpLoadErrorEvent OnLoadError;
  TdtpPageEvent OnPageChanged;
  TdtpProgressEvent OnProgress;
  TdtpDocNotifyEvent OnSelectionChanged;
  TdtpShapeEvent OnShapeChanged;
  TdtpShapeEvent OnShapeDestroy;
  TdtpShapeEvent OnShapeEditClosed;
  TdtpShapeEvent OnShapeInsertClosed;
  TdtpDocNotifyEvent OnShapeListChanged;
  TdtpShapeXmlEvent OnShapeLoadAdditionalInfo;
  TdtpShapeXmlEvent OnShapeSaveAdditionalInfo;
  TdtpXmlEvent OnLoadAdditionalInfo;
  TdtpXmlEvent OnSaveAdditionalInfo;
  TdtpDocNotifyEvent OnUpdateScrollPosition;
  TdtpPaintEvent OnPaintBackground;
  TdtpPaintEvent OnPaintForeground;

  // One tick of the animate timer (50 ms); public so hosts and tests can drive it.
  void AnimateTimerTick();
  // True while a mouse interaction is in progress.
  virtual bool IsInteracting() const { return false; }

protected:
  void SetDefaults();
  void FirePageChanged(TdtpPage* page);
  void ApplyCursor(int cursor);
  void ConnectCurrentPage();
  void DisconnectCurrentPage();
  void MarkDefaultThumbnailsDirty();
  void SetVirtualArea(float x, float y, float w, float h);
  // The selected shapes of the current page in z-order.
  std::vector<TdtpShape*> Selection() const;
  template <class Edge, class Target> void AlignEdges(Edge edge, Target target);
  // Takes the newest group off a list and executes it newest first.
  bool RunGroup(std::deque<TdtpCommandPtr>& from);
  std::string ClipboardContent() const;
  void ReportPrintProgress(int count, int total, float percent);
  int m_PrintProgressCount = 0;
  int m_PrintProgressTotal = 0;
  // Released explicitly before the storage container it may write to.
  std::unique_ptr<TdtpBitmapResource> m_DefaultBgrImage;
  void DefaultBgrChanged();
  void ReadDefaultBgrImage(xml::TXmlNode element);

  IDocumentHost* m_Host = nullptr;
  int m_AnimateTimer = 0;
  bool m_InAnimate = false;
  bool m_InUpdateScrollRange = false;

  std::vector<std::unique_ptr<TdtpPage>> m_Pages;
  int m_CurrentPageIndex = -1;
  TdtpPage* m_ConnectedPage = nullptr;

  int32_t m_NextShapeID = 0;
  int m_LoadingCount = 0;
  bool m_Modified = false;
  uint32_t m_LastModifiedTick = 0;
  std::unique_ptr<TvqStorage> m_OwnStorage = std::make_unique<TvqStorage>();
  IStreamStorage* m_Storage = m_OwnStorage.get();
  TdtpShape* m_EditShape = nullptr;
  TdtpShape* m_FocusedShape = nullptr;
  std::string m_ClipboardText;
  TdtpPage* m_ClipboardSourcePage = nullptr;
  std::string m_Version = "2.7.1";

  float m_ScreenDpm = kDpm150;
  float m_WindowLeft = 0;
  float m_WindowTop = 0;
  float m_ZoomPercent = 100;
  float m_ScrollX = 0, m_ScrollY = 0, m_VirtualWidth = 0, m_VirtualHeight = 0;

  int m_UpdateCount = 0;
  bool m_PendingShapeChanged = false;
  bool m_PendingSelectionChanged = false;
  bool m_PendingFocusShape = false;
  int m_BusyCount = 0;
  int m_PrintingCount = 0;

  int m_UndoGroupDepth = 0;
  bool m_GroupHasCommand = false;
  int m_UndoDisableCount = 0;
  bool m_UndoEnabled = true;
  bool m_UndoPastSave = false;
  bool m_RecordingRedo = false;
  int m_UndoExecuting = 0;
  bool m_Redoing = false;
  std::deque<TdtpCommandPtr> m_UndoList;
  std::deque<TdtpCommandPtr> m_RedoList;
  int64_t m_UndoSize = 0;

  bool m_AllowKeyInput = true;
  bool m_ArchiveDirect = false;
  bool m_AutoPageUpdate = false;
  bool m_AutoWidth = true;
  TColor m_Color = clAppWorkSpace;
  int m_ControlCursor = crDefault;
  bool m_DefaultBackgroundTiled = false;
  TColor m_DefaultGridColor = 0xFFFFC0;
  float m_DefaultGridSize = 5;
  float m_DefaultMarginLeft = 10, m_DefaultMarginTop = 10, m_DefaultMarginRight = 10,
        m_DefaultMarginBottom = 10;
  TColor m_DefaultPageColor = 0xFFFFFF;
  float m_DefaultPageWidth = 210, m_DefaultPageHeight = 297;
  TDeviceType m_Device = dtScreen;
  int m_PageUpdateInterval = 2000;
  TPrintQualityType m_PrintQuality = pqLow;
  bool m_FontEmbedding = false;
  TColor m_HandleEdgeColor = 0;
  TColor m_HandleColor = 0xFFFFFF;
  TdtpHandlePainterType m_HandlePainter = hpW2K3Handle;
  TdtpHelperMethodType m_HelperMethod = hmNone;
  int m_HintHidePause = 2500, m_HintPause = 500, m_HintShortPause = 50;
  float m_HitSensitivity = 1.0f;
  std::vector<TPoint> m_HitOffsets;
  void BuildHitOffsets();
  TdtpHZScrollingType m_HotzoneScrolling = hzsNoScroll;
  TdtpViewerModeType m_Mode = vmEdit;
  TMultiSelectMethodType m_MultiSelectMethod = msmSimple;
  bool m_OptimizedPrinting = false;
  TdtpDocPerformanceType m_Performance = dpMemoryOverSpeed;
  TStretchFilter m_Quality = sfLinear;
  bool m_ReadOnly = false;
  bool m_RenderAtScreenRes = false;
  float m_RenderDpm = kDpm150;
  TRulerUnits m_RulerUnits = ruMilli;
  bool m_ShowMargins = true;
  bool m_ShowHint = false;
  bool m_SnapToGrid = false;
  float m_StepAngle = 0;
  bool m_StoreThumbnails = true;
  int m_ThumbnailWidth = 80, m_ThumbnailHeight = 60;
  bool m_UseClipboard = true;
  TdtpViewStyleType m_ViewStyle = vsPrintLayout;
};

// Brackets that close when the bracketed work throws; an unbalanced close still raises.
class TUpdateGuard {
public:
  explicit TUpdateGuard(TdtpDocument& d) : m_Doc(d) { m_Doc.BeginUpdate(); }
  ~TUpdateGuard() noexcept(false);
  TUpdateGuard(const TUpdateGuard&) = delete;
  TUpdateGuard& operator=(const TUpdateGuard&) = delete;

private:
  TdtpDocument& m_Doc;
};

// The undo guards also take an optional document (a shape without one records nothing).
class TUndoGuard {
public:
  explicit TUndoGuard(TdtpDocument& d) : TUndoGuard(&d) {}
  explicit TUndoGuard(TdtpDocument* d) : m_Doc(d) {
    if (m_Doc) m_Doc->BeginUndo();
  }
  ~TUndoGuard() noexcept(false);
  TUndoGuard(const TUndoGuard&) = delete;
  TUndoGuard& operator=(const TUndoGuard&) = delete;

private:
  TdtpDocument* m_Doc;
};

class TDisableUndoGuard {
public:
  explicit TDisableUndoGuard(TdtpDocument& d) : TDisableUndoGuard(&d) {}
  explicit TDisableUndoGuard(TdtpDocument* d) : m_Doc(d) {
    if (m_Doc) m_Doc->DisableUndo();
  }
  ~TDisableUndoGuard() {
    if (m_Doc) m_Doc->EnableUndo();
  }
  TDisableUndoGuard(const TDisableUndoGuard&) = delete;
  TDisableUndoGuard& operator=(const TDisableUndoGuard&) = delete;

private:
  TdtpDocument* m_Doc;
};

class TBusyGuard {
public:
  TBusyGuard(TdtpDocument& d, int cursor) : m_Doc(d) { m_Doc.BeginBusy(cursor); }
  ~TBusyGuard() { m_Doc.EndBusy(); }
  TBusyGuard(const TBusyGuard&) = delete;
  TBusyGuard& operator=(const TBusyGuard&) = delete;

private:
  TdtpDocument& m_Doc;
};

class TLoadingGuard {
public:
  explicit TLoadingGuard(TdtpDocument& d) : m_Doc(d) { m_Doc.BeginLoading(); }
  ~TLoadingGuard() { m_Doc.EndLoading(); }
  TLoadingGuard(const TLoadingGuard&) = delete;
  TLoadingGuard& operator=(const TLoadingGuard&) = delete;

private:
  TdtpDocument& m_Doc;
};

class TPrintingGuard {
public:
  explicit TPrintingGuard(TdtpDocument& d) : m_Doc(d) { m_Doc.BeginPrinting(); }
  ~TPrintingGuard() noexcept(false);
  TPrintingGuard(const TPrintingGuard&) = delete;
  TPrintingGuard& operator=(const TPrintingGuard&) = delete;

private:
  TdtpDocument& m_Doc;
};

// "Page%.4d.xml" and "Thumb%.4d.bmp" for a 1-based page number.
std::string PagePartName(int number);
std::string ThumbPartName(int number);

} // namespace dtp
