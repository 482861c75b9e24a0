#pragma once
// One undo record. Shapes create them before they change; the document keeps, groups and
// trims them and hands them back to the shapes to restore the recorded state.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace dtp {

enum TdtpCommandKind : uint8_t {
  ckProperty = 0,       // old value of a property
  ckChildAdded = 1,     // index of a new child
  ckChildRemoved = 2,   // the removed child in its binary form
  ckEffectAdded = 3,    // index of a new effect
  ckEffectRemoved = 4,  // the removed effect's saved state
  ckEffectProperty = 5, // old value of an effect's property
};

class TdtpCommand {
public:
  TdtpCommand(uint8_t kind, int32_t id, std::string name, std::string value)
      : Kind(kind), ID(id), Name(std::move(name)), Value(std::move(value)) {}

  uint8_t Kind = 0;
  int32_t ID = 0;
  bool Grouped = false;
  std::string Name;
  std::string Value;
  // Kinds 2 and 4 carry the removed object; the reader starts at position 0.
  std::unique_ptr<std::vector<uint8_t>> Data;

  // The bytes the record accounts for in the undo list's budget.
  int64_t Size() const {
    return static_cast<int64_t>(Name.size() + Value.size()) + 4 +
           (Data ? static_cast<int64_t>(Data->size()) : 0);
  }
};

using TdtpCommandPtr = std::unique_ptr<TdtpCommand>;

} // namespace dtp
