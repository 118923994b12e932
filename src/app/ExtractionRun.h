// The "OK" run (MainWindow::Button1Click) and the files it leaves at the root of a drive.
#pragma once

#include "platform/Platform.h"

namespace qel {

// Ensures the menu folder \QEL\Menu\ at a drive root ("E:" or "\\?\Volume{…}"), creating that one
// level when it is missing; false when it cannot be created.
bool EnsureMenuFolder(Platform& sys, const Text& root);

// Writes \autorun.inf at a drive root ("E:" or "\\?\Volume{…}") when the payload's icon
// \QEL\razevor.ico is there: the old file is deleted, four ANSI lines are written and the file is
// left hidden. Raises IoError when the file cannot be created or written.
void WriteAutorunInf(Platform& sys, const Text& root);

}  // namespace qel
