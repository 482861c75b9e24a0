#include <gtest/gtest.h>

#include "engine/document/document.h"
#include "engine/document/page.h"
#include "platform/core/errors.h"
#include "platform/host/fake_host.h"

namespace dtp {
namespace {

class Clipboard : public ::testing::Test {
protected:
  void SetUp() override {
    doc.SetHost(&host);
    doc.SetPageCount(2);
    auto s = std::make_unique<TdtpShape>();
    s->SetBounds(20, 30, 40, 10);
    s->SetName("Gruß");
    s->AddShape(std::make_unique<TdtpShape>());
    doc.AddShape(std::move(s));
    doc.Shapes(0)->SetSelected(true);
  }
  TFakeHost host;
  TdtpDocument doc;
};

TEST_F(Clipboard, SelectionTextIsIndentedXmlWithBase64Lines) {
  const std::string text = doc.SelectionToXml();
  ASSERT_EQ(text.rfind("<?xml", 0), 0u);
  EXPECT_NE(text.find("<Selection>\r\n  <shape>"), std::string::npos);
  EXPECT_NE(text.find("<ClassName>TdtpShape</ClassName>"), std::string::npos);
  // Every Base64 line holds at most 76 characters.
  size_t start = text.find("<shape>") + 7;
  const size_t end = text.find("<ClassName>");
  std::string line;
  for (size_t i = start; i < end; ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      EXPECT_LE(line.size(), 76u);
      line.clear();
    } else if (text[i] != ' ') {
      line += text[i];
    }
  }
  doc.ClearSelection();
  EXPECT_EQ(doc.SelectionToXml(), "");
}

TEST_F(Clipboard, CopyThenPasteOffsetsOnTheSamePageOnly) {
  doc.CopySelection();
  EXPECT_TRUE(doc.CanPaste());
  doc.Paste();
  ASSERT_EQ(doc.ShapeCount(), 2);
  EXPECT_FLOAT_EQ(doc.Shapes(1)->DocLeft(), 30);
  EXPECT_FLOAT_EQ(doc.Shapes(1)->DocTop(), 40);
  EXPECT_EQ(doc.Shapes(1)->Name(), "Gruß");
  EXPECT_EQ(doc.Shapes(1)->ShapeCount(), 1);
  EXPECT_TRUE(doc.Shapes(1)->Selected());
  EXPECT_FALSE(doc.Shapes(0)->Selected());
  EXPECT_NE(doc.Shapes(1)->ID(), doc.Shapes(0)->ID());
  doc.Paste();
  ASSERT_EQ(doc.ShapeCount(), 3);
  EXPECT_FLOAT_EQ(doc.Shapes(2)->DocLeft(), 40);

  doc.SetCurrentPageIndex(1);
  doc.Paste();
  ASSERT_EQ(doc.ShapeCount(), 1);
  EXPECT_FLOAT_EQ(doc.Shapes(0)->DocLeft(), 40) << "another page: where it was copied";
}

TEST_F(Clipboard, CutRemovesAndUndoBringsBack) {
  doc.CutSelection();
  EXPECT_EQ(doc.ShapeCount(), 0);
  ASSERT_TRUE(doc.Undo());
  ASSERT_EQ(doc.ShapeCount(), 1);
  EXPECT_EQ(doc.Shapes(0)->Name(), "Gruß");
  doc.Paste();
  EXPECT_EQ(doc.ShapeCount(), 2);
  EXPECT_FLOAT_EQ(doc.Shapes(1)->DocLeft(), 20) << "the source page was forgotten by the cut";
}

TEST_F(Clipboard, DeleteSelectionSparesProtectedShapes) {
  auto keep = std::make_unique<TdtpShape>();
  keep->SetAllowDelete(false);
  doc.AddShape(std::move(keep));
  doc.Shapes(1)->SetSelected(true);
  doc.DeleteSelection();
  ASSERT_EQ(doc.ShapeCount(), 1);
  EXPECT_FALSE(doc.Shapes(0)->AllowDelete());
}

TEST_F(Clipboard, InternalClipboardWithoutTheSystemOne) {
  doc.SetUseClipboard(false);
  EXPECT_FALSE(doc.CanPaste());
  doc.CopySelection();
  EXPECT_TRUE(doc.CanPaste());
  EXPECT_TRUE(host.Clipboard.empty());
  doc.Paste();
  EXPECT_EQ(doc.ShapeCount(), 2);
}

TEST_F(Clipboard, ForeignOrDamagedTextPastesNothing) {
  struct Case {
    const char* what;
    std::string text;
    int pasted;
  };
  const std::string good = doc.SelectionToXml();
  std::string damaged = good;
  damaged.replace(damaged.find("<shape>") + 7, 8, "!!!!!!!!");
  const Case cases[] = {
      {"plain text", "Hallo", 0},
      {"blank before the declaration", " " + good, 1},
      {"other root", "<?xml version=\"1.0\"?><Other><shape/></Other>", 0},
      {"empty selection", "<?xml version=\"1.0\"?><Selection/>", 0},
      {"damaged Base64", damaged, 0},
      {"lying binary form",
       "<Selection><shape>AAAAAP///38=<ClassName>TdtpShape</ClassName>"
       "</shape></Selection>",
       0},
      {"good", good, 1},
  };
  for (const Case& c : cases) {
    const int before = doc.ShapeCount();
    EXPECT_EQ(doc.PasteFromXml(c.text), c.pasted) << c.what;
    EXPECT_EQ(doc.ShapeCount(), before + c.pasted) << c.what;
  }
  host.Clipboard = " " + good;
  EXPECT_FALSE(doc.CanPaste());
  host.Clipboard = good;
  EXPECT_TRUE(doc.CanPaste());
}

TEST_F(Clipboard, CommandsRefuseWhileBusy) {
  TBusyGuard busy(doc, crHourGlass);
  for (void (TdtpDocument::*cmd)() : {&TdtpDocument::CopySelection, &TdtpDocument::CutSelection,
                                      &TdtpDocument::Paste, &TdtpDocument::DeleteSelection}) {
    try {
      (doc.*cmd)();
      ADD_FAILURE() << "no exception";
    } catch (const EDtpError& e) {
      EXPECT_STREQ(e.what(), "Threading error (working already)");
    }
  }
}

} // namespace
} // namespace dtp
