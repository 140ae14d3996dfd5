// Ascii: case rules that ignore the locale.
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

} // namespace qrxposix
