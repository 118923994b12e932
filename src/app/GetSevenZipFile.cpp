// "Get 7-Zip file": the payload archive, unchanged, as RAZEvor.7z in the current directory, and
// its password for the user.
#include "app/MainWindow.h"
#include "disk/DeviceQueries.h"
#include "texts/Dialogs.h"

namespace qel {

namespace {

// The button takes no second press while the archive is written, and comes back however the
// save ends.
class DisabledButton {
public:
    DisabledButton(Platform& sys, ControlId button) : sys_(sys), button_(button) {
        sys_.setEnabled(button_, false);
    }
    ~DisabledButton() { sys_.setEnabled(button_, true); }
    DisabledButton(const DisabledButton&) = delete;
    DisabledButton& operator=(const DisabledButton&) = delete;

private:
    Platform& sys_;
    ControlId button_;
};

}  // namespace

void MainWindow::Button2Click() {
    const DisabledButton button(sys, Button2);
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
