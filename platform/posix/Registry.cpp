// Registry seam, POSIX: HKEY_CURRENT_USER as one REGEDIT4 text file (format and rules in
// platform/Registry.h). This file holds the file with its lock and transactions and the
// registry calls; the text is RegistryText's, the keys in memory RegistryTree's.
#include "platform/Registry.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "platform/posix/RegistryText.h"
#include "platform/posix/RegistryTree.h"
#include "platform/posixlib/Ascii.h"
#include "platform/posixlib/BaseDirectory.h"
#include "platform/posixlib/Files.h"

namespace {

using Key = RegistryKeyNode;

std::string ErrorText(int error) {
    return std::strerror(error);
}

// A new registry file is private to the user, as the profiles in it are.
constexpr mode_t NewRegistryFileMode = 0600;

std::unique_ptr<Key> LoadFile(const std::string& file) {
    std::string text, cause;
    const std::string unread = "The registry file " + file + " cannot be read: ";
    const std::string moveAway =
        ". The file is left unchanged; move it away, and a new registry file takes its place.";
    switch (qrxposix::ReadRegularFile(file, MaxRegistryFileBytes, text, cause)) {
    case qrxposix::FileOutcome::Regular:
        return ParseRegistryText(text, file);
    case qrxposix::FileOutcome::Missing:
        return std::make_unique<Key>(); // no file yet: an empty registry
    case qrxposix::FileOutcome::DanglingLink:
        throw RegistryError(RegistryErrorKind::FileUnusable,
                            unread + cause +
                                ". Restore the link's target, or remove the link to start a new "
                                "registry file.");
    case qrxposix::FileOutcome::NotRegular:
        throw RegistryError(RegistryErrorKind::FileUnusable, unread + cause + moveAway);
    case qrxposix::FileOutcome::TooLarge:
        throw RegistryError(RegistryErrorKind::FileUnusable,
                            unread + cause + ", far more than a registry of profiles takes" +
                                moveAway);
    case qrxposix::FileOutcome::Failed:
        break;
    }
    throw RegistryError(RegistryErrorKind::FileUnusable,
                        unread + cause + ". Check its permissions.");
}

// The lock file, open while this lives, and whether this program holds its lock; letting go of
// the lock marks the release for the programs that wait (qrxposix::Unlock).
struct RegistryLock {
    int fd = -1;
    bool locked = false;
    RegistryLock() = default;
    RegistryLock(const RegistryLock&) = delete;
    RegistryLock& operator=(const RegistryLock&) = delete;
    ~RegistryLock() {
        if (locked)
            qrxposix::Unlock(fd);
        if (fd >= 0)
            ::close(fd);
    }
};

// Takes the exclusive lock that every writer holds across its read-modify-write. It lives in a
// file of its own beside the file that the registry file's links lead to: the registry file is
// replaced on every change, and a lock on a replaced file would guard nothing. Its holder knows
// that no other writer is at work, which is what lets the replacement reuse one temporary file
// name. False with cause when the lock cannot be had; held says whether that is because another
// program kept it for the whole wait.
bool Lock(const std::string& file, RegistryLock& lock, std::string& cause, bool& held) {
    held = false;
    std::string failed;
    if (!qrxposix::MakeFolders(qrxposix::DirectoryOf(file), 0700, failed)) {
        cause = qrxposix::MakeFoldersCause(failed, errno);
        return false;
    }
    std::string lockName;
    if (!qrxposix::OpenLockFile(file, 0600, lock.fd, lockName, cause))
        return false;
    switch (qrxposix::LockExclusive(lock.fd)) {
    case qrxposix::LockOutcome::Locked:
        lock.locked = true;
        return true;
    case qrxposix::LockOutcome::Held:
        held = true;
        cause = qrxposix::HeldByAnotherProgram("The registry file " + file, lockName) + ".";
        return false;
    case qrxposix::LockOutcome::Failed:
        break;
    }
    cause = "cannot lock " + lockName + ": " + ErrorText(errno);
    return false;
}

// Another program holding the lock is no fault of this write, and the user must learn which
// file and why, not only which value: the file error, not the value's.
[[noreturn]] void ThrowHeld(const std::string& message) {
    throw RegistryError(RegistryErrorKind::FileUnusable, message);
}

// Writes the tree as the file's new text. False with cause when it cannot be written, or when
// the text would grow past what a registry file may hold (it could never be read again).
bool WriteRegistryFile(const std::string& file, const Key& root, std::string& cause) {
    std::string text;
    if (!FormatRegistryText(root, MaxRegistryFileBytes, text)) {
        cause = "cannot write " + file + ": " + RegistryTooLargeToWrite();
        return false;
    }
    return qrxposix::ReplaceFile(file, text, NewRegistryFileMode, qrxposix::Durability::Flushed,
                                 qrxposix::Writers::Locked, cause);
}

// The handle whose update holds this program's lock. flock locks conflict even within one
// program, so another handle that wrote now would wait for it in vain.
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
    RegistryLock lock;
    bool held = false;
    if (!Lock(file, lock, cause, held)) {
        if (held)
            ThrowHeld(cause);
        return false;
    }
    std::unique_ptr<Key> root = LoadFile(file);
    if (!change(*root))
        return true;
    return WriteRegistryFile(file, *root, cause);
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
    RegistryLock lock;
    std::unique_ptr<Key> root; // null when the lock could not be had (unless held)
    std::string failure;       // why not
    // Another program held the lock for the whole wait: the file was read all the same, so the
    // update still reads one state of it, but a change throws failure.
    bool held = false;
    bool changed = false;
    std::string firstValue; // the first value written, named when the final write fails
    bool anyValue = false;
};

