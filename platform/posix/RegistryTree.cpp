// RegistryTree: the registry's keys and values in memory.
#include "platform/posix/RegistryTree.h"

#include <algorithm>

#include "platform/posixlib/Ascii.h"

using qrxposix::UpperAscii;

bool SameRegistryName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (UpperAscii(a[i]) != UpperAscii(b[i]))
            return false;
    return true;
}

bool RegistryNameLess::operator()(const std::string& a, const std::string& b) const {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(UpperAscii(a[i]));
        const auto y = static_cast<unsigned char>(UpperAscii(b[i]));
        if (x != y)
            return x < y;
    }
    return a.size() < b.size();
}

bool StorableRegistryName(const std::string& name) {
    return name.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

bool ValidRegistryKeyName(const std::string& name) {
    return !name.empty() && name.find('\\') == std::string::npos && StorableRegistryName(name);
}

std::vector<std::string> SplitRegistryPath(const std::string& path) {
    std::vector<std::string> names;
    size_t start = 0;
    for (;;) {
        const size_t slash = path.find('\\', start);
        names.push_back(
            path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos)
            return names;
        start = slash + 1;
    }
}

std::string DWordData(uint32_t value) {
    std::string data;
    for (int i = 0; i < 4; ++i)
        data += static_cast<char>((value >> (8 * i)) & 0xFF);
    return data;
}

uint32_t DWordFromData(const std::string& data) {
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i)
        number = (number << 8) | static_cast<unsigned char>(data[static_cast<size_t>(i)]);
    return number;
}

bool operator==(const RegistryValue& a, const RegistryValue& b) {
    return a.Type == b.Type && a.Data == b.Data;
}

RegistryKeyNode::~RegistryKeyNode() {
    // Each key taken off the list hands its subkeys to the list before it goes, so its own
    // destruction finds nothing below it.
    std::vector<std::unique_ptr<RegistryKeyNode>> pending;
    for (auto& sub : subkeys)
        if (sub.second)
            pending.push_back(std::move(sub.second));
    while (!pending.empty()) {
        const std::unique_ptr<RegistryKeyNode> key = std::move(pending.back());
        pending.pop_back();
        for (auto& sub : key->subkeys)
            if (sub.second)
                pending.push_back(std::move(sub.second));
    }
}

RegistryValue* RegistryKeyNode::FindValue(const std::string& name) {
    const auto place = valuePlaces_.find(name);
    return place == valuePlaces_.end() ? nullptr : &values[place->second].second;
}

bool RegistryKeyNode::SetValue(const std::string& name, const RegistryValue& value) {
    if (RegistryValue* existing = FindValue(name)) {
        if (*existing == value)
            return false;
        *existing = value;
        return true;
    }
    valuePlaces_.emplace(name, values.size());
    values.emplace_back(name, value);
    return true;
}

bool RegistryKeyNode::DeleteValue(const std::string& name) {
    const auto place = valuePlaces_.find(name);
    if (place == valuePlaces_.end())
        return false;
    const size_t gone = place->second;
    values.erase(values.begin() + static_cast<std::ptrdiff_t>(gone));
    valuePlaces_.erase(place);
    for (auto& other : valuePlaces_)
        if (other.second > gone)
            --other.second;
    return true;
}

RegistryKeyNode& RegistryKeyNode::Child(const std::string& name, std::string& stored,
                                        bool& created) {
    // One search finds the key or the place for it.
    auto it = subkeys.lower_bound(name);
    if (it == subkeys.end() || RegistryNameLess()(name, it->first)) {
        it = subkeys.emplace_hint(it, name, std::make_unique<RegistryKeyNode>());
        created = true;
    }
    stored = it->first;
    return *it->second;
}

RegistryKeyNode* FindRegistryKey(RegistryKeyNode& root, const std::vector<std::string>& path,
                                 std::vector<std::string>* stored) {
    RegistryKeyNode* key = &root;
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

size_t CreateRegistryKey(RegistryKeyNode& root, const std::vector<std::string>& path,
                         std::vector<std::string>& stored) {
    size_t created = 0;
    RegistryKeyNode* key = &root;
    stored.clear();
    for (const std::string& name : path) {
        std::string s;
        bool made = false;
        key = &key->Child(name, s, made);
        created += made ? 1 : 0;
        stored.push_back(s);
    }
    return created;
}
