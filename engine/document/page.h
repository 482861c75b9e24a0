#pragma once
// One page of a document: a shape whose children are the page's shapes, with a paper size,
// margins, a colour, a background picture, a grid, a title and a thumbnail. A default page
// takes its settings from the document's page defaults.

#include <memory>
#include <string>

#include "engine/persistence/resource.h"
#include "engine/shapes/shape.h"
#include "platform/raster/bitmap32.h"

namespace dtp {

class IPrinter;

class TdtpPage : public TdtpShape {
public:
  TdtpPage();
  ~TdtpPage() override;

  static std::string StaticClassName() { return "TdtpPage"; }
  std::string ClassName() const override { return StaticClassName(); }

  // --- page-specific operations -------------------------------------------------------
  // Stores a position without any notification (the view places the current page).
  virtual void SetViewOffset(float x, float y);
  // Reads the page's content from the card when it has not been read yet.
  virtual void EnsureLoaded();
  // Regenerates the thumbnail and tells the document the page changed.
  virtual void UpdateThumbnail();

  // --- effective settings (the document's defaults for a default page) ----------------
  float MarginLeft();
  float MarginTop();
  float MarginRight();
  float MarginBottom();
  float GridSize();
  TColor GridColor();
  TColor PageColor();
  bool BackgroundTiled();
  // Helper method, margin display and view style come from the document only.
  int HelperMethod() const;
  bool ShowMargins() const;
  int ViewStyle() const;

  void SetMarginLeft(float v);
  void SetMarginTop(float v);
  void SetMarginRight(float v);
  void SetMarginBottom(float v);
  void SetGridSize(float v);
  void SetGridColor(TColor v);
  void SetPageColor(TColor v);
  void SetBackgroundTiled(bool v);

  bool IsDefaultPage() const { return m_IsDefaultPage; }
  void SetIsDefaultPage(bool v);

  float PageWidth() const { return m_DocWidth; }
  float PageHeight() const { return m_DocHeight; }
  void SetPageWidth(float w) { SetDocWidth(w); }
  void SetPageHeight(float h) { SetDocHeight(h); }

  bool ContentLoaded() const { return m_ContentLoaded; }
  void SetContentLoaded(bool v) { m_ContentLoaded = v; }

  // "Page %d" with the 1-based index when the page has no name.
  std::string Title() const;
  // Position in the document's page list, −1 without a document.
  int Index() const;

  // --- thumbnail ----------------------------------------------------------------------
  // The cached preview, regenerated when dirty; none without a document.
  const TBitmap32* Thumbnail();
  void SetThumbnail(const TBitmap32* bitmap);
  bool ThumbnailDirty() const { return m_ThumbnailDirty; }
  void SetThumbnailDirty(bool v) { m_ThumbnailDirty = v; }
  bool HasThumbnail() const { return m_Thumbnail != nullptr; }

  // --- background picture -------------------------------------------------------------
  // The page's own background picture. A default page shows the document's instead.
  TdtpBitmapResource& BackgroundImage() { return *m_BackgroundImage; }
  // The resource the page shows: the document's default one for a default page.
  TdtpBitmapResource* EffectiveBackgroundImage();
  // The effective picture, decoded, held locked for the lifetime of the handle so that the
  // resource thread cannot unload it meanwhile; empty when there is none or it does not
  // decode (the decoder's message is then reported once through OnLoadError).
  TLockedBitmap LockedBackgroundBitmap();
  // The effective picture without the lock: valid only while nothing can unload it (the
  // resource thread is not running, or the caller holds the resource lock).
  TBitmap32* BackgroundBitmap();
  // Makes the page independent of the defaults and gives it a copy of the picture as its
  // own background (kept in the page XML); none clears the own picture.
  void SetBackgroundImage(const TBitmap32* bitmap);

  // --- painting and printing ---------------------------------------------------------
  // Prints the page onto a device rectangle, turned by `rotation` quarter turns
  // counter-clockwise and mirrored as asked, at `dpm` (0: the scale that fits).
  virtual void PrintTo(IPrinter& printer, const TRect& rect, bool mirrorH, bool mirrorV,
                       int rotation, float dpm);
  virtual void PrintTo150(IPrinter& printer, const TRect& rect, bool mirrorH, bool mirrorV,
                          int rotation);
  // Draws the whole page into a rectangle of any bitmap (thumbnails), caching at most at
  // `maxDpm`; with `fit` scaled to fit and centred.
  void DrawTo(TBitmap32& target, const TRect& rect, float maxDpm, bool fit);
  void Paint(TBitmap32& bitmap, const TDeviceContext& context) override;
  void AfterPaint(TBitmap32& bitmap, const TDeviceContext& context) override;

  // --- overridden shape operations ----------------------------------------------------
  TFloatPoint SnapPoint(TFloatPoint p) const override;
  void GetResourceNames(std::vector<std::string>& list) const override;
  void SetDocument(TdtpDocument* doc) override;
  void SetModified(bool flag) override;
  void SetBoundsAndAngle(float x, float y, float w, float h, float a) override;
  void LoadFromXml(xml::TXmlNode node) override;
  void SaveToXml(xml::TXmlNode node) const override;
  std::string GetDisplayName() const override { return Title(); }

private:
  // The settings a non-loaded page reports still come from its stored content.
  bool UsesDefaults();
  void SetOwnFloat(float& field, float effective, float v);
  void ReadBackgroundImage(xml::TXmlNode node);
  // Makes the page independent of the document's defaults, starting from their current
  // values; with copyBackground the default picture becomes the page's own too.
  void LeaveDefaults(bool copyBackground);

  bool m_IsDefaultPage = true;
  float m_MarginLeft = 10, m_MarginTop = 10, m_MarginRight = 10, m_MarginBottom = 10;
  float m_GridSize = 5;
  TColor m_GridColor = 0xFFFFC0;
  TColor m_PageColor = 0xFFFFFF;
  bool m_BackgroundTiled = false;
  bool m_ContentLoaded = true;
  std::unique_ptr<TBitmap32> m_Thumbnail;
  std::unique_ptr<TdtpBitmapResource> m_BackgroundImage;
  bool m_BackgroundErrorReported = false;
  bool m_ThumbnailDirty = false;
};

} // namespace dtp
