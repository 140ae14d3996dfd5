// Log-on start seam, POSIX: XDG autostart entries ($XDG_CONFIG_HOME/autostart/N.desktop).
#include "platform/LogonStart.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <ostream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posixlib/Ascii.h"
#include "platform/posixlib/BaseDirectory.h"
#include "platform/posixlib/Files.h"

namespace {

// Characters that force an argument into double quotes in an Exec line.
bool IsReserved(char c) {
    return std::strchr(" \t\n\"'\\><~|&;$*?#()`", c) != nullptr && c != '\0';
}

// Characters escaped with a backslash inside a quoted argument.
bool IsQuotedEscape(char c) {
    return c == '"' || c == '`' || c == '$' || c == '\\';
}

bool IsUtf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t extra;
        uint32_t code;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size())
            return false;
        for (size_t k = 1; k <= extra; ++k) {
            const unsigned char d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (d & 0x3F);
        }
        const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (code < least[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

// True when the text can stand in a key file value: UTF-8 without NUL and without control
// characters other than the three that the string escapes can carry.
bool IsWritableText(const std::string& text) {
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t' && c != '\n' && c != '\r') || u == 0x7F)
            return false;
    }
    return IsUtf8(text);
}

std::string QuoteArgument(const std::string& argument) {
    bool quote = argument.empty();
    for (char c : argument)
        quote = quote || IsReserved(c);
    std::string out;
    if (quote)
        out += '"';
    for (char c : argument) {
        if (c == '%') {
            out += "%%";
            continue;
        }
        if (quote && IsQuotedEscape(c))
            out += '\\';
        out += c;
    }
    if (quote)
        out += '"';
    return out;
}

// The string escapes of the key file format; they apply on top of the Exec quoting.
std::string EscapeString(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    // A leading blank would be taken as part of the separator after '='.
    if (!out.empty() && out[0] == ' ')
        out = "\\s" + out.substr(1);
    return out;
}

bool UnescapeString(const std::string& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            return false;
        switch (text[i]) {
        case '\\':
            out += '\\';
            break;
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        default:
            return false;
        }
    }
    return true;
}

std::string AutostartFolder() {
    return qrxposix::XdgConfigHome() + "/autostart";
}

} // namespace

bool operator==(const LogonCommand& a, const LogonCommand& b) {
    return a.program == b.program && a.arguments == b.arguments;
}

std::ostream& operator<<(std::ostream& os, const LogonCommand& command) {
    os << "{program \"" << command.program << "\", arguments [";
    for (size_t i = 0; i < command.arguments.size(); ++i)
        os << (i ? ", " : "") << '"' << command.arguments[i] << '"';
    return os << "]}";
}

std::string LogonStartFile(const std::string& name) {
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string("/\0", 2)) != std::string::npos)
        return std::string();
    return AutostartFolder() + "/" + name + ".desktop";
}

bool DesktopExecValue(const LogonCommand& command, std::string& exec) {
    if (command.program.empty() || !IsWritableText(command.program))
        return false;
    std::string line = QuoteArgument(command.program);
    for (const std::string& argument : command.arguments) {
        if (!IsWritableText(argument))
            return false;
        line += ' ';
        line += QuoteArgument(argument);
    }
    exec = EscapeString(line);
    return true;
}

bool ParseDesktopExecValue(const std::string& exec, LogonCommand& command) {
    std::string line;
    if (!UnescapeString(exec, line))
        return false;
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ') {
            ++i;
            continue;
        }
        std::string word;
        if (line[i] == '"') {
            ++i;
            for (;;) {
                if (i == line.size())
                    return false;
                const char c = line[i++];
                if (c == '"')
                    break;
                if (c == '\\') {
                    if (i == line.size() || !IsQuotedEscape(line[i]))
                        return false;
                    word += line[i++];
                } else if (c == '%') {
                    if (i == line.size() || line[i] != '%')
                        return false;
                    word += '%';
                    ++i;
                } else {
                    word += c;
                }
            }
            // A quoted argument is quoted whole: a separator or the end must follow.
            if (i < line.size() && line[i] != ' ')
                return false;
        } else {
            while (i < line.size() && line[i] != ' ') {
                const char c = line[i++];
                if (c == '%') {
                    if (i == line.size() || line[i] != '%')
                        return false;
                    word += '%';
                    ++i;
                } else if (IsReserved(c)) {
                    return false;
                } else {
                    word += c;
                }
            }
        }
        words.push_back(word);
    }
    if (words.empty())
        return false;
    command.program = words.front();
    command.arguments.assign(words.begin() + 1, words.end());
    return true;
}

