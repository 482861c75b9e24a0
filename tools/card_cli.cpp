#include "tools/card_cli.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iomanip>
#include <sstream>
#include <string_view>

#include "engine/document/card_format_file.h"
#include "engine/document/document.h"
#include "engine/document/page.h"
#include "engine/graphics/raster_formats.h"
#include "engine/graphics/raster_stream.h"
#include "engine/persistence/resource.h"
#include "engine/persistence/storage.h"
#include "engine/shapes/shape.h"
#include "platform/core/errors.h"
#include "platform/core/limits.h"
#include "platform/host/printer.h"

namespace dtp::cli {

namespace {

constexpr const char* kProgram = "kartolino-cli";
constexpr double kMmPerInch = 25.4;
constexpr double kDefaultDpi = 150;
// `check` paints every page at this resolution: enough to run every paint path, small
// enough to stay quick on large pages.
constexpr float kCheckDpm = 2.0f;

// A usage error: the message goes out with the usage text and exit code 2.
struct TUsageError {
  std::string Message;
};

std::string Number(double v) {
  std::ostringstream s;
  s << std::setprecision(6) << v;
  return s.str();
}

std::string Hex8(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "$%08X", v);
  return buf;
}

// A printer whose sheet is a bitmap: every band is placed where a device would put it,
// nearest-neighbour, over white paper.
class TBitmapPrinter : public IPrinter {
public:
  explicit TBitmapPrinter(TBitmap32& sheet) : m_Sheet(sheet) {}
  void SetTitle(const std::string&) override {}
  void BeginDocument() override {}
  void NewPage() override {}
  void EndDocument() override {}
  TPoint PhysicalSize() const override { return {m_Sheet.Width(), m_Sheet.Height()}; }
  TPoint PhysicalOffset() const override { return {0, 0}; }
  void StretchBand(const TBitmap32& band, const TRect& device) override {
    const int w = device.Width(), h = device.Height();
    if (w <= 0 || h <= 0 || band.Empty()) return;
    for (int y = 0; y < h; ++y) {
      const int ty = device.Top + y;
      if (ty < 0 || ty >= m_Sheet.Height()) continue;
      const int sy = static_cast<int>(int64_t(y) * band.Height() / h);
      for (int x = 0; x < w; ++x) {
        const int tx = device.Left + x;
        if (tx < 0 || tx >= m_Sheet.Width()) continue;
        const int sx = static_cast<int>(int64_t(x) * band.Width() / w);
        m_Sheet.SetPixel(tx, ty, band.Pixel(sx, sy) | 0xFF000000u);
      }
    }
  }

private:
  TBitmap32& m_Sheet;
};

// Pixels of a page side at a resolution, refused beyond the picture limits.
int SidePixels(double mm, double dpm, const char* side) {
  const double px = std::nearbyint(mm * dpm);
  if (!std::isfinite(px) || px < 1)
    throw EDtpError(std::string("The page's ") + side + " is " + Number(mm) + " mm");
  if (px > limits::kMaxPictureSide)
    throw EDtpError(std::string("The page is too large to render (") + side + " " + Number(px) +
                    " pixels)");
  return static_cast<int>(px);
}

std::string QuotedName(const TdtpShape& shape) {
  return shape.Name().empty() ? std::string() : " \"" + shape.Name() + "\"";
}

void WriteShapeTree(const TdtpShape& shape, int depth, std::ostream& out) {
  for (int i = 0; i < shape.ShapeCount(); ++i) {
    const TdtpShape& s = *shape.Shapes(i);
    out << std::string(static_cast<size_t>(2 * depth), ' ') << s.ClassName() << QuotedName(s)
        << " at " << Number(s.DocLeft()) << ", " << Number(s.DocTop()) << " mm, "
        << Number(s.DocWidth()) << " x " << Number(s.DocHeight()) << " mm";
    if (s.DocAngle() != 0) out << ", angle " << Number(s.DocAngle());
    if (s.MasterAlpha() != 255) out << ", alpha " << s.MasterAlpha();
    if (s.Mirrored()) out << ", mirrored";
    if (s.Flipped()) out << ", flipped";
    if (!s.Visible()) out << ", hidden";
    out << "\n";
    WriteShapeTree(s, depth + 1, out);
  }
}

// "60 x 60 px, Archive TMP0123456.qzp"; a picture that does not decode says why.
std::string DescribePicture(TdtpBitmapResource& resource) {
  std::string text;
  try {
    TLockedBitmap picture(&resource);
    text = picture ? std::to_string(picture->Width()) + " x " + std::to_string(picture->Height()) +
                         " px"
                   : "empty";
  } catch (const std::exception& e) {
    text = std::string("unreadable (") + e.what() + ")";
  }
  text += std::string(", ") + ResourceStorageText(resource.Storage());
  if (resource.Storage() == rsArchive) text += " " + resource.ArchiveName();
  if (resource.Storage() == rsExternal) text += " " + resource.FileName();
  return text;
}

// Counts a picture resource and adds what is wrong with it to `problems`.
void CheckPicture(TdtpBitmapResource& resource, const std::string& where,
                  std::vector<std::string>& problems, int& resources) {
  if (!resource.HasContent()) return;
  ++resources;
  if (resource.IsMissing()) {
    problems.push_back(
        where + ": " + ResourceStorageText(resource.Storage()) + " picture " +
        (resource.Storage() == rsExternal ? resource.FileName() : resource.ArchiveName()) +
        " is missing");
    return;
  }
  try {
    TLockedBitmap picture(&resource);
    if (!picture || picture->Empty()) problems.push_back(where + ": the picture is empty");
  } catch (const std::exception& e) {
    problems.push_back(where + ": " + e.what());
  }
}

// The document's own container; every card loaded from a file has one.
const TvqStorage& Archive(const TdtpDocument& doc) {
  const auto* archive = dynamic_cast<const TvqStorage*>(doc.Storage());
  if (!archive) throw EDtpError("The card has no container");
  return *archive;
}

void LoadCard(TdtpDocument& doc, const std::string& file) {
  doc.LoadFromFile(file);
}

int Info(const std::string& file, std::ostream& out) {
  TdtpDocument doc;
  LoadCard(doc, file);
  const TvqStorage& archive = Archive(doc);
  std::ostringstream text;
  text << "card: " << file << "\n";
  if (std::filesystem::exists(CardFormatFileName(file)))
    text << "card format: " << ReadCardFormatIndex(file) << "\n";
  text << "container: " << archive.StreamCount() << " parts\n";
  for (int i = 0; i < archive.StreamCount(); ++i) {
    const std::string name = archive.StreamNames(i);
    text << "  " << std::left << std::setw(20) << name << std::right << std::setw(10)
         << archive.ReadStream(name).size() << " bytes\n";
  }
  text << "default page: " << Number(doc.DefaultPageWidth()) << " x "
       << Number(doc.DefaultPageHeight()) << " mm, margins " << Number(doc.DefaultMarginLeft())
       << ", " << Number(doc.DefaultMarginTop()) << ", " << Number(doc.DefaultMarginRight()) << ", "
       << Number(doc.DefaultMarginBottom()) << " mm, colour "
       << Hex8(static_cast<uint32_t>(doc.DefaultPageColor())) << "\n";
  // The file keeps six digits of dots per millimetre: 300 dpi reads back as 299.9994.
  text << "render resolution: " << std::setprecision(4) << doc.RenderDpm() * kMmPerInch
       << std::setprecision(6) << " dpi\n";
  text << "pages: " << doc.PageCount() << "\n";
  for (int p = 0; p < doc.PageCount(); ++p) {
    TdtpPage& page = *doc.Pages(p);
    page.EnsureLoaded();
    text << "page " << p + 1 << " \"" << page.Title() << "\": " << Number(page.PageWidth()) << " x "
         << Number(page.PageHeight()) << " mm, "
         << (page.IsDefaultPage() ? "default page" : "own settings") << ", colour "
         << Hex8(static_cast<uint32_t>(page.PageColor()));
    if (TdtpBitmapResource* bg = page.EffectiveBackgroundImage(); bg && bg->HasContent())
      text << ", " << (page.IsDefaultPage() ? "default " : "") << "background "
           << DescribePicture(*bg) << (page.BackgroundTiled() ? ", tiled" : "");
    text << ", " << page.ShapeCount() << (page.ShapeCount() == 1 ? " shape" : " shapes") << "\n";
    WriteShapeTree(page, 2, text);
  }
  out << text.str();
  return kExitOk;
}

int Check(const std::string& file, std::ostream& out, std::ostream& err) {
  std::vector<std::string> problems;
  TdtpDocument doc;
  // What the engine reads past (a child shape it drops, a picture it leaves out) it
  // reports here; for the check each is a problem.
  doc.OnLoadError = [&](TdtpDocument*, TdtpShape* shape, const std::string& error) {
    std::string where = "a shape";
    if (const auto* page = dynamic_cast<const TdtpPage*>(shape))
      where = "page " + std::to_string(page->Index() + 1);
    else if (shape)
      where = shape->ClassName() + QuotedName(*shape);
    problems.push_back(where + ": " + error);
  };
  LoadCard(doc, file);
  const TvqStorage& archive = Archive(doc);

  for (int i = 0; i < archive.StreamCount(); ++i) {
    const std::string name = archive.StreamNames(i);
    try {
      const std::vector<uint8_t> bytes = archive.ReadStream(name);
      // The engine quietly drops a thumbnail it cannot decode; the check says so.
      if (name.size() > 5 && name.compare(0, 5, "Thumb") == 0 && !bytes.empty()) {
        TRasterViewStream in(bytes);
        TBitmap32 thumb;
        TdtpBmpFormat().LoadFromStream(&in, thumb, 0, 0, 0);
      }
    } catch (const std::exception& e) {
      problems.push_back("part " + name + ": " + e.what());
    }
  }

  int resources = 0;
  CheckPicture(doc.DefaultBgrImage(), "default background", problems, resources);
  for (int p = 0; p < doc.PageCount(); ++p) {
    const std::string where = "page " + std::to_string(p + 1);
    try {
      doc.LoadPage(p);
      TdtpPage& page = *doc.Pages(p);
      if (!page.IsDefaultPage())
        CheckPicture(page.BackgroundImage(), where + " background", problems, resources);
      // Archive parts the shapes name (the page's own picture is checked above).
      std::vector<std::string> names;
      page.TdtpShape::GetResourceNames(names);
      for (const std::string& name : names) {
        ++resources;
        if (!archive.StreamExists(name))
          problems.push_back(where + ": resource part " + name + " is missing");
      }
      TBitmap32 picture;
      RenderPageAsPrinted(page, kCheckDpm, picture);
    } catch (const std::exception& e) {
      problems.push_back(where + ": " + e.what());
    }
  }

  if (!problems.empty()) {
    // Painting meets a problem of loading again; each is told once, in the order found.
    std::vector<std::string> told;
    for (const std::string& p : problems) {
      if (std::find(told.begin(), told.end(), p) != told.end()) continue;
      told.push_back(p);
      err << kProgram << ": " << file << ": " << p << "\n";
    }
    return kExitCardError;
  }
  out << file << ": ok, " << doc.PageCount() << " pages, " << archive.StreamCount() << " parts, "
      << resources << " resources\n";
  return kExitOk;
}

double ParseNumber(std::string_view option, const std::string& text) {
  size_t used = 0;
  double v = 0;
  try {
    v = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || !std::isfinite(v))
    throw TUsageError{std::string(option) + " needs a number, not \"" + text + "\""};
  return v;
}

struct TRenderArgs {
  std::string Card;
  std::string Output;
  int Page = 1;
  double Dpi = kDefaultDpi;
};

TRenderArgs ParseRenderArgs(const std::vector<std::string>& args) {
  TRenderArgs r;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    const auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw TUsageError{a + " needs a value"};
      return args[++i];
    };
    if (a == "--page") {
      const double v = ParseNumber(a, value());
      if (v != std::floor(v) || v < 1 || v > kMaxPageCount)
        throw TUsageError{"--page takes a page number from 1 to " + std::to_string(kMaxPageCount)};
      r.Page = static_cast<int>(v);
    } else if (a == "--dpi") {
      r.Dpi = ParseNumber(a, value());
      if (r.Dpi <= 0 || r.Dpi > kMaxRenderDpi)
        throw TUsageError{"--dpi takes a resolution above 0 and up to " + Number(kMaxRenderDpi)};
    } else if (a == "-o" || a == "--output") {
      r.Output = value();
    } else if (!a.empty() && a[0] == '-') {
      throw TUsageError{"unknown option " + a};
    } else if (r.Card.empty()) {
      r.Card = a;
    } else {
      throw TUsageError{"render takes one card file"};
    }
  }
  if (r.Card.empty()) throw TUsageError{"render needs a card file"};
  if (r.Output.empty()) throw TUsageError{"render needs -o OUT.png"};
  return r;
}

