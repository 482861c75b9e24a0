#include "engine/document/document.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>

#include "engine/document/page.h"
#include "engine/persistence/resource_thread.h"
#include "engine/persistence/stream_storage.h"
#include "engine/shapes/handles.h"
#include "engine/shapes/shape.h"
#include "platform/core/brackets.h"
#include "platform/core/errors.h"
#include "platform/host/host.h"

namespace dtp {

namespace {

const char* const kBusyMessage = "Threading error (working already)";

} // namespace

TUpdateGuard::~TUpdateGuard() noexcept(false) {
  CloseBracket([this] { m_Doc.EndUpdate(); });
}
TUndoGuard::~TUndoGuard() noexcept(false) {
  if (m_Doc) CloseBracket([this] { m_Doc->EndUndo(); });
}
TPrintingGuard::~TPrintingGuard() noexcept(false) {
  CloseBracket([this] { m_Doc.EndPrinting(); });
}

std::string PagePartName(int number) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "Page%.4d.xml", number);
  return buf;
}

std::string ThumbPartName(int number) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "Thumb%.4d.bmp", number);
  return buf;
}

// ---------------------------------------------------------------------------------------
// construction

TdtpDocument::TdtpDocument() {
  m_DefaultBgrImage = std::make_unique<TdtpBitmapResource>();
  m_DefaultBgrImage->SetDocument(this);
  m_DefaultBgrImage->OnObjectChange = [this](TdtpResource*) { DefaultBgrChanged(); };
  SetDefaults();
  BuildHitOffsets();
  m_Modified = true;
  TDisableUndoGuard quiet(*this);
  AddPage(nullptr);
  m_Modified = false;
}

TdtpDocument::~TdtpDocument() {
  SetHost(nullptr);
  // Pages go first, while the document they report to still exists.
  DisconnectCurrentPage();
  m_Pages.clear();
  m_DefaultBgrImage.reset();
}

void TdtpDocument::SetDefaults() {
  m_HandleColor = 0xFFFFFF;
  m_HandleEdgeColor = 0;
  m_HotzoneScrolling = hzsNoScroll;
  m_Quality = sfLinear;
  m_RenderDpm = kDpm150;
  m_ScreenDpm = kDpm150;
  m_ZoomPercent = 100;
  m_ThumbnailWidth = 80;
  m_ThumbnailHeight = 60;
  m_ViewStyle = vsPrintLayout;
  m_StepAngle = 0;
  m_StoreThumbnails = true;
  m_ShowMargins = true;
  m_DefaultMarginLeft = m_DefaultMarginTop = m_DefaultMarginRight = m_DefaultMarginBottom = 10;
  m_DefaultPageColor = 0xFFFFFF;
  m_DefaultPageHeight = 297;
  m_DefaultPageWidth = 210;
  m_DefaultGridColor = 0xFFFFC0;
  m_DefaultGridSize = 5;
}

void TdtpDocument::SetHost(IDocumentHost* host) {
  if (host == m_Host) return;
  if (m_Host && m_AnimateTimer) m_Host->DestroyTimer(m_AnimateTimer);
  m_AnimateTimer = 0;
  m_Host = host;
  if (m_Host) m_AnimateTimer = m_Host->CreateTimer(50, [this] { AnimateTimerTick(); });
}

uint32_t TdtpDocument::TickCount() const {
  return m_Host ? m_Host->TickCount() : MonotonicTickCount();
}

void TdtpDocument::Clear() {
  TResourcesGuard resources;
  for (auto& page : m_Pages) {
    page->ClearShapes();
    ShapeDestroyed(page.get());
  }
  DisconnectCurrentPage();
  m_Pages.clear();
  m_CurrentPageIndex = -1;
  m_ClipboardSourcePage = nullptr;
  ClearUndo();
  // A container the document does not own is only let go; its own one is emptied.
  m_OwnStorage->Clear();
  m_Storage = m_OwnStorage.get();
  m_DefaultBgrImage->SetStorage(rsEmbedded);
  m_DefaultBgrImage->Clear();
  SetDefaults();
  m_Modified = true;
  m_LastModifiedTick = TickCount();
  Repaint();
}

// ---------------------------------------------------------------------------------------
// page list

TdtpPage* TdtpDocument::Pages(int index) const {
  if (index < 0 || index >= PageCount()) return nullptr;
  return m_Pages[static_cast<size_t>(index)].get();
}

int TdtpDocument::IndexOfPage(const TdtpPage* page) const {
  for (size_t i = 0; i < m_Pages.size(); ++i)
    if (m_Pages[i].get() == page) return static_cast<int>(i);
  return -1;
}

