#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "platform/core/color.h"
#include "platform/core/errors.h"
#include "platform/xml/values.h"

namespace dtp::xml {
namespace {

Bytes B(std::string_view s) {
  return Bytes(s.begin(), s.end());
}

// ---------------------------------------------------------------------------------------
// Boolean

TEST(BoolText, WritesTrueAndFalse) {
  EXPECT_EQ(BoolToText(true), "True");
  EXPECT_EQ(BoolToText(false), "False");
}

TEST(BoolText, ReadsByFirstCharacterOrDefault) {
  struct Case {
    const char* text;
    bool def;
    bool expected;
  };
  const std::vector<Case> cases = {
      {"True", false, true}, {"true", false, true},   {"Yes", false, true},    {"T", false, true},
      {"y", false, true},    {"False", true, false},  {"false", true, false},  {"N", true, false},
      {"no", true, false},   {"f", true, false},      {" True ", false, true}, {"0", true, true},
      {"0", false, false},   {"1", false, false},     {"", true, true},        {"", false, false},
      {"Maybe", true, true}, {"Maybe", false, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TextToBool(c.text, c.def), c.expected) << '"' << c.text << "\" def " << c.def;
}

// ---------------------------------------------------------------------------------------
// Integer

TEST(IntText, WritesDecimal) {
  EXPECT_EQ(IntToText(0), "0");
  EXPECT_EQ(IntToText(-42), "-42");
  EXPECT_EQ(IntToText(std::numeric_limits<int64_t>::min()), "-9223372036854775808");
}

TEST(IntText, ReadsDecimalAndDollarHexOrDefault) {
  constexpr int64_t kDef = 77;
  struct Case {
    const char* text;
    int64_t expected;
  };
  const std::vector<Case> cases = {
      {"12", 12},
      {"-12", -12},
      {" 42 ", 42},
      {"$FF", 255},
      {"$ff", 255},
      {"$00FFFFFF", 0xFFFFFF},
      {"$FFFFFFFF", 0xFFFFFFFF},
      {"9223372036854775807", std::numeric_limits<int64_t>::max()},
      {"-9223372036854775808", std::numeric_limits<int64_t>::min()},
      {"9223372036854775808", kDef},
      {"12abc", kDef},
      {"abc", kDef},
      {"", kDef},
      {"$", kDef},
      {"-", kDef},
      {"$G1", kDef},
      {"1.5", kDef},
      {"--5", kDef},
  };
  for (const Case& c : cases) EXPECT_EQ(TextToInt(c.text, kDef), c.expected) << c.text;
}

// ---------------------------------------------------------------------------------------
// Float

TEST(FloatText, WritesCanonicalForm) {
  struct Case {
    double value;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {0.0, "0"},
      {-0.0, "0"},
      {105.0, "105"},
      {0.1, "0.1"},
      {0.5, "0.5"},
      {-2.5, "-2.5"},
      {1.5e-7, "1.5E-7"},
      {-1.5e-7, "-1.5E-7"},
      {1234567.0, "1.23457E6"},
      {123456.7, "123457"},
      {100000.0, "100000"},
      {1e6, "1E6"},
      {9999999.0, "1E7"}, // rounding to six digits carries into the exponent
      {3.14159265, "3.14159"},
      {0.001, "0.001"},
      {210.0 / 3.0, "70"},
  };
  for (const Case& c : cases) EXPECT_EQ(FloatToText(c.value), c.expected) << c.value;
}

TEST(FloatText, ReadsPointCommaAndExponentOrDefault) {
  constexpr double kDef = -99;
  struct Case {
    const char* text;
    double expected;
  };
  const std::vector<Case> cases = {
      {"1.5", 1.5},           {"1,5", 1.5},  {"-2.5", -2.5},  {" 7 ", 7},      {"1.5E-7", 1.5e-7},
      {"1.23457E6", 1234570}, {"1e3", 1000}, {"+0.25", 0.25}, {"12abc", kDef}, {"", kDef},
      {"abc", kDef},          {"nan", kDef}, {"inf", kDef},   {"1e999", kDef}, {"1.2.3", kDef},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(TextToFloat(c.text, kDef), c.expected) << c.text;
}

TEST(FloatText, WrittenTextReadsBackAndIsStable) {
  const std::vector<double> values = {105,   0.1,      -2.5,     1.5e-7,  1234567, 123456.7,
                                      1e-12, -3.25e20, 0.000123, 42.4242, 1e-5,    999999};
  for (const double v : values) {
    const std::string text = FloatToText(v);
    const double back = TextToFloat(text, std::nan(""));
    EXPECT_NEAR(back, v, std::abs(v) * 1e-5) << text;
    EXPECT_EQ(FloatToText(back), text) << v;
  }
}

TEST(FloatText, SingleTextReadsBackExactly) {
  const std::vector<float> values = {0.0f, 1.0f / 3.0f, -123.456f, 1e-30f, 3.4e38f, 16777217.0f};
  for (const float v : values) {
    const std::string text = SingleToText(v);
    EXPECT_EQ(static_cast<float>(TextToFloat(text, -1)), v) << text;
  }
}

// ---------------------------------------------------------------------------------------
// Hex and colour

TEST(HexText, DollarAndUpperCaseDigitsWithMinimumCount) {
  struct Case {
    uint32_t value;
    int minDigits;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {128, 2, "$80"},        {255, 2, "$FF"},
      {0, 1, "$0"},           {1, 4, "$0001"},
      {0xABC, 2, "$ABC"},     {0xDEADBEEF, 8, "$DEADBEEF"},
      {0xff, 8, "$000000FF"}, {0xFFFFFFFF, 2, "$FFFFFFFF"},
  };
  for (const Case& c : cases) EXPECT_EQ(HexToText(c.value, c.minDigits), c.expected);
}

TEST(ColorText, EightHexDigitsWithSystemColoursResolved) {
  struct Case {
    TColor color;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {clBlack, "$00000000"},   {clWhite, "$00FFFFFF"},      {0x00123456, "$00123456"},
      {clWindow, "$00FFFFFF"},  {clWindowText, "$00000000"}, {clHighlight, "$006A240A"},
      {clBtnFace, "$00C8D0D4"}, {clInfoBk, "$00E1FFFF"},
  };
  for (const Case& c : cases) EXPECT_EQ(ColorToText(c.color), c.expected) << std::hex << c.color;
  for (const Case& c : cases)
    EXPECT_EQ(TextToInt(ColorToText(c.color), -1), ColorToRGB(c.color)) << c.expected;
}

// ---------------------------------------------------------------------------------------
// Base64 and BinHex

struct BinaryCase {
  const char* bytes;
  const char* base64;
};

const std::vector<BinaryCase> kBase64Vectors = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
};

TEST(Base64, EncodesAndDecodesStandardVectors) {
  for (const BinaryCase& c : kBase64Vectors) {
    EXPECT_EQ(EncodeBase64(B(c.bytes)), c.base64);
    EXPECT_EQ(DecodeBase64(c.base64), B(c.bytes)) << c.base64;
  }
}

TEST(Base64, EveryByteValueRoundTripsThroughBrokenLines) {
  Bytes all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<uint8_t>(i));
  const std::string text = EncodeBase64(all, 76);
  EXPECT_NE(text.find("+/"), std::string::npos) << "the last two alphabet characters";
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    EXPECT_EQ(nl - start, 76u);
  EXPECT_LE(text.size() - start, 76u);
  EXPECT_EQ(DecodeBase64(text), all);
  EXPECT_EQ(EncodeBase64(all).find('\n'), std::string::npos);
}

TEST(Base64, IgnoresWhitespace) {
  EXPECT_EQ(DecodeBase64("Zm9v\r\n    YmFy"), B("foobar"));
  EXPECT_EQ(DecodeBase64("  Zm 9v\tYg ==\n"), B("foob"));
}

TEST(Base64, RejectsMalformedText) {
  const std::vector<const char*> bad = {"Zm9v!", "Zm-v", "Zg==Zg", "Z===", "Zm9v\x80", "Zm9v_"};
  for (const char* text : bad) EXPECT_THROW(DecodeBase64(text), EXmlError) << text;
}

TEST(BinHex, TwoUpperCaseDigitsPerByte) {
  EXPECT_EQ(EncodeBinHex({0x00, 0xAB, 0x0F, 0xFF}), "00AB0FFF");
  EXPECT_EQ(DecodeBinHex("00ab0F ff\r\n10"), Bytes({0x00, 0xAB, 0x0F, 0xFF, 0x10}));
  EXPECT_TRUE(DecodeBinHex("").empty());
}

TEST(BinHex, RejectsMalformedText) {
  for (const char* text : {"0G", "ABC", "$FF", "A B C"})
    EXPECT_THROW(DecodeBinHex(text), EXmlError) << text;
}

} // namespace
} // namespace dtp::xml
