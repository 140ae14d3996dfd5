// General: small text and bit helpers shared by both programs.
#include "General.h"

#include "platform/Process.h"
#include "platform/posixlib/Ascii.h"

namespace {
const char HexDigits[] = "0123456789ABCDEF";
}

std::string VisibleText(const std::string& text) {
    return qrxposix::VisibleControls(text);
}

std::string MakeUpper(const std::string& text) {
    return qrxposix::UpperAscii(text);
}

std::string WordToHex(uint16_t value) {
    std::string result(4, '0');
    for (int i = 3; i >= 0; --i) {
        result[static_cast<size_t>(i)] = HexDigits[value & 0xF];
        value = static_cast<uint16_t>(value >> 4);
    }
    return result;
}

std::string DWordToHex(uint32_t value) {
    return WordToHex(static_cast<uint16_t>(value >> 16)) +
           WordToHex(static_cast<uint16_t>(value & 0xFFFF));
}

uint32_t HexToInt(const std::string& text, int32_t& error) {
    const std::string upper = MakeUpper(text);
    error = 0;
    uint32_t accumulator = 0;
    for (size_t i = 0; i < upper.size(); ++i) {
        const int digit = qrxposix::HexDigitValue(upper[i]);
        if (digit < 0) {
            error = 1;
            return static_cast<uint32_t>(i + 1);
        }
        accumulator = accumulator * 16u + static_cast<uint32_t>(digit); // wraps modulo 2^32
    }
    return accumulator;
}

std::string StripLeadingZeros(const std::string& text) {
    size_t first = 0;
    while (text.size() - first >= 2 && text[first] == '0')
        ++first;
    return text.substr(first);
}

uint32_t ExtractBits(uint32_t value, uint16_t a, uint16_t b) {
    const unsigned low = a < b ? a : b;
    const unsigned high = a < b ? b : a;
    if (low > 31 || high > 31)
        return 0;
    const uint32_t shiftedUp = value << (31 - high);
    return shiftedUp >> (31 - high + low);
}

std::string DirectoryOfPath(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return std::string();
    return path.substr(0, slash + 1);
}

std::string ProgramDirectory() {
    return DirectoryOfPath(ProgramFileName());
}

std::string IntToText(int32_t value) {
    return std::to_string(value);
}

std::string BoolToDigit(bool value) {
    return value ? "1" : "0";
}