int TdtpDocument::AddPage(std::unique_ptr<TdtpPage> page) {
  if (!page) {
    page = std::make_unique<TdtpPage>();
    page->SetBounds(page->DocLeft(), page->DocTop(), m_DefaultPageWidth, m_DefaultPageHeight);
  }
  TdtpPage* p = page.get();
  m_Pages.push_back(std::move(page));
  const int index = PageCount() - 1;
  p->SetDocument(this);
  if (!CurrentPage()) SetCurrentPageIndex(index);
  ShapeChanged(p);
  FirePageChanged(p);
  return index;
}

void TdtpDocument::DeletePage(int index) {
  TResourcesGuard resources;
  TdtpPage* page = Pages(index);
  if (!page) return;
  const int oldCount = PageCount();
  if (m_Storage) {
    m_Storage->DeleteStream(PagePartName(index + 1));
    m_Storage->DeleteStream(ThumbPartName(index + 1));
    for (int a = index + 1; a < oldCount; ++a) {
      m_Storage->RenameStream(PagePartName(a + 1), PagePartName(a));
      m_Storage->RenameStream(ThumbPartName(a + 1), ThumbPartName(a));
    }
  }
  const bool wasCurrent = page == m_ConnectedPage;
  if (wasCurrent) DisconnectCurrentPage();
  page->ClearShapes();
  ShapeDestroyed(page);
  if (m_ClipboardSourcePage == page) m_ClipboardSourcePage = nullptr;
  m_Pages.erase(m_Pages.begin() + index);
  SetModified(true);
  for (int i = index; i < PageCount(); ++i) FirePageChanged(Pages(i));
  if (index < m_CurrentPageIndex || m_CurrentPageIndex >= PageCount()) {
    const int target = std::max(0, m_CurrentPageIndex - 1);
    // The setter compares with the stored index; make it see a change of page.
    m_CurrentPageIndex = -1;
    SetCurrentPageIndex(target);
  } else if (wasCurrent) {
    // The same index now names the next page: connect it and lay the view out for it.
    if (TdtpPage* next = CurrentPage()) {
      if (!next->ContentLoaded()) LoadPage(m_CurrentPageIndex);
      ConnectCurrentPage();
      UpdateScrollRange();
      SetFocusShape(nullptr);
      FirePageChanged(next);
    }
  }
  Repaint();
}

void TdtpDocument::SetPageCount(int count) {
  if (count < 0 || count > kMaxPageCount) throw EDtpError("Invalid page count");
  while (PageCount() < count) AddPage(nullptr);
  while (PageCount() > count) DeletePage(PageCount() - 1);
}

void TdtpDocument::SetCurrentPageIndex(int value) {
  if (TdtpPage* p = Pages(value); p && !p->ContentLoaded()) LoadPage(value);
  FirePageChanged(CurrentPage());
  if (value == m_CurrentPageIndex) return;
  if (TdtpPage* old = CurrentPage(); old && m_Performance == dpMemoryOverSpeed) old->FreeCaches();
  DisconnectCurrentPage();
  m_CurrentPageIndex = value;
  ConnectCurrentPage();
  UpdateScrollRange();
  Repaint();
  SetFocusShape(nullptr);
  FirePageChanged(CurrentPage());
}

void TdtpDocument::ConnectCurrentPage() {
  DisconnectCurrentPage();
  m_ConnectedPage = CurrentPage();
  if (m_ConnectedPage)
    m_ConnectedPage->OnBoundsChanged = [this](TdtpShape*) { UpdateScrollRange(); };
}

void TdtpDocument::DisconnectCurrentPage() {
  if (m_ConnectedPage) m_ConnectedPage->OnBoundsChanged = nullptr;
  m_ConnectedPage = nullptr;
}

void TdtpDocument::LoadPage(int index) {
  TResourcesGuard resources;
  TLoadingGuard loading(*this);
  TdtpPage* page = Pages(index);
  if (!m_Storage || !page) return;
  page->SetContentLoaded(true);
  ApplyCursor(crAppStart);
  struct TRestoreCursor {
    TdtpDocument& d;
    ~TRestoreCursor() { d.ApplyCursor(d.m_ControlCursor); }
  } restore{*this};
  const std::vector<uint8_t> bytes = m_Storage->ReadStream(PagePartName(index + 1));
  if (bytes.empty()) return;
  xml::TXmlDocument doc;
  doc.Parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  page->LoadFromXml(doc.Root());
  page->RebuildAll();
}

float TdtpDocument::PageWidth() const {
  return CurrentPage() ? CurrentPage()->DocWidth() : 0;
}
float TdtpDocument::PageHeight() const {
  return CurrentPage() ? CurrentPage()->DocHeight() : 0;
}
void TdtpDocument::SetPageWidth(float w) {
  if (TdtpPage* p = CurrentPage()) p->SetDocWidth(w);
}
void TdtpDocument::SetPageHeight(float h) {
  if (TdtpPage* p = CurrentPage()) p->SetDocHeight(h);
}

