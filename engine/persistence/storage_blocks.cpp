#include "engine/persistence/storage_blocks.h"

#include <algorithm>
#include <cstring>

#include "platform/core/errors.h"

namespace dtp::storage {

namespace {

constexpr const char* kNotStorage = "File is not a storage file";
constexpr const char* kFutureVersion = "File is wrong (future) version";
constexpr const char* kBlocksOverlap = "Blocks overlap in copying action";
constexpr const char* kTruncated = "Storage file is truncated";
constexpr const char* kIndexOutside = "Storage index lies outside the file";
constexpr const char* kBadCount = "Storage index entry count is invalid";
constexpr const char* kBadNameLength = "Storage stream name length is invalid";
constexpr const char* kBlockOutside = "Storage stream \"%s\" lies outside the file";
constexpr const char* kBlocksShare = "Storage streams \"%s\" and \"%s\" overlap";

constexpr char kMagic[4] = {'S', 'T', 'O', 'R'};
// CR LF, the writer's identification, CR LF, a zero byte.
constexpr char kTextField[] = "\r\nKartolino document engine - compound storage v1.0.\r\n";
static_assert(sizeof(kTextField) == kTextFieldSize, "the text field has a fixed size");

void PutInt32(std::vector<uint8_t>& out, int32_t value) {
  const auto u = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(u >> (8 * i)));
}

void PutInt64(std::vector<uint8_t>& out, int64_t value) {
  const auto u = static_cast<uint64_t>(value);
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(u >> (8 * i)));
}

void PutEntry(std::vector<uint8_t>& out, const TvqIndexItem& item, int64_t offset) {
  PutInt64(out, offset);
  PutInt64(out, item.Size);
  PutInt32(out, static_cast<int32_t>(item.Name.size()));
  out.insert(out.end(), item.Name.begin(), item.Name.end());
}

// Sequential reads of a stream through a small window, so an index of many entries in a
// file costs few system calls; every read is checked against the stream's real size.
class TIndexReader {
public:
  TIndexReader(const TvqStream& stream, int64_t position)
      : m_Stream(stream), m_Size(stream.Size()), m_Position(position) {}

  int64_t Remaining() const { return m_Size - m_Position; }

  void Read(void* out, size_t count) {
    if (static_cast<uint64_t>(count) > static_cast<uint64_t>(Remaining()))
      throw EStreamError(kTruncated);
    auto* dst = static_cast<uint8_t*>(out);
    while (count > 0) {
      if (m_WindowPos == m_Window.size()) Fill();
      const size_t n = std::min(count, m_Window.size() - m_WindowPos);
      std::memcpy(dst, m_Window.data() + m_WindowPos, n);
      m_WindowPos += n;
      m_Position += static_cast<int64_t>(n);
      dst += n;
      count -= n;
    }
  }

  int32_t Int32() {
    uint8_t b[4];
    Read(b, 4);
    uint32_t u = 0;
    for (int i = 3; i >= 0; --i) u = (u << 8) | b[i];
    return static_cast<int32_t>(u);
  }

  int64_t Int64() {
    uint8_t b[8];
    Read(b, 8);
    uint64_t u = 0;
    for (int i = 7; i >= 0; --i) u = (u << 8) | b[i];
    return static_cast<int64_t>(u);
  }

private:
  void Fill() {
    const auto n = static_cast<size_t>(std::min<int64_t>(Remaining(), kCopyBufferSize));
    m_Window.resize(n);
    m_Stream.ReadAt(m_Position, m_Window.data(), n);
    m_WindowPos = 0;
  }

  const TvqStream& m_Stream;
  const int64_t m_Size;
  int64_t m_Position;
  std::vector<uint8_t> m_Window;
  size_t m_WindowPos = 0;
};

} // namespace

int64_t IndexSizeEstimate(const std::vector<TvqIndexItem>& index) {
  int64_t e = 12;
  for (const TvqIndexItem& item : index)
    e += static_cast<int64_t>(item.Name.size()) + kEntryFixedSize;
  return e;
}

int64_t UsedSize(const std::vector<TvqIndexItem>& index) {
  int64_t used = kHeaderSize;
  for (const TvqIndexItem& item : index)
    if (!item.InSource) used = std::max(used, item.Offset + item.Size);
  return used;
}

int64_t Allocate(const std::vector<TvqIndexItem>& index, int64_t size) {
  std::vector<const TvqIndexItem*> blocks;
  for (const TvqIndexItem& item : index)
    if (!item.InSource) blocks.push_back(&item);
  if (blocks.empty()) return IndexSizeEstimate(index) + 512;
  std::stable_sort(blocks.begin(), blocks.end(), [](const TvqIndexItem* a, const TvqIndexItem* b) {
    return a->Offset < b->Offset;
  });
  // The running end keeps a gap from being measured from inside a longer block, e.g. past an
  // empty entry that sits within another block's range.
  int64_t end = blocks.front()->Offset + blocks.front()->Size;
  for (size_t i = 1; i < blocks.size(); ++i) {
    if (blocks[i]->Offset - end >= size) return end;
    end = std::max(end, blocks[i]->Offset + blocks[i]->Size);
  }
  return end;
}

