#include "tools/card_cli.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "engine/document/document.h"
#include "engine/document/page.h"
#include "engine/graphics/raster_formats.h"
#include "engine/persistence/resource.h"
#include "engine/persistence/storage.h"
#include "engine/shapes/shape.h"
#include "tests/engine/persistence/storage_fixture.h"

namespace dtp {
namespace {

using test::TScratchFolder;

constexpr TColor32 kRed = 0xFFFF0000u;
constexpr TColor32 kWhite = 0xFFFFFFFFu;

// A shape that paints its rectangle red; registered so a loaded card creates it again.
class TRedShape : public TdtpShape {
public:
  static std::string StaticClassName() { return "TTestRedShape"; }
  std::string ClassName() const override { return StaticClassName(); }
  void Paint(TBitmap32& bitmap, const TDeviceContext&) override {
    bitmap.FillRect(DeviceLeft(), DeviceTop(), DeviceRight(), DeviceBottom(), kRed);
  }
};

struct TResult {
  int Code;
  std::string Out, Err;
};

TResult RunCli(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int code = cli::Run(args, out, err);
  return {code, out.str(), err.str()};
}

// Page 1 ("Vorne", default page 105 × 148 mm): a red shape at 20, 30 mm, 40 × 20 mm,
// holding a turned child. Page 2 ("Innen", own settings 60 × 40 mm, blue): a translucent
// red shape over the whole page.
class CardCli : public ::testing::Test {
protected:
  void SetUp() override {
    RegisterShapeClass<TRedShape>();
    TdtpDocument doc;
    doc.SetDefaultPageWidth(105);
    doc.SetDefaultPageHeight(148);
    doc.SetThumbnailWidth(8);
    doc.SetThumbnailHeight(6);
    doc.SetPageWidth(105);
    doc.SetPageHeight(148);
    doc.Pages(0)->SetName("Vorne");
    auto red = std::make_unique<TRedShape>();
    red->SetBounds(20, 30, 40, 20);
    red->SetName("Rot");
    auto child = std::make_unique<TdtpShape>();
    child->SetBounds(2, 2, 10, 5);
    child->SetDocAngle(30);
    red->AddShape(std::move(child));
    doc.AddShape(std::move(red));

    doc.AddPage(nullptr);
    TdtpPage* own = doc.Pages(1);
    own->SetName("Innen");
    own->SetPageColor(0xFF0000); // BGR: blue
    own->SetPageWidth(60);
    own->SetPageHeight(40);
    doc.SetCurrentPageIndex(1);
    auto veil = std::make_unique<TRedShape>();
    veil->SetBounds(0, 0, 30, 40);
    veil->SetMasterAlpha(128);
    doc.AddShape(std::move(veil));
    card = folder.File("karte.wqx");
    doc.SaveToFile(card);
  }

  // The saved card with one part replaced.
  std::string CardWithPart(const std::string& part, const std::string& bytes) {
    TvqStorage s;
    s.LoadFromFile(card);
    s.WriteStream(part, std::vector<uint8_t>(bytes.begin(), bytes.end()));
    const std::string file = folder.File("changed-" + part + ".wqx");
    s.SaveToFile(file);
    return file;
  }

