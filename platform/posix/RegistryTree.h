// RegistryTree: the registry in memory, as one read of the file gives it. Each key holds its
// values in creation order and its subkeys in the order the registry enumerates them. Key and
// value names compare without regard to ASCII case and keep the case they were created with.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Registry.h"

// The deepest a key may lie below the root, as in the Windows registry: a file with a deeper key
// is refused, and no deeper key is created.
constexpr size_t MaxRegistryKeyDepth = 512;

// Whether two key or value names are the same name.
bool SameRegistryName(const std::string& a, const std::string& b);

// Windows orders keys by their upper-cased names; this gives the same order for ASCII names
// ("A_B" after "AB", since '_' sorts after the capitals).
struct RegistryNameLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

// A name the file can hold: a line break would end the line it stands in, and Windows names
// hold no NUL.
bool StorableRegistryName(const std::string& name);
// A key name: storable, not empty, and without the backslash that separates the names of a path.
bool ValidRegistryKeyName(const std::string& name);

// A key path split at its backslashes, empty names kept (A\\B gives "A", "", "B").
std::vector<std::string> SplitRegistryPath(const std::string& path);

// The four little-endian bytes of a REG_DWORD, and back (data of exactly four bytes).
std::string DWordData(uint32_t value);
uint32_t DWordFromData(const std::string& data);

// One key: its values and its subkeys.
struct RegistryKeyNode {
    RegistryKeyNode() = default;
    RegistryKeyNode(const RegistryKeyNode&) = delete;
    RegistryKeyNode& operator=(const RegistryKeyNode&) = delete;
    // Frees the keys below without recursion, however deep they nest.
    ~RegistryKeyNode();

    // In creation order. Read them here; change them only through SetValue and DeleteValue,
    // which keep their index.
    std::vector<std::pair<std::string, RegistryValue>> values;
    std::map<std::string, std::unique_ptr<RegistryKeyNode>, RegistryNameLess> subkeys;

    // The value of that name, or null.
    RegistryValue* FindValue(const std::string& name);
    // True when this changed anything; an existing value keeps its place and its name's case.
    bool SetValue(const std::string& name, const RegistryValue& value);
    // True when the value was there.
    bool DeleteValue(const std::string& name);
    // The subkey of that name, created when absent (created is then set); stored receives its
    // name as kept.
    RegistryKeyNode& Child(const std::string& name, std::string& stored, bool& created);

private:
    // Each value's place in values by its name: a key may hold hundreds of thousands of values,
    // and looking through all of them for each one read would make reading a file take time in
    // the square of its length.
    std::map<std::string, size_t, RegistryNameLess> valuePlaces_;
};

// The key at path (names from the root), or null; stored receives the names as the keys keep
// them.
RegistryKeyNode* FindRegistryKey(RegistryKeyNode& root, const std::vector<std::string>& path,
                                 std::vector<std::string>* stored = nullptr);
// Creates what is missing of path; the number of keys created (0: nothing changed). stored
// receives the names as the keys keep them.
size_t CreateRegistryKey(RegistryKeyNode& root, const std::vector<std::string>& path,
                         std::vector<std::string>& stored);