void TdtpDocument::FirePageChanged(TdtpPage* page) {
  if (OnPageChanged) OnPageChanged(this, page);
}

// ---------------------------------------------------------------------------------------
// shapes of the current page

int TdtpDocument::ShapeCount() const {
  return CurrentPage() ? CurrentPage()->ShapeCount() : 0;
}

TdtpShape* TdtpDocument::Shapes(int index) const {
  return CurrentPage() ? CurrentPage()->Shapes(index) : nullptr;
}

int TdtpDocument::AddShape(std::unique_ptr<TdtpShape> shape) {
  TdtpPage* p = CurrentPage();
  if (!p) return -1;
  const int index = p->AddShape(std::move(shape));
  if (OnShapeListChanged) OnShapeListChanged(this);
  return index;
}

void TdtpDocument::InsertShapeAt(int index, std::unique_ptr<TdtpShape> shape) {
  TdtpPage* p = CurrentPage();
  if (!p) return;
  p->InsertShape(index, std::move(shape));
  if (OnShapeListChanged) OnShapeListChanged(this);
}

void TdtpDocument::DeleteShape(int index) {
  TdtpPage* p = CurrentPage();
  if (!p) return;
  if (TdtpShape* s = p->Shapes(index); s && m_FocusedShape == s) m_FocusedShape = nullptr;
  p->DeleteShape(index);
  if (OnShapeListChanged) OnShapeListChanged(this);
}

int TdtpDocument::RemoveShape(TdtpShape* shape) {
  TdtpPage* p = CurrentPage();
  if (!p) return -1;
  const int index = p->IndexOfShape(shape);
  DeleteShape(index);
  return index;
}

std::unique_ptr<TdtpShape> TdtpDocument::ExtractShape(TdtpShape* shape) {
  TdtpPage* p = CurrentPage();
  if (!p) return nullptr;
  if (m_FocusedShape == shape) m_FocusedShape = nullptr;
  auto out = p->ExtractShape(shape);
  if (OnShapeListChanged) OnShapeListChanged(this);
  return out;
}

void TdtpDocument::ExchangeShapes(int i, int j) {
  TdtpPage* p = CurrentPage();
  if (!p) return;
  p->ExchangeShapes(i, j);
  if (OnShapeListChanged) OnShapeListChanged(this);
}

// ---------------------------------------------------------------------------------------
// selection

std::vector<TdtpShape*> TdtpDocument::Selection() const {
  std::vector<TdtpShape*> out;
  for (int i = 0; i < ShapeCount(); ++i)
    if (Shapes(i)->Selected()) out.push_back(Shapes(i));
  return out;
}

int TdtpDocument::SelectedCount() const {
  return static_cast<int>(Selection().size());
}

TdtpShape* TdtpDocument::SelectedShapes(int n) const {
  const auto sel = Selection();
  if (n < 0 || n >= static_cast<int>(sel.size())) return nullptr;
  return sel[static_cast<size_t>(n)];
}

void TdtpDocument::ClearSelection() {
  TUpdateGuard update(*this);
  for (int i = 0; i < ShapeCount(); ++i) Shapes(i)->SetSelected(false);
}

void TdtpDocument::ToggleSelection(TdtpShape* shape) {
  if (!shape) return;
  shape->SetSelected(!shape->Selected());
  if (shape->Selected()) SetFocusShape(shape);
}

TdtpShape* TdtpDocument::FocusedShape() const {
  if (!m_FocusedShape || !CurrentPage()) return nullptr;
  return CurrentPage()->IndexOfShape(m_FocusedShape) >= 0 ? m_FocusedShape : nullptr;
}

void TdtpDocument::SetFocusShape(TdtpShape* shape) {
  if (shape == m_FocusedShape) return;
  m_FocusedShape = shape;
  if (m_UpdateCount > 0) {
    m_PendingFocusShape = true;
    return;
  }
  if (OnFocusShape) OnFocusShape(this, FocusedShape());
}

// ---------------------------------------------------------------------------------------
// alignment and z-order

template <class Edge, class Target> void TdtpDocument::AlignEdges(Edge edge, Target target) {
  CheckBusy();
  TUndoGuard undo(*this);
  const auto sel = Selection();
  if (sel.empty()) return;
  const float value = edge(sel);
  for (TdtpShape* s : sel) target(s, value);
}

void TdtpDocument::AlignLefts() {
  AlignEdges(
      [this](const std::vector<TdtpShape*>& sel) {
        float l = PageWidth();
        for (auto* s : sel) l = std::min(l, s->BoxLeft());
        return l;
      },
      [](TdtpShape* s, float v) { s->SetBoxLeft(v); });
}

