// RegistryText: the REGEDIT4 text of the registry file, read into a key tree and written from
// one, exactly as platform/Registry.h describes the format.
#include "platform/posix/RegistryText.h"

#include <algorithm>
#include <cstring>
#include <ostream>

#include "platform/posixlib/Ascii.h"
#include "platform/posixlib/Files.h"

namespace {

constexpr const char* RootName = "HKEY_CURRENT_USER";
constexpr const char* Header = "REGEDIT4";

// --- Reading ---

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

void TrimRight(std::string& s) {
    while (!s.empty() && IsBlank(s.back()))
        s.pop_back();
}

void TrimLeft(std::string& s) {
    size_t i = 0;
    while (i < s.size() && IsBlank(s[i]))
        ++i;
    s.erase(0, i);
}

// 1 to 8 hex digits of either case, nothing else.
bool ParseHexNumber(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 8)
        return false;
    value = 0;
    for (char c : text) {
        const int d = qrxposix::HexDigitValue(c);
        if (d < 0)
            return false;
        value = (value << 4) | static_cast<uint32_t>(d);
    }
    return true;
}

bool StartsWithNoCase(const std::string& text, size_t pos, const char* prefix) {
    const size_t n = std::strlen(prefix);
    return text.size() - pos >= n && SameRegistryName(text.substr(pos, n), prefix);
}

constexpr const char* VersionFiveHeader = "Windows Registry Editor Version 5.00";

// The name iconv knows a UTF-16 text by, or null for a text in an 8-bit encoding: a byte-order
// mark, or a first line that reads as one of the registry editor's headers in UTF-16.
const char* Utf16Encoding(const std::string& text) {
    if (text.compare(0, 2, "\xFF\xFE") == 0 || text.compare(0, 2, "\xFE\xFF") == 0)
        return "UTF-16"; // iconv reads the mark
    for (const bool bigEndian : {false, true}) {
        std::string ascii;
        for (size_t i = 0; i + 1 < text.size() && ascii.size() < 40; i += 2) {
            const char low = bigEndian ? text[i + 1] : text[i];
            if ((bigEndian ? text[i] : text[i + 1]) != '\0' || low == '\0')
                break;
            ascii += low;
        }
        if (ascii.rfind(Header, 0) == 0 || ascii.rfind(VersionFiveHeader, 0) == 0)
            return bigEndian ? "UTF-16BE" : "UTF-16LE";
    }
    return nullptr;
}

std::string Quote(const std::string& text) {
    return "\"" + text + "\"";
}

class Parser {
public:
    Parser(const std::string& text, const std::string& fileName)
        : text_(text), fileName_(fileName) {}

    std::unique_ptr<RegistryKeyNode> Parse() {
        auto root = std::make_unique<RegistryKeyNode>();
        if (text_.empty())
            return root; // an empty file holds nothing that could be lost
        if (text_.compare(0, 3, "\xEF\xBB\xBF") == 0)
            pos_ = 3;
        std::string line;
        NextLine(line);
        TrimRight(line);
        if (line != Header) {
            RefuseLaterFormats(line);
            Fail(1, "the file does not begin with the line REGEDIT4");
        }
        RegistryKeyNode* current = nullptr;
        while (NextLine(line)) {
            TrimLeft(line);
            if (line.empty() || line[0] == ';')
                continue;
            if (line[0] == '[')
                current = &ParseKeyLine(line, *root);
            else if (line[0] == '"' || line[0] == '@') {
                if (!current)
                    Fail(lineNo_, "a value stands before the first key");
                ParseValueLine(line, *current);
            } else
                Fail(lineNo_, "this is neither a key \"[...]\" nor a value \"name\"=data");
        }
        return root;
    }

private:
    // The next physical line without its line end (LF or CRLF).
    bool NextLine(std::string& line) {
        if (pos_ >= text_.size())
            return false;
        size_t end = text_.find('\n', pos_);
        const size_t next = end == std::string::npos ? text_.size() : end + 1;
        if (end == std::string::npos)
            end = text_.size();
        line.assign(text_, pos_, end - pos_);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        pos_ = next;
        ++lineNo_;
        return true;
    }

