#include "engine/persistence/resource.h"

#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

#include "engine/document/document.h"
#include "engine/graphics/raster_formats.h"
#include "engine/persistence/resource_thread.h"
#include "engine/persistence/storage.h"
#include "engine/persistence/xml_bitmap.h"
#include "platform/core/errors.h"
#include "platform/core/limits.h"
#include "platform/core/text.h"

namespace dtp {

namespace {

constexpr const char* kStorageTexts[] = {"None", "External", "Archive", "Embedded"};

bool FileExists(const std::string& name) {
  std::error_code ec;
  return !name.empty() && std::filesystem::is_regular_file(name, ec);
}

// A new part name for the extension; containers that cannot make one get the same form.
std::string NewPartName(IStreamStorage& container, const std::string& extension) {
  if (auto* archive = dynamic_cast<TvqStorage*>(&container))
    return archive->UniqueStreamName(extension);
  static std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<int> digits(0, 9999999);
  for (;;) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "TMP%07d", digits(random));
    std::string name = buf + extension;
    if (!container.StreamExists(name)) return name;
  }
}

} // namespace

const char* ResourceStorageText(TdtpResourceStorage storage) {
  return storage <= rsEmbedded ? kStorageTexts[storage] : kStorageTexts[rsEmbedded];
}

// ---------------------------------------------------------------------------------------
// life

TdtpResource::TdtpResource(bool list) {
  if (list) ListInThread();
}

TdtpResource::~TdtpResource() {
  UnlistFromThread();
}

void TdtpResource::ListInThread() {
  TdtpResourceThread::Instance().Add(this);
  m_Listed = true;
}

void TdtpResource::UnlistFromThread() {
  if (!m_Listed) return;
  TdtpResourceThread::Instance().Remove(this);
  m_Listed = false;
}

void TdtpResource::SetDocument(TdtpDocument* document) {
  TResourceLock lock(*this);
  m_Document = document;
}

IStreamStorage* TdtpResource::StorageContainer() const {
  return m_Document ? m_Document->Storage() : nullptr;
}

// ---------------------------------------------------------------------------------------
// locking

void TdtpResource::Lock() {
  ++m_AccessCount;
  LockResources();
}

void TdtpResource::Unlock() {
  // Releasing a lock this thread does not hold would be undefined; the mismatch is raised
  // before anything is released.
  if (m_AccessCount.load() <= 0) throw EDtpError(kMsgAccessCountMismatch);
  UnlockResources();
  --m_AccessCount;
}

void TdtpResource::Touch() {
  TdtpResourceThread::Instance().Touch(this);
}

// ---------------------------------------------------------------------------------------
// levels

int TdtpResource::Level() const {
  if (m_Obj || m_ObjectModified) return 2;
  if (m_Data.Size() > 0 || m_DataModified) return 1;
  return 0;
}

void TdtpResource::SetLevel(int level) {
  TResourceLock lock(*this);
  const int c = Level();
  switch (level) {
  case 0:
    if (c == 2) DropObject();
    if (Level() == 1) DropData();
    break;
  case 1:
    if (c == 0) EnsureData();
    if (c == 2) DropObject();
    break;
  case 2:
    if (c == 0) EnsureData();
    if (Level() == 1) DecodeObject();
    break;
  default:
    break;
  }
}

void TdtpResource::FlushData() {
  TResourceLock lock(*this);
  Flush();
}

void TdtpResource::EnsureData() {
  if (m_ObjectModified) {
    StoreIfModified();
    return;
  }
  if (m_DataModified || m_DataLoaded) return;
  if (m_Storage == rsExternal)
    ReadExternal();
  else if (m_Storage == rsArchive)
    ReadArchive();
}

void TdtpResource::DecodeObject() {
  TResourceLock lock(*this);
  if (m_ObjectModified) return;
  m_Obj.reset();
  EnsureData();
  if (m_Data.Size() == 0) return;
  m_Data.SetPosition(0);
  if (OnLoadObject)
    OnLoadObject(this, m_Obj);
  else
    LoadObject();
  m_ObjectModified = false;
}

