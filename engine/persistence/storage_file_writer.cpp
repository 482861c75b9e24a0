#include "engine/persistence/storage_file_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/core/errors.h"

namespace dtp {

namespace {

constexpr const char* kCreateError = "Unable to create file \"%s\": %s";
constexpr const char* kWriteError = "Unable to write file \"%s\": %s";
constexpr const char* kReplaceError = "Unable to replace file \"%s\": %s";

class TPosixFile : public IStorageFile {
public:
  TPosixFile(int handle, std::string fileName)
      : m_Handle(handle), m_FileName(std::move(fileName)) {}
  ~TPosixFile() override {
    if (m_Handle >= 0) ::close(m_Handle);
  }

  void Write(const uint8_t* data, size_t size) override {
    while (size > 0) {
      const ssize_t n = ::write(m_Handle, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Fail(n < 0 ? errno : ENOSPC);
      data += n;
      size -= static_cast<size_t>(n);
    }
  }

  void Sync() override {
    if (::fsync(m_Handle) != 0) Fail(errno);
  }

  void Close() override {
    const int handle = m_Handle;
    m_Handle = -1;
    // Some file systems report a failed write only here.
    if (handle >= 0 && ::close(handle) != 0 && errno != EINTR) Fail(errno);
  }

private:
  [[noreturn]] void Fail(int err) const {
    throw EDtpError(FormatMessage(kWriteError, {m_FileName, std::strerror(err)}));
  }

  int m_Handle;
  std::string m_FileName;
};

class TPosixFileSystem : public IStorageFileSystem {
public:
  std::unique_ptr<IStorageFile> CreateTemporary(const std::string& target,
                                                std::string& fileName) override {
    // O_EXCL under our own random names (instead of mkstemp) lets the umask shape a new
    // file's permissions as it would for any other new file.
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<int> pick(0, 35);
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name = target + ".~";
      for (int i = 0; i < 6; ++i) name += kDigits[pick(random)];
      name += ".tmp";
      const int handle = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (handle < 0 && errno == EEXIST) continue;
      if (handle < 0) throw EDtpError(FormatMessage(kCreateError, {target, std::strerror(errno)}));
      fileName = name;
      auto file = std::make_unique<TPosixFile>(handle, name);
      // A replaced card keeps its permissions.
      struct stat st {};
      if (::stat(target.c_str(), &st) == 0 && ::fchmod(handle, st.st_mode & 07777) != 0)
        throw EDtpError(FormatMessage(kCreateError, {target, std::strerror(errno)}));
      return file;
    }
    throw EDtpError(FormatMessage(kCreateError, {target, std::strerror(EEXIST)}));
  }

  void Rename(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0)
      throw EDtpError(FormatMessage(kReplaceError, {to, std::strerror(errno)}));
  }

  void SyncFolder(const std::string& folder) override {
    const int handle = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0) throw EDtpError(FormatMessage(kWriteError, {folder, std::strerror(errno)}));
    const int rc = ::fsync(handle);
    const int err = errno;
    ::close(handle);
    // Some file systems cannot sync a folder at all; that is not a failed save.
    if (rc != 0 && err != EINVAL && err != ENOTSUP)
      throw EDtpError(FormatMessage(kWriteError, {folder, std::strerror(err)}));
  }

  void Remove(const std::string& fileName) noexcept override { ::unlink(fileName.c_str()); }
};

} // namespace

IStorageFileSystem& DefaultStorageFileSystem() {
  static TPosixFileSystem fileSystem;
  return fileSystem;
}

} // namespace dtp
