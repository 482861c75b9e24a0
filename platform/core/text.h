#pragma once
// The one place where UTF-8 and UTF-16 meet. Invalid sequences become U+FFFD.

#include <string>
#include <string_view>

namespace dtp {

std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s);

// ASCII-only case folding; element and property names are ASCII.
bool SameText(std::string_view a, std::string_view b);
std::string LowerCase(std::string_view s);

} // namespace dtp
