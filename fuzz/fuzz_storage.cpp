// Loads arbitrary bytes as a storage container, edits it and checks that what it saves
// loads again with the same parts.
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "engine/persistence/storage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  dtp::TvqStorage storage;
  try {
    storage.LoadFromStream(dtp::TvqConstMemoryStream(data, size));
  } catch (const std::exception&) {
    return 0;
  }
  try {
    const int count = storage.StreamCount();
    for (int i = 0; i < count; ++i) (void)storage.ReadStream(storage.StreamNames(i));
    // Edits exercise free-space allocation and the relocation of blocks past a growing index.
    storage.WriteStream("Index.xml", std::vector<uint8_t>(size % 97, 'x'));
    storage.WriteStream(std::string(size % 61, 'n'), std::vector<uint8_t>());
    if (count > 0) {
      storage.RenameStream(storage.StreamNames(0), "Page0001.xml");
      storage.DeleteStream(storage.StreamNames(count / 2));
    }
  } catch (const std::exception&) {
    // A valid index may still name parts that a later edit cannot handle; loading is what
    // must never crash.
  }
  dtp::TvqMemoryStream saved;
  storage.SaveToStream(saved);
  dtp::TvqStorage again;
  again.LoadFromStream(saved);
  if (again.StreamCount() != storage.StreamCount()) std::abort();
  for (int i = 0; i < again.StreamCount(); ++i)
    if (again.ReadStream(again.StreamNames(i)) != storage.ReadStream(storage.StreamNames(i)))
      std::abort();
  return 0;
}
