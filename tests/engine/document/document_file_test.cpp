#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "engine/document/card_format_file.h"
#include "engine/document/document.h"
#include "engine/document/page.h"
#include "engine/persistence/storage.h"
#include "engine/shapes/shape.h"
#include "platform/core/errors.h"
#include "tests/engine/persistence/storage_fixture.h"

namespace dtp {
namespace {

using test::TScratchFolder;
using Parts = std::map<std::string, std::vector<uint8_t>>;

// A container that remembers the names of the parts written to it.
class TRecordingStorage : public TvqStorage {
public:
  using TvqStorage::WriteStream;
  void WriteStream(std::string_view name, const std::vector<uint8_t>& data) override {
    Written.emplace_back(name);
    TvqStorage::WriteStream(name, data);
  }
  std::vector<std::string> Written;
};

Parts PartsOf(const TvqStorage& s) {
  Parts parts;
  for (int i = 0; i < s.StreamCount(); ++i)
    parts[s.StreamNames(i)] = s.ReadStream(s.StreamNames(i));
  return parts;
}

Parts PartsOf(const TvqMemoryStream& stream) {
  TvqStorage s;
  s.LoadFromStream(stream);
  return PartsOf(s);
}

std::string Text(const std::vector<uint8_t>& b) {
  return {b.begin(), b.end()};
}

std::unique_ptr<TdtpShape> Shape(float x, float y, float w, float h, int tag) {
  auto s = std::make_unique<TdtpShape>();
  s->SetBounds(x, y, w, h);
  s->SetTag(tag);
  return s;
}

// Page 1: default page, a shape holding a rotated child; page 2: own settings and size;
// page 3: default page with one named shape.
void BuildThreePages(TdtpDocument& doc) {
  doc.SetDefaultMarginLeft(12.5f);
  doc.SetDefaultGridColor(0x00FF00);
  doc.SetSnapToGrid(true);
  auto parent = Shape(10, 20, 60, 40, 7);
  auto child = Shape(15, 25, 20, 10, 8);
  child->SetDocAngle(30);
  parent->AddShape(std::move(child));
  doc.AddShape(std::move(parent));

  doc.AddPage(nullptr);
  TdtpPage* own = doc.Pages(1);
  own->SetMarginTop(4);
  own->SetPageColor(0x102030);
  own->SetPageWidth(105);
  own->SetPageHeight(148);
  own->AddShape(Shape(1, 2, 3, 4, 9));

  doc.AddPage(nullptr);
  auto named = Shape(5, 5, 50, 50, 11);
  named->SetName("Grüße");
  doc.Pages(2)->AddShape(std::move(named));
}

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

void WriteFile(const std::string& name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary) << bytes;
}

// ---------------------------------------------------------------------------------------

TEST(DocumentFile, SaveLoadSaveGivesTheSameParts) {
  TdtpDocument doc;
  BuildThreePages(doc);
  TvqMemoryStream first;
  doc.SaveToStream(first);
  const Parts saved = PartsOf(first);
  for (const char* name : {"Index.xml", "Page0001.xml", "Page0002.xml", "Page0003.xml",
                           "Thumb0001.bmp", "Thumb0002.bmp", "Thumb0003.bmp"})
    EXPECT_TRUE(saved.count(name)) << name;
  EXPECT_EQ(saved.size(), 7u);

  TdtpDocument loaded;
  loaded.LoadFromStream(first);
  ASSERT_EQ(loaded.PageCount(), 3);
  EXPECT_FALSE(loaded.Modified());
  EXPECT_TRUE(loaded.Pages(0)->ContentLoaded());
  EXPECT_FALSE(loaded.Pages(1)->ContentLoaded());
  EXPECT_TRUE(loaded.Pages(1)->HasThumbnail()) << "thumbnails come without the content";
  EXPECT_EQ(loaded.DefaultMarginLeft(), 12.5f);
  ASSERT_EQ(loaded.ShapeCount(), 1);
  ASSERT_EQ(loaded.Shapes(0)->ShapeCount(), 1);
  EXPECT_EQ(loaded.Shapes(0)->Shapes(0)->Tag(), 8);
  EXPECT_FLOAT_EQ(loaded.Shapes(0)->Shapes(0)->DocAngle(), 30);
  // Plain accessors do not load.
  loaded.Pages(1)->EnsureLoaded();
  EXPECT_FALSE(loaded.Pages(1)->IsDefaultPage());
  EXPECT_EQ(loaded.Pages(1)->PageWidth(), 105);
  EXPECT_EQ(loaded.Pages(1)->PageColor(), 0x102030u);
  loaded.Pages(2)->EnsureLoaded();
  ASSERT_EQ(loaded.Pages(2)->ShapeCount(), 1);
  EXPECT_EQ(loaded.Pages(2)->Shapes(0)->Name(), "Grüße");

  // Force every page to be written again: the writer must reproduce what it read.
  for (int i = 0; i < loaded.PageCount(); ++i) loaded.Pages(i)->SetModified(true);
  TvqMemoryStream second;
  loaded.SaveToStream(second);
  const Parts again = PartsOf(second);
  ASSERT_EQ(again.size(), saved.size());
  for (const auto& [name, bytes] : saved) {
    ASSERT_TRUE(again.count(name)) << name;
    EXPECT_EQ(Text(again.at(name)), Text(bytes)) << name;
  }
}

TEST(DocumentFile, PartsUseTheirLayouts) {
  TdtpDocument doc;
  BuildThreePages(doc);
  TvqMemoryStream out;
  doc.SaveToStream(out);
  const Parts parts = PartsOf(out);
  const std::string index = Text(parts.at("Index.xml"));
  EXPECT_NE(index.find("\r\n  <DefaultMarginLeft>12.5</DefaultMarginLeft>\r\n"), std::string::npos)
      << index;
  const std::string page = Text(parts.at("Page0002.xml"));
  EXPECT_NE(page.find("<Page Index=\"2\">"), std::string::npos) << page;
  EXPECT_EQ(page.find("\r"), std::string::npos);
  // Compact: one LF after the declaration and one after the root element.
  EXPECT_EQ(std::count(page.begin(), page.end(), '\n'), 2) << page;
  EXPECT_EQ(Text(parts.at("Thumb0001.bmp")).substr(0, 2), "BM");
}

TEST(DocumentFile, UnchangedPagesAreNotRewritten) {
  TdtpDocument doc;
  BuildThreePages(doc);
  TRecordingStorage storage;
  doc.SetStorage(&storage);
  doc.SaveToArchive();
  EXPECT_EQ(storage.Written.size(), 7u);

  storage.Written.clear();
  doc.SaveToArchive();
  EXPECT_EQ(storage.Written, std::vector<std::string>{"Index.xml"});

  storage.Written.clear();
  doc.Pages(1)->Shapes(0)->SetDocAngle(10);
  doc.SaveToArchive();
  EXPECT_EQ(storage.Written,
            (std::vector<std::string>{"Index.xml", "Page0002.xml", "Thumb0002.bmp"}));

  // A loaded card whose pages have all been looked at is still unchanged.
  TdtpDocument loaded;
  TRecordingStorage card;
  {
    TvqMemoryStream bytes;
    storage.SaveToStream(bytes);
    card.LoadFromStream(bytes);
  }
  loaded.Clear();
  loaded.SetStorage(&card);
  loaded.LoadFromArchive();
  for (int i = 0; i < loaded.PageCount(); ++i) loaded.SetCurrentPageIndex(i);
  EXPECT_FALSE(loaded.Modified()) << "reading a page is not a change";
  card.Written.clear();
  loaded.SaveToArchive();
  EXPECT_EQ(card.Written, std::vector<std::string>{"Index.xml"});
  EXPECT_FLOAT_EQ(loaded.Pages(1)->Shapes(0)->DocAngle(), 10);
}

TEST(DocumentFile, DeletingAPageOfALoadedCardShiftsItsStoredParts) {
  TdtpDocument doc;
  doc.SetPageCount(4);
  for (int i = 0; i < 4; ++i) doc.Pages(i)->SetTag(i + 1);
  TvqMemoryStream bytes;
  doc.SaveToStream(bytes);

  TdtpDocument loaded;
  loaded.LoadFromStream(bytes);
  ASSERT_EQ(loaded.PageCount(), 4);
  loaded.DeletePage(1);
  ASSERT_EQ(loaded.PageCount(), 3);
  EXPECT_FALSE(loaded.Pages(1)->ContentLoaded());
  loaded.SetCurrentPageIndex(1);
  EXPECT_EQ(loaded.Pages(1)->Tag(), 3);
  loaded.Pages(2)->EnsureLoaded();
  EXPECT_EQ(loaded.Pages(2)->Tag(), 4);

  // Saved again, the card holds three pages in their new order.
  TvqMemoryStream again;
  loaded.SaveToStream(again);
  TdtpDocument reread;
  reread.LoadFromStream(again);
  ASSERT_EQ(reread.PageCount(), 3);
  const int tags[] = {1, 3, 4};
  for (int i = 0; i < 3; ++i) {
    reread.Pages(i)->EnsureLoaded();
    EXPECT_EQ(reread.Pages(i)->Tag(), tags[i]);
  }
}

TEST(DocumentFile, SettingsAtTheirWriteDefaultsAreNotWritten) {
  TdtpDocument doc;
  doc.SetHandleColor(0);
  doc.SetQuality(sfNearest);
  doc.SetRenderDpm(0);
  doc.SetScreenDpm(0);
  doc.SetShowMargins(false);
  doc.SetDefaultPageWidth(0);
  doc.SetDefaultPageHeight(0);
  doc.SetDefaultMarginLeft(0);
  doc.SetDefaultMarginTop(0);
  doc.SetDefaultMarginRight(0);
  doc.SetDefaultMarginBottom(0);
  doc.SetDefaultGridSize(0);
  doc.SetDefaultGridColor(0);
  doc.SetDefaultPageColor(0);
  doc.SetThumbnailWidth(0);
  doc.SetThumbnailHeight(0);
  xml::TXmlDocument x;
  doc.WriteDocumentXml(x.CreateRoot("Document"));
  EXPECT_TRUE(x.Root().Elements().empty()) << x.WriteIndented();

  // Read back, the missing elements give the read defaults.
  TdtpDocument reader;
  reader.ReadDocumentXml(x.Root());
  struct Case {
    const char* what;
    double got, expected;
  } cases[] = {
      {"RenderDpm", reader.RenderDpm(), 5.905511811},
      {"ScreenDpm", reader.ScreenDpm(), 5.905511811},
      {"DefaultPageWidth", reader.DefaultPageWidth(), 210},
      {"DefaultPageHeight", reader.DefaultPageHeight(), 297},
      {"DefaultMarginLeft", reader.DefaultMarginLeft(), 10},
      {"DefaultMarginTop", reader.DefaultMarginTop(), 10},
      {"DefaultMarginRight", reader.DefaultMarginRight(), 10},
      {"DefaultMarginBottom", reader.DefaultMarginBottom(), 10},
      {"DefaultGridSize", reader.DefaultGridSize(), 5},
      {"DefaultGridColor", double(reader.DefaultGridColor()), double(0xFFFFC0)},
      {"DefaultPageColor", double(reader.DefaultPageColor()), double(0xFFFFFF)},
      {"ThumbnailWidth", double(reader.ThumbnailWidth()), 80},
      {"ThumbnailHeight", double(reader.ThumbnailHeight()), 60},
      {"HandleColor", double(reader.HandleColor()), 0},
      {"StretchFilter", double(reader.Quality()), double(sfNearest)},
      {"StoreThumbnails", double(reader.StoreThumbnails()), 1},
      {"ShowMargins", double(reader.ShowMargins()), 0},
  };
  for (const Case& c : cases) EXPECT_NEAR(c.got, c.expected, 1e-6) << c.what;
}

TEST(DocumentFile, SettingsAreWrittenInTheirOrderAndReadBack) {
  TdtpDocument doc;
  doc.SetHandleColor(0x12345678);
  doc.SetHandleEdgeColor(0xFF);
  doc.SetHotzoneScrolling(hzsWhenMouseDown);
  doc.SetQuality(sfMitchell);
  doc.SetReadOnly(true);
  doc.SetStoreThumbnails(false);
  doc.SetSnapToGrid(true);
  doc.SetStepAngle(15);
  doc.SetViewStyle(vsNormal);
  doc.SetDefaultBackgroundTiled(true);
  doc.SetThumbnailWidth(120);
  doc.SetFontEmbedding(true);
  doc.OnSaveAdditionalInfo = [](TdtpDocument*, xml::TXmlNode n) { n.AddChild("Mine"); };
  xml::TXmlDocument x;
  doc.WriteDocumentXml(x.CreateRoot("Document"));
  std::vector<std::string> names;
  for (const auto& e : x.Root().Elements()) names.push_back(e.Name());
  const std::vector<std::string> expected = {"HandleColor",        "HandleEdgeColor",
                                             "HotzoneScrolling",   "StretchFilter",
                                             "ReadOnly",           "RenderDpm",
                                             "ScreenDpm",          "StoreThumbnails",
                                             "ShowMargins",        "SnapToGrid",
                                             "StepAngle",          "ViewStyle",
                                             "DefaultPageWidth",   "DefaultPageHeight",
                                             "DefaultMarginLeft",  "DefaultMarginTop",
                                             "DefaultMarginRight", "DefaultMarginBottom",
                                             "DefaultGridSize",    "DefaultGridColor",
                                             "DefaultPageColor",   "DefaultBgrTiled",
                                             "ThumbnailWidth",     "ThumbnailHeight",
                                             "FontEmbedding",      "Mine"};
  EXPECT_EQ(names, expected);
  EXPECT_EQ(x.Root().ReadString("HandleColor"), "$12345678");
  EXPECT_EQ(x.Root().ReadString("StoreThumbnails"), "False");

  TdtpDocument reader;
  bool extraSeen = false;
  reader.OnLoadAdditionalInfo = [&](TdtpDocument*, xml::TXmlNode n) {
    extraSeen = static_cast<bool>(n.FindChild("Mine"));
  };
  reader.ReadDocumentXml(x.Root());
  EXPECT_TRUE(extraSeen);
  EXPECT_EQ(reader.HandleColor(), 0x12345678u);
  EXPECT_EQ(reader.HandleEdgeColor(), 0xFFu);
  EXPECT_EQ(reader.HotzoneScrolling(), hzsWhenMouseDown);
  EXPECT_EQ(reader.Quality(), sfMitchell);
  EXPECT_TRUE(reader.ReadOnly());
  EXPECT_NE(reader.Mode(), vmEdit) << "a read-only card is not edited";
  EXPECT_FALSE(reader.StoreThumbnails());
  EXPECT_TRUE(reader.ShowMargins());
  EXPECT_FLOAT_EQ(reader.StepAngle(), 15);
  EXPECT_EQ(reader.ViewStyle(), vsNormal);
  EXPECT_TRUE(reader.DefaultBackgroundTiled());
  EXPECT_EQ(reader.ThumbnailWidth(), 120);
  EXPECT_TRUE(reader.FontEmbedding());
}

TEST(DocumentFile, OutOfRangeSettingsReadAsDefaults) {
  struct Case {
    const char* xml;
  } cases[] = {
      {"<StretchFilter>7</StretchFilter>"},
      {"<StretchFilter>-1</StretchFilter>"},
      {"<HotzoneScrolling>3</HotzoneScrolling>"},
      {"<ViewStyle>200</ViewStyle>"},
      {"<ThumbnailWidth>1000000</ThumbnailWidth>"},
      {"<ThumbnailHeight>-5</ThumbnailHeight>"},
      {"<RenderDpm>-3</RenderDpm>"},
      {"<ScreenDpm>0</ScreenDpm>"},
  };
  for (const Case& c : cases) {
    xml::TXmlDocument x;
    x.Parse(std::string("<Document>") + c.xml + "</Document>");
    TdtpDocument reader;
    reader.ReadDocumentXml(x.Root());
    EXPECT_EQ(reader.Quality(), sfNearest) << c.xml;
    EXPECT_EQ(reader.HotzoneScrolling(), hzsNoScroll) << c.xml;
    EXPECT_EQ(reader.ViewStyle(), vsPrintLayout) << c.xml;
    EXPECT_EQ(reader.ThumbnailWidth(), 80) << c.xml;
    EXPECT_EQ(reader.ThumbnailHeight(), 60) << c.xml;
    EXPECT_NEAR(reader.RenderDpm(), 5.905511811, 1e-6) << c.xml;
    EXPECT_NEAR(reader.ScreenDpm(), 5.905511811, 1e-6) << c.xml;
  }
}

TEST(DocumentFile, SaveReportsProgressClearsModifiedAndUndo) {
  struct Case {
    bool undoPastSave;
  } cases[] = {{false}, {true}};
  for (const Case& c : cases) {
    TdtpDocument doc;
    doc.AddPage(nullptr);
    doc.AddShape(Shape(0, 0, 10, 10, 1));
    doc.Shapes(0)->SetDocAngle(45);
    ASSERT_GT(doc.UndoCount(), 0);
    doc.SetUndoPastSave(c.undoPastSave);
    std::vector<std::tuple<int, int, int, float>> events;
    doc.OnProgress = [&](TdtpDocument*, TdtpProgressType k, int n, int total, float share) {
      events.emplace_back(k, n, total, share);
    };
    TvqMemoryStream out;
    doc.SaveToStream(out);
    EXPECT_FALSE(doc.Modified());
    EXPECT_FALSE(doc.Pages(0)->Modified());
    EXPECT_EQ(doc.UndoCount() > 0, c.undoPastSave);
    const std::vector<std::tuple<int, int, int, float>> expected = {
        {ptSave, 1, 2, 0.1f}, {ptSave, 1, 2, 0.3f},  {ptSave, 1, 2, 0.35f}, {ptSave, 2, 2, 0.6f},
        {ptSave, 2, 2, 0.8f}, {ptSave, 2, 2, 0.85f}, {ptSave, 2, 2, 1.0f}};
    ASSERT_EQ(events.size(), expected.size());
    for (size_t i = 0; i < events.size(); ++i) {
      EXPECT_EQ(std::get<1>(events[i]), std::get<1>(expected[i])) << i;
      EXPECT_NEAR(std::get<3>(events[i]), std::get<3>(expected[i]), 1e-6) << i;
    }

    TdtpDocument loaded;
    events.clear();
    loaded.OnProgress = doc.OnProgress;
    loaded.LoadFromStream(out);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0], std::make_tuple(int(ptLoad), 1, 2, 0.0f));
    EXPECT_EQ(events[1], std::make_tuple(int(ptLoad), 2, 2, 0.5f));
    EXPECT_EQ(events[2], std::make_tuple(int(ptLoad), 2, 2, 1.0f));
    EXPECT_FALSE(loaded.IsLoading());
    EXPECT_EQ(loaded.CurrentPageIndex(), 0);
  }
}

