// Handlers of the main window whose work arrives later. Each is removed from this file when its
// real definition lands.
#include "app/MainWindow.h"

namespace qel {

// Replaced by the "OK" run (the extraction workflow).
void MainWindow::Button1Click() {}

// Replaced by "Get 7-Zip file".
void MainWindow::Button2Click() {}

// Replaced by the AutoPartition window, which opens from this button.
void MainWindow::Button3Click() {}

// Replaced by the AutoPartition window's disk-list refresh.
void MainWindow::refreshRepartitionDiskList() {}

}  // namespace qel
