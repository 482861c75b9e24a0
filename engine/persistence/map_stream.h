#pragma once
// TMapStream: the memory stream a resource keeps its encoded bytes in. The bytes live in
// separately mapped pages, so a large picture needs no large contiguous block and pages
// that are no longer needed go straight back to the system.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/graphics/raster_stream.h"

namespace dtp {

class TMapStream : public TRasterStream {
public:
  // Pages of the system's allocation granularity.
  TMapStream();
  // Pages of `pageSize` bytes; 0 or less raises "Memory map page size is zero".
  explicit TMapStream(int64_t pageSize);
  ~TMapStream() override;
  TMapStream(const TMapStream&) = delete;
  TMapStream& operator=(const TMapStream&) = delete;

  // The page size used when none is given: at least 64 KiB, a multiple of the system's.
  static int64_t DefaultPageSize();

  // Reads at most Size - Position bytes.
  size_t Read(void* buffer, size_t count) override;
  // Grows the stream to Position + count when needed.
  void Write(const void* buffer, size_t count) override;
  int64_t Position() const override { return m_Position; }
  // Moves without growing; reading past the end gives nothing, writing there grows.
  void SetPosition(int64_t position) override { m_Position = position < 0 ? 0 : position; }
  int64_t Size() const override { return m_Size; }

  // Origin 0 from the start, 1 from the position, 2 from the end, anything else gives 0.
  // A target beyond the end grows the stream to it. Returns the new position.
  int64_t Seek(int64_t offset, int origin);
  // Commits or releases pages; a position beyond the new size moves to it. A failing
  // allocation raises EStreamError with the system's message.
  void SetSize(int64_t size);
  void Clear() { SetSize(0); }

  int64_t PageSize() const { return m_PageSize; }
  size_t PageCount() const { return m_Pages.size(); }

  // All bytes, for callers that need them in one piece.
  std::vector<uint8_t> Bytes() const;
  void Assign(const TMapStream& source);
  void Assign(const uint8_t* data, size_t count);

private:
  int64_t m_PageSize;
  std::vector<uint8_t*> m_Pages;
  int64_t m_Size = 0;
  int64_t m_Position = 0;
};

} // namespace dtp
