#include <gtest/gtest.h>

#include "engine/document/document.h"
#include "engine/shapes/shape.h"
#include "platform/core/errors.h"
#include "tests/support/memory_storage.h"

namespace dtp {
namespace {

using test::TMemoryStorage;

// A shape that uses one stored picture.
class TPictureShape : public TdtpShape {
public:
  static std::string StaticClassName() { return "TTestPictureShape"; }
  std::string ClassName() const override { return StaticClassName(); }
  void GetResourceNames(std::vector<std::string>& list) const override {
    list.push_back("TMP0000001.png");
    TdtpShape::GetResourceNames(list);
  }
};

struct Recorder {
  std::vector<TdtpShape*> changed;
  int selection = 0;
  std::vector<TdtpShape*> destroyed;
  void Attach(TdtpDocument& doc) {
    doc.OnShapeChanged = [this](TdtpDocument*, TdtpShape* s) { changed.push_back(s); };
    doc.OnSelectionChanged = [this](TdtpDocument*) { ++selection; };
    doc.OnShapeDestroy = [this](TdtpDocument*, TdtpShape* s) { destroyed.push_back(s); };
  }
};

TEST(ShapeNotify, ChangeFiresOnceOutsideAndAtTheEndOfABracket) {
  TdtpDocument doc;
  Recorder rec;
  rec.Attach(doc);
  TdtpShape s;
  s.SetDocument(&doc);
  int onChange = 0;
  s.OnChange = [&](TdtpShape*) { ++onChange; };

  s.SetName("a");
  EXPECT_EQ(onChange, 1);
  EXPECT_EQ(rec.changed.size(), 1u);

  s.BeginUpdate();
  s.SetName("b");
  s.SetName("c");
  s.SetMasterAlpha(3);
  EXPECT_EQ(onChange, 1);
  EXPECT_TRUE(s.ChangePending());
  s.EndUpdate();
  EXPECT_EQ(onChange, 2);
  EXPECT_FALSE(s.ChangePending());
  EXPECT_EQ(rec.changed.back(), &s);
}

TEST(ShapeNotify, UnbalancedEndUpdateRaises) {
  TdtpShape s;
  try {
    s.EndUpdate();
    FAIL() << "no exception";
  } catch (const EDtpError& e) {
    EXPECT_STREQ(e.what(), "EndUpdate called more often than BeginUpdate");
  }
  EXPECT_EQ(s.UpdateCount(), -1);
}

TEST(ShapeNotify, ChangesWhileTheDocumentLoadsAreSilent) {
  TdtpDocument doc;
  Recorder rec;
  rec.Attach(doc);
  TdtpShape s;
  s.SetDocument(&doc);
  doc.BeginLoading();
  s.SetName("x");
  doc.EndLoading();
  EXPECT_TRUE(rec.changed.empty());
  EXPECT_FALSE(s.Modified());
}

TEST(ShapeNotify, ModifiedFlagRisesToTheRootAndClearsDownwards) {
  TdtpDocument doc;
  TdtpShape root;
  root.SetDocument(&doc);
  root.AddShape(std::make_unique<TdtpShape>());
  TdtpShape* child = root.Shapes(0);
  child->AddShape(std::make_unique<TdtpShape>());
  TdtpShape* grandchild = child->Shapes(0);
  root.SetModified(false);
  doc.SetModified(false);

  grandchild->SetName("g");
  EXPECT_TRUE(grandchild->Modified());
  EXPECT_TRUE(child->Modified());
  EXPECT_TRUE(root.Modified());
  EXPECT_TRUE(doc.Modified());

  root.SetModified(false);
  EXPECT_FALSE(child->Modified());
  EXPECT_FALSE(grandchild->Modified());
}

TEST(ShapeNotify, SelectionRespectsAllowSelectAndVisibility) {
  TdtpDocument doc;
  Recorder rec;
  rec.Attach(doc);
  TdtpShape s;
  s.SetDocument(&doc);
  s.SetSelected(true);
  EXPECT_TRUE(s.Selected());
  EXPECT_EQ(rec.selection, 1);
  s.SetVisible(false);
  EXPECT_FALSE(s.Selected());
  EXPECT_EQ(rec.selection, 2);
  s.SetAllowSelect(false);
  s.SetSelected(true);
  EXPECT_FALSE(s.Selected());
}

TEST(ShapeDocumentLink, AttachingGivesFreshIdsToTheWholeSubtree) {
  TdtpDocument doc;
  auto root = std::make_unique<TdtpShape>();
  root->AddShape(std::make_unique<TdtpShape>());
  root->Shapes(0)->AddShape(std::make_unique<TdtpShape>());
  EXPECT_EQ(root->ID(), 0);
  TdtpShape holder;
  holder.SetDocument(&doc);
  holder.AddShape(std::move(root));
  TdtpShape* r = holder.Shapes(0);
  EXPECT_EQ(r->Document(), &doc);
  EXPECT_EQ(r->Shapes(0)->Shapes(0)->Document(), &doc);
  EXPECT_NE(r->ID(), 0);
  EXPECT_NE(r->ID(), r->Shapes(0)->ID());
  EXPECT_NE(r->Shapes(0)->ID(), r->Shapes(0)->Shapes(0)->ID());
}

TEST(ShapeUndo, WithoutADocumentNothingIsRecorded) {
  TdtpShape s;
  s.SetBounds(1, 2, 3, 4);
  s.AddShape(std::make_unique<TdtpShape>());
  s.DeleteShape(0);
  EXPECT_EQ(s.ShapeCount(), 0);
}

TEST(ShapeUndo, PropertySettersRecordTheOldValue) {
  TdtpDocument doc;
  TdtpShape s;
  s.SetDocument(&doc);
  s.SetMasterAlpha(128);
  s.SetDocAngle(400);
  ASSERT_EQ(doc.UndoCount(), 2);
  EXPECT_EQ(doc.UndoItems(0)->Name, "MasterAlpha");
  EXPECT_EQ(doc.UndoItems(0)->Value, "255");
  EXPECT_EQ(doc.UndoItems(0)->ID, s.ID());
  EXPECT_EQ(doc.UndoItems(1)->Name, "DocAngle");
  EXPECT_EQ(doc.UndoItems(1)->Value, "0");
  EXPECT_FLOAT_EQ(s.DocAngle(), 40);
}

TEST(ShapeUndo, SetBoundsAndAngleRecordsOneGroup) {
  TdtpDocument doc;
  TdtpShape s;
  s.SetDocument(&doc);
  s.SetBoundsAndAngle(1, 2, 3, 4, 5);
  ASSERT_EQ(doc.UndoCount(), 5);
  const char* names[] = {"DocLeft", "DocTop", "DocWidth", "DocHeight", "DocAngle"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(doc.UndoItems(i)->Name, names[i]);
    EXPECT_EQ(doc.UndoItems(i)->Value, "0");
    EXPECT_EQ(doc.UndoItems(i)->Grouped, i > 0) << i;
  }
}

TEST(ShapeUndo, ExecutingPropertyRecordsRestoresTheValues) {
  TdtpDocument doc;
  TdtpShape s;
  s.SetDocument(&doc);
  s.SetBoundsAndAngle(1.1f, 2.2f, 3.3f, 4.4f, 5.5f);
  s.SetBoundsAndAngle(10.123457f, -20.5f, 33.3333f, 0.001f, 359.99f);
  doc.DisableUndo();
  for (int i = doc.UndoCount() - 1; i >= 5; --i) EXPECT_TRUE(s.ExecuteCommand(*doc.UndoItems(i)));
  doc.EnableUndo();
  EXPECT_EQ(s.DocLeft(), 1.1f);
  EXPECT_EQ(s.DocTop(), 2.2f);
  EXPECT_EQ(s.DocWidth(), 3.3f);
  EXPECT_EQ(s.DocHeight(), 4.4f);
  EXPECT_EQ(s.DocAngle(), 5.5f);
}

TEST(ShapeUndo, SetPropertyByNameTable) {
  TdtpShape s;
  struct Case {
    const char* name;
    const char* text;
    bool known;
  };
  for (const Case c : {Case{"docleft", "1.5", true},
                       {"DOCTOP", "2,5", true},
                       {"DocWidth", "7", true},
                       {"DocHeight", "8", true},
                       {"DocAngle", "-90", true},
                       {"MasterAlpha", "128", true},
                       {"Unknown", "1", false}})
    EXPECT_EQ(s.SetPropertyByName(c.name, c.text), c.known) << c.name;
  EXPECT_FLOAT_EQ(s.DocLeft(), 1.5f);
  EXPECT_FLOAT_EQ(s.DocTop(), 2.5f);
  EXPECT_FLOAT_EQ(s.DocWidth(), 7);
  EXPECT_FLOAT_EQ(s.DocHeight(), 8);
  EXPECT_FLOAT_EQ(s.DocAngle(), 270);
  EXPECT_EQ(s.MasterAlpha(), 128);
  // Text that is not a number changes nothing.
  s.SetPropertyByName("DocLeft", "abc");
  EXPECT_FLOAT_EQ(s.DocLeft(), 1.5f);
}

TEST(ShapeUndo, AddingAChildRecordsItsIndexAndUndoDeletesIt) {
  TdtpDocument doc;
  TdtpShape parent;
  parent.SetDocument(&doc);
  parent.AddShape(std::make_unique<TdtpShape>());
  ASSERT_EQ(doc.UndoCount(), 1);
  const TdtpCommand& cmd = *doc.UndoItems(0);
  EXPECT_EQ(cmd.Kind, ckChildAdded);
  EXPECT_EQ(cmd.Value, "0");
  EXPECT_EQ(cmd.ID, parent.ID());
  EXPECT_TRUE(parent.ExecuteCommand(cmd));
  EXPECT_EQ(parent.ShapeCount(), 0);
}

TEST(ShapeUndo, DeletedChildComesBackAtItsIndexWithItsIdAndPictures) {
  TdtpDocument doc;
  TMemoryStorage storage;
  doc.SetStorage(&storage);
  storage.WriteStream("TMP0000001.png", {1, 2, 3});
  Recorder rec;
  rec.Attach(doc);

  TdtpShape parent;
  parent.SetDocument(&doc);
  for (int i = 0; i < 3; ++i) {
    auto c = i == 1 ? std::make_unique<TPictureShape>() : std::make_unique<TdtpShape>();
    c->SetBounds(10.0f * i, 5, 20, 10);
    c->SetName("child" + std::to_string(i));
    parent.AddShape(std::move(c));
  }
  RegisterShapeClass<TPictureShape>();
  TdtpShape* victim = parent.Shapes(1);
  const int32_t id = victim->ID();
  const Bytes before = victim->SaveToString();

  parent.DeleteShape(1);
  EXPECT_EQ(parent.ShapeCount(), 2);
  EXPECT_EQ(rec.destroyed.back(), victim);
  EXPECT_FALSE(storage.StreamExists("TMP0000001.png")); // now carried by the record
  const TdtpCommand& cmd = *doc.UndoItems(doc.UndoCount() - 1);
  ASSERT_EQ(cmd.Kind, ckChildRemoved);
  EXPECT_EQ(cmd.Name, "ClassName");
  EXPECT_EQ(cmd.Value, "TTestPictureShape");

  EXPECT_TRUE(parent.ExecuteCommand(cmd));
  ASSERT_EQ(parent.ShapeCount(), 3);
  TdtpShape* back = parent.Shapes(1);
  EXPECT_EQ(back->ClassName(), "TTestPictureShape");
  EXPECT_EQ(back->ID(), id);
  EXPECT_EQ(back->Name(), "child1");
  EXPECT_EQ(back->SaveToString(), before);
  ASSERT_TRUE(storage.StreamExists("TMP0000001.png"));
  EXPECT_EQ(storage.ReadStream("TMP0000001.png"), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(ShapeUndo, ARecordForSomeoneElseIsOfferedToTheChildren) {
  TdtpDocument doc;
  TdtpShape parent;
  parent.SetDocument(&doc);
  parent.AddShape(std::make_unique<TdtpShape>());
  TdtpShape* child = parent.Shapes(0);
  TdtpCommand cmd(ckProperty, child->ID(), "DocLeft", "42");
  EXPECT_TRUE(parent.ExecuteCommand(cmd));
  EXPECT_EQ(child->DocLeft(), 42);
  TdtpCommand nobody(ckProperty, 9999, "DocLeft", "1");
  EXPECT_FALSE(parent.ExecuteCommand(nobody));
}

TEST(ShapeUndo, StyleBooleanAndIntegerRecordsAsText) {
  TdtpDocument doc;
  TdtpShape s;
  s.SetDocument(&doc);
  s.RecordStyleUndo(ckProperty, "Style", 1 | 4 | 8);
  s.RecordBooleanUndo(ckProperty, "Flag", true);
  s.RecordIntegerUndo(ckProperty, "Count", -7);
  ASSERT_EQ(doc.UndoCount(), 3);
  EXPECT_EQ(doc.UndoItems(0)->Value, "BUS");
  EXPECT_EQ(doc.UndoItems(1)->Value, "True");
  EXPECT_EQ(doc.UndoItems(2)->Value, "-7");
}

TEST(ShapeChildren, ClearStopsAtTheFirstFixedChildFromTheTop) {
  TdtpShape s;
  for (int i = 0; i < 4; ++i) s.AddShape(std::make_unique<TdtpShape>());
  s.Shapes(1)->SetFixed(true);
  s.Clear();
  EXPECT_EQ(s.ShapeCount(), 2);
  EXPECT_TRUE(s.Shapes(1)->Fixed());
  s.ClearShapes();
  EXPECT_EQ(s.ShapeCount(), 0);
}

TEST(ShapeChildren, ExtractExchangeRemove) {
  TdtpDocument doc;
  TdtpShape s;
  s.SetDocument(&doc);
  for (int i = 0; i < 3; ++i) {
    auto c = std::make_unique<TdtpShape>();
    c->SetTag(i);
    s.AddShape(std::move(c));
  }
  s.ExchangeShapes(0, 2);
  EXPECT_EQ(s.Shapes(0)->Tag(), 2);
  EXPECT_EQ(s.Shapes(2)->Tag(), 0);
  auto out = s.ExtractShape(s.Shapes(1));
  ASSERT_TRUE(out);
  EXPECT_EQ(out->Tag(), 1);
  EXPECT_EQ(out->Parent(), nullptr);
  EXPECT_EQ(out->Document(), nullptr);
  EXPECT_EQ(s.ExtractShape(out.get()), nullptr);
  EXPECT_EQ(s.RemoveShape(s.Shapes(0)), 0);
  EXPECT_EQ(s.ShapeCount(), 1);
  EXPECT_EQ(s.Shapes(5), nullptr);
  EXPECT_EQ(s.Shapes(-1), nullptr);
  EXPECT_EQ(s.AddShape(nullptr), -1);
}

} // namespace
} // namespace dtp