void TdtpResource::StoreIfModified() {
  if (!m_ObjectModified) return;
  m_Data.Clear();
  if (m_Obj) {
    if (OnStoreObject)
      OnStoreObject(this, m_Obj);
    else
      StoreObject();
  }
  m_DataModified = true;
  m_ObjectModified = false;
}

void TdtpResource::DropObject() {
  StoreIfModified();
  m_Obj.reset();
}

void TdtpResource::DropData() {
  Flush();
  if (m_DataModified) return; // no place could take it: it stays in memory
  m_Data.Clear();
  m_DataLoaded = false;
}

void TdtpResource::Flush() {
  StoreIfModified();
  if (!m_DataModified) return;
  if (m_Storage == rsExternal)
    WriteExternal();
  else if (m_Storage == rsArchive)
    WriteArchive();
}

// ---------------------------------------------------------------------------------------
// data places

void TdtpResource::ReadFile() {
  TRasterFileStream file(m_FileName, TRasterFileStream::fmOpenRead);
  const int64_t size = file.Size();
  if (size > limits::kMaxPictureBytes) throw EStreamError("Stream read error");
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (!bytes.empty()) file.ReadBuffer(bytes.data(), bytes.size());
  m_Data.Assign(bytes.data(), bytes.size());
}

void TdtpResource::ReadExternal() {
  m_Data.Clear();
  m_DataModified = false;
  if (!FileExists(m_FileName)) return;
  ReadFile();
  m_DataLoaded = true;
  // Archive data gets a part name of its own when it is written (WriteArchive): naming
  // the part after the outside file would let two resources share, and overwrite, a part.
  if (m_Storage != rsExternal) m_DataModified = true;
}

void TdtpResource::ReadArchive() {
  m_Data.Clear();
  m_DataModified = false;
  IStreamStorage* container = StorageContainer();
  if (!m_ArchiveName.empty() && container) {
    try {
      const std::vector<uint8_t> bytes = container->ReadStream(m_ArchiveName);
      m_Data.Assign(bytes.data(), bytes.size());
    } catch (const std::exception&) {
      m_Data.Clear();
    }
  }
  if (m_Data.Size() == 0) m_ArchiveName.clear();
  m_DataLoaded = true;
}

void TdtpResource::WriteExternal() {
  if (!m_DataModified || m_FileName.empty() || m_FileName[0] == '.') return;
  // An outside file is never overwritten.
  if (std::filesystem::exists(m_FileName)) return;
  const std::vector<uint8_t> bytes = m_Data.Bytes();
  TRasterFileStream file(m_FileName, TRasterFileStream::fmCreate);
  if (!bytes.empty()) file.Write(bytes.data(), bytes.size());
  file.Close();
  m_DataModified = false;
}

void TdtpResource::WriteArchive() {
  IStreamStorage* container = StorageContainer();
  if (!m_DataModified || !container) return;
  if (m_Data.Size() > 0) {
    if (m_ArchiveName.empty()) m_ArchiveName = NewPartName(*container, GetExtension());
    container->WriteStream(m_ArchiveName, m_Data.Bytes());
  } else {
    if (!m_ArchiveName.empty()) container->DeleteStream(m_ArchiveName);
    m_ArchiveName.clear();
  }
  m_DataModified = false;
}

// ---------------------------------------------------------------------------------------
// object

void TdtpResource::StoreObject() {
  throw EDtpError(kMsgNoStoreMethod);
}

void TdtpResource::LoadObject() {
  throw EDtpError(kMsgNoLoadMethod);
}

int64_t TdtpResource::ObjectSize() const {
  return m_Obj ? m_Data.Size() : 0;
}

TResourceObject* TdtpResource::GetObject() {
  TResourceLock lock(*this);
  Touch();
  SetLevel(2);
  return m_Obj.get();
}

