// kartolino-cli: the command-line face of the card engine (see tools/card_cli.h).
#include <iostream>
#include <string>
#include <vector>

#include "engine/persistence/resource_thread.h"
#include "tools/card_cli.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  // The engine's one background thread trims decoded pictures while pages render.
  dtp::StartResourceThread();
  const int code = dtp::cli::Run(args, std::cout, std::cerr);
  dtp::StopResourceThread();
  return code;
}
