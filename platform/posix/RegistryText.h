// RegistryText: the REGEDIT4 text of the registry file (the format in platform/Registry.h),
// read into a key tree and written from one. Reading takes nothing on trust: a text that does
// not parse is refused with the registry's file error, naming the file and the line.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/posix/RegistryTree.h"

// The keys and values of a registry file's text; throws RegistryError (FileUnusable) naming
// fileName and the line when the text cannot be parsed. An empty text is an empty registry.
std::unique_ptr<RegistryKeyNode> ParseRegistryText(const std::string& text,
                                                   const std::string& fileName);

// The most a registry file may hold, read or written, and the most keys it may hold. A registry
// of profiles takes a few kilobytes (a profile is well under one, in one key), so these leave
// room for thousands of profiles, while whatever stands in the file's place, hostile or damaged,
// costs at most tens of megabytes once read into keys: without the count, short lines naming
// deeply nested keys would make a hundred bytes of memory of each byte of the file.
constexpr uint64_t MaxRegistryFileBytes = 4 * 1024 * 1024;
constexpr size_t MaxRegistryKeys = 100000;

// The text the registry writes for the tree; false (out unfinished) as soon as it grows past
// limit. Every key line repeats its whole path, so a deep tree read from a small file can make
// a far larger text.
bool FormatRegistryText(const RegistryKeyNode& root, uint64_t limit, std::string& out);
// Why a tree whose text grows past MaxRegistryFileBytes is not written: a phrase about the file
// ("it would grow past ...") and what to do.
std::string RegistryTooLargeToWrite();
