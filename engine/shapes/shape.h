#pragma once
// The base of everything that stands on a page, and of the page itself: a rectangle in
// millimetres placed in its parent's frame, turned about its top-left corner, optionally
// mirrored and flipped, owning an ordered list of children that live in its own frame.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/shapes/command.h"
#include "engine/shapes/device_context.h"
#include "engine/shapes/handles.h"
#include "engine/shapes/transform.h"
#include "platform/core/geometry.h"
#include "platform/raster/bitmap32.h"
#include "platform/xml/xml.h"

namespace dtp {

class TdtpDocument;
class TdtpShape;
class TCanvas;

// A polygon of screen pixels; a pixel belongs to it when its centre lies inside by the
// even-odd rule.
struct TPolygonRegion {
  std::vector<TFloatPoint> Points;
  bool Contains(TPoint p) const;
  bool Empty() const { return Points.size() < 3; }
};

using Bytes = std::vector<uint8_t>;

// Bits of TdtpShape::Anchors: how a child follows its grouped parent's resize.
enum TShapeAnchor : uint16_t {
  saDefault = 0x001,
  saPosXProp = 0x002,
  saPosYProp = 0x004,
  saSizeXProp = 0x008,
  saSizeYProp = 0x010,
  saLeftLock = 0x020,
  saTopLock = 0x040,
  saRightLock = 0x080,
  saBottomLock = 0x100,
};
using TShapeAnchors = uint16_t;
constexpr TShapeAnchors kDefaultAnchors = saDefault | saLeftLock | saTopLock;

// Handle kinds of interactive dragging; 12 and above belong to subclasses.
enum THandleKind : int32_t {
  hkNone = 0,
  hkBody = 1,
  hkTopLeft = 2,
  hkLeft = 3,
  hkBottomLeft = 4,
  hkBottom = 5,
  hkBottomRight = 6,
  hkRight = 7,
  hkTopRight = 8,
  hkTop = 9,
  hkRotate = 10,
  hkPoint = 11,
  hkCustom = 12,
};

struct TFloatSizeConstraint {
  float MinHeight = 0;
  float MinWidth = 0;
  float MaxHeight = 0;
  float MaxWidth = 0;
};

using TNotifyEvent = std::function<void(TdtpShape* sender)>;

// The class registry: a shape class is its name and a factory.
struct TShapeClassHolder {
  std::string Name;
  std::function<std::unique_ptr<TdtpShape>()> Create;
};

// Appends the class unless a class of that name is listed. Returns the entry.
const TShapeClassHolder* RegisterShapeClass(std::string name,
                                            std::function<std::unique_ptr<TdtpShape>()> create);
template <class T> const TShapeClassHolder* RegisterShapeClass() {
  return RegisterShapeClass(T::StaticClassName(), [] { return std::make_unique<T>(); });
}
// Case-sensitive; an unknown name gives the entry of TdtpShape itself.
const TShapeClassHolder* FindShapeClass(std::string_view name);
std::unique_ptr<TdtpShape> CreateShape(std::string_view className);

class TdtpShape {
public:
  TdtpShape();
  virtual ~TdtpShape();
  TdtpShape(const TdtpShape&) = delete;
  TdtpShape& operator=(const TdtpShape&) = delete;

  static std::string StaticClassName() { return "TdtpShape"; }
  virtual std::string ClassName() const { return StaticClassName(); }

