// General: small text and bit helpers shared by both programs.
#pragma once

#include <cstdint>
#include <string>

// Upper-cases the ASCII letters a-z only; every other byte is kept as it is.
std::string MakeUpper(const std::string& text);

// The text with each control character (C0, DEL, C1) shown as \x and two hexadecimal digits.
// Every message that quotes a parameter, a name or other text a user gave passes that text
// through here, so that it reaches a terminal as text, never as an escape sequence.
std::string VisibleText(const std::string& text);

// Exactly 4 (WordToHex) or 8 (DWordToHex) upper-case hexadecimal digits.
std::string WordToHex(uint16_t value);
std::string DWordToHex(uint32_t value);

// Parses hexadecimal digits (either case), wrapping modulo 2^32. On a character that is not a
// digit, sets error to 1 and returns that character's 1-based position instead of a value.
// The empty text gives 0 with error 0.
uint32_t HexToInt(const std::string& text, int32_t& error);

// Removes leading '0' characters but always keeps at least one character.
std::string StripLeadingZeros(const std::string& text);

// Bits low..high of value (inclusive), shifted down to bit 0; a and b may come in either order.
uint32_t ExtractBits(uint32_t value, uint16_t a, uint16_t b);

// The running program's directory with its trailing separator, or "" when the path has none.
std::string ProgramDirectory();

// The directory part of a program path, trailing separator kept (ProgramDirectory's rule).
std::string DirectoryOfPath(const std::string& path);

std::string IntToText(int32_t value);
std::string BoolToDigit(bool value);