void TdtpResource::SetObject(std::unique_ptr<TResourceObject> object) {
  TResourceLock lock(*this);
  if (object.get() == m_Obj.get()) return;
  m_Obj = std::move(object);
  m_ObjectModified = true;
  Touch();
  FireObjectChange();
}

void TdtpResource::FireObjectChange() {
  if (OnObjectChange) OnObjectChange(this);
  Flush();
}

void TdtpResource::Clear() {
  TResourceLock lock(*this);
  m_Data.Clear();
  m_ArchiveName.clear();
  m_FileName.clear();
  m_ObjectModified = false;
  m_DataModified = false;
  m_DataLoaded = false;
  if (m_Obj) {
    m_Obj.reset();
    FireObjectChange();
  }
}

void TdtpResource::Unload() {
  if (m_AccessCount.load() > 0) return;
  if (m_Storage == rsNone || m_Storage == rsEmbedded)
    SetLevel(1);
  else
    SetLevel(0);
}

void TdtpResource::LoadFromFile(const std::string& fileName) {
  TResourceLock lock(*this);
  Clear();
  if (!FileExists(fileName)) throw EDtpError(FormatMessage(kMsgResourceFileMissing, {fileName}));
  std::error_code ec;
  const std::filesystem::path full = std::filesystem::absolute(fileName, ec);
  m_FileName = ec ? fileName : full.lexically_normal().string();
  ReadExternal();
  if (m_Data.Size() > 0 && m_DataModified && m_Storage == rsArchive) WriteArchive();
  if (OnChange) OnChange(this);
  FireObjectChange();
}

void TdtpResource::SetStorage(TdtpResourceStorage mode) {
  TResourceLock lock(*this);
  if (mode == m_Storage || mode > rsEmbedded) return;
  EnsureData();
  m_Storage = mode;
  m_DataModified = true;
  Flush();
}

void TdtpResource::SetExtension(const std::string& extension) {
  if (m_FileName.empty()) {
    m_FileName = extension;
    return;
  }
  const std::string ext = ExtractFileExt(m_FileName);
  m_FileName = m_FileName.substr(0, m_FileName.size() - ext.size()) + extension;
}

std::string TdtpResource::GetExtension() const {
  return LowerCase(ExtractFileExt(m_FileName));
}

void TdtpResource::GetResourceNames(std::vector<std::string>& list) const {
  if (m_Storage == rsArchive && !m_ArchiveName.empty()) list.push_back(m_ArchiveName);
}

bool TdtpResource::HasContent() const {
  if (m_Obj || m_ObjectModified || m_Data.Size() > 0) return true;
  if (m_Storage == rsExternal) return !m_FileName.empty() && m_FileName[0] != '.';
  if (m_Storage == rsArchive) return !m_ArchiveName.empty();
  return false;
}

bool TdtpResource::IsMissing() const {
  if (m_Storage == rsExternal)
    return !m_FileName.empty() && m_FileName[0] != '.' && !FileExists(m_FileName);
  if (m_Storage == rsArchive) {
    if (m_Data.Size() > 0 || m_DataModified) return false;
    const IStreamStorage* container = StorageContainer();
    return m_ArchiveName.empty() || !container || !container->StreamExists(m_ArchiveName);
  }
  return false;
}

// ---------------------------------------------------------------------------------------
// XML

void TdtpResource::SaveToXml(xml::TXmlNode node) {
  TResourceLock lock(*this);
  node.WriteString("ClassName", ClassName());
  StoreIfModified();
  switch (m_Storage) {
  case rsExternal:
    WriteExternal();
    break;
  case rsArchive:
    WriteArchive();
    break;
  case rsEmbedded:
    m_DataModified = false;
    if (m_Data.Size() > 0) {
      xml::TXmlNode data = node.AddChild("Data");
      data.WriteInteger("Size", m_Data.Size(), 0);
      data.WriteString("Filter", "Base64");
      data.WriteBinary("Buffer", m_Data.Bytes());
    }
    break;
  default:
    break;
  }
  node.WriteString("ArchiveName", m_ArchiveName);
  node.WriteString("FileName", m_FileName);
  node.WriteString("Storage", ResourceStorageText(m_Storage));
}

