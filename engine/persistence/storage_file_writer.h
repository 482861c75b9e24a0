#pragma once
// The file operations a container save is made of. A save writes a new file beside the
// target and renames it over the target only once it is complete and on disk, so the
// previous file survives any failure before the rename. Tests put their own file system
// here to fail a chosen step.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace dtp {

class IStorageFile {
public:
  virtual ~IStorageFile() = default;
  virtual void Write(const uint8_t* data, size_t size) = 0;
  // Returns once the data written so far is on the disk.
  virtual void Sync() = 0;
  virtual void Close() = 0;
};

class IStorageFileSystem {
public:
  virtual ~IStorageFileSystem() = default;
  // Creates a new, empty file in the folder of `target` with the target's permissions.
  // `fileName` receives its name as soon as the file exists, so that a caller can remove it
  // even when this call raises afterwards.
  virtual std::unique_ptr<IStorageFile> CreateTemporary(const std::string& target,
                                                        std::string& fileName) = 0;
  // Replaces `to` by `from` in one step.
  virtual void Rename(const std::string& from, const std::string& to) = 0;
  // Makes a rename in `folder` durable.
  virtual void SyncFolder(const std::string& folder) = 0;
  virtual void Remove(const std::string& fileName) noexcept = 0;
};

// The real file system (POSIX calls).
IStorageFileSystem& DefaultStorageFileSystem();

} // namespace dtp
