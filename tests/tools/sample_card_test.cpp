// The bundled sample card (assets/samples, written by tools/make_sample_card.cpp): it must
// stay readable and keep the first card format's pages.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "engine/document/card_format_file.h"
#include "engine/document/document.h"
#include "engine/document/page.h"
#include "tools/card_cli.h"

namespace dtp {
namespace {

const std::string kSample = std::string(KARTOLINO_SOURCE_DIR) + "/assets/samples/beispielkarte.wqx";

TEST(SampleCard, PassesTheCheck) {
  std::ostringstream out, err;
  EXPECT_EQ(cli::Run({"check", kSample}, out, err), cli::kExitOk) << err.str();
}

TEST(SampleCard, HasTheFirstCardFormatsPages) {
  TdtpDocument doc;
  doc.LoadFromFile(kSample);
  EXPECT_EQ(ReadCardFormatIndex(kSample), 0);
  struct Row {
    const char* name;
    float width, height;
    bool defaultPage;
  };
  const Row rows[] = {
      {"Vorderseite", 105, 148, true},
      {"Innenseite", 210, 148, false},
      {"Rückseite", 105, 148, true},
  };
  ASSERT_EQ(doc.PageCount(), 3);
  for (int p = 0; p < 3; ++p) {
    TdtpPage& page = *doc.Pages(p);
    page.EnsureLoaded();
    EXPECT_EQ(page.Name(), rows[p].name);
    EXPECT_FLOAT_EQ(page.PageWidth(), rows[p].width) << rows[p].name;
    EXPECT_FLOAT_EQ(page.PageHeight(), rows[p].height) << rows[p].name;
    EXPECT_EQ(page.IsDefaultPage(), rows[p].defaultPage) << rows[p].name;
    EXPECT_GT(page.ShapeCount(), 0) << rows[p].name;
  }
  EXPECT_FLOAT_EQ(doc.DefaultPageWidth(), 105);
  EXPECT_FLOAT_EQ(doc.DefaultPageHeight(), 148);
}

TEST(SampleCard, PagesRenderOnTheirPaper) {
  TdtpDocument doc;
  doc.LoadFromFile(kSample);
  for (int p = 0; p < doc.PageCount(); ++p) {
    TdtpPage& page = *doc.Pages(p);
    TBitmap32 bmp;
    cli::RenderPageAsPrinted(page, 1.0f, bmp);
    EXPECT_EQ(bmp.Width(), int(page.PageWidth()));
    EXPECT_EQ(bmp.Height(), int(page.PageHeight()));
    // Coloured paper, not the white of the sheet around it.
    EXPECT_NE(bmp.Pixel(1, 1), 0xFFFFFFFFu) << page.Name();
    EXPECT_EQ(bmp.Pixel(1, 1) >> 24, 0xFFu) << page.Name();
  }
}

} // namespace
} // namespace dtp
