#include "app/FormatStage.h"

#include "disk/DeviceQueries.h"
#include "run/ChildProcess.h"
#include "run/CommandLines.h"
#include "texts/Dialogs.h"

namespace qel {

namespace {

// The formatter that suits the volume's length; both run without asking anything.
Text formatterCommandLine(const RunContext& context, std::int64_t volumeLength,
                          const Text& driveRoot, const Text& workBase) {
    if (volumeLength > kLargeVolumeBytes) return Fat32FormatCommandLine(workBase, driveRoot);
    return FormatComCommandLine(context.formatPath, driveRoot);
}

}  // namespace

bool ConfirmFormat(RunContext& context, RunView& view, const Text& driveRoot) {
    if (!view.ticked(RunOption::Format)) return true;
    const Text warning = formatText(context.texts.llwarn, driveRoot);
    if (view.ask(warning, DialogKind::Warning, kButtonsOkCancel, {u"OK", context.texts.lcancel}) !=
        kResultCancel)
        return true;
    view.setTicked(RunOption::Format, false);
    return false;
}

bool FormatVolume(RunContext& context, RunView& view, const Text& driveRoot, const Text& workBase) {
    if (!view.ticked(RunOption::Format)) return true;
    Platform& sys = context.sys;
    view.showOptionCaption(RunOption::Format, context.texts.lformatting);

    const std::int64_t volumeLength = GetDeviceLength(sys, u"\\\\.\\" + driveRoot);
    if (volumeLength == 0) {
        view.showSupportError();
        return false;
    }
    std::uint32_t exitCode = 0;
    if (!RunProcess(sys, formatterCommandLine(context, volumeLength, driveRoot, workBase), true,
                    win::SW_HIDE, exitCode) ||
        exitCode != 0) {
        view.ask(context.texts.lformaterror, DialogKind::Error, kButtonsOk, {u"OK"});
        return false;
    }
    view.showOptionCaption(RunOption::Format, context.texts.lformatted);
    return true;
}

}  // namespace qel
