#pragma once
// The text encodings of values in the card file's XML. Writers produce the canonical
// form; readers are lenient in the ways the file format allows and fall back to the
// caller's default for anything they cannot read.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/color.h"

namespace dtp::xml {

using Bytes = std::vector<uint8_t>;

// Boolean: written "True"/"False"; read by the first character (T/Y true, F/N false).
std::string BoolToText(bool v);
bool TextToBool(std::string_view s, bool def);

// Integer: written in decimal; read decimal or "$"-prefixed hexadecimal.
std::string IntToText(int64_t v);
std::optional<int64_t> ParseInt(std::string_view s);
int64_t TextToInt(std::string_view s, int64_t def);

// Float: at most `digits` significant digits, no trailing zeros, "E" exponent only where
// plain notation would not do; read with "," accepted as the decimal separator.
std::string FloatToText(double v, int digits = 6);
std::optional<double> ParseFloat(std::string_view s);
double TextToFloat(std::string_view s, double def);

// The shortest text that reads back to exactly the same single-precision value; used
// where a value must survive a round trip through text (undo records).
std::string SingleToText(float v);

// Hex: "$" and upper-case hexadecimal digits, at least `minDigits` of them.
std::string HexToText(uint32_t v, int minDigits);

// Colour: "$" and 8 hex digits of 0x00BBGGRR with system colours resolved.
std::string ColorToText(TColor c);

// Base64 (standard alphabet, "=" padding). With lineLength > 0 the text is broken into
// lines of that many characters separated by "\n".
std::string EncodeBase64(const Bytes& data, int lineLength = 0);
// Whitespace is skipped; any other character outside the alphabet raises EXmlError.
Bytes DecodeBase64(std::string_view text);

// BinHex: two hexadecimal digits per byte; whitespace skipped.
std::string EncodeBinHex(const Bytes& data);
Bytes DecodeBinHex(std::string_view text);

} // namespace dtp::xml
