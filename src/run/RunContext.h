// What a run needs from the program, handed to every stage: the seam, the interface texts and the
// system paths found at start. The work base is read when a run makes its work folder.
#pragma once

#include "platform/Platform.h"
#include "run/WorkFolder.h"
#include "texts/TextTable.h"

namespace qel {

struct RunContext {
    Platform& sys;
    TextTable& texts;  // the interface language and every l… text
    Text systemDrive;  // %SYSTEMDRIVE%, e.g. "C:"
    Text systemDir;    // "System32", or "Sysnative" for a 32-bit program on 64-bit Windows
    Text formatPath;   // the system's format.com

    Text workBase() const { return WorkBase(sys); }
};

}  // namespace qel
