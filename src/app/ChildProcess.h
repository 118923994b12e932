// Child programs: starting them, waiting while the window keeps working, and their command lines.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace qel {

inline constexpr std::uint32_t kUnreadableExitCode = 7117;

// Starts a command line. With wait set, waits in steps of 10 ms, pumping window messages after
// every step that timed out, and stores the exit code (7117 when it cannot be read). True when
// the process was started.
bool RunProcess(Platform& sys, const Text& commandLine, bool wait, std::uint16_t showMode,
                std::uint32_t& exitCode);

// "<work base>qelextract\7zG.exe" x -y -o"<target>\" -ptubrisk "<work base>qelextract\RAZEvor.7z"
Text SevenZipCommandLine(const Text& workBase, const Text& targetRoot);

}  // namespace qel
