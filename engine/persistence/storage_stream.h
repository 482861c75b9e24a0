#pragma once
// Random-access byte streams for the storage container: a growable memory stream and a
// file stream. Reads and writes address absolute positions, so a const stream can be read
// from several places without a shared cursor; Position() is only the caller's cursor for
// the operations that are defined at "the stream's position".

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dtp {

class TvqStream {
public:
  virtual ~TvqStream() = default;
  virtual int64_t Size() const = 0;
  // Grows with zero bytes or cuts off the tail.
  virtual void SetSize(int64_t size) = 0;
  // Reads exactly `count` bytes; reading past the end raises.
  virtual void ReadAt(int64_t position, void* buffer, size_t count) const = 0;
  // Writes past the end grow the stream.
  virtual void WriteAt(int64_t position, const void* buffer, size_t count) = 0;

  int64_t Position() const { return m_Position; }
  void SetPosition(int64_t position) { m_Position = position; }

private:
  int64_t m_Position = 0;
};

class TvqMemoryStream : public TvqStream {
public:
  TvqMemoryStream() = default;
  explicit TvqMemoryStream(std::vector<uint8_t> bytes) : m_Bytes(std::move(bytes)) {}

  int64_t Size() const override { return static_cast<int64_t>(m_Bytes.size()); }
  void SetSize(int64_t size) override;
  void ReadAt(int64_t position, void* buffer, size_t count) const override;
  void WriteAt(int64_t position, const void* buffer, size_t count) override;

  const std::vector<uint8_t>& Bytes() const { return m_Bytes; }
  std::vector<uint8_t> TakeBytes() { return std::move(m_Bytes); }

private:
  std::vector<uint8_t> m_Bytes;
};

// A read-only view of bytes owned by the caller.
class TvqConstMemoryStream : public TvqStream {
public:
  TvqConstMemoryStream(const uint8_t* data, size_t size) : m_Data(data), m_Size(size) {}

  int64_t Size() const override { return static_cast<int64_t>(m_Size); }
  void SetSize(int64_t size) override;
  void ReadAt(int64_t position, void* buffer, size_t count) const override;
  void WriteAt(int64_t position, const void* buffer, size_t count) override;

private:
  const uint8_t* m_Data;
  size_t m_Size;
};

enum TvqFileMode : uint8_t {
  fmOpenRead,      // read only; nobody may hold the file for writing meanwhile
  fmOpenReadWrite, // read and write an existing file; nobody else may open it meanwhile
  fmCreate,        // create or truncate, read and write; nobody else may open it meanwhile
};

// Sharing is enforced with advisory locks (shared for readers, exclusive for writers), so
// two containers never edit the same file at once and a reader never sees it change.
class TvqFileStream : public TvqStream {
public:
  TvqFileStream(const std::string& fileName, TvqFileMode mode);
  ~TvqFileStream() override;
  TvqFileStream(const TvqFileStream&) = delete;
  TvqFileStream& operator=(const TvqFileStream&) = delete;

  int64_t Size() const override;
  void SetSize(int64_t size) override;
  void ReadAt(int64_t position, void* buffer, size_t count) const override;
  void WriteAt(int64_t position, const void* buffer, size_t count) override;

  const std::string& FileName() const { return m_FileName; }

private:
  std::string m_FileName;
  int m_Handle = -1;
};

// Holds an existing file exclusively while it is being replaced, so that a card another
// container is reading or editing in place is not swapped away under it. A file that does
// not exist needs no lock.
class TvqFileLock {
public:
  explicit TvqFileLock(const std::string& fileName);
  ~TvqFileLock();
  TvqFileLock(const TvqFileLock&) = delete;
  TvqFileLock& operator=(const TvqFileLock&) = delete;

private:
  int m_Handle = -1;
};

} // namespace dtp
