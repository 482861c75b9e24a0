#pragma once
// Named streams in memory: the shapes' and the document's view of a card's storage.

#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "engine/persistence/stream_storage.h"

namespace dtp::test {

class TMemoryStorage : public IStreamStorage {
public:
  bool StreamExists(std::string_view name) const override { return m_Streams.count(Key(name)); }
  std::vector<uint8_t> ReadStream(std::string_view name) const override {
    return m_Streams.at(Key(name));
  }
  void WriteStream(std::string_view name, const std::vector<uint8_t>& data) override {
    m_Streams[Key(name)] = data;
  }
  void DeleteStream(std::string_view name) override { m_Streams.erase(Key(name)); }
  size_t Count() const { return m_Streams.size(); }

private:
  static std::string Key(std::string_view n) {
    std::string k(n);
    for (char& c : k) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return k;
  }
  std::map<std::string, std::vector<uint8_t>> m_Streams;
};

} // namespace dtp::test
