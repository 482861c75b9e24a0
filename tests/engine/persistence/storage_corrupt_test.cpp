// Files whose header or index lie: each raises its error and leaves the container empty,
// and no damaged file crashes, hangs or allocates what its fields claim.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "engine/persistence/storage.h"
#include "tests/engine/persistence/storage_fixture.h"

namespace dtp {
namespace {

using test::B;
using test::Bytes;
using test::MessageOf;
using test::PutLE;
using test::ReadFile;
using test::SaveBytes;
using test::TScratchFolder;
using test::WriteFile;

// The compact file of "A" = "abc" and "BC" = "defgh": index at 69, N at 69, "A"'s entry at
// 73 (offset 73, size 81, name length 89, name 93), "BC"'s entry at 94 (offset 94, size 102,
// name length 110), data at 116 and 119, 124 bytes.
Bytes ValidFile() {
  TvqStorage s;
  s.WriteStream("A", B("abc"));
  s.WriteStream("BC", B("defgh"));
  return SaveBytes(s);
}

struct Patch {
  size_t at;
  int width; // 1, 4 or 8 bytes, little-endian
  int64_t value;
};

struct CorruptCase {
  const char* what;
  std::vector<Patch> patches;
  size_t cutTo; // 0: keep the whole file
  std::string message;
};

constexpr int64_t kMax64 = std::numeric_limits<int64_t>::max();
constexpr int64_t kMax32 = std::numeric_limits<int32_t>::max();

const std::vector<CorruptCase>& CorruptCases() {
  static const std::vector<CorruptCase> cases = {
      {"wrong magic", {{0, 1, 'X'}}, 0, "File is not a storage file"},
      {"magic only in part", {}, 3, "File is not a storage file"},
      {"future version", {{4, 1, 2}}, 0, "File is wrong (future) version"},
      {"largest version", {{4, 1, 255}}, 0, "File is wrong (future) version"},
      {"magic without header", {}, 4, "Storage file is truncated"},
      {"header cut in the index offset", {}, 10, "Storage file is truncated"},
      {"index offset inside the header", {{6, 8, 6}}, 0, "Storage index lies outside the file"},
      {"negative index offset", {{6, 8, -1}}, 0, "Storage index lies outside the file"},
      {"index offset past the end", {{6, 8, 1000}}, 0, "Storage index lies outside the file"},
      {"index offset leaves no count", {{6, 8, 121}}, 0, "Storage index lies outside the file"},
      {"largest index offset", {{6, 8, kMax64}}, 0, "Storage index lies outside the file"},
      {"negative entry count", {{69, 4, -1}}, 0, "Storage index entry count is invalid"},
      {"entry count of 2^31 - 1", {{69, 4, kMax32}}, 0, "Storage index entry count is invalid"},
      {"more entries than bytes", {{69, 4, 3}}, 0, "Storage index entry count is invalid"},
      {"name length of 2^31 - 1", {{89, 4, kMax32}}, 0, "Storage stream name length is invalid"},
      {"negative name length", {{89, 4, -5}}, 0, "Storage stream name length is invalid"},
      {"name past the end", {{110, 4, 20}}, 0, "Storage stream name length is invalid"},
      {"negative offset", {{73, 8, -1}}, 0, "Storage stream \"A\" lies outside the file"},
      {"negative size", {{81, 8, -3}}, 0, "Storage stream \"A\" lies outside the file"},
      {"size past the end", {{81, 8, 9}}, 0, "Storage stream \"A\" lies outside the file"},
      {"offset past the end", {{94, 8, 125}}, 0, "Storage stream \"BC\" lies outside the file"},
      {"offset plus size overflows",
       {{73, 8, kMax64}, {81, 8, kMax64}},
       0,
       "Storage stream \"A\" lies outside the file"},
      {"largest size", {{81, 8, kMax64}}, 0, "Storage stream \"A\" lies outside the file"},
      {"data cut off", {}, 123, "Storage stream \"BC\" lies outside the file"},
      {"index cut off", {}, 100, "Storage index entry count is invalid"},
      {"overlapping blocks", {{94, 8, 118}}, 0, "Storage streams \"A\" and \"BC\" overlap"},
      {"one block inside another", {{81, 8, 8}}, 0, "Storage streams \"A\" and \"BC\" overlap"},
      {"two entries on one block",
       {{94, 8, 116}, {102, 8, 3}},
       0,
       "Storage streams \"A\" and \"BC\" overlap"},
  };
  return cases;
}

Bytes Corrupt(const CorruptCase& c) {
  Bytes file = ValidFile();
  for (const Patch& p : c.patches) PutLE(file, p.at, p.width, p.value);
  if (c.cutTo) file.resize(c.cutTo);
  return file;
}

TEST(StorageCorrupt, EachDamageRaisesItsErrorFromAStream) {
  for (const CorruptCase& c : CorruptCases()) {
    TvqStorage s;
    s.WriteStream("Earlier", B("part"));
    EXPECT_EQ(MessageOf([&] { s.LoadFromStream(TvqMemoryStream(Corrupt(c))); }), c.message)
        << c.what;
    EXPECT_EQ(s.StreamCount(), 0) << c.what;
  }
}

TEST(StorageCorrupt, EachDamageRaisesItsErrorFromAFileInEitherMode) {
  TScratchFolder dir;
  const std::string card = dir.File("card.wqx");
  for (const CorruptCase& c : CorruptCases()) {
    const Bytes file = Corrupt(c);
    WriteFile(card, file);
    TvqStorage s;
    EXPECT_EQ(MessageOf([&] { s.LoadFromFile(card); }), c.message) << c.what;
    EXPECT_EQ(s.StreamCount(), 0) << c.what;
    EXPECT_EQ(s.FileName(), "") << c.what;
    // In place, the damaged file is neither changed nor deleted.
    EXPECT_EQ(MessageOf([&] { s.OpenDirect(card); }), c.message) << c.what;
    EXPECT_EQ(s.StreamCount(), 0) << c.what;
    EXPECT_EQ(ReadFile(card), file) << c.what;
  }
}

TEST(StorageCorrupt, ToleratedOddities) {
  struct Case {
    const char* what;
    std::vector<Patch> patches;
  };
  const std::vector<Case> cases = {
      {"version 0", {{4, 1, 0}}},
      {"any second byte", {{5, 1, 0xEE}}},
      {"text field overwritten", {{14, 8, -1}, {40, 8, 0x1234}}},
      {"empty part anywhere", {{73, 8, 10}, {81, 8, 0}}},
      {"empty part at the very end", {{94, 8, 124}, {102, 8, 0}}},
      {"gap between blocks", {{81, 8, 2}}},
  };
  for (const Case& c : cases) {
    Bytes file = ValidFile();
    for (const Patch& p : c.patches) PutLE(file, p.at, p.width, p.value);
    TvqStorage s;
    s.LoadFromStream(TvqMemoryStream(file));
    EXPECT_EQ(s.StreamCount(), 2) << c.what;
    EXPECT_NO_THROW((void)s.ReadStream("BC")) << c.what;
  }
}

TEST(StorageCorrupt, ALiveFileWhoseIndexGrowsOverItsBlocksKeepsThem) {
  // Blocks in front of where the index will end are moved away before the index grows.
  TScratchFolder dir;
  const std::string card = dir.File("card.wqx");
  Bytes file = ValidFile();
  PutLE(file, 6, 8, 14);
  // A live index at 14, with the blocks where it is about to grow.
  Bytes index = {2, 0, 0, 0};
  auto entry = [&](int64_t offset, int64_t size, const std::string& name) {
    Bytes e(20);
    PutLE(e, 0, 8, offset);
    PutLE(e, 8, 8, size);
    PutLE(e, 16, 4, static_cast<int64_t>(name.size()));
    e.insert(e.end(), name.begin(), name.end());
    index.insert(index.end(), e.begin(), e.end());
  };
  entry(116, 3, "A");
  entry(119, 5, "BC");
  std::copy(index.begin(), index.end(), file.begin() + 14);
  WriteFile(card, file);
  TvqStorage s;
  s.OpenDirect(card);
  s.WriteStream(std::string(100, 'N'), B("new"));
  EXPECT_EQ(s.ReadStream("A"), B("abc"));
  EXPECT_EQ(s.ReadStream("BC"), B("defgh"));
  s.Clear();
  TvqStorage t;
  t.LoadFromFile(card);
  EXPECT_EQ(t.ReadStream("A"), B("abc"));
  EXPECT_EQ(t.ReadStream("BC"), B("defgh"));
  EXPECT_EQ(t.ReadStream(std::string(100, 'N')), B("new"));
}

// Loads `file`; when that works, every part must read, an edit must work and the saved
// result must load again with the same parts. Only the container's own errors may occur.
void LoadAndUse(const Bytes& file, const std::string& what) {
  TvqStorage s;
  try {
    s.LoadFromStream(TvqMemoryStream(file));
  } catch (const EDtpError&) {
    EXPECT_EQ(s.StreamCount(), 0) << what;
    return;
  }
  for (int i = 0; i < s.StreamCount(); ++i) (void)s.ReadStream(s.StreamNames(i));
  s.WriteStream("Added.xml", Bytes(300, 'a'));
  const Bytes saved = SaveBytes(s);
  TvqStorage t;
  t.LoadFromStream(TvqMemoryStream(saved));
  ASSERT_EQ(t.StreamCount(), s.StreamCount()) << what;
  for (int i = 0; i < t.StreamCount(); ++i)
    EXPECT_EQ(t.ReadStream(t.StreamNames(i)), s.ReadStream(s.StreamNames(i))) << what;
}

Bytes SweepFile() {
  TvqStorage s;
  s.WriteStream("Index.xml", B("<Document/>"));
  s.WriteStream("Fonts.dat", std::vector<uint8_t>());
  s.WriteStream("TMP1234567.png", Bytes(40, 'p'));
  return SaveBytes(s);
}

TEST(StorageCorrupt, EveryCutLoadsOrFails) {
  const Bytes file = SweepFile();
  for (size_t cut = 0; cut <= file.size(); ++cut)
    LoadAndUse(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut)),
               "cut at " + std::to_string(cut));
}

