#include <gtest/gtest.h>

#include "engine/document/document.h"
#include "engine/document/page.h"
#include "engine/shapes/shape.h"
#include "platform/core/errors.h"
#include "platform/host/fake_host.h"
#include "tests/support/memory_storage.h"

namespace dtp {
namespace {

template <class F> std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no exception)";
}

std::unique_ptr<TdtpShape> Box(float x, float y, float w, float h) {
  auto s = std::make_unique<TdtpShape>();
  s->SetBounds(x, y, w, h);
  return s;
}

TEST(Document, NewDocumentHasOneDefaultPage) {
  TdtpDocument doc;
  ASSERT_EQ(doc.PageCount(), 1);
  EXPECT_EQ(doc.CurrentPageIndex(), 0);
  EXPECT_FALSE(doc.Modified());
  EXPECT_EQ(doc.UndoCount(), 0);
  EXPECT_EQ(doc.PageWidth(), 210);
  EXPECT_EQ(doc.PageHeight(), 297);
  EXPECT_TRUE(doc.CurrentPage()->IsDefaultPage());
  EXPECT_EQ(doc.Version(), "2.7.1");
  EXPECT_FLOAT_EQ(doc.RenderDPI(), 150);
  doc.Clear();
  EXPECT_EQ(doc.PageCount(), 0);
  EXPECT_EQ(doc.CurrentPageIndex(), -1);
  EXPECT_TRUE(doc.Modified());
  EXPECT_EQ(doc.CurrentPage(), nullptr);
  EXPECT_EQ(doc.AddShape(Box(0, 0, 1, 1)), -1);
}

TEST(Document, PageCountLimits) {
  TdtpDocument doc;
  EXPECT_EQ(MessageOf([&] { doc.SetPageCount(26); }), "Invalid page count");
  EXPECT_EQ(MessageOf([&] { doc.SetPageCount(-1); }), "Invalid page count");
  EXPECT_EQ(doc.PageCount(), 1);
  doc.SetPageCount(25);
  EXPECT_EQ(doc.PageCount(), 25);
  doc.SetPageCount(0);
  EXPECT_EQ(doc.PageCount(), 0);
  EXPECT_EQ(doc.CurrentPage(), nullptr);
  doc.AddPage();
  EXPECT_EQ(doc.CurrentPageIndex(), 0);
  EXPECT_NE(doc.CurrentPage(), nullptr);
}

TEST(Document, CurrentPageIndexToItsOwnValueFiresOnce) {
  TdtpDocument doc;
  doc.SetPageCount(3);
  std::vector<TdtpPage*> fired;
  doc.OnPageChanged = [&](TdtpDocument*, TdtpPage* p) { fired.push_back(p); };
  doc.SetCurrentPageIndex(0);
  EXPECT_EQ(fired, std::vector<TdtpPage*>{doc.Pages(0)});
  fired.clear();
  doc.SetCurrentPageIndex(2);
  EXPECT_EQ(fired, (std::vector<TdtpPage*>{doc.Pages(0), doc.Pages(2)}));
}

TEST(Document, DeletePageIndexRules) {
  struct Case {
    const char* what;
    int current, deleted;
    int expectedIndex;
    int expectedTag; // Tag of the page that is current afterwards
  };
  const Case cases[] = {
      {"current page that is not the last: the next page takes its place", 1, 1, 1, 2},
      {"the last page when it is current: one down", 3, 3, 2, 2},
      {"a page before the current one: one down, same page", 2, 0, 1, 2},
      {"a page after the current one: unchanged", 1, 3, 1, 1},
  };
  for (const Case& c : cases) {
    TdtpDocument doc;
    doc.SetPageCount(4);
    for (int i = 0; i < 4; ++i) doc.Pages(i)->SetTag(i);
    doc.SetCurrentPageIndex(c.current);
    doc.DeletePage(c.deleted);
    EXPECT_EQ(doc.PageCount(), 3) << c.what;
    EXPECT_EQ(doc.CurrentPageIndex(), c.expectedIndex) << c.what;
    ASSERT_NE(doc.CurrentPage(), nullptr) << c.what;
    EXPECT_EQ(doc.CurrentPage()->Tag(), c.expectedTag) << c.what;
    // The page now current follows geometry changes of the view again.
    doc.SetViewStyle(vsNormal);
    doc.CurrentPage()->SetDocWidth(100);
    EXPECT_FLOAT_EQ(doc.VirtualWidth(), 100 * doc.ScreenDpm()) << c.what;
  }
  TdtpDocument doc;
  doc.DeletePage(5);
  doc.DeletePage(-1);
  EXPECT_EQ(doc.PageCount(), 1);
}

