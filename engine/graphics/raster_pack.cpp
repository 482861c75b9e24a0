#include "engine/graphics/raster_pack.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "engine/graphics/raster_formats.h"

namespace dtp {

namespace {

[[noreturn]] void Corrupt() {
  throw ERasterError(kMsgUnableToDecompress);
}

void PutU32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  out[at] = uint8_t(v);
  out[at + 1] = uint8_t(v >> 8);
  out[at + 2] = uint8_t(v >> 16);
  out[at + 3] = uint8_t(v >> 24);
}

uint32_t GetU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

constexpr size_t kSymbolHeader = 13; // N, bit offset, nibble offset, h

int ClassOfRank(int rank) {
  if (rank == 0) return 0;
  if (rank <= 2) return 1;
  if (rank <= 18) return 2;
  return 3;
}

void AppendLiterals(std::vector<uint8_t>& out, const uint8_t* p, size_t len) {
  while (len > 0) {
    const size_t c = std::min<size_t>(127, len);
    out.push_back(uint8_t(c));
    out.insert(out.end(), p, p + c);
    p += c;
    len -= c;
  }
}

void AppendRun(std::vector<uint8_t>& out, uint8_t value, size_t len) {
  while (len >= 2) {
    size_t c = std::min<size_t>(127, len);
    // A single byte cannot be a run packet, so never leave exactly one behind.
    if (len - c == 1) c = 126;
    out.push_back(uint8_t(1 - int(c)));
    out.push_back(value);
    len -= c;
  }
  if (len == 1) AppendLiterals(out, &value, 1);
}

} // namespace

void DeltaEncode(std::span<uint8_t> data) {
  uint8_t prev = 0;
  for (uint8_t& b : data) {
    const uint8_t cur = b;
    b = uint8_t(cur - prev);
    prev = cur;
  }
}

void DeltaDecode(std::span<uint8_t> data) {
  uint8_t sum = 0;
  for (uint8_t& b : data) {
    sum = uint8_t(sum + b);
    b = sum;
  }
}

std::vector<uint8_t> SymbolPack(std::span<const uint8_t> data) {
  const size_t n = data.size();
  // Counts and offsets are 32-bit fields.
  if (SymbolPackBound(n) > UINT32_MAX) throw ERasterError(kMsgUnableToCompress);
  std::array<uint64_t, 256> counts{};
  for (const uint8_t b : data) ++counts[b];

  // This exact exchange order fixes the ranks of values with equal counts.
  std::array<uint8_t, 256> order{};
  for (int i = 0; i < 256; ++i) order[i] = uint8_t(i);
  for (int i = 0; i <= 254; ++i)
    for (int j = 255; j >= i + 1; --j)
      if (counts[order[i]] < counts[order[j]]) std::swap(order[i], order[j]);
  std::array<uint8_t, 256> rankOf{};
  for (int r = 0; r < 256; ++r) rankOf[order[r]] = uint8_t(r);

  int h = 255;
  for (int r = 19; r <= 255; ++r)
    if (counts[order[r]] == 0) {
      h = r;
      break;
    }

  size_t c1 = 0, c2 = 0, c3 = 0;
  for (const uint8_t b : data) {
    switch (ClassOfRank(rankOf[b])) {
    case 1:
      ++c1;
      break;
    case 2:
      ++c2;
      break;
    case 3:
      ++c3;
      break;
    default:
      break;
    }
  }

  const size_t tagsAt = kSymbolHeader + size_t(h) + 1;
  const size_t tagBytes = n / 4 + 1;
  const size_t bytesAt = tagsAt + tagBytes;
  const size_t nibblesAt = bytesAt + c3;
  const size_t bitsAt = nibblesAt + c2 / 2 + 1;
  const size_t total = bitsAt + c1 / 8 + 1;

  std::vector<uint8_t> out(total, 0);
  PutU32(out, 0, uint32_t(n));
  PutU32(out, 4, uint32_t(bitsAt));
  PutU32(out, 8, uint32_t(nibblesAt));
  out[12] = uint8_t(h);
  for (int r = 0; r <= h; ++r) out[kSymbolHeader + r] = order[r];

  size_t k1 = 0, k2 = 0, k3 = 0;
  for (size_t i = 0; i < n; ++i) {
    const int rank = rankOf[data[i]];
    const int cls = ClassOfRank(rank);
    out[tagsAt + i / 4] |= uint8_t(cls << (2 * (i % 4)));
    switch (cls) {
    case 1:
      out[bitsAt + k1 / 8] |= uint8_t((rank - 1) << (k1 % 8));
      ++k1;
      break;
    case 2:
      out[nibblesAt + k2 / 2] |= uint8_t((rank - 3) << (4 * (k2 % 2)));
      ++k2;
      break;
    case 3:
      out[bytesAt + k3++] = uint8_t(rank - 19);
      break;
    default:
      break;
    }
  }
  return out;
}