    [[noreturn]] void Fail(size_t line, const std::string& cause,
                           const std::string& remedy = "correct that line or move the file "
                                                       "away") const {
        throw RegistryError(RegistryErrorKind::FileUnusable,
                            "The registry file " + fileName_ + " cannot be read: line " +
                                std::to_string(line) + ": " + cause +
                                ". The file is left unchanged; " + remedy + ".");
    }

    // The registry editor of later Windows exports "Windows Registry Editor Version 5.00" files,
    // in UTF-16; a user who brings one along is told what it is and how to make it REGEDIT4.
    void RefuseLaterFormats(const std::string& firstLine) const {
        const std::string exportAgain = "export it again as REGEDIT4 (\"Win9x/NT4 Registration "
                                        "Files\" in the registry editor), or ";
        if (const char* encoding = Utf16Encoding(text_))
            Fail(1,
                 "the file is in UTF-16, as the registry editor writes \"" +
                     std::string(VersionFiveHeader) + "\" files, not REGEDIT4",
                 exportAgain + "convert it with iconv -f " + encoding +
                     " -t WINDOWS-1252 and change its first line to REGEDIT4");
        if (firstLine == VersionFiveHeader)
            Fail(1, "the file is a \"" + std::string(VersionFiveHeader) + "\" file, not REGEDIT4",
                 exportAgain + "change its first line to REGEDIT4");
    }

    RegistryKeyNode& ParseKeyLine(std::string line, RegistryKeyNode& root) {
        TrimRight(line);
        if (line.back() != ']')
            Fail(lineNo_, "a key line must end with \"]\"");
        std::string path = line.substr(1, line.size() - 2);
        if (!path.empty() && path[0] == '-')
            Fail(lineNo_, "a key deletion \"[-...]\" has no place in a stored registry");
        // Counted before the path is split: a hostile line may hold a million names.
        if (static_cast<size_t>(std::count(path.begin(), path.end(), '\\')) > MaxRegistryKeyDepth)
            Fail(lineNo_, "the key is nested deeper than " + std::to_string(MaxRegistryKeyDepth) +
                              " levels, the most a registry holds");
        // Every key's line repeats the path of the keys above it, and the registry writes a key
        // right after its parent: what this line shares with the last one was read and walked
        // there. Walking it again from the root would make a key n levels deep cost n squared
        // lookups.
        RegistryKeyNode* key = &root;
        std::vector<std::string> names;
        if (lastKey_ && path.size() > lastPath_.size() && path[lastPath_.size()] == '\\' &&
            path.compare(0, lastPath_.size(), lastPath_) == 0) {
            key = lastKey_;
            names = SplitRegistryPath(path.substr(lastPath_.size() + 1));
        } else {
            names = SplitRegistryPath(path);
            if (!SameRegistryName(names.front(), RootName))
                Fail(lineNo_, "the key is not under HKEY_CURRENT_USER, the only root kept here");
            names.erase(names.begin());
        }
        for (const std::string& name : names)
            if (!ValidRegistryKeyName(name))
                Fail(lineNo_, "a key name is empty or holds a control character");
        std::string stored;
        for (const std::string& name : names) {
            bool created = false;
            key = &key->Child(name, stored, created);
            keys_ += created ? 1 : 0;
        }
        if (keys_ > MaxRegistryKeys)
            Fail(lineNo_, "the file holds more than " + std::to_string(MaxRegistryKeys) +
                              " keys, far more than a registry of profiles takes");
        lastPath_ = std::move(path);
        lastKey_ = key;
        return *key;
    }

    // A quoted text starting at line[pos] (the opening quote); pos ends after the closing quote.
    std::string ParseQuoted(const std::string& line, size_t& pos, const char* what) const {
        std::string out;
        for (size_t i = pos + 1; i < line.size(); ++i) {
            const char c = line[i];
            if (c == '"') {
                pos = i + 1;
                return out;
            }
            if (c == '\\') {
                if (i + 1 >= line.size() || (line[i + 1] != '\\' && line[i + 1] != '"'))
                    Fail(lineNo_, std::string("a backslash in ") + what +
                                      " must be written \\\\ (only \\\\ and \\\" are escapes)");
                out += line[++i];
            } else
                out += c;
        }
        Fail(lineNo_, std::string(what) + " has no closing quote");
    }

