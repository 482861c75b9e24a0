#pragma once
// TvqStorage: the card file's compound container of named byte streams.
//
// All writes go to a work stream (memory, a temporary file once it outgrows MemoryCache, or
// the card file itself in direct mode); after LoadFromFile the unchanged streams are read
// from the source file until they are rewritten. Names compare without regard to case.
// Every operation is serialised by the container's own lock; re-entering from the same
// thread (from a callback inside an operation) raises instead of corrupting the state.
//
// Invalid input: a file whose header or index does not describe what the file holds raises
// and leaves the container empty; nothing is allocated from a field before it has been
// checked against the bytes that are really there.

#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "engine/persistence/storage_blocks.h"
#include "engine/persistence/storage_file_writer.h"
#include "engine/persistence/storage_stream.h"
#include "engine/persistence/stream_storage.h"

namespace dtp {

class TvqStorage : public IStreamStorage {
public:
  TvqStorage();
  ~TvqStorage() override;
  TvqStorage(const TvqStorage&) = delete;
  TvqStorage& operator=(const TvqStorage&) = delete;

  static constexpr int32_t kDefaultMemoryCache = 10485760;

  bool AutoSave() const;
  void SetAutoSave(bool value);
  std::string FileName() const;
  void SetFileName(const std::string& value);
  int32_t MemoryCache() const;
  void SetMemoryCache(int32_t value);
  int StreamCount() const;
  // Empty for an index out of range.
  std::string StreamNames(int index) const;

  void Clear();
  // A missing file leaves the container empty without error.
  void LoadFromFile(const std::string& fileName);
  void OpenDirect(const std::string& fileName);
  void LoadFromStream(const TvqStream& stream);
  // Writes the compact layout to a new file beside `fileName` and renames it over the old
  // file once it is on disk; a failure raises and leaves the old file as it was. Saving to
  // the file bound in direct mode does nothing: that file is always current.
  void SaveToFile(const std::string& fileName);
  // Writes the compact layout at the stream's position.
  void SaveToStream(TvqStream& stream);

  // Leaves `stream` holding exactly the part, positioned at 0.
  void ReadStream(std::string_view name, TvqStream& stream) const;
  // Stores the whole of `stream`, read from position 0.
  void WriteStream(std::string_view name, const TvqStream& stream);

  bool StreamExists(std::string_view name) const override;
  std::vector<uint8_t> ReadStream(std::string_view name) const override;
  void WriteStream(std::string_view name, const std::vector<uint8_t>& data) override;
  void DeleteStream(std::string_view name) override;
  // An existing other part named `to` is replaced.
  void RenameStream(std::string_view from, std::string_view to) override;

  // "TMP", seven random digits and `suffix`, not yet taken.
  std::string UniqueStreamName(std::string_view suffix);
  static bool IsTemporaryName(std::string_view name);

  // Where SaveToFile does its file operations; nullptr restores the real file system.
  void SetFileSystem(IStorageFileSystem* fileSystem);
  // The current work file (empty while the work stream is in memory).
  std::string WorkFileName() const;

private:
  class TOperation;
  friend class TOperation;

  void Reset();
  void DropWorkStream() noexcept;
  void DoLoadFromFile(const std::string& fileName);
  void DoOpenDirect(const std::string& fileName);
  int Find(std::string_view name) const;
  void SetWorkSize(int64_t size);
  void WriteIndex();
  void WriteData(std::string_view name, const TvqStream& stream);
  void PullSourceEntries();
  void ReadBlock(const TvqIndexItem& item, int64_t offset, uint8_t* data, size_t size) const;
  void SaveCompactToFile(const std::string& fileName);
  int64_t LiveIndexEnd() const;

  bool m_AutoSave = false;
  std::string m_FileName;
  int32_t m_MemoryCache = kDefaultMemoryCache;

  std::vector<TvqIndexItem> m_Index;
  std::unique_ptr<TvqStream> m_Work;
  std::string m_WorkFileName;
  bool m_WorkFileTemporary = true;
  std::unique_ptr<TvqFileStream> m_Source;
  std::string m_SourceFileName;

  mutable std::vector<uint8_t> m_Buffer;
  mutable std::recursive_mutex m_Lock;
  mutable bool m_Busy = false;
  std::mt19937 m_Random;
  IStorageFileSystem* m_FileSystem = nullptr;
};

} // namespace dtp