TEST(StorageCorrupt, EveryHeaderByteFlippedLoadsOrFails) {
  const Bytes file = SweepFile();
  // Header, text field and index: everything in front of the first block.
  const size_t indexEnd = static_cast<size_t>(test::IndexOf(file).front().Offset);
  for (size_t at = 0; at < indexEnd; ++at) {
    for (const uint8_t mask : {uint8_t(0xFF), uint8_t(0x80), uint8_t(0x01), uint8_t(0x40)}) {
      Bytes damaged = file;
      damaged[at] ^= mask;
      LoadAndUse(damaged, "byte " + std::to_string(at) + " ^ " + std::to_string(mask));
    }
  }
}

TEST(StorageCorrupt, ALiveFileSweepLoadsOrFails) {
  // The live layout has the index at 14 and blocks further out; damage it the same way.
  TScratchFolder dir;
  const std::string card = dir.File("card.wqx");
  {
    TvqStorage s;
    s.OpenDirect(card);
    s.WriteStream("Index.xml", B("<Document/>"));
    s.WriteStream("Fonts.dat", std::vector<uint8_t>());
    s.WriteStream("Page0001.xml", Bytes(30, 'p'));
  }
  const Bytes file = ReadFile(card);
  for (size_t at = 0; at < 100; ++at) {
    Bytes damaged = file;
    damaged[at] ^= 0xFF;
    LoadAndUse(damaged, "live byte " + std::to_string(at));
  }
  for (size_t cut = 0; cut <= file.size(); cut += 7)
    LoadAndUse(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut)),
               "live cut at " + std::to_string(cut));
}

} // namespace
} // namespace dtp