TEST(DocumentFile, ThumbnailsFollowStoreThumbnails) {
  TdtpDocument doc;
  doc.AddPage(nullptr);
  doc.SetStoreThumbnails(false);
  TvqMemoryStream out;
  doc.SaveToStream(out);
  const Parts parts = PartsOf(out);
  EXPECT_FALSE(parts.count("Thumb0001.bmp"));
  EXPECT_TRUE(parts.count("Page0002.xml"));
}

TEST(DocumentFile, PageCountComesFromThePartNames) {
  struct Case {
    std::vector<std::string> pages;
    int count;
    std::string error;
  } cases[] = {
      {{}, 0, ""},
      {{"Page0001.xml", "Page0002.xml"}, 2, ""},
      {{"Page0001.xml", "PageABCD.xml", "Pages.xml", "Thumb0009.bmp"}, 1, ""},
      {{"page0001.xml"}, 1, ""},
      {{"Page0026.xml"}, 0, "Invalid page count"},
  };
  for (const Case& c : cases) {
    TvqStorage storage;
    const std::string index = "<Document/>";
    storage.WriteStream("Index.xml", std::vector<uint8_t>(index.begin(), index.end()));
    for (const std::string& name : c.pages) storage.WriteStream(name, std::vector<uint8_t>{});
    TdtpDocument doc;
    doc.Clear();
    doc.SetStorage(&storage);
    EXPECT_EQ(MessageOf([&] { doc.LoadFromArchive(); }), c.error.empty() ? "(no error)" : c.error);
    if (c.error.empty()) {
      EXPECT_EQ(doc.PageCount(), c.count) << c.pages.size();
    }
    EXPECT_FALSE(doc.IsLoading());
  }
}

