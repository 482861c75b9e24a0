#include "engine/graphics/raster_stream.h"

#include <algorithm>
#include <cstring>

#include "platform/core/errors.h"

namespace dtp {

void TRasterStream::ReadBuffer(void* buffer, size_t count) {
  if (Read(buffer, count) != count) throw EStreamError("Stream read error");
}

int64_t TRasterStream::Remaining() const {
  return std::max<int64_t>(0, Size() - Position());
}

// --- memory ---

size_t TRasterMemoryStream::Read(void* buffer, size_t count) {
  if (m_Position >= m_Data.size()) return 0;
  const size_t n = std::min(count, m_Data.size() - m_Position);
  if (n > 0) std::memcpy(buffer, m_Data.data() + m_Position, n);
  m_Position += n;
  return n;
}

void TRasterMemoryStream::Write(const void* buffer, size_t count) {
  if (count == 0) return;
  if (m_Position + count > m_Data.size()) m_Data.resize(m_Position + count);
  std::memcpy(m_Data.data() + m_Position, buffer, count);
  m_Position += count;
}

void TRasterMemoryStream::SetPosition(int64_t position) {
  m_Position = static_cast<size_t>(std::max<int64_t>(0, position));
}

// --- borrowed bytes ---

size_t TRasterViewStream::Read(void* buffer, size_t count) {
  if (m_Position >= m_Data.size()) return 0;
  const size_t n = std::min(count, m_Data.size() - m_Position);
  if (n > 0) std::memcpy(buffer, m_Data.data() + m_Position, n);
  m_Position += n;
  return n;
}

void TRasterViewStream::Write(const void*, size_t) {
  throw EStreamError("Stream write error");
}

void TRasterViewStream::SetPosition(int64_t position) {
  m_Position = static_cast<size_t>(std::max<int64_t>(0, position));
}

// --- file ---

TRasterFileStream::TRasterFileStream(const std::string& fileName, TMode mode) {
  m_File = std::fopen(fileName.c_str(), mode == fmCreate ? "w+b" : "rb");
  if (!m_File)
    throw EStreamError(FormatMessage(
        mode == fmCreate ? "Cannot create file \"%s\"" : "Cannot open file \"%s\"", {fileName}));
}

TRasterFileStream::~TRasterFileStream() {
  if (m_File) std::fclose(m_File);
}

void TRasterFileStream::Close() {
  if (!m_File) return;
  const int rc = std::fclose(m_File);
  m_File = nullptr;
  if (rc != 0) throw EStreamError("Stream write error");
}

size_t TRasterFileStream::Read(void* buffer, size_t count) {
  if (!m_File || count == 0) return 0;
  return std::fread(buffer, 1, count, m_File);
}

void TRasterFileStream::Write(const void* buffer, size_t count) {
  if (count == 0) return;
  if (!m_File || std::fwrite(buffer, 1, count, m_File) != count)
    throw EStreamError("Stream write error");
}

int64_t TRasterFileStream::Position() const {
  return m_File ? static_cast<int64_t>(ftello(m_File)) : 0;
}

void TRasterFileStream::SetPosition(int64_t position) {
  if (m_File) fseeko(m_File, static_cast<off_t>(std::max<int64_t>(0, position)), SEEK_SET);
}

int64_t TRasterFileStream::Size() const {
  if (!m_File) return 0;
  const off_t here = ftello(m_File);
  fseeko(m_File, 0, SEEK_END);
  const off_t end = ftello(m_File);
  fseeko(m_File, here, SEEK_SET);
  return static_cast<int64_t>(end);
}

} // namespace dtp
