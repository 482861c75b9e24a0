#include "engine/shapes/shape.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/document/document.h"
#include "engine/persistence/stream_storage.h"
#include "platform/core/brackets.h"
#include "platform/core/errors.h"
#include "platform/core/numeric.h"
#include "platform/core/text.h"

namespace dtp {

namespace {

struct TShapeUpdate {
  TdtpShape& shape;
  explicit TShapeUpdate(TdtpShape& s) : shape(s) { shape.BeginUpdate(); }
  ~TShapeUpdate() noexcept(false) {
    CloseBracket([this] { shape.EndUpdate(); });
  }
};

bool StartsWithTmp(const std::string& name) {
  return name.size() >= 3 && SameText(std::string_view(name).substr(0, 3), "TMP");
}

void DeleteTemporaryStreams(TdtpDocument* doc, const TdtpShape& child) {
  if (!doc || !doc->Storage()) return;
  std::vector<std::string> names;
  child.GetResourceNames(names);
  for (const std::string& n : names)
    if (StartsWithTmp(n)) doc->Storage()->DeleteStream(n);
}

void PutInt32(Bytes& out, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(u >> (8 * i)));
}

void PutBlock(Bytes& out, const uint8_t* data, size_t size) {
  if (size > static_cast<size_t>(INT32_MAX)) throw EStreamError("Block too large");
  PutInt32(out, static_cast<int32_t>(size));
  out.insert(out.end(), data, data + size);
}

// A bounds-checked reader of little-endian fields.
class TReader {
public:
  TReader(const uint8_t* data, size_t size) : m_Data(data), m_Size(size) {}
  int32_t Int32() {
    if (m_Size - m_Pos < 4) throw EStreamError("Unexpected end of shape data");
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(m_Data[m_Pos + i]) << (8 * i);
    m_Pos += 4;
    return static_cast<int32_t>(v);
  }
  // A length-prefixed block; a length that is negative or larger than what is left raises.
  std::string_view Block() {
    const int32_t len = Int32();
    if (len < 0) throw EStreamError("Invalid length in shape data");
    if (static_cast<size_t>(len) > m_Size - m_Pos)
      throw EStreamError("Length in shape data exceeds the data");
    std::string_view out(reinterpret_cast<const char*>(m_Data + m_Pos), static_cast<size_t>(len));
    m_Pos += static_cast<size_t>(len);
    return out;
  }
  size_t Remaining() const { return m_Size - m_Pos; }

private:
  const uint8_t* m_Data;
  size_t m_Size;
  size_t m_Pos = 0;
};

float CosDeg(float a) {
  return static_cast<float>(std::cos(DegToRad(a)));
}
float SinDeg(float a) {
  return static_cast<float>(std::sin(DegToRad(a)));
}

struct TAnchorName {
  const char* name;
  TShapeAnchors bit;
};
constexpr TAnchorName kAnchorNames[] = {
    {"default", saDefault},     {"PosXProp", saPosXProp},   {"PosYProp", saPosYProp},
    {"SizeXProp", saSizeXProp}, {"SizeYProp", saSizeYProp}, {"LeftLock", saLeftLock},
    {"TopLock", saTopLock},     {"RightLock", saRightLock}, {"BottomLock", saBottomLock},
};

// One axis of a child's layout when its grouped parent goes from size P to P'.
void LayoutAxis(float p, float z, float parentOld, float parentNew, bool posProp, bool sizeProp,
                bool lowLock, bool highLock, float& newPos, float& newSize) {
  if (parentOld == 0) {
    newPos = (posProp || lowLock) ? 0 : p;
    newSize = (sizeProp || highLock) ? parentNew : z;
    return;
  }
  const float r = parentNew / parentOld;
  newSize = sizeProp ? z * r : z;
  if (posProp)
    newPos = (p + z / 2) * r - newSize / 2;
  else if (lowLock)
    newPos = p;
  else
    newPos = p + z - newSize;
}

} // namespace

// ---------------------------------------------------------------------------------------
// construction

TdtpShape::TdtpShape() : m_Constraints(std::make_unique<TFloatSizeConstraint>()) {}

TdtpShape::~TdtpShape() = default;

std::unique_ptr<TdtpShape> TdtpShape::CreateFromXml(xml::TXmlNode node) {
  if (!node) throw EDtpError("XML Node is not assigned");
  auto shape = CreateShape(node.ReadString("ClassName"));
  shape->LoadFromXml(node);
  return shape;
}

// ---------------------------------------------------------------------------------------
// children

TdtpShape* TdtpShape::Shapes(int i) const {
  if (i < 0 || i >= static_cast<int>(m_Shapes.size())) return nullptr;
  return m_Shapes[static_cast<size_t>(i)].get();
}

int TdtpShape::AddShape(std::unique_ptr<TdtpShape> child) {
  if (!child) return -1;
  RecordIntegerUndo(ckChildAdded, "", ShapeCount());
  TdtpShape* c = child.get();
  m_Shapes.push_back(std::move(child));
  c->SetDocument(m_Document);
  c->SetParent(this);
  Invalidate();
  Changed();
  return static_cast<int>(m_Shapes.size()) - 1;
}

void TdtpShape::InsertShape(int i, std::unique_ptr<TdtpShape> child) {
  if (!child) return;
  i = std::clamp(i, 0, ShapeCount());
  RecordIntegerUndo(ckChildAdded, "", i);
  TdtpShape* c = child.get();
  m_Shapes.insert(m_Shapes.begin() + i, std::move(child));
  c->SetParent(this);
  c->SetDocument(m_Document);
  Invalidate();
  Changed();
}