TEST(DocumentFile, CardsThatCannotBeReadRaiseAndKeepTheDocument) {
  TScratchFolder folder;
  const auto containerWith = [&](const std::string& file, const char* indexText) {
    TvqStorage s;
    if (indexText)
      s.WriteStream("Index.xml",
                    std::vector<uint8_t>(indexText, indexText + std::strlen(indexText)));
    s.WriteStream("Page0001.xml", std::vector<uint8_t>{});
    s.SaveToFile(folder.File(file));
  };
  containerWith("noindex.wqx", nullptr);
  containerWith("emptyindex.wqx", "");
  containerWith("badindex.wqx", "<Document><Open></Document>");
  WriteFile(folder.File("garbage.wqx"), std::string(300, '\x5A'));
  WriteFile(folder.File("empty.wqx"), "");
  std::filesystem::create_directory(folder.File("folder.wqx"));

  struct Case {
    std::string file;
    std::string error; // empty: any non-empty message
  } cases[] = {
      {"missing.wqx", "Cannot find file \"" + folder.File("missing.wqx") + "\""},
      {"folder.wqx", "Cannot find file \"" + folder.File("folder.wqx") + "\""},
      {"noindex.wqx", "Stream \"Index.xml\" not found in the storage"},
      {"emptyindex.wqx", "No index found in archive"},
      {"badindex.wqx", ""},
      {"garbage.wqx", ""},
      {"empty.wqx", ""},
  };
  for (const Case& c : cases) {
    TdtpDocument doc;
    doc.Pages(0)->SetTag(42);
    doc.AddPage(nullptr);
    const std::string message = MessageOf([&] { doc.LoadFromFile(folder.File(c.file)); });
    if (c.error.empty())
      EXPECT_NE(message, "(no error)") << c.file;
    else
      EXPECT_EQ(message, c.error) << c.file;
    EXPECT_EQ(doc.PageCount(), 2) << c.file;
    EXPECT_EQ(doc.Pages(0)->Tag(), 42) << c.file;
    EXPECT_FALSE(doc.IsBusy()) << c.file;
    EXPECT_FALSE(doc.IsLoading()) << c.file;

    // Still usable: it saves and a good card loads into it.
    const std::string good = folder.File("good-" + c.file);
    doc.SaveToFile(good);
    TdtpDocument other;
    other.LoadFromFile(good);
    EXPECT_EQ(other.PageCount(), 2) << c.file;
    EXPECT_EQ(other.Pages(0)->Tag(), 42) << c.file;
    doc.LoadFromFile(good);
    EXPECT_EQ(doc.PageCount(), 2) << c.file;
  }
}

