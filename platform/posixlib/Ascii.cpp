// Ascii: case, hexadecimal digits and control characters by the ASCII rules.
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

namespace {

bool Continues(const std::string& text, size_t at, unsigned char low, unsigned char high) {
    if (at >= text.size())
        return false;
    const auto c = static_cast<unsigned char>(text[at]);
    return c >= low && c <= high;
}

// The length of the well-formed UTF-8 character at `at` (no overlong forms, no surrogates, at
// most U+10FFFF); 0 when the bytes there are no such character.
size_t Utf8Length(const std::string& text, size_t at) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        return Continues(text, at + 1, 0x80, 0xBF) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        const unsigned char low = c == 0xE0 ? 0xA0 : 0x80, high = c == 0xED ? 0x9F : 0xBF;
        return Continues(text, at + 1, low, high) && Continues(text, at + 2, 0x80, 0xBF) ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        const unsigned char low = c == 0xF0 ? 0x90 : 0x80, high = c == 0xF4 ? 0x8F : 0xBF;
        return Continues(text, at + 1, low, high) && Continues(text, at + 2, 0x80, 0xBF) &&
                       Continues(text, at + 3, 0x80, 0xBF)
                   ? 4
                   : 0;
    }
    return 0;
}

bool IsControl(unsigned code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

} // namespace

std::string VisibleControls(const std::string& text) {
    static const char Digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        const size_t length = Utf8Length(text, at);
        // An ASCII control, a raw byte outside UTF-8, or a C1 character written in UTF-8 (C2 and
        // its code); 0x100 for none.
        unsigned control = 0x100;
        if (length <= 1 && IsControl(c))
            control = c;
        else if (length == 2 && c == 0xC2 && IsControl(static_cast<unsigned char>(text[at + 1])))
            control = static_cast<unsigned char>(text[at + 1]);
        const size_t taken = length == 0 ? 1 : length;
        if (control < 0x100) {
            out += "\\x";
            out += Digits[control >> 4];
            out += Digits[control & 15];
        } else {
            out.append(text, at, taken);
        }
        at += taken;
    }
    return out;
}

} // namespace qrxposix
