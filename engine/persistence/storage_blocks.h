#pragma once
// The container's index, its two on-disk forms and the free-space rules of the work
// stream, kept apart from the container's locking and file handling.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/persistence/storage_stream.h"

namespace dtp {

struct TvqIndexItem {
  std::string Name;
  bool InSource = false; // the data lives in the source file, not in the work stream
  int64_t Offset = 0;
  int64_t Size = 0;
};

namespace storage {

constexpr size_t kCopyBufferSize = 61440;
constexpr int64_t kHeaderSize = 6;          // magic, version, second byte
constexpr int64_t kLiveIndexOffset = 14;    // right after the index offset field
constexpr int64_t kCompactIndexOffset = 69; // after the 55-byte text field
constexpr int64_t kTextFieldSize = 55;
constexpr int64_t kEntryFixedSize = 20; // offset, size, name length
constexpr uint8_t kVersion = 1;

// E: what an index of every entry takes, less the 6 header bytes before the index offset.
int64_t IndexSizeEstimate(const std::vector<TvqIndexItem>& index);
// U: the end of the last work-stream block, at least the header.
int64_t UsedSize(const std::vector<TvqIndexItem>& index);
// Where a new block of `size` bytes goes in the work stream: the first gap between two
// blocks that holds it, else the end of the last block; E + 512 in an empty work stream.
int64_t Allocate(const std::vector<TvqIndexItem>& index, int64_t size);

// Chunked copy between two streams through `buffer` (kCopyBufferSize bytes).
void CopyBlock(const TvqStream& from, int64_t fromOffset, TvqStream& to, int64_t toOffset,
               int64_t size, std::vector<uint8_t>& buffer);
// Chunked move inside one stream. A forward move into its own range would read bytes it has
// already overwritten, so it raises instead.
void MoveBlock(TvqStream& stream, int64_t fromOffset, int64_t toOffset, int64_t size,
               std::vector<uint8_t>& buffer);

// Reads and checks the header and index of either layout. Every count, length, offset and
// size is checked against the bytes the stream really has before anything is allocated, and
// no two blocks may share a byte.
std::vector<TvqIndexItem> ReadIndex(const TvqStream& stream, bool inSource);

// The header of a new live work stream (magic, version, second byte, index offset 14).
std::vector<uint8_t> LiveHeader();
// The live index at offset 14: the count and entries of the work-stream entries only.
std::vector<uint8_t> LiveIndex(const std::vector<TvqIndexItem>& index);

// Writes the compact layout: header, text field, index, then each entry's data in index
// order without gaps. `read` fetches `size` bytes of an entry's data from its current place.
using TCompactSink = std::function<void(const uint8_t* data, size_t size)>;
using TBlockReader =
    std::function<void(const TvqIndexItem& item, int64_t offset, uint8_t* data, size_t size)>;
void WriteCompact(const std::vector<TvqIndexItem>& index, const TBlockReader& read,
                  const TCompactSink& write, std::vector<uint8_t>& buffer);

} // namespace storage
} // namespace dtp
