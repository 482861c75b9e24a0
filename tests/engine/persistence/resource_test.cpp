#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "engine/document/document.h"
#include "engine/graphics/raster_formats.h"
#include "engine/persistence/resource.h"
#include "engine/persistence/resource_thread.h"
#include "platform/core/errors.h"
#include "platform/xml/xml.h"
#include "tests/engine/persistence/resource_fixture.h"
#include "tests/engine/persistence/storage_fixture.h"

namespace dtp {
namespace {

using test::PatternPicture;
using test::SamePixels;
using test::TScratchFolder;

xml::TXmlNode Saved(TdtpResource& r, xml::TXmlDocument& doc) {
  xml::TXmlNode root = doc.CreateRoot("Image");
  r.SaveToXml(root);
  return root;
}

bool IsPartName(const std::string& name, const std::string& ext) {
  return std::regex_match(name, std::regex("TMP[0-9]{7}\\" + ext));
}

TEST(Resource, LoadingAJpgKeepsTheFileBytesAndEmbedsThem) {
  TScratchFolder dir;
  const std::string path = dir.File("photo.jpg");
  test::WritePictureFile(path, PatternPicture(21, 13));
  const std::vector<uint8_t> file = test::ReadFile(path);

  TdtpBitmapResource r;
  int changes = 0, objectChanges = 0;
  r.OnChange = [&](TdtpResource*) { ++changes; };
  r.OnObjectChange = [&](TdtpResource*) { ++objectChanges; };
  r.LoadFromFile(path);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(objectChanges, 1);
  EXPECT_EQ(r.Storage(), rsEmbedded);
  EXPECT_TRUE(r.DataModified());
  EXPECT_EQ(r.Data().Bytes(), file);
  EXPECT_EQ(r.Level(), 1);
  ASSERT_NE(r.Bitmap(), nullptr);
  EXPECT_EQ(r.Bitmap()->Width(), 21);
  EXPECT_EQ(r.Level(), 2);

  xml::TXmlDocument doc;
  xml::TXmlNode node = Saved(r, doc);
  EXPECT_EQ(node.ReadString("ClassName"), "TdtpBitmapResource");
  EXPECT_EQ(node.FindChild("Data").ReadInteger("Size", 0), int64_t(file.size()));
  EXPECT_EQ(node.FindChild("Data").ReadString("Filter"), "Base64");
  EXPECT_EQ(node.ReadString("Storage"), "Embedded");
  EXPECT_FALSE(r.DataModified());

  TdtpBitmapResource back;
  back.LoadFromXml(node);
  EXPECT_EQ(back.Data().Bytes(), file);
  EXPECT_EQ(back.FileName(), r.FileName());
}

TEST(Resource, ASetPictureIsEncodedAsQzpAndReadBackExactly) {
  const TBitmap32 picture = PatternPicture(17, 9);
  TdtpBitmapResource r;
  r.SetBitmap(&picture);
  EXPECT_EQ(r.FileName(), ".qzp");
  xml::TXmlDocument doc;
  xml::TXmlNode node = Saved(r, doc);
  const std::vector<uint8_t> bytes = r.Data().Bytes();
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 3), "QZP");

  TdtpBitmapResource back;
  back.LoadFromXml(node);
  ASSERT_NE(back.Bitmap(), nullptr);
  EXPECT_TRUE(SamePixels(*back.Bitmap(), picture));
  // Nothing was changed, so a second save writes the same bytes.
  xml::TXmlDocument again;
  Saved(back, again);
  EXPECT_EQ(again.WriteCompact(), doc.WriteCompact());
}

TEST(Resource, ArchiveDataGetsOneUniquePartAndKeepsItsName) {
  TdtpDocument document;
  TdtpBitmapResource r;
  r.SetDocument(&document);
  r.SetStorage(rsArchive);
  const TBitmap32 picture = PatternPicture(5, 5);
  r.SetBitmap(&picture);
  const std::string name = r.ArchiveName();
  EXPECT_TRUE(IsPartName(name, ".qzp")) << name;
  const int parts = document.OwnStorage()->StreamCount();
  for (int i = 0; i < 2; ++i) {
    xml::TXmlDocument doc;
    xml::TXmlNode node = Saved(r, doc);
    EXPECT_EQ(node.ReadString("ArchiveName"), name);
    EXPECT_FALSE(node.FindChild("Data"));
  }
  EXPECT_EQ(document.OwnStorage()->StreamCount(), parts);
  EXPECT_EQ(document.Storage()->ReadStream(name), r.Data().Bytes());
  std::vector<std::string> names;
  r.GetResourceNames(names);
  EXPECT_EQ(names, std::vector<std::string>{name});

  // Dropped to level 0 it reads the part again on demand.
  r.SetLevel(0);
  EXPECT_EQ(r.Level(), 0);
  ASSERT_NE(r.Bitmap(), nullptr);
  EXPECT_TRUE(SamePixels(*r.Bitmap(), picture));
}

