#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <set>
#include <sys/stat.h>
#include <thread>

#include "engine/persistence/storage.h"
#include "tests/engine/persistence/storage_fixture.h"

namespace dtp {
namespace {

using test::B;
using test::Bytes;
using test::GetLE;
using test::MessageOf;
using test::ReadFile;
using test::SaveBytes;
using test::TScratchFolder;

// ---------------------------------------------------------------------------------------
// Compact layout

TEST(StorageCompactLayout, TwoEntriesAreByteExact) {
  TvqStorage s;
  s.WriteStream("A", B("abc"));
  s.WriteStream("BC", B("defgh"));
  const Bytes file = SaveBytes(s);

  ASSERT_EQ(file.size(), 124u);
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 6), (Bytes{'S', 'T', 'O', 'R', 1, 1}));
  EXPECT_EQ(GetLE(file, 6, 8), 69);
  // The text field: CR LF, an identification, CR LF, a zero byte; 55 bytes in all.
  EXPECT_EQ(file[14], '\r');
  EXPECT_EQ(file[15], '\n');
  EXPECT_EQ(file[66], '\r');
  EXPECT_EQ(file[67], '\n');
  EXPECT_EQ(file[68], 0);
  EXPECT_EQ(GetLE(file, 69, 4), 2);
  // "A": 21 bytes of entry at 73.
  EXPECT_EQ(GetLE(file, 73, 8), 116);
  EXPECT_EQ(GetLE(file, 81, 8), 3);
  EXPECT_EQ(GetLE(file, 89, 4), 1);
  EXPECT_EQ(file[93], 'A');
  // "BC": 22 bytes of entry at 94.
  EXPECT_EQ(GetLE(file, 94, 8), 119);
  EXPECT_EQ(GetLE(file, 102, 8), 5);
  EXPECT_EQ(GetLE(file, 110, 4), 2);
  EXPECT_EQ(std::string(file.begin() + 114, file.begin() + 116), "BC");
  EXPECT_EQ(std::string(file.begin() + 116, file.end()), "abcdefgh");
}

TEST(StorageCompactLayout, BlocksFollowTheIndexWithoutGaps) {
  struct Part {
    std::string name;
    size_t size;
  };
  const std::vector<std::vector<Part>> cases = {
      {},
      {{"", 0}},
      {{"Index.xml", 70000}},
      {{"Index.xml", 10}, {"Fonts.dat", 0}, {std::string(300, 'n'), 61441}, {"x", 1}},
  };
  for (const auto& parts : cases) {
    TvqStorage s;
    int64_t sumEntries = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
      s.WriteStream(parts[i].name, Bytes(parts[i].size, static_cast<uint8_t>('a' + i)));
      sumEntries += 20 + static_cast<int64_t>(parts[i].name.size());
    }
    const Bytes file = SaveBytes(s);
    const std::vector<TvqIndexItem> index = test::IndexOf(file);
    ASSERT_EQ(index.size(), parts.size());
    int64_t expected = 73 + sumEntries;
    for (size_t i = 0; i < parts.size(); ++i) {
      EXPECT_EQ(index[i].Name, parts[i].name);
      EXPECT_EQ(index[i].Offset, expected) << "part " << i << " of " << parts.size();
      EXPECT_EQ(index[i].Size, static_cast<int64_t>(parts[i].size));
      expected += index[i].Size;
    }
    EXPECT_EQ(static_cast<int64_t>(file.size()), expected);
  }
}

TEST(StorageCompactLayout, SaveToStreamWritesAtThePositionAndAdvances) {
  TvqStorage s;
  s.WriteStream("A", B("abc"));
  const Bytes plain = SaveBytes(s);
  TvqMemoryStream out(B("xyz"));
  out.SetPosition(3);
  s.SaveToStream(out);
  EXPECT_EQ(out.Position(), static_cast<int64_t>(3 + plain.size()));
  EXPECT_EQ(Bytes(out.Bytes().begin() + 3, out.Bytes().end()), plain);
  EXPECT_EQ(Bytes(out.Bytes().begin(), out.Bytes().begin() + 3), B("xyz"));
}

TEST(StorageCompactLayout, SaveLoadSaveIsIdentical) {
  TvqStorage s;
  s.WriteStream("Index.xml", B("<Document/>"));
  s.WriteStream("Thumb0001.bmp", Bytes(100000, 7));
  s.WriteStream("Fonts.dat", std::vector<uint8_t>());
  const Bytes first = SaveBytes(s);
  TvqStorage t;
  t.LoadFromStream(TvqMemoryStream(first));
  EXPECT_EQ(SaveBytes(t), first);
  EXPECT_EQ(t.ReadStream("Thumb0001.bmp"), Bytes(100000, 7));
}

