#include "engine/document/page.h"

#include <algorithm>
#include <cmath>

#include "engine/document/document.h"
#include "platform/core/errors.h"
#include "platform/core/numeric.h"

namespace dtp {

TdtpPage::TdtpPage() {
  m_CurbLeft = 0;
  m_CurbTop = 0;
  m_CurbRight = 1;
  m_CurbBottom = 1;
  UpdateMargins();
  m_DocWidth = 210;
  m_DocHeight = 297;
  m_BackgroundImage = std::make_unique<TdtpBitmapResource>();
  // A picture loaded from a file is the page's own: the page leaves the defaults.
  m_BackgroundImage->OnChange = [this](TdtpResource*) {
    // The resource has just received its new content: copying the default picture into
    // it now would replace that content.
    LeaveDefaults(false);
    Changed();
  };
  m_BackgroundImage->OnObjectChange = [this](TdtpResource*) {
    m_BackgroundErrorReported = false;
    Rebuild();
    Invalidate();
    Changed();
  };
}

TdtpPage::~TdtpPage() = default;

void TdtpPage::SetViewOffset(float x, float y) {
  m_DocLeft = x;
  m_DocTop = y;
}

void TdtpPage::EnsureLoaded() {
  if (m_ContentLoaded || !m_Document) return;
  m_Document->LoadPage(Index());
}

bool TdtpPage::UsesDefaults() {
  EnsureLoaded();
  return m_IsDefaultPage && m_Document;
}

float TdtpPage::MarginLeft() {
  return UsesDefaults() ? m_Document->DefaultMarginLeft() : m_MarginLeft;
}
float TdtpPage::MarginTop() {
  return UsesDefaults() ? m_Document->DefaultMarginTop() : m_MarginTop;
}
float TdtpPage::MarginRight() {
  return UsesDefaults() ? m_Document->DefaultMarginRight() : m_MarginRight;
}
float TdtpPage::MarginBottom() {
  return UsesDefaults() ? m_Document->DefaultMarginBottom() : m_MarginBottom;
}
float TdtpPage::GridSize() {
  return UsesDefaults() ? m_Document->DefaultGridSize() : m_GridSize;
}
TColor TdtpPage::GridColor() {
  return UsesDefaults() ? m_Document->DefaultGridColor() : m_GridColor;
}
TColor TdtpPage::PageColor() {
  return UsesDefaults() ? m_Document->DefaultPageColor() : m_PageColor;
}
bool TdtpPage::BackgroundTiled() {
  return UsesDefaults() ? m_Document->DefaultBackgroundTiled() : m_BackgroundTiled;
}

TdtpBitmapResource* TdtpPage::EffectiveBackgroundImage() {
  return UsesDefaults() ? &m_Document->DefaultBgrImage() : m_BackgroundImage.get();
}

TLockedBitmap TdtpPage::LockedBackgroundBitmap() {
  TdtpBitmapResource* resource = EffectiveBackgroundImage();
  try {
    return TLockedBitmap(resource);
  } catch (const std::exception& e) {
    // A picture that does not decode is left out of the painting; the reason is told once.
    if (!m_BackgroundErrorReported) {
      m_BackgroundErrorReported = true;
      ReportError(e.what());
    }
    return {};
  }
}

TBitmap32* TdtpPage::BackgroundBitmap() {
  TLockedBitmap picture = LockedBackgroundBitmap();
  return picture.get();
}

void TdtpPage::SetBackgroundImage(const TBitmap32* bitmap) {
  LeaveDefaults(false);
  m_BackgroundImage->SetBitmap(bitmap);
  Invalidate();
  Changed();
}

int TdtpPage::HelperMethod() const {
  return m_Document ? m_Document->HelperMethod() : hmNone;
}
bool TdtpPage::ShowMargins() const {
  return m_Document && m_Document->ShowMargins();
}
int TdtpPage::ViewStyle() const {
  return m_Document ? m_Document->ViewStyle() : vsNormal;
}

void TdtpPage::SetOwnFloat(float& field, float effective, float v) {
  if (v == effective) return;
  SetIsDefaultPage(false);
  field = v;
  Rebuild();
  Invalidate();
  Changed();
}

void TdtpPage::SetMarginLeft(float v) {
  SetOwnFloat(m_MarginLeft, MarginLeft(), v);
}
void TdtpPage::SetMarginTop(float v) {
  SetOwnFloat(m_MarginTop, MarginTop(), v);
}
void TdtpPage::SetMarginRight(float v) {
  SetOwnFloat(m_MarginRight, MarginRight(), v);
}
void TdtpPage::SetMarginBottom(float v) {
  SetOwnFloat(m_MarginBottom, MarginBottom(), v);
}
void TdtpPage::SetGridSize(float v) {
  SetOwnFloat(m_GridSize, GridSize(), v);
}

void TdtpPage::SetGridColor(TColor v) {
  if (v == GridColor()) return;
  SetIsDefaultPage(false);
  m_GridColor = v;
  Invalidate();
  Changed();
}

void TdtpPage::SetPageColor(TColor v) {
  if (v == PageColor()) return;
  SetIsDefaultPage(false);
  m_PageColor = v;
  Invalidate();
  Changed();
}

void TdtpPage::SetBackgroundTiled(bool v) {
  if (v == BackgroundTiled()) return;
  SetIsDefaultPage(false);
  m_BackgroundTiled = v;
  Invalidate();
  Changed();
}

void TdtpPage::SetIsDefaultPage(bool v) {
  if (!v) {
    LeaveDefaults(true);
    return;
  }
  m_IsDefaultPage = true;
}

void TdtpPage::LeaveDefaults(bool copyBackground) {
  if (!m_IsDefaultPage) return;
  if (m_Document) {
    // From now on the page is independent: it starts from the defaults of this moment.
    m_MarginLeft = m_Document->DefaultMarginLeft();
    m_MarginTop = m_Document->DefaultMarginTop();
    m_MarginRight = m_Document->DefaultMarginRight();
    m_MarginBottom = m_Document->DefaultMarginBottom();
    m_GridColor = m_Document->DefaultGridColor();
    m_GridSize = m_Document->DefaultGridSize();
    m_PageColor = m_Document->DefaultPageColor();
    m_BackgroundTiled = m_Document->DefaultBackgroundTiled();
    if (copyBackground) m_BackgroundImage->Assign(m_Document->DefaultBgrImage());
  }
  m_IsDefaultPage = false;
}

std::string TdtpPage::Title() const {
  if (!m_Name.empty()) return m_Name;
  return "Page " + std::to_string(Index() + 1);
}

int TdtpPage::Index() const {
  return m_Document ? m_Document->IndexOfPage(this) : -1;
}

TFloatPoint TdtpPage::SnapPoint(TFloatPoint p) const {
  // Reading the grid may load the page's content; that does not change what it is.
  const float g = const_cast<TdtpPage*>(this)->GridSize();
  if (!(g > 0)) return p;
  return {static_cast<float>(Round(p.X / g) * g), static_cast<float>(Round(p.Y / g) * g)};
}

void TdtpPage::SetDocument(TdtpDocument* doc) {
  TdtpShape::SetDocument(doc);
  m_BackgroundImage->SetDocument(doc);
}

void TdtpPage::GetResourceNames(std::vector<std::string>& list) const {
  TdtpShape::GetResourceNames(list);
  // A picture not yet written has no part name; a copy of the page needs both.
  if (m_BackgroundImage->Storage() == rsArchive) m_BackgroundImage->FlushData();
  m_BackgroundImage->GetResourceNames(list);
}

void TdtpPage::SetModified(bool flag) {
  TdtpShape::SetModified(flag);
  if (flag) m_ThumbnailDirty = true;
}

void TdtpPage::SetBoundsAndAngle(float x, float y, float w, float h, float a) {
  TdtpShape::SetBoundsAndAngle(x, y, w, h, a);
  if (m_Document && m_Document->CurrentPage() == this && !m_Document->IsPrinting())
    m_Document->UpdateScrollRange();
}

// ---------------------------------------------------------------------------------------
// thumbnail

const TBitmap32* TdtpPage::Thumbnail() {
  if (m_Thumbnail && !m_ThumbnailDirty) return m_Thumbnail.get();
  m_Thumbnail.reset();
  m_ThumbnailDirty = false;
  if (!m_Document) return nullptr;
  EnsureLoaded();
  const int w = std::max(1, m_Document->ThumbnailWidth());
  const int h = std::max(1, m_Document->ThumbnailHeight());
  auto bmp = std::make_unique<TBitmap32>(w, h);
  bmp->Clear(Color32FromColor(m_Document->Color()));
  if (w > 2 && h > 2) DrawTo(*bmp, {1, 1, w - 1, h - 1}, kDpm150, true);
  // The frame around the fitted page.
  if (m_DocWidth > 0 && m_DocHeight > 0) {
    const double s = std::min(double(h) / m_DocHeight, double(w) / m_DocWidth);
    const int fw = static_cast<int>(Round(s * m_DocWidth));
    const int fh = static_cast<int>(Round(s * m_DocHeight));
    const int left = (w - fw) / 2, top = (h - fh) / 2;
    const TColor32 black = 0xFF000000;
    bmp->FillRect(left, top, left + fw, top + 1, black);
    bmp->FillRect(left, top + fh - 1, left + fw, top + fh, black);
    bmp->FillRect(left, top, left + 1, top + fh, black);
    bmp->FillRect(left + fw - 1, top, left + fw, top + fh, black);
  }
  m_Thumbnail = std::move(bmp);
  m_ThumbnailDirty = false;
  return m_Thumbnail.get();
}

void TdtpPage::SetThumbnail(const TBitmap32* bitmap) {
  m_Thumbnail = bitmap ? std::make_unique<TBitmap32>(*bitmap) : nullptr;
  m_ThumbnailDirty = false;
}

void TdtpPage::UpdateThumbnail() {
  Thumbnail();
  if (m_Document && m_Document->OnPageChanged) m_Document->OnPageChanged(m_Document, this);
}

// ---------------------------------------------------------------------------------------
// persistence

void TdtpPage::SaveToXml(xml::TXmlNode node) const {
  node.WriteBool("IsDefaultPage", m_IsDefaultPage, true);
  if (!m_IsDefaultPage) {
    node.WriteFloat("MarginLeft", m_MarginLeft, 0);
    node.WriteFloat("MarginTop", m_MarginTop, 0);
    node.WriteFloat("MarginRight", m_MarginRight, 0);
    node.WriteFloat("MarginBottom", m_MarginBottom, 0);
    node.WriteFloat("GridSize", m_GridSize, 0);
    node.WriteColor("GridColor", m_GridColor, 0);
    // Always written: a black page (0) would otherwise read back as white.
    node.AddChild("PageColor").SetValue(xml::ColorToText(m_PageColor));
    node.WriteFloat("PageWidth", m_DocWidth, 0);
    node.WriteFloat("PageHeight", m_DocHeight, 0);
    if (m_BackgroundImage->HasContent())
      m_BackgroundImage->SaveToXml(node.AddChild("BackgroundImage"));
    node.WriteBool("BackgroundTiled", m_BackgroundTiled, false);
  }
  TdtpShape::SaveToXml(node);
}

void TdtpPage::LoadFromXml(xml::TXmlNode node) {
  TdtpShape::LoadFromXml(node);
  m_IsDefaultPage = node.ReadBool("IsDefaultPage", true);
  if (!m_IsDefaultPage) {
    const auto f = [&](const char* name) { return static_cast<float>(node.ReadFloat(name, 0)); };
    m_MarginLeft = f("MarginLeft");
    m_MarginTop = f("MarginTop");
    m_MarginRight = f("MarginRight");
    m_MarginBottom = f("MarginBottom");
    m_GridSize = f("GridSize");
    m_GridColor = node.ReadColor("GridColor", 0);
    m_PageColor = node.ReadColor("PageColor", 0xFFFFFF);
    // A missing size keeps the one the shape values gave; a page is never 0 mm wide.
    const float w = f("PageWidth"), h = f("PageHeight");
    TDisableUndoGuard quiet(m_Document);
    if (w > 0) SetPageWidth(w);
    if (h > 0) SetPageHeight(h);
    ReadBackgroundImage(node.FindChild("BackgroundImage"));
    m_BackgroundTiled = node.ReadBool("BackgroundTiled", false);
  }
  m_ThumbnailDirty = false;
}

// A picture that cannot be read leaves the page without it; the rest of the page loads and
// the reason goes to OnLoadError, as for a shape that cannot be read.
void TdtpPage::ReadBackgroundImage(xml::TXmlNode element) {
  TdtpBitmapResource& image = *m_BackgroundImage;
  m_BackgroundErrorReported = false;
  ReadPictureElement(element, image, [this](const std::string& m) { ReportError(m); });
}

} // namespace dtp
