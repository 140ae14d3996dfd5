// Registry seam: keys and typed values under HKEY_CURRENT_USER.
//
// On POSIX the whole of HKEY_CURRENT_USER is one text file, $XDG_CONFIG_HOME/quorix/registry.reg
// (XDG_CONFIG_HOME defaults to ~/.config), in the format Windows' registry editor exports
// (REGEDIT4), so profiles move between machines and systems as files.
//
// Names of keys and values compare without regard to ASCII case and keep the case they were
// created with; subkeys enumerate in case-insensitive alphabetical order (by upper-cased name, as
// Windows orders them), values in the order they were created.
//
// Every read is a fresh look at the file, and every change is one transaction on it: under an
// exclusive lock held across the whole read-modify-write, the file is read, changed, written to a
// temporary file in the same folder, flushed to disk and renamed over the old one. Two programs
// changing the registry at once lose nothing, and a crash leaves the old or the new file. A file
// that cannot be parsed is never overwritten: every operation fails with a RegistryError that
// names the file and the line.
//
// Whatever stands in the file's place is met without hanging: the file is read only when it is a
// regular file of at most 4 MiB (a folder, named pipe, device, dangling link or larger file is a
// FileUnusable error that says so); a file may hold at most 100,000 keys, nested at most 512 levels
// deep as in Windows (more is a FileUnusable error naming the line), and a change whose file would
// outgrow 4 MiB fails as a refused write does; and a writer gives up on a lock that stays with one
// program for 5 seconds (a program that hangs or was stopped): the write fails with a FileUnusable
// error that names the file and says another program holds it. A symbolic link in the file's place
// is followed: its target is replaced, in the target's own folder, and the link stays.
//
// How the file is written: LF line ends; "REGEDIT4", a blank line, then every key as a section
// "[HKEY_CURRENT_USER\path]" followed by its values and one blank line; keys depth first, parents
// before children, siblings in enumeration order; every key gets a section, also an empty one,
// so empty keys survive (the root's section only when the root has values). Values: REG_SZ as a
// quoted string ("\\" and "\"" escaped) when it ends with its one NUL and holds no line break,
// otherwise as hex(1); REG_DWORD as dword: with eight lower-case hex digits; every other type,
// REG_EXPAND_SZ among them, as hex: (REG_BINARY) or hex(N): with lower-case bytes, wrapped as the
// registry editor wraps them: a line that a byte and its comma bring to 77 columns or more ends
// with a backslash, and the data goes on after a two-blank indent.
// Values of types this seam does not interpret keep their type and bytes unchanged. Comments
// (lines starting with ';') are accepted on reading and not written back.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

// Value types, numbered as Windows numbers them (the file's hex(N) carries the number).
enum class RegistryValueType : uint32_t {
    None = 0,
    String = 1,       // REG_SZ
    ExpandString = 2, // REG_EXPAND_SZ
    Binary = 3,       // REG_BINARY
    DWord = 4,        // REG_DWORD, little-endian
};

// A value as the registry keeps it: its type and its bytes (strings with their terminating NUL).
struct RegistryValue {
    RegistryValueType Type = RegistryValueType::None;
    std::string Data;
};
bool operator==(const RegistryValue& a, const RegistryValue& b);
inline bool operator!=(const RegistryValue& a, const RegistryValue& b) {
    return !(a == b);
}
std::ostream& operator<<(std::ostream& os, const RegistryValue& value);

enum class RegistryErrorKind {
    InvalidDataType, // "Invalid data type for '<value>'": the value has another type
    GetDataFailed,   // "Failed to get data for '<value>'": absent, or its data does not fit
    SetDataFailed,   // "Failed to set data for '<value>'": the write was refused
    FileUnusable,    // the registry file cannot be read or parsed, or cannot be written
};

// The registry's error. For the three value errors what() is exactly the text above, and
// Cause() says what went wrong underneath when there is more to say (for example the file that
// could not be written); for FileUnusable what() names the file, the line and what to do.
class RegistryError : public std::runtime_error {
public:
    RegistryError(RegistryErrorKind kind, const std::string& message,
                  const std::string& valueName = std::string(),
                  const std::string& cause = std::string());
    RegistryErrorKind Kind() const noexcept { return kind_; }
    const std::string& ValueName() const noexcept { return valueName_; }
    const std::string& Cause() const noexcept { return cause_; }

private:
    RegistryErrorKind kind_;
    std::string valueName_;
    std::string cause_;
};

// The file that holds HKEY_CURRENT_USER.
std::string RegistryFilePath();

