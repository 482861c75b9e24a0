// Saving never damages the previous card: every way a save can fail leaves the old file
// byte-identical (or, after the final rename, the complete new one) and no stray file.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/persistence/storage.h"
#include "tests/engine/persistence/storage_fixture.h"

namespace dtp {
namespace {

using test::B;
using test::Bytes;
using test::MessageOf;
using test::ReadFile;
using test::SaveBytes;
using test::TFailingFileSystem;
using test::TScratchFolder;

const std::vector<std::string> kOnlyTheCard = {"card.wqx"};

// Parts large enough that the data goes out in several writes.
void FillOld(TvqStorage& s) {
  s.WriteStream("Index.xml", B("<Document>old</Document>"));
  s.WriteStream("Thumb0001.bmp", Bytes(70000, 'o'));
}

void FillNew(TvqStorage& s) {
  s.WriteStream("Index.xml", B("<Document>new</Document>"));
  s.WriteStream("Page0001.xml", Bytes(150000, 'n'));
}

TEST(StorageSave, InterruptedAtEveryStepLeavesTheOldFile) {
  struct Scenario {
    const char* what;
    bool overOwnSource; // the container was opened from the card it saves over
  };
  for (const Scenario& scenario :
       {Scenario{"another container", false}, Scenario{"the card's own container", true}}) {
    int n = 1;
    for (;; ++n) {
      SCOPED_TRACE(std::string(scenario.what) + ", failing step " + std::to_string(n));
      TScratchFolder dir;
      const std::string card = dir.File("card.wqx");
      {
        TvqStorage old;
        FillOld(old);
        old.SaveToFile(card);
      }
      const Bytes oldBytes = ReadFile(card);

      TvqStorage s;
      if (scenario.overOwnSource) s.LoadFromFile(card);
      FillNew(s);
      const Bytes newBytes = SaveBytes(s);

      TFailingFileSystem files(n);
      s.SetFileSystem(&files);
      const std::string message = MessageOf([&] { s.SaveToFile(card); });
      if (!files.Failed()) {
        EXPECT_EQ(message, "(no error)");
        EXPECT_EQ(ReadFile(card), newBytes);
        EXPECT_EQ(dir.Names(), kOnlyTheCard);
        break;
      }
      EXPECT_NE(message.find("injected"), std::string::npos) << message;
      // Only the folder sync comes after the rename; then the new file is already whole.
      EXPECT_EQ(ReadFile(card), files.FailedAfterRename() ? newBytes : oldBytes);
      EXPECT_EQ(dir.Names(), kOnlyTheCard);

      // The container lost nothing: saving again succeeds.
      s.SetFileSystem(nullptr);
      s.SaveToFile(card);
      EXPECT_EQ(ReadFile(card), newBytes);
      ASSERT_LT(n, 100) << "the save never succeeded";
    }
    // create, header, 4 data chunks at least, sync, close, rename, folder sync
    EXPECT_GE(n, 10) << scenario.what;
  }
}

TEST(StorageSave, AFailureWhileSerialisingLeavesTheOldFile) {
  TScratchFolder dir;
  const std::string card = dir.File("card.wqx");
  const std::string source = dir.File("source.wqx");
  {
    TvqStorage old;
    FillOld(old);
    old.SaveToFile(card);
    TvqStorage other;
    FillNew(other);
    other.SaveToFile(source);
  }
  const Bytes oldBytes = ReadFile(card);
  TvqStorage s;
  s.LoadFromFile(source);
  // The source loses its tail behind the container's back: reading the big part fails
  // half-way through the save.
  std::filesystem::resize_file(source, 60000);
  const std::string message = MessageOf([&] { s.SaveToFile(card); });
  EXPECT_EQ(message, "Unable to read file \"" + source + "\": unexpected end of file");
  EXPECT_EQ(ReadFile(card), oldBytes);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"card.wqx", "source.wqx"}));
}

TEST(StorageSave, FailuresOfTheRealFileSystemAreReported) {
  TScratchFolder dir;
  TvqStorage s;
  FillNew(s);
  const std::string missing = dir.File("no-such-folder/card.wqx");
  EXPECT_EQ(MessageOf([&] { s.SaveToFile(missing); }),
            "Unable to create file \"" + missing + "\": No such file or directory");

  // A card that another container is reading is not replaced under it.
  const std::string card = dir.File("card.wqx");
  {
    TvqStorage old;
    FillOld(old);
    old.SaveToFile(card);
  }
  const Bytes oldBytes = ReadFile(card);
  TvqStorage reader;
  reader.LoadFromFile(card);
  EXPECT_EQ(MessageOf([&] { s.SaveToFile(card); }), "File \"" + card + "\" is in use");
  EXPECT_EQ(ReadFile(card), oldBytes);
  EXPECT_EQ(dir.Names(), kOnlyTheCard);
  EXPECT_EQ(reader.ReadStream("Thumb0001.bmp"), Bytes(70000, 'o'));
}