std::vector<uint8_t> SymbolUnpack(std::span<const uint8_t> block, size_t maxCount) {
  const size_t size = block.size();
  if (size < kSymbolHeader) Corrupt();
  const uint8_t* p = block.data();
  const size_t n = GetU32(p);
  const size_t bitsAt = GetU32(p + 4);
  const size_t nibblesAt = GetU32(p + 8);
  const int h = p[12];
  const size_t tagsAt = kSymbolHeader + size_t(h) + 1;
  if (n > maxCount || tagsAt > size) Corrupt();
  const size_t bytesAt = tagsAt + n / 4 + 1;
  // The areas follow one another; checking their order bounds every read below and
  // limits n to about four times the block size before anything is allocated.
  if (bytesAt > nibblesAt || nibblesAt > bitsAt || bitsAt > size) Corrupt();

  const uint8_t* table = p + kSymbolHeader;
  std::vector<uint8_t> out(n);
  size_t k1 = 0, k2 = 0, k3 = 0;
  for (size_t i = 0; i < n; ++i) {
    const int cls = (p[tagsAt + i / 4] >> (2 * (i % 4))) & 3;
    int rank = 0;
    switch (cls) {
    case 1:
      if (bitsAt + k1 / 8 >= size) Corrupt();
      rank = 1 + ((p[bitsAt + k1 / 8] >> (k1 % 8)) & 1);
      ++k1;
      break;
    case 2:
      if (nibblesAt + k2 / 2 >= bitsAt) Corrupt();
      rank = 3 + ((p[nibblesAt + k2 / 2] >> (4 * (k2 % 2))) & 15);
      ++k2;
      break;
    case 3:
      if (bytesAt + k3 >= nibblesAt) Corrupt();
      rank = 19 + p[bytesAt + k3];
      ++k3;
      break;
    default:
      break;
    }
    if (rank > h) Corrupt();
    out[i] = table[rank];
  }
  return out;
}

std::vector<uint8_t> RunPack(std::span<const uint8_t> data) {
  const size_t n = data.size();
  const uint8_t* d = data.data();
  std::vector<uint8_t> out;
  out.reserve(n + n / 127 + 2);
  if (n < 3) {
    out.push_back(uint8_t(n));
    out.insert(out.end(), d, d + n);
    return out;
  }
  size_t start = 0;
  bool run = false;
  for (size_t k = 2; k < n; ++k) {
    const bool same = d[k - 2] == d[k - 1] && d[k - 1] == d[k];
    if (!run && same) {
      AppendLiterals(out, d + start, k - 2 - start);
      start = k - 2;
      run = true;
    } else if (run && !same) {
      // The run is written one byte short; byte k-1 opens the next literal stretch.
      AppendRun(out, d[k - 1], k - 1 - start);
      start = k - 1;
      run = false;
    }
  }
  if (run && n - start >= 2)
    AppendRun(out, d[start], n - start);
  else
    AppendLiterals(out, d + start, n - start);
  return out;
}

std::vector<uint8_t> RunUnpack(std::span<const uint8_t> packets, size_t maxCount) {
  std::vector<uint8_t> out;
  out.reserve(std::min(maxCount, packets.size() * 2));
  size_t i = 0;
  const size_t size = packets.size();
  while (i < size) {
    const int c = int8_t(packets[i++]);
    if (c >= 0) {
      if (size_t(c) > size - i || size_t(c) > maxCount - out.size()) Corrupt();
      out.insert(out.end(), packets.begin() + i, packets.begin() + i + c);
      i += size_t(c);
    } else {
      const size_t repeat = size_t(1 - c);
      if (i >= size || repeat > maxCount - out.size()) Corrupt();
      out.insert(out.end(), repeat, packets[i++]);
    }
  }
  return out;
}

void PlaneSplit(std::span<uint8_t> data, int planes) {
  if (planes < 1 || planes > 8) throw ERasterError("Invalid plane count");
  const size_t k = size_t(planes);
  const size_t s = data.size() / k;
  if (k == 1 || s == 0) return;
  std::vector<uint8_t> tmp(data.begin(), data.begin() + k * s);
  for (size_t i = 0; i < s; ++i)
    for (size_t j = 0; j < k; ++j) data[j * s + i] = tmp[i * k + j];
}

void PlaneJoin(std::span<uint8_t> data, int planes) {
  if (planes < 1 || planes > 8) throw ERasterError("Invalid plane count");
  const size_t k = size_t(planes);
  const size_t s = data.size() / k;
  if (k == 1 || s == 0) return;
  std::vector<uint8_t> tmp(data.begin(), data.begin() + k * s);
  for (size_t i = 0; i < s; ++i)
    for (size_t j = 0; j < k; ++j) data[i * k + j] = tmp[j * s + i];
}

std::vector<uint8_t> PackBytes(std::span<const uint8_t> data) {
  std::vector<uint8_t> work(data.begin(), data.end());
  DeltaEncode(work);
  work = SymbolPack(work);
  work = RunPack(work);
  return SymbolPack(work);
}

std::vector<uint8_t> UnpackBytes(std::span<const uint8_t> packed, size_t maxCount) {
  const size_t classBound = SymbolPackBound(maxCount);
  std::vector<uint8_t> work = SymbolUnpack(packed, RunPackBound(classBound));
  work = RunUnpack(work, classBound);
  work = SymbolUnpack(work, maxCount);
  DeltaDecode(work);
  return work;
}

} // namespace dtp
