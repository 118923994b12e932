// The command lines of the programs both runs start: 7-Zip, the formatters and the Syslinux
// installer. Program paths are quoted, so that a path with blanks can never start another program.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace qel {

// 7-Zip's exit code when the user cancelled in its progress window.
inline constexpr std::uint32_t kCancelledInSevenZip = 255;

// Volumes strictly larger than 32 GiB are formatted with the carried formatter, the rest with
// the system's format.com.
inline constexpr std::int64_t kLargeVolumeBytes = 34359738368;

// "<work base>qelextract\7zG.exe" x -y -o"<target>\" -ptubrisk "<work base>qelextract\RAZEvor.7z"
Text SevenZipCommandLine(const Text& workBase, const Text& targetRoot);

// The formatters' command lines.
Text Fat32FormatCommandLine(const Text& workBase, const Text& driveRoot);
Text FormatComCommandLine(const Text& formatPath, const Text& driveRoot);

// The Syslinux installer's command line for a drive root, with its quoted program path, and the
// boot-sector file it writes.
Text SyslinuxCommandLine(const Text& driveRoot, bool wow64);
Text SyslinuxBootSectorFile(const Text& driveRoot);

}  // namespace qel