void TdtpShape::DeleteShape(int i) {
  if (i < 0 || i >= ShapeCount()) return;
  TdtpShape* child = m_Shapes[static_cast<size_t>(i)].get();
  RecordShapeUndo(ckChildRemoved, child);
  Invalidate();
  DeleteTemporaryStreams(m_Document, *child);
  child->SetSelected(false);
  if (m_Document) m_Document->ShapeDestroyed(child);
  child->SetParent(nullptr);
  child->SetDocument(nullptr);
  // The index may have moved if a notification handler changed the list.
  const int at = IndexOfShape(child);
  if (at >= 0) m_Shapes.erase(m_Shapes.begin() + at);
  Changed();
}

std::unique_ptr<TdtpShape> TdtpShape::ExtractShape(TdtpShape* child) {
  const int i = IndexOfShape(child);
  if (i < 0) return nullptr;
  RecordShapeUndo(ckChildRemoved, child);
  Invalidate();
  child->SetSelected(false);
  child->SetParent(nullptr);
  child->SetDocument(nullptr);
  const int at = IndexOfShape(child);
  std::unique_ptr<TdtpShape> out = std::move(m_Shapes[static_cast<size_t>(at)]);
  m_Shapes.erase(m_Shapes.begin() + at);
  Changed();
  return out;
}

void TdtpShape::ClearShapes() {
  while (ShapeCount() > 0) {
    const int before = ShapeCount();
    DeleteShape(0);
    if (ShapeCount() >= before) break;
  }
}

void TdtpShape::ExchangeShapes(int i, int j) {
  if (i == j || !Shapes(i) || !Shapes(j)) return;
  std::swap(m_Shapes[static_cast<size_t>(i)], m_Shapes[static_cast<size_t>(j)]);
  m_Shapes[static_cast<size_t>(i)]->Invalidate();
  m_Shapes[static_cast<size_t>(j)]->Invalidate();
  Changed();
}

int TdtpShape::IndexOfShape(const TdtpShape* child) const {
  for (size_t i = 0; i < m_Shapes.size(); ++i)
    if (m_Shapes[i].get() == child) return static_cast<int>(i);
  return -1;
}

int TdtpShape::RemoveShape(TdtpShape* child) {
  const int i = IndexOfShape(child);
  DeleteShape(i);
  return i;
}

void TdtpShape::Clear() {
  TShapeUpdate update(*this);
  for (int i = ShapeCount() - 1; i >= 0; --i) {
    if (m_Shapes[static_cast<size_t>(i)]->Fixed()) break;
    DeleteShape(i);
  }
}

void TdtpShape::SetDocument(TdtpDocument* doc) {
  if (doc == m_Document) return;
  m_Document = doc;
  if (doc) m_ID = doc->NextShapeID();
  Invalidate();
  for (auto& c : m_Shapes) c->SetDocument(doc);
}

void TdtpShape::SetParent(TdtpShape* shape) {
  if (shape == m_Parent) return;
  m_Parent = shape;
  Invalidate();
}

void TdtpShape::GetResourceNames(std::vector<std::string>& list) const {
  for (const auto& c : m_Shapes) c->GetResourceNames(list);
}

// ---------------------------------------------------------------------------------------
// undo records

void TdtpShape::RecordStyleUndo(uint8_t kind, const std::string& name, uint8_t style) {
  std::string text;
  if (style & 1) text += 'B';
  if (style & 2) text += 'I';
  if (style & 4) text += 'U';
  if (style & 8) text += 'S';
  RecordUndo(kind, name, text);
}

void TdtpShape::RecordFloatUndo(uint8_t kind, const std::string& name, float value) {
  RecordUndo(kind, name, xml::SingleToText(value));
}

void TdtpShape::RecordIntegerUndo(uint8_t kind, const std::string& name, int64_t value) {
  RecordUndo(kind, name, std::to_string(value));
}

void TdtpShape::RecordBooleanUndo(uint8_t kind, const std::string& name, bool value) {
  RecordUndo(kind, name, value ? "True" : "False");
}

void TdtpShape::RecordUndo(uint8_t kind, const std::string& name, const std::string& text) {
  if (!m_Document) return;
  if (m_Document->UndoEnabled())
    m_Document->AddUndo(std::make_unique<TdtpCommand>(kind, m_ID, name, text));
  else if (m_Document->IsRecordingRedo())
    m_Document->AddRedo(std::make_unique<TdtpCommand>(kind, m_ID, name, text));
}

void TdtpShape::RecordShapeUndo(uint8_t kind, TdtpShape* child) {
  if (!m_Document || !child) return;
  if (!m_Document->UndoEnabled() && !m_Document->IsRecordingRedo()) return;
  auto cmd = std::make_unique<TdtpCommand>(kind, m_ID, "ClassName", child->ClassName());
  auto data = std::make_unique<Bytes>();
  PutInt32(*data, child->Parent() ? child->Parent()->IndexOfShape(child) : -1);
  PutInt32(*data, child->ID());
  const Bytes form = child->SaveToString();
  PutBlock(*data, form.data(), form.size());
  cmd->Data = std::move(data);
  if (m_Document->UndoEnabled())
    m_Document->AddUndo(std::move(cmd));
  else
    m_Document->AddRedo(std::move(cmd));
  // The record now carries the bytes of the child's temporary parts.
  DeleteTemporaryStreams(m_Document, *child);
}

bool TdtpShape::ExecuteCommand(const TdtpCommand& command) {
  if (command.ID != m_ID) {
    // Index-based: executing a record may change the list behind us.
    for (size_t i = 0; i < m_Shapes.size(); ++i)
      if (m_Shapes[i]->ExecuteCommand(command)) return true;
    return false;
  }
  switch (command.Kind) {
  case ckProperty:
    SetPropertyByName(command.Name, command.Value);
    break;
  case ckChildAdded:
    DeleteShape(static_cast<int>(xml::TextToInt(command.Value, -1)));
    break;
  case ckChildRemoved: {
    if (!command.Data) break;
    TReader r(command.Data->data(), command.Data->size());
    const int32_t index = r.Int32();
    const int32_t id = r.Int32();
    const std::string_view form = r.Block();
    auto child = CreateShape(command.Value);
    TdtpShape* c = child.get();
    InsertShape(index < 0 ? ShapeCount() : index, std::move(child));
    c->LoadFromString(Bytes(form.begin(), form.end()));
    c->SetID(id);
    break;
  }
  default:
    break;
  }
  return true;
}