    void ParseValueLine(const std::string& line, RegistryKeyNode& key) {
        const size_t valueLine = lineNo_;
        size_t pos = 0;
        std::string name;
        if (line[0] == '@')
            pos = 1;
        else
            name = ParseQuoted(line, pos, "the value name");
        if (!StorableRegistryName(name))
            Fail(valueLine, "a value name holds a control character");
        while (pos < line.size() && IsBlank(line[pos]))
            ++pos;
        if (pos >= line.size() || line[pos] != '=')
            Fail(valueLine, "\"=\" must follow the value name");
        ++pos;
        while (pos < line.size() && IsBlank(line[pos]))
            ++pos;
        const std::string shown = name.empty() ? "@" : Quote(name);

        RegistryValue value;
        if (pos < line.size() && line[pos] == '"') {
            std::string text = ParseQuoted(line, pos, "the text");
            std::string rest = line.substr(pos);
            TrimRight(rest);
            if (!rest.empty())
                Fail(valueLine, "something follows the closing quote of value " + shown);
            value.Type = RegistryValueType::String;
            value.Data = text + '\0';
        } else if (StartsWithNoCase(line, pos, "dword:")) {
            std::string digits = line.substr(pos + 6);
            TrimRight(digits);
            uint32_t number = 0;
            if (!ParseHexNumber(digits, number))
                Fail(valueLine, "value " + shown + " needs 1 to 8 hex digits after dword:");
            value.Type = RegistryValueType::DWord;
            value.Data = DWordData(number);
        } else if (StartsWithNoCase(line, pos, "hex:") || StartsWithNoCase(line, pos, "hex(")) {
            pos += 3;
            value.Type = RegistryValueType::Binary;
            if (line[pos] == '(') {
                const size_t close = line.find(')', pos);
                uint32_t type = 0;
                if (close == std::string::npos ||
                    !ParseHexNumber(line.substr(pos + 1, close - pos - 1), type) ||
                    close + 1 >= line.size() || line[close + 1] != ':')
                    Fail(valueLine, "value " + shown + " needs a type written hex(N): in hex");
                value.Type = static_cast<RegistryValueType>(type);
                pos = close + 1;
            }
            value.Data = ParseBytes(line.substr(pos + 1), valueLine, shown);
        } else if (pos < line.size() && line[pos] == '-')
            Fail(valueLine, "a value deletion \"=-\" has no place in a stored registry");
        else
            Fail(valueLine,
                 "the data of value " + shown + " is none of \"text\", dword:, hex: or hex(N):");
        key.SetValue(name, value);
    }

    // Comma-separated bytes; a line ending with a backslash continues on the next one.
    std::string ParseBytes(std::string list, size_t valueLine, const std::string& shown) {
        for (;;) {
            TrimRight(list);
            if (list.empty() || list.back() != '\\')
                break;
            list.pop_back();
            std::string next;
            if (!NextLine(next))
                Fail(valueLine,
                     "the hex data of value " + shown + " runs past the end of the file");
            TrimLeft(next);
            list += next;
        }
        std::string bytes;
        if (list.empty())
            return bytes;
        size_t start = 0;
        for (;;) {
            const size_t comma = list.find(',', start);
            std::string item =
                list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            TrimLeft(item);
            TrimRight(item);
            const bool last = comma == std::string::npos;
            if (item.empty() && last && start > 0)
                break; // the trailing comma the registry editor leaves before a line break
            uint32_t byte = 0;
            if (item.size() > 2 || !ParseHexNumber(item, byte))
                Fail(valueLine, "the hex data of value " + shown + " holds \"" + item +
                                    "\", which is not a byte in hex");
            bytes += static_cast<char>(byte);
            if (last)
                break;
            start = comma + 1;
        }
        return bytes;
    }

    const std::string& text_;
    const std::string& fileName_;
    size_t pos_ = 0;
    size_t lineNo_ = 0;
    size_t keys_ = 0;
    // The last key line's path and its key.
    std::string lastPath_;
    RegistryKeyNode* lastKey_ = nullptr;
};

// --- Writing ---

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}

const char* const LowerHex = "0123456789abcdef";

std::string HexByte(unsigned char b) {
    return {LowerHex[b >> 4], LowerHex[b & 15]};
}