TEST(Document, DeletePageRenumbersStoredParts) {
  TdtpDocument doc;
  test::TMemoryStorage storage;
  doc.SetStorage(&storage);
  doc.SetPageCount(4);
  for (int n = 1; n <= 4; ++n) {
    const std::string x =
        "<Page Index=\"" + std::to_string(n) + "\"><Tag>" + std::to_string(n) + "</Tag></Page>";
    storage.WriteStream(PagePartName(n), std::vector<uint8_t>(x.begin(), x.end()));
    storage.WriteStream(ThumbPartName(n), {static_cast<uint8_t>(n)});
  }
  doc.DeletePage(1);
  EXPECT_FALSE(storage.StreamExists(PagePartName(4)));
  EXPECT_FALSE(storage.StreamExists(ThumbPartName(4)));
  EXPECT_EQ(storage.ReadStream(ThumbPartName(2)), std::vector<uint8_t>{3});
  // Page 2 now reads what was stored as page 3.
  doc.Pages(1)->SetContentLoaded(false);
  doc.LoadPage(1);
  EXPECT_EQ(doc.Pages(1)->Tag(), 3);
  EXPECT_TRUE(doc.Pages(1)->ContentLoaded());
}

TEST(Document, LazyPagesLoadWhenMadeCurrent) {
  TdtpDocument doc;
  test::TMemoryStorage storage;
  doc.SetStorage(&storage);
  auto page = std::make_unique<TdtpPage>();
  page->SetContentLoaded(false);
  doc.AddPage(std::move(page));
  const std::string x = "<Page Index=\"2\"><ClassName>TdtpPage</ClassName><DocWidth>105</DocWidth>"
                        "<DocHeight>148</DocHeight><Shape><DocWidth>7</DocWidth></Shape></Page>";
  storage.WriteStream(PagePartName(2), std::vector<uint8_t>(x.begin(), x.end()));
  int changes = 0;
  doc.OnShapeChanged = [&](TdtpDocument*, TdtpShape*) { ++changes; };
  doc.SetCurrentPageIndex(1);
  EXPECT_TRUE(doc.CurrentPage()->ContentLoaded());
  EXPECT_EQ(doc.PageWidth(), 105);
  ASSERT_EQ(doc.ShapeCount(), 1);
  EXPECT_EQ(doc.Shapes(0)->DocWidth(), 7);
  EXPECT_FALSE(doc.IsLoading());
  EXPECT_EQ(changes, 0) << "reading a page is not a change";
  EXPECT_EQ(doc.UndoCount(), 0);
}

