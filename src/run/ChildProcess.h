// Child programs: starting them and waiting while the window keeps working.
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

}  // namespace qel
