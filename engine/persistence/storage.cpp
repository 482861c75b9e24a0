#include "engine/persistence/storage.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

#include "platform/core/errors.h"
#include "platform/core/text.h"

namespace dtp {

namespace fs = std::filesystem;

namespace {

constexpr const char* kNotFound = "Stream \"%s\" not found in the storage";
constexpr const char* kTempFile = "Unable to create temporary file";
constexpr const char* kRecursive = "Warning: recursive call to vqStorage from event";

bool FileExists(const std::string& fileName) {
  std::error_code ec;
  return !fileName.empty() && fs::exists(fs::path(fileName), ec);
}

fs::path FullPath(const std::string& fileName) {
  std::error_code ec;
  fs::path full = fs::weakly_canonical(fs::path(fileName), ec);
  if (ec) full = fs::absolute(fs::path(fileName), ec).lexically_normal();
  return full;
}

// Whether two names reach the same file. Letter case is significant on this system's file
// systems, so names are compared after expansion and, for existing files, by identity.
bool SameFile(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  if (FullPath(a) == FullPath(b)) return true;
  std::error_code ec;
  return fs::equivalent(fs::path(a), fs::path(b), ec) && !ec;
}

// A new file for a work stream that outgrew its memory; ".tmp" lets reset recognise it.
std::string CreateTemporaryWorkFile() {
  std::error_code ec;
  const fs::path folder = fs::temp_directory_path(ec);
  if (ec) throw EDtpError(kTempFile);
  std::string name = (folder / "~TMPXXXXXX.tmp").string();
  const int handle = ::mkostemps(name.data(), 4, O_CLOEXEC);
  if (handle < 0) throw EDtpError(kTempFile);
  ::close(handle);
  return name;
}

} // namespace

// Takes the lock for one public operation and refuses re-entry from the same thread.
class TvqStorage::TOperation {
public:
  explicit TOperation(const TvqStorage& storage) : m_Storage(storage), m_Guard(storage.m_Lock) {
    if (storage.m_Busy) throw EDtpError(kRecursive);
    storage.m_Busy = true;
  }
  ~TOperation() { m_Storage.m_Busy = false; }
  TOperation(const TOperation&) = delete;
  TOperation& operator=(const TOperation&) = delete;

private:
  const TvqStorage& m_Storage;
  std::unique_lock<std::recursive_mutex> m_Guard;
};

TvqStorage::TvqStorage() : m_Buffer(storage::kCopyBufferSize), m_Random(std::random_device{}()) {
  Reset();
}

TvqStorage::~TvqStorage() {
  std::lock_guard<std::recursive_mutex> guard(m_Lock);
  DropWorkStream();
}

void TvqStorage::DropWorkStream() noexcept {
  m_Work.reset();
  if (m_WorkFileTemporary && FileExists(m_WorkFileName) &&
      LowerCase(m_WorkFileName).find(".tmp") != std::string::npos) {
    std::error_code ec;
    fs::remove(fs::path(m_WorkFileName), ec);
  }
}

void TvqStorage::Reset() {
  DropWorkStream();
  m_WorkFileName.clear();
  m_WorkFileTemporary = true;
  m_Source.reset();
  m_SourceFileName.clear();
  m_Index.clear();
  m_Work = std::make_unique<TvqMemoryStream>();
}

bool TvqStorage::AutoSave() const {
  TOperation op(*this);
  return m_AutoSave;
}

void TvqStorage::SetAutoSave(bool value) {
  TOperation op(*this);
  if (value == m_AutoSave) return;
  m_AutoSave = value;
  if (m_FileName.empty()) return;
  const std::string fileName = m_FileName;
  if (m_AutoSave)
    DoOpenDirect(fileName);
  else
    DoLoadFromFile(fileName);
}

std::string TvqStorage::FileName() const {
  TOperation op(*this);
  return m_FileName;
}

void TvqStorage::SetFileName(const std::string& value) {
  TOperation op(*this);
  if (value == m_FileName) return;
  if (value.empty()) {
    Reset();
    m_FileName.clear();
  } else if (m_AutoSave) {
    DoOpenDirect(value);
  } else {
    DoLoadFromFile(value);
  }
}

int32_t TvqStorage::MemoryCache() const {
  TOperation op(*this);
  return m_MemoryCache;
}

void TvqStorage::SetMemoryCache(int32_t value) {
  TOperation op(*this);
  m_MemoryCache = value;
  // Never below the live index: in direct mode that would cut the card file's own index off.
  SetWorkSize(std::max(storage::UsedSize(m_Index), LiveIndexEnd()));
}

int TvqStorage::StreamCount() const {
  TOperation op(*this);
  return static_cast<int>(m_Index.size());
}

std::string TvqStorage::StreamNames(int index) const {
  TOperation op(*this);
  if (index < 0 || static_cast<size_t>(index) >= m_Index.size()) return {};
  return m_Index[static_cast<size_t>(index)].Name;
}

std::string TvqStorage::WorkFileName() const {
  TOperation op(*this);
  return m_WorkFileName;
}

void TvqStorage::SetFileSystem(IStorageFileSystem* fileSystem) {
  TOperation op(*this);
  m_FileSystem = fileSystem;
}

void TvqStorage::Clear() {
  TOperation op(*this);
  Reset();
  m_FileName.clear();
}

void TvqStorage::LoadFromFile(const std::string& fileName) {
  TOperation op(*this);
  DoLoadFromFile(fileName);
}

void TvqStorage::DoLoadFromFile(const std::string& fileName) {
  Reset();
  m_FileName = fileName;
  if (!FileExists(fileName)) return;
  try {
    m_Source = std::make_unique<TvqFileStream>(fileName, fmOpenRead);
    m_SourceFileName = fileName;
    m_Index = storage::ReadIndex(*m_Source, true);
    const std::vector<uint8_t> header = storage::LiveHeader();
    const std::vector<uint8_t> index = storage::LiveIndex(m_Index);
    m_Work->WriteAt(0, header.data(), header.size());
    m_Work->WriteAt(storage::kLiveIndexOffset, index.data(), index.size());
  } catch (...) {
    Reset();
    m_FileName.clear();
    throw;
  }
}

void TvqStorage::OpenDirect(const std::string& fileName) {
  TOperation op(*this);
  DoOpenDirect(fileName);
}

void TvqStorage::DoOpenDirect(const std::string& fileName) {
  Reset();
  m_WorkFileTemporary = false;
  m_WorkFileName = fileName;
  m_Work.reset();
  bool created = false;
  try {
    if (FileExists(fileName)) {
      m_Work = std::make_unique<TvqFileStream>(fileName, fmOpenReadWrite);
      m_Index = storage::ReadIndex(*m_Work, false);
    } else {
      m_Work = std::make_unique<TvqFileStream>(fileName, fmCreate);
      created = true;
      const std::vector<uint8_t> header = storage::LiveHeader();
      const std::vector<uint8_t> index = storage::LiveIndex(m_Index);
      m_Work->WriteAt(0, header.data(), header.size());
      m_Work->WriteAt(storage::kLiveIndexOffset, index.data(), index.size());
    }
    m_FileName = fileName;
  } catch (...) {
    Reset();
    m_FileName.clear();
    // A file this call created but could not complete is not left behind.
    if (created) {
      std::error_code ec;
      fs::remove(fs::path(fileName), ec);
    }
    throw;
  }
}

void TvqStorage::LoadFromStream(const TvqStream& stream) {
  TOperation op(*this);
  Reset();
  m_FileName.clear();
  try {
    const int64_t size = stream.Size();
    SetWorkSize(size);
    storage::CopyBlock(stream, 0, *m_Work, 0, size, m_Buffer);
    m_Index = storage::ReadIndex(*m_Work, false);
  } catch (...) {
    Reset();
    throw;
  }
}

void TvqStorage::SaveToFile(const std::string& fileName) {
  TOperation op(*this);
  if (!m_WorkFileTemporary && SameFile(m_WorkFileName, fileName)) return;
  if (m_Source && SameFile(m_SourceFileName, fileName)) PullSourceEntries();
  SaveCompactToFile(fileName);
}

void TvqStorage::SaveCompactToFile(const std::string& fileName) {
  // Replace what a symbolic link points to, not the link.
  std::error_code ec;
  const std::string target =
      fs::is_symlink(fs::path(fileName), ec) ? FullPath(fileName).string() : fileName;
  fs::path folder = fs::path(target).parent_path();
  if (folder.empty()) folder = ".";

  TvqFileLock lock(target);
  IStorageFileSystem& files = m_FileSystem ? *m_FileSystem : DefaultStorageFileSystem();
  std::string temporary;
  try {
    std::unique_ptr<IStorageFile> file = files.CreateTemporary(target, temporary);
    storage::WriteCompact(
        m_Index,
        [this](const TvqIndexItem& item, int64_t offset, uint8_t* data, size_t size) {
          ReadBlock(item, offset, data, size);
        },
        [&file](const uint8_t* data, size_t size) { file->Write(data, size); }, m_Buffer);
    file->Sync();
    file->Close();
    file.reset();
    files.Rename(temporary, target);
    temporary.clear();
  } catch (...) {
    if (!temporary.empty()) files.Remove(temporary);
    throw;
  }
  // The new file is in place; a failure here means it may not survive a power loss, which
  // is still a failed save.
  files.SyncFolder(folder.string());
}

void TvqStorage::SaveToStream(TvqStream& stream) {
  TOperation op(*this);
  int64_t position = stream.Position();
  storage::WriteCompact(
      m_Index,
      [this](const TvqIndexItem& item, int64_t offset, uint8_t* data, size_t size) {
        ReadBlock(item, offset, data, size);
      },
      [&](const uint8_t* data, size_t size) {
        stream.WriteAt(position, data, size);
        position += static_cast<int64_t>(size);
      },
      m_Buffer);
  stream.SetPosition(position);
}

void TvqStorage::ReadBlock(const TvqIndexItem& item, int64_t offset, uint8_t* data,
                           size_t size) const {
  const TvqStream& from = item.InSource ? static_cast<const TvqStream&>(*m_Source) : *m_Work;
  from.ReadAt(offset, data, size);
}

int TvqStorage::Find(std::string_view name) const {
  for (size_t i = 0; i < m_Index.size(); ++i)
    if (SameText(m_Index[i].Name, name)) return static_cast<int>(i);
  return -1;
}

void TvqStorage::ReadStream(std::string_view name, TvqStream& stream) const {
  TOperation op(*this);
  const int i = Find(name);
  if (i < 0) throw EDtpError(FormatMessage(kNotFound, {name}));
  const TvqIndexItem& item = m_Index[static_cast<size_t>(i)];
  stream.SetSize(item.Size);
  const TvqStream& from = item.InSource ? static_cast<const TvqStream&>(*m_Source) : *m_Work;
  storage::CopyBlock(from, item.Offset, stream, 0, item.Size, m_Buffer);
  stream.SetPosition(0);
}

std::vector<uint8_t> TvqStorage::ReadStream(std::string_view name) const {
  TvqMemoryStream out;
  ReadStream(name, out);
  return out.TakeBytes();
}

void TvqStorage::WriteStream(std::string_view name, const TvqStream& stream) {
  TOperation op(*this);
  WriteData(name, stream);
}

void TvqStorage::WriteStream(std::string_view name, const std::vector<uint8_t>& data) {
  TOperation op(*this);
  WriteData(name, TvqConstMemoryStream(data.data(), data.size()));
}

void TvqStorage::WriteData(std::string_view name, const TvqStream& stream) {
  const int64_t size = stream.Size();
  const int found = Find(name);
  if (found < 0 || m_Index[static_cast<size_t>(found)].InSource) {
    const int64_t offset = storage::Allocate(m_Index, size);
    if (offset + size > storage::UsedSize(m_Index)) SetWorkSize(offset + size);
    storage::CopyBlock(stream, 0, *m_Work, offset, size, m_Buffer);
    if (found < 0) m_Index.push_back({});
    TvqIndexItem& item = m_Index[found < 0 ? m_Index.size() - 1 : static_cast<size_t>(found)];
    item = {std::string(name), false, offset, size};
  } else {
    TvqIndexItem& existing = m_Index[static_cast<size_t>(found)];
    if (size > existing.Size) {
      // The old block still counts as occupied, so the new data never lands on it.
      const int64_t offset = storage::Allocate(m_Index, size);
      if (offset + size > storage::UsedSize(m_Index)) SetWorkSize(offset + size);
      storage::CopyBlock(stream, 0, *m_Work, offset, size, m_Buffer);
      TvqIndexItem& item = m_Index[static_cast<size_t>(found)];
      item.Offset = offset;
      item.Size = size;
    } else {
      storage::CopyBlock(stream, 0, *m_Work, existing.Offset, size, m_Buffer);
      existing.Size = size;
    }
  }
  WriteIndex();
}

void TvqStorage::DeleteStream(std::string_view name) {
  TOperation op(*this);
  const int found = Find(name);
  if (found < 0) return;
  m_Index.erase(m_Index.begin() + found);
  SetWorkSize(storage::UsedSize(m_Index));
  WriteIndex();
}

void TvqStorage::RenameStream(std::string_view from, std::string_view to) {
  TOperation op(*this);
  const int found = Find(from);
  if (found < 0) return;
  // A second part of the new name would hide the renamed one from every later look-up.
  TvqIndexItem renamed = m_Index[static_cast<size_t>(found)];
  bool replaced = false;
  std::vector<TvqIndexItem> index;
  index.reserve(m_Index.size());
  for (size_t i = 0; i < m_Index.size(); ++i) {
    if (static_cast<int>(i) != found && SameText(m_Index[i].Name, to)) {
      replaced = true;
      continue;
    }
    index.push_back(std::move(m_Index[i]));
    if (static_cast<int>(i) == found) index.back().Name = std::string(to);
  }
  m_Index = std::move(index);
  if (replaced) SetWorkSize(std::max(storage::UsedSize(m_Index), LiveIndexEnd()));
  WriteIndex();
}

bool TvqStorage::StreamExists(std::string_view name) const {
  TOperation op(*this);
  return Find(name) >= 0;
}

std::string TvqStorage::UniqueStreamName(std::string_view suffix) {
  TOperation op(*this);
  std::uniform_int_distribution<int> digit(0, 9);
  for (;;) {
    std::string name = "TMP";
    for (int i = 0; i < 7; ++i) name += static_cast<char>('0' + digit(m_Random));
    name += suffix;
    if (Find(name) < 0) return name;
  }
}

bool TvqStorage::IsTemporaryName(std::string_view name) {
  return name.size() >= 3 && SameText(name.substr(0, 3), "TMP");
}

int64_t TvqStorage::LiveIndexEnd() const {
  int64_t end = storage::kLiveIndexOffset + 4;
  for (const TvqIndexItem& item : m_Index)
    if (!item.InSource) end += storage::kEntryFixedSize + static_cast<int64_t>(item.Name.size());
  return end;
}

void TvqStorage::SetWorkSize(int64_t size) {
  if (size == m_Work->Size()) return;
  if (size > m_Work->Size() && m_WorkFileName.empty() && size > m_MemoryCache) {
    // Build the file completely before switching to it: a failure keeps the memory stream
    // and every part in it.
    std::string name;
    try {
      name = CreateTemporaryWorkFile();
      auto file = std::make_unique<TvqFileStream>(name, fmOpenReadWrite);
      storage::CopyBlock(*m_Work, 0, *file, 0, m_Work->Size(), m_Buffer);
      m_Work = std::move(file);
      m_WorkFileName = name;
      m_WorkFileTemporary = true;
    } catch (...) {
      if (!name.empty() && m_WorkFileName != name) {
        std::error_code ec;
        fs::remove(fs::path(name), ec);
      }
      throw EDtpError(kTempFile);
    }
  }
  m_Work->SetSize(size);
}

void TvqStorage::WriteIndex() {
  const int64_t limit = storage::IndexSizeEstimate(m_Index) + 6;
  for (;;) {
    TvqIndexItem* lowest = nullptr;
    for (TvqIndexItem& item : m_Index)
      if (!item.InSource && (!lowest || item.Offset < lowest->Offset)) lowest = &item;
    if (!lowest || lowest->Offset >= limit) break;
    if (lowest->Size == 0) {
      // An empty part has no bytes to move, and first fit would hand it back its own
      // position for ever; it goes past the index instead.
      const int64_t offset = std::max(limit, storage::UsedSize(m_Index));
      if (offset > m_Work->Size()) SetWorkSize(offset);
      lowest->Offset = offset;
      continue;
    }
    const int64_t offset = storage::Allocate(m_Index, lowest->Size);
    if (offset + lowest->Size > storage::UsedSize(m_Index)) SetWorkSize(offset + lowest->Size);
    storage::MoveBlock(*m_Work, lowest->Offset, offset, lowest->Size, m_Buffer);
    lowest->Offset = offset;
  }

  const std::vector<uint8_t> index = storage::LiveIndex(m_Index);
  const int64_t end = storage::kLiveIndexOffset + static_cast<int64_t>(index.size());
  if (end > m_Work->Size()) SetWorkSize(end);
  uint8_t offsetField[8];
  for (int i = 0; i < 8; ++i)
    offsetField[i] = static_cast<uint8_t>(uint64_t(storage::kLiveIndexOffset) >> (8 * i));
  m_Work->WriteAt(6, offsetField, sizeof offsetField);
  m_Work->WriteAt(storage::kLiveIndexOffset, index.data(), index.size());
}

void TvqStorage::PullSourceEntries() {
  for (TvqIndexItem& item : m_Index) {
    if (!item.InSource) continue;
    const int64_t offset = storage::Allocate(m_Index, item.Size);
    if (offset + item.Size > storage::UsedSize(m_Index)) SetWorkSize(offset + item.Size);
    storage::CopyBlock(*m_Source, item.Offset, *m_Work, offset, item.Size, m_Buffer);
    item.InSource = false;
    item.Offset = offset;
  }
  WriteIndex();
  m_Source.reset();
  m_SourceFileName.clear();
}

} // namespace dtp