TEST(Resource, AFileLoadedIntoTheArchiveGetsAPartNameNotItsPath) {
  TScratchFolder dir;
  const std::string path = dir.File("tile.png");
  test::WritePictureFile(path, PatternPicture(6, 4));
  TdtpDocument document;
  TdtpBitmapResource a, b;
  for (TdtpBitmapResource* r : {&a, &b}) {
    r->SetDocument(&document);
    r->SetStorage(rsArchive);
    r->LoadFromFile(path);
  }
  EXPECT_TRUE(IsPartName(a.ArchiveName(), ".png")) << a.ArchiveName();
  // Two resources of one file each own a part: changing one cannot overwrite the other.
  EXPECT_NE(a.ArchiveName(), b.ArchiveName());
  EXPECT_EQ(document.Storage()->ReadStream(a.ArchiveName()), test::ReadFile(path));
}

TEST(Resource, AnOutsideFileIsNeverOverwritten) {
  TScratchFolder dir;
  const std::string existing = dir.File("old.png");
  test::WritePictureFile(existing, PatternPicture(3, 3));
  const std::vector<uint8_t> before = test::ReadFile(existing);
  xml::TXmlDocument doc;
  xml::TXmlNode node = doc.CreateRoot("Image");
  node.AddChild("FileName").SetValue(existing);
  node.AddChild("Storage").SetValue("External");
  TdtpBitmapResource r;
  r.LoadFromXml(node);
  EXPECT_TRUE(r.DataLoaded());
  const TBitmap32 other = PatternPicture(8, 2, 99);
  r.SetBitmap(&other);
  EXPECT_TRUE(r.DataModified()); // it had nowhere to go
  EXPECT_EQ(test::ReadFile(existing), before);
  // Dropping levels keeps the change that could not be written.
  r.SetLevel(0);
  ASSERT_NE(r.Bitmap(), nullptr);
  EXPECT_TRUE(SamePixels(*r.Bitmap(), other));

  // A file of a name not yet taken is written once.
  const std::string fresh = dir.File("new.png");
  node.FindChild("FileName").Raw().text().set(fresh.c_str());
  TdtpBitmapResource w;
  w.LoadFromXml(node);
  EXPECT_TRUE(w.IsMissing());
  w.SetBitmap(&other);
  EXPECT_FALSE(w.DataModified());
  EXPECT_FALSE(w.IsMissing());
  EXPECT_EQ(test::ReadFile(fresh), w.Data().Bytes());
}

TEST(Resource, FailuresRaiseTheirMessages) {
  const auto message = [](auto&& f) -> std::string {
    try {
      f();
    } catch (const std::exception& e) {
      return e.what();
    }
    return "no error";
  };
  TdtpBitmapResource r;
  EXPECT_EQ(message([&] { r.Unlock(); }), "Access count mismatch");
  EXPECT_EQ(r.AccessCount(), 0);

  int events = 0;
  r.OnChange = r.OnObjectChange = [&](TdtpResource*) { ++events; };
  EXPECT_EQ(message([&] { r.LoadFromFile("/no/such/picture.png"); }),
            "File does not exist: /no/such/picture.png");
  EXPECT_EQ(events, 0);
  EXPECT_EQ(r.Level(), 0);
  EXPECT_TRUE(r.FileName().empty());

  const auto embedded = [](const char* filter, const char* size, const char* buffer) {
    auto doc = std::make_unique<xml::TXmlDocument>();
    xml::TXmlNode data = doc->CreateRoot("Image").AddChild("Data");
    data.AddChild("Size").SetValue(size);
    data.AddChild("Filter").SetValue(filter);
    data.AddChild("Buffer").SetValue(buffer);
    doc->Root().AddChild("Storage").SetValue("Embedded");
    return doc;
  };
  auto uu = embedded("UUEncode", "3", "QUJD");
  EXPECT_EQ(message([&] { r.LoadFromXml(uu->Root()); }), "Unsupported binary encoding");
  auto lying = embedded("Base64", "9", "QUJD");
  EXPECT_EQ(message([&] { r.LoadFromXml(lying->Root()); }),
            "Embedded data is shorter than its size");
  auto binhex = embedded("BinHex", "3", "414243");
  r.LoadFromXml(binhex->Root());
  EXPECT_EQ(r.Data().Bytes(), (std::vector<uint8_t>{'A', 'B', 'C'}));

  TdtpResource plain;
  plain.Data().Assign(reinterpret_cast<const uint8_t*>("xyz"), 3);
  EXPECT_EQ(message([&] { plain.GetObject(); }), "No method for object loading defined");
  EXPECT_EQ(message([&] { plain.SetObject(std::make_unique<TResourceObject>()); }),
            "No method for object storing defined");
  EXPECT_EQ(plain.AccessCount(), 0);
}