TEST(Document, AlignAndCentreTable) {
  struct Case {
    const char* what;
    void (TdtpDocument::*command)();
    float x0, x1; // lefts of the two shapes before (widths 10 and 20)
    float e0, e1; // lefts after
  };
  const Case cases[] = {
      {"lefts", &TdtpDocument::AlignLefts, 30, 50, 30, 30},
      {"lefts beyond the page go to the page width", &TdtpDocument::AlignLefts, 300, 400, 210, 210},
      {"rights", &TdtpDocument::AlignRights, 30, 50, 60, 50},
      {"rights left of the page go to 0", &TdtpDocument::AlignRights, -100, -200, -10, -20},
      {"centre horizontally", &TdtpDocument::CenterHorizontally, 30, 50, 45, 40},
  };
  for (const Case& c : cases) {
    TdtpDocument doc;
    doc.AddShape(Box(c.x0, 5, 10, 10));
    doc.AddShape(Box(c.x1, 50, 20, 10));
    doc.AddShape(Box(1, 1, 1, 1)); // not selected: stays
    doc.Shapes(0)->SetSelected(true);
    doc.Shapes(1)->SetSelected(true);
    (doc.*c.command)();
    EXPECT_FLOAT_EQ(doc.Shapes(0)->BoxLeft(), c.e0) << c.what;
    EXPECT_FLOAT_EQ(doc.Shapes(1)->BoxLeft(), c.e1) << c.what;
    EXPECT_FLOAT_EQ(doc.Shapes(2)->BoxLeft(), 1) << c.what;
    EXPECT_FLOAT_EQ(doc.Shapes(1)->DocWidth(), 20) << "moved, not resized";
  }
  TdtpDocument doc;
  doc.AddShape(Box(0, 400, 10, 10));
  doc.AddShape(Box(0, 500, 10, 30));
  doc.Shapes(0)->SetSelected(true);
  doc.Shapes(1)->SetSelected(true);
  doc.AlignTops();
  EXPECT_FLOAT_EQ(doc.Shapes(0)->DocTop(), 297);
  doc.AlignBottoms();
  EXPECT_FLOAT_EQ(doc.Shapes(0)->BoxBottom(), 327);
  doc.CenterVertically();
  EXPECT_FLOAT_EQ(doc.Shapes(0)->BoxTop() + 5, doc.Shapes(1)->BoxTop() + 15);
}

TEST(Document, ZOrderCommands) {
  struct Case {
    const char* what;
    void (TdtpDocument::*command)();
    std::vector<int> selected;
    std::vector<int> order; // tags bottom to top afterwards
  };
  const Case cases[] = {
      {"send backward moves a block down by one",
       &TdtpDocument::SendBackward,
       {2, 3},
       {0, 2, 3, 1, 4}},
      {"send backward at the bottom", &TdtpDocument::SendBackward, {0, 2}, {0, 2, 1, 3, 4}},
      {"bring forward", &TdtpDocument::BringForward, {1, 2}, {0, 3, 1, 2, 4}},
      {"bring forward at the top", &TdtpDocument::BringForward, {4, 2}, {0, 1, 3, 2, 4}},
      {"send to back keeps the relative order", &TdtpDocument::SendToBack, {1, 3}, {1, 3, 0, 2, 4}},
      {"bring to front keeps the relative order",
       &TdtpDocument::BringToFront,
       {0, 2},
       {1, 3, 4, 0, 2}},
  };
  for (const Case& c : cases) {
    TdtpDocument doc;
    for (int i = 0; i < 5; ++i) {
      auto s = Box(0, 0, 1, 1);
      s->SetTag(i);
      doc.AddShape(std::move(s));
    }
    for (int i : c.selected) doc.Shapes(i)->SetSelected(true);
    (doc.*c.command)();
    std::vector<int> order;
    for (int i = 0; i < 5; ++i) order.push_back(doc.Shapes(i)->Tag());
    EXPECT_EQ(order, c.order) << c.what;
    EXPECT_EQ(doc.SelectedCount(), static_cast<int>(c.selected.size())) << c.what;
  }
}

TEST(Document, UpdateBracketBatchesNotifications) {
  TdtpDocument doc;
  doc.AddShape(Box(0, 0, 10, 10));
  std::vector<TdtpShape*> changed;
  int selection = 0;
  doc.OnShapeChanged = [&](TdtpDocument*, TdtpShape* s) { changed.push_back(s); };
  doc.OnSelectionChanged = [&](TdtpDocument*) { ++selection; };
  doc.SetModified(false);
  doc.BeginUpdate();
  doc.Shapes(0)->SetName("a");
  doc.Shapes(0)->SetDocLeft(3);
  doc.Shapes(0)->SetMasterAlpha(9);
  doc.Shapes(0)->SetSelected(true);
  EXPECT_TRUE(changed.empty());
  EXPECT_EQ(selection, 0);
  doc.EndUpdate();
  EXPECT_EQ(changed, std::vector<TdtpShape*>{nullptr});
  EXPECT_EQ(selection, 1);
  EXPECT_TRUE(doc.Modified());
}

