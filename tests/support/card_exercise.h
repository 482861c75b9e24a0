#pragma once
// Runs bytes of unknown origin through everything a card file meets when it is opened:
// the container, "Index.xml", every page part, printing each page in bands and painting it
// on screen, and, for a card that read completely, saving it and opening the result.
// Shared by the card file sweeps and the card fuzz target.
//
// A card may fail with the engine's errors (EDtpError and its family); any other exception
// leaves this function, and a crash, hang or runaway allocation is the caller's finding.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "engine/document/document.h"
#include "engine/document/page.h"
#include "engine/persistence/storage.h"
#include "platform/core/errors.h"
#include "tests/support/recording_printer.h"

namespace dtp::test {

struct TCardOutcome {
  bool Opened = false; // the container and the index were read
  int PagesRead = 0;   // pages that loaded and painted
  int PagesFailed = 0; // pages that raised an engine error
  bool SavedAndReopened = false;
};

inline TCardOutcome ExerciseCard(const uint8_t* data, size_t size) {
  TCardOutcome outcome;
  TdtpDocument doc;
  try {
    doc.LoadFromStream(TvqConstMemoryStream(data, size));
  } catch (const EDtpError&) {
    return outcome;
  }
  outcome.Opened = true;
  for (int p = 0; p < doc.PageCount(); ++p) {
    try {
      doc.LoadPage(p);
      TdtpPage* page = doc.Pages(p);
      // A small device: the print path scales the page to fit whatever size it claims.
      TRecordingPrinter printer(24, 32);
      page->PrintTo(printer, TRect{0, 0, 24, 32}, false, false, 0, 0);
      doc.SetCurrentPageIndex(p);
      // A coarse view: painting goes over the whole page (its background tiles too)
      // whatever the clip, so a small scale keeps each round quick.
      doc.SetScreenDpm(0.5f);
      TBitmap32 view;
      doc.PaintPage(TRect{0, 0, 20, 15}, view);
      ++outcome.PagesRead;
    } catch (const EDtpError&) {
      ++outcome.PagesFailed;
    }
  }
  if (outcome.PagesFailed > 0) return outcome;
  // Whatever the engine accepted it must be able to store and read back.
  try {
    TvqMemoryStream saved;
    doc.SaveToStream(saved);
    TdtpDocument again;
    again.LoadFromStream(saved);
    if (again.PageCount() != doc.PageCount())
      throw std::logic_error("a saved card reopened with another page count");
    for (int p = 0; p < again.PageCount(); ++p) again.LoadPage(p);
  } catch (const EDtpError& e) {
    throw std::logic_error(std::string("a card that read completely failed to save and reopen: ") +
                           e.what());
  }
  outcome.SavedAndReopened = true;
  return outcome;
}

} // namespace dtp::test