TEST(Resource, APictureThatDoesNotDecodeLeavesNoObjectAndNoLock) {
  TdtpBitmapResource r;
  const auto garbage = std::vector<uint8_t>(64, 0x5A);
  xml::TXmlDocument doc;
  xml::TXmlNode node = doc.CreateRoot("Image");
  xml::TXmlNode data = node.AddChild("Data");
  data.AddChild("Size").SetValue("64");
  data.AddChild("Filter").SetValue("Base64");
  data.WriteBinary("Buffer", garbage);
  node.AddChild("FileName").SetValue(".png");
  r.LoadFromXml(node);
  EXPECT_THROW(r.Bitmap(), ERasterError);
  EXPECT_EQ(r.Obj(), nullptr);
  TLockedBitmap none = TLockedBitmap::TryLock(&r);
  EXPECT_FALSE(none);
  EXPECT_EQ(r.AccessCount(), 0);
  // The data is kept: saving the card does not lose it.
  EXPECT_EQ(r.Data().Bytes(), garbage);
}

TEST(Resource, AssignCopiesArchiveDataSoEachResourceOwnsItsPart) {
  const TBitmap32 picture = PatternPicture(7, 3);
  TdtpDocument first, second;
  TdtpBitmapResource source;
  source.SetDocument(&first);
  source.SetStorage(rsArchive);
  source.SetBitmap(&picture);
  source.SetLevel(0);

  for (TdtpDocument* target : {&second, &first}) {
    TdtpBitmapResource copy;
    copy.SetDocument(target);
    copy.Assign(source);
    EXPECT_TRUE(copy.ArchiveName().empty());
    EXPECT_TRUE(copy.DataModified());
    // Dropped before it was stored, the copy still has its picture ...
    copy.SetLevel(0);
    ASSERT_NE(copy.Bitmap(), nullptr);
    EXPECT_TRUE(SamePixels(*copy.Bitmap(), picture));
    // ... and saving gives it a part of its own in its document.
    xml::TXmlDocument doc;
    Saved(copy, doc);
    EXPECT_NE(copy.ArchiveName(), source.ArchiveName());
    EXPECT_TRUE(target->Storage()->StreamExists(copy.ArchiveName()));
  }
}

// Trimming by hand: the resources listed beyond the first ten lose their decoded picture;
// embedded data stays (it has no other home), outside data is dropped too.
TEST(ResourceTrim, KeepsTheMostRecentlyUsedDecoded) {
  TScratchFolder dir;
  std::vector<std::unique_ptr<TdtpBitmapResource>> rs;
  for (int i = 0; i < 12; ++i) {
    auto r = std::make_unique<TdtpBitmapResource>();
    if (i == 0) {
      const std::string path = dir.File("outside.png");
      test::WritePictureFile(path, PatternPicture(4, 4));
      r->SetStorage(rsExternal);
      r->LoadFromFile(path);
    } else {
      const TBitmap32 p = PatternPicture(4, 4, uint32_t(i));
      r->SetBitmap(&p);
    }
    rs.push_back(std::move(r));
  }
  for (auto& r : rs) ASSERT_NE(r->Bitmap(), nullptr); // 0 is now the least recently used
  TdtpResourceThread& thread = TdtpResourceThread::Instance();
  TrimResources();
  for (int i = 0; i < 12; ++i) {
    const bool beyond = thread.IndexOf(rs[size_t(i)].get()) >= TdtpResourceThread::kMaxDecoded;
    EXPECT_EQ(rs[size_t(i)]->Obj() == nullptr, beyond) << i;
  }
  EXPECT_EQ(rs[0]->Level(), 0);
  EXPECT_EQ(rs[1]->Level(), 1);
  EXPECT_EQ(rs[1]->Data().Size() > 0, true);

  // A resource in use is never unloaded.
  {
    TLockedBitmap held(rs[0].get());
    for (size_t i = 1; i < rs.size(); ++i) rs[i]->Bitmap();
    TrimResources();
    EXPECT_NE(rs[0]->Obj(), nullptr);
  }

  // The byte budget: with room for about two pictures only the first ones keep theirs.
  thread.SetMemoryBudget(2 * 4 * 4 * 4);
  for (auto& r : rs) r->Bitmap();
  TrimResources();
  thread.RestoreDefaults();
  int decoded = 0;
  for (auto& r : rs) decoded += r->Obj() != nullptr;
  EXPECT_LE(decoded, 4);
  EXPECT_NE(rs.back()->Obj(), nullptr); // the most recent one
}

} // namespace
} // namespace dtp