std::string HexNumber(uint32_t value, int minDigits) {
    std::string out;
    do {
        out.insert(out.begin(), LowerHex[value & 15]);
        value >>= 4;
    } while (value != 0 || static_cast<int>(out.size()) < minDigits);
    return out;
}

// REG_SZ goes out as a quoted text only when reading that text back gives the same bytes.
bool QuotableString(const RegistryValue& value) {
    const std::string& d = value.Data;
    return value.Type == RegistryValueType::String && !d.empty() && d.back() == '\0' &&
           d.find_first_of(std::string("\r\n\0", 3)) == d.size() - 1;
}

void FormatValue(std::string& out, const std::string& name, const RegistryValue& value) {
    std::string line = name.empty() ? "@=" : Quote(Escape(name)) + "=";
    if (QuotableString(value)) {
        out += line + Quote(Escape(value.Data.substr(0, value.Data.size() - 1))) + "\n";
        return;
    }
    if (value.Type == RegistryValueType::DWord && value.Data.size() == 4) {
        out += line + "dword:" + HexNumber(DWordFromData(value.Data), 8) + "\n";
        return;
    }
    line += value.Type == RegistryValueType::Binary
                ? std::string("hex:")
                : "hex(" + HexNumber(static_cast<uint32_t>(value.Type), 1) + "):";
    out += line;
    // The registry editor's wrap: after each byte and its comma, a line that has reached 77
    // columns ends with a backslash and the data goes on after a two-blank indent. The last byte
    // has no comma and never wraps, so no line grows past 80 columns.
    size_t column = line.size();
    for (size_t i = 0; i < value.Data.size(); ++i) {
        out += HexByte(static_cast<unsigned char>(value.Data[i]));
        if (i + 1 == value.Data.size())
            break;
        out += ',';
        column += 3;
        if (column >= 77) {
            out += "\\\n  ";
            column = 2;
        }
    }
    out += "\n";
}

void FormatSection(std::string& out, const RegistryKeyNode& key, const std::string& path) {
    out += "[" + path + "]\n";
    for (const auto& v : key.values)
        FormatValue(out, v.first, v.second);
    out += "\n";
}
} // namespace

std::unique_ptr<RegistryKeyNode> ParseRegistryText(const std::string& text,
                                                   const std::string& fileName) {
    return Parser(text, fileName).Parse();
}

bool FormatRegistryText(const RegistryKeyNode& root, uint64_t limit, std::string& out) {
    out = std::string(Header) + "\n\n";
    if (!root.values.empty())
        FormatSection(out, root, RootName);
    // Depth first, parents before children, without recursion: each level on the stack holds
    // the next subkey to visit and the length of its path.
    struct Level {
        const RegistryKeyNode* key;
        decltype(RegistryKeyNode::subkeys)::const_iterator next;
        size_t pathLength;
    };
    std::string path = RootName;
    std::vector<Level> stack{{&root, root.subkeys.begin(), path.size()}};
    while (!stack.empty() && out.size() <= limit) {
        Level& level = stack.back();
        if (level.next == level.key->subkeys.end()) {
            stack.pop_back();
            continue;
        }
        const auto& sub = *level.next++;
        path.resize(level.pathLength);
        path += '\\';
        path += sub.first;
        FormatSection(out, *sub.second, path);
        stack.push_back({sub.second.get(), sub.second->subkeys.begin(), path.size()});
    }
    return out.size() <= limit;
}

std::string CanonicalRegistryText(const std::string& text, const std::string& fileName) {
    std::string out;
    if (!FormatRegistryText(*ParseRegistryText(text, fileName), MaxRegistryFileBytes, out))
        throw RegistryError(RegistryErrorKind::FileUnusable,
                            "The registry file " + fileName +
                                " cannot be written: " + RegistryTooLargeToWrite() + ".");
    return out;
}

std::string RegistryTooLargeToWrite() {
    return "it would grow past " + qrxposix::SizeText(MaxRegistryFileBytes) +
           ", the most a registry file may hold, once every key is written with its whole path; "
           "remove the keys that nest deep below long names, or move the file away";
}

std::ostream& operator<<(std::ostream& os, const RegistryValue& value) {
    os << "{Type " << static_cast<uint32_t>(value.Type) << ", Data";
    for (char c : value.Data)
        os << ' ' << HexByte(static_cast<unsigned char>(c));
    return os << '}';
}
