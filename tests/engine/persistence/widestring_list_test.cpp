#include <gtest/gtest.h>

#include "engine/persistence/widestring_list.h"
#include "platform/core/errors.h"

namespace dtp {
namespace {

TEST(WidestringList, SplittingTable) {
  struct Case {
    std::u16string text;
    std::vector<std::u16string> lines;
  };
  const Case cases[] = {
      {u"", {}},
      {u"a", {u"a"}},
      {u"a\r\nb", {u"a", u"b"}},
      {u"a\rb\nc", {u"a", u"b", u"c"}},
      {u"a\r\n", {u"a"}},
      {u"a\n\nb", {u"a", u"", u"b"}},
      {u"\r\n", {u""}},
      {u"a\n\r b", {u"a", u"", u" b"}},
      {u"Gr\u00FC\u00DFe \U0001F600", {u"Gr\u00FC\u00DFe \U0001F600"}},
  };
  for (const Case& c : cases) {
    TvqWidestringList list;
    list.SetText(c.text);
    ASSERT_EQ(list.Count(), static_cast<int>(c.lines.size()));
    for (int i = 0; i < list.Count(); ++i)
      EXPECT_EQ(list.Strings(i), c.lines[static_cast<size_t>(i)]);
  }
}

TEST(WidestringList, JoiningAndBounds) {
  TvqWidestringList list;
  EXPECT_EQ(list.Add(u"eins"), 0);
  EXPECT_EQ(list.Add(u"zwei"), 1);
  EXPECT_EQ(list.Text(), u"eins\r\nzwei");
  for (int bad : {-1, 2}) {
    try {
      list.Strings(bad);
      ADD_FAILURE() << bad;
    } catch (const EDtpError& e) {
      EXPECT_STREQ(e.what(), "List index out of bounds");
    }
  }
  TvqWidestringList other;
  other.Assign(std::vector<std::string>{"Grüße", ""});
  EXPECT_EQ(other.Strings(0), u"Gr\u00FC\u00DFe");
  list.AddStrings(list);
  EXPECT_EQ(list.Count(), 4);
  other.Assign(list);
  EXPECT_EQ(other.Text(), list.Text());
}

TEST(WidestringList, OneChangingAndOneChangePerOperation) {
  TvqWidestringList list;
  int changing = 0, change = 0;
  list.OnChanging = [&](TvqWidestringList*) { ++changing; };
  list.OnChange = [&](TvqWidestringList*) { ++change; };
  list.SetText(u"a\r\nb\r\nc");
  list.Add(u"d");
  EXPECT_EQ(changing, 2);
  EXPECT_EQ(change, 2);
  list.BeginUpdate();
  list.Add(u"e");
  list.SetText(u"x");
  EXPECT_EQ(change, 2);
  list.EndUpdate();
  EXPECT_EQ(changing, 3);
  EXPECT_EQ(change, 3);
}

} // namespace
} // namespace dtp