  // --- virtual operations -------------------------------------------------------------
  virtual void Assign(const TdtpShape& source);
  virtual int ShapeCount() const { return static_cast<int>(m_Shapes.size()); }
  virtual TdtpShape* Shapes(int i) const;
  virtual void SetDocHeight(float h);
  virtual void SetDocLeft(float x);
  virtual void SetDocTop(float y);
  virtual void SetDocWidth(float w);
  virtual void SetMasterAlpha(int a);
  virtual void GetResourceNames(std::vector<std::string>& list) const;
  virtual void RecordStyleUndo(uint8_t kind, const std::string& name, uint8_t style);
  virtual void RecordFloatUndo(uint8_t kind, const std::string& name, float value);
  virtual void RecordIntegerUndo(uint8_t kind, const std::string& name, int64_t value);
  virtual void RecordUndo(uint8_t kind, const std::string& name, const std::string& text);
  virtual void RecordBooleanUndo(uint8_t kind, const std::string& name, bool value);
  virtual void RecordShapeUndo(uint8_t kind, TdtpShape* child);
  virtual TFloatPoint SnapPoint(TFloatPoint p) const;
  virtual void AssignEvents(const TdtpShape& source);
  virtual void FreeCache();
  virtual bool ConstrainSize(float& w, float& h) const;
  virtual bool ConstrainPosition(float& x, float& y, float w, float h) const;
  virtual void DragCustomHandle(float& dx, float& dy, int kind, TFloatPoint delta, float& dAngle,
                                float& sy, float& sx);
  virtual void Changed();
  virtual void UpdateHandles();
  virtual void Pasted() {}
  virtual void Loaded() {}
  virtual void Animate() {}
  virtual void DblClick();
  virtual void EndEdit(bool /*flag*/) {}
  virtual void ReportError(const std::string& text);
  virtual void FitToShapes();
  virtual bool HasBitmapEffects() const { return m_Mirrored || m_Flipped; }
  virtual std::string GetDisplayName() const { return m_Name; }
  virtual TFloatPoint GetPasteOffset() const { return {10, 10}; }
  virtual TFloatRect GetShapesBounds() const;
  // Rendering hooks; the base paints nothing.
  virtual void PaintCanvas(TCanvas& /*canvas*/, const TDeviceContext& /*context*/) {}
  virtual void Paint(TBitmap32& /*bitmap*/, const TDeviceContext& /*context*/) {}
  virtual void AfterPaint(TBitmap32& /*bitmap*/, const TDeviceContext& /*context*/) {}
  virtual void PaintOverlay(TBitmap32& /*bitmap*/, const TFloatRect& /*area*/) {}
  // Mirrors and flips the finished cache; effect shapes run their effects first.
  virtual void PostProcess(TBitmap32& bitmap, const TDeviceContext& context);
  virtual bool NeedsCache() const;

  // --- screen areas and hit tests (client pixels of the document window) --------------
  virtual TRect GetScreenRect() const;
  virtual TPolygonRegion GetScreenRegion() const;
  virtual TPolygonRegion GetDeviceRegion() const;
  virtual TRect GetScreenBounds();
  virtual bool HitTest(TPoint p);
  virtual bool HitTestDeep(TPoint p, TdtpShape*& shape);
  virtual bool HitTestOpaque(TPoint p);
  virtual int HitTestHandle(TPoint p);
  virtual void SetDocAngle(float a);
  virtual void SetDocPosition(float x, float y);
  virtual void SetDocSize(float w, float h);
  virtual void SetDocument(TdtpDocument* doc);
  virtual void SetModified(bool flag);
  virtual void SetName(const std::string& text);
  virtual void SetParent(TdtpShape* shape);
  // Sets a property from its text form; true when the name was known.
  virtual bool SetPropertyByName(std::string_view name, std::string_view text);
  virtual void SetDeviceTransform(const TAffineMatrix& m) { m_DeviceTransform = m; }
  virtual void AdjustMargins(float& left, float& top, float& bottom, float& right) const;
  virtual int StorageMode() const { return 3; }
  virtual void SetStorageMode(int /*value*/) {}
  virtual void SetBoundsConstrained(float x, float y, float w, float h);
  virtual void ApplyDrag();
  virtual void SetBoundsFromRect(const TFloatRect& r);
  virtual void ApplyConstraints();
  virtual void FreeCaches();
  virtual void Clear();
  virtual void BeginEdit();
  virtual void LockAspect();
  virtual void Inflate(float dx, float dy);
  virtual void Repaint();
  virtual void LoadFromXml(xml::TXmlNode node);
  virtual void SaveToXml(xml::TXmlNode node) const;
  virtual void RebuildAll();
  virtual void SetCurbAll(float m) { SetCurb(m, m, m, m); }
  virtual void SetCurb(float left, float top, float right, float bottom);
  virtual void SetBounds(float x, float y, float w, float h);
  virtual void SetBoundsAndAngle(float x, float y, float w, float h, float a);
  virtual void CentreAt(float x, float y);
  virtual int AddShape(std::unique_ptr<TdtpShape> child);
  virtual void ClearShapes();
  virtual void DeleteShape(int i);
  virtual void ExchangeShapes(int i, int j);
  virtual std::unique_ptr<TdtpShape> ExtractShape(TdtpShape* child);
  virtual int IndexOfShape(const TdtpShape* child) const;
  virtual void InsertShape(int i, std::unique_ptr<TdtpShape> child);
  virtual int RemoveShape(TdtpShape* child);
  virtual bool ExecuteCommand(const TdtpCommand& command);
  virtual bool UsesCanvas() const { return false; }

