#include "engine/persistence/storage_stream.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/core/errors.h"

namespace dtp {

namespace {

constexpr const char* kReadError = "Stream read error";
constexpr const char* kWriteError = "Stream write error";
constexpr const char* kOpenError = "Cannot open file \"%s\": %s";
constexpr const char* kInUse = "File \"%s\" is in use";
constexpr const char* kFileReadError = "Unable to read file \"%s\": %s";
constexpr const char* kFileWriteError = "Unable to write file \"%s\": %s";

// True when [position, position + count) lies inside [0, size).
bool InRange(int64_t position, size_t count, int64_t size) {
  if (position < 0 || position > size) return false;
  return static_cast<uint64_t>(count) <= static_cast<uint64_t>(size - position);
}

} // namespace

void TvqMemoryStream::SetSize(int64_t size) {
  if (size < 0 || static_cast<uint64_t>(size) > std::numeric_limits<size_t>::max())
    throw EStreamError(kWriteError);
  m_Bytes.resize(static_cast<size_t>(size));
}

void TvqMemoryStream::ReadAt(int64_t position, void* buffer, size_t count) const {
  if (!InRange(position, count, Size())) throw EStreamError(kReadError);
  if (count) std::memcpy(buffer, m_Bytes.data() + position, count);
}

void TvqMemoryStream::WriteAt(int64_t position, const void* buffer, size_t count) {
  if (position < 0 || static_cast<uint64_t>(count) > uint64_t(INT64_MAX) - uint64_t(position))
    throw EStreamError(kWriteError);
  const int64_t end = position + static_cast<int64_t>(count);
  if (end > Size()) SetSize(end);
  if (count) std::memcpy(m_Bytes.data() + position, buffer, count);
}

void TvqConstMemoryStream::SetSize(int64_t) {
  throw EStreamError(kWriteError);
}

void TvqConstMemoryStream::ReadAt(int64_t position, void* buffer, size_t count) const {
  if (!InRange(position, count, Size())) throw EStreamError(kReadError);
  if (count) std::memcpy(buffer, m_Data + position, count);
}

void TvqConstMemoryStream::WriteAt(int64_t, const void*, size_t) {
  throw EStreamError(kWriteError);
}

TvqFileStream::TvqFileStream(const std::string& fileName, TvqFileMode mode) : m_FileName(fileName) {
  int flags = O_CLOEXEC;
  switch (mode) {
  case fmOpenRead:
    flags |= O_RDONLY;
    break;
  case fmOpenReadWrite:
    flags |= O_RDWR;
    break;
  case fmCreate:
    flags |= O_RDWR | O_CREAT;
    break;
  }
  m_Handle = ::open(fileName.c_str(), flags, 0666);
  if (m_Handle < 0) throw EDtpError(FormatMessage(kOpenError, {fileName, std::strerror(errno)}));
  struct stat st {};
  const bool statOk = ::fstat(m_Handle, &st) == 0;
  if (!statOk || !S_ISREG(st.st_mode)) {
    const int err = !statOk ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(m_Handle);
    m_Handle = -1;
    throw EDtpError(FormatMessage(kOpenError, {fileName, std::strerror(err)}));
  }
  const int lock = (mode == fmOpenRead ? LOCK_SH : LOCK_EX) | LOCK_NB;
  if (::flock(m_Handle, lock) != 0) {
    ::close(m_Handle);
    m_Handle = -1;
    throw EDtpError(FormatMessage(kInUse, {fileName}));
  }
  // Truncate only once the lock is ours, so a file in use elsewhere is never emptied.
  if (mode == fmCreate && ::ftruncate(m_Handle, 0) != 0) {
    const int err = errno;
    ::close(m_Handle);
    m_Handle = -1;
    throw EDtpError(FormatMessage(kFileWriteError, {fileName, std::strerror(err)}));
  }
}

TvqFileStream::~TvqFileStream() {
  if (m_Handle >= 0) ::close(m_Handle);
}

int64_t TvqFileStream::Size() const {
  struct stat st {};
  if (::fstat(m_Handle, &st) != 0)
    throw EStreamError(FormatMessage(kFileReadError, {m_FileName, std::strerror(errno)}));
  return static_cast<int64_t>(st.st_size);
}

void TvqFileStream::SetSize(int64_t size) {
  if (size < 0) throw EStreamError(FormatMessage(kFileWriteError, {m_FileName, "negative size"}));
  if (::ftruncate(m_Handle, static_cast<off_t>(size)) != 0)
    throw EStreamError(FormatMessage(kFileWriteError, {m_FileName, std::strerror(errno)}));
}

void TvqFileStream::ReadAt(int64_t position, void* buffer, size_t count) const {
  if (position < 0) throw EStreamError(kReadError);
  auto* out = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    const ssize_t n = ::pread(m_Handle, out, count, static_cast<off_t>(position));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0)
      throw EStreamError(FormatMessage(kFileReadError, {m_FileName, std::strerror(errno)}));
    if (n == 0)
      throw EStreamError(FormatMessage(kFileReadError, {m_FileName, "unexpected end of file"}));
    out += n;
    count -= static_cast<size_t>(n);
    position += n;
  }
}

void TvqFileStream::WriteAt(int64_t position, const void* buffer, size_t count) {
  if (position < 0) throw EStreamError(kWriteError);
  const auto* in = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    const ssize_t n = ::pwrite(m_Handle, in, count, static_cast<off_t>(position));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      throw EStreamError(
          FormatMessage(kFileWriteError, {m_FileName, std::strerror(n < 0 ? errno : ENOSPC)}));
    in += n;
    count -= static_cast<size_t>(n);
    position += n;
  }
}

TvqFileLock::TvqFileLock(const std::string& fileName) {
  m_Handle = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (m_Handle >= 0 && ::flock(m_Handle, LOCK_EX | LOCK_NB) != 0) {
    ::close(m_Handle);
    m_Handle = -1;
    throw EDtpError(FormatMessage(kInUse, {fileName}));
  }
}

TvqFileLock::~TvqFileLock() {
  if (m_Handle >= 0) ::close(m_Handle);
}

} // namespace dtp
