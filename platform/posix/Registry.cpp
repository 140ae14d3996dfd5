// Registry seam, POSIX: HKEY_CURRENT_USER as one REGEDIT4 text file (format and rules in
// platform/Registry.h).
#include "platform/Registry.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "platform/posixlib/Ascii.h"
#include "platform/posixlib/BaseDirectory.h"
#include "platform/posixlib/Files.h"

namespace {

constexpr const char* RootName = "HKEY_CURRENT_USER";
constexpr const char* Header = "REGEDIT4";

using qrxposix::UpperAscii;

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (UpperAscii(a[i]) != UpperAscii(b[i]))
            return false;
    return true;
}

// Windows orders keys by their upper-cased names; this gives the same order for ASCII names
// ("A_B" after "AB", since '_' sorts after the capitals).
struct NameLess {
    bool operator()(const std::string& a, const std::string& b) const {
        const size_t n = std::min(a.size(), b.size());
        for (size_t i = 0; i < n; ++i) {
            const auto x = static_cast<unsigned char>(UpperAscii(a[i]));
            const auto y = static_cast<unsigned char>(UpperAscii(b[i]));
            if (x != y)
                return x < y;
        }
        return a.size() < b.size();
    }
};

// A name the file can hold: a line break would end the line it stands in, and Windows names
// hold no NUL.
bool StorableName(const std::string& name) {
    return name.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

bool ValidKeyName(const std::string& name) {
    return !name.empty() && name.find('\\') == std::string::npos && StorableName(name);
}

} // namespace

// One key: its values and its subkeys.
struct RegistryKeyNode {
    std::vector<std::pair<std::string, RegistryValue>> values; // in creation order
    std::map<std::string, std::unique_ptr<RegistryKeyNode>, NameLess> subkeys;

    RegistryValue* FindValue(const std::string& name) {
        for (auto& v : values)
            if (SameName(v.first, name))
                return &v.second;
        return nullptr;
    }

    // True when this changed anything; an existing value keeps its place and its name's case.
    bool SetValue(const std::string& name, const RegistryValue& value) {
        if (RegistryValue* existing = FindValue(name)) {
            if (*existing == value)
                return false;
            *existing = value;
            return true;
        }
        values.emplace_back(name, value);
        return true;
    }

    bool DeleteValue(const std::string& name) {
        for (auto it = values.begin(); it != values.end(); ++it)
            if (SameName(it->first, name)) {
                values.erase(it);
                return true;
            }
        return false;
    }

    RegistryKeyNode& Child(const std::string& name, std::string& stored, bool& created) {
        auto it = subkeys.find(name);
        if (it == subkeys.end()) {
            it = subkeys.emplace(name, std::make_unique<RegistryKeyNode>()).first;
            created = true;
        }
        stored = it->first;
        return *it->second;
    }
};

namespace {

using Key = RegistryKeyNode;

// The key at path (names matched without regard to case), or null; stored receives the names
// as the file keeps them.
Key* Find(Key& root, const std::vector<std::string>& path,
          std::vector<std::string>* stored = nullptr) {
    Key* key = &root;
    if (stored)
        stored->clear();
    for (const std::string& name : path) {
        auto it = key->subkeys.find(name);
        if (it == key->subkeys.end())
            return nullptr;
        if (stored)
            stored->push_back(it->first);
        key = it->second.get();
    }
    return key;
}

// Creates what is missing of path; true when anything was created.
bool Create(Key& root, const std::vector<std::string>& path, std::vector<std::string>& stored) {
    bool created = false;
    Key* key = &root;
    stored.clear();
    for (const std::string& name : path) {
        std::string s;
        key = &key->Child(name, s, created);
        stored.push_back(s);
    }
    return created;
}

// --- Reading the file ---

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

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// 1 to 8 hex digits of either case, nothing else.
bool ParseHexNumber(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 8)
        return false;
    value = 0;
    for (char c : text) {
        const int d = HexDigit(c);
        if (d < 0)
            return false;
        value = (value << 4) | static_cast<uint32_t>(d);
    }
    return true;
}

bool StartsWithNoCase(const std::string& text, size_t pos, const char* prefix) {
    const size_t n = std::strlen(prefix);
    return text.size() - pos >= n && SameName(text.substr(pos, n), prefix);
}

std::string Quote(const std::string& text) {
    return "\"" + text + "\"";
}