void CopyBlock(const TvqStream& from, int64_t fromOffset, TvqStream& to, int64_t toOffset,
               int64_t size, std::vector<uint8_t>& buffer) {
  buffer.resize(kCopyBufferSize);
  while (size > 0) {
    const auto n = static_cast<size_t>(std::min<int64_t>(size, kCopyBufferSize));
    from.ReadAt(fromOffset, buffer.data(), n);
    to.WriteAt(toOffset, buffer.data(), n);
    fromOffset += static_cast<int64_t>(n);
    toOffset += static_cast<int64_t>(n);
    size -= static_cast<int64_t>(n);
  }
}

void MoveBlock(TvqStream& stream, int64_t fromOffset, int64_t toOffset, int64_t size,
               std::vector<uint8_t>& buffer) {
  if (fromOffset < toOffset && fromOffset + size > toOffset) throw EDtpError(kBlocksOverlap);
  CopyBlock(stream, fromOffset, stream, toOffset, size, buffer);
}

std::vector<TvqIndexItem> ReadIndex(const TvqStream& stream, bool inSource) {
  const int64_t fileSize = stream.Size();
  if (fileSize < 4) throw EDtpError(kNotStorage);
  char magic[4];
  stream.ReadAt(0, magic, 4);
  if (std::memcmp(magic, kMagic, 4) != 0) throw EDtpError(kNotStorage);
  TIndexReader header(stream, 4);
  uint8_t version[2];
  header.Read(version, 1);
  if (version[0] > kVersion) throw EDtpError(kFutureVersion);
  header.Read(version + 1, 1);
  const int64_t indexOffset = header.Int64();
  if (indexOffset < kLiveIndexOffset || indexOffset > fileSize - 4)
    throw EStreamError(kIndexOutside);

  TIndexReader r(stream, indexOffset);
  const int32_t count = r.Int32();
  if (count < 0 || count > r.Remaining() / kEntryFixedSize) throw EStreamError(kBadCount);
  std::vector<TvqIndexItem> index;
  for (int32_t i = 0; i < count; ++i) {
    TvqIndexItem item;
    item.InSource = inSource;
    item.Offset = r.Int64();
    item.Size = r.Int64();
    const int32_t length = r.Int32();
    if (length < 0 || length > r.Remaining()) throw EStreamError(kBadNameLength);
    item.Name.resize(static_cast<size_t>(length));
    r.Read(item.Name.data(), item.Name.size());
    if (item.Offset < 0 || item.Size < 0 || item.Offset > fileSize - item.Size)
      throw EStreamError(FormatMessage(kBlockOutside, {item.Name}));
    index.push_back(std::move(item));
  }

  std::vector<const TvqIndexItem*> blocks;
  for (const TvqIndexItem& item : index)
    if (item.Size > 0) blocks.push_back(&item);
  std::stable_sort(blocks.begin(), blocks.end(), [](const TvqIndexItem* a, const TvqIndexItem* b) {
    return a->Offset < b->Offset;
  });
  for (size_t i = 1; i < blocks.size(); ++i)
    if (blocks[i - 1]->Offset + blocks[i - 1]->Size > blocks[i]->Offset)
      throw EStreamError(FormatMessage(kBlocksShare, {blocks[i - 1]->Name, blocks[i]->Name}));
  return index;
}

std::vector<uint8_t> LiveHeader() {
  std::vector<uint8_t> out(kMagic, kMagic + 4);
  out.push_back(kVersion);
  out.push_back(1);
  PutInt64(out, kLiveIndexOffset);
  return out;
}

std::vector<uint8_t> LiveIndex(const std::vector<TvqIndexItem>& index) {
  std::vector<uint8_t> out;
  int32_t count = 0;
  for (const TvqIndexItem& item : index) count += item.InSource ? 0 : 1;
  PutInt32(out, count);
  for (const TvqIndexItem& item : index)
    if (!item.InSource) PutEntry(out, item, item.Offset);
  return out;
}

void WriteCompact(const std::vector<TvqIndexItem>& index, const TBlockReader& read,
                  const TCompactSink& write, std::vector<uint8_t>& buffer) {
  std::vector<uint8_t> head(kMagic, kMagic + 4);
  head.push_back(kVersion);
  head.push_back(1);
  PutInt64(head, kCompactIndexOffset);
  head.insert(head.end(), kTextField, kTextField + kTextFieldSize);
  PutInt32(head, static_cast<int32_t>(index.size()));
  int64_t offset = IndexSizeEstimate(index) + 61;
  for (const TvqIndexItem& item : index) {
    PutEntry(head, item, offset);
    offset += item.Size;
  }
  write(head.data(), head.size());

  buffer.resize(kCopyBufferSize);
  for (const TvqIndexItem& item : index) {
    for (int64_t done = 0; done < item.Size;) {
      const auto n = static_cast<size_t>(std::min<int64_t>(item.Size - done, kCopyBufferSize));
      read(item, item.Offset + done, buffer.data(), n);
      write(buffer.data(), n);
      done += static_cast<int64_t>(n);
    }
  }
}

} // namespace dtp::storage
