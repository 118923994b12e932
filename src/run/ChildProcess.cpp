#include "run/ChildProcess.h"

namespace qel {

namespace {
constexpr std::uint32_t kWaitStepMs = 10;
}  // namespace

bool RunProcess(Platform& sys, const Text& commandLine, bool wait, std::uint16_t showMode,
                std::uint32_t& exitCode) {
    const ProcessHandle child =
        sys.createProcess(commandLine, win::CREATE_NEW_PROCESS_GROUP | win::NORMAL_PRIORITY_CLASS,
                          win::STARTF_USESHOWWINDOW, showMode);
    if (!child.valid()) return false;
    if (wait) {
        // The window keeps repainting and its timer keeps firing while the child runs.
        while (sys.waitForProcess(child, kWaitStepMs) == WaitResult::TimedOut)
            sys.pumpPendingMessages();
        exitCode = kUnreadableExitCode;
        std::uint32_t reported = 0;
        if (sys.processExitCode(child, reported)) exitCode = reported;
    }
    return true;
}

}  // namespace qel
