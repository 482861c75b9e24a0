#include "engine/document/card_format_file.h"

#include <cctype>
#include <charconv>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

#include "platform/core/errors.h"

namespace dtp {

namespace {

constexpr std::string_view kSection = "SETUP";
constexpr std::string_view kKey = "ART";
// A companion larger than this is not one of ours; it reads as missing.
constexpr std::streamoff kMaxSize = 65536;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// "[Name]" gives Name; other lines give nothing.
bool SectionName(std::string_view line, std::string_view& name) {
  line = Trim(line);
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return false;
  name = Trim(line.substr(1, line.size() - 2));
  return true;
}

bool KeyValue(std::string_view line, std::string_view& key, std::string_view& value) {
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  key = Trim(line.substr(0, eq));
  value = Trim(line.substr(eq + 1));
  return true;
}

std::vector<std::string> ReadLines(const std::string& fileName) {
  std::vector<std::string> lines;
  std::ifstream in(fileName, std::ios::binary | std::ios::ate);
  if (!in) return lines;
  const std::streamoff size = in.tellg();
  if (size < 0 || size > kMaxSize) return lines;
  in.seekg(0);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

} // namespace

std::string CardFormatFileName(const std::string& cardFileName) {
  return cardFileName + "2";
}

int ReadCardFormatIndex(const std::string& cardFileName) {
  bool inSetup = false;
  for (const std::string& line : ReadLines(CardFormatFileName(cardFileName))) {
    std::string_view name, key, value;
    if (SectionName(line, name)) {
      inSetup = SameText(name, kSection);
    } else if (inSetup && KeyValue(line, key, value) && SameText(key, kKey)) {
      int v = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
      return ec == std::errc() && end == value.data() + value.size() ? v : 0;
    }
  }
  return 0;
}

void WriteCardFormatIndex(const std::string& cardFileName, int index) {
  const std::string fileName = CardFormatFileName(cardFileName);
  std::vector<std::string> lines = ReadLines(fileName);
  const std::string entry = std::string(kKey) + "=" + std::to_string(index);
  bool inSetup = false, done = false;
  size_t setupEnd = lines.size();
  bool haveSetup = false;
  for (size_t i = 0; i < lines.size() && !done; ++i) {
    std::string_view name, key, value;
    if (SectionName(lines[i], name)) {
      if (inSetup) setupEnd = i;
      inSetup = SameText(name, kSection);
      if (inSetup) {
        haveSetup = true;
        setupEnd = lines.size();
      }
    } else if (inSetup && KeyValue(lines[i], key, value) && SameText(key, kKey)) {
      lines[i] = entry;
      done = true;
    }
  }
  if (!done) {
    if (!haveSetup) {
      lines.push_back("[" + std::string(kSection) + "]");
      setupEnd = lines.size();
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(setupEnd), entry);
  }
  std::ostringstream text;
  for (const std::string& line : lines) text << line << "\r\n";
  std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
  out << text.str();
  out.flush();
  if (!out) throw EDtpError(FormatMessage("Cannot create file \"%s\"", {fileName}));
}

} // namespace dtp
