// "Get 7-Zip file": the payload archive, unchanged, as RAZEvor.7z in the current directory, and
// its password for the user.
#pragma once

#include "run/RunContext.h"

namespace qel {

// Writes the archive and tells the user: its password when the whole archive is there, else the
// support error, after which the program ends. Raises UnexpectedError when the resource is
// missing or the file cannot be created.
void SaveSevenZipFile(const RunContext& context);

}  // namespace qel
