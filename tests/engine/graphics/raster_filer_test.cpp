// The format registry and the image filer: choosing formats by extension and by data,
// loading and saving through files and streams, and the filer's messages.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "engine/graphics/raster_formats.h"

namespace dtp {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class RasterFiler : public ::testing::Test {
protected:
  void SetUp() override {
    m_Dir =
        fs::temp_directory_path() /
        ("kartolino_filer_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(m_Dir);
  }
  void TearDown() override { fs::remove_all(m_Dir); }

  std::string Path(const std::string& name) const { return (m_Dir / name).string(); }

  // Writes `bmp` in the given format to a file of the given name.
  std::string Write(const std::string& name, TdtpRaster&& format, const TBitmap32& bmp) {
    TRasterMemoryStream s;
    format.SaveToStream(&s, bmp);
    std::ofstream(Path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(s.Data().data()), std::streamsize(s.Data().size()));
    return Path(name);
  }

  static TBitmap32 Picture() {
    TBitmap32 bmp(6, 4);
    for (int i = 0; i < 24; ++i) bmp.Bits()[i] = 0xFF000000u | uint32_t(i * 0x0A0B0C);
    return bmp;
  }

  fs::path m_Dir;
};

std::string ClassOf(const TdtpImageFiler& f) {
  return f.Format() ? f.Format()->RasterClass().ClassName : "none";
}

TEST(RasterRegistry, BuiltInFormatsInTheirOrderWithTheirFlags) {
  const struct {
    const char* className;
    const char* description;
    const char* extensions;
    uint16_t flags;
  } expected[] = {
      {"TdtpBmpFormat", "Windows Bitmap", ".bmp;.dib;", 15},
      {"TdtpJpgFormat", "JPEG images", ".jpg;.jp;.jpeg;", 3615},
      {"TQzpImage", "QZP Image", ".qzp;", 111},
      {"TdtpPngFormat", "Portable Network Graphics", ".png;", 79},
      {"TdtpGifFormat", "Compuserve GIF", ".gif;", 4207},
  };
  const auto& list = RasterFormats();
  ASSERT_GE(list.size(), 5u);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(list[i].ClassName, expected[i].className);
    EXPECT_EQ(list[i].Description, expected[i].description);
    EXPECT_EQ(list[i].Extensions, expected[i].extensions);
    EXPECT_EQ(list[i].Flags, expected[i].flags);
    EXPECT_EQ(RasterFormatFlags(*list[i].RasterClass), expected[i].flags);
    EXPECT_EQ(list[i].RasterClass->Create()->Flags(), expected[i].flags);
  }
}

TEST(RasterRegistry, FindsFormatsByLowerCaseExtension) {
  const struct {
    const char* fileName;
    const TRasterClass* expected;
  } cases[] = {
      {"photo.JPG", &TdtpJpgFormat::Class()},
      {"/a.b/photo.jp", &TdtpJpgFormat::Class()},
      {"x.jpeg", &TdtpJpgFormat::Class()},
      {"scan.Dib", &TdtpBmpFormat::Class()},
      {"a.gif", &TdtpGifFormat::Class()},
      {"a.png", &TdtpPngFormat::Class()},
      {"a.qzp", &TQzpImage::Class()},
      {"noextension", nullptr},
      {"folder.jpg/file", nullptr},
      {"a.tiff", nullptr},
      {"a.pg", nullptr}, // part of ".jpg;" but not one of its entries
  };
  for (const auto& c : cases) EXPECT_EQ(FindRasterFormat(c.fileName), c.expected) << c.fileName;
  EXPECT_EQ(FindWriteFormat(".PNG"), &TdtpPngFormat::Class());
  EXPECT_EQ(FindWriteFormat(""), nullptr);
  EXPECT_EQ(ExtractFileExt("C:\\dir.x\\name"), "");
  EXPECT_EQ(ExtractFileExt("a/b.tar.GZ"), ".GZ");
}

// A format that reads and writes only named files, registered as writable.
class TFileOnlyFormat : public TdtpRaster {
public:
  TFileOnlyFormat() : TdtpRaster(Class()) {}
  static const TRasterClass& Class() {
    static const TRasterClass c{"TFileOnlyFormat",
                                [] { return std::unique_ptr<TdtpRaster>(new TFileOnlyFormat); },
                                [](TRasterStream*) { return true; }};
    return c;
  }
};

TEST(RasterRegistry, RegisteringAgainOverwritesTheEntry) {
  RegisterRasterFormat(TFileOnlyFormat::Class(), "first", ".fo1;", 8);
  const size_t count = RasterFormats().size();
  RegisterRasterFormat(TFileOnlyFormat::Class(), "File only", ".FOF;", 8);
  ASSERT_EQ(RasterFormats().size(), count);
  EXPECT_EQ(RasterFormats().back().Description, "File only");
  EXPECT_EQ(RasterFormats().back().Extensions, ".fof;");
  EXPECT_EQ(FindRasterFormat("x.fo1"), nullptr);
  EXPECT_EQ(FindRasterFormat("x.fof"), &TFileOnlyFormat::Class());
  // The built-in formats keep their places.
  EXPECT_EQ(RasterFormats().front().RasterClass, &TdtpBmpFormat::Class());
}

TEST_F(RasterFiler, LoadsByExtensionInAnyLetterCase) {
  const struct {
    const char* name;
    std::function<std::unique_ptr<TdtpRaster>()> make;
    const char* className;
  } cases[] = {
      {"a.JPG", [] { return std::make_unique<TdtpJpgFormat>(); }, "TdtpJpgFormat"},
      {"b.jp", [] { return std::make_unique<TdtpJpgFormat>(); }, "TdtpJpgFormat"},
      {"c.Png", [] { return std::make_unique<TdtpPngFormat>(); }, "TdtpPngFormat"},
      {"d.gif", [] { return std::make_unique<TdtpGifFormat>(); }, "TdtpGifFormat"},
      {"e.qzp", [] { return std::make_unique<TQzpImage>(); }, "TQzpImage"},
      {"f.dib", [] { return std::make_unique<TdtpBmpFormat>(); }, "TdtpBmpFormat"},
  };
  for (const auto& c : cases) {
    const std::string path = Write(c.name, std::move(*c.make()), Picture());
    TdtpImageFiler filer;
    filer.SetFileName(path);
    TBitmap32 bmp;
    filer.Load(&bmp);
    EXPECT_EQ(ClassOf(filer), c.className) << c.name;
    EXPECT_EQ(bmp.Width(), 6) << c.name;
    EXPECT_EQ(filer.PageCount(), 1) << c.name;
    EXPECT_EQ(filer.BytesProcessed(), int32_t(fs::file_size(path))) << c.name;
  }
}

TEST_F(RasterFiler, ChoosesByDataOnlyWhenTheExtensionGivesNothing) {
  TdtpImageFiler filer;
  TBitmap32 bmp;

  // QZP data without an extension: the first format that accepts any data is BMP, which
  // then fails on it; the format chosen stays.
  filer.SetFileName(Write("noext", TQzpImage(), Picture()));
  try {
    filer.Load(&bmp);
    ADD_FAILURE() << "QZP data read as BMP";
  } catch (const ERasterError& e) {
    EXPECT_STREQ(e.what(), "Bitmap image is not valid (wrong signature)");
  }
  EXPECT_EQ(ClassOf(filer), "TdtpBmpFormat");

  // A ".qzp" file that is really a BMP: the QZP signature check refuses, BMP reads it.
  TdtpImageFiler second;
  second.SetFileName(Write("really_bmp.qzp", TdtpBmpFormat(), Picture()));
  second.Load(&bmp);
  EXPECT_EQ(ClassOf(second), "TdtpBmpFormat");
  EXPECT_EQ(bmp.Pixel(5, 3), Picture().Pixel(5, 3));

  // An extension in no entry: the first registered format.
  TdtpImageFiler third;
  third.SetFileName(Write("picture.xyz", TdtpBmpFormat(), Picture()));
  third.Load(&bmp);
  EXPECT_EQ(ClassOf(third), "TdtpBmpFormat");
}

TEST_F(RasterFiler, ReadsFromItsStreamAtTheStreamsPosition) {
  TRasterMemoryStream s;
  s.Write("junk", 4);
  TQzpImage().SaveToStream(&s, Picture());
  const int64_t end = s.Position();
  s.Write("tail", 4);
  s.SetPosition(4);

  TdtpImageFiler filer;
  filer.SetStream(&s);
  filer.SetExtension(".qzp");
  filer.SetMaxWidth(3);
  TBitmap32 bmp;
  filer.Load(&bmp);
  EXPECT_EQ(ClassOf(filer), "TQzpImage");
  EXPECT_EQ(bmp.Width(), 3); // reduced to the filer's maximum size
  EXPECT_EQ(bmp.Height(), 2);
  EXPECT_EQ(s.Position(), end);
  EXPECT_EQ(filer.BytesProcessed(), int32_t(end - 4));
}

TEST_F(RasterFiler, ReportsMissingInputsAndUnknownFormats) {
  TdtpImageFiler filer;
  const auto message = [&](std::function<void()> f) {
    try {
      f();
    } catch (const ERasterError& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  EXPECT_EQ(message([&] { filer.Load(nullptr); }), "Input bitmap not assigned");
  EXPECT_EQ(message([&] { filer.Save(nullptr); }), "Input bitmap not assigned");
  TBitmap32 bmp = Picture();
  filer.SetExtension(".xyz");
  EXPECT_EQ(message([&] { filer.Load(&bmp); }), "Unknown raster format \".xyz\"");
  EXPECT_EQ(message([&] { filer.Save(&bmp); }), "Cannot save format \".xyz\"");
  // A QZP stream of other data: nothing accepts it without a file name.
  TRasterMemoryStream other(Bytes(30, 1));
  filer.SetExtension(".qzp");
  filer.SetStream(&other);
  EXPECT_EQ(message([&] { filer.Load(&bmp); }), "Unknown raster format \".qzp\"");
  EXPECT_EQ(filer.Format(), nullptr);
}

TEST_F(RasterFiler, SavesByFileNameOrExtension) {
  TdtpImageFiler filer;
  const TBitmap32 bmp = Picture();
  filer.SetFileName(Path("out.png"));
  filer.Save(&bmp);
  EXPECT_EQ(ClassOf(filer), "TdtpPngFormat");
  EXPECT_EQ(filer.BytesProcessed(), int32_t(fs::file_size(Path("out.png"))));

  // Changing the file name drops the format; an unchanged one keeps it.
  TdtpRaster* png = filer.Format();
  filer.SetFileName(Path("out.png"));
  EXPECT_EQ(filer.Format(), png);
  filer.SetFileName(Path("out.gif"));
  EXPECT_EQ(filer.Format(), nullptr);

  // Into a stream: the extension picks the format; BytesProcessed counts what was added.
  TRasterMemoryStream s;
  s.Write("head", 4);
  TdtpImageFiler streamed;
  streamed.SetStream(&s);
  streamed.SetExtension(".qzp");
  streamed.Save(&bmp);
  EXPECT_EQ(streamed.BytesProcessed(), int32_t(s.Size() - 4));
  s.SetPosition(4);
  TBitmap32 back;
  streamed.Load(&back);
  EXPECT_EQ(back.Pixel(3, 2), bmp.Pixel(3, 2));
}

TEST_F(RasterFiler, AFailedSaveLeavesNoFileBehind) {
  TdtpImageFiler filer;
  filer.SetFileName(Path("empty.gif"));
  const TBitmap32 empty;
  EXPECT_THROW(filer.Save(&empty), ERasterError);
  EXPECT_FALSE(fs::exists(Path("empty.gif")));
}

TEST_F(RasterFiler, FormatsWithoutStreamsUseTheirFileOperations) {
  RegisterRasterFormat(TFileOnlyFormat::Class(), "File only", ".fof;", 8);
  TdtpImageFiler filer;
  filer.SetFileName(Path("x.fof"));
  const TBitmap32 bmp = Picture();
  try {
    filer.Save(&bmp);
    ADD_FAILURE();
  } catch (const ERasterError& e) {
    EXPECT_STREQ(e.what(), "Method not implemented");
  }
  std::ofstream(Path("x.fof")) << "data";
  TBitmap32 out;
  try {
    filer.Load(&out);
    ADD_FAILURE();
  } catch (const ERasterError& e) {
    EXPECT_STREQ(e.what(), "Method not implemented");
  }
  // With a stream the filer calls LoadFromStream, which the base does not offer.
  TRasterMemoryStream s(Bytes{1, 2, 3});
  TFileOnlyFormat format;
  try {
    format.LoadFromStream(&s, out, 0, 1, 1);
    ADD_FAILURE();
  } catch (const ERasterError& e) {
    EXPECT_STREQ(e.what(), "Loading from stream is not implemented");
  }
}

} // namespace
} // namespace dtp