void TdtpDocument::AlignTops() {
  AlignEdges(
      [this](const std::vector<TdtpShape*>& sel) {
        float t = PageHeight();
        for (auto* s : sel) t = std::min(t, s->BoxTop());
        return t;
      },
      [](TdtpShape* s, float v) { s->SetBoxTop(v); });
}

void TdtpDocument::AlignRights() {
  AlignEdges(
      [](const std::vector<TdtpShape*>& sel) {
        float r = 0;
        for (auto* s : sel) r = std::max(r, s->BoxRight());
        return r;
      },
      [](TdtpShape* s, float v) { s->SetBoxRight(v); });
}

void TdtpDocument::AlignBottoms() {
  AlignEdges(
      [](const std::vector<TdtpShape*>& sel) {
        float b = 0;
        for (auto* s : sel) b = std::max(b, s->BoxBottom());
        return b;
      },
      [](TdtpShape* s, float v) { s->SetBoxBottom(v); });
}

void TdtpDocument::CenterHorizontally() {
  AlignEdges(
      [this](const std::vector<TdtpShape*>& sel) {
        float l = PageWidth(), r = 0;
        for (auto* s : sel) {
          l = std::min(l, s->BoxLeft());
          r = std::max(r, s->BoxRight());
        }
        return (l + r) / 2;
      },
      [](TdtpShape* s, float c) { s->SetBoxLeft(c - (s->BoxRight() - s->BoxLeft()) / 2); });
}

void TdtpDocument::CenterVertically() {
  AlignEdges(
      [this](const std::vector<TdtpShape*>& sel) {
        float t = PageHeight(), b = 0;
        for (auto* s : sel) {
          t = std::min(t, s->BoxTop());
          b = std::max(b, s->BoxBottom());
        }
        return (t + b) / 2;
      },
      [](TdtpShape* s, float c) { s->SetBoxTop(c - (s->BoxBottom() - s->BoxTop()) / 2); });
}

void TdtpDocument::SendBackward() {
  CheckBusy();
  for (int i = 1; i < ShapeCount(); ++i)
    if (!Shapes(i - 1)->Selected() && Shapes(i)->Selected()) ExchangeShapes(i - 1, i);
}

void TdtpDocument::BringForward() {
  CheckBusy();
  for (int i = ShapeCount() - 2; i >= 0; --i)
    if (!Shapes(i + 1)->Selected() && Shapes(i)->Selected()) ExchangeShapes(i, i + 1);
}

void TdtpDocument::SendToBack() {
  CheckBusy();
  TdtpPage* p = CurrentPage();
  if (!p) return;
  const auto sel = Selection();
  int k = 0;
  for (TdtpShape* s : sel) {
    const bool selected = s->Selected();
    auto owned = p->ExtractShape(s);
    p->InsertShape(k++, std::move(owned));
    s->SetSelected(selected);
  }
  if (!sel.empty() && OnShapeListChanged) OnShapeListChanged(this);
}

void TdtpDocument::BringToFront() {
  CheckBusy();
  TdtpPage* p = CurrentPage();
  if (!p) return;
  auto sel = Selection();
  std::reverse(sel.begin(), sel.end());
  int k = ShapeCount() - 1;
  for (TdtpShape* s : sel) {
    const bool selected = s->Selected();
    auto owned = p->ExtractShape(s);
    p->InsertShape(k--, std::move(owned));
    s->SetSelected(selected);
  }
  if (!sel.empty() && OnShapeListChanged) OnShapeListChanged(this);
}

// ---------------------------------------------------------------------------------------
// state

void TdtpDocument::SetModified(bool value) {
  m_LastModifiedTick = TickCount();
  if (value == m_Modified) return;
  m_Modified = value;
  if (!value)
    for (auto& p : m_Pages) p->SetModified(false);
}

void TdtpDocument::DocumentChanged() {
  SetModified(true);
  if (OnDocumentChanged) OnDocumentChanged(this);
}

TFloatPoint TdtpDocument::DocToScreen(TFloatPoint p) const {
  return {(p.X - m_WindowLeft) * m_ScreenDpm, (p.Y - m_WindowTop) * m_ScreenDpm};
}

TFloatPoint TdtpDocument::ScreenToDoc(TFloatPoint p) const {
  return {p.X / m_ScreenDpm + m_WindowLeft, p.Y / m_ScreenDpm + m_WindowTop};
}

void TdtpDocument::SetScreenDpm(float dpm) {
  if (dpm == m_ScreenDpm) return;
  m_ScreenDpm = dpm;
  if (m_RenderAtScreenRes) SetRenderDpm(dpm);
  if (!IsPrinting()) Repaint();
}