  TScratchFolder folder;
  std::string card;
};

TEST_F(CardCli, InfoListsPartsPagesAndShapeTrees) {
  const TResult r = RunCli({"info", card});
  ASSERT_EQ(r.Code, cli::kExitOk) << r.Err;
  EXPECT_EQ(r.Err, "");
  for (const char* expected : {
           "container: 5 parts\n",
           "  Index.xml ",
           "  Page0001.xml ",
           "  Page0002.xml ",
           "  Thumb0001.bmp ",
           "default page: 105 x 148 mm",
           "pages: 2\n",
           "page 1 \"Vorne\": 105 x 148 mm, default page, colour $00FFFFFF, 1 shape\n",
           "    TTestRedShape \"Rot\" at 20, 30 mm, 40 x 20 mm\n",
           "      TdtpShape at 2, 2 mm, 10 x 5 mm, angle 30\n",
           "page 2 \"Innen\": 60 x 40 mm, own settings, colour $00FF0000, 1 shape\n",
           "    TTestRedShape at 0, 0 mm, 30 x 40 mm, alpha 128\n",
       })
    EXPECT_NE(r.Out.find(expected), std::string::npos) << expected << "\nin\n" << r.Out;
}

TEST_F(CardCli, CheckPassesASoundCard) {
  const TResult r = RunCli({"check", card});
  EXPECT_EQ(r.Code, cli::kExitOk) << r.Err;
  EXPECT_EQ(r.Out, card + ": ok, 2 pages, 5 parts, 0 resources\n");
  EXPECT_EQ(r.Err, "");
}

TEST_F(CardCli, RenderShowsThePageAsPrintedOnWhitePaper) {
  const std::string png = folder.File("seite1.png");
  // 50.8 dpi = 2 pixels per mm: the page is 210 × 296 pixels, the red shape 80 × 40 at 40, 60.
  const TResult r = RunCli({"render", card, "--page", "1", "--dpi", "50.8", "-o", png});
  ASSERT_EQ(r.Code, cli::kExitOk) << r.Err;
  EXPECT_EQ(r.Out, png + ": page 1 \"Vorne\", 210 x 296 px at 50.8 dpi\n");
  TBitmap32 bmp;
  TdtpPngFormat().LoadFromFile(png, bmp, 0, 0, 0);
  ASSERT_EQ(bmp.Width(), 210);
  ASSERT_EQ(bmp.Height(), 296);
  EXPECT_EQ(bmp.Pixel(40, 60), kRed);
  EXPECT_EQ(bmp.Pixel(119, 99), kRed);
  EXPECT_EQ(bmp.Pixel(80, 80), kRed);
  EXPECT_EQ(bmp.Pixel(39, 60), kWhite);
  EXPECT_EQ(bmp.Pixel(120, 80), kWhite);
  EXPECT_EQ(bmp.Pixel(80, 100), kWhite);
  EXPECT_EQ(bmp.Pixel(0, 0), kWhite);
  EXPECT_EQ(bmp.Pixel(209, 295), kWhite);
}

TEST_F(CardCli, RenderDrawsOwnPageColourAndTranslucentShapes) {
  const std::string png = folder.File("seite2.png");
  const TResult r = RunCli({"render", card, "--page", "2", "--dpi", "25.4", "-o", png});
  ASSERT_EQ(r.Code, cli::kExitOk) << r.Err;
  TBitmap32 bmp;
  TdtpPngFormat().LoadFromFile(png, bmp, 0, 0, 0);
  ASSERT_EQ(bmp.Width(), 60);
  ASSERT_EQ(bmp.Height(), 40);
  EXPECT_EQ(bmp.Pixel(50, 20), 0xFF0000FFu); // the page's blue
  // Half red over blue: both channels near the middle, no green, opaque.
  const TColor32 veil = bmp.Pixel(15, 20);
  EXPECT_EQ(veil >> 24, 0xFFu);
  EXPECT_NEAR(int((veil >> 16) & 0xFF), 128, 8);
  EXPECT_EQ((veil >> 8) & 0xFF, 0u);
  EXPECT_NEAR(int(veil & 0xFF), 127, 8);
}

TEST_F(CardCli, DefaultsRenderPageOneAt150Dpi) {
  const std::string png = folder.File("standard.png");
  const TResult r = RunCli({"render", card, "-o", png});
  ASSERT_EQ(r.Code, cli::kExitOk) << r.Err;
  TBitmap32 bmp;
  TdtpPngFormat().LoadFromFile(png, bmp, 0, 0, 0);
  EXPECT_EQ(bmp.Width(), 620); // 105 mm at 150 dpi
  EXPECT_EQ(bmp.Height(), 874);
}

TEST_F(CardCli, UsageErrorsExitWithTwoAndTheUsageText) {
  const std::string png = folder.File("x.png");
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{}, "usage: kartolino-cli"},
      {{"frobnicate", card}, "unknown command \"frobnicate\""},
      {{"info"}, "info takes one card file"},
      {{"check", card, card}, "check takes one card file"},
      {{"info", "--page"}, "info takes one card file"},
      {{"render", card}, "render needs -o OUT.png"},
      {{"render", "-o", png}, "render needs a card file"},
      {{"render", card, "-o"}, "-o needs a value"},
      {{"render", card, "--dpi", "viel", "-o", png}, "--dpi needs a number, not \"viel\""},
      {{"render", card, "--dpi", "0", "-o", png}, "--dpi takes a resolution"},
      {{"render", card, "--dpi", "5000", "-o", png}, "--dpi takes a resolution"},
      {{"render", card, "--dpi", "nan", "-o", png}, "--dpi needs a number"},
      {{"render", card, "--page", "0", "-o", png}, "--page takes a page number"},
      {{"render", card, "--page", "1.5", "-o", png}, "--page takes a page number"},
      {{"render", card, "--page", "3", "-o", png}, "the card has 2 pages, not 3"},
      {{"render", card, "--farbe", "rot", "-o", png}, "unknown option --farbe"},
      {{"render", card, card, "-o", png}, "render takes one card file"},
  };
  for (const Case& c : cases) {
    const TResult r = RunCli(c.args);
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    EXPECT_EQ(r.Code, cli::kExitUsage) << joined;
    EXPECT_NE(r.Err.find(c.message), std::string::npos) << joined << "\n" << r.Err;
    EXPECT_NE(r.Err.find("exit codes:"), std::string::npos) << joined;
    EXPECT_EQ(r.Out, "") << joined;
  }
  EXPECT_FALSE(std::filesystem::exists(png));
}

