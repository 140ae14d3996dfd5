// SimText: fixed-width hexadecimal and strict number parsing for the simulator.
#include "simulator/SimText.h"

#include <cstdio>

#include "platform/posixlib/Ascii.h"

namespace {

std::string Format(const char* format, unsigned long long value) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

} // namespace

std::string Hex4(uint32_t value) {
    return Format("%04llX", value & 0xFFFFu);
}

std::string Hex8(uint32_t value) {
    return Format("%08llX", value);
}

std::string Hex16(uint64_t value) {
    return Format("%016llX", value);
}

std::string HexShort(uint32_t value) {
    return Format("%llX", value);
}

bool ParseHex(const std::string& text, unsigned maxDigits, uint64_t& value) {
    if (text.empty() || text.size() > maxDigits || maxDigits > 16)
        return false;
    uint64_t result = 0;
    for (char c : text) {
        const int digit = qrxposix::HexDigitValue(c);
        if (digit < 0)
            return false;
        result = result << 4 | static_cast<unsigned>(digit);
    }
    value = result;
    return true;
}

bool ParseDecimal(const std::string& text, uint64_t max, uint64_t& value) {
    if (text.empty() || text.size() > 20)
        return false;
    uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (digit > max || result > (max - digit) / 10)
            return false;
        result = result * 10 + digit;
    }
    value = result;
    return true;
}

std::vector<std::string> SplitSimLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}
