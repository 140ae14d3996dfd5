// QtText: our text (UTF-8, in std::string or a literal) as Qt text, and text of unknown encoding
// shown readably.
#pragma once

#include <QString>
#include <string>

inline QString Q(const char* text) {
    return QString::fromUtf8(text);
}

inline QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// Bytes that may not be UTF-8, such as a profile name from a REGEDIT4 file, which Windows writes
// in its ANSI code page: each valid UTF-8 sequence reads as UTF-8 and every other byte as
// Windows-1252. Only for showing: the bytes themselves are kept wherever they go back.
QString ReadableText(const std::string& bytes);
