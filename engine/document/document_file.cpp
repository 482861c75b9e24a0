// The document's file operations: the settings part "Index.xml", one XML part and one
// thumbnail per page, read lazily, and binding the card container to a file or stream.

#include <cctype>
#include <cmath>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "engine/document/document.h"
#include "engine/document/page.h"
#include "engine/graphics/raster_formats.h"
#include "engine/graphics/raster_stream.h"
#include "engine/persistence/resource_thread.h"
#include "engine/persistence/storage.h"
#include "platform/core/errors.h"

namespace dtp {

namespace {

constexpr const char* kIndexPart = "Index.xml";
constexpr const char* kFontsPart = "Fonts.dat";
constexpr const char* kNoIndex = "No index found in archive";
constexpr const char* kNoArchive = "Archive does not exist";
constexpr const char* kFileNotFound = "Cannot find file \"%s\"";
// Part numbers have four digits; higher numbers cannot come from a page list.
constexpr int kMaxPartNumber = 9999;
// A thumbnail side beyond this is not a preview but a request for a huge allocation.
constexpr int64_t kMaxThumbnailSide = 1024;

// The number N of "PageNNNN…", 0 when the four characters are not all digits.
int PagePartNumber(const std::string& name) {
  if (name.size() < 8) return 0;
  static const char kPrefix[] = "page";
  for (int i = 0; i < 4; ++i)
    if (std::tolower(static_cast<unsigned char>(name[i])) != kPrefix[i]) return 0;
  int n = 0;
  for (int i = 4; i < 8; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

int StoredPageCount(const IStreamStorage& storage) {
  int count = 0;
  if (const auto* archive = dynamic_cast<const TvqStorage*>(&storage)) {
    for (int i = 0; i < archive->StreamCount(); ++i)
      count = std::max(count, PagePartNumber(archive->StreamNames(i)));
    return count;
  }
  // A container that cannot list its names is asked for every possible number.
  for (int n = 1; n <= kMaxPartNumber; ++n)
    if (storage.StreamExists(PagePartName(n))) count = n;
  return count;
}

std::string_view AsText(const std::vector<uint8_t>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::vector<uint8_t> AsBytes(const std::string& text) {
  return {text.begin(), text.end()};
}

// Parses "Index.xml" of a container; raises the container's not-found error or
// "No index found in archive".
void ParseIndex(const IStreamStorage& storage, xml::TXmlDocument& doc) {
  const std::vector<uint8_t> bytes = storage.ReadStream(kIndexPart);
  if (bytes.empty()) throw EDtpError(kNoIndex);
  doc.Parse(AsText(bytes));
  if (!doc.Root()) throw EDtpError(kNoIndex);
}

// A thumbnail part that cannot be read leaves the page without one.
std::unique_ptr<TBitmap32> ReadThumbnail(const IStreamStorage& storage, int number) {
  try {
    const std::vector<uint8_t> bytes = storage.ReadStream(ThumbPartName(number));
    if (bytes.empty()) return nullptr;
    TRasterViewStream in(bytes);
    auto bitmap = std::make_unique<TBitmap32>();
    TdtpBmpFormat().LoadFromStream(&in, *bitmap, 0, 0, 0);
    return bitmap;
  } catch (const std::exception&) {
    return nullptr;
  }
}

std::vector<uint8_t> EncodeThumbnail(const TBitmap32& bitmap) {
  TRasterMemoryStream out;
  TdtpBmpFormat().SaveToStream(&out, bitmap);
  return std::move(out.Data());
}

// One-byte enumerations: a value outside the type reads as the default.
template <class E> E ReadEnum(xml::TXmlNode node, const char* name, E last, E def) {
  const int64_t v = node.ReadInteger(name, def);
  return v >= 0 && v <= static_cast<int64_t>(last) ? static_cast<E>(v) : def;
}

int ReadThumbnailSide(xml::TXmlNode node, const char* name, int def) {
  const int64_t v = node.ReadInteger(name, def);
  return v >= 0 && v <= kMaxThumbnailSide ? static_cast<int>(v) : def;
}

// Resolutions divide and size caches: only a finite positive value is taken.
float ReadDpm(xml::TXmlNode node, const char* name) {
  constexpr double kDefault = 5.905511811;
  const double v = node.ReadFloat(name, kDefault);
  return static_cast<float>(std::isfinite(v) && v > 0 ? v : kDefault);
}

} // namespace

// ---------------------------------------------------------------------------------------
// settings

void TdtpDocument::WriteDocumentXml(xml::TXmlNode node) {
  node.WriteHex("HandleColor", static_cast<uint32_t>(m_HandleColor), 8, 0);
  node.WriteHex("HandleEdgeColor", static_cast<uint32_t>(m_HandleEdgeColor), 8, 0);
  node.WriteInteger("HotzoneScrolling", m_HotzoneScrolling, 0);
  node.WriteInteger("StretchFilter", m_Quality, 0);
  node.WriteBool("ReadOnly", m_ReadOnly, false);
  node.WriteFloat("RenderDpm", m_RenderDpm, 0);
  node.WriteFloat("ScreenDpm", m_ScreenDpm, 0);
  node.WriteBool("StoreThumbnails", m_StoreThumbnails, true);
  node.WriteBool("ShowMargins", m_ShowMargins, false);
  node.WriteBool("SnapToGrid", m_SnapToGrid, false);
  node.WriteFloat("StepAngle", m_StepAngle, 0);
  node.WriteInteger("ViewStyle", m_ViewStyle, 0);
  node.WriteFloat("DefaultPageWidth", m_DefaultPageWidth, 0);
  node.WriteFloat("DefaultPageHeight", m_DefaultPageHeight, 0);
  node.WriteFloat("DefaultMarginLeft", m_DefaultMarginLeft, 0);
  node.WriteFloat("DefaultMarginTop", m_DefaultMarginTop, 0);
  node.WriteFloat("DefaultMarginRight", m_DefaultMarginRight, 0);
  node.WriteFloat("DefaultMarginBottom", m_DefaultMarginBottom, 0);
  node.WriteFloat("DefaultGridSize", m_DefaultGridSize, 0);
  node.WriteColor("DefaultGridColor", m_DefaultGridColor, 0);
  node.WriteColor("DefaultPageColor", m_DefaultPageColor, 0);
  if (m_DefaultBgrImage->HasContent())
    m_DefaultBgrImage->SaveToXml(node.AddChild("DefaultBgrImage"));
  node.WriteBool("DefaultBgrTiled", m_DefaultBackgroundTiled, false);
  node.WriteInteger("ThumbnailWidth", m_ThumbnailWidth, 0);
  node.WriteInteger("ThumbnailHeight", m_ThumbnailHeight, 0);
  node.WriteBool("FontEmbedding", m_FontEmbedding, false);
  if (OnSaveAdditionalInfo) OnSaveAdditionalInfo(this, node);
}

void TdtpDocument::ReadDocumentXml(xml::TXmlNode node) {
  const auto f = [&](const char* name, double def) {
    return static_cast<float>(node.ReadFloat(name, def));
  };
  m_HandleColor = node.ReadColor("HandleColor", 0);
  m_HandleEdgeColor = node.ReadColor("HandleEdgeColor", 0);
  m_HotzoneScrolling = ReadEnum(node, "HotzoneScrolling", hzsWhenMouseDown, hzsNoScroll);
  m_Quality = ReadEnum(node, "StretchFilter", sfMitchell, sfNearest);
  // Through the setter: a read-only card leaves the editing mode.
  SetReadOnly(node.ReadBool("ReadOnly", false));
  m_RenderDpm = ReadDpm(node, "RenderDpm");
  m_ScreenDpm = ReadDpm(node, "ScreenDpm");
  m_StoreThumbnails = node.ReadBool("StoreThumbnails", true);
  m_ShowMargins = node.ReadBool("ShowMargins", false);
  m_SnapToGrid = node.ReadBool("SnapToGrid", false);
  m_StepAngle = f("StepAngle", 0);
  m_ViewStyle = ReadEnum(node, "ViewStyle", vsNormal, vsPrintLayout);
  m_DefaultPageWidth = f("DefaultPageWidth", 210);
  m_DefaultPageHeight = f("DefaultPageHeight", 297);
  m_DefaultMarginLeft = f("DefaultMarginLeft", 10);
  m_DefaultMarginTop = f("DefaultMarginTop", 10);
  m_DefaultMarginRight = f("DefaultMarginRight", 10);
  m_DefaultMarginBottom = f("DefaultMarginBottom", 10);
  m_DefaultGridSize = f("DefaultGridSize", 5);
  m_DefaultGridColor = node.ReadColor("DefaultGridColor", 0xFFFFC0);
  m_DefaultPageColor = node.ReadColor("DefaultPageColor", 0xFFFFFF);
  ReadDefaultBgrImage(node.FindChild("DefaultBgrImage"));
  m_DefaultBackgroundTiled = node.ReadBool("DefaultBgrTiled", false);
  m_ThumbnailWidth = ReadThumbnailSide(node, "ThumbnailWidth", 80);
  m_ThumbnailHeight = ReadThumbnailSide(node, "ThumbnailHeight", 60);
  m_FontEmbedding = node.ReadBool("FontEmbedding", false);
  if (OnLoadAdditionalInfo) OnLoadAdditionalInfo(this, node);
}

// A default picture that cannot be read leaves the card without it; the card still opens
// and OnLoadError (with no shape) tells why.
void TdtpDocument::ReadDefaultBgrImage(xml::TXmlNode element) {
  TdtpBitmapResource& image = *m_DefaultBgrImage;
  const auto report = [&](const std::string& message) {
    if (OnLoadError) OnLoadError(this, nullptr, message);
  };
  ReadPictureElement(element, image, report);
}

// ---------------------------------------------------------------------------------------
// container

void TdtpDocument::LoadFromArchive() {
  TResourcesGuard resources;
  TLoadingGuard loading(*this);
  if (!m_Storage) throw EDtpError(kNoArchive);
  xml::TXmlDocument index;
  ParseIndex(*m_Storage, index);
  ReadDocumentXml(index.Root());

  const int count = StoredPageCount(*m_Storage);
  if (count > kMaxPageCount) throw EDtpError("Invalid page count");
  // Embedded fonts are skipped: there is no font manager to take them yet.
  (void)kFontsPart;

  for (int c = 0; c < count; ++c) {
    if (OnProgress) OnProgress(this, ptLoad, c + 1, count, static_cast<float>(c) / count);
    auto page = std::make_unique<TdtpPage>();
    page->SetContentLoaded(false);
    if (m_StoreThumbnails)
      if (auto thumb = ReadThumbnail(*m_Storage, c + 1)) page->SetThumbnail(thumb.get());
    AddPage(std::move(page));
  }
  SetCurrentPageIndex(0);
  SetModified(false);
  if (OnProgress) OnProgress(this, ptLoad, count, count, 1);
  Repaint();
}

void TdtpDocument::SaveToArchive() {
  TResourcesGuard resources;
  if (!m_Storage) throw EDtpError(kNoArchive);
  {
    xml::TXmlDocument index;
    WriteDocumentXml(index.CreateRoot("Document"));
    m_Storage->WriteStream(kIndexPart, AsBytes(index.WriteIndented()));
  }
  // Fonts.dat would be written here once fonts can be embedded.

  const int count = PageCount();
  for (int p = 0; p < count; ++p) {
    TdtpPage* page = Pages(p);
    const std::string part = PagePartName(p + 1);
    if (!page->Modified() && m_Storage->StreamExists(part)) continue;
    page->EnsureLoaded();
    const auto progress = [&](double share) {
      if (OnProgress)
        OnProgress(this, ptSave, p + 1, count, static_cast<float>((p + share) / count));
    };
    progress(0.2);
    xml::TXmlDocument doc;
    xml::TXmlNode root = doc.CreateRoot("Page");
    root.SetAttribute("Index", std::to_string(p + 1));
    page->SaveToXml(root);
    const std::string text = doc.WriteCompact();
    progress(0.6);
    m_Storage->WriteStream(part, AsBytes(text));
    progress(0.7);
    if (m_StoreThumbnails) {
      if (const TBitmap32* thumb = page->Thumbnail())
        m_Storage->WriteStream(ThumbPartName(p + 1), EncodeThumbnail(*thumb));
      else
        m_Storage->DeleteStream(ThumbPartName(p + 1));
    }
    TrimResources();
  }
  if (OnProgress) OnProgress(this, ptSave, count, count, 1);
  SetModified(false);
  // A page can carry its flag while the document's is already off; stored means clean.
  for (auto& page : m_Pages) page->SetModified(false);
  if (!m_UndoPastSave) ClearUndo();
}

// ---------------------------------------------------------------------------------------
// files and streams

namespace {

// The new container is filled and its index checked before the open document is cleared,
// so a card that cannot be read leaves the current one as it was.
template <class Bind> std::unique_ptr<TvqStorage> OpenCandidate(Bind bind) {
  auto storage = std::make_unique<TvqStorage>();
  bind(*storage);
  xml::TXmlDocument index;
  ParseIndex(*storage, index);
  return storage;
}

} // namespace

void TdtpDocument::LoadFromFile(const std::string& fileName) {
  CheckBusy();
  TBusyGuard busy(*this, crHourGlass);
  TResourcesGuard resources;
  std::error_code ec;
  if (fileName.empty() || !std::filesystem::is_regular_file(fileName, ec))
    throw EDtpError(FormatMessage(kFileNotFound, {fileName}));
  auto storage = OpenCandidate([&](TvqStorage& s) {
    if (m_ArchiveDirect)
      s.OpenDirect(fileName);
    else
      s.LoadFromFile(fileName);
  });
  Clear();
  m_OwnStorage = std::move(storage);
  m_Storage = m_OwnStorage.get();
  LoadFromArchive();
}

void TdtpDocument::LoadFromStream(const TvqStream& stream) {
  CheckBusy();
  TBusyGuard busy(*this, crHourGlass);
  TResourcesGuard resources;
  auto storage = OpenCandidate([&](TvqStorage& s) { s.LoadFromStream(stream); });
  Clear();
  m_OwnStorage = std::move(storage);
  m_Storage = m_OwnStorage.get();
  LoadFromArchive();
}

void TdtpDocument::SaveToFile(const std::string& fileName) {
  CheckBusy();
  TBusyGuard busy(*this, crHourGlass);
  TResourcesGuard resources;
  auto* archive = dynamic_cast<TvqStorage*>(m_Storage);
  if (!archive) throw EDtpError(kNoArchive);
  SaveToArchive();
  try {
    archive->SaveToFile(fileName);
  } catch (...) {
    // The card on disk is not what the document holds.
    SetModified(true);
    throw;
  }
}

void TdtpDocument::SaveToStream(TvqStream& stream) {
  CheckBusy();
  TBusyGuard busy(*this, crHourGlass);
  TResourcesGuard resources;
  auto* archive = dynamic_cast<TvqStorage*>(m_Storage);
  if (!archive) throw EDtpError(kNoArchive);
  SaveToArchive();
  try {
    archive->SaveToStream(stream);
  } catch (...) {
    SetModified(true);
    throw;
  }
}

} // namespace dtp
