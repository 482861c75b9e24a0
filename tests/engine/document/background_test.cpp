#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/document/document.h"
#include "engine/document/page.h"
#include "engine/persistence/storage.h"
#include "engine/persistence/xml_bitmap.h"
#include "tests/engine/persistence/resource_fixture.h"
#include "tests/engine/persistence/storage_fixture.h"

namespace dtp {
namespace {

using test::SolidPicture;
using test::TScratchFolder;
using Parts = std::map<std::string, std::vector<uint8_t>>;

Parts PartsOf(const TvqStorage& s) {
  Parts parts;
  for (int i = 0; i < s.StreamCount(); ++i)
    parts[s.StreamNames(i)] = s.ReadStream(s.StreamNames(i));
  return parts;
}

std::string Text(const std::vector<uint8_t>& b) {
  return {b.begin(), b.end()};
}

// The colour at the middle of a page drawn on its own.
TColor32 CentreOf(TdtpPage& page) {
  TBitmap32 target(30, 40);
  target.Clear(0);
  page.DrawTo(target, target.BoundsRect(), kDpm150, true);
  return target.Pixel(15, 20);
}

constexpr TColor32 kDefaultColour = 0xFF2040A0, kEmbeddedColour = 0xFFC02020,
                   kArchiveColour = 0xFF20A040, kExternalColour = 0xFF808000;

// A small card: a default page showing the default picture (stored in the archive, tiled),
// and one page per storage mode of its own picture.
struct TCard {
  TScratchFolder Dir;
  TdtpDocument Doc;
  std::string OutsideFile = Dir.File("outside.png");

