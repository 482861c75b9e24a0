#pragma once
// Byte streams the raster formats read from and write to: an abstract stream with a
// position, plus memory, borrowed-bytes and file implementations. Other layers adapt
// their own streams by deriving from TRasterStream.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace dtp {

class TRasterStream {
public:
  virtual ~TRasterStream() = default;

  // Reads up to count bytes at the position and advances; fewer only at the end.
  virtual size_t Read(void* buffer, size_t count) = 0;
  // Writes count bytes at the position and advances; raises EStreamError when it cannot.
  virtual void Write(const void* buffer, size_t count) = 0;
  virtual int64_t Position() const = 0;
  virtual void SetPosition(int64_t position) = 0;
  virtual int64_t Size() const = 0;

  // Reads exactly count bytes or raises EStreamError("Stream read error").
  void ReadBuffer(void* buffer, size_t count);
  // Bytes between the position and the end (0 when positioned past the end).
  int64_t Remaining() const;
};

// A growable stream over bytes it owns.
class TRasterMemoryStream : public TRasterStream {
public:
  TRasterMemoryStream() = default;
  explicit TRasterMemoryStream(std::vector<uint8_t> data) : m_Data(std::move(data)) {}

  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;
  int64_t Position() const override { return static_cast<int64_t>(m_Position); }
  void SetPosition(int64_t position) override;
  int64_t Size() const override { return static_cast<int64_t>(m_Data.size()); }

  const std::vector<uint8_t>& Data() const { return m_Data; }
  std::vector<uint8_t>& Data() { return m_Data; }

private:
  std::vector<uint8_t> m_Data;
  size_t m_Position = 0;
};

// A read-only stream over bytes owned by someone else; they must outlive the stream.
class TRasterViewStream : public TRasterStream {
public:
  explicit TRasterViewStream(std::span<const uint8_t> data) : m_Data(data) {}

  size_t Read(void* buffer, size_t count) override;
  // Raises EStreamError("Stream write error").
  void Write(const void* buffer, size_t count) override;
  int64_t Position() const override { return static_cast<int64_t>(m_Position); }
  void SetPosition(int64_t position) override;
  int64_t Size() const override { return static_cast<int64_t>(m_Data.size()); }

private:
  std::span<const uint8_t> m_Data;
  size_t m_Position = 0;
};

class TRasterFileStream : public TRasterStream {
public:
  enum TMode : uint8_t { fmOpenRead, fmCreate };
  // Raises EStreamError "Cannot open file \"%s\"" or "Cannot create file \"%s\"".
  TRasterFileStream(const std::string& fileName, TMode mode);
  ~TRasterFileStream() override;
  TRasterFileStream(const TRasterFileStream&) = delete;
  TRasterFileStream& operator=(const TRasterFileStream&) = delete;

  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;
  int64_t Position() const override;
  void SetPosition(int64_t position) override;
  int64_t Size() const override;

  // Flushes and closes; raises EStreamError("Stream write error") when buffered data
  // cannot be written. The destructor closes silently.
  void Close();

private:
  std::FILE* m_File = nullptr;
};

} // namespace dtp
