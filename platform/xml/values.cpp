#include "platform/xml/values.h"

#include <charconv>
#include <cmath>
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/core/errors.h"
#include "platform/core/limits.h"

namespace dtp::xml {

namespace {

std::string_view Trim(std::string_view s) {
  const auto ws = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && ws(s.front())) s.remove_prefix(1);
  while (!s.empty() && ws(s.back())) s.remove_suffix(1);
  return s;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string StripTrailingZeros(std::string s) {
  if (s.find('.') == std::string::npos) return s;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s;
}

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

} // namespace

std::string BoolToText(bool v) { return v ? "True" : "False"; }

bool TextToBool(std::string_view s, bool def) {
  s = Trim(s);
  if (s.empty()) return def;
  switch (s.front()) {
  case 'T':
  case 't':
  case 'Y':
  case 'y':
    return true;
  case 'F':
  case 'f':
  case 'N':
  case 'n':
    return false;
  default:
    return def;
  }
}

std::string IntToText(int64_t v) { return std::to_string(v); }

std::optional<int64_t> ParseInt(std::string_view s) {
  s = Trim(s);
  if (s.empty()) return std::nullopt;
  bool negative = false;
  if (s.front() == '-' || s.front() == '+') {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (!s.empty() && s.front() == '$') {
    base = 16;
    s.remove_prefix(1);
  } else if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return std::nullopt;
  uint64_t value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, base);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  // Hexadecimal texts name bit patterns: "$FFFFFFFF" is a 32-bit -1 for colour values, so
  // keep the full unsigned range up to 64 bits and let callers narrow.
  if (base == 10 && value > static_cast<uint64_t>(INT64_MAX) + (negative ? 1 : 0))
    return std::nullopt;
  // Negate in unsigned arithmetic: "-9223372036854775808" is a valid value whose
  // magnitude does not fit a signed 64-bit integer.
  return static_cast<int64_t>(negative ? 0 - value : value);
}

int64_t TextToInt(std::string_view s, int64_t def) { return ParseInt(s).value_or(def); }

std::string FloatToText(double v, int digits) {
  if (v == 0 || std::isnan(v)) return "0";
  if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
  if (digits < 1) digits = 1;
  if (digits > 17) digits = 17;
  // Round to the significant digits first; the exponent of the rounded value decides the
  // notation (9.999995 becomes 10 and counts as exponent 1).
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", digits - 1, v);
  const char* e = std::strchr(buf, 'e');
  const int exponent = std::atoi(e + 1);
  if (exponent < -5 || exponent >= digits) {
    std::string mantissa = StripTrailingZeros(std::string(buf, static_cast<size_t>(e - buf)));
    return mantissa + "E" + std::to_string(exponent);
  }
  std::snprintf(buf, sizeof buf, "%.*f", std::max(0, digits - 1 - exponent), v);
  std::string s = StripTrailingZeros(buf);
  if (s == "-0") s = "0";
  return s;
}

std::optional<double> ParseFloat(std::string_view s) {
  s = Trim(s);
  if (s.empty()) return std::nullopt;
  std::string t(s);
  for (char& c : t)
    if (c == ',') c = '.';
  const char* first = t.data();
  if (*first == '+') ++first;
  double value = 0;
  const auto [end, ec] = std::from_chars(first, t.data() + t.size(), value);
  if (ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

double TextToFloat(std::string_view s, double def) { return ParseFloat(s).value_or(def); }

std::string SingleToText(float v) {
  if (v == 0) return "0";
  char buf[32];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return ec == std::errc() ? std::string(buf, end) : FloatToText(v, 9);
}

std::string HexToText(uint32_t v, int minDigits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", std::max(1, std::min(minDigits, 8)), v);
  return std::string("$") + buf;
}

std::string ColorToText(TColor c) {
  return HexToText(static_cast<uint32_t>(ColorToRGB(c)), 8);
}

std::string EncodeBase64(const Bytes& data, int lineLength) {
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4 + (lineLength > 0 ? data.size() / lineLength + 1 : 0));
  int column = 0;
  auto put = [&](char c) {
    if (lineLength > 0 && column == lineLength) {
      out += '\n';
      column = 0;
    }
    out += c;
    ++column;
  };
  size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    const uint32_t n = (uint32_t(data[i]) << 16) | (uint32_t(data[i + 1]) << 8) | data[i + 2];
    put(kAlphabet[(n >> 18) & 63]);
    put(kAlphabet[(n >> 12) & 63]);
    put(kAlphabet[(n >> 6) & 63]);
    put(kAlphabet[n & 63]);
  }
  const size_t rest = data.size() - i;
  if (rest > 0) {
    uint32_t n = uint32_t(data[i]) << 16;
    if (rest == 2) n |= uint32_t(data[i + 1]) << 8;
    put(kAlphabet[(n >> 18) & 63]);
    put(kAlphabet[(n >> 12) & 63]);
    put(rest == 2 ? kAlphabet[(n >> 6) & 63] : '=');
    put('=');
  }
  return out;
}

Bytes DecodeBase64(std::string_view text) {
  if (static_cast<int64_t>(text.size()) > limits::kMaxBase64Bytes / 3 * 4 + (8 << 20))
    throw EXmlError("Binary value too large");
  Bytes out;
  out.reserve(text.size() / 4 * 3);
  uint32_t acc = 0;
  int bits = 0;
  int padding = 0;
  for (const char c : text) {
    if (IsSpace(c)) continue;
    int v;
    if (c == '=') {
      ++padding;
      continue;
    }
    if (padding > 0) throw EXmlError("Invalid Base64 data");
    if (c >= 'A' && c <= 'Z')
      v = c - 'A';
    else if (c >= 'a' && c <= 'z')
      v = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      v = c - '0' + 52;
    else if (c == '+')
      v = 62;
    else if (c == '/')
      v = 63;
    else
      throw EXmlError("Invalid Base64 data");
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<uint8_t>((acc >> bits) & 0xFF));
    }
  }
  if (padding > 2) throw EXmlError("Invalid Base64 data");
  if (static_cast<int64_t>(out.size()) > limits::kMaxBase64Bytes)
    throw EXmlError("Binary value too large");
  return out;
}

std::string EncodeBinHex(const Bytes& data) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(data.size() * 2);
  for (const uint8_t b : data) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

Bytes DecodeBinHex(std::string_view text) {
  if (static_cast<int64_t>(text.size()) > limits::kMaxBase64Bytes * 2 + (8 << 20))
    throw EXmlError("Binary value too large");
  Bytes out;
  out.reserve(text.size() / 2);
  int high = -1;
  for (const char c : text) {
    if (IsSpace(c)) continue;
    const int d = HexDigit(c);
    if (d < 0) throw EXmlError("Invalid BinHex data");
    if (high < 0) {
      high = d;
    } else {
      out.push_back(static_cast<uint8_t>((high << 4) | d));
      high = -1;
    }
  }
  if (high >= 0) throw EXmlError("Invalid BinHex data");
  return out;
}

} // namespace dtp::xml