bool TdtpShape::SetPropertyByName(std::string_view name, std::string_view text) {
  struct TFloatSetter {
    const char* name;
    void (TdtpShape::*set)(float);
  };
  static const TFloatSetter kFloats[] = {
      {"DocLeft", &TdtpShape::SetDocLeft},   {"DocTop", &TdtpShape::SetDocTop},
      {"DocWidth", &TdtpShape::SetDocWidth}, {"DocHeight", &TdtpShape::SetDocHeight},
      {"DocAngle", &TdtpShape::SetDocAngle},
  };
  for (const auto& f : kFloats) {
    if (SameText(name, f.name)) {
      if (const auto v = xml::ParseFloat(text)) (this->*f.set)(static_cast<float>(*v));
      return true;
    }
  }
  if (SameText(name, "MasterAlpha")) {
    // The old value is recorded through the float form, so accept "128" and "128.0".
    if (const auto v = xml::ParseFloat(text)) SetMasterAlpha(static_cast<int>(Round(*v)));
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------------------
// geometry

void TdtpShape::UpdateAngleTrig() {
  m_AngleCos = CosDeg(m_DocAngle);
  m_AngleSin = SinDeg(m_DocAngle);
}

TFloatPoint TdtpShape::LocalToParent(TFloatPoint p) const {
  const double c = m_AngleCos, s = m_AngleSin;
  return {static_cast<float>(m_DocLeft + p.X * c + p.Y * s),
          static_cast<float>(m_DocTop - p.X * s + p.Y * c)};
}

TFloatPoint TdtpShape::ParentToLocal(TFloatPoint p) const {
  const double c = m_AngleCos, s = m_AngleSin;
  const double qx = p.X - m_DocLeft, qy = p.Y - m_DocTop;
  return {static_cast<float>(qx * c - qy * s), static_cast<float>(qx * s + qy * c)};
}

TFloatPoint TdtpShape::LocalToDoc(TFloatPoint p) const {
  const TFloatPoint q = LocalToParent(p);
  return m_Parent ? m_Parent->LocalToDoc(q) : q;
}

TFloatPoint TdtpShape::DocToLocal(TFloatPoint p) const {
  if (m_Parent) p = m_Parent->DocToLocal(p);
  return ParentToLocal(p);
}

TFloatPoint TdtpShape::DocDeltaToLocal(TFloatPoint d) const {
  if (m_Parent) d = m_Parent->DocDeltaToLocal(d);
  const double c = m_AngleCos, s = m_AngleSin;
  return {static_cast<float>(d.X * c - d.Y * s), static_cast<float>(d.X * s + d.Y * c)};
}

TFloatPoint TdtpShape::LocalToScreen(TFloatPoint p) const {
  if (!m_Document) return p;
  return m_Document->DocToScreen(LocalToDoc(p));
}

TFloatPoint TdtpShape::ScreenToLocal(TFloatPoint p) const {
  if (!m_Document) return p;
  return DocToLocal(m_Document->ScreenToDoc(p));
}

int TdtpShape::DeviceLeft() const {
  return static_cast<int>(Round(m_DeviceTransform.m20));
}
int TdtpShape::DeviceTop() const {
  return static_cast<int>(Round(m_DeviceTransform.m21));
}
int TdtpShape::DeviceRight() const {
  return static_cast<int>(Round(m_DeviceTransform.m00 * m_DocWidth + m_DeviceTransform.m20));
}
int TdtpShape::DeviceBottom() const {
  return static_cast<int>(Round(m_DeviceTransform.m11 * m_DocHeight + m_DeviceTransform.m21));
}

TFloatRect TdtpShape::GetBoundingBox(bool withMargins) const {
  float l = 0, t = 0, r = m_DocWidth, b = m_DocHeight;
  if (withMargins) {
    l = -m_OuterLeft;
    t = -m_OuterTop;
    r = m_DocWidth + m_OuterRight;
    b = m_DocHeight + m_OuterBottom;
  }
  const TFloatPoint corners[4] = {LocalToParent({l, t}), LocalToParent({r, t}),
                                  LocalToParent({r, b}), LocalToParent({l, b})};
  TFloatRect box{corners[0].X, corners[0].Y, corners[0].X, corners[0].Y};
  for (const auto& p : corners) {
    box.Left = std::min(box.Left, p.X);
    box.Top = std::min(box.Top, p.Y);
    box.Right = std::max(box.Right, p.X);
    box.Bottom = std::max(box.Bottom, p.Y);
  }
  return box;
}

void TdtpShape::SetBoxLeft(float x) {
  SetBounds(m_DocLeft + (x - BoxLeft()), m_DocTop, m_DocWidth, m_DocHeight);
}
void TdtpShape::SetBoxTop(float y) {
  SetBounds(m_DocLeft, m_DocTop + (y - BoxTop()), m_DocWidth, m_DocHeight);
}
void TdtpShape::SetBoxRight(float x) {
  SetBounds(m_DocLeft + (x - BoxRight()), m_DocTop, m_DocWidth, m_DocHeight);
}
void TdtpShape::SetBoxBottom(float y) {
  SetBounds(m_DocLeft, m_DocTop + (y - BoxBottom()), m_DocWidth, m_DocHeight);
}

void TdtpShape::CentreAt(float x, float y) {
  const TFloatRect box = GetBoundingBox(false);
  SetBoxLeft(x - box.Width() / 2);
  SetBoxTop(y - box.Height() / 2);
}

TFloatRect TdtpShape::GetShapesBounds() const {
  if (m_Shapes.empty()) return {};
  TFloatRect r = m_Shapes.front()->GetBoundingBox(false);
  for (const auto& c : m_Shapes) {
    const TFloatRect b = c->GetBoundingBox(false);
    r.Left = std::min(r.Left, b.Left);
    r.Top = std::min(r.Top, b.Top);
    r.Right = std::max(r.Right, b.Right);
    r.Bottom = std::max(r.Bottom, b.Bottom);
  }
  return r;
}

TFloatPoint TdtpShape::SnapPoint(TFloatPoint p) const {
  if (!m_Parent) return p;
  return ParentToLocal(m_Parent->SnapPoint(LocalToParent(p)));
}

bool TdtpShape::ConstrainSize(float& w, float& h) const {
  if (!m_AllowResize) {
    w = m_DocWidth;
    h = m_DocHeight;
    return false;
  }
  const TFloatSizeConstraint& c = *m_Constraints;
  if (c.MinWidth > 0) w = std::max(c.MinWidth, w);
  if (c.MaxWidth > 0) w = std::min(c.MaxWidth, w);
  if (c.MinHeight > 0) h = std::max(c.MinHeight, h);
  if (c.MaxHeight > 0) h = std::min(c.MaxHeight, h);
  w = std::max(0.1f, w);
  h = std::max(0.1f, h);
  if (m_PreserveAspect) {
    // A ratio that cannot be applied (0, infinite, NaN) leaves the values reached so far.
    const float ratio = m_AspectRatio;
    if (ratio > 0 && std::isfinite(ratio)) {
      if (w / h > ratio)
        w = h * ratio;
      else
        h = w / ratio;
      if (w < c.MinWidth) {
        w = c.MinWidth;
        h = c.MinWidth / ratio;
      }
      if (h < c.MinHeight) {
        h = c.MinHeight;
        w = c.MinHeight * ratio;
      }
    }
  }
  return true;
}

bool TdtpShape::ConstrainPosition(float& x, float& y, float w, float h) const {
  if (!m_AllowMove && w == m_DocWidth && h == m_DocHeight) {
    x = m_DocLeft;
    y = m_DocTop;
  }
  return m_AllowMove;
}

void TdtpShape::SetDocAngle(float a) {
  if (a == m_DocAngle) return;
  RecordFloatUndo(ckProperty, "DocAngle", m_DocAngle);
  Invalidate();
  m_DocAngle = static_cast<float>(a - std::floor(a / 360.0) * 360.0);
  if (m_DocAngle >= 360) m_DocAngle = 0; // a tiny negative angle rounds up to 360
  UpdateAngleTrig();
  ClearParentCaches();
  Invalidate();
  Changed();
}

void TdtpShape::SetDocPosition(float x, float y) {
  {
    TUndoGuard group(m_Document);
    if (x != m_DocLeft) RecordFloatUndo(ckProperty, "DocLeft", m_DocLeft);
    if (y != m_DocTop) RecordFloatUndo(ckProperty, "DocTop", m_DocTop);
  }
  m_DocLeft = x;
  m_DocTop = y;
}

void TdtpShape::SetDocSize(float w, float h) {
  {
    TUndoGuard group(m_Document);
    if (w != m_DocWidth) RecordFloatUndo(ckProperty, "DocWidth", m_DocWidth);
    if (h != m_DocHeight) RecordFloatUndo(ckProperty, "DocHeight", m_DocHeight);
  }
  if (w != m_DocWidth || h != m_DocHeight) {
    m_DocWidth = w;
    m_DocHeight = h;
    InvalidateCache();
  }
}

void TdtpShape::SetDocHeight(float h) {
  if (h != m_DocHeight) SetBounds(m_DocLeft, m_DocTop, m_DocWidth, h);
}
void TdtpShape::SetDocLeft(float x) {
  if (x != m_DocLeft) SetBounds(x, m_DocTop, m_DocWidth, m_DocHeight);
}
void TdtpShape::SetDocTop(float y) {
  if (y != m_DocTop) SetBounds(m_DocLeft, y, m_DocWidth, m_DocHeight);
}
void TdtpShape::SetDocWidth(float w) {
  if (w != m_DocWidth) SetBounds(m_DocLeft, m_DocTop, w, m_DocHeight);
}

void TdtpShape::SetBounds(float x, float y, float w, float h) {
  SetBoundsAndAngle(x, y, w, h, m_DocAngle);
}

void TdtpShape::SetBoundsAndAngle(float x, float y, float w, float h, float a) {
  if (x == m_DocLeft && y == m_DocTop && w == m_DocWidth && h == m_DocHeight && a == m_DocAngle)
    return;
  Invalidate();
  const bool sizeChanged = w != m_DocWidth || h != m_DocHeight;
  if (m_Grouped && sizeChanged) {
    // Lay the children out against the size before the change; a failure ends the step.
    try {
      for (size_t i = 0; i < m_Shapes.size(); ++i) {
        TdtpShape& c = *m_Shapes[i];
        const TShapeAnchors an = c.Anchors();
        const bool def = (an & saDefault) != 0;
        float nx, nw, ny, nh;
        LayoutAxis(c.DocLeft(), c.DocWidth(), m_DocWidth, w, def || (an & saPosXProp),
                   def ? m_AllowResize : (an & saSizeXProp) != 0, !def && (an & saLeftLock),
                   !def && (an & saRightLock), nx, nw);
        LayoutAxis(c.DocTop(), c.DocHeight(), m_DocHeight, h, def || (an & saPosYProp),
                   def ? m_AllowResize : (an & saSizeYProp) != 0, !def && (an & saTopLock),
                   !def && (an & saBottomLock), ny, nh);
        c.SetBounds(nx, ny, nw, nh);
      }
    } catch (const std::exception&) {
    }
  }
  {
    TUndoGuard group(m_Document);
    if (x != m_DocLeft || y != m_DocTop) SetDocPosition(x, y);
    if (sizeChanged) SetDocSize(w, h);
    if (a != m_DocAngle) SetDocAngle(a);
  }
  Invalidate();
  Changed();
  if (OnBoundsChanged) OnBoundsChanged(this);
}

void TdtpShape::RotateAroundCentre(float a) {
  if (a == m_DocAngle) return;
  const double hw = m_DocWidth / 2.0, hh = m_DocHeight / 2.0;
  const double c = m_AngleCos, s = m_AngleSin;
  const double c2 = std::cos(DegToRad(a)), s2 = std::sin(DegToRad(a));
  const double x = m_DocLeft + (hw * c + hh * s) - (hw * c2 + hh * s2);
  const double y = m_DocTop + (hh * c - hw * s) - (hh * c2 - hw * s2);
  SetBoundsAndAngle(static_cast<float>(x), static_cast<float>(y), m_DocWidth, m_DocHeight, a);
}

void TdtpShape::SetBoundsConstrained(float x, float y, float w, float h) {
  ConstrainSize(w, h);
  ConstrainPosition(x, y, w, h);
  SetBounds(x, y, w, h);
}

void TdtpShape::ApplyDrag() {
  TUndoGuard group(m_Document);
  SetBoundsConstrained(m_DragLeft, m_DragTop, m_DragWidth, m_DragHeight);
  RotateAroundCentre(m_DragAngle);
}

void TdtpShape::SetBoundsFromRect(const TFloatRect& r) {
  SetBoundsConstrained(std::min(r.Left, r.Right), std::min(r.Top, r.Bottom),
                       std::fabs(r.Right - r.Left), std::fabs(r.Bottom - r.Top));
}

void TdtpShape::ApplyConstraints() {
  float w = m_DocWidth, h = m_DocHeight;
  ConstrainSize(w, h);
  SetBounds(m_DocLeft, m_DocTop, w, h);
}

void TdtpShape::LockAspect() {
  m_PreserveAspect = true;
  m_AspectRatio = m_DocHeight != 0 ? m_DocWidth / m_DocHeight : 0;
}

void TdtpShape::Inflate(float dx, float dy) {
  SetBounds(m_DocLeft - dx, m_DocTop - dy, m_DocWidth + 2 * dx, m_DocHeight + 2 * dy);
}

void TdtpShape::FitToShapes() {
  if (m_Shapes.empty()) return;
  const float x0 = m_DocLeft, y0 = m_DocTop;
  const TFloatRect r = GetShapesBounds();
  try {
    for (auto& c : m_Shapes) c->SetPosition(c->DocLeft() + x0 - r.Left, c->DocTop() + y0 - r.Top);
    SetGrouped(false);
    SetBoundsConstrained(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
    bool anyAspect = false;
    for (auto& c : m_Shapes) anyAspect = anyAspect || c->PreserveAspect();
    if (anyAspect) LockAspect();
    for (auto& c : m_Shapes) {
      c->SetSelected(false);
      c->SetAllowSelect(false);
    }
  } catch (...) {
    SetGrouped(true);
    throw;
  }
  SetGrouped(true);
}

// ---------------------------------------------------------------------------------------
// dragging

void TdtpShape::DragCustomHandle(float& /*dx*/, float& /*dy*/, int /*kind*/, TFloatPoint /*delta*/,
                                 float& /*dAngle*/, float& /*sy*/, float& /*sx*/) {}

TAffineMatrix TdtpShape::DragPreview(TFloatPoint delta, int kind, bool toggle) {
  if (!m_HandlePainter) UpdateHandles();
  std::vector<TdtpHandle>& handles = m_HandlePainter->Handles();
  for (TdtpHandle& hd : handles) hd.DragPosition = hd.Position;

  // A shape that has not been sized yet has no extent to scale; use the smallest size a
  // shape may have so that the ratios stay finite.
  const float W = m_DocWidth > 0 ? m_DocWidth : 0.1f;
  const float H = m_DocHeight > 0 ? m_DocHeight : 0.1f;
  const TFloatPoint d = DocDeltaToLocal(delta);
  float dx = 0, dy = 0, sx = 1, sy = 1, dA = 0;

  if (kind == hkBody) {
    dx = d.X;
    dy = d.Y;
  } else if (kind >= hkTopLeft && kind <= hkTop) {
    const bool left = kind == hkTopLeft || kind == hkLeft || kind == hkBottomLeft;
    const bool right = kind == hkBottomRight || kind == hkRight || kind == hkTopRight;
    const bool top = kind == hkTopLeft || kind == hkTopRight || kind == hkTop;
    const bool bottom = kind == hkBottomLeft || kind == hkBottom || kind == hkBottomRight;
    if (left) sx = (W - d.X) / W;
    if (right) sx = (W + d.X) / W;
    if (top) sy = (H - d.Y) / H;
    if (bottom) sy = (H + d.Y) / H;
    if (m_PreserveAspect) {
      if (kind == hkLeft || kind == hkRight) sy = sx;
      if (kind == hkBottom || kind == hkTop) sx = sy;
    }
    m_DragWidth = std::max(1.0f, sx * W);
    m_DragHeight = std::max(1.0f, sy * H);
    ConstrainSize(m_DragWidth, m_DragHeight);
    sx = m_DragWidth / W;
    sy = m_DragHeight / H;
    if (left) dx = W - m_DragWidth;
    if (top) dy = H - m_DragHeight;
    if (kind == hkLeft || kind == hkRight) dy = (H - m_DragHeight) / 2;
    if (kind == hkBottom || kind == hkTop) dx = (W - m_DragWidth) / 2;
  } else if (kind == hkRotate) {
    const TdtpHandle* hd = (m_DragHandle >= 0 && m_DragHandle < static_cast<int>(handles.size()))
                               ? &handles[static_cast<size_t>(m_DragHandle)]
                               : nullptr;
    if (!hd) {
      const int i = m_HandlePainter->IndexOfKind(hkRotate);
      hd = i >= 0 ? &handles[static_cast<size_t>(i)] : nullptr;
    }
    if (hd) {
      const double hx = hd->Position.X, hy = hd->Position.Y;
      const double a1 = std::atan2(hy - H / 2.0, hx - W / 2.0);
      const double a2 = std::atan2(hy + d.Y - H / 2.0, hx + d.X - W / 2.0);
      dA = static_cast<float>((a1 - a2) * 180.0 / kPi);
      const float stepAngle = m_Document ? m_Document->StepAngle() : 0;
      if ((stepAngle > 0 && !toggle) || (stepAngle <= 0 && toggle)) {
        const float step = stepAngle == 0 ? 5.0f : stepAngle;
        if (step > 0) dA = static_cast<float>(Round((m_DocAngle + dA) / step) * step - m_DocAngle);
      }
    }
  } else if (kind == hkPoint) {
    if (m_DragHandle >= 0 && m_DragHandle < static_cast<int>(handles.size())) {
      TdtpHandle& hd = handles[static_cast<size_t>(m_DragHandle)];
      hd.DragPosition = {hd.Position.X + d.X, hd.Position.Y + d.Y};
    }
  } else if (kind != hkNone) {
    DragCustomHandle(dx, dy, kind, d, dA, sy, sx);
  }

  const float c = m_AngleCos, s = m_AngleSin;
  m_DragLeft = m_DocLeft + c * dx + s * dy;
  m_DragTop = m_DocTop - s * dx + c * dy;
  m_DragWidth = sx * W;
  m_DragHeight = sy * H;
  m_DragAngle = m_DocAngle + dA;

  TdtpAffineTransform t;
  t.Scale(sx, sy);
  if (dA != 0) t.Rotate(-dA, m_DragWidth / 2.0, m_DragHeight / 2.0);
  t.Translate(dx, dy);
  if (kind >= hkBody && kind <= hkRotate)
    for (TdtpHandle& hd : handles) t.Transform(hd.Position, hd.DragPosition);
  m_DragTransform = t.Matrix();
  return m_DragTransform;
}

void TdtpShape::UpdateHandles() {
  if (!m_HandlePainter) {
    if (m_Document) m_HandlePainter = m_Document->CreateHandlePainter(this);
    // A custom painter request without a handler leaves the shape with the plain one.
    if (!m_HandlePainter) m_HandlePainter = std::make_unique<TdtpHandlePainter>(this);
  }
  m_HandlePainter->SetShape(this);
  m_HandlePainter->Rebuild();
}

// ---------------------------------------------------------------------------------------
// change notification

void TdtpShape::Changed() {
  if (m_Document && m_Document->IsLoading()) return;
  SetModified(true);
  if (m_UpdateCount > 0) {
    m_ChangePending = true;
    return;
  }
  NotifyChanged();
}

void TdtpShape::NotifyChanged() {
  if (OnChange) OnChange(this);
  if (m_Document) m_Document->ShapeChanged(this);
  m_ChangePending = false;
}

void TdtpShape::EndUpdate() {
  --m_UpdateCount;
  if (m_UpdateCount == 0 && m_ChangePending) Changed();
  if (m_UpdateCount < 0) throw EDtpError("EndUpdate called more often than BeginUpdate");
}

void TdtpShape::SetModified(bool flag) {
  if (flag != m_Modified) {
    m_Modified = flag;
    if (!flag)
      for (auto& c : m_Shapes) c->SetModified(false);
  }
  if (flag) {
    if (m_Parent) m_Parent->SetModified(true);
    if (m_Document) m_Document->SetModified(true);
  }
}

void TdtpShape::Repaint() {
  if (m_Document) m_Document->RepaintShape(this);
}

void TdtpShape::ClearParentCaches() {
  for (TdtpShape* p = m_Parent; p; p = p->m_Parent) p->m_CacheDpm = 0;
}

void TdtpShape::Invalidate() {
  Repaint();
  ClearParentCaches();
}

void TdtpShape::InvalidateCache() {
  m_CacheDpm = 0;
  ClearParentCaches();
}

void TdtpShape::Rebuild() {
  InvalidateCache();
  UpdateMargins();
  Invalidate();
}

void TdtpShape::RebuildAll() {
  InvalidateCache();
  for (auto& c : m_Shapes) c->RebuildAll();
  UpdateMargins();
  Invalidate();
}

void TdtpShape::FreeCache() {
  m_CacheBitmap.reset();
  m_CacheDpm = 0;
}

void TdtpShape::FreeCaches() {
  FreeCache();
  for (auto& c : m_Shapes) c->FreeCaches();
}

void TdtpShape::AdjustMargins(float& left, float& top, float& bottom, float& right) const {
  if (m_Mirrored) left = right = std::max(left, right);
  if (m_Flipped) top = bottom = std::max(top, bottom);
}

void TdtpShape::UpdateMargins() {
  m_OuterLeft = m_CurbLeft;
  m_OuterTop = m_CurbTop;
  m_OuterRight = m_CurbRight;
  m_OuterBottom = m_CurbBottom;
  AdjustMargins(m_OuterLeft, m_OuterTop, m_OuterBottom, m_OuterRight);
  if (m_Grouped) {
    float l = 0, t = 0, b = 0, r = 0;
    for (const auto& c : m_Shapes) c->AdjustMargins(l, t, b, r);
    const float m = std::max({l, t, b, r});
    m_OuterLeft = std::max(m_OuterLeft, m);
    m_OuterTop = std::max(m_OuterTop, m);
    m_OuterRight = std::max(m_OuterRight, m);
    m_OuterBottom = std::max(m_OuterBottom, m);
  }
}

void TdtpShape::SetCurb(float left, float top, float right, float bottom) {
  if (left == m_CurbLeft && top == m_CurbTop && right == m_CurbRight && bottom == m_CurbBottom)
    return;
  m_CurbLeft = left;
  m_CurbTop = top;
  m_CurbRight = right;
  m_CurbBottom = bottom;
  UpdateMargins();
  m_CacheDpm = 0;
}

// ---------------------------------------------------------------------------------------
// simple setters

void TdtpShape::SetMasterAlpha(int a) {
  if (a == m_MasterAlpha) return;
  RecordFloatUndo(ckProperty, "MasterAlpha", static_cast<float>(m_MasterAlpha));
  m_MasterAlpha = a;
  Invalidate();
  Changed();
}

void TdtpShape::SetName(const std::string& text) {
  if (text == m_Name) return;
  m_Name = text;
  Changed();
}

void TdtpShape::SetSelected(bool v) {
  if (v == m_Selected || (v && !m_AllowSelect)) return;
  m_Selected = v;
  if (m_Document) m_Document->SelectionChanged();
  Repaint();
}

void TdtpShape::SetVisible(bool v) {
  if (v == m_Visible) return;
  if (!v) SetSelected(false);
  m_Visible = v;
  Invalidate();
  Changed();
}

void TdtpShape::SetAllowSelect(bool v) {
  if (v == m_AllowSelect) return;
  Repaint();
  m_AllowSelect = v;
  Repaint();
}

void TdtpShape::SetAnchors(TShapeAnchors a) {
  if (a == m_Anchors) return;
  m_Anchors = a;
  Changed();
}

void TdtpShape::SetGrouped(bool v) {
  if (v == m_Grouped) return;
  m_Grouped = v;
  Rebuild();
}

void TdtpShape::SetPreserveAspect(bool v) {
  if (v == m_PreserveAspect) return;
  if (v) LockAspect();
  m_PreserveAspect = v;
}

void TdtpShape::SetShowHint(bool v) {
  if (v == m_ShowHint) return;
  m_ShowHint = v;
  m_ParentShowHint = false;
}

void TdtpShape::SetMirrored(bool v) {
  if (v == m_Mirrored) return;
  m_Mirrored = v;
  Rebuild();
  Changed();
}

void TdtpShape::SetFlipped(bool v) {
  if (v == m_Flipped) return;
  m_Flipped = v;
  Rebuild();
  Changed();
}

bool TdtpShape::WantsHint() const {
  if (m_ParentShowHint && m_Document) return m_Document->ShowHint();
  return m_ShowHint;
}

bool TdtpShape::IsEditing() const {
  return m_Document && m_Document->EditShape() == this;
}

void TdtpShape::DblClick() {
  if (OnDblClick) OnDblClick(this);
}

void TdtpShape::BeginEdit() {
  DblClick();
  if (m_Document) m_Document->LeaveEditing();
}

void TdtpShape::ReportError(const std::string& text) {
  if (m_Document && m_Document->OnLoadError) m_Document->OnLoadError(m_Document, this, text);
}

void TdtpShape::AssignEvents(const TdtpShape& source) {
  OnChange = source.OnChange;
  OnDblClick = source.OnDblClick;
  OnBoundsChanged = source.OnBoundsChanged;
  for (size_t i = 0; i < m_Shapes.size() && i < source.m_Shapes.size(); ++i)
    if (m_Shapes[i]->ClassName() == source.m_Shapes[i]->ClassName())
      m_Shapes[i]->AssignEvents(*source.m_Shapes[i]);
}

// ---------------------------------------------------------------------------------------
// persistence

void TdtpShape::SaveToXml(xml::TXmlNode node) const {
  node.WriteString("ClassName", ClassName());
  node.WriteBool("AllowResize", m_AllowResize, true);
  node.WriteBool("AllowMove", m_AllowMove, true);
  node.WriteBool("AllowRotate", m_AllowRotate, true);
  node.WriteBool("AllowSelect", m_AllowSelect, true);
  node.WriteBool("AllowDelete", m_AllowDelete, true);
  node.WriteBool("AllowEdit", m_AllowEdit, true);
  xml::TXmlNode anchors = node.AddChild("Anchors");
  for (const auto& a : kAnchorNames) anchors.WriteBool(a.name, (m_Anchors & a.bit) != 0, false);
  node.WriteFloat("AspectRatio", m_AspectRatio, 0);
  node.WriteFloat("CurbLeft", m_CurbLeft, 0);
  node.WriteFloat("CurbTop", m_CurbTop, 0);
  node.WriteFloat("CurbRight", m_CurbRight, 0);
  node.WriteFloat("CurbBottom", m_CurbBottom, 0);
  node.WriteFloat("ConstraintMinHeight", m_Constraints->MinHeight, 0);
  node.WriteFloat("ConstraintMinWidth", m_Constraints->MinWidth, 0);
  node.WriteFloat("ConstraintMaxHeight", m_Constraints->MaxHeight, 0);
  node.WriteFloat("ConstraintMaxWidth", m_Constraints->MaxWidth, 0);
  node.WriteFloat("DocAngle", m_DocAngle, 0);
  node.WriteFloat("DocLeft", m_DocLeft, 0);
  node.WriteFloat("DocTop", m_DocTop, 0);
  node.WriteFloat("DocHeight", m_DocHeight, 0);
  node.WriteFloat("DocWidth", m_DocWidth, 0);
  node.WriteBool("Flipped", m_Flipped, false);
  node.WriteBool("Grouped", m_Grouped, false);
  node.WriteBool("Mirrored", m_Mirrored, false);
  node.WriteString("Name", m_Name);
  node.WriteBool("PreserveAspect", m_PreserveAspect, false);
  node.WriteInteger("Tag", m_Tag, 0);
  node.WriteBool("Visible", m_Visible, true);
  node.WriteHex("MasterAlpha", static_cast<uint32_t>(m_MasterAlpha), 2, 255);
  for (size_t i = 0; i < m_Shapes.size(); ++i) {
    xml::TXmlNode child = node.AddChild("Shape");
    child.SetAttribute("Index", std::to_string(i + 1));
    m_Shapes[i]->SaveToXml(child);
  }
  if (m_Document && m_Document->OnShapeSaveAdditionalInfo)
    m_Document->OnShapeSaveAdditionalInfo(m_Document, const_cast<TdtpShape*>(this), node);
}

void TdtpShape::ReadCommonXml(xml::TXmlNode node) {
  m_AllowResize = node.ReadBool("AllowResize", true);
  m_AllowMove = node.ReadBool("AllowMove", true);
  m_AllowRotate = node.ReadBool("AllowRotate", true);
  m_AllowSelect = node.ReadBool("AllowSelect", true);
  m_AllowDelete = node.ReadBool("AllowDelete", true);
  m_AllowEdit = node.ReadBool("AllowEdit", true);
  if (const xml::TXmlNode anchors = node.FindChild("Anchors")) {
    m_Anchors = 0;
    for (const auto& a : kAnchorNames)
      if (anchors.ReadBool(a.name, false)) m_Anchors |= a.bit;
  }
  const auto f = [&](const char* name) { return static_cast<float>(node.ReadFloat(name, 0)); };
  m_AspectRatio = f("AspectRatio");
  m_CurbLeft = f("CurbLeft");
  m_CurbTop = f("CurbTop");
  m_CurbRight = f("CurbRight");
  m_CurbBottom = f("CurbBottom");
  m_Constraints->MinHeight = f("ConstraintMinHeight");
  m_Constraints->MinWidth = f("ConstraintMinWidth");
  m_Constraints->MaxHeight = f("ConstraintMaxHeight");
  m_Constraints->MaxWidth = f("ConstraintMaxWidth");
  m_DocAngle = f("DocAngle");
  UpdateAngleTrig();
  m_DocLeft = f("DocLeft");
  m_DocTop = f("DocTop");
  m_DocHeight = f("DocHeight");
  m_DocWidth = f("DocWidth");
  m_Flipped = node.ReadBool("Flipped", false);
  m_Grouped = node.ReadBool("Grouped", false);
  m_Mirrored = node.ReadBool("Mirrored", false);
  m_Name = node.ReadString("Name");
  m_PreserveAspect = node.ReadBool("PreserveAspect", false);
  m_Tag = static_cast<int32_t>(node.ReadInteger("Tag", 0));
  m_Visible = node.ReadBool("Visible", true);
  m_MasterAlpha =
      static_cast<int>(std::clamp<int64_t>(node.ReadInteger("MasterAlpha", 255), 0, 255));
  m_CacheDpm = 0;
}

void TdtpShape::LoadFromXml(xml::TXmlNode node) {
  // Reading restores stored state; it is not an edit the user could undo.
  TDisableUndoGuard quiet(m_Document);
  Clear();
  if (!node) throw EDtpError("XML Node is not assigned");
  ReadCommonXml(node);
  int k = 0;
  for (const xml::TXmlNode element : node.Elements("Shape")) {
    TdtpShape* child = Shapes(k);
    try {
      if (!child) {
        AddShape(CreateShape(element.ReadString("ClassName")));
        child = Shapes(ShapeCount() - 1);
      }
      child->LoadFromXml(element);
      child->Loaded();
      ++k;
    } catch (const std::exception& e) {
      ReportError(e.what());
      DeleteShape(ShapeCount() - 1);
      k = ShapeCount();
    }
  }
  UpdateMargins();
  if (m_Document && m_Document->OnShapeLoadAdditionalInfo)
    m_Document->OnShapeLoadAdditionalInfo(m_Document, this, node);
}

Bytes TdtpShape::SaveToString() const {
  Bytes out;
  IStreamStorage* storage = m_Document ? m_Document->Storage() : nullptr;
  std::vector<std::string> names;
  if (storage) GetResourceNames(names);
  PutInt32(out, static_cast<int32_t>(names.size()));
  for (const std::string& n : names) {
    PutBlock(out, reinterpret_cast<const uint8_t*>(n.data()), n.size());
    const Bytes data = storage->StreamExists(n) ? storage->ReadStream(n) : Bytes();
    PutBlock(out, data.data(), data.size());
  }
  xml::TXmlDocument doc;
  SaveToXml(doc.CreateRoot("shape"));
  const std::string text = doc.WriteCompact();
  PutBlock(out, reinterpret_cast<const uint8_t*>(text.data()), text.size());
  return out;
}

void TdtpShape::LoadFromString(const Bytes& bytes) {
  if (bytes.empty()) return;
  // Take the whole form apart before anything changes.
  TReader r(bytes.data(), bytes.size());
  const int32_t count = r.Int32();
  if (count < 0) throw EStreamError("Invalid resource count in shape data");
  // Every entry needs at least its two length fields.
  if (static_cast<uint64_t>(count) * 8 > r.Remaining())
    throw EStreamError("Resource count in shape data exceeds the data");
  std::vector<std::pair<std::string_view, std::string_view>> entries;
  entries.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    const std::string_view name = r.Block();
    const std::string_view data = r.Block();
    entries.emplace_back(name, data);
  }
  const std::string_view text = r.Block();
  xml::TXmlDocument doc;
  doc.Parse(text);

  if (IStreamStorage* storage = m_Document ? m_Document->Storage() : nullptr) {
    for (const auto& [name, data] : entries)
      if (!data.empty()) storage->WriteStream(name, Bytes(data.begin(), data.end()));
  }
  LoadFromXml(doc.Root());
  Loaded();
}

void TdtpShape::Assign(const TdtpShape& source) {
  if (&source == this) return;
  const Bytes form = source.SaveToString();
  Clear();
  LoadFromString(form);
  AssignEvents(source);
}

} // namespace dtp
