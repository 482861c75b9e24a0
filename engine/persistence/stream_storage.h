#pragma once
// What shapes and the document need of a container of named byte streams (the card
// file's storage): test, read, write and delete a stream by name. Names compare without
// regard to letter case.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dtp {

class IStreamStorage {
public:
  virtual ~IStreamStorage() = default;
  virtual bool StreamExists(std::string_view name) const = 0;
  // Raises when the stream does not exist.
  virtual std::vector<uint8_t> ReadStream(std::string_view name) const = 0;
  virtual void WriteStream(std::string_view name, const std::vector<uint8_t>& data) = 0;
  // Deleting a stream that does not exist does nothing.
  virtual void DeleteStream(std::string_view name) = 0;
  // Renaming a stream that does not exist does nothing; an existing target is replaced.
  virtual void RenameStream(std::string_view from, std::string_view to) {
    if (!StreamExists(from)) return;
    const std::vector<uint8_t> data = ReadStream(from);
    DeleteStream(to);
    WriteStream(to, data);
    DeleteStream(from);
  }
};

} // namespace dtp