TEST(DocumentFile, FileOperationsRefuseWhileBusy) {
  TScratchFolder folder;
  TdtpDocument doc;
  doc.SaveToFile(folder.File("a.wqx"));
  doc.BeginBusy(crHourGlass);
  TvqMemoryStream stream;
  const std::function<void()> ops[] = {
      [&] { doc.LoadFromFile(folder.File("a.wqx")); },
      [&] { doc.SaveToFile(folder.File("b.wqx")); },
      [&] { doc.LoadFromStream(stream); },
      [&] { doc.SaveToStream(stream); },
  };
  for (const auto& op : ops) EXPECT_EQ(MessageOf(op), "Threading error (working already)");
  doc.EndBusy();
  EXPECT_FALSE(std::filesystem::exists(folder.File("b.wqx")));
  EXPECT_EQ(MessageOf([&] { doc.LoadFromFile(folder.File("a.wqx")); }), "(no error)");
}

TEST(DocumentFile, SavesToAFileAndLoadsItBack) {
  TScratchFolder folder;
  TdtpDocument doc;
  BuildThreePages(doc);
  const std::string file = folder.File("Karte.wqx");
  doc.SaveToFile(file);
  for (bool direct : {false, true}) {
    TdtpDocument loaded;
    loaded.SetArchiveDirect(direct);
    loaded.LoadFromFile(file);
    ASSERT_EQ(loaded.PageCount(), 3) << direct;
    loaded.SetCurrentPageIndex(2);
    EXPECT_EQ(loaded.Shapes(0)->Name(), "Grüße") << direct;
  }
}

