// "Get 7-Zip file": the payload archive, unchanged, as RAZEvor.7z in the current directory, and
// its password for the user.
#include "app/DisabledWhileInScope.h"
#include "app/MainWindow.h"
#include "disk/DeviceQueries.h"
#include "texts/Dialogs.h"

namespace qel {

void MainWindow::Button2Click() {
    // The button takes no second press while the archive is written.
    const DisabledControl button(sys, Button2);
    const auto payload = sys.rcData(u"QEL7z");
    if (!payload) throw UnexpectedError(u"Resource QEL7z not found.");
    // A current directory at a drive root ("D:\") gives two backslashes in a row, which Windows
    // accepts.
    const Text archive = sys.currentDirectory() + u"\\RAZEvor.7z";
    writeWholeFile(sys, archive, *payload);  // raises when the file cannot be created
    if (GetFileSize64(sys, archive) == static_cast<std::int64_t>(payload->size())) {
        sys.messageBox(texts.lsaved, kApplicationTitle, win::MB_OK);
    } else {
        ShowSupportError(sys, texts);
        sys.postQuit();
    }
}

}  // namespace qel