TEST(Document, UnbalancedBracketsRaise) {
  TdtpDocument doc;
  EXPECT_EQ(MessageOf([&] { doc.EndUpdate(); }), "EndUpdate called more often than BeginUpdate");
  EXPECT_EQ(doc.UpdateCount(), -1);
  doc.BeginUpdate();
  EXPECT_EQ(MessageOf([&] { doc.EndUndo(); }), "EndUndo called more often than BeginUndo");
  EXPECT_EQ(MessageOf([&] { doc.EndPrinting(); }),
            "EndPrinting called more often than BeginPrinting");
}

TEST(Document, GuardsCloseWhenTheWorkThrows) {
  TdtpDocument doc;
  try {
    TUndoGuard undo(doc);
    TPrintingGuard printing(doc);
    throw std::runtime_error("boom");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(doc.UpdateCount(), 0);
  EXPECT_FALSE(doc.IsPrinting());
  doc.AddShape(Box(0, 0, 1, 1));
  EXPECT_FALSE(doc.UndoItems(0)->Grouped) << "the group was closed";
}

TEST(Document, BusyGuardRefusesEditingCommands) {
  TFakeHost host; // outlives the document, which detaches from it when destroyed
  TdtpDocument doc;
  doc.SetHost(&host);
  TBusyGuard busy(doc, crHourGlass);
  EXPECT_TRUE(doc.IsBusy());
  EXPECT_EQ(host.Cursors.back(), crHourGlass);
  for (void (TdtpDocument::*cmd)() :
       {&TdtpDocument::AlignLefts, &TdtpDocument::SendToBack, &TdtpDocument::BringForward})
    EXPECT_EQ(MessageOf([&] { (doc.*cmd)(); }), "Threading error (working already)");
  EXPECT_EQ(MessageOf([&] { doc.Undo(); }), "Threading error (working already)");
}

TEST(Document, ModeAndReadOnly) {
  TdtpDocument doc;
  doc.AddShape(Box(0, 0, 1, 1));
  doc.Shapes(0)->SetSelected(true);
  EXPECT_EQ(doc.Mode(), vmEdit);
  doc.SetReadOnly(true);
  EXPECT_EQ(doc.Mode(), vmBrowse);
  EXPECT_FALSE(doc.HasSelection());
  doc.SetMode(vmEdit);
  EXPECT_EQ(doc.Mode(), vmBrowse);
  doc.SetMode(vmZoom);
  EXPECT_EQ(doc.Mode(), vmZoom);
  doc.SetReadOnly(false);
  doc.SetMode(vmEdit);
  EXPECT_EQ(doc.Mode(), vmEdit);
}

TEST(Document, SelectionAndFocus) {
  TdtpDocument doc;
  for (int i = 0; i < 3; ++i) doc.AddShape(Box(0, 0, 1, 1));
  std::vector<TdtpShape*> focus;
  doc.OnFocusShape = [&](TdtpDocument*, TdtpShape* s) { focus.push_back(s); };
  doc.ToggleSelection(doc.Shapes(2));
  doc.ToggleSelection(doc.Shapes(0));
  EXPECT_EQ(doc.SelectedCount(), 2);
  EXPECT_EQ(doc.SelectedShapes(0), doc.Shapes(0));
  EXPECT_EQ(doc.SelectedShapes(1), doc.Shapes(2));
  EXPECT_EQ(doc.SelectedShapes(2), nullptr);
  EXPECT_EQ(doc.FocusedShape(), doc.Shapes(0));
  EXPECT_EQ(focus.size(), 2u);
  doc.DeleteShape(0);
  EXPECT_EQ(doc.FocusedShape(), nullptr);
  doc.ClearSelection();
  EXPECT_EQ(doc.SelectedCount(), 0);
}

TEST(Document, DefaultPageSettingsFollowTheDocument) {
  TdtpDocument doc;
  doc.AddPage();
  TdtpPage* own = doc.Pages(1);
  own->SetIsDefaultPage(false);
  doc.SetDefaultPageWidth(105);
  doc.SetDefaultPageHeight(148);
  EXPECT_EQ(doc.Pages(0)->DocWidth(), 105);
  EXPECT_EQ(doc.Pages(0)->DocHeight(), 148);
  EXPECT_EQ(own->DocWidth(), 210);
  doc.Pages(0)->SetThumbnail(nullptr);
  own->SetThumbnail(nullptr);
  doc.SetDefaultPageColor(0x00FF00);
  EXPECT_TRUE(doc.Pages(0)->ThumbnailDirty());
  EXPECT_FALSE(own->ThumbnailDirty());
  doc.SetThumbnailWidth(100);
  EXPECT_TRUE(own->ThumbnailDirty());
}

TEST(Document, ScreenConversionsAndScrollRange) {
  TdtpDocument doc;
  doc.SetScreenDpm(4);
  doc.SetPageWidth(105);
  doc.SetPageHeight(148);
  EXPECT_FLOAT_EQ(doc.VirtualWidth(), 440);
  EXPECT_FLOAT_EQ(doc.VirtualHeight(), 612);
  const TFloatPoint origin = doc.DocToScreen(doc.CurrentPage()->LocalToDoc({0, 0}));
  EXPECT_FLOAT_EQ(origin.X, 10);
  EXPECT_FLOAT_EQ(origin.Y, 10);
  doc.SetWindowLeft(5);
  const TFloatPoint p = doc.ScreenToDoc(doc.DocToScreen({12.5f, -3}));
  EXPECT_FLOAT_EQ(p.X, 12.5f);
  EXPECT_FLOAT_EQ(p.Y, -3);
  doc.SetViewStyle(vsNormal);
  EXPECT_FLOAT_EQ(doc.VirtualWidth(), 420);
  EXPECT_EQ(doc.CurrentPage()->DocLeft(), 0);
}

TEST(Document, PrinterResolutionFollowsQuality) {
  TdtpDocument doc;
  const std::pair<TPrintQualityType, float> rows[] = {
      {pqLow, 5.905512f}, {pqMedium, 11.811024f}, {pqHigh, 23.622047f}, {pqDevice, 0}};
  for (const auto& [q, dpm] : rows) {
    doc.SetPrintQuality(q);
    EXPECT_FLOAT_EQ(doc.PrinterDpm(), dpm);
  }
}

TEST(DocumentAnimate, ThumbnailsRegenerateAfterTheQuietInterval) {
  TFakeHost host; // outlives the document, which detaches from it when destroyed
  TdtpDocument doc;
  doc.SetHost(&host);
  ASSERT_EQ(host.Timers.size(), 1u);
  doc.SetAutoPageUpdate(true);
  doc.SetPageCount(2);
  int animate = 0;
  std::vector<TdtpPage*> pages;
  doc.OnAnimate = [&](TdtpDocument*) { ++animate; };
  doc.OnPageChanged = [&](TdtpDocument*, TdtpPage* p) { pages.push_back(p); };
  struct TTicking : TdtpShape {
    int ticks = 0;
    void Animate() override { ++ticks; }
  };
  auto ticking = std::make_unique<TTicking>();
  TTicking* t = ticking.get();
  doc.AddShape(std::move(ticking));

  host.Now = 1000;
  doc.SetModified(true); // the last change happens now
  host.Now = 2500;
  host.FireTimers(50);
  EXPECT_TRUE(pages.empty()) << "1.5 s of quiet is not enough";
  EXPECT_EQ(animate, 1);
  EXPECT_EQ(t->ticks, 1);
  host.Now = 3000;
  host.FireTimers(50);
  // Only page 1 changed (it got a shape); the untouched new page stays as it is.
  EXPECT_EQ(pages, std::vector<TdtpPage*>{doc.Pages(0)});
  EXPECT_EQ(host.PendingMessageRuns, 1);
  EXPECT_FALSE(doc.Pages(0)->ThumbnailDirty());
  pages.clear();
  host.FireTimers(50);
  EXPECT_TRUE(pages.empty()) << "nothing dirty any more";
  doc.SetHost(nullptr);
  EXPECT_TRUE(host.Timers.empty());
}

TEST(DocumentUndo, ExecuteCommandOnAVanishedShape) {
  TFakeHost host; // outlives the document, which detaches from it when destroyed
  TdtpDocument doc;
  doc.SetHost(&host);
  doc.AddShape(Box(0, 0, 10, 10));
  doc.Shapes(0)->SetDocLeft(5);
  const TdtpCommand& cmd = *doc.UndoItems(doc.UndoCount() - 1);
  TdtpCommand copy(cmd.Kind, cmd.ID, cmd.Name, cmd.Value);
  doc.DeleteShape(0);
  EXPECT_FALSE(doc.ExecuteCommand(copy));
  EXPECT_EQ(host.Messages, std::vector<std::string>{"Unable to execute Undo"});
  EXPECT_FALSE(doc.ExecuteCommand(TdtpCommand(ckProperty, 0, "DocLeft", "1")));
  EXPECT_EQ(host.Messages.size(), 1u) << "ID 0 addresses nobody, silently";
}

TEST(DocumentUndo, DuplicateRecordsAreDropped) {
  TdtpDocument doc;
  doc.AddShape(Box(0, 0, 10, 10));
  TdtpShape* s = doc.Shapes(0);
  doc.ClearUndo();
  const int32_t id = s->ID();
  doc.AddUndo(std::make_unique<TdtpCommand>(ckProperty, id, "DocLeft", "1"));
  doc.AddUndo(std::make_unique<TdtpCommand>(ckProperty, id, "DocLeft", "1"));
  EXPECT_EQ(doc.UndoCount(), 1);
  doc.AddUndo(std::make_unique<TdtpCommand>(ckProperty, id, "DocLeft", "2"));
  EXPECT_EQ(doc.UndoCount(), 2);
  // Not while the redo list holds records: the record is kept and the redo list emptied.
  ASSERT_TRUE(doc.Undo());
  ASSERT_GT(doc.RedoCount(), 0);
  doc.AddUndo(std::make_unique<TdtpCommand>(ckProperty, id, "DocLeft", "1"));
  EXPECT_EQ(doc.UndoCount(), 2);
  EXPECT_EQ(doc.RedoCount(), 0);
}

TEST(DocumentUndo, GroupedFlagsInsideABracket) {
  TdtpDocument doc;
  doc.AddShape(Box(0, 0, 10, 10));
  doc.ClearUndo();
  {
    TUndoGuard group(doc);
    doc.Shapes(0)->SetName("ignored"); // names are not recorded
    doc.Shapes(0)->SetMasterAlpha(1);
    doc.Shapes(0)->SetDocAngle(10);
    doc.Shapes(0)->SetDocLeft(3);
  }
  ASSERT_EQ(doc.UndoCount(), 3);
  EXPECT_FALSE(doc.UndoItems(0)->Grouped);
  EXPECT_TRUE(doc.UndoItems(1)->Grouped);
  EXPECT_TRUE(doc.UndoItems(2)->Grouped);
  doc.Shapes(0)->SetMasterAlpha(2);
  EXPECT_FALSE(doc.UndoItems(3)->Grouped);
}

TEST(DocumentUndo, TenMegabyteBudgetDropsTheOldest) {
  TdtpDocument doc;
  const std::string big(1 << 20, 'x'); // each record: 1 MiB value + 4 + name
  for (int i = 0; i < 12; ++i)
    doc.AddUndo(std::make_unique<TdtpCommand>(ckProperty, 1, "N" + std::to_string(i), big));
  EXPECT_LE(doc.UndoSize(), kUndoBudget);
  EXPECT_EQ(doc.UndoCount(), 9);
  EXPECT_EQ(doc.UndoItems(0)->Name, "N3");
  int64_t sum = 0;
  for (int i = 0; i < doc.UndoCount(); ++i) sum += doc.UndoItems(i)->Size();
  EXPECT_EQ(sum, doc.UndoSize());
}

TEST(DocumentUndo, DisabledAndSwitchedOff) {
  TdtpDocument doc;
  doc.AddShape(Box(0, 0, 10, 10));
  {
    TDisableUndoGuard off(doc);
    EXPECT_FALSE(doc.UndoEnabled());
    doc.Shapes(0)->SetDocLeft(50);
  }
  EXPECT_EQ(doc.UndoCount(), 1); // only the AddShape
  doc.SetUndoEnabled(false);
  EXPECT_EQ(doc.UndoCount(), 0);
  doc.Shapes(0)->SetDocLeft(60);
  EXPECT_EQ(doc.UndoCount(), 0);
}

} // namespace
} // namespace dtp
