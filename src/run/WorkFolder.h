// The work folder under %TEMP% and the resources staged into it.
#pragma once

#include "platform/Platform.h"

namespace qel {

// %TEMP% followed by "\" ("\" alone when TEMP is unset).
Text WorkBase(Platform& sys);
// The work base followed by "qelextract".
Text WorkFolder(const Text& workBase);

// Writes the five resources into the work folder (qelextract\Lang must exist); raises
// UnexpectedError when a resource is missing or a file cannot be written.
void StageWorkFolder(Platform& sys, const Text& workBase);

// Deletes the work folder with everything in it; failures are ignored.
void DeleteWorkFolder(Platform& sys, WindowId mainWindow, const Text& workBase);

}  // namespace qel