  TCard() {
    Doc.SetDefaultPageWidth(20);
    Doc.SetDefaultPageHeight(28);
    Doc.SetPageCount(4);
    const TBitmap32 tile = SolidPicture(6, 6, kDefaultColour);
    Doc.DefaultBgrImage().SetStorage(rsArchive);
    Doc.SetDefaultBackground(&tile);
    Doc.SetDefaultBackgroundTiled(true);

    const TBitmap32 embedded = SolidPicture(5, 7, kEmbeddedColour);
    Doc.Pages(1)->SetBackgroundImage(&embedded);

    TdtpPage& archive = *Doc.Pages(2);
    archive.SetIsDefaultPage(false);
    archive.BackgroundImage().SetStorage(rsArchive);
    const TBitmap32 a = SolidPicture(9, 4, kArchiveColour);
    archive.BackgroundImage().SetBitmap(&a);
    archive.SetBackgroundTiled(true);

    test::WritePictureFile(OutsideFile, SolidPicture(3, 3, kExternalColour));
    TdtpPage& external = *Doc.Pages(3);
    external.BackgroundImage().SetStorage(rsExternal);
    external.BackgroundImage().LoadFromFile(OutsideFile); // leaves the defaults by itself
  }
};

Parts SaveParts(TdtpDocument& doc) {
  TvqMemoryStream out;
  doc.SaveToStream(out);
  TvqStorage s;
  s.LoadFromStream(out);
  return PartsOf(s);
}

TEST(Background, EveryStorageModeSavesAndLoadsBackToTheSameParts) {
  TCard card;
  EXPECT_FALSE(card.Doc.Pages(3)->IsDefaultPage());
  const std::vector<TColor32> colours{kDefaultColour, kEmbeddedColour, kArchiveColour,
                                      kExternalColour};
  for (int p = 0; p < 4; ++p) EXPECT_EQ(CentreOf(*card.Doc.Pages(p)), colours[size_t(p)]) << p;

  TvqMemoryStream stream;
  card.Doc.SaveToStream(stream);
  TvqStorage stored;
  stored.LoadFromStream(stream);
  const Parts first = PartsOf(stored);

  const std::string index = Text(first.at("Index.xml"));
  EXPECT_NE(index.find("<DefaultBgrImage>"), std::string::npos);
  EXPECT_NE(index.find("<Storage>Archive</Storage>"), std::string::npos);
  EXPECT_NE(Text(first.at("Page0002.xml")).find("<Filter>Base64</Filter>"), std::string::npos);
  EXPECT_NE(Text(first.at("Page0004.xml")).find("<Storage>External</Storage>"), std::string::npos);
  EXPECT_NE(Text(first.at("Page0004.xml")).find(card.OutsideFile), std::string::npos);
  // The default picture and page 3's picture each have a part of their own.
  int resourceParts = 0;
  for (const auto& [name, bytes] : first) resourceParts += TvqStorage::IsTemporaryName(name);
  EXPECT_EQ(resourceParts, 2);

  TdtpDocument back;
  back.LoadFromStream(stream);
  ASSERT_EQ(back.PageCount(), 4);
  for (int p = 0; p < 4; ++p) {
    EXPECT_EQ(CentreOf(*back.Pages(p)), colours[size_t(p)]) << p;
    back.Pages(p)->SetModified(true); // every page is written again
  }
  const Parts second = SaveParts(back);
  ASSERT_EQ(first.size(), second.size());
  for (const auto& [name, bytes] : first) {
    ASSERT_TRUE(second.count(name)) << name;
    EXPECT_EQ(Text(second.at(name)), Text(bytes)) << name;
  }
}

TEST(Background, AMissingOutsideFileIsReportedAndKeptAsAReference) {
  TCard card;
  TvqMemoryStream stream;
  card.Doc.SaveToStream(stream);
  std::filesystem::remove(card.OutsideFile);

  TdtpDocument back;
  std::vector<std::string> errors;
  back.OnLoadError = [&](TdtpDocument*, TdtpShape*, const std::string& e) { errors.push_back(e); };
  back.LoadFromStream(stream);
  back.SetCurrentPageIndex(3);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "File does not exist: " + card.OutsideFile);
  // The page shows its colour instead of the picture.
  EXPECT_EQ(CentreOf(*back.Pages(3)), 0xFFFFFFFFu);
  // Saved again, the card still names the file, so putting it back restores the picture.
  back.Pages(3)->SetModified(true);
  EXPECT_NE(Text(SaveParts(back).at("Page0004.xml")).find(card.OutsideFile), std::string::npos);
}

TEST(Background, ACorruptOrMissingArchivePartLeavesThePagePlainAndSaysWhy) {
  TCard card;
  TvqMemoryStream stream;
  card.Doc.SaveToStream(stream);
  TvqStorage stored;
  stored.LoadFromStream(stream);
  const std::string page3 = Text(stored.ReadStream("Page0003.xml"));
  const size_t at = page3.find("<ArchiveName>") + 13;
  const std::string part = page3.substr(at, page3.find('<', at) - at);
  ASSERT_TRUE(stored.StreamExists(part));

  for (bool corrupt : {true, false}) {
    TvqStorage spoiled;
    spoiled.LoadFromStream(stream);
    if (corrupt)
      spoiled.WriteStream(part, std::vector<uint8_t>(40, 0x33));
    else
      spoiled.DeleteStream(part);
    TvqMemoryStream bytes;
    spoiled.SaveToStream(bytes);

    TdtpDocument back;
    std::vector<std::string> errors;
    back.OnLoadError = [&](TdtpDocument*, TdtpShape*, const std::string& e) {
      errors.push_back(e);
    };
    back.LoadFromStream(bytes);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(CentreOf(*back.Pages(2)), 0xFFFFFFFFu);
    ASSERT_EQ(errors.size(), 1u) << corrupt;
    if (!corrupt) {
      EXPECT_EQ(errors[0], "Stream \"" + part + "\" not found in the storage");
    }
    EXPECT_EQ(CentreOf(*back.Pages(1)), kEmbeddedColour);
  }
}

TEST(Background, TheOlderPackedFormIsReadAndWrittenBackAsAResource) {
  TdtpDocument doc;
  doc.SetDefaultPageWidth(20);
  doc.SetDefaultPageHeight(28);
  const TBitmap32 picture = SolidPicture(4, 4, kArchiveColour);
  xml::TXmlDocument xml;
  xml::TXmlNode root = xml.CreateRoot("Page");
  root.AddChild("IsDefaultPage").SetValue("False");
  root.AddChild("PageWidth").SetValue("20");
  root.AddChild("PageHeight").SetValue("28");
  WriteXmlBitmap32(root, "BackgroundImage", &picture);
  root.AddChild("ClassName").SetValue("TdtpPage");
  TdtpPage& page = *doc.Pages(0);
  page.LoadFromXml(root);
  EXPECT_EQ(CentreOf(page), kArchiveColour);

  xml::TXmlDocument out;
  page.SaveToXml(out.CreateRoot("Page"));
  const std::string text = out.WriteCompact();
  EXPECT_EQ(text.find("SourceSize"), std::string::npos);
  EXPECT_NE(text.find("<Storage>Embedded</Storage>"), std::string::npos);
}

TEST(Background, LeavingTheDefaultsCopiesTheDefaultPictureIntoAPartOfThePagesOwn) {
  TCard card;
  TdtpPage& page = *card.Doc.Pages(0);
  page.SetMarginLeft(3); // the page leaves the defaults
  EXPECT_FALSE(page.IsDefaultPage());
  page.BackgroundImage().SetLevel(0); // what the resource thread does to an idle picture
  EXPECT_EQ(CentreOf(page), kDefaultColour);

  const Parts parts = SaveParts(card.Doc);
  int resourceParts = 0;
  for (const auto& [name, bytes] : parts) resourceParts += TvqStorage::IsTemporaryName(name);
  EXPECT_EQ(resourceParts, 3);
  std::vector<std::string> names;
  page.GetResourceNames(names);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_NE(names[0], card.Doc.DefaultBgrImage().ArchiveName());
}

TEST(Background, ACopyOfAPageInAnotherDocumentBringsItsArchivePicture) {
  TdtpDocument doc;
  doc.SetDefaultPageWidth(20);
  doc.SetDefaultPageHeight(28);
  TdtpPage& page = *doc.Pages(0);
  page.BackgroundImage().SetStorage(rsArchive);
  page.BackgroundImage().SetDocument(nullptr); // not written yet when the copy is made
  const TBitmap32 picture = SolidPicture(4, 4, kArchiveColour);
  page.SetBackgroundImage(&picture);
  page.BackgroundImage().SetDocument(&doc);

  TdtpDocument sheet;
  auto copy = std::make_unique<TdtpPage>();
  TdtpPage* c = copy.get();
  sheet.AddPage(std::move(copy));
  c->Assign(page);
  EXPECT_EQ(CentreOf(*c), kArchiveColour);
  EXPECT_FALSE(c->BackgroundImage().ArchiveName().empty());
}

TEST(Background, ANewDocumentForgetsTheDefaultPicture) {
  TCard card;
  card.Doc.Clear();
  card.Doc.AddPage();
  EXPECT_FALSE(card.Doc.DefaultBgrImage().HasContent());
  EXPECT_EQ(card.Doc.DefaultBgrImage().Storage(), rsEmbedded);
  EXPECT_EQ(card.Doc.DefaultBackground(), nullptr);
  EXPECT_EQ(Text(SaveParts(card.Doc).at("Index.xml")).find("DefaultBgrImage"), std::string::npos);
}

} // namespace
} // namespace dtp
