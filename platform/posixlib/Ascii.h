// Ascii: case, hexadecimal digits and control characters by the ASCII rules, whatever the
// locale. Names in the registry, the parameters of the command line and the simulator's register
// names compare without regard to the case of a to z only.
#pragma once

#include <string>

namespace qrxposix {

// The capital of a to z; every other byte as it is.
char UpperAscii(char c);
// The text with a to z upper-cased and every other byte kept.
std::string UpperAscii(std::string text);

// The value of a hexadecimal digit 0-9, a-f or A-F; -1 for any other byte.
int HexDigitValue(char c);

// The text with every control character shown as \x and its code in two upper-case hexadecimal
// digits (ESC as \x1B), everything else byte for byte. A message that quotes what a user or a
// file gave goes to a terminal, where a control character would act instead of being read: ESC
// and CSI start escape sequences that can rewrite the screen or the window title. Control
// characters are C0 (00-1F), DEL (7F) and C1 (80-9F), the last whether written in UTF-8
// (C2 80 to C2 9F) or as a raw byte outside any UTF-8 sequence, which terminals in an 8-bit
// character set take as C1. Bytes of well-formed UTF-8 characters, and other bytes that are no
// UTF-8 (Windows-1252 letters, say), stay as they are.
std::string VisibleControls(const std::string& text);

} // namespace qrxposix
