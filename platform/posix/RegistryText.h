// RegistryText: the REGEDIT4 text of the registry file (the format in platform/Registry.h),
// read into a key tree and written from one. Reading takes nothing on trust: a text that does
// not parse is refused with the registry's file error, naming the file and the line.
#pragma once

#include <memory>
#include <string>

#include "platform/posix/RegistryTree.h"

// The keys and values of a registry file's text; throws RegistryError (FileUnusable) naming
// fileName and the line when the text cannot be parsed. An empty text is an empty registry.
std::unique_ptr<RegistryKeyNode> ParseRegistryText(const std::string& text,
                                                   const std::string& fileName);

// The text the registry writes for the tree.
std::string FormatRegistryText(const RegistryKeyNode& root);