  // Creates an instance of the class the element names and lets it read the element.
  static std::unique_ptr<TdtpShape> CreateFromXml(xml::TXmlNode node);

  // --- frames -------------------------------------------------------------------------
  TFloatPoint LocalToParent(TFloatPoint p) const;
  TFloatPoint ParentToLocal(TFloatPoint p) const;
  TFloatPoint LocalToDoc(TFloatPoint p) const;
  TFloatPoint DocToLocal(TFloatPoint p) const;
  TFloatPoint DocDeltaToLocal(TFloatPoint d) const;
  TFloatPoint LocalToScreen(TFloatPoint p) const;
  TFloatPoint ScreenToLocal(TFloatPoint p) const;
  TFloatPoint LocalToDevice(TFloatPoint p) const { return ApplyMatrix(m_DeviceTransform, p); }
  int DeviceLeft() const;
  int DeviceTop() const;
  int DeviceRight() const;
  int DeviceBottom() const;
  // A point of the shape's frame in cache pixels; (−1, −1) without a valid cache.
  TFloatPoint LocalToCachePixel(TFloatPoint p) const;
  TFloatPoint ScreenToCachePixel(TFloatPoint p) const {
    return LocalToCachePixel(ScreenToLocal(p));
  }

  TFloatRect GetBoundingBox(bool withMargins) const;
  float BoxLeft() const { return GetBoundingBox(false).Left; }
  float BoxTop() const { return GetBoundingBox(false).Top; }
  float BoxRight() const { return GetBoundingBox(false).Right; }
  float BoxBottom() const { return GetBoundingBox(false).Bottom; }
  void SetBoxLeft(float x);
  void SetBoxTop(float y);
  void SetBoxRight(float x);
  void SetBoxBottom(float y);

  void SetPosition(float x, float y) { SetBounds(x, y, m_DocWidth, m_DocHeight); }
  void RotateAroundCentre(float a);

  // --- interactive dragging -----------------------------------------------------------
  // Proposes the geometry of a drag by `delta` (document frame) on a handle of `kind`;
  // `toggle` inverts angle snapping. Returns the preview matrix of the shape's frame.
  TAffineMatrix DragPreview(TFloatPoint delta, int kind, bool toggle);

  // --- change notification ------------------------------------------------------------
  void BeginUpdate() { ++m_UpdateCount; }
  void EndUpdate();
  void Invalidate();
  void InvalidateCache();
  void Rebuild();
  void UpdateMargins();

  // --- binary form --------------------------------------------------------------------
  Bytes SaveToString() const;
  // Validates the whole form before it touches the shape: a form whose lengths lie raises
  // EStreamError and leaves the shape as it was.
  void LoadFromString(const Bytes& bytes);