int Render(const TRenderArgs& r, std::ostream& out) {
  TdtpDocument doc;
  LoadCard(doc, r.Card);
  if (r.Page > doc.PageCount())
    throw TUsageError{"the card has " + std::to_string(doc.PageCount()) + " pages, not " +
                      std::to_string(r.Page)};
  TdtpPage& page = *doc.Pages(r.Page - 1);
  TBitmap32 picture;
  RenderPageAsPrinted(page, static_cast<float>(r.Dpi / kMmPerInch), picture);
  TdtpPngFormat().SaveToFile(r.Output, picture);
  out << r.Output << ": page " << r.Page << " \"" << page.Title() << "\", " << picture.Width()
      << " x " << picture.Height() << " px at " << Number(r.Dpi) << " dpi\n";
  return kExitOk;
}

std::string OneCard(const std::vector<std::string>& args) {
  if (args.size() != 2 || args[1].empty() || args[1][0] == '-')
    throw TUsageError{args[0] + " takes one card file"};
  return args[1];
}

} // namespace

std::string UsageText() {
  std::ostringstream s;
  s << "usage: " << kProgram << " COMMAND CARD.wqx [OPTIONS]\n"
    << "\n"
    << "commands:\n"
    << "  info CARD.wqx      container parts with sizes, settings, pages with names and\n"
    << "                     sizes in mm, the shape tree of every page\n"
    << "  check CARD.wqx     reads every part, page and resource and paints every page;\n"
    << "                     reports each problem\n"
    << "  render CARD.wqx [--page N] [--dpi D] -o OUT.png\n"
    << "                     the page as the printer receives it, on white paper, as PNG\n"
    << "                     (page from 1, default 1; dpi default " << Number(kDefaultDpi)
    << ", at most " << Number(kMaxRenderDpi) << ")\n"
    << "  help               this text\n"
    << "\n"
    << "exit codes: 0 success, 1 the card cannot be read, checked or rendered,\n"
    << "            2 wrong arguments\n";
  return s.str();
}

