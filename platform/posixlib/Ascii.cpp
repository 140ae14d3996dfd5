// Ascii: case and hexadecimal digits by the ASCII rules.
#include "platform/posixlib/Ascii.h"

namespace qrxposix {

char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string UpperAscii(std::string text) {
    for (char& c : text)
        c = UpperAscii(c);
    return text;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string VisibleControls(const std::string& text) {
    static const char Digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            out += std::string("\\x") + Digits[byte >> 4] + Digits[byte & 15];
        else
            out += c;
    }
    return out;
}

} // namespace qrxposix