// ---------------------------------------------------------------------------------------
// Live layout (direct mode: the work stream is the file itself)

TEST(StorageLiveLayout, NewDirectFileHoldsHeaderAndEmptyIndex) {
  TScratchFolder dir;
  TvqStorage s;
  s.OpenDirect(dir.File("card.wqx"));
  EXPECT_EQ(ReadFile(dir.File("card.wqx")),
            (Bytes{'S', 'T', 'O', 'R', 1, 1, 14, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(StorageLiveLayout, FirstPartGoesToEPlus512AndTheIndexSitsAt14) {
  TScratchFolder dir;
  TvqStorage s;
  s.OpenDirect(dir.File("card.wqx"));
  s.WriteStream("A", B("abc"));
  const Bytes file = ReadFile(dir.File("card.wqx"));
  // E = 12 before the entry exists, so the block starts at 524.
  ASSERT_EQ(file.size(), 527u);
  EXPECT_EQ(GetLE(file, 6, 8), 14);
  EXPECT_EQ(GetLE(file, 14, 4), 1);
  EXPECT_EQ(GetLE(file, 18, 8), 524);
  EXPECT_EQ(GetLE(file, 26, 8), 3);
  EXPECT_EQ(GetLE(file, 34, 4), 1);
  EXPECT_EQ(file[38], 'A');
  EXPECT_EQ(std::string(file.begin() + 524, file.end()), "abc");
}

// Checks what the file on disk says: every block at E + 6 or later, no two blocks sharing
// a byte, and each part's bytes as written.
void ExpectLiveFile(const std::string& path,
                    const std::vector<std::pair<std::string, Bytes>>& parts) {
  const Bytes file = ReadFile(path);
  ASSERT_EQ(GetLE(file, 6, 8), 14);
  const std::vector<TvqIndexItem> index = test::IndexOf(file);
  ASSERT_EQ(index.size(), parts.size());
  int64_t e = 12;
  for (const TvqIndexItem& item : index) e += 20 + static_cast<int64_t>(item.Name.size());
  for (size_t i = 0; i < parts.size(); ++i) {
    EXPECT_EQ(index[i].Name, parts[i].first);
    EXPECT_GE(index[i].Offset, e + 6) << parts[i].first;
    ASSERT_EQ(index[i].Size, static_cast<int64_t>(parts[i].second.size()));
    EXPECT_EQ(Bytes(file.begin() + index[i].Offset, file.begin() + index[i].Offset + index[i].Size),
              parts[i].second)
        << parts[i].first;
  }
}

TEST(StorageLiveLayout, AGrowingIndexMovesBlocksPastIt) {
  TScratchFolder dir;
  TvqStorage s;
  s.OpenDirect(dir.File("card.wqx"));
  std::vector<std::pair<std::string, Bytes>> parts;
  // Long names make the index pass the first block at 524 after a few parts.
  for (int i = 0; i < 12; ++i) {
    const std::string name = "Page" + std::to_string(i) + std::string(60, 'x') + ".xml";
    const Bytes data(static_cast<size_t>(30 + 17 * i), static_cast<uint8_t>(i + 1));
    s.WriteStream(name, data);
    parts.emplace_back(name, data);
    ExpectLiveFile(dir.File("card.wqx"), parts);
  }
}

TEST(StorageLiveLayout, EmptyPartsInFrontOfAGrowingIndexDoNotHang) {
  // Empty parts share one position; moving one "to the first gap that fits" would hand it
  // the same position again and again.
  TScratchFolder dir;
  TvqStorage s;
  s.OpenDirect(dir.File("card.wqx"));
  std::vector<std::pair<std::string, Bytes>> parts;
  s.WriteStream("X", Bytes(100, 'x'));
  parts.emplace_back("X", Bytes(100, 'x'));
  for (int i = 0; i < 40; ++i) {
    const std::string name = "Empty" + std::to_string(100 + i) + ".dat";
    s.WriteStream(name, std::vector<uint8_t>());
    parts.emplace_back(name, Bytes());
  }
  ExpectLiveFile(dir.File("card.wqx"), parts);
  EXPECT_EQ(s.ReadStream("X"), Bytes(100, 'x'));
}

TEST(StorageLiveLayout, DeletingShrinksTheFileToTheUsedSize) {
  TScratchFolder dir;
  TvqStorage s;
  s.OpenDirect(dir.File("card.wqx"));
  s.WriteStream("A", Bytes(10, 'a'));
  s.WriteStream("B", Bytes(10, 'b'));
  s.DeleteStream("B");
  EXPECT_EQ(ReadFile(dir.File("card.wqx")).size(), 534u);
  s.DeleteStream("A");
  EXPECT_EQ(ReadFile(dir.File("card.wqx")),
            (Bytes{'S', 'T', 'O', 'R', 1, 1, 14, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(StorageLiveLayout, SettingMemoryCacheKeepsAnEmptyDirectFileLoadable) {
  // The used size of an empty container is the 6 header bytes; cutting the file to it
  // would drop its index offset and index.
  TScratchFolder dir;
  {
    TvqStorage s;
    s.OpenDirect(dir.File("card.wqx"));
    s.SetMemoryCache(1000);
  }
  TvqStorage t;
  t.LoadFromFile(dir.File("card.wqx"));
  EXPECT_EQ(t.StreamCount(), 0);
}

// ---------------------------------------------------------------------------------------
// Free space

TEST(StorageAllocate, FirstFitRules) {
  auto work = [](std::string name, int64_t offset, int64_t size) {
    return TvqIndexItem{std::move(name), false, offset, size};
  };
  auto source = [](std::string name, int64_t offset, int64_t size) {
    return TvqIndexItem{std::move(name), true, offset, size};
  };
  struct Case {
    const char* what;
    std::vector<TvqIndexItem> index;
    int64_t size;
    int64_t expected;
  };
  const std::vector<Case> cases = {
      {"empty container", {}, 10, 12 + 512},
      {"in-source entries count for E only", {source("AB", 100, 50)}, 10, 12 + 22 + 512},
      {"no gap: after the last block", {work("A", 600, 10), work("B", 610, 10)}, 5, 620},
      {"first gap that fits",
       {work("A", 600, 10), work("B", 620, 10), work("C", 700, 10)},
       10,
       610},
      {"a smaller gap is skipped",
       {work("A", 600, 10), work("B", 615, 10), work("C", 700, 10)},
       10,
       625},
      {"order of the index does not matter",
       {work("C", 700, 10), work("A", 600, 10), work("B", 620, 10)},
       10,
       610},
      {"space before the first block stays unused", {work("A", 900, 10)}, 10, 910},
      {"in-source blocks are no obstacle",
       {work("A", 600, 10), source("S", 610, 500), work("B", 700, 1)},
       50,
       610},
      {"an empty entry inside a block",
       {work("A", 600, 100), work("Z", 650, 0), work("B", 800, 1)},
       60,
       700},
  };
  for (const Case& c : cases) EXPECT_EQ(storage::Allocate(c.index, c.size), c.expected) << c.what;
}

TEST(StorageAllocate, RewritingKeepsShrinkingPartsAndMovesGrowingOnes) {
  TScratchFolder dir;
  TvqStorage s;
  s.OpenDirect(dir.File("card.wqx"));
  auto offsetOf = [&](const std::string& name) {
    for (const TvqIndexItem& item : test::IndexOf(ReadFile(dir.File("card.wqx"))))
      if (item.Name == name) return item.Offset;
    return int64_t(-1);
  };
  s.WriteStream("A", Bytes(10, 'a'));
  s.WriteStream("B", Bytes(10, 'b'));
  s.WriteStream("C", Bytes(10, 'c'));
  EXPECT_EQ(offsetOf("A"), 524);
  EXPECT_EQ(offsetOf("B"), 534);
  EXPECT_EQ(offsetOf("C"), 544);

  s.DeleteStream("B");
  s.WriteStream("D", Bytes(10, 'd')); // into B's gap
  EXPECT_EQ(offsetOf("D"), 534);
  s.WriteStream("D", Bytes(4, 'e')); // fewer bytes: in place
  EXPECT_EQ(offsetOf("D"), 534);
  s.WriteStream("A", Bytes(20, 'f')); // more bytes: gaps of 0 and 6 are too small
  EXPECT_EQ(offsetOf("A"), 554);
  s.WriteStream("E", Bytes(6, 'g')); // the 6-byte gap after D
  EXPECT_EQ(offsetOf("E"), 538);
  s.WriteStream("F", Bytes(10, 'h')); // A's old place lies before the first block
  EXPECT_EQ(offsetOf("F"), 574);

  EXPECT_EQ(s.ReadStream("A"), Bytes(20, 'f'));
  EXPECT_EQ(s.ReadStream("C"), Bytes(10, 'c'));
  EXPECT_EQ(s.ReadStream("D"), Bytes(4, 'e'));
  EXPECT_EQ(s.ReadStream("E"), Bytes(6, 'g'));
}

// ---------------------------------------------------------------------------------------
// Names

TEST(StorageNames, LookUpIgnoresLetterCase) {
  TvqStorage s;
  s.WriteStream("Index.xml", B("one"));
  EXPECT_TRUE(s.StreamExists("index.xml"));
  EXPECT_EQ(s.ReadStream("INDEX.XML"), B("one"));
  s.WriteStream("INDEX.xml", B("two"));
  EXPECT_EQ(s.StreamCount(), 1);
  EXPECT_EQ(s.ReadStream("Index.xml"), B("two"));
  s.DeleteStream("iNdEx.XmL");
  EXPECT_EQ(s.StreamCount(), 0);
  EXPECT_FALSE(s.StreamExists("Index.xml"));
}

TEST(StorageNames, StreamNamesKeepInsertionOrder) {
  TvqStorage s;
  for (const char* n : {"Index.xml", "Page0001.xml", "Thumb0001.bmp"}) s.WriteStream(n, B(n));
  EXPECT_EQ(s.StreamCount(), 3);
  EXPECT_EQ(s.StreamNames(0), "Index.xml");
  EXPECT_EQ(s.StreamNames(2), "Thumb0001.bmp");
  EXPECT_EQ(s.StreamNames(3), "");
  EXPECT_EQ(s.StreamNames(-1), "");
  s.DeleteStream("Page0001.xml");
  EXPECT_EQ(s.StreamNames(1), "Thumb0001.bmp");
}

TEST(StorageNames, RenameAfterDeleteMakesTheThirdPageTheSecond) {
  TvqStorage s;
  s.WriteStream("Page0001.xml", B("one"));
  s.WriteStream("Page0002.xml", B("two"));
  s.WriteStream("Page0003.xml", B("three"));
  s.DeleteStream("Page0002.xml");
  s.RenameStream("Page0003.xml", "Page0002.xml");
  EXPECT_EQ(s.ReadStream("Page0002.xml"), B("three"));
  EXPECT_FALSE(s.StreamExists("Page0003.xml"));
  EXPECT_EQ(s.StreamCount(), 2);
}

TEST(StorageNames, RenameCases) {
  {
    TvqStorage s;
    s.WriteStream("A", B("a"));
    s.RenameStream("missing", "A");
    EXPECT_EQ(s.ReadStream("A"), B("a"));
    EXPECT_EQ(s.StreamCount(), 1);
  }
  {
    // A part of the new name would otherwise hide the renamed one.
    TvqStorage s;
    s.WriteStream("Page0002.xml", B("old"));
    s.WriteStream("Page0003.xml", B("new"));
    s.RenameStream("Page0003.xml", "page0002.XML");
    EXPECT_EQ(s.StreamCount(), 1);
    EXPECT_EQ(s.StreamNames(0), "page0002.XML");
    EXPECT_EQ(s.ReadStream("Page0002.xml"), B("new"));
  }
  {
    TvqStorage s;
    s.WriteStream("Index.xml", B("i"));
    s.RenameStream("Index.xml", "INDEX.XML");
    EXPECT_EQ(s.StreamCount(), 1);
    EXPECT_EQ(s.StreamNames(0), "INDEX.XML");
    EXPECT_EQ(s.ReadStream("index.xml"), B("i"));
  }
}

TEST(StorageNames, RenameInDirectModeRewritesTheIndexOnDisk) {
  TScratchFolder dir;
  TvqStorage s;
  s.OpenDirect(dir.File("card.wqx"));
  s.WriteStream("A", B("abc"));
  s.RenameStream("A", std::string(600, 'L')); // the longer name pushes the index past 524
  const std::vector<TvqIndexItem> index = test::IndexOf(ReadFile(dir.File("card.wqx")));
  ASSERT_EQ(index.size(), 1u);
  EXPECT_EQ(index[0].Name, std::string(600, 'L'));
  EXPECT_GE(index[0].Offset, 12 + 620 + 6);
  EXPECT_EQ(s.ReadStream(std::string(600, 'l')), B("abc"));
}

TEST(StorageNames, UniqueStreamNames) {
  TvqStorage s;
  const std::regex pattern("TMP[0-9]{7}\\.jpg");
  std::set<std::string> seen;
  for (int i = 0; i < 300; ++i) {
    const std::string name = s.UniqueStreamName(".jpg");
    EXPECT_TRUE(std::regex_match(name, pattern)) << name;
    EXPECT_FALSE(s.StreamExists(name));
    s.WriteStream(name, std::vector<uint8_t>());
    seen.insert(name);
  }
  EXPECT_EQ(seen.size(), 300u);
}

TEST(StorageNames, IsTemporaryName) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"TMP1234567.png", true}, {"TMP", true},          {"tmp0000001", true}, {"TM", false},
      {"Index.xml", false},     {"xTMP1234567", false}, {"", false},
  };
  for (const auto& [name, expected] : cases)
    EXPECT_EQ(TvqStorage::IsTemporaryName(name), expected) << name;
}

// ---------------------------------------------------------------------------------------
// Opening and binding

TEST(StorageOpen, LoadingAMissingFileLeavesAnEmptyContainer) {
  TScratchFolder dir;
  TvqStorage s;
  s.WriteStream("A", B("a"));
  s.LoadFromFile(dir.File("missing.wqx"));
  EXPECT_EQ(s.StreamCount(), 0);
  EXPECT_EQ(s.FileName(), dir.File("missing.wqx"));
  EXPECT_TRUE(dir.Names().empty());
}

TEST(StorageOpen, NormalOpenReadsUnchangedPartsFromTheSourceFile) {
  TScratchFolder dir;
  const std::string card = dir.File("card.wqx");
  {
    TvqStorage s;
    s.WriteStream("A", B("abc"));
    s.WriteStream("BC", B("defgh"));
    s.SaveToFile(card);
  }
  TvqStorage s;
  s.LoadFromFile(card);
  EXPECT_EQ(s.StreamCount(), 2);
  s.WriteStream("A", B("rewritten"));
  // Change the bytes of "BC" behind the container's back: an untouched part is read from
  // the file when asked for, not copied at open.
  {
    std::fstream patch(card, std::ios::binary | std::ios::in | std::ios::out);
    patch.seekp(119);
    patch.put('X');
  }
  EXPECT_EQ(s.ReadStream("BC"), B("Xefgh"));
  EXPECT_EQ(s.ReadStream("A"), B("rewritten"));
}

TEST(StorageOpen, SavingOverTheSourceFilePullsEveryPartFirst) {
  TScratchFolder dir;
  const std::string card = dir.File("card.wqx");
  {
    TvqStorage s;
    s.WriteStream("Index.xml", B("index"));
    s.WriteStream("Thumb0001.bmp", Bytes(150000, 't'));
    s.WriteStream("Page0001.xml", B("page"));
    s.SaveToFile(card);
  }
  TvqStorage s;
  s.LoadFromFile(card);
  s.WriteStream("Page0001.xml", B("changed page"));
  s.SaveToFile(card);
  // The container no longer holds the file: another one may now edit it in place.
  TvqStorage other;
  other.OpenDirect(card);
  EXPECT_EQ(other.ReadStream("Index.xml"), B("index"));
  EXPECT_EQ(other.ReadStream("Thumb0001.bmp"), Bytes(150000, 't'));
  EXPECT_EQ(other.ReadStream("Page0001.xml"), B("changed page"));
  other.Clear();
  // And the first container still has every part.
  EXPECT_EQ(s.ReadStream("Thumb0001.bmp"), Bytes(150000, 't'));
  EXPECT_EQ(SaveBytes(s), ReadFile(card));
}

TEST(StorageOpen, DirectModeFileIsAlwaysCurrentAndSavingToItDoesNothing) {
  TScratchFolder dir;
  const std::string card = dir.File("card.wqx");
  TvqStorage s;
  s.OpenDirect(card);
  s.WriteStream("Index.xml", B("index"));
  s.WriteStream("Page0001.xml", B("page"));
  const Bytes before = ReadFile(card);
  TvqStorage copy;
  copy.LoadFromStream(TvqMemoryStream(before));
  EXPECT_EQ(copy.ReadStream("Page0001.xml"), B("page"));

  s.SaveToFile(card);
  s.SaveToFile(dir.Path() + "/./card.wqx");
  EXPECT_EQ(ReadFile(card), before);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"card.wqx"});

  // Saving to another file writes the compact layout there.
  s.SaveToFile(dir.File("copy.wqx"));
  EXPECT_EQ(ReadFile(dir.File("copy.wqx")), SaveBytes(s));
}

TEST(StorageOpen, DirectModeNameComparisonRespectsLetterCase) {
  // On a case-sensitive file system "Card.wqx" is a different file from "card.wqx".
  TScratchFolder dir;
  TvqStorage s;
  s.OpenDirect(dir.File("card.wqx"));
  s.WriteStream("A", B("a"));
  s.SaveToFile(dir.File("Card.wqx"));
  TvqStorage t;
  t.LoadFromFile(dir.File("Card.wqx"));
  EXPECT_EQ(t.ReadStream("A"), B("a"));
}

TEST(StorageOpen, DirectModeFileSurvivesResetAndReopens) {
  TScratchFolder dir;
  const std::string card = dir.File("card.wqx");
  TvqStorage s;
  s.OpenDirect(card);
  s.WriteStream("A", B("abc"));
  s.Clear();
  EXPECT_EQ(s.StreamCount(), 0);
  s.OpenDirect(card);
  EXPECT_EQ(s.ReadStream("A"), B("abc"));
  s.WriteStream("B", B("more"));
  s.DeleteStream("A");
  s.Clear();
  TvqStorage t;
  t.LoadFromFile(card);
  EXPECT_EQ(t.StreamCount(), 1);
  EXPECT_EQ(t.ReadStream("B"), B("more"));
}

TEST(StorageOpen, DirectModeOnACompactFileEditsItInPlace) {
  TScratchFolder dir;
  const std::string card = dir.File("card.wqx");
  {
    TvqStorage s;
    s.WriteStream("A", B("abc"));
    s.WriteStream("BC", B("defgh"));
    s.SaveToFile(card);
  }
  {
    TvqStorage s;
    s.OpenDirect(card);
    s.WriteStream(std::string(70, 'N'), B("long name"));
    s.WriteStream("A", B("abcdefghijkl"));
  }
  TvqStorage t;
  t.LoadFromFile(card);
  EXPECT_EQ(t.ReadStream("A"), B("abcdefghijkl"));
  EXPECT_EQ(t.ReadStream("BC"), B("defgh"));
  EXPECT_EQ(t.ReadStream(std::string(70, 'n')), B("long name"));
}

TEST(StorageOpen, FileNameAndAutoSaveBindTheFile) {
  TScratchFolder dir;
  const std::string card = dir.File("card.wqx");
  {
    TvqStorage s;
    s.WriteStream("A", B("abc"));
    s.SaveToFile(card);
  }
  TvqStorage s;
  EXPECT_FALSE(s.AutoSave());
  EXPECT_EQ(s.MemoryCache(), 10485760);
  s.SetFileName(card); // read-only open
  EXPECT_EQ(s.FileName(), card);
  EXPECT_EQ(s.ReadStream("A"), B("abc"));
  EXPECT_TRUE(s.WorkFileName().empty());

  // Readers share the file; nobody may edit it in place meanwhile.
  TvqStorage reader;
  reader.LoadFromFile(card);
  TvqStorage editor;
  EXPECT_EQ(MessageOf([&] { editor.OpenDirect(card); }), "File \"" + card + "\" is in use");
  reader.Clear();

  s.SetAutoSave(true); // re-binds in direct mode
  EXPECT_EQ(s.WorkFileName(), card);
  s.WriteStream("B", B("direct"));
  EXPECT_EQ(MessageOf([&] { reader.LoadFromFile(card); }), "File \"" + card + "\" is in use");
  s.SetAutoSave(false); // and back
  EXPECT_EQ(s.ReadStream("B"), B("direct"));
  reader.LoadFromFile(card);
  EXPECT_EQ(reader.ReadStream("B"), B("direct"));

  s.SetFileName("");
  EXPECT_EQ(s.StreamCount(), 0);
}

TEST(StorageOpen, LoadFromStreamCopiesTheStream) {
  TvqStorage s;
  s.WriteStream("A", B("abc"));
  const Bytes file = SaveBytes(s);
  TvqStorage t;
  t.LoadFromStream(TvqConstMemoryStream(file.data(), file.size()));
  EXPECT_EQ(t.ReadStream("A"), B("abc"));
  t.WriteStream("A", B("abcd"));
  EXPECT_EQ(t.ReadStream("A"), B("abcd"));
  EXPECT_EQ(SaveBytes(s), file);
}

TEST(StorageOpen, ReadStreamSizesAndRewindsTheTarget) {
  TvqStorage s;
  s.WriteStream("A", B("abc"));
  TvqMemoryStream out(Bytes(1000, 'z'));
  out.SetPosition(500);
  s.ReadStream("A", out);
  EXPECT_EQ(out.Bytes(), B("abc"));
  EXPECT_EQ(out.Position(), 0);
  TvqMemoryStream in(B("xyz and more"));
  in.SetPosition(5);
  s.WriteStream("B", in); // the whole stream, whatever its position
  EXPECT_EQ(s.ReadStream("B"), B("xyz and more"));
}

// ---------------------------------------------------------------------------------------
// Spilling the work stream to a temporary file

class TTmpDirOverride {
public:
  explicit TTmpDirOverride(const std::string& value) {
    if (const char* old = std::getenv("TMPDIR")) m_Old = old, m_Had = true;
    ::setenv("TMPDIR", value.c_str(), 1);
  }
  ~TTmpDirOverride() {
    if (m_Had)
      ::setenv("TMPDIR", m_Old.c_str(), 1);
    else
      ::unsetenv("TMPDIR");
  }

private:
  std::string m_Old;
  bool m_Had = false;
};

TEST(StorageSpill, GrowingBeyondMemoryCacheMovesToATemporaryFile) {
  TScratchFolder tmp;
  TTmpDirOverride env(tmp.Path());
  std::string workFile;
  {
    TvqStorage s;
    s.SetMemoryCache(4096);
    s.WriteStream("small", Bytes(100, 's'));
    EXPECT_TRUE(s.WorkFileName().empty());
    s.WriteStream("big", Bytes(8000, 'b'));
    workFile = s.WorkFileName();
    ASSERT_FALSE(workFile.empty());
    EXPECT_EQ(std::filesystem::path(workFile).parent_path(), std::filesystem::path(tmp.Path()));
    EXPECT_EQ(std::filesystem::path(workFile).filename().string().rfind("~TMP", 0), 0u);
    EXPECT_TRUE(std::filesystem::exists(workFile));
    EXPECT_EQ(s.ReadStream("small"), Bytes(100, 's'));
    EXPECT_EQ(s.ReadStream("big"), Bytes(8000, 'b'));
    // Deleted at reset ...
    s.Clear();
    EXPECT_FALSE(std::filesystem::exists(workFile));
    EXPECT_TRUE(s.WorkFileName().empty());
    s.SetMemoryCache(4096);
    s.WriteStream("big", Bytes(8000, 'c'));
    workFile = s.WorkFileName();
    ASSERT_TRUE(std::filesystem::exists(workFile));
  }
  // ... and at destruction.
  EXPECT_FALSE(std::filesystem::exists(workFile));
  EXPECT_TRUE(tmp.Names().empty());
}

TEST(StorageSpill, ALoadedStreamAboveMemoryCacheGoesStraightToAFile) {
  TScratchFolder tmp;
  TTmpDirOverride env(tmp.Path());
  TvqStorage s;
  s.WriteStream("big", Bytes(20000, 'b'));
  const Bytes file = SaveBytes(s);
  TvqStorage t;
  t.SetMemoryCache(1000);
  t.LoadFromStream(TvqMemoryStream(file));
  EXPECT_FALSE(t.WorkFileName().empty());
  EXPECT_EQ(t.ReadStream("big"), Bytes(20000, 'b'));
}

TEST(StorageSpill, FailureRaisesAndKeepsEveryPart) {
  TTmpDirOverride env("/nonexistent/kartolino-no-such-folder");
  TvqStorage s;
  s.SetMemoryCache(4096);
  s.WriteStream("kept", Bytes(1000, 'k'));
  EXPECT_EQ(MessageOf([&] { s.WriteStream("big", Bytes(8000, 'b')); }),
            "Unable to create temporary file");
  EXPECT_EQ(s.StreamCount(), 1);
  EXPECT_EQ(s.ReadStream("kept"), Bytes(1000, 'k'));
  EXPECT_TRUE(s.WorkFileName().empty());
  s.WriteStream("small", B("still works"));
  EXPECT_EQ(s.ReadStream("small"), B("still works"));
}

// ---------------------------------------------------------------------------------------
// Messages and the lock

TEST(StorageErrors, Messages) {
  TvqStorage s;
  EXPECT_EQ(MessageOf([&] { (void)s.ReadStream("Page0009.xml"); }),
            "Stream \"Page0009.xml\" not found in the storage");
  TvqMemoryStream out;
  EXPECT_EQ(MessageOf([&] { s.ReadStream("x", out); }), "Stream \"x\" not found in the storage");
  EXPECT_EQ(MessageOf([&] { s.LoadFromStream(TvqMemoryStream(B("NOTSTORAGE.........."))); }),
            "File is not a storage file");
  s.WriteStream("A", B("abc"));
  Bytes future = SaveBytes(s);
  future[4] = 2;
  EXPECT_EQ(MessageOf([&] { s.LoadFromStream(TvqMemoryStream(future)); }),
            "File is wrong (future) version");

  TvqMemoryStream stream(B("0123456789"));
  std::vector<uint8_t> buffer;
  EXPECT_EQ(MessageOf([&] { storage::MoveBlock(stream, 2, 5, 4, buffer); }),
            "Blocks overlap in copying action");
  // Backwards over its own range is safe and allowed.
  storage::MoveBlock(stream, 5, 2, 4, buffer);
  EXPECT_EQ(stream.Bytes(), B("0156786789"));
  storage::MoveBlock(stream, 0, 6, 4, buffer); // touching, not overlapping
  EXPECT_EQ(stream.Bytes(), B("0156780156"));
}

// A stream that calls back into the container while the container is reading or writing
// it, as an event handler inside an operation would.
class TReentrantStream : public TvqMemoryStream {
public:
  TReentrantStream(TvqStorage& storage, std::vector<uint8_t> bytes)
      : TvqMemoryStream(std::move(bytes)), m_Storage(storage) {}
  void ReadAt(int64_t position, void* buffer, size_t count) const override {
    (void)m_Storage.StreamCount();
    TvqMemoryStream::ReadAt(position, buffer, count);
  }
  void WriteAt(int64_t position, const void* buffer, size_t count) override {
    (void)m_Storage.StreamExists("A");
    TvqMemoryStream::WriteAt(position, buffer, count);
  }

private:
  TvqStorage& m_Storage;
};

TEST(StorageErrors, ReentryFromTheSameThreadIsRefused) {
  const std::string warning = "Warning: recursive call to vqStorage from event";
  TvqStorage s;
  s.WriteStream("A", B("abc"));
  const Bytes file = SaveBytes(s);
  TReentrantStream callback(s, file);
  EXPECT_EQ(MessageOf([&] { s.SaveToStream(callback); }), warning);
  EXPECT_EQ(MessageOf([&] { s.WriteStream("B", callback); }), warning);
  EXPECT_EQ(MessageOf([&] { s.ReadStream("A", callback); }), warning);
  // The refused call did not leave the container locked.
  EXPECT_EQ(s.ReadStream("A"), B("abc"));
  EXPECT_EQ(MessageOf([&] { s.LoadFromStream(callback); }), warning);
  EXPECT_EQ(s.StreamCount(), 0); // a failed load leaves the container empty
}

class TOtherThreadStream : public TvqMemoryStream {
public:
  TOtherThreadStream(TvqStorage& storage, std::vector<uint8_t> bytes)
      : TvqMemoryStream(std::move(bytes)), m_Storage(storage) {}
  void ReadAt(int64_t position, void* buffer, size_t count) const override {
    if (!m_Thread.joinable())
      m_Thread = std::thread([this] {
        try {
          m_Exists = m_Storage.StreamExists("A");
        } catch (const std::exception& e) {
          m_Error = e.what();
        }
      });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    TvqMemoryStream::ReadAt(position, buffer, count);
  }
  void Join() { m_Thread.join(); }
  mutable bool m_Exists = false;
  mutable std::string m_Error;

private:
  TvqStorage& m_Storage;
  mutable std::thread m_Thread;
};

TEST(StorageErrors, AnotherThreadWaitsInsteadOfBeingRefused) {
  TvqStorage s;
  s.WriteStream("A", B("abc"));
  TOtherThreadStream stream(s, SaveBytes(s));
  s.LoadFromStream(stream);
  stream.Join();
  EXPECT_EQ(stream.m_Error, "");
  EXPECT_TRUE(stream.m_Exists);
}

} // namespace
} // namespace dtp
