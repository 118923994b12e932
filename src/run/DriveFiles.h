// What both runs leave at the root of a drive, and the raw device path of a physical disk.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace qel {

// Ensures the menu folder \QEL\Menu\ at a drive root ("E:" or "\\?\Volume{…}"), creating that one
// level when it is missing; false when it cannot be created.
bool EnsureMenuFolder(Platform& sys, const Text& root);

// Writes \autorun.inf at a drive root ("E:" or "\\?\Volume{…}") when the payload's icon
// \QEL\razevor.ico is there: the old file is deleted, four ANSI lines are written and the file is
// left hidden. Raises IoError when the file cannot be created or written.
void WriteAutorunInf(Platform& sys, const Text& root);

// "\\.\PHYSICALDRIVE<n>" for a disk number, given as a number or as its decimal text.
Text RawDiskPath(const Text& diskNumber);
Text RawDiskPath(std::uint32_t diskNumber);

}  // namespace qel
