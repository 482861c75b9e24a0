#pragma once
// Resources: the encoded bytes a shape or page depends on (typically a picture file),
// decoded on demand into an object and stored in one of four places: nowhere, an outside
// file, the card's storage container, or the XML element of the owner.
//
// Load levels: 0 nothing in memory, 1 the encoded bytes in Data, 2 the decoded object.
// The resource thread lowers the level of resources not used recently; ObjectModified and
// DataModified make sure a change is encoded and written to its place before anything is
// dropped, and data that has no place to go stays in memory.
//
// Every public operation runs under Lock (the process-wide resource lock). Code that keeps
// using a decoded object holds Lock for the whole use (TLockedBitmap does that), so the
// thread cannot unload it meanwhile.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/persistence/map_stream.h"
#include "platform/raster/bitmap32.h"
#include "platform/xml/xml.h"

namespace dtp {

class TdtpDocument;
class IStreamStorage;

// Where the data of a resource lives; the XML holds the text of the value.
enum TdtpResourceStorage : uint8_t { rsNone, rsExternal, rsArchive, rsEmbedded };

const char* ResourceStorageText(TdtpResourceStorage storage);

// Messages, compared literally by callers.
inline constexpr const char* kMsgAccessCountMismatch = "Access count mismatch";
inline constexpr const char* kMsgResourceFileMissing = "File does not exist: %s";
inline constexpr const char* kMsgUnsupportedEncoding = "Unsupported binary encoding";
inline constexpr const char* kMsgNoLoadMethod = "No method for object loading defined";
inline constexpr const char* kMsgNoStoreMethod = "No method for object storing defined";
inline constexpr const char* kMsgEmbeddedDataTruncated = "Embedded data is shorter than its size";

// What a resource decodes its data into.
class TResourceObject {
public:
  virtual ~TResourceObject() = default;
};

class TBitmapObject : public TResourceObject {
public:
  TBitmap32 Bitmap;
};

class TdtpResource {
public:
  using TObjectEvent =
      std::function<void(TdtpResource* sender, std::unique_ptr<TResourceObject>& object)>;
  using TNotifyEvent = std::function<void(TdtpResource* sender)>;

  TdtpResource() : TdtpResource(true) {}
  virtual ~TdtpResource();
  TdtpResource(const TdtpResource&) = delete;
  TdtpResource& operator=(const TdtpResource&) = delete;

  static std::string StaticClassName() { return "TdtpResource"; }
  virtual std::string ClassName() const { return StaticClassName(); }

  // --- virtual operations -------------------------------------------------------------
  // Encodes Obj into Data / decodes Data into a new Obj; the base has no method for either.
  virtual void StoreObject();
  virtual void LoadObject();
  // Data := the whole content of FileName.
  virtual void ReadFile();
  // Bytes the decoded object occupies.
  virtual int64_t ObjectSize() const;
  // The archive part of the data (Archive storage with a name).
  virtual void GetResourceNames(std::vector<std::string>& list) const;
  // Forgets data, names and object; fires the object change when there was an object.
  virtual void Clear();
  // Called by the resource thread: drops what can be read again when needed.
  virtual void Unload();
  virtual void LoadFromXml(xml::TXmlNode node);
  virtual void SaveToXml(xml::TXmlNode node);
  // A copy of the source's description and, where it lives in a document's container or
  // another document's outside file, of its data, to be written to this resource's place.
  virtual void Assign(TdtpResource& source);

  // --- operations ---------------------------------------------------------------------
  void Lock();
  // Raises "Access count mismatch" without a matching Lock (and then releases nothing).
  void Unlock();
  // The decoded object (nullptr without data); a picture that does not decode raises the
  // decoder's error and leaves no object.
  TResourceObject* GetObject();
  void SetObject(std::unique_ptr<TResourceObject> object);
  // Clears the resource and reads the file; raises "File does not exist: %s" (the resource
  // then stays cleared and no event fires).
  void LoadFromFile(const std::string& fileName);
  TdtpResourceStorage Storage() const { return m_Storage; }
  void SetStorage(TdtpResourceStorage mode);
  void SetExtension(const std::string& extension);
  std::string GetExtension() const;
  IStreamStorage* StorageContainer() const;
  int Level() const;
  void SetLevel(int level);
  // Encodes a changed object and writes changed data to its place now (so that an archive
  // resource has its part and its name).
  void FlushData();

  // True when there is something to save: data, an object, or a place that holds them.
  bool HasContent() const;
  // True when the outside file or archive part the resource names is not there.
  bool IsMissing() const;

