#include "engine/persistence/map_stream.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/core/errors.h"
#include "platform/core/limits.h"

namespace dtp {

namespace {

constexpr const char* kMsgPageSizeZero = "Memory map page size is zero";
constexpr int64_t kMinPageSize = 65536;

[[noreturn]] void RaiseSystemError(int error) {
  throw EStreamError(std::strerror(error));
}

} // namespace

int64_t TMapStream::DefaultPageSize() {
  const long system = sysconf(_SC_PAGESIZE);
  if (system <= 0) return 0;
  return (kMinPageSize + system - 1) / system * system;
}

TMapStream::TMapStream() : TMapStream(DefaultPageSize()) {}

TMapStream::TMapStream(int64_t pageSize) : m_PageSize(pageSize) {
  if (m_PageSize <= 0) throw EStreamError(kMsgPageSizeZero);
}

TMapStream::~TMapStream() {
  for (uint8_t* page : m_Pages) munmap(page, static_cast<size_t>(m_PageSize));
}

void TMapStream::SetSize(int64_t size) {
  if (size < 0) size = 0;
  // A stream is one picture file; anything beyond the decode limit is not one.
  if (size > limits::kMaxPictureBytes) RaiseSystemError(ENOMEM);
  const size_t needed = static_cast<size_t>((size + m_PageSize - 1) / m_PageSize);
  m_Pages.reserve(needed);
  while (m_Pages.size() < needed) {
    void* page = mmap(nullptr, static_cast<size_t>(m_PageSize), PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) RaiseSystemError(errno);
    m_Pages.push_back(static_cast<uint8_t*>(page));
  }
  while (m_Pages.size() > needed) {
    if (munmap(m_Pages.back(), static_cast<size_t>(m_PageSize)) != 0) RaiseSystemError(errno);
    m_Pages.pop_back();
  }
  // Bytes between the old and the new end of a kept page must read as zero after growth.
  if (size < m_Size && size % m_PageSize != 0) {
    const int64_t in = size % m_PageSize;
    std::memset(m_Pages[static_cast<size_t>(size / m_PageSize)] + in, 0,
                static_cast<size_t>(m_PageSize - in));
  }
  m_Size = size;
  m_Position = std::min(m_Position, m_Size);
}

size_t TMapStream::Read(void* buffer, size_t count) {
  if (m_Position >= m_Size) return 0;
  count = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), m_Size - m_Position));
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    const int64_t offset = m_Position % m_PageSize;
    const size_t n = static_cast<size_t>(
        std::min<int64_t>(m_PageSize - offset, static_cast<int64_t>(count - done)));
    std::memcpy(out + done, m_Pages[static_cast<size_t>(m_Position / m_PageSize)] + offset, n);
    done += n;
    m_Position += static_cast<int64_t>(n);
  }
  return count;
}

void TMapStream::Write(const void* buffer, size_t count) {
  if (count == 0) return;
  const int64_t end = m_Position + static_cast<int64_t>(count);
  if (end > m_Size) SetSize(end);
  const auto* in = static_cast<const uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    const int64_t offset = m_Position % m_PageSize;
    const size_t n = static_cast<size_t>(
        std::min<int64_t>(m_PageSize - offset, static_cast<int64_t>(count - done)));
    std::memcpy(m_Pages[static_cast<size_t>(m_Position / m_PageSize)] + offset, in + done, n);
    done += n;
    m_Position += static_cast<int64_t>(n);
  }
}

int64_t TMapStream::Seek(int64_t offset, int origin) {
  int64_t target = 0;
  switch (origin) {
  case 0:
    target = offset;
    break;
  case 1:
    target = m_Position + offset;
    break;
  case 2:
    target = m_Size + offset;
    break;
  default:
    target = 0;
    break;
  }
  if (target < 0) target = 0;
  if (target > m_Size) SetSize(target);
  m_Position = target;
  return m_Position;
}

std::vector<uint8_t> TMapStream::Bytes() const {
  std::vector<uint8_t> out(static_cast<size_t>(m_Size));
  for (int64_t at = 0; at < m_Size; at += m_PageSize)
    std::memcpy(out.data() + at, m_Pages[static_cast<size_t>(at / m_PageSize)],
                static_cast<size_t>(std::min(m_PageSize, m_Size - at)));
  return out;
}

void TMapStream::Assign(const uint8_t* data, size_t count) {
  SetSize(0);
  m_Position = 0;
  Write(data, count);
  m_Position = 0;
}

void TMapStream::Assign(const TMapStream& source) {
  if (&source == this) return;
  const std::vector<uint8_t> bytes = source.Bytes();
  Assign(bytes.data(), bytes.size());
}

} // namespace dtp
