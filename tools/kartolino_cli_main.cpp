// kartolino-cli: the command-line face of the card engine (see tools/card_cli.h).
#include <iostream>
#include <string>
#include <vector>

#include "tools/card_cli.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return dtp::cli::Run(args, std::cout, std::cerr);
}
