#include "app/ExtractionRun.h"

#include <cstdint>

#include "app/BootloaderStage.h"
#include "app/FormatStage.h"
#include "disk/DeviceQueries.h"
#include "run/ChildProcess.h"
#include "run/CommandLines.h"
#include "run/DriveFiles.h"
#include "run/WorkFolder.h"

namespace qel {

namespace {

// ---- The run's guards: each undoes one piece of the run's state however the run is left -------

// Once the work folder exists, every way out of the run deletes it and ends the program.
class WorkFolderGuard {
public:
    WorkFolderGuard(Platform& sys, WindowId owner, Text workBase)
        : sys_(sys), owner_(owner), workBase_(std::move(workBase)) {}
    ~WorkFolderGuard() {
        DeleteWorkFolder(sys_, owner_, workBase_);
        sys_.postQuit();
    }
    WorkFolderGuard(const WorkFolderGuard&) = delete;
    WorkFolderGuard& operator=(const WorkFolderGuard&) = delete;

private:
    Platform& sys_;
    WindowId owner_;
    Text workBase_;
};

// The progress label shows while 7-Zip runs and is hidden when the extraction ends.
class ProgressShown {
public:
    ProgressShown(RunView& view, const Text& caption) : view_(view) { view_.showProgress(caption); }
    ~ProgressShown() { view_.hideProgress(); }
    ProgressShown(const ProgressShown&) = delete;
    ProgressShown& operator=(const ProgressShown&) = delete;

private:
    RunView& view_;
};

// ---- One run of "OK" ------------------------------------------------------------------------

class ExtractionRun {
public:
    ExtractionRun(RunContext& context, RunView& view, Text driveRoot)
        : context_(context), view_(view), sys_(context.sys), driveRoot_(std::move(driveRoot)) {}

    void run();

private:
    bool probeDrive();
    bool extractPayload();
    void reportCancelledExtraction();
    void startCompanionApplication();
    ProbedDrive probedDrive() const {
        return {driveRoot_, diskNumber_, partitionStyle_, firstPartitionOffset_, fileSystem_};
    }

    RunContext& context_;
    RunView& view_;
    Platform& sys_;

    // Values of this run.
    Text driveRoot_;
    std::uint32_t diskNumber_ = kUnknownDiskNumber;
    std::int64_t firstPartitionOffset_ = 0;
    Text partitionStyle_;
    Text fileSystem_;
    Text coreImage_;
    Text workBase_;
};

void ExtractionRun::run() {
    if (!probeDrive()) {
        view_.showSupportError();
        return;
    }
    // Either option may end the run here, before anything is created; the window stays.
    if (!PrecheckBootloader(context_, view_, probedDrive(), coreImage_)) return;
    if (!ConfirmFormat(context_, view_, driveRoot_)) return;

    workBase_ = context_.workBase();
    if (!forceDirectories(sys_, WorkFolder(workBase_) + u"\\Lang")) {
        view_.showSupportError();
        sys_.postQuit();
        return;
    }
    const WorkFolderGuard workFolder(sys_, view_.owner(), workBase_);
    StageWorkFolder(sys_, workBase_);

    // The whole main window takes no input while the drive is being filled.
    const InputHeld inputHeld(view_);
    if (!FormatVolume(context_, view_, driveRoot_, workBase_)) return;

    if (!extractPayload()) return;
    if (!EnsureMenuFolder(sys_, driveRoot_)) {
        view_.showSupportError();
        return;
    }
    InstallBootloaders(context_, view_, probedDrive(), coreImage_);

    WriteAutorunInf(sys_, driveRoot_);
    startCompanionApplication();
}

// Finds the physical disk behind the chosen volume, its layout and the volume's file system.
bool ExtractionRun::probeDrive() {
    diskNumber_ = GetVolumeDiskExtent(sys_, u"\\\\.\\" + driveRoot_).DiskNumber;
    if (diskNumber_ == kUnknownDiskNumber) return false;
    firstPartitionOffset_ = 0;
    partitionStyle_.clear();
    GetDiskLayoutInfo(sys_, RawDiskPath(diskNumber_), firstPartitionOffset_, partitionStyle_);
    const auto volume = sys_.volumeInformation(driveRoot_ + u"\\");
    fileSystem_ = volume ? volume->fileSystem : Text();
    return true;
}

// Runs 7-Zip onto the drive root with the progress label showing; false when the run must end.
bool ExtractionRun::extractPayload() {
    const ProgressShown progress(view_, context_.texts.lextract);
    std::uint32_t exitCode = 0;
    if (!RunProcess(sys_, SevenZipCommandLine(workBase_, driveRoot_), true, win::SW_SHOWNORMAL,
                    exitCode)) {
        view_.showSupportError();
        return false;
    }
    if (exitCode == 0) return true;
    if (exitCode == kCancelledInSevenZip)
        reportCancelledExtraction();
    else
        view_.showSupportError();
    return false;
}

void ExtractionRun::reportCancelledExtraction() {
    const Text& cancelled = context_.texts.lcanceled;
    view_.showProgress(cancelled);
    view_.tell(cancelled + u".", cancelled, win::MB_ICONERROR | win::MB_OK);
}

// Starts QELCreator.exe from the drive root; what it does is its own affair. The progress label
// comes back with lrunapp for the moment the program has left.
void ExtractionRun::startCompanionApplication() {
    view_.showProgress(context_.texts.lrunapp);
    sys_.setCurrentDirectory(driveRoot_ + u"\\");  // the bare file name resolves against it
    sys_.shellExecute(view_.owner(), u"open", u"QELCreator.exe");
}

}  // namespace

void RunExtraction(RunContext& context, RunView& view, const Text& driveRoot) {
    ExtractionRun(context, view, driveRoot).run();
}

}  // namespace qel
