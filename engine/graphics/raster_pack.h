#pragma once
// The byte packing primitives shared by the QZP raster format and the bitmaps embedded in
// document XML. Their output is a stored file format: every byte is fixed.
//
// Unpacking functions take the largest output the caller accepts and raise
// ERasterError("Unable to decompress") for malformed input or output beyond it; they never
// allocate more than a small multiple of the input they were given.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace dtp {

// Byte i becomes (byte i - byte i-1) mod 256, the byte before the first counting as 0.
void DeltaEncode(std::span<uint8_t> data);
// The running sum mod 256; inverse of DeltaEncode.
void DeltaDecode(std::span<uint8_t> data);

// Class coding: bytes ranked by falling frequency, each coded by a 2-bit class tag and a
// 0-, 1-, 4- or 8-bit payload. Writes at most SymbolPackBound(input size) bytes.
std::vector<uint8_t> SymbolPack(std::span<const uint8_t> data);
std::vector<uint8_t> SymbolUnpack(std::span<const uint8_t> block, size_t maxCount);
constexpr size_t SymbolPackBound(size_t count) {
  return count + count / 4 + 272;
}

// Packet run-length coding (count byte >= 0: literal bytes follow; < 0: one byte repeated
// 1 - count times). Writes at most RunPackBound(input size) bytes: a run's last byte joins
// the following literal, so alternating short runs and literals grow by up to a third.
std::vector<uint8_t> RunPack(std::span<const uint8_t> data);
std::vector<uint8_t> RunUnpack(std::span<const uint8_t> packets, size_t maxCount);
constexpr size_t RunPackBound(size_t count) {
  return count + count / 3 + count / 127 + 2;
}

// Regroups bytes into k planes (1 <= k <= 8): with s = count / k, output byte j*s + i is
// input byte i*k + j; the last count - k*s bytes stay at the end. In place.
void PlaneSplit(std::span<uint8_t> data, int planes);
void PlaneJoin(std::span<uint8_t> data, int planes);

// The whole pipeline: delta, class coding, run-length coding, class coding.
std::vector<uint8_t> PackBytes(std::span<const uint8_t> data);
// Its inverse; the result holds at most maxCount bytes (the caller checks the exact size
// it expects).
std::vector<uint8_t> UnpackBytes(std::span<const uint8_t> packed, size_t maxCount);

} // namespace dtp
