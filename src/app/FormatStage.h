// "Format to FAT32" in an extraction run: the confirmation before anything is created, and the
// formatting once the work folder is staged and the main window disabled.
#pragma once

#include "platform/Platform.h"
#include "run/RunContext.h"
#include "run/RunView.h"

namespace qel {

// With "Format to FAT32" ticked, warns that the drive's data will be lost. A cancel clears the
// option; false then, and the run ends with nothing created. True when the run goes on.
bool ConfirmFormat(RunContext& context, RunView& view, const Text& driveRoot);

// With "Format to FAT32" ticked, formats the volume at driveRoot ("E:") to FAT32, showing the
// progress in the option's caption. False after a failure has been shown: the run must end.
bool FormatVolume(RunContext& context, RunView& view, const Text& driveRoot, const Text& workBase);

}  // namespace qel
