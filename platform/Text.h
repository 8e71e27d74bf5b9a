// Small text helpers shared by the readers of text formats (the .reg reader, the form reader).
#pragma once

#include <cstdint>
#include <string>

namespace plat {

// Value of a hexadecimal digit, or -1.
int HexDigit(char c);
// Appends the UTF-8 encoding of a code point.
void AppendUtf8(std::string& out, std::uint32_t cp);

}  // namespace plat
