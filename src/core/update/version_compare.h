#pragma once

#include <string_view>

namespace taskbell {

// Orders version texts the way people read them: runs of decimal digits compare by numeric value, every
// other character compares one by one, and a text that is a prefix of the other orders first
// (1.9.3 < 1.10.0, 1.2 < 1.2.0). Returns a negative number, zero or a positive number.
int compareVersions(std::string_view a, std::string_view b);

// True when candidate orders strictly after running.
bool isNewerVersion(std::string_view candidate, std::string_view running);

} // namespace taskbell
