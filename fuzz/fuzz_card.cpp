// Opens arbitrary bytes as a card file: the container, the index, every page read,
// printed and painted, and a card that read completely saved and opened again.
#include <cstddef>
#include <cstdint>

#include "tests/support/card_exercise.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)dtp::test::ExerciseCard(data, size);
  return 0;
}
