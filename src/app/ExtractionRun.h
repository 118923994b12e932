// The extraction run behind the main window's "OK": the drive probe, the options' checks, the
// work folder, formatting, 7-Zip onto the drive, the boot installs, autorun.inf and the companion
// program.
#pragma once

#include "platform/Platform.h"
#include "run/RunContext.h"
#include "run/RunView.h"

namespace qel {

// One run onto the drive at driveRoot ("E:"). Once the work folder exists, every way out deletes
// it and asks the program to end.
void RunExtraction(RunContext& context, RunView& view, const Text& driveRoot);

}  // namespace qel
