#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/graphics/raster_formats.h"
#include "engine/persistence/map_stream.h"
#include "engine/persistence/xml_bitmap.h"
#include "platform/core/errors.h"
#include "platform/xml/xml.h"

namespace dtp {
namespace {

TBitmap32 Pattern(int w, int h) {
  TBitmap32 b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      b.SetPixel(x, y,
                 (uint32_t((x * 7 + y + 1) & 0xFF) << 24) |
                     uint32_t(x * 31 + y * 17) * 2654435761u >> 8);
  return b;
}

bool SamePixels(const TBitmap32& a, const TBitmap32& b, uint32_t mask) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if ((a.Pixel(x, y) & mask) != (b.Pixel(x, y) & mask)) return false;
  return true;
}

struct TSize {
  int W, H;
};

class XmlBitmapSizes : public ::testing::TestWithParam<TSize> {};

TEST_P(XmlBitmapSizes, RoundTripsThroughIndentedAndCompactText) {
  const TBitmap32 picture = Pattern(GetParam().W, GetParam().H);
  for (bool indented : {true, false}) {
    xml::TXmlDocument doc;
    xml::TXmlNode root = doc.CreateRoot("Page");
    WriteXmlBitmap32(root, "BrushBitmap", &picture);
    WriteXmlBitmap(root, "Colour", &picture);
    xml::TXmlDocument back;
    back.Parse(indented ? doc.WriteIndented() : doc.WriteCompact());
    std::unique_ptr<TBitmap32> b32, b24;
    ASSERT_TRUE(ReadXmlBitmap32(back.Root(), "BrushBitmap", b32));
    ASSERT_TRUE(ReadXmlBitmap(back.Root(), "colour", b24)); // any letter case
    EXPECT_TRUE(SamePixels(*b32, picture, 0xFFFFFFFF));
    // The 24-bit form keeps the colour and comes back opaque.
    EXPECT_TRUE(SamePixels(*b24, picture, 0x00FFFFFF));
    EXPECT_EQ(b24->Pixel(0, 0) >> 24, 0xFFu);
  }
}

INSTANTIATE_TEST_SUITE_P(AwkwardSizes, XmlBitmapSizes,
                         ::testing::Values(TSize{1, 1}, TSize{1, 7}, TSize{7, 1}, TSize{3, 5},
                                           TSize{301, 301}),
                         [](const auto& info) {
                           return std::to_string(info.param.W) + "x" + std::to_string(info.param.H);
                         });

TEST(XmlBitmap, StreamsKeepEveryByteAndEmptyOnesAreNotWritten) {
  for (size_t n : {size_t(1), size_t(2), size_t(127), size_t(128), size_t(129), size_t(5000)}) {
    TRasterMemoryStream in;
    for (size_t i = 0; i < n; ++i) in.Data().push_back(static_cast<uint8_t>(i * i / 7));
    xml::TXmlDocument doc;
    xml::TXmlNode root = doc.CreateRoot("R");
    WriteXmlStream(root, "S", in);
    EXPECT_EQ(root.FindChild("S").ReadInteger("SourceSize", 0), int64_t(n));
    TMapStream out(64);
    ASSERT_TRUE(ReadXmlStream(root, "S", out));
    EXPECT_EQ(out.Bytes(), in.Data()) << n;
    EXPECT_EQ(out.Position(), 0);
  }
  TRasterMemoryStream empty;
  xml::TXmlDocument doc;
  xml::TXmlNode root = doc.CreateRoot("R");
  WriteXmlStream(root, "S", empty);
  WriteXmlBitmap(root, "B", nullptr);
  EXPECT_TRUE(root.Elements().empty());
}

// Elements whose fields do not describe their bytes; each must fail cleanly and leave the
// caller's bitmap as it was.
struct TBadElement {
  const char* Name;
  std::function<void(xml::TXmlNode element, const std::string& buffer)> Spoil;
  bool ReadsNothing; // false: an error is expected
};

class XmlBitmapCorrupt : public ::testing::TestWithParam<TBadElement> {};

TEST_P(XmlBitmapCorrupt, FailsWithoutTouchingTheBitmap) {
  const TBitmap32 picture = Pattern(9, 4);
  xml::TXmlDocument doc;
  xml::TXmlNode root = doc.CreateRoot("R");
  WriteXmlBitmap32(root, "B", &picture);
  xml::TXmlNode element = root.FindChild("B");
  const std::string buffer = element.ReadString("Buffer");
  // Rebuild the element from scratch so that each case sets exactly the fields it wants.
  xml::TXmlDocument bad;
  xml::TXmlNode badRoot = bad.CreateRoot("R");
  xml::TXmlNode badElement = badRoot.AddChild("B");
  badElement.AddChild("SourceSize").SetValue(element.ReadString("SourceSize"));
  badElement.AddChild("CompressedSize").SetValue(element.ReadString("CompressedSize"));
  badElement.AddChild("Buffer").SetValue(buffer);
  GetParam().Spoil(badElement, buffer);

  auto kept = std::make_unique<TBitmap32>(2, 2);
  kept->Clear(0xFF123456);
  TBitmap32* before = kept.get();
  if (GetParam().ReadsNothing) {
    EXPECT_FALSE(ReadXmlBitmap32(badRoot, "B", kept));
  } else {
    EXPECT_THROW(ReadXmlBitmap32(badRoot, "B", kept), EDtpError);
  }
  ASSERT_EQ(kept.get(), before);
  EXPECT_EQ(kept->Width(), 2);
  EXPECT_EQ(kept->Pixel(1, 1), 0xFF123456u);
}

void SetChild(xml::TXmlNode e, const char* name, const std::string& value) {
  e.FindChild(name).Raw().text().set(value.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XmlBitmapCorrupt,
    ::testing::Values(
        TBadElement{"ZeroSourceSize", [](auto e, auto&) { SetChild(e, "SourceSize", "0"); }, true},
        TBadElement{"ZeroCompressedSize", [](auto e, auto&) { SetChild(e, "CompressedSize", "0"); },
                    true},
        TBadElement{"NotBase64", [](auto e, auto&) { SetChild(e, "Buffer", "@@not*base64@@"); },
                    false},
        TBadElement{"SourceSizeTooLarge",
                    [](auto e, auto&) {
                      SetChild(e, "SourceSize", std::to_string(e.ReadInteger("SourceSize", 0) + 1));
                    },
                    false},
        TBadElement{"SourceSizeTooSmall",
                    [](auto e, auto&) {
                      SetChild(e, "SourceSize", std::to_string(e.ReadInteger("SourceSize", 0) - 1));
                    },
                    false},
        TBadElement{"SourceSizeHuge",
                    [](auto e, auto&) { SetChild(e, "SourceSize", "4000000000000"); }, false},
        TBadElement{"NegativeSize", [](auto e, auto&) { SetChild(e, "SourceSize", "-5"); }, false},
        TBadElement{"CompressedSizeBeyondBuffer",
                    [](auto e, auto&) {
                      SetChild(e, "CompressedSize",
                               std::to_string(e.ReadInteger("CompressedSize", 0) + 10));
                    },
                    false},
        TBadElement{"BufferCut",
                    [](auto e, const std::string& b) {
                      SetChild(e, "Buffer", b.substr(0, b.size() / 2 / 4 * 4));
                    },
                    false},
        TBadElement{"NoBuffer",
                    [](auto e, auto&) { e.Raw().remove_child(e.FindChild("Buffer").Raw()); },
                    false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(XmlBitmap, AMissingElementReadsNothing) {
  xml::TXmlDocument doc;
  std::unique_ptr<TBitmap32> none;
  EXPECT_FALSE(ReadXmlBitmap32(doc.CreateRoot("R"), "B", none));
  EXPECT_EQ(none, nullptr);
}

} // namespace
} // namespace dtp
