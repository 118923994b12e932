// Handlers of the main window whose work arrives later. Each is removed from this file when its
// real definition lands.
#include "app/MainWindow.h"

namespace qel {

// Replaced by "Get 7-Zip file".
void MainWindow::Button2Click() {}

}  // namespace qel