void TdtpDocument::SetVirtualArea(float x, float y, float w, float h) {
  if (x == m_ScrollX && y == m_ScrollY && w == m_VirtualWidth && h == m_VirtualHeight) return;
  m_ScrollX = x;
  m_ScrollY = y;
  m_VirtualWidth = w;
  m_VirtualHeight = h;
  if (m_Host) {
    const TPoint client = m_Host->ClientSize();
    const float biggest = std::max(w, h);
    const float scale = biggest > 30000 ? 30000 / biggest : 1;
    m_ScrollX = std::clamp(m_ScrollX, 0.0f, std::max(w - client.X, 0.0f));
    m_ScrollY = std::clamp(m_ScrollY, 0.0f, std::max(h - client.Y, 0.0f));
    const auto bar = [scale](float size, int clientSize, float pos) {
      TScrollBarInfo b;
      b.Range = static_cast<int>(std::nearbyint(size * scale));
      b.Page = static_cast<int>(std::nearbyint(clientSize * scale));
      b.Position = static_cast<int>(std::nearbyint(pos * scale));
      b.Enabled = size > clientSize;
      return b;
    };
    m_Host->SetScrollBars(bar(w, client.X, m_ScrollX), bar(h, client.Y, m_ScrollY));
  }
  m_WindowLeft = m_ScrollX / m_ScreenDpm;
  m_WindowTop = m_ScrollY / m_ScreenDpm;
  if (OnUpdateScrollPosition) OnUpdateScrollPosition(this);
}

void TdtpDocument::UpdateScrollRange() {
  TdtpPage* page = CurrentPage();
  if (!page || m_InUpdateScrollRange) return;
  m_InUpdateScrollRange = true;
  struct TReset {
    bool& flag;
    ~TReset() { flag = false; }
  } reset{m_InUpdateScrollRange};
  if (m_ViewStyle == vsPrintLayout) {
    TFloatRect b = page->GetBoundingBox(false);
    SetVirtualArea(0, 0, b.Width() * m_ScreenDpm + 20, b.Height() * m_ScreenDpm + 20);
    page->SetViewOffset(10 / m_ScreenDpm, 10 / m_ScreenDpm);
  } else {
    page->SetViewOffset(0, 0);
    const TFloatRect b = page->GetBoundingBox(false);
    SetVirtualArea(0, 0, b.Width() * m_ScreenDpm, b.Height() * m_ScreenDpm);
  }
}

void TdtpDocument::Repaint() {
  if (m_Host && !IsLoading() && !IsPrinting()) m_Host->RepaintAll();
}

void TdtpDocument::RepaintShape(TdtpShape* shape) {
  if (!m_Host || !shape || IsLoading() || IsPrinting()) return;
  m_Host->Repaint(shape->GetScreenBounds());
}

// ---------------------------------------------------------------------------------------
// brackets

void TdtpDocument::BeginUpdate() {
  ++m_UpdateCount;
}

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
    if (OnFocusShape) OnFocusShape(this, FocusedShape());
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

void TdtpDocument::BeginBusy(int cursor) {
  ApplyCursor(cursor);
  ++m_BusyCount;
}

void TdtpDocument::EndBusy() {
  --m_BusyCount;
  if (m_BusyCount == 0) ApplyCursor(m_ControlCursor);
}

void TdtpDocument::CheckBusy() const {
  if (IsBusy()) throw EDtpError(kBusyMessage);
}

void TdtpDocument::ApplyCursor(int cursor) {
  if (!m_Host) return;
  if (m_BusyCount == 0 || m_ControlCursor == crDefault ||
      (m_ControlCursor == crAppStart && cursor == crHourGlass))
    m_Host->SetCursor(cursor);
}

void TdtpDocument::EndPrinting() {
  --m_PrintingCount;
  if (m_PrintingCount < 0) {
    m_PrintingCount = 0;
    throw EDtpError("EndPrinting called more often than BeginPrinting");
  }
}

// ---------------------------------------------------------------------------------------
// undo lists

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
  // While redoing, the records the shapes file go back to the undo list; the rest of the
  // redo list must survive, and nothing is merged.
  if (!m_Redoing) {
    const TdtpCommand* p =
        (m_RedoList.empty() && !m_UndoList.empty()) ? m_UndoList.back().get() : nullptr;
    if (p && cmd->Kind == ckProperty && p->Kind == ckProperty && cmd->ID == p->ID &&
        cmd->Name == p->Name && cmd->Value == p->Value)
      return;
    m_RedoList.clear();
  }
  m_UndoSize += cmd->Size();
  m_UndoList.push_back(std::move(cmd));
  while (m_UndoSize > kUndoBudget && !m_UndoList.empty()) {
    m_UndoSize -= m_UndoList.front()->Size();
    m_UndoList.pop_front();
  }
  // A trimmed list must not start in the middle of a group.
  if (!m_UndoList.empty()) m_UndoList.front()->Grouped = false;
}

