#include "repartition/RepartitionRun.h"

#include <algorithm>

#include "boot/DeviceIo.h"
#include "disk/DeviceQueries.h"
#include "disk/DriveList.h"
#include "disk/RemovableDisks.h"
#include "repartition/PartitionTable.h"
#include "repartition/RepartitionChecks.h"
#include "run/WorkFolder.h"
#include "texts/Dialogs.h"

namespace qel {

namespace {

constexpr std::uint32_t kVolumeNameBuffer = 1024;
// A sector must hold a partition table; a geometry that reports fewer bytes per sector (0 when
// the query failed) cannot be worked with.
constexpr std::uint32_t kSmallestSector = 512;
// Sector 0 from the disk signature to the boot signature: what "Clean Disk" keeps.
constexpr std::size_t kTableStart = 440;
constexpr std::size_t kTableEnd = 512;
constexpr int kGap = 8;  // pixels at 96 per inch

Text selectedText(Platform& sys, ControlId list) {
    const auto items = sys.items(list);
    const int index = sys.selectedIndex(list);
    if (index < 0 || index >= static_cast<int>(items.size())) return {};
    return items[static_cast<std::size_t>(index)];
}

}  // namespace

// However the run is left: once the work folder exists, the disk is closed, the work folder
// deleted and the program asked to end; the repartition window is enabled in every case.
class RepartitionRun::RunEnding {
public:
    explicit RunEnding(RepartitionRun& run) : run_(run) {}
    ~RunEnding() {
        if (run_.workFolderMade_) {
            run_.disk_.close();
            DeleteWorkFolder(run_.sys_, run_.host_.owner(), run_.workBase_);
            run_.sys_.postQuit();
        }
        if (run_.window_.isOpen() && run_.window_.controls().window == run_.w_.window)
            run_.sys_.setWindowEnabled(run_.w_.window, true);
    }
    RunEnding(const RunEnding&) = delete;
    RunEnding& operator=(const RunEnding&) = delete;

private:
    RepartitionRun& run_;
};

RepartitionRun::RepartitionRun(RunContext& context, RepartitionHost& host,
                               RepartitionWindow& window)
    : context_(context),
      host_(host),
      window_(window),
      sys_(context.sys),
      texts_(context.texts),
      w_(window.controls()),
      volumes_(context.sys) {}

void RepartitionRun::run() {
    const RunEnding ending(*this);
    sys_.setWindowEnabled(w_.window, false);
    if (!checkChoices() || !confirmed() || !makeWorkFolder()) return;
    createProgressLine();
    stepnum_ = 1;
    steptotal_ = ProgressStepTotal(fat32Only_, host_.ticked(RunOption::Bootloader));
    StageWorkFolder(sys_, workBase_);
    if (!prepareDisk()) return;
    cloverok_ = false;
    if (fat32Only_ ? fillOnePartition() : fillTwoPartitions()) handOver();
}

// ---- checks ----------------------------------------------------------------------------------

bool RepartitionRun::checkChoices() {
    fat32Only_ = ticked(w_.CheckBox1F2);
    twoPartitions_ = ticked(w_.CheckBox2F2);
    if (!fat32Only_ && !twoPartitions_) {
        host_.tell(texts_.lchoose, kApplicationTitle, win::MB_OK);
        return false;
    }
    disknum_ = DiskNumberOfItem(selectedText(sys_, w_.ComboBox1F2));
    readGeometry();
    // An unreadable geometry gives a size of 0, which the FAT32 size check refuses first.
    if (twoPartitions_ && !readFat32Size()) return false;
    if (sectorsize_ < kSmallestSector) return supportError();

    std::int64_t firstPartitionOffset = 0;
    Text partitionStyle;
    GetDiskLayoutInfo(sys_, rawDiskPath(), firstPartitionOffset, partitionStyle);
    // A disk without a table, as a run cut off while writing it leaves the disk, gets an MBR
    // table from this run like any other, and the boot code with it.
    withoutTable_ = partitionStyle == u"RAW";
    if (partitionStyle != u"MBR" && !withoutTable_) host_.setTicked(RunOption::Bootloader, false);
    return olderWindowsAllowsNtfs();
}

void RepartitionRun::readGeometry() {
    DiskGeometry geometry;
    GetDiskGeometry(sys_, rawDiskPath(), geometry);
    disksize_ = geometry.size();
    sectorsize_ = geometry.BytesPerSector;
    fat32size_ = 0;
}

bool RepartitionRun::readFat32Size() {
    const Text sizeText = sys_.caption(w_.Edit1V);
    if (sizeText.empty()) {
        host_.ask(texts_.lfatsize, DialogKind::Error, kButtonsOk, {u"OK"});
        return false;
    }
    const std::int64_t limit = LargestFat32Partition(disksize_);
    const auto size = Fat32SizeInBytes(sizeText, selectedText(sys_, w_.ComboBox2F2));
    if (!size || *size < kSmallestFat32Partition || *size > limit) {
        host_.ask(texts_.lsize + FormatByteSize(sys_, limit) + u".", DialogKind::Error, kButtonsOk,
                  {u"OK"});
        return false;
    }
    fat32size_ = *size;
    return true;
}

// Windows before Vista shows the NTFS partition of a removable disk only when the disk is
// optimised for performance.
bool RepartitionRun::olderWindowsAllowsNtfs() {
    const WindowsVersion version = sys_.windowsVersion();
    if (version.major >= 6 || !twoPartitions_) return true;
    switch (ReadRemovalPolicy(sys_, disknum_)) {
        case RemovalPolicy::OptimisedForPerformance:
            return true;
        case RemovalPolicy::DiskUnknown:
            return supportError();
        case RemovalPolicy::Other:
            break;
    }
    host_.ask(formatText(texts_.lntfsxp, WindowsName(version)), DialogKind::Information, kButtonsOk,
              {u"OK"});
    return false;
}

bool RepartitionRun::confirmed() {
    if (host_.ask(texts_.ldautopart, DialogKind::Warning, kButtonsOkCancel,
                  {u"OK", texts_.lcancel}) != kResultCancel)
        return true;
    host_.setBoxTicked(w_.CheckBox1F2, false);
    host_.setBoxTicked(w_.CheckBox2F2, false);
    return false;
}

// ---- work folder and progress line ------------------------------------------------------------

bool RepartitionRun::makeWorkFolder() {
    workBase_ = context_.workBase();
    if (!forceDirectories(sys_, WorkFolder(workBase_) + u"\\Lang")) {
        host_.showSupportError();
        sys_.postQuit();
        return false;
    }
    workFolderMade_ = true;
    paths_ = {ShellProgram(sys_),
              context_.systemDrive + u"\\Windows\\" + context_.systemDir + u"\\diskpart",
              context_.formatPath, workBase_};
    return true;
}

void RepartitionRun::createProgressLine() {
    ControlSpec label;
    label.kind = ControlKind::Label;
    label.rect = {0, sys_.bounds(w_.Button1F2).bottom() + host_.scaledPixels(kGap),
                  sys_.clientSize(w_.window).first, host_.referenceHeights().label};
    label.font.face = u"Arial";
    label.font.height = host_.scaledPixels(-13);  // the size of the main window's Label1
    label.align = TextAlign::Centre;
    label.verticallyCentred = true;
    w_.Label2F2 = sys_.createControl(w_.window, label);
    if (window_.isOpen()) window_.setProgressLine(w_.Label2F2);
    sys_.setClientSize(w_.window, sys_.clientSize(w_.window).first,
                       label.rect.bottom() + host_.scaledPixels(kGap));
}

void RepartitionRun::showStep(const Text& text) {
    sys_.setCaption(w_.Label2F2,
                    text + u" (" + decimal(stepnum_) + u"/" + decimal(steptotal_) + u")");
    ++stepnum_;
}

// ---- the disk --------------------------------------------------------------------------------

bool RepartitionRun::prepareDisk() {
    volname_ = volumeOnDisk();
    if (volname_.empty() && !withoutTable_) return supportError();
    releaseDriveLetters();
    disk_ = sys_.createFile(rawDiskPath(), win::GENERIC_READ | win::GENERIC_WRITE,
                            win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, win::OPEN_EXISTING, 0);
    if (!disk_.valid()) return supportError();
    if (!WriteNewPartitionTable(sys_, disk_, fat32Only_ ? 1 : 2, sectorsize_, disksize_,
                                fat32size_))
        return supportError();
    // A disk without a table has its volume from the new one on.
    if (volname_.empty()) {
        volname_ = volumeOnDisk();
        if (volname_.empty()) return supportError();
        releaseDriveLetters();
    }
    if (ticked(w_.CheckBox3F2) && !cleanDisk()) return supportError();
    return true;
}

bool RepartitionRun::onDisk(const Text& rawVolumePath) {
    const std::uint32_t number = GetVolumeDiskExtent(sys_, rawVolumePath).DiskNumber;
    return number != kUnknownDiskNumber && decimal(number) == disknum_;
}

// The first volume Windows enumerates whose first extent lies on the disk, as "Volume{…}";
// empty when there is none.
Text RepartitionRun::volumeOnDisk() {
    volumes_.LoadVolumeFunctions();
    std::string name;
    const FindVolumeId search =
        sys_.callFindFirstVolumeA(volumes_.FindFirstVolumeA, name, kVolumeNameBuffer);
    if (search == 0) return {};
    Text found;
    do {
        const Text path = sys_.fromAnsi(name);  // "\\?\Volume{…}\"
        if (path.size() < 5) continue;
        const Text candidate = path.substr(4, path.size() - 5);
        if (onDisk(u"\\\\.\\" + candidate)) found = candidate;
    } while (found.empty() &&
             sys_.callFindNextVolumeA(volumes_.FindNextVolumeA, search, name, kVolumeNameBuffer));
    sys_.callFindVolumeClose(volumes_.FindVolumeClose, search);
    return found;
}

// Takes every drive letter of the disk away; a letter that cannot be removed is kept as the
// drive (the last one wins).
void RepartitionRun::releaseDriveLetters() {
    drive_.clear();
    for (char16_t letter = u'A'; letter <= u'Z'; ++letter) {
        const Text drive = Text(1, letter) + u":";
        const std::uint32_t type = sys_.driveType(drive + u"\\");
        if (type != win::DRIVE_FIXED && type != win::DRIVE_REMOVABLE) continue;
        if (!onDisk(u"\\\\.\\" + drive)) continue;
        if (!sys_.callDeleteVolumeMountPointA(volumes_.DeleteVolumeMountPointA,
                                              sys_.toAnsi(drive + u"\\")))
            drive_ = drive;
    }
}

// Zeroes the first mebibyte except the new table: boot code and everything up to the first
// partition go.
bool RepartitionRun::cleanDisk() {
    ++steptotal_;
    showStep(texts_.lang == u"vi" ? u"Đang làm sạch đĩa" : u"Being clean disk");
    Bytes sector;
    if (!readSectorZero(sector)) return false;
    Bytes block(static_cast<std::size_t>(kMebibyte), 0);
    std::copy(sector.begin() + kTableStart, sector.begin() + kTableEnd,
              block.begin() + kTableStart);
    return moveTo(sys_, disk_, 0) && writeFrom(sys_, disk_, block);
}

bool RepartitionRun::readSectorZero(Bytes& sector) {
    sector.assign(sectorsize_, 0);
    return moveTo(sys_, disk_, 0) && readInto(sys_, disk_, sector);
}

// ---- shared pieces ---------------------------------------------------------------------------

bool RepartitionRun::supportError() {
    host_.showSupportError();
    return false;
}

bool RepartitionRun::formatError() {
    host_.ask(texts_.lformaterror, DialogKind::Error, kButtonsOk, {u"OK"});
    return false;
}

bool RepartitionRun::ticked(ControlId box) {
    return sys_.checked(box);
}

}  // namespace qel
