#include "app/FormatStage.h"

#include "app/MainWindow.h"
#include "disk/DeviceQueries.h"
#include "run/ChildProcess.h"
#include "run/CommandLines.h"
#include "texts/Dialogs.h"

namespace qel {

namespace {

// The formatter that suits the volume's length; both run without asking anything.
Text formatterCommandLine(const MainWindow& window, std::int64_t volumeLength,
                          const Text& driveRoot, const Text& workBase) {
    if (volumeLength > kLargeVolumeBytes) return Fat32FormatCommandLine(workBase, driveRoot);
    return FormatComCommandLine(window.formatpath, driveRoot);
}

}  // namespace

bool ConfirmFormat(MainWindow& window, const Text& driveRoot) {
    if (!window.ticked(window.CheckBox1)) return true;
    const Text warning = formatText(window.texts.llwarn, driveRoot);
    if (LangMessageDlg(window.sys, window.texts, warning, DialogKind::Warning, kButtonsOkCancel,
                       {u"OK", window.texts.lcancel}) != kResultCancel)
        return true;
    window.setTicked(window.CheckBox1, false);
    return false;
}

bool FormatVolume(MainWindow& window, const Text& driveRoot, const Text& workBase) {
    if (!window.ticked(window.CheckBox1)) return true;
    Platform& sys = window.sys;
    sys.setCaption(window.CheckBox1, window.texts.lformatting);

    const std::int64_t volumeLength = GetDeviceLength(sys, u"\\\\.\\" + driveRoot);
    if (volumeLength == 0) {
        ShowSupportError(sys, window.texts);
        return false;
    }
    std::uint32_t exitCode = 0;
    if (!RunProcess(sys, formatterCommandLine(window, volumeLength, driveRoot, workBase), true,
                    win::SW_HIDE, exitCode) ||
        exitCode != 0) {
        LangMessageDlg(sys, window.texts, window.texts.lformaterror, DialogKind::Error, kButtonsOk,
                       {u"OK"});
        return false;
    }
    sys.setCaption(window.CheckBox1, window.texts.lformatted);
    return true;
}

}  // namespace qel