void TdtpDocument::AddRedo(TdtpCommandPtr cmd) {
  if (!IsRecordingRedo() || !cmd) return;
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

bool TdtpDocument::ExecuteCommand(const TdtpCommand& cmd) {
  if (cmd.ID == 0) return false;
  if (TdtpPage* page = CurrentPage()) {
    for (int i = 0; i < page->ShapeCount(); ++i)
      if (page->Shapes(i)->ExecuteCommand(cmd)) return true;
  }
  for (int i = 0; i < PageCount(); ++i)
    if (Pages(i)->ExecuteCommand(cmd)) return true;
  if (m_Host) m_Host->MessageBox("Unable to execute Undo");
  return false;
}

bool TdtpDocument::RunGroup(std::deque<TdtpCommandPtr>& from) {
  // The newest group: the last record that starts a group and every record after it.
  size_t start = from.size();
  while (start > 0) {
    --start;
    if (!from[start]->Grouped) break;
  }
  std::vector<TdtpCommandPtr> group;
  for (size_t i = start; i < from.size(); ++i) group.push_back(std::move(from[i]));
  from.erase(from.begin() + static_cast<std::ptrdiff_t>(start), from.end());
  if (&from == &m_UndoList)
    for (const auto& c : group) m_UndoSize -= c->Size();
  bool allFound = true;
  {
    TUndoGuard bracket(*this);
    for (auto it = group.rbegin(); it != group.rend(); ++it)
      allFound = ExecuteCommand(**it) && allFound;
  }
  return allFound;
}

bool TdtpDocument::Undo() {
  CheckBusy();
  if (m_UndoList.empty()) return false;
  ++m_UndoExecuting;
  m_RecordingRedo = true;
  struct TRestore {
    TdtpDocument& d;
    ~TRestore() {
      --d.m_UndoExecuting;
      d.m_RecordingRedo = false;
    }
  } restore{*this};
  return RunGroup(m_UndoList);
}

bool TdtpDocument::Redo() {
  CheckBusy();
  if (m_RedoList.empty()) return false;
  m_Redoing = true;
  struct TRestore {
    TdtpDocument& d;
    ~TRestore() { d.m_Redoing = false; }
  } restore{*this};
  return RunGroup(m_RedoList);
}

std::unique_ptr<TdtpHandlePainter> TdtpDocument::CreateHandlePainter(TdtpShape* shape) {
  std::unique_ptr<TdtpHandlePainter> painter;
  switch (m_HandlePainter) {
  case hpStippleHandle:
    painter = std::make_unique<TdtpHandlePainter>(shape);
    break;
  case hpW2K3Handle:
    painter = std::make_unique<TdtpW2K3HandlePainter>(shape);
    break;
  case hpCustomHandle:
    if (OnCreateHandlePainter) OnCreateHandlePainter(this, shape, painter);
    break;
  }
  return painter;
}

// ---------------------------------------------------------------------------------------
// clipboard

std::string TdtpDocument::SelectionToXml() const {
  const auto sel = Selection();
  if (sel.empty()) return {};
  xml::TXmlDocument doc;
  xml::TXmlNode root = doc.CreateRoot("Selection");
  for (const TdtpShape* s : sel) {
    xml::TXmlNode element = root.AddChild("shape");
    element.SetBinaryValue(s->SaveToString());
    element.AddChild("ClassName").SetValue(s->ClassName());
  }
  return doc.WriteIndented();
}

int TdtpDocument::PasteFromXml(const std::string& text) {
  TdtpPage* page = CurrentPage();
  if (!page) return 0;
  xml::TXmlDocument doc;
  try {
    doc.Parse(text);
  } catch (const std::exception&) {
    return 0;
  }
  xml::TXmlNode root = doc.Root();
  if (root.Name() != "Selection" || root.Elements().empty()) return 0;
  ClearSelection();
  int count = 0;
  for (const xml::TXmlNode element : root.Elements("shape")) {
    const int index = page->AddShape(CreateShape(element.ReadString("ClassName")));
    TdtpShape* shape = page->Shapes(index);
    try {
      shape->LoadFromString(element.BinaryValue());
    } catch (const std::exception&) {
      // Damaged clipboard data: drop that shape, keep the others.
      page->DeleteShape(page->IndexOfShape(shape));
      continue;
    }
    shape->Pasted();
    shape->RebuildAll();
    shape->SetSelected(true);
    ++count;
  }
  if (OnShapeListChanged) OnShapeListChanged(this);
  return count;
}

std::string TdtpDocument::ClipboardContent() const {
  if (m_UseClipboard && m_Host) return m_Host->ClipboardText();
  return m_ClipboardText;
}

void TdtpDocument::CopySelection() {
  CheckBusy();
  if (!HasSelection()) return;
  {
    TUndoGuard undo(*this);
    const std::string text = SelectionToXml();
    if (m_UseClipboard && m_Host)
      m_Host->SetClipboardText(text);
    else
      m_ClipboardText = text;
  }
  m_ClipboardSourcePage = CurrentPage();
}

void TdtpDocument::CutSelection() {
  CheckBusy();
  {
    TUndoGuard undo(*this);
    CopySelection();
    DeleteSelection();
  }
  m_ClipboardSourcePage = nullptr;
}

void TdtpDocument::DeleteSelection() {
  CheckBusy();
  TUpdateGuard update(*this);
  for (int i = ShapeCount() - 1; i >= 0; --i) {
    TdtpShape* s = Shapes(i);
    if (s && s->Selected() && s->AllowDelete()) DeleteShape(i);
  }
}

void TdtpDocument::Paste() {
  CheckBusy();
  TUndoGuard undo(*this);
  const int n = PasteFromXml(ClipboardContent());
  if (n <= 0) return;
  if (CurrentPage() == m_ClipboardSourcePage) {
    for (TdtpShape* s : Selection()) {
      const TFloatPoint d = s->GetPasteOffset();
      s->SetPosition(s->DocLeft() + d.X, s->DocTop() + d.Y);
    }
  }
  m_ClipboardSourcePage = CurrentPage();
  CopySelection();
}

bool TdtpDocument::CanPaste() const {
  if (!m_UseClipboard || !m_Host) return !m_ClipboardText.empty();
  return m_Host->ClipboardText().rfind("<?xml", 0) == 0;
}

// ---------------------------------------------------------------------------------------
// what shapes report

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

// ---------------------------------------------------------------------------------------
// setters

void TdtpDocument::MarkDefaultThumbnailsDirty() {
  for (auto& p : m_Pages)
    if (p->IsDefaultPage()) p->SetThumbnailDirty(true);
}

void TdtpDocument::SetColor(TColor c) {
  if (c == m_Color) return;
  m_Color = c;
  Repaint();
}

void TdtpDocument::SetDefaultBackgroundTiled(bool v) {
  if (v == m_DefaultBackgroundTiled) return;
  m_DefaultBackgroundTiled = v;
  MarkDefaultThumbnailsDirty();
  DocumentChanged();
  Repaint();
}

void TdtpDocument::SetDefaultPageColor(TColor c) {
  if (c == m_DefaultPageColor) return;
  m_DefaultPageColor = c;
  MarkDefaultThumbnailsDirty();
  DocumentChanged();
  Repaint();
}

TBitmap32* TdtpDocument::DefaultBackground() const {
  try {
    TLockedBitmap picture(m_DefaultBgrImage.get());
    return picture.get();
  } catch (const std::exception&) {
    return nullptr;
  }
}

void TdtpDocument::SetDefaultBackground(const TBitmap32* bitmap) {
  m_DefaultBgrImage->SetBitmap(bitmap);
  // Clearing a picture that was never decoded reports no change of its own.
  if (!bitmap) DefaultBgrChanged();
}

void TdtpDocument::DefaultBgrChanged() {
  DocumentChanged();
  MarkDefaultThumbnailsDirty();
  Repaint();
}

void TdtpDocument::SetDefaultGridColor(TColor c) {
  if (c == m_DefaultGridColor) return;
  m_DefaultGridColor = c;
  DocumentChanged();
  Repaint();
}

namespace {
template <class T> bool StoreIfChanged(T& field, T v) {
  if (field == v) return false;
  field = v;
  return true;
}
} // namespace

void TdtpDocument::SetDefaultGridSize(float v) {
  if (!StoreIfChanged(m_DefaultGridSize, v)) return;
  DocumentChanged();
  Repaint();
}
void TdtpDocument::SetDefaultMarginLeft(float v) {
  if (!StoreIfChanged(m_DefaultMarginLeft, v)) return;
  DocumentChanged();
  Repaint();
}
void TdtpDocument::SetDefaultMarginTop(float v) {
  if (!StoreIfChanged(m_DefaultMarginTop, v)) return;
  DocumentChanged();
  Repaint();
}
void TdtpDocument::SetDefaultMarginRight(float v) {
  if (!StoreIfChanged(m_DefaultMarginRight, v)) return;
  DocumentChanged();
  Repaint();
}
void TdtpDocument::SetDefaultMarginBottom(float v) {
  if (!StoreIfChanged(m_DefaultMarginBottom, v)) return;
  DocumentChanged();
  Repaint();
}

void TdtpDocument::SetDefaultPageWidth(float v) {
  if (!StoreIfChanged(m_DefaultPageWidth, v)) return;
  for (auto& p : m_Pages)
    if (p->IsDefaultPage()) p->SetDocWidth(v);
  DocumentChanged();
  Repaint();
}

void TdtpDocument::SetDefaultPageHeight(float v) {
  if (!StoreIfChanged(m_DefaultPageHeight, v)) return;
  for (auto& p : m_Pages)
    if (p->IsDefaultPage()) p->SetDocHeight(v);
  DocumentChanged();
  Repaint();
}

float TdtpDocument::PrinterDpm() const {
  switch (m_PrintQuality) {
  case pqLow:
    return kDpm150;
  case pqMedium:
    return kDpm300;
  case pqHigh:
    return kDpm600;
  default:
    return 0;
  }
}

void TdtpDocument::SetHitSensitivity(float v) {
  if (v == m_HitSensitivity) return;
  m_HitSensitivity = v;
  BuildHitOffsets();
}

void TdtpDocument::BuildHitOffsets() {
  const int n = std::max(2, static_cast<int>(std::nearbyint(m_HitSensitivity * 4)));
  const int d = static_cast<int>(std::nearbyint(n * 0.71));
  m_HitOffsets = {{0, 0}};
  for (int k = n; k >= 1; --k)
    m_HitOffsets.insert(m_HitOffsets.end(), {{k, 0}, {-k, 0}, {0, k}, {0, -k}});
  m_HitOffsets.insert(m_HitOffsets.end(), {{d, d}, {-d, d}, {d, -d}, {-d, -d}});
}

void TdtpDocument::SetHelperMethod(TdtpHelperMethodType m) {
  if (m == m_HelperMethod) return;
  m_HelperMethod = m;
  Repaint();
}

void TdtpDocument::SetQuality(TStretchFilter q) {
  if (q == m_Quality) return;
  m_Quality = q;
  Repaint();
}

void TdtpDocument::SetMode(TdtpViewerModeType m) {
  if (m == m_Mode) return;
  ClearSelection();
  LeaveEditing();
  if (m == vmEdit && m_ReadOnly) return;
  m_Mode = m;
}

void TdtpDocument::SetReadOnly(bool v) {
  m_ReadOnly = v;
  if (!v) return;
  ClearSelection();
  LeaveEditing();
  if (m_Mode == vmEdit) m_Mode = vmBrowse;
}

void TdtpDocument::SetRenderDpm(float dpm) {
  if (dpm == m_RenderDpm) return;
  m_RenderDpm = dpm;
  if (TdtpPage* p = CurrentPage()) {
    p->FreeCaches();
    p->RebuildAll();
  }
}

void TdtpDocument::SetRenderAtScreenRes(bool v) {
  m_RenderAtScreenRes = v;
  SetRenderDpm(m_ScreenDpm);
}

void TdtpDocument::SetShowMargins(bool v) {
  if (v == m_ShowMargins) return;
  m_ShowMargins = v;
  Repaint();
}

void TdtpDocument::SetThumbnailWidth(int w) {
  if (w == m_ThumbnailWidth) return;
  m_ThumbnailWidth = w;
  for (auto& p : m_Pages) p->SetThumbnailDirty(true);
}

void TdtpDocument::SetThumbnailHeight(int h) {
  if (h == m_ThumbnailHeight) return;
  m_ThumbnailHeight = h;
  for (auto& p : m_Pages) p->SetThumbnailDirty(true);
}

void TdtpDocument::SetUseClipboard(bool v) {
  m_UseClipboard = v;
  if (v) m_ClipboardText.clear();
}

void TdtpDocument::SetViewStyle(TdtpViewStyleType v) {
  if (v == m_ViewStyle) return;
  m_ViewStyle = v;
  UpdateScrollRange();
  Repaint();
}

// ---------------------------------------------------------------------------------------
// the animate timer

void TdtpDocument::AnimateTimerTick() {
  if (m_InAnimate) return;
  m_InAnimate = true;
  struct TReset {
    bool& flag;
    ~TReset() { flag = false; }
  } reset{m_InAnimate};

  if (m_AutoPageUpdate && CurrentPage()) {
    const uint32_t now = TickCount();
    if (IsInteracting()) m_LastModifiedTick = now;
    const int64_t quiet = std::llabs(static_cast<int64_t>(now) - m_LastModifiedTick);
    if (quiet >= m_PageUpdateInterval) {
      for (int i = 0; i < PageCount(); ++i) {
        TdtpPage* p = Pages(i);
        if (!p || !p->ThumbnailDirty()) continue;
        p->UpdateThumbnail();
        if (m_Host) m_Host->ProcessPendingMessages();
      }
    }
  }
  if (OnAnimate) OnAnimate(this);
  if (TdtpPage* p = CurrentPage())
    for (int i = 0; i < p->ShapeCount(); ++i) p->Shapes(i)->Animate();
}

} // namespace dtp