struct RegistryKeyNode;
struct RegistryUpdate;

// A registry handle: the root key HKEY_CURRENT_USER and at most one open key. Outside an update
// it keeps no file open and no lock between calls, so any number of handles, in any processes,
// may be in use.
class Registry {
public:
    // A handle on RegistryFilePath(), or on another file (tests).
    Registry();
    explicit Registry(std::string filePath);
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;
    ~Registry();

    // Opens a key and makes it the open key. A path that begins with a backslash is taken from
    // the root, any other from the open key (from the root when none is open); "\" is the root.
    // With canCreate the key and every key above it are created when absent. False when the key
    // is absent (and not created) or the path is not a key path (an empty name, a name holding
    // a line break or a NUL, or more than 512 names); the open key is then unchanged.
    bool OpenKey(const std::string& path, bool canCreate);
    void CloseKey();
    bool HasOpenKey() const { return open_; }
    // The open key's absolute path with the names as stored, "\SOFTWARE\..." ("\" for the root);
    // empty when no key is open.
    std::string CurrentPath() const;

    // Whether the key exists (a relative path as for OpenKey); never creates anything.
    bool KeyExists(const std::string& path);
    // Deletes a key with everything below it. False when it does not exist, when the path is
    // empty or the root, or when the file could not be written.
    bool DeleteKey(const std::string& path);
    // The names of the open key's subkeys in enumeration order (none when no key is open).
    void GetKeyNames(std::vector<std::string>& names);
    // The names of the open key's values in their order ("" is the default value).
    void GetValueNames(std::vector<std::string>& names);

    // Values of the open key. "" names the key's default value.
    bool ValueExists(const std::string& name);
    // The value's type and bytes; false when it is absent.
    bool GetValue(const std::string& name, RegistryValue& value);
    // REG_DWORD of exactly 4 bytes. Data of more than 4 bytes fails to be read (GetDataFailed)
    // whatever its type; 4 bytes or fewer of another type are InvalidDataType.
    uint32_t ReadDWord(const std::string& name);
    // A REG_DWORD; any value other than 0 is true.
    bool ReadBool(const std::string& name);
    // REG_SZ or REG_EXPAND_SZ, up to the first NUL; a value of size 0 is "" whatever its type.
    std::string ReadString(const std::string& name);
    void WriteDWord(const std::string& name, uint32_t value);
    // 1 for true, 0 for false, as a REG_DWORD.
    void WriteBool(const std::string& name, bool value);
    // REG_SZ, stored with its terminating NUL.
    void WriteString(const std::string& name, const std::string& value);
    void WriteExpandString(const std::string& name, const std::string& value);
    // False when the value is absent or the file could not be written.
    bool DeleteValue(const std::string& name);

    // An update makes everything this handle does until EndUpdate one transaction: it takes the
    // exclusive lock and reads the file once, every call works on that copy (reads see the
    // handle's own changes), and EndUpdate writes all changes at once and releases the lock. So a
    // group of values is stored whole or not at all, and others never see half of it. A handle
    // destroyed with its update still open (an error passing through) drops the changes.
    // BeginUpdate throws FileUnusable for a file that cannot be parsed; when the lock cannot be
    // had, the writes of the update fail as writes do, except that when another program held it
    // for the whole wait the update still reads the file once and each change throws
    // FileUnusable saying so (a load goes on; a save fails). EndUpdate throws "Failed to set data
    // for" the update's first value when the file cannot be written. While an update is open, no
    // other handle of the same program may change the registry (it would wait in vain for the lock;
    // it gets a std::logic_error instead).
    void BeginUpdate();
    void EndUpdate();

private:
    void WriteValue(const std::string& name, const RegistryValue& value);
    // The registry as this handle sees it now: its update's copy, or the file read afresh.
    RegistryKeyNode& Snapshot(std::unique_ptr<RegistryKeyNode>& holder);
    // Applies a change: to the update's copy, or as one transaction on the file. False (with
    // cause) when it cannot be written.
    bool Change(const std::function<bool(RegistryKeyNode&)>& change, std::string& cause);

    std::unique_ptr<RegistryUpdate> update_;
    std::string file_;
    bool open_ = false;
    std::vector<std::string> current_; // the open key's names from the root, as stored
};

// The file format on its own (tests, fuzzing): parses the text of a registry file and gives it
// back exactly as the registry writes it. Throws RegistryError (FileUnusable) naming fileName and
// the line when the text cannot be parsed.
std::string CanonicalRegistryText(const std::string& text, const std::string& fileName);
