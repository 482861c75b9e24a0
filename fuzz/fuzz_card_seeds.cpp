// Writes the seed corpus of fuzz_card: small cards saved by the engine itself (two pages
// with shapes, thumbnails and background pictures, embedded and as a part; one empty page; pages
// without thumbnails, an unknown shape class, many nested shapes) and a card cut short. Built with
// the tests; run it from the repository root:
//   build/test/fuzz/fuzz_card_seeds fuzz/corpus/fuzz_card
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/document/document.h"
#include "engine/document/page.h"
#include "engine/persistence/resource.h"
#include "engine/persistence/storage.h"
#include "engine/shapes/shape.h"

namespace {

using Bytes = std::vector<uint8_t>;
using dtp::TdtpDocument;
using dtp::TdtpShape;

void Put(const std::string& dir, const std::string& name, const Bytes& b) {
  std::ofstream(dir + "/" + name, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

Bytes Save(TdtpDocument& doc) {
  dtp::TvqMemoryStream out;
  doc.SaveToStream(out);
  return out.TakeBytes();
}

std::unique_ptr<TdtpShape> Shape(float x, float y, float w, float h, float angle, int alpha) {
  auto s = std::make_unique<TdtpShape>();
  s->SetBounds(x, y, w, h);
  s->SetDocAngle(angle);
  s->SetMasterAlpha(alpha);
  return s;
}

void Small(TdtpDocument& doc) {
  doc.SetThumbnailWidth(4);
  doc.SetThumbnailHeight(3);
  doc.SetPageWidth(105);
  doc.SetPageHeight(148);
}

Bytes TwoPages() {
  TdtpDocument doc;
  Small(doc);
  auto group = Shape(10, 20, 50, 30, 15, 200);
  group->SetName("Gruppe");
  group->AddShape(Shape(5, 5, 10, 10, 0, 255));
  doc.AddShape(std::move(group));
  doc.AddPage(nullptr);
  dtp::TdtpPage* own = doc.Pages(1);
  own->SetPageWidth(40);
  own->SetPageHeight(25);
  own->SetPageColor(0x80C0FF);
  dtp::TBitmap32 tile(16, 12);
  tile.Clear(0x80FF8040u);
  tile.SetPixel(5, 3, 0xFF102030u);
  doc.SetDefaultBackground(&tile);
  own->SetBackgroundImage(&tile);
  own->BackgroundImage().SetStorage(dtp::rsArchive);
  own->SetBackgroundTiled(true);
  doc.SetCurrentPageIndex(1);
  auto mirrored = Shape(10, 5, 20, 10, 0, 255);
  mirrored->SetMirrored(true);
  doc.AddShape(std::move(mirrored));
  return Save(doc);
}

Bytes EmptyPage() {
  TdtpDocument doc;
  Small(doc);
  return Save(doc);
}

Bytes NoThumbnails() {
  TdtpDocument doc;
  doc.SetStoreThumbnails(false);
  doc.AddShape(Shape(1, 2, 3, 4, 90, 10));
  doc.AddPage(nullptr);
  doc.AddPage(nullptr);
  return Save(doc);
}

// A page part naming a class the registry does not know, written by hand into the card.
Bytes UnknownClass() {
  TdtpDocument doc;
  Small(doc);
  doc.SaveToArchive();
  const std::string page =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Page Index=\"1\"><ClassName>TdtpPage"
      "</ClassName><Anchors/><DocWidth>105</DocWidth><DocHeight>148</DocHeight><Shape "
      "Index=\"1\"><ClassName>TdtpNoSuchShape</ClassName><Anchors/><DocLeft>5</DocLeft>"
      "<DocWidth>20</DocWidth><DocHeight>1,5</DocHeight><MasterAlpha>$80</MasterAlpha>"
      "<Shape Index=\"1\"><ClassName>TdtpShape</ClassName><DocAngle>45</DocAngle></Shape>"
      "</Shape></Page>\n";
  doc.Storage()->WriteStream("Page0001.xml", Bytes(page.begin(), page.end()));
  dtp::TvqMemoryStream out;
  doc.OwnStorage()->SaveToStream(out);
  return out.TakeBytes();
}

Bytes Nested() {
  TdtpDocument doc;
  Small(doc);
  auto root = Shape(0, 0, 100, 100, 0, 255);
  TdtpShape* at = root.get();
  for (int i = 0; i < 12; ++i) {
    auto child = Shape(1, 1, 90 - i * 5, 90 - i * 5, float(i * 7), 255 - i * 10);
    TdtpShape* next = child.get();
    at->AddShape(std::move(child));
    at = next;
  }
  doc.AddShape(std::move(root));
  return Save(doc);
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  const Bytes two = TwoPages();
  Put(dir, "two_pages.wqx", two);
  Put(dir, "empty_page.wqx", EmptyPage());
  Put(dir, "no_thumbnails.wqx", NoThumbnails());
  Put(dir, "unknown_class.wqx", UnknownClass());
  Put(dir, "nested.wqx", Nested());
  Put(dir, "cut.wqx", Bytes(two.begin(), two.begin() + std::ptrdiff_t(two.size() / 2)));
  return 0;
}