class Parser {
public:
    Parser(const std::string& text, const std::string& fileName)
        : text_(text), fileName_(fileName) {}

    std::unique_ptr<Key> Parse() {
        auto root = std::make_unique<Key>();
        if (text_.empty())
            return root; // an empty file holds nothing that could be lost
        if (text_.compare(0, 3, "\xEF\xBB\xBF") == 0)
            pos_ = 3;
        std::string line;
        NextLine(line);
        TrimRight(line);
        if (line != Header)
            Fail(1, "the file does not begin with the line REGEDIT4");
        Key* current = nullptr;
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
                Fail(lineNo_, "this is neither a key \"[...]\" nor a value \"name\"=...");
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

    [[noreturn]] void Fail(size_t line, const std::string& cause) const {
        throw RegistryError(RegistryErrorKind::FileUnusable,
                            "The registry file " + fileName_ + " cannot be read: line " +
                                std::to_string(line) + ": " + cause +
                                ". The file is left unchanged; correct that line or move the "
                                "file away.");
    }

    Key& ParseKeyLine(std::string line, Key& root) {
        TrimRight(line);
        if (line.back() != ']')
            Fail(lineNo_, "a key line must end with \"]\"");
        const std::string path = line.substr(1, line.size() - 2);
        if (!path.empty() && path[0] == '-')
            Fail(lineNo_, "a key deletion \"[-...]\" has no place in a stored registry");
        std::vector<std::string> names;
        size_t start = 0;
        for (;;) {
            const size_t slash = path.find('\\', start);
            names.push_back(
                path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
            if (slash == std::string::npos)
                break;
            start = slash + 1;
        }
        if (!SameName(names.front(), RootName))
            Fail(lineNo_, "the key is not under HKEY_CURRENT_USER, the only root kept here");
        names.erase(names.begin());
        for (const std::string& name : names)
            if (!ValidKeyName(name))
                Fail(lineNo_, "a key name is empty or holds a control character");
        std::vector<std::string> stored;
        Create(root, names, stored);
        return *Find(root, names);
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

    void ParseValueLine(const std::string& line, Key& key) {
        const size_t valueLine = lineNo_;
        size_t pos = 0;
        std::string name;
        if (line[0] == '@')
            pos = 1;
        else
            name = ParseQuoted(line, pos, "the value name");
        if (!StorableName(name))
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
            for (int i = 0; i < 4; ++i)
                value.Data += static_cast<char>((number >> (8 * i)) & 0xFF);
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
};

// --- Writing the file ---

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
        uint32_t number = 0;
        for (int i = 3; i >= 0; --i)
            number = (number << 8) | static_cast<unsigned char>(value.Data[i]);
        out += line + "dword:" + HexNumber(number, 8) + "\n";
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

void FormatKey(std::string& out, const Key& key, const std::string& path, bool isRoot) {
    if (!isRoot || !key.values.empty()) {
        out += "[" + path + "]\n";
        for (const auto& v : key.values)
            FormatValue(out, v.first, v.second);
        out += "\n";
    }
    for (const auto& sub : key.subkeys)
        FormatKey(out, *sub.second, path + "\\" + sub.first, false);
}

std::string Format(const Key& root) {
    std::string out = std::string(Header) + "\n\n";
    FormatKey(out, root, RootName, true);
    return out;
}

// --- The file and its transactions ---

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    void Reset(int fd) {
        Close();
        fd_ = fd;
    }
    // Closes now and reports whether the close succeeded (a deferred write error shows here).
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

std::string ErrorText(int error) {
    return std::strerror(error);
}

// A new registry file is private to the user, as the profiles in it are.
constexpr mode_t NewRegistryFileMode = 0600;

std::unique_ptr<Key> LoadFile(const std::string& file) {
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return std::make_unique<Key>(); // no file yet: an empty registry
        throw RegistryError(RegistryErrorKind::FileUnusable,
                            "The registry file " + file + " cannot be opened: " + ErrorText(errno) +
                                ". Check its permissions.");
    }
    std::string text;
    if (!qrxposix::ReadAll(fd.get(), text))
        throw RegistryError(RegistryErrorKind::FileUnusable,
                            "The registry file " + file + " cannot be read: " + ErrorText(errno) +
                                ". Check that it is a readable file.");
    return Parser(text, file).Parse();
}

// Writers that were killed leave their temporary files behind; whoever holds the lock next
// knows no other writer is at work and removes them.
// Takes the exclusive lock that every writer holds across its read-modify-write. It lives in a
// file of its own: the registry file is replaced on every change, and a lock on a replaced file
// would guard nothing.
bool Lock(const std::string& file, FileDescriptor& lock, std::string& cause) {
    std::string failed;
    if (!qrxposix::MakeFolders(qrxposix::DirectoryOf(file), 0700, failed)) {
        cause = qrxposix::MakeFoldersCause(failed, errno);
        return false;
    }
    const std::string lockName = file + ".lock";
    lock.Reset(::open(lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (lock.get() < 0) {
        cause = "cannot open the lock file " + lockName + ": " + ErrorText(errno);
        return false;
    }
    while (::flock(lock.get(), LOCK_EX) != 0)
        if (errno != EINTR) {
            cause = "cannot lock " + lockName + ": " + ErrorText(errno);
            return false;
        }
    return true;
}

// The handle whose update holds this program's lock. flock locks conflict even within one
// program, so another handle that wrote now would wait forever.
const Registry* g_updating = nullptr;

void CheckNoUpdateElsewhere(const Registry* self) {
    if (g_updating && g_updating != self)
        throw std::logic_error("the registry is changed through one handle while another handle "
                               "of this program has an update open");
}

// One read-modify-write under the exclusive lock. change says whether it changed anything; only
// then is the file rewritten. False (with cause) when the file could not be written; a file that
// cannot be read or parsed throws and stays as it is.
bool Transact(const std::string& file, const std::function<bool(Key&)>& change,
              std::string& cause) {
    FileDescriptor lock;
    if (!Lock(file, lock, cause))
        return false;
    std::unique_ptr<Key> root = LoadFile(file);
    if (!change(*root))
        return true;
    return qrxposix::ReplaceFile(file, Format(*root), NewRegistryFileMode,
                                 qrxposix::Durability::Flushed, cause);
}

std::string ValueErrorText(RegistryErrorKind kind, const std::string& name) {
    switch (kind) {
    case RegistryErrorKind::InvalidDataType:
        return "Invalid data type for '" + name + "'";
    case RegistryErrorKind::GetDataFailed:
        return "Failed to get data for '" + name + "'";
    default:
        return "Failed to set data for '" + name + "'";
    }
}

RegistryError ValueError(RegistryErrorKind kind, const std::string& name,
                         const std::string& cause = std::string()) {
    return RegistryError(kind, ValueErrorText(kind, name), name, cause);
}

std::string JoinPath(const std::vector<std::string>& names) {
    std::string path;
    for (const std::string& name : names)
        path += "\\" + name;
    return path.empty() ? "\\" : path;
}

} // namespace

// An open update: the lock, the copy it works on, and what the write at its end must report.
struct RegistryUpdate {
    FileDescriptor lock;
    std::unique_ptr<Key> root; // null when the lock could not be had
    std::string failure;       // why not
    bool changed = false;
    std::string firstValue; // the first value written, named when the final write fails
    bool anyValue = false;
};

bool operator==(const RegistryValue& a, const RegistryValue& b) {
    return a.Type == b.Type && a.Data == b.Data;
}

std::ostream& operator<<(std::ostream& os, const RegistryValue& value) {
    os << "{Type " << static_cast<uint32_t>(value.Type) << ", Data";
    for (char c : value.Data)
        os << ' ' << HexByte(static_cast<unsigned char>(c));
    return os << '}';
}

RegistryError::RegistryError(RegistryErrorKind kind, const std::string& message,
                             const std::string& valueName, const std::string& cause)
    : std::runtime_error(message), kind_(kind), valueName_(valueName), cause_(cause) {}

std::string RegistryFilePath() {
    return qrxposix::XdgConfigHome() + "/quorix/registry.reg";
}

std::string CanonicalRegistryText(const std::string& Text, const std::string& FileName) {
    return Format(*Parser(Text, FileName).Parse());
}

Registry::Registry() : file_(RegistryFilePath()) {}

Registry::Registry(std::string filePath) : file_(std::move(filePath)) {}

Registry::~Registry() {
    CloseKey();
    if (update_ && g_updating == this)
        g_updating = nullptr;
    // An update still open here was cut short by an error: its changes are dropped.
}

Key& Registry::Snapshot(std::unique_ptr<Key>& holder) {
    if (update_ && update_->root)
        return *update_->root;
    holder = LoadFile(file_);
    return *holder;
}

bool Registry::Change(const std::function<bool(Key&)>& change, std::string& cause) {
    if (!update_) {
        CheckNoUpdateElsewhere(this);
        return Transact(file_, change, cause);
    }
    if (!update_->root) {
        cause = update_->failure;
        return false;
    }
    if (change(*update_->root))
        update_->changed = true;
    return true;
}

void Registry::BeginUpdate() {
    CheckNoUpdateElsewhere(this);
    if (update_)
        throw std::logic_error("a registry update is already open on this handle");
    auto update = std::make_unique<RegistryUpdate>();
    if (Lock(file_, update->lock, update->failure))
        update->root = LoadFile(file_);
    update_ = std::move(update);
    g_updating = this;
}

void Registry::EndUpdate() {
    if (!update_)
        return;
    const std::unique_ptr<RegistryUpdate> update = std::move(update_); // unlocks on the way out
    g_updating = nullptr;
    std::string cause;
    if (!update->root || !update->changed ||
        qrxposix::ReplaceFile(file_, Format(*update->root), NewRegistryFileMode,
                              qrxposix::Durability::Flushed, cause))
        return;
    if (update->anyValue)
        throw ValueError(RegistryErrorKind::SetDataFailed, update->firstValue, cause);
    throw RegistryError(RegistryErrorKind::FileUnusable,
                        "The registry file " + file_ + " cannot be written: " + cause + ".");
}

namespace {
// A key path as names from the root: absolute with a leading backslash, else from base.
bool ResolvePath(const std::string& path, const std::vector<std::string>& base,
                 std::vector<std::string>& names) {
    std::string rest = path;
    if (!rest.empty() && rest[0] == '\\') {
        rest.erase(0, 1);
        names.clear();
    } else {
        names = base;
    }
    if (rest.empty())
        return true;
    size_t start = 0;
    for (;;) {
        const size_t slash = rest.find('\\', start);
        std::string name =
            rest.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (!ValidKeyName(name))
            return false;
        names.push_back(std::move(name));
        if (slash == std::string::npos)
            return true;
        start = slash + 1;
    }
}
} // namespace

bool Registry::OpenKey(const std::string& Path, bool CanCreate) {
    std::vector<std::string> names, stored;
    if (!ResolvePath(Path, open_ ? current_ : std::vector<std::string>(), names))
        return false;
    {
        std::unique_ptr<Key> holder;
        if (Find(Snapshot(holder), names, &stored)) {
            current_ = stored;
            open_ = true;
            return true;
        }
    }
    if (!CanCreate)
        return false;
    std::string cause;
    if (!Change([&](Key& root) { return Create(root, names, stored); }, cause))
        throw RegistryError(RegistryErrorKind::FileUnusable, "The registry key " + JoinPath(names) +
                                                                 " cannot be created: " + cause +
                                                                 ".");
    current_ = stored;
    open_ = true;
    return true;
}

void Registry::CloseKey() {
    open_ = false;
    current_.clear();
}

std::string Registry::CurrentPath() const {
    return open_ ? JoinPath(current_) : std::string();
}

bool Registry::KeyExists(const std::string& Path) {
    std::vector<std::string> names;
    if (!ResolvePath(Path, open_ ? current_ : std::vector<std::string>(), names))
        return false;
    std::unique_ptr<Key> holder;
    return Find(Snapshot(holder), names) != nullptr;
}

bool Registry::DeleteKey(const std::string& Path) {
    std::vector<std::string> names;
    if (Path.empty() || !ResolvePath(Path, open_ ? current_ : std::vector<std::string>(), names) ||
        names.empty())
        return false;
    bool deleted = false;
    std::string cause;
    const bool written = Change(
        [&](Key& root) {
            const std::vector<std::string> parentPath(names.begin(), names.end() - 1);
            if (Key* parent = Find(root, parentPath))
                deleted = parent->subkeys.erase(names.back()) > 0;
            return deleted;
        },
        cause);
    return written && deleted;
}

void Registry::GetKeyNames(std::vector<std::string>& Names) {
    Names.clear();
    if (!open_)
        return;
    std::unique_ptr<Key> holder;
    if (const Key* key = Find(Snapshot(holder), current_))
        for (const auto& sub : key->subkeys)
            Names.push_back(sub.first);
}

void Registry::GetValueNames(std::vector<std::string>& Names) {
    Names.clear();
    if (!open_)
        return;
    std::unique_ptr<Key> holder;
    if (const Key* key = Find(Snapshot(holder), current_))
        for (const auto& v : key->values)
            Names.push_back(v.first);
}

bool Registry::ValueExists(const std::string& Name) {
    RegistryValue value;
    return GetValue(Name, value);
}

bool Registry::GetValue(const std::string& Name, RegistryValue& Value) {
    if (!open_)
        return false;
    std::unique_ptr<Key> holder;
    Key* key = Find(Snapshot(holder), current_);
    const RegistryValue* found = key ? key->FindValue(Name) : nullptr;
    if (!found)
        return false;
    Value = *found;
    return true;
}

uint32_t Registry::ReadDWord(const std::string& Name) {
    RegistryValue value;
    if (!GetValue(Name, value))
        throw ValueError(RegistryErrorKind::GetDataFailed, Name, "the value does not exist");
    // The data is fetched into an integer's four bytes before its type is looked at, so data
    // that does not fit is a failed read whatever its type; data that fits but is no REG_DWORD
    // is the wrong type.
    if (value.Data.size() > 4)
        throw ValueError(RegistryErrorKind::GetDataFailed, Name,
                         "the value holds " + std::to_string(value.Data.size()) +
                             " bytes, more than the 4 of an integer");
    if (value.Type != RegistryValueType::DWord)
        throw ValueError(RegistryErrorKind::InvalidDataType, Name);
    if (value.Data.size() != 4)
        throw ValueError(RegistryErrorKind::GetDataFailed, Name,
                         "the value holds " + std::to_string(value.Data.size()) +
                             " bytes instead of 4");
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i)
        number = (number << 8) | static_cast<unsigned char>(value.Data[i]);
    return number;
}

bool Registry::ReadBool(const std::string& Name) {
    return ReadDWord(Name) != 0;
}

std::string Registry::ReadString(const std::string& Name) {
    RegistryValue value;
    if (!GetValue(Name, value))
        throw ValueError(RegistryErrorKind::GetDataFailed, Name, "the value does not exist");
    // A value without data is the empty text whatever its type: there is nothing to misread.
    if (value.Data.empty())
        return std::string();
    if (value.Type != RegistryValueType::String && value.Type != RegistryValueType::ExpandString)
        throw ValueError(RegistryErrorKind::InvalidDataType, Name);
    return value.Data.substr(0, value.Data.find('\0'));
}

void Registry::WriteValue(const std::string& Name, const RegistryValue& Value) {
    if (!open_)
        throw ValueError(RegistryErrorKind::SetDataFailed, Name, "no key is open");
    if (!StorableName(Name))
        throw ValueError(RegistryErrorKind::SetDataFailed, Name,
                         "a value name cannot hold a line break or a NUL");
    bool gone = false;
    std::string cause;
    const bool written = Change(
        [&](Key& root) {
            Key* key = Find(root, current_);
            gone = key == nullptr;
            return key && key->SetValue(Name, Value);
        },
        cause);
    if (gone)
        throw ValueError(RegistryErrorKind::SetDataFailed, Name,
                         "the key " + CurrentPath() + " no longer exists");
    if (!written)
        throw ValueError(RegistryErrorKind::SetDataFailed, Name, cause);
    if (update_ && !update_->anyValue) {
        update_->anyValue = true;
        update_->firstValue = Name;
    }
}

void Registry::WriteDWord(const std::string& Name, uint32_t Value) {
    RegistryValue value{RegistryValueType::DWord, std::string()};
    for (int i = 0; i < 4; ++i)
        value.Data += static_cast<char>((Value >> (8 * i)) & 0xFF);
    WriteValue(Name, value);
}

void Registry::WriteBool(const std::string& Name, bool Value) {
    WriteDWord(Name, Value ? 1 : 0);
}

void Registry::WriteString(const std::string& Name, const std::string& Value) {
    WriteValue(Name, RegistryValue{RegistryValueType::String, Value + '\0'});
}

void Registry::WriteExpandString(const std::string& Name, const std::string& Value) {
    WriteValue(Name, RegistryValue{RegistryValueType::ExpandString, Value + '\0'});
}

bool Registry::DeleteValue(const std::string& Name) {
    if (!open_)
        return false;
    bool deleted = false;
    std::string cause;
    const bool written = Change(
        [&](Key& root) {
            Key* key = Find(root, current_);
            deleted = key && key->DeleteValue(Name);
            return deleted;
        },
        cause);
    return written && deleted;
}