  int32_t AccessCount() const { return m_AccessCount.load(); }
  const std::string& ArchiveName() const { return m_ArchiveName; }
  const std::string& FileName() const { return m_FileName; }
  bool ObjectModified() const { return m_ObjectModified; }
  bool DataModified() const { return m_DataModified; }
  bool DataLoaded() const { return m_DataLoaded; }
  TMapStream& Data() { return m_Data; }
  const TMapStream& Data() const { return m_Data; }
  TdtpDocument* Document() const { return m_Document; }
  void SetDocument(TdtpDocument* document);
  TResourceObject* Obj() const { return m_Obj.get(); }

  TObjectEvent OnLoadObject;
  TObjectEvent OnStoreObject;
  TNotifyEvent OnChange;
  TNotifyEvent OnObjectChange;

protected:
  // Derived classes pass false and list the resource at the end of their own constructor,
  // and unlist it first thing in their destructor, so the thread never sees them half built.
  explicit TdtpResource(bool list);
  void ListInThread();
  void UnlistFromThread();

  void EnsureData();
  void DecodeObject();
  void StoreIfModified();
  void DropObject();
  void DropData();
  void Flush();
  void ReadExternal();
  void ReadArchive();
  void WriteExternal();
  void WriteArchive();
  void FireObjectChange();
  void Touch();
  void ReplaceObject(std::unique_ptr<TResourceObject> object) { m_Obj = std::move(object); }
  void SetObjectModified(bool v) { m_ObjectModified = v; }

private:
  std::atomic<int32_t> m_AccessCount{0};
  std::string m_ArchiveName;
  std::string m_FileName;
  bool m_ObjectModified = false;
  TMapStream m_Data;
  bool m_DataModified = false;
  bool m_DataLoaded = false;
  TdtpResourceStorage m_Storage = rsEmbedded;
  TdtpDocument* m_Document = nullptr;
  std::unique_ptr<TResourceObject> m_Obj;
  bool m_Listed = false;
};

class TdtpBitmapResource : public TdtpResource {
public:
  TdtpBitmapResource();
  ~TdtpBitmapResource() override;

  static std::string StaticClassName() { return "TdtpBitmapResource"; }
  std::string ClassName() const override { return StaticClassName(); }

  void StoreObject() override;
  void LoadObject() override;
  // Formats that read streams keep the file's bytes; others are re-encoded as QZP.
  void ReadFile() override;
  int64_t ObjectSize() const override;

  // The decoded picture, decoding on demand; nullptr without data.
  TBitmap32* Bitmap();
  // Copies the picture in (".qzp" becomes the extension of a resource without one);
  // nullptr clears the resource.
  void SetBitmap(const TBitmap32* bitmap);
  // The picture was changed in place: encode it again before it is dropped or stored.
  void BitmapChanged();
};

// Holds the resource locked and its decoded picture for the lifetime of the handle.
class TLockedBitmap {
public:
  TLockedBitmap() = default;
  // Raises what decoding raises (the lock is released again).
  explicit TLockedBitmap(TdtpBitmapResource* resource);
  ~TLockedBitmap();
  TLockedBitmap(TLockedBitmap&& other) noexcept;
  TLockedBitmap& operator=(TLockedBitmap&& other) noexcept;
  TLockedBitmap(const TLockedBitmap&) = delete;
  TLockedBitmap& operator=(const TLockedBitmap&) = delete;

  // Like the constructor, but a picture that does not decode gives an empty handle.
  static TLockedBitmap TryLock(TdtpBitmapResource* resource) noexcept;

  TBitmap32* get() const { return m_Bitmap; }
  TBitmap32* operator->() const { return m_Bitmap; }
  TBitmap32& operator*() const { return *m_Bitmap; }
  explicit operator bool() const { return m_Bitmap != nullptr; }

private:
  void Release() noexcept;
  TdtpBitmapResource* m_Resource = nullptr;
  TBitmap32* m_Bitmap = nullptr;
};

// A resource's Lock for a scope.
class TResourceLock {
public:
  explicit TResourceLock(TdtpResource& r) : m_Resource(r) { m_Resource.Lock(); }
  ~TResourceLock() { m_Resource.Unlock(); }
  TResourceLock(const TResourceLock&) = delete;
  TResourceLock& operator=(const TResourceLock&) = delete;

private:
  TdtpResource& m_Resource;
};

// Reads a picture element into `image`: the older packed form (with "SourceSize"), a
// resource element, or, for a missing element, no picture. What cannot be read leaves the
// image without its picture and goes to `report`, as does a missing outside file or part.
void ReadPictureElement(xml::TXmlNode element, TdtpBitmapResource& image,
                        const std::function<void(const std::string&)>& report);

} // namespace dtp