TEST_F(CardCli, HelpGoesToStandardOutput) {
  for (const char* word : {"help", "--help", "-h"}) {
    const TResult r = RunCli({word});
    EXPECT_EQ(r.Code, cli::kExitOk);
    EXPECT_EQ(r.Out, cli::UsageText());
    EXPECT_EQ(r.Err, "");
  }
}

TEST_F(CardCli, CardsThatCannotBeReadExitWithOneAndTheEngineMessage) {
  const std::string garbage = folder.File("garbage.wqx");
  test::WriteFile(garbage, test::B("not a card at all"));
  const std::string noIndex = [&] {
    TvqStorage s;
    s.LoadFromFile(card);
    s.DeleteStream("Index.xml");
    const std::string file = folder.File("noindex.wqx");
    s.SaveToFile(file);
    return file;
  }();
  const std::string missing = folder.File("fehlt.wqx");
  struct Case {
    std::string file;
    std::string message;
  };
  const Case cases[] = {
      {missing, "Cannot find file \"" + missing + "\""},
      {garbage, "File is not a storage file"},
      {noIndex, "Stream \"Index.xml\" not found in the storage"},
      {CardWithPart("Index.xml", ""), "No index found in archive"},
      {CardWithPart("Page0001.xml", "<Page><Shape>"), ""},
  };
  for (const Case& c : cases) {
    for (const char* command : {"info", "check", "render"}) {
      std::vector<std::string> args{command, c.file};
      if (std::string(command) == "render") args.insert(args.end(), {"-o", folder.File("nie.png")});
      const TResult r = RunCli(args);
      EXPECT_EQ(r.Code, cli::kExitCardError) << command << " " << c.file;
      EXPECT_EQ(r.Err.rfind("kartolino-cli: " + c.file + ": " + c.message, 0), 0u)
          << command << "\n"
          << r.Err;
      EXPECT_EQ(r.Out, "") << command;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(folder.File("nie.png")));
}

TEST_F(CardCli, CheckReportsDamageTheLoaderToleratesOrMeetsLate) {
  struct Case {
    const char* what;
    std::string file;
    std::string message;
  };
  const Case cases[] = {
      // Page 2 is read lazily: opening the card succeeds, the check reads it.
      {"broken later page", CardWithPart("Page0002.xml", "<Page><Shape>"), "page 2: "},
      // The engine drops a thumbnail it cannot decode; the check names the part.
      {"broken thumbnail", CardWithPart("Thumb0001.bmp", "BM??"), "part Thumb0001.bmp: "},
  };
  for (const Case& c : cases) {
    const TResult r = RunCli({"check", c.file});
    EXPECT_EQ(r.Code, cli::kExitCardError) << c.what;
    EXPECT_NE(r.Err.find("kartolino-cli: " + c.file + ": " + c.message), std::string::npos)
        << c.what << "\n"
        << r.Err;
    EXPECT_EQ(r.Out, "") << c.what;
  }
}

// A one-page card whose own page has a tiled background of red and green columns, kept as
// a part of the container.
class CardCliPicture : public CardCli {
protected:
  void SetUp() override {
    CardCli::SetUp();
    TdtpDocument doc;
    doc.SetPageWidth(20);
    doc.SetPageHeight(10);
    TBitmap32 tile(2, 1);
    tile.SetPixel(0, 0, kRed);
    tile.SetPixel(1, 0, 0xFF00FF00u);
    TdtpPage& page = *doc.Pages(0);
    page.SetBackgroundImage(&tile);
    page.BackgroundImage().SetStorage(rsArchive);
    page.SetBackgroundTiled(true);
    part = page.BackgroundImage().ArchiveName();
    card = folder.File("muster.wqx");
    doc.SaveToFile(card);
  }
  std::string part;
};

TEST_F(CardCliPicture, InfoCheckAndRenderShowTheStoredPicture) {
  ASSERT_EQ(part.rfind("TMP", 0), 0u);
  const TResult info = RunCli({"info", card});
  ASSERT_EQ(info.Code, cli::kExitOk) << info.Err;
  EXPECT_NE(info.Out.find("  " + part + " "), std::string::npos) << info.Out;
  EXPECT_NE(info.Out.find("own settings, colour $00FFFFFF, background 2 x 1 px, Archive " + part +
                          ", tiled, 0 shapes\n"),
            std::string::npos)
      << info.Out;

  const TResult check = RunCli({"check", card});
  EXPECT_EQ(check.Code, cli::kExitOk) << check.Err;
  EXPECT_NE(check.Out.find("1 resources"), std::string::npos) << check.Out;

  // At 150 dpi a tile pixel is a page pixel: the columns alternate across the page.
  const std::string png = folder.File("muster.png");
  const TResult r = RunCli({"render", card, "--dpi", "150", "-o", png});
  ASSERT_EQ(r.Code, cli::kExitOk) << r.Err;
  TBitmap32 bmp;
  TdtpPngFormat().LoadFromFile(png, bmp, 0, 0, 0);
  ASSERT_EQ(bmp.Width(), 118);
  ASSERT_EQ(bmp.Height(), 59);
  for (const int x : {0, 2, 40, 100}) {
    const TColor32 red = bmp.Pixel(x, 30), green = bmp.Pixel(x + 1, 30);
    EXPECT_GT(int((red >> 16) & 0xFF), 200) << x;
    EXPECT_LT(int((red >> 8) & 0xFF), 60) << x;
    EXPECT_GT(int((green >> 8) & 0xFF), 200) << x;
    EXPECT_LT(int((green >> 16) & 0xFF), 60) << x;
  }
}

TEST_F(CardCliPicture, CheckReportsAMissingOrBrokenPicturePart) {
  const std::string missing = [&] {
    TvqStorage s;
    s.LoadFromFile(card);
    s.DeleteStream(part);
    const std::string file = folder.File("ohne-bild.wqx");
    s.SaveToFile(file);
    return file;
  }();
  struct Case {
    const char* what;
    std::string file;
    std::string message;
  };
  const Case cases[] = {
      {"missing part", missing, "page 1: Stream \"" + part + "\" not found in the storage"},
      {"broken part", CardWithPart(part, "QZP kaputt"), "page 1"},
  };
  for (const Case& c : cases) {
    const TResult r = RunCli({"check", c.file});
    EXPECT_EQ(r.Code, cli::kExitCardError) << c.what;
    EXPECT_NE(r.Err.find("kartolino-cli: " + c.file + ": " + c.message), std::string::npos)
        << c.what << "\n"
        << r.Err;
    // Each problem once, though loading and painting both meet it.
    const size_t first = r.Err.find('\n');
    EXPECT_EQ(r.Err.find(r.Err.substr(0, first + 1), first + 1), std::string::npos) << r.Err;
  }
}

TEST_F(CardCli, RenderReportsAFileItCannotWrite) {
  const std::string png = folder.File("kein/ordner/seite.png");
  const TResult r = RunCli({"render", card, "-o", png});
  EXPECT_EQ(r.Code, cli::kExitCardError);
  EXPECT_NE(r.Err.find("kartolino-cli: " + card + ": "), std::string::npos) << r.Err;
  EXPECT_FALSE(std::filesystem::exists(png));
}

TEST(RenderPageAsPrinted, RefusesPagesBeyondThePictureLimits) {
  TdtpDocument doc;
  doc.SetPageWidth(2000);
  doc.SetPageHeight(2000);
  TBitmap32 out;
  // 2000 mm at 2400 dpi would be about 189000 pixels a side.
  EXPECT_THROW(cli::RenderPageAsPrinted(*doc.Pages(0), 2400 / 25.4f, out), EDtpError);
  EXPECT_TRUE(out.Empty());
}

} // namespace
} // namespace dtp