void TdtpResource::LoadFromXml(xml::TXmlNode node) {
  TResourceLock lock(*this);
  Clear();
  m_ArchiveName = node.ReadString("ArchiveName");
  m_FileName = node.ReadString("FileName");
  const std::string storage = node.ReadString("Storage");
  for (int i = rsNone; i <= rsEmbedded; ++i)
    if (SameText(storage, kStorageTexts[i])) m_Storage = static_cast<TdtpResourceStorage>(i);
  switch (m_Storage) {
  case rsExternal:
    ReadExternal();
    break;
  case rsArchive:
    ReadArchive();
    break;
  case rsEmbedded: {
    m_DataModified = false;
    m_Data.Clear();
    const xml::TXmlNode data = node.FindChild("Data");
    if (!data) break;
    const int64_t size = data.ReadInteger("Size", 0);
    if (size == 0) break;
    const std::string filter = data.ReadString("Filter");
    if (!SameText(filter, "BinHex") && !SameText(filter, "Base64"))
      throw EDtpError(kMsgUnsupportedEncoding);
    std::vector<uint8_t> bytes = data.ReadBinary("Buffer", filter);
    // A size the buffer cannot fill would be made up of bytes that were never stored.
    if (size < 0 || static_cast<int64_t>(bytes.size()) < size)
      throw EStreamError(kMsgEmbeddedDataTruncated);
    m_Data.Assign(bytes.data(), static_cast<size_t>(size));
    break;
  }
  default:
    break;
  }
}

void TdtpResource::Assign(TdtpResource& source) {
  if (&source == this) return;
  TResourceLock lock(*this);
  xml::TXmlDocument doc;
  xml::TXmlNode root = doc.CreateRoot("Resource");
  source.SaveToXml(root);
  LoadFromXml(root);
  m_ArchiveName.clear();
  const bool otherDocument = source.m_Document != m_Document;
  // Archive data is always copied: without its part name this resource could not read it
  // again, and with it the two resources would share one part.
  if ((m_Storage == rsExternal && otherDocument) || m_Storage == rsArchive) {
    source.EnsureData();
    m_Data.Assign(source.m_Data);
    m_DataModified = true;
  }
}

// ---------------------------------------------------------------------------------------
// pictures

TdtpBitmapResource::TdtpBitmapResource() : TdtpResource(false) {
  ListInThread();
}

TdtpBitmapResource::~TdtpBitmapResource() {
  UnlistFromThread();
}

void TdtpBitmapResource::ReadFile() {
  const TRasterClass* format = FindRasterFormat(FileName());
  if (format && (RasterFormatFlags(*format) & rfReadStream)) {
    TdtpResource::ReadFile();
    return;
  }
  TBitmap32 picture;
  TdtpImageFiler reader;
  reader.SetFileName(FileName());
  reader.Load(&picture);
  Data().Clear();
  TdtpImageFiler writer;
  writer.SetStream(&Data());
  writer.SetExtension(".qzp");
  writer.Save(&picture);
  SetExtension(".qzp");
}

void TdtpBitmapResource::LoadObject() {
  auto object = std::make_unique<TBitmapObject>();
  TdtpImageFiler filer;
  filer.SetStream(&Data());
  filer.SetExtension(GetExtension());
  filer.SetPageIndex(0);
  try {
    filer.Load(&object->Bitmap);
  } catch (...) {
    ReplaceObject(nullptr);
    throw;
  }
  ReplaceObject(std::move(object));
}

void TdtpBitmapResource::StoreObject() {
  const TRasterClass* format = FindRasterFormat(GetExtension());
  if (!format) return;
  if (!(RasterFormatFlags(*format) & rfWriteStream)) SetExtension(".qzp");
  auto* object = dynamic_cast<TBitmapObject*>(Obj());
  if (!object) return;
  TdtpImageFiler filer;
  filer.SetStream(&Data());
  filer.SetExtension(GetExtension());
  filer.Save(&object->Bitmap);
}