bool LogonStartExists(const std::string& name) {
    const std::string file = LogonStartFile(name);
    struct stat st;
    return !file.empty() && lstat(file.c_str(), &st) == 0;
}

bool WriteLogonStart(const std::string& name, const LogonCommand& command, std::string& error) {
    const std::string file = LogonStartFile(name);
    if (file.empty()) {
        error = "\"" + name + "\" cannot name a log-on entry file.";
        return false;
    }
    std::string exec;
    if (!DesktopExecValue(command, exec)) {
        error = "The command for " + qrxposix::VisibleControls(file) +
                " holds characters that a desktop entry cannot carry (control characters or "
                "text that is not UTF-8).";
        return false;
    }
    if (!IsWritableText(name)) {
        error = "\"" + name + "\" cannot name a log-on entry: it is not plain UTF-8 text.";
        return false;
    }
    const std::string entryName = EscapeString(name);
    const std::string content = "[Desktop Entry]\n"
                                "Type=Application\n"
                                "Name=" +
                                entryName +
                                "\n"
                                // The desktop skips the entry once the program is gone (its
                                // package removed), instead of failing to start it at every
                                // log-on.
                                "TryExec=" +
                                EscapeString(command.program) +
                                "\n"
                                "Exec=" +
                                exec +
                                "\n"
                                "Terminal=false\n"
                                "NoDisplay=true\n";

    // Replaced as a whole, so the desktop sees either the old or the new entry, and a failed
    // write keeps the old one. No lock keeps two programs from writing the entry at once (the
    // last one wins), so each writes a temporary file of its own.
    std::string cause, failed;
    if (!qrxposix::MakeFolders(AutostartFolder(), 0700, failed)) {
        cause = qrxposix::MakeFoldersCause(failed, errno);
    } else if (qrxposix::ReplaceFile(file, content, 0644, qrxposix::Durability::Flushed,
                                     qrxposix::Writers::Concurrent, cause)) {
        return true;
    }
    // The cause names folders from the environment, which may hold anything.
    error = "The log-on entry cannot be stored: " + qrxposix::VisibleControls(cause) + ".";
    return false;
}

bool RemoveLogonStart(const std::string& name, std::string& error) {
    const std::string file = LogonStartFile(name);
    if (file.empty())
        return true;
    if (unlink(file.c_str()) != 0 && errno != ENOENT && errno != ENOTDIR) {
        error =
            "Cannot remove " + qrxposix::VisibleControls(file) + ": " + std::strerror(errno) + ".";
        return false;
    }
    return true;
}

bool ReadLogonStart(const std::string& name, LogonCommand& command) {
    const std::string file = LogonStartFile(name);
    if (file.empty())
        return false;
    // An entry of ours takes a few hundred bytes; whatever else stands in its place is not read.
    constexpr uint64_t MaxEntryBytes = 64 * 1024;
    std::string text, cause;
    if (qrxposix::ReadRegularFile(file, MaxEntryBytes, text, cause) !=
        qrxposix::FileOutcome::Regular)
        return false;
    std::istringstream in(text);
    std::string line;
    bool inEntryGroup = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[') {
            inEntryGroup = line == "[Desktop Entry]";
            continue;
        }
        if (inEntryGroup && line.compare(0, 5, "Exec=") == 0)
            return ParseDesktopExecValue(line.substr(5), command);
    }
    return false;
}