  // --- properties ---------------------------------------------------------------------
  bool AllowEdit() const { return m_AllowEdit; }
  void SetAllowEdit(bool v) { m_AllowEdit = v; }
  bool AllowDelete() const { return m_AllowDelete; }
  void SetAllowDelete(bool v) { m_AllowDelete = v; }
  bool AllowResize() const { return m_AllowResize; }
  void SetAllowResize(bool v) { m_AllowResize = v; }
  bool AllowMove() const { return m_AllowMove; }
  void SetAllowMove(bool v) { m_AllowMove = v; }
  bool AllowRotate() const { return m_AllowRotate; }
  void SetAllowRotate(bool v) { m_AllowRotate = v; }
  bool AllowSelect() const { return m_AllowSelect; }
  void SetAllowSelect(bool v);
  bool CanSelect() const { return m_AllowSelect; }
  TShapeAnchors Anchors() const { return m_Anchors; }
  void SetAnchors(TShapeAnchors a);
  float AspectRatio() const { return m_AspectRatio; }
  void SetAspectRatio(float r) { m_AspectRatio = r; }
  bool Fixed() const { return m_Fixed; }
  void SetFixed(bool v) { m_Fixed = v; }
  float CacheDpm() const { return m_CacheDpm; }
  TBitmap32* CacheBitmap() const { return m_CacheBitmap.get(); }
  // The render pipeline builds and reuses the cache.
  TBitmap32& EnsureCacheBitmap();
  void SetCacheDpm(float dpm) { m_CacheDpm = dpm; }
  float OuterLeft() const { return m_OuterLeft; }
  float OuterTop() const { return m_OuterTop; }
  float OuterRight() const { return m_OuterRight; }
  float OuterBottom() const { return m_OuterBottom; }
  TFloatSizeConstraint& Constraints() { return *m_Constraints; }
  const TFloatSizeConstraint& Constraints() const { return *m_Constraints; }
  float DocAngle() const { return m_DocAngle; }
  float AngleCos() const { return m_AngleCos; }
  float AngleSin() const { return m_AngleSin; }
  float DocLeft() const { return m_DocLeft; }
  float DocTop() const { return m_DocTop; }
  float DocWidth() const { return m_DocWidth; }
  float DocHeight() const { return m_DocHeight; }
  TdtpDocument* Document() const { return m_Document; }
  float DragAngle() const { return m_DragAngle; }
  int DragHandle() const { return m_DragHandle; }
  void SetDragHandle(int h) { m_DragHandle = h; }
  float DragLeft() const { return m_DragLeft; }
  float DragTop() const { return m_DragTop; }
  float DragWidth() const { return m_DragWidth; }
  float DragHeight() const { return m_DragHeight; }
  const TAffineMatrix& DragTransform() const { return m_DragTransform; }
  void SetDragTransform(const TAffineMatrix& m) { m_DragTransform = m; }
  bool Flipped() const { return m_Flipped; }
  void SetFlipped(bool v);
  bool Grouped() const { return m_Grouped; }
  void SetGrouped(bool v);
  TdtpHandlePainter* HandlePainter() const { return m_HandlePainter.get(); }
  void SetHandlePainter(std::unique_ptr<TdtpHandlePainter> p) { m_HandlePainter = std::move(p); }
  const std::string& Hint() const { return m_Hint; }
  void SetHint(std::string h) { m_Hint = std::move(h); }
  std::string HintText() const { return m_Hint.empty() ? GetDisplayName() : m_Hint; }
  bool WantsHint() const;
  int16_t InsertCursor() const { return m_InsertCursor; }
  void SetInsertCursor(int16_t c) { m_InsertCursor = c; }
  const TAffineMatrix& DeviceTransform() const { return m_DeviceTransform; }
  int MasterAlpha() const { return m_MasterAlpha; }
  bool Mirrored() const { return m_Mirrored; }
  void SetMirrored(bool v);
  bool Modified() const { return m_Modified; }
  bool AlwaysCached() const { return m_AlwaysCached; }
  void SetAlwaysCached(bool v) { m_AlwaysCached = v; }
  bool ChangePending() const { return m_ChangePending; }
  TdtpShape* Parent() const { return m_Parent; }
  bool ParentShowHint() const { return m_ParentShowHint; }
  void SetParentShowHint(bool v) { m_ParentShowHint = v; }
  bool PreserveAspect() const { return m_PreserveAspect; }
  void SetPreserveAspect(bool v);
  bool Selected() const { return m_Selected; }
  void SetSelected(bool v);
  int32_t ID() const { return m_ID; }
  void SetID(int32_t id) { m_ID = id; }
  bool ShowHint() const { return m_ShowHint; }
  void SetShowHint(bool v);
  float CurbLeft() const { return m_CurbLeft; }
  float CurbTop() const { return m_CurbTop; }
  float CurbRight() const { return m_CurbRight; }
  float CurbBottom() const { return m_CurbBottom; }
  int32_t Tag() const { return m_Tag; }
  void SetTag(int32_t t) { m_Tag = t; }
  int UpdateCount() const { return m_UpdateCount; }
  bool Visible() const { return m_Visible; }
  void SetVisible(bool v);
  const std::string& Name() const { return m_Name; }
  bool IsEditing() const;

