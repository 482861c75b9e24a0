#pragma once
// The small INI file beside a card ("Karte.wqx2" for "Karte.wqx") that remembers the card
// format the card was designed for: section "SETUP", key "ART".

#include <string>

namespace dtp {

// The companion's name: the card file's full name with "2" appended.
std::string CardFormatFileName(const std::string& cardFileName);
// "ART" of the companion; 0 when the file, the section or the key is missing or the value
// is not a number.
int ReadCardFormatIndex(const std::string& cardFileName);
// Sets "ART" in the companion, keeping its other lines; raises EDtpError when the file
// cannot be written.
void WriteCardFormatIndex(const std::string& cardFileName, int index);

} // namespace dtp
