// Ascii: case and hexadecimal digits by the ASCII rules, whatever the locale. Names in the
// registry, the parameters of the command line and the simulator's register names compare
// without regard to the case of a to z only.
#pragma once

#include <string>

namespace qrxposix {

// The capital of a to z; every other byte as it is.
char UpperAscii(char c);
// The text with a to z upper-cased and every other byte kept.
std::string UpperAscii(std::string text);

// The value of a hexadecimal digit 0-9, a-f or A-F; -1 for any other byte.
int HexDigitValue(char c);

// The text with each control character (00h-1Fh, 7Fh) shown as \xNN, for a value from outside
// (the environment, a parameter) that a message quotes: a terminal gets no control sequence.
std::string VisibleControls(const std::string& text);

} // namespace qrxposix