  TNotifyEvent OnChange;
  TNotifyEvent OnDblClick;
  TNotifyEvent OnBoundsChanged;

protected:
  // Reads and writes the common elements; subclasses call these first.
  void ReadCommonXml(xml::TXmlNode node);
  void UpdateAngleTrig();
  void ClearParentCaches();
  void NotifyChanged();

  bool m_AllowEdit = true;
  bool m_AllowDelete = true;
  bool m_AllowResize = true;
  bool m_AllowMove = true;
  bool m_AllowRotate = true;
  bool m_AllowSelect = true;
  TShapeAnchors m_Anchors = kDefaultAnchors;
  float m_AspectRatio = 0;
  bool m_Fixed = false;
  float m_CacheDpm = 0;
  std::unique_ptr<TBitmap32> m_CacheBitmap;
  float m_OuterLeft = 0, m_OuterTop = 0, m_OuterRight = 0, m_OuterBottom = 0;
  std::unique_ptr<TFloatSizeConstraint> m_Constraints;
  float m_DocAngle = 0;
  float m_AngleCos = 1, m_AngleSin = 0;
  float m_DocHeight = 0;
  TdtpDocument* m_Document = nullptr;
  float m_DocWidth = 0;
  float m_DragAngle = 0;
  int32_t m_DragHandle = -1;
  float m_DragHeight = 0, m_DragLeft = 0, m_DragTop = 0;
  TAffineMatrix m_DragTransform;
  float m_DragWidth = 0;
  bool m_Flipped = false;
  bool m_Grouped = false;
  std::unique_ptr<TdtpHandlePainter> m_HandlePainter;
  std::string m_Hint;
  int16_t m_InsertCursor = -3;
  TAffineMatrix m_DeviceTransform;
  int m_MasterAlpha = 255;
  bool m_Mirrored = false;
  bool m_Modified = false;
  bool m_AlwaysCached = false;
  bool m_ChangePending = false;
  TdtpShape* m_Parent = nullptr;
  bool m_ParentShowHint = false;
  bool m_PreserveAspect = false;
  bool m_Selected = false;
  int32_t m_ID = 0;
  std::vector<std::unique_ptr<TdtpShape>> m_Shapes;
  bool m_ShowHint = false;
  float m_CurbLeft = 0, m_CurbTop = 0, m_CurbRight = 0, m_CurbBottom = 0;
  int32_t m_Tag = 0;
  int m_UpdateCount = 0;
  bool m_Visible = true;
  float m_DocLeft = 0, m_DocTop = 0;
  std::string m_Name;
};

} // namespace dtp
