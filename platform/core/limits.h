#pragma once
// Every reader of outside bytes checks these before it allocates.

#include <cstddef>
#include <cstdint>

namespace dtp::limits {

constexpr int64_t kMaxPicturePixels = 100'000'000;
constexpr int64_t kMaxPictureSide = 32768;
constexpr int64_t kMaxPictureBytes = int64_t(512) << 20;
constexpr int kMaxJpegScans = 500;
constexpr int kMaxXmlDepth = 256;
constexpr int64_t kMaxBase64Bytes = int64_t(64) << 20;
constexpr int64_t kMaxMetafileRecords = 1'000'000;
constexpr int64_t kMaxMetafilePoints = 10'000'000;

} // namespace dtp::limits
