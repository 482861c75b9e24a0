#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/core/errors.h"
#include "platform/core/text.h"

namespace dtp {
namespace {

// ---------------------------------------------------------------------------------------
// UTF-8 / UTF-16

TEST(Utf, ValidTextConvertsBothWays) {
  struct Case {
    std::string utf8;
    std::u16string utf16;
  };
  const std::vector<Case> cases = {
      {"", u""},
      {"Card 1", u"Card 1"},
      {"Gr\xC3\xBC\xC3\x9F"
       "e",
       u"Gr\u00FC\u00DFe"},
      {"\xE2\x82\xAC 5", u"\u20AC 5"},
      {"\xEF\xBF\xBF", u"\uFFFF"},
      {"\xF0\x9F\x98\x80", u"\xD83D\xDE00"},               // U+1F600
      {"a\xF4\x8F\xBF\xBFz", u"a\xDBFF\xDFFFz"},           // U+10FFFF
      {"\xF0\x90\x80\x80\xC2\x80", u"\xD800\xDC00\u0080"}, // U+10000, U+0080
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << c.utf8;
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8) << c.utf8;
  }
}

TEST(Utf, InvalidUtf8BecomesReplacementCharacters) {
  struct Case {
    const char* name;
    std::string utf8;
    std::u16string utf16;
  };
  const std::vector<Case> cases = {
      {"lone continuation", "a\x80z", u"a\uFFFDz"},
      {"invalid lead", "\xFF\xFE", u"\uFFFD\uFFFD"},
      {"truncated at end", "a\xE2\x82", u"a\uFFFD"},
      {"truncated 4-byte at end", "\xF0\x9F\x98", u"\uFFFD"},
      {"lead alone at end", "ab\xC3", u"ab\uFFFD"},
      {"cut by ASCII",
       "x\xE2"
       "A",
       u"x\uFFFDA"},
      {"cut by ASCII after continuation", "\xE2\x82X\xF0\x9F\x98Y", u"\uFFFDX\uFFFDY"},
      {"cut by a new sequence", "\xE2\xC3\xBC", u"\uFFFD\u00FC"},
      {"overlong", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // An exactly sized heap copy, so that a read past the end is caught by the sanitizer.
    const auto buffer = std::make_unique<char[]>(c.utf8.size());
    std::copy(c.utf8.begin(), c.utf8.end(), buffer.get());
    EXPECT_EQ(Utf8ToUtf16(std::string_view(buffer.get(), c.utf8.size())), c.utf16);
  }
}

TEST(Utf, LoneSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(Utf16ToUtf8(u"a\xD800"), "a\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(u"\xDC00z"), "\xEF\xBF\xBDz");
  EXPECT_EQ(Utf16ToUtf8(u"\xD800\xD800\xDC00"), "\xEF\xBF\xBD\xF0\x90\x80\x80");
}

// ---------------------------------------------------------------------------------------
// Case folding

TEST(SameTextTest, FoldsAsciiLettersOnly) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  };
  const std::vector<Case> cases = {
      {"DocWidth", "docwidth", true},
      {"DOCWIDTH", "DocWidth", true},
      {"", "", true},
      {"Page1", "PAGE1", true},
      {"abc", "abd", false},
      {"abc", "abcd", false},
      {"abc", "", false},
      {"[", "{", false},
      {"@", "`", false},
      {"\xC3\x84", "\xC3\xA4", false}, // Ä and ä: not ASCII
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SameText(c.a, c.b), c.same) << c.a << " / " << c.b;
    EXPECT_EQ(SameText(c.b, c.a), c.same) << c.b << " / " << c.a;
  }
  EXPECT_EQ(LowerCase("DocWidth [Z] \xC3\x84"), "docwidth [z] \xC3\x84");
}

// ---------------------------------------------------------------------------------------
// Messages

TEST(FormatMessageTest, FillsPlaceholdersLeftToRight) {
  struct Case {
    std::string actual;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {FormatMessage("Cannot find file \"%s\"", {"a.wqx"}), "Cannot find file \"a.wqx\""},
      {FormatMessage("%s of %d: %s", {"1", "2", "x"}), "1 of 2: x"},
      {FormatMessage("100%% %s", {"done"}), "100% done"},
      {FormatMessage("%s and %s", {"one"}), "one and %s"},
      {FormatMessage("%s", {"a", "b"}), "a"},
      {FormatMessage("no args %", {}), "no args %"},
      {FormatMessage("%x %s", {"v"}), "%x v"},
      {FormatMessage("%s", {"%s"}), "%s"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected);
}

} // namespace
} // namespace dtp