RegistryError::RegistryError(RegistryErrorKind kind, const std::string& message,
                             const std::string& valueName, const std::string& cause)
    // A file's message quotes its path from the environment and names and items from the file,
    // which may hold anything: they reach a terminal as text, never as control characters. A
    // value error is its fixed text, and its name is shown by whoever shows it.
    : std::runtime_error(
          kind == RegistryErrorKind::FileUnusable ? qrxposix::VisibleControls(message) : message),
      kind_(kind), valueName_(valueName), cause_(qrxposix::VisibleControls(cause)) {}

std::string RegistryFilePath() {
    return qrxposix::XdgConfigHome() + "/quorix/registry.reg";
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
    if (update_->held)
        ThrowHeld(update_->failure);
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
    if (Lock(file_, update->lock, update->failure, update->held) || update->held)
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
    if (!update->root || !update->changed || WriteRegistryFile(file_, *update->root, cause))
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
    for (std::string& name : SplitRegistryPath(rest)) {
        if (!ValidRegistryKeyName(name))
            return false;
        names.push_back(std::move(name));
    }
    return names.size() <= MaxRegistryKeyDepth;
}
} // namespace

bool Registry::OpenKey(const std::string& path, bool canCreate) {
    std::vector<std::string> names, stored;
    if (!ResolvePath(path, open_ ? current_ : std::vector<std::string>(), names))
        return false;
    {
        std::unique_ptr<Key> holder;
        if (FindRegistryKey(Snapshot(holder), names, &stored)) {
            current_ = stored;
            open_ = true;
            return true;
        }
    }
    if (!canCreate)
        return false;
    std::string cause;
    if (!Change([&](Key& root) { return CreateRegistryKey(root, names, stored) > 0; }, cause))
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

bool Registry::KeyExists(const std::string& path) {
    std::vector<std::string> names;
    if (!ResolvePath(path, open_ ? current_ : std::vector<std::string>(), names))
        return false;
    std::unique_ptr<Key> holder;
    return FindRegistryKey(Snapshot(holder), names) != nullptr;
}

bool Registry::DeleteKey(const std::string& path) {
    std::vector<std::string> names;
    if (path.empty() || !ResolvePath(path, open_ ? current_ : std::vector<std::string>(), names) ||
        names.empty())
        return false;
    bool deleted = false;
    std::string cause;
    const bool written = Change(
        [&](Key& root) {
            const std::vector<std::string> parentPath(names.begin(), names.end() - 1);
            if (Key* parent = FindRegistryKey(root, parentPath))
                deleted = parent->subkeys.erase(names.back()) > 0;
            return deleted;
        },
        cause);
    return written && deleted;
}

void Registry::GetKeyNames(std::vector<std::string>& names) {
    names.clear();
    if (!open_)
        return;
    std::unique_ptr<Key> holder;
    if (const Key* key = FindRegistryKey(Snapshot(holder), current_))
        for (const auto& sub : key->subkeys)
            names.push_back(sub.first);
}

void Registry::GetValueNames(std::vector<std::string>& names) {
    names.clear();
    if (!open_)
        return;
    std::unique_ptr<Key> holder;
    if (const Key* key = FindRegistryKey(Snapshot(holder), current_))
        for (const auto& v : key->values)
            names.push_back(v.first);
}

bool Registry::ValueExists(const std::string& name) {
    RegistryValue value;
    return GetValue(name, value);
}

bool Registry::GetValue(const std::string& name, RegistryValue& value) {
    if (!open_)
        return false;
    std::unique_ptr<Key> holder;
    Key* key = FindRegistryKey(Snapshot(holder), current_);
    const RegistryValue* found = key ? key->FindValue(name) : nullptr;
    if (!found)
        return false;
    value = *found;
    return true;
}

uint32_t Registry::ReadDWord(const std::string& name) {
    RegistryValue value;
    if (!GetValue(name, value))
        throw ValueError(RegistryErrorKind::GetDataFailed, name, "the value does not exist");
    // The data is fetched into an integer's four bytes before its type is looked at, so data
    // that does not fit is a failed read whatever its type; data that fits but is no REG_DWORD
    // is the wrong type.
    if (value.Data.size() > 4)
        throw ValueError(RegistryErrorKind::GetDataFailed, name,
                         "the value holds " + std::to_string(value.Data.size()) +
                             " bytes, more than the 4 of an integer");
    if (value.Type != RegistryValueType::DWord)
        throw ValueError(RegistryErrorKind::InvalidDataType, name);
    if (value.Data.size() != 4)
        throw ValueError(RegistryErrorKind::GetDataFailed, name,
                         "the value holds " + std::to_string(value.Data.size()) +
                             " bytes instead of 4");
    return DWordFromData(value.Data);
}

bool Registry::ReadBool(const std::string& name) {
    return ReadDWord(name) != 0;
}

std::string Registry::ReadString(const std::string& name) {
    RegistryValue value;
    if (!GetValue(name, value))
        throw ValueError(RegistryErrorKind::GetDataFailed, name, "the value does not exist");
    // A value without data is the empty text whatever its type: there is nothing to misread.
    if (value.Data.empty())
        return std::string();
    if (value.Type != RegistryValueType::String && value.Type != RegistryValueType::ExpandString)
        throw ValueError(RegistryErrorKind::InvalidDataType, name);
    return value.Data.substr(0, value.Data.find('\0'));
}

void Registry::WriteValue(const std::string& name, const RegistryValue& value) {
    if (!open_)
        throw ValueError(RegistryErrorKind::SetDataFailed, name, "no key is open");
    if (!StorableRegistryName(name))
        throw ValueError(RegistryErrorKind::SetDataFailed, name,
                         "a value name cannot hold a line break or a NUL");
    bool gone = false;
    std::string cause;
    const bool written = Change(
        [&](Key& root) {
            Key* key = FindRegistryKey(root, current_);
            gone = key == nullptr;
            return key && key->SetValue(name, value);
        },
        cause);
    if (gone)
        throw ValueError(RegistryErrorKind::SetDataFailed, name,
                         "the key " + CurrentPath() + " no longer exists");
    if (!written)
        throw ValueError(RegistryErrorKind::SetDataFailed, name, cause);
    if (update_ && !update_->anyValue) {
        update_->anyValue = true;
        update_->firstValue = name;
    }
}

void Registry::WriteDWord(const std::string& name, uint32_t value) {
    WriteValue(name, RegistryValue{RegistryValueType::DWord, DWordData(value)});
}

void Registry::WriteBool(const std::string& name, bool value) {
    WriteDWord(name, value ? 1 : 0);
}

void Registry::WriteString(const std::string& name, const std::string& value) {
    WriteValue(name, RegistryValue{RegistryValueType::String, value + '\0'});
}

void Registry::WriteExpandString(const std::string& name, const std::string& value) {
    WriteValue(name, RegistryValue{RegistryValueType::ExpandString, value + '\0'});
}

bool Registry::DeleteValue(const std::string& name) {
    if (!open_)
        return false;
    bool deleted = false;
    std::string cause;
    const bool written = Change(
        [&](Key& root) {
            Key* key = FindRegistryKey(root, current_);
            deleted = key && key->DeleteValue(name);
            return deleted;
        },
        cause);
    return written && deleted;
}
