// QtText: our text (UTF-8, in std::string or a literal) as Qt text.
#pragma once

#include <QString>
#include <string>

inline QString Q(const char* text) {
    return QString::fromUtf8(text);
}

inline QString Q(const std::string& text) {
    return QString::fromStdString(text);
}