void RenderPageAsPrinted(TdtpPage& page, float dpm, TBitmap32& out) {
  page.EnsureLoaded();
  if (!page.Document()) throw EDtpError("The page belongs to no document");
  if (!std::isfinite(dpm) || dpm <= 0) throw EDtpError("Invalid resolution");
  const int w = SidePixels(page.PageWidth(), dpm, "width");
  const int h = SidePixels(page.PageHeight(), dpm, "height");
  if (int64_t(w) * h > limits::kMaxPicturePixels)
    throw EDtpError("The page is too large to render (" + std::to_string(w) + " x " +
                    std::to_string(h) + " pixels)");
  out.SetSize(w, h);
  out.Clear(0xFFFFFFFFu);
  TBitmapPrinter printer(out);
  page.PrintTo(printer, TRect{0, 0, w, h}, false, false, 0, dpm);
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << UsageText();
    return kExitUsage;
  }
  const std::string& command = args[0];
  std::string card;
  try {
    if (command == "help" || command == "--help" || command == "-h") {
      out << UsageText();
      return kExitOk;
    }
    if (command == "info") {
      card = OneCard(args);
      return Info(card, out);
    }
    if (command == "check") {
      card = OneCard(args);
      return Check(card, out, err);
    }
    if (command == "render") {
      const TRenderArgs r = ParseRenderArgs(args);
      card = r.Card;
      return Render(r, out);
    }
    throw TUsageError{"unknown command \"" + command + "\""};
  } catch (const TUsageError& e) {
    err << kProgram << ": " << e.Message << "\n\n" << UsageText();
    return kExitUsage;
  } catch (const std::exception& e) {
    err << kProgram << ": " << card << ": " << e.what() << "\n";
    return kExitCardError;
  }
}

} // namespace dtp::cli