int64_t TdtpBitmapResource::ObjectSize() const {
  const auto* object = dynamic_cast<const TBitmapObject*>(Obj());
  return object ? int64_t(object->Bitmap.Width()) * object->Bitmap.Height() * 4 : 0;
}

TBitmap32* TdtpBitmapResource::Bitmap() {
  auto* object = dynamic_cast<TBitmapObject*>(GetObject());
  return object ? &object->Bitmap : nullptr;
}

void TdtpBitmapResource::SetBitmap(const TBitmap32* bitmap) {
  {
    TResourceLock lock(*this);
    if (!bitmap) {
      Clear();
      return;
    }
    if (!dynamic_cast<TBitmapObject*>(Obj())) {
      // The new picture replaces whatever the data held; one change is reported below.
      ReplaceObject(std::make_unique<TBitmapObject>());
      if (GetExtension().empty()) SetExtension(".qzp");
      Touch();
    }
    auto* object = static_cast<TBitmapObject*>(Obj());
    object->Bitmap = *bitmap;
    SetObjectModified(true);
  }
  TResourceLock lock(*this);
  FireObjectChange();
}

void TdtpBitmapResource::BitmapChanged() {
  TResourceLock lock(*this);
  SetObjectModified(true);
  FireObjectChange();
}

// ---------------------------------------------------------------------------------------
// locked pictures

TLockedBitmap::TLockedBitmap(TdtpBitmapResource* resource) {
  if (!resource) return;
  resource->Lock();
  try {
    m_Bitmap = resource->Bitmap();
  } catch (...) {
    resource->Unlock();
    throw;
  }
  m_Resource = resource;
}

TLockedBitmap TLockedBitmap::TryLock(TdtpBitmapResource* resource) noexcept {
  try {
    return TLockedBitmap(resource);
  } catch (...) {
    return {};
  }
}

TLockedBitmap::~TLockedBitmap() {
  Release();
}

TLockedBitmap::TLockedBitmap(TLockedBitmap&& other) noexcept
    : m_Resource(other.m_Resource), m_Bitmap(other.m_Bitmap) {
  other.m_Resource = nullptr;
  other.m_Bitmap = nullptr;
}

TLockedBitmap& TLockedBitmap::operator=(TLockedBitmap&& other) noexcept {
  if (this != &other) {
    Release();
    m_Resource = other.m_Resource;
    m_Bitmap = other.m_Bitmap;
    other.m_Resource = nullptr;
    other.m_Bitmap = nullptr;
  }
  return *this;
}

void TLockedBitmap::Release() noexcept {
  if (!m_Resource) return;
  try {
    m_Resource->Unlock();
  } catch (...) {
  }
  m_Resource = nullptr;
  m_Bitmap = nullptr;
}

void ReadPictureElement(xml::TXmlNode element, TdtpBitmapResource& image,
                        const std::function<void(const std::string&)>& report) {
  try {
    if (!element) {
      image.Clear();
    } else if (element.FindChild("SourceSize")) {
      std::unique_ptr<TBitmap32> picture;
      if (ReadXmlBitmap32(element.Parent(), element.Name(), picture))
        image.SetBitmap(picture.get());
      else
        image.Clear();
    } else {
      const std::string archiveName = element.ReadString("ArchiveName");
      image.LoadFromXml(element);
      if (image.Storage() == rsExternal && image.IsMissing())
        report(FormatMessage(kMsgResourceFileMissing, {image.FileName()}));
      else if (image.Storage() == rsArchive && !archiveName.empty() && image.Data().Size() == 0)
        report(FormatMessage("Stream \"%s\" not found in the storage", {archiveName}));
    }
  } catch (const std::exception& e) {
    report(e.what());
  }
}

} // namespace dtp
