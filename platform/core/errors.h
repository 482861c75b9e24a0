#pragma once
// The exception family of the engine. Messages are part of the contract: callers and
// tests compare them literally, so they are kept exactly as the engine states them.

#include <stdexcept>
#include <string>
#include <string_view>

namespace dtp {

class EDtpError : public std::runtime_error {
public:
  explicit EDtpError(const std::string& message) : std::runtime_error(message) {}
};

// Raised by the XML layer for malformed documents and breached limits.
class EXmlError : public EDtpError {
public:
  using EDtpError::EDtpError;
};

// Raised by readers of binary data (shape binary form, streams) whose fields lie.
class EStreamError : public EDtpError {
public:
  using EDtpError::EDtpError;
};

// Fills "%s" and "%d" placeholders from left to right with the given texts; "%%" is a
// literal percent sign. Placeholders without an argument stay as written.
std::string FormatMessage(std::string_view pattern, std::initializer_list<std::string_view> args);

} // namespace dtp
