#pragma once
// kartolino-cli: looks into, checks and renders card files without a window.
//
//   kartolino-cli info   CARD.wqx
//   kartolino-cli check  CARD.wqx
//   kartolino-cli render CARD.wqx [--page N] [--dpi D] -o OUT.png
//
// The commands live here, apart from main(), so that tests run them in-process.

#include <ostream>
#include <string>
#include <vector>

namespace dtp {
class TBitmap32;
class TdtpPage;
} // namespace dtp

namespace dtp::cli {

// Exit codes of the tool.
constexpr int kExitOk = 0;
constexpr int kExitCardError = 1; // the card cannot be read, checked or rendered
constexpr int kExitUsage = 2;

// The highest resolution `render` accepts; pictures are bounded by the raster limits too.
constexpr double kMaxRenderDpi = 2400;

// Runs one command; `args` are the words after the program name. Results go to `out`,
// usage text and error messages to `err`.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The usage text (also printed by `kartolino-cli help`).
std::string UsageText();

// Renders a page the way a printer receives it: the print path in bands at `dpm`, the
// bands put on white paper. The bitmap is (dpm × width) × (dpm × height) pixels, opaque.
void RenderPageAsPrinted(TdtpPage& page, float dpm, TBitmap32& out);

} // namespace dtp::cli
