// SimText: the fixed-width hexadecimal and strict number forms the simulator reads and writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Upper-case hexadecimal of fixed width.
std::string Hex4(uint32_t value);
std::string Hex8(uint32_t value);
std::string Hex16(uint64_t value);
// Upper-case hexadecimal without leading zeros ("0", "1", "FF").
std::string HexShort(uint32_t value);

// Hexadecimal digits only (either case), 1..maxDigits of them; false on anything else.
bool ParseHex(const std::string& text, unsigned maxDigits, uint64_t& value);
// Decimal digits only, value at most max; false on anything else.
bool ParseDecimal(const std::string& text, uint64_t max, uint64_t& value);

// The lines of a text without their line ends (LF or CRLF); a final line end adds no empty line.
std::vector<std::string> SplitSimLines(const std::string& text);