TEST(StorageSave, ReplacingKeepsPermissionsAndSymbolicLinks) {
  TScratchFolder dir;
  const std::string card = dir.File("card.wqx");
  TvqStorage s;
  FillOld(s);
  s.SaveToFile(card);
  ASSERT_EQ(::chmod(card.c_str(), 0640), 0);
  s.SaveToFile(card);
  struct stat st {};
  ASSERT_EQ(::stat(card.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  const mode_t oldMask = ::umask(022);
  s.SaveToFile(dir.File("fresh.wqx"));
  ::umask(oldMask);
  ASSERT_EQ(::stat(dir.File("fresh.wqx").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);

  const std::string link = dir.File("link.wqx");
  std::filesystem::create_symlink(card, link);
  TvqStorage t;
  FillNew(t);
  t.SaveToFile(link);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFile(card), SaveBytes(t));
}

// A 64 KiB file system of its own, so that the disk really fills up.
class StorageSmallDisk : public ::testing::Test {
protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    if (::mount("tmpfs", m_Dir.Path().c_str(), "tmpfs", 0, "size=64k") != 0)
      GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    m_Mounted = true;
  }
  void TearDown() override {
    if (m_Mounted) ::umount2(m_Dir.Path().c_str(), MNT_DETACH);
  }
  std::string File(const std::string& name) const { return m_Dir.File(name); }
  std::vector<std::string> Names() const { return m_Dir.Names(); }
  void RemountReadOnly() {
    ASSERT_EQ(::mount("tmpfs", m_Dir.Path().c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k"),
              0)
        << std::strerror(errno);
  }

private:
  TScratchFolder m_Dir;
  bool m_Mounted = false;
};

TEST_F(StorageSmallDisk, AFullDiskFailsTheSaveAndKeepsTheOldFile) {
  const std::string card = File("card.wqx");
  {
    TvqStorage old;
    old.WriteStream("Index.xml", Bytes(1000, 'o'));
    old.SaveToFile(card);
  }
  const Bytes oldBytes = ReadFile(card);

  TvqStorage big;
  big.WriteStream("Index.xml", Bytes(100000, 'b'));
  const std::string message = MessageOf([&] { big.SaveToFile(card); });
  EXPECT_EQ(message.rfind("Unable to write file \"" + card, 0), 0u) << message;
  EXPECT_NE(message.find("No space left on device"), std::string::npos) << message;
  EXPECT_EQ(ReadFile(card), oldBytes);
  EXPECT_EQ(Names(), kOnlyTheCard);

  // The failed attempt gave its space back.
  TvqStorage fits;
  fits.WriteStream("Index.xml", Bytes(40000, 'f'));
  fits.SaveToFile(card);
  EXPECT_EQ(ReadFile(card), SaveBytes(fits));
  EXPECT_EQ(Names(), kOnlyTheCard);
}

TEST_F(StorageSmallDisk, AReadOnlyDiskFailsTheSaveAndKeepsTheOldFile) {
  const std::string card = File("card.wqx");
  {
    TvqStorage old;
    old.WriteStream("Index.xml", B("old"));
    old.SaveToFile(card);
  }
  const Bytes oldBytes = ReadFile(card);
  RemountReadOnly();
  TvqStorage s;
  s.WriteStream("Index.xml", B("new"));
  EXPECT_EQ(MessageOf([&] { s.SaveToFile(card); }),
            "Unable to create file \"" + card + "\": Read-only file system");
  EXPECT_EQ(ReadFile(card), oldBytes);
  EXPECT_EQ(Names(), kOnlyTheCard);
}

TEST_F(StorageSmallDisk, DirectModeOnAFullDiskRaisesAndKeepsEarlierParts) {
  const std::string card = File("card.wqx");
  {
    TvqStorage s;
    s.OpenDirect(card);
    s.WriteStream("Index.xml", B("kept"));
    const std::string message = MessageOf([&] { s.WriteStream("Big.bmp", Bytes(100000, 'b')); });
    EXPECT_NE(message.find("No space left on device"), std::string::npos) << message;
    EXPECT_FALSE(s.StreamExists("Big.bmp"));
    EXPECT_EQ(s.ReadStream("Index.xml"), B("kept"));
  }
  TvqStorage t;
  t.LoadFromFile(card);
  EXPECT_EQ(t.StreamCount(), 1);
  EXPECT_EQ(t.ReadStream("Index.xml"), B("kept"));
}

} // namespace
} // namespace dtp
