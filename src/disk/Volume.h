// The volume mount-point functions of kernel32, bound at run time (the program's "volume" unit).
//
// The nine ANSI functions for enumerating volumes and managing their drive letters are looked up
// in kernel32.dll on first use and kept for the rest of the run. Callers invoke them through the
// slots with the seam's call functions (sys.callFindFirstVolumeA(volume.FindFirstVolumeA, …)).
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace qel {

class VolumeFunctions {
public:
    explicit VolumeFunctions(Platform& sys) : sys_(sys) {}

    // Binds the nine slots in their fixed order; returns at once once they are bound. Raises
    // UnexpectedError "Error loading kernel32 Library.  <system message>" when kernel32 cannot be
    // had, or "Could not find procedure <name>" for the first name that is missing; slots filled
    // before the failure keep their values and the next call starts the lookup again.
    void LoadVolumeFunctions();
    bool bound() const { return bound_; }

    ProcAddress FindFirstVolumeA = 0;
    ProcAddress FindNextVolumeA = 0;
    ProcAddress FindVolumeClose = 0;
    ProcAddress FindFirstVolumeMountPointA = 0;
    ProcAddress FindNextVolumeMountPointA = 0;
    ProcAddress FindVolumeMountPointClose = 0;
    ProcAddress GetVolumeNameForVolumeMountPointA = 0;
    ProcAddress DeleteVolumeMountPointA = 0;
    ProcAddress SetVolumeMountPointA = 0;

private:
    ModuleId kernel32Module();
    Platform& sys_;
    bool bound_ = false;
};

// The system's message for an error code, without the trailing line break, blanks and period.
Text SystemErrorText(Platform& sys, std::uint32_t errorCode);

}  // namespace qel
