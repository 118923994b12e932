#include <cstdint>

#include "app/BootloaderStage.h"
#include "app/DisabledWhileInScope.h"
#include "app/FormatStage.h"
#include "app/MainWindow.h"
#include "disk/DeviceQueries.h"
#include "run/ChildProcess.h"
#include "run/CommandLines.h"
#include "run/DriveFiles.h"
#include "run/WorkFolder.h"
#include "texts/Dialogs.h"

namespace qel {

namespace {

constexpr int kProgressLabelWidth = 97;  // at 96 pixels per inch
constexpr int kLabel1FontHeight = -13;   // Label1's font, at 96 pixels per inch

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
class ProgressLabelGuard {
public:
    ProgressLabelGuard(Platform& sys, ControlId label) : sys_(sys), label_(label) {}
    ~ProgressLabelGuard() { sys_.setVisible(label_, false); }
    ProgressLabelGuard(const ProgressLabelGuard&) = delete;
    ProgressLabelGuard& operator=(const ProgressLabelGuard&) = delete;

private:
    Platform& sys_;
    ControlId label_;
};

// ---- One run of "OK" ------------------------------------------------------------------------

struct ProgressLabelMetrics {  // scaled to the screen
    int width;
    int fontHeight;
};

class ExtractionRun {
public:
    ExtractionRun(MainWindow& window, ProgressLabelMetrics metrics)
        : window_(window), sys_(window.sys), metrics_(metrics) {}

    void run();

private:
    bool probeDrive();
    bool extractPayload();
    ControlId createProgressLabel();
    void reportCancelledExtraction();
    void startCompanionApplication();
    void showSupportError() { ShowSupportError(sys_, window_.texts); }
    ProbedDrive probedDrive() const {
        return {driveRoot_, diskNumber_, partitionStyle_, firstPartitionOffset_, fileSystem_};
    }

    MainWindow& window_;
    Platform& sys_;
    ProgressLabelMetrics metrics_;

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
    driveRoot_ = window_.chosenDriveRoot();
    if (driveRoot_.empty()) return;
    // "OK" stays disabled for the whole run, so that the run cannot start again while it pumps
    // messages, and the drive chooser is not refreshed under it.
    const DisabledControl okButton(sys_, window_.Button1);

    if (!probeDrive()) {
        showSupportError();
        return;
    }
    // Either option may end the run here, before anything is created; the window stays.
    if (!PrecheckBootloader(window_, probedDrive(), coreImage_)) return;
    if (!ConfirmFormat(window_, driveRoot_)) return;

    workBase_ = WorkBase(sys_);
    if (!forceDirectories(sys_, WorkFolder(workBase_) + u"\\Lang")) {
        showSupportError();
        sys_.postQuit();
        return;
    }
    const WorkFolderGuard workFolder(sys_, window_.Form1, workBase_);
    StageWorkFolder(sys_, workBase_);

    // The whole main window takes no input while the drive is being filled.
    const DisabledWindow disabledWindow(sys_, window_.Form1);
    if (!FormatVolume(window_, driveRoot_, workBase_)) return;

    if (!extractPayload()) return;
    if (!EnsureMenuFolder(sys_, driveRoot_)) {
        showSupportError();
        return;
    }
    InstallBootloaders(window_, probedDrive(), coreImage_);

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
    const ProgressLabelGuard progress(sys_, createProgressLabel());
    std::uint32_t exitCode = 0;
    if (!RunProcess(sys_, SevenZipCommandLine(workBase_, driveRoot_), true, win::SW_SHOWNORMAL,
                    exitCode)) {
        showSupportError();
        return false;
    }
    if (exitCode == 0) return true;
    if (exitCode == kCancelledInSevenZip)
        reportCancelledExtraction();
    else
        showSupportError();
    return false;
}

ControlId ExtractionRun::createProgressLabel() {
    ControlSpec label;
    label.kind = ControlKind::Label;
    label.caption = window_.texts.lextract;
    label.rect = {sys_.bounds(window_.Button2).left, sys_.bounds(window_.Label2).top,
                  metrics_.width, sys_.bounds(window_.Label1).height};
    label.font.height = metrics_.fontHeight;
    window_.Label2V = sys_.createControl(window_.Form1, label);
    return window_.Label2V;
}

void ExtractionRun::reportCancelledExtraction() {
    const Text& cancelled = window_.texts.lcanceled;
    sys_.setCaption(window_.Label2V, cancelled);
    sys_.messageBox(cancelled + u".", cancelled, win::MB_ICONERROR | win::MB_OK);
}

// Starts QELCreator.exe from the drive root; what it does is its own affair. The progress label
// comes back with lrunapp for the moment the program has left.
void ExtractionRun::startCompanionApplication() {
    sys_.setCaption(window_.Label2V, window_.texts.lrunapp);
    sys_.setVisible(window_.Label2V, true);
    sys_.setCurrentDirectory(driveRoot_ + u"\\");  // the bare file name resolves against it
    sys_.shellExecute(window_.Form1, u"open", u"QELCreator.exe");
}

}  // namespace

void MainWindow::Button1Click() {
    ExtractionRun(*this, {scaled(kProgressLabelWidth), scaled(kLabel1FontHeight)}).run();
}

}  // namespace qel
