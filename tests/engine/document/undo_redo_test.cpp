#include <gtest/gtest.h>

#include "engine/document/document.h"
#include "engine/document/page.h"
#include "platform/xml/xml.h"

namespace dtp {
namespace {

std::string PageXml(TdtpDocument& doc) {
  xml::TXmlDocument x;
  doc.CurrentPage()->SaveToXml(x.CreateRoot("Page"));
  return x.WriteIndented();
}

std::vector<int32_t> Ids(TdtpDocument& doc) {
  std::vector<int32_t> ids;
  for (int i = 0; i < doc.ShapeCount(); ++i) ids.push_back(doc.Shapes(i)->ID());
  return ids;
}

class UndoRedo : public ::testing::Test {
protected:
  void SetUp() override {
    for (int i = 0; i < 3; ++i) {
      auto s = std::make_unique<TdtpShape>();
      s->SetBoundsAndAngle(10.0f + 30 * i, 20, 25, 15, 5.0f * i);
      s->SetName("shape" + std::to_string(i));
      auto child = std::make_unique<TdtpShape>();
      child->SetBounds(1, 2, 3, 4);
      s->AddShape(std::move(child));
      doc.AddShape(std::move(s));
    }
    doc.ClearUndo();
  }
  // Three user actions: a property change, a drag that moves, resizes and rotates, a delete.
  void Edit() {
    doc.Shapes(0)->SetMasterAlpha(128);
    TdtpShape* s = doc.Shapes(1);
    s->UpdateHandles();
    s->DragPreview({4, 6}, hkBottomRight, false);
    s->SetDragHandle(s->HandlePainter()->IndexOfKind(hkRotate));
    s->ApplyDrag();
    s->DragPreview({0, 0}, hkBody, false);
    s->DragPreview({-2, 1}, hkTopLeft, false);
    {
      TUndoGuard drag(doc); // one drag: resize, then turn, recorded as one group
      s->ApplyDrag();
      s->RotateAroundCentre(33);
    }
    doc.DeleteShape(2);
  }
  TdtpDocument doc;
};

TEST_F(UndoRedo, ThreeStepsBackAndForthRestoreExactly) {
  const std::string original = PageXml(doc);
  const std::vector<int32_t> originalIds = Ids(doc);
  // The first drag above is its own group; count the groups as the user made them.
  Edit();
  const std::string edited = PageXml(doc);
  const std::vector<int32_t> editedIds = Ids(doc);
  ASSERT_NE(original, edited);

  int undos = 0;
  while (doc.CanUndo()) {
    ASSERT_TRUE(doc.Undo());
    ++undos;
  }
  EXPECT_EQ(undos, 4); // alpha, first drag, grouped drag, delete
  EXPECT_EQ(PageXml(doc), original);
  EXPECT_EQ(Ids(doc), originalIds) << "the deleted shape came back with its ID";
  EXPECT_EQ(doc.RedoCount() > 0, true);

  for (int i = 0; i < undos; ++i) ASSERT_TRUE(doc.Redo());
  EXPECT_FALSE(doc.CanRedo());
  EXPECT_EQ(PageXml(doc), edited);
  EXPECT_EQ(Ids(doc), editedIds);

  // And once more back: redoing put the records on the undo list again.
  for (int i = 0; i < undos; ++i) ASSERT_TRUE(doc.Undo());
  EXPECT_EQ(PageXml(doc), original);
}

TEST_F(UndoRedo, StepByStepStates) {
  std::vector<std::string> states{PageXml(doc)};
  doc.Shapes(0)->SetMasterAlpha(128);
  states.push_back(PageXml(doc));
  doc.Shapes(1)->SetBoundsAndAngle(50, 60, 70, 80, 90);
  states.push_back(PageXml(doc));
  doc.DeleteShape(0);
  states.push_back(PageXml(doc));
  for (int i = 3; i > 0; --i) {
    ASSERT_TRUE(doc.Undo());
    EXPECT_EQ(PageXml(doc), states[static_cast<size_t>(i - 1)]) << "undo to state " << i - 1;
  }
  EXPECT_FALSE(doc.Undo());
  for (int i = 1; i <= 3; ++i) {
    ASSERT_TRUE(doc.Redo());
    EXPECT_EQ(PageXml(doc), states[static_cast<size_t>(i)]) << "redo to state " << i;
  }
  EXPECT_FALSE(doc.Redo());
}

TEST_F(UndoRedo, ANewChangeAfterUndoEmptiesTheRedoList) {
  doc.Shapes(0)->SetDocLeft(100);
  doc.Shapes(0)->SetDocLeft(120);
  ASSERT_TRUE(doc.Undo());
  EXPECT_TRUE(doc.CanRedo());
  doc.Shapes(1)->SetDocTop(5);
  EXPECT_FALSE(doc.CanRedo());
  EXPECT_FLOAT_EQ(doc.Shapes(0)->DocLeft(), 100);
}

TEST_F(UndoRedo, UndoingAnAddRemovesTheShapeAndRedoBringsItBack) {
  auto s = std::make_unique<TdtpShape>();
  s->SetBounds(5, 5, 5, 5);
  s->SetName("new");
  doc.AddShape(std::move(s));
  ASSERT_EQ(doc.ShapeCount(), 4);
  const int32_t id = doc.Shapes(3)->ID();
  ASSERT_TRUE(doc.Undo());
  EXPECT_EQ(doc.ShapeCount(), 3);
  ASSERT_TRUE(doc.Redo());
  ASSERT_EQ(doc.ShapeCount(), 4);
  EXPECT_EQ(doc.Shapes(3)->Name(), "new");
  EXPECT_EQ(doc.Shapes(3)->ID(), id);
}

} // namespace
} // namespace dtp