TEST(CardFormatFile, ReadsTheFormatIndex) {
  TScratchFolder folder;
  const std::string card = folder.File("Karte.wqx");
  EXPECT_EQ(CardFormatFileName(card), card + "2");
  struct Case {
    const char* content; // nullptr: no companion file
    int expected;
  } cases[] = {
      {nullptr, 0},
      {"[SETUP]\r\nART=3\r\n", 3},
      {"[setup]\nart = 5\n", 5},
      {"[OTHER]\r\nART=4\r\n[SETUP]\r\nX=1\r\n", 0},
      {"[SETUP]\r\nART=x\r\n", 0},
      {"[OTHER]\r\nART=4\r\n[SETUP]\r\nART=6", 6},
      {"", 0},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(CardFormatFileName(card));
    if (c.content) WriteFile(CardFormatFileName(card), c.content);
    EXPECT_EQ(ReadCardFormatIndex(card), c.expected) << (c.content ? c.content : "(none)");
  }
}

TEST(CardFormatFile, WritesTheFormatIndexKeepingOtherLines) {
  TScratchFolder folder;
  const std::string card = folder.File("Karte.wqx");
  WriteCardFormatIndex(card, 2);
  EXPECT_EQ(ReadCardFormatIndex(card), 2);
  WriteFile(CardFormatFileName(card), "[OTHER]\r\nART=9\r\n[SETUP]\r\nY=1\r\n[LAST]\r\nZ=2\r\n");
  WriteCardFormatIndex(card, 7);
  EXPECT_EQ(ReadCardFormatIndex(card), 7);
  std::ifstream in(CardFormatFileName(card), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "[OTHER]\r\nART=9\r\n[SETUP]\r\nY=1\r\nART=7\r\n[LAST]\r\nZ=2\r\n");
  WriteCardFormatIndex(card, 8);
  EXPECT_EQ(ReadCardFormatIndex(card), 8);
  EXPECT_EQ(MessageOf([&] { WriteCardFormatIndex(folder.File("no/such/dir.wqx"), 1); }),
            "Cannot create file \"" + folder.File("no/such/dir.wqx2") + "\"");
}

} // namespace
} // namespace dtp
