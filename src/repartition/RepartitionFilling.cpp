// The repartition run's formatting and filling of the new partitions. The one-partition route
// formats the single FAT32 volume and fills it. The two-partition route works on one partition
// at a time: sector 0 is rewritten to list only the FAT32 partition, which is formatted, filled,
// marked and given Clover's boot sector; then to list only the NTFS partition, which is formatted
// and filled; then the full table goes back.
#include <algorithm>

#include "boot/CloverLegacy.h"
#include "boot/DeviceIo.h"
#include "boot/MenuFile.h"
#include "disk/DeviceQueries.h"
#include "repartition/RepartitionRun.h"
#include "run/ChildProcess.h"
#include "run/CommandLines.h"
#include "run/DriveFiles.h"
#include "texts/Dialogs.h"

namespace qel {

namespace {

constexpr std::uint32_t kFirstDiskpartBuild = 15063;
constexpr std::size_t kEntry1 = 446;
constexpr std::size_t kEntry2 = 462;
constexpr std::size_t kEntryBytes = 16;

ByteSpan entryOf(const Bytes& sector, std::size_t at) {
    return ByteSpan(sector).subspan(at, kEntryBytes);
}

// Makes the table list one partition, as entry 1, and nothing else.
void listOnly(Bytes& sector, ByteSpan entry) {
    std::copy(entry.begin(), entry.end(), sector.begin() + kEntry1);
    std::fill_n(sector.begin() + kEntry2, kEntryBytes, 0);
}

}  // namespace

bool RepartitionRun::fillOnePartition() {
    vollength_ = GetDeviceLength(sys_, u"\\\\.\\" + volname_);
    if (vollength_ == 0) return supportError();
    showStep(texts_.lpartnew);
    return runFormatter(fat32Formatter()) && extractPayload() && ensureMenuFolder();
}

bool RepartitionRun::fillTwoPartitions() {
    if (!readSectorZero(workingSector_) || !readSectorZero(fullSector_)) return supportError();
    listOnly(workingSector_, entryOf(workingSector_, kEntry2));
    if (!rewriteSectorZero(workingSector_)) return supportError();
    DismountVolume(sys_, volname_);
    if (!fillFat32Partition()) return false;

    listOnly(workingSector_, entryOf(fullSector_, kEntry1));
    if (!rewriteSectorZero(workingSector_)) return supportError();
    if (!fillNtfsPartition()) return false;
    return rewriteSectorZero(fullSector_) || supportError();
}

bool RepartitionRun::fillFat32Partition() {
    showStep(texts_.lpart1 + u" (FAT32)");
    vollength_ = fat32size_;
    if (!formatFat32Partition() || !extractPayload()) return false;

    // The marker of the partition the firmware should boot: one empty line.
    const std::string marker = "\r\n";
    writeWholeFile(sys_, volumeRoot() + u"\\EFI\\BOOT\\EFIPART",
                   Bytes(marker.begin(), marker.end()));
    showStep(texts_.linstalling + u" Clover...");
    cloverok_ = InstallCloverLegacy(sys_, volname_, static_cast<std::int32_t>(sectorsize_));
    if (!ensureMenuFolder()) return false;
    if (cloverok_) AddCloverMenuEntry(sys_, volumeRoot());
    return true;
}

// From build 15063 on Windows shows every partition of a removable disk, and diskpart formats
// the partition; a large one gets NTFS from diskpart first and FAT32 from the carried formatter.
bool RepartitionRun::formatFat32Partition() {
    if (!diskpartBranch()) return runFormatter(fat32Formatter());
    const Text fileSystem = largeVolume() ? u"NTFS" : u"FAT32";
    if (!runDiskpart(DiskpartFormatCommandLine(paths_, disknum_, 2, fileSystem, u"QEL_UEFI")))
        return false;
    return !largeVolume() || runFormatter(Fat32FormatCommandLine(workBase_, volname_));
}

bool RepartitionRun::fillNtfsPartition() {
    showStep(texts_.lpart2 + u" (NTFS)");
    if (!formatNtfsPartition()) return false;
    const Text log = NtfsFormatLogPath(workBase_);
    if (fileExists(sys_, log)) sys_.deleteFile(log);
    return extractPayload();
}

bool RepartitionRun::formatNtfsPartition() {
    if (diskpartBranch())
        return runDiskpart(DiskpartFormatCommandLine(paths_, disknum_, 1, u"NTFS", u"RAZEVOR"));
    if (!shellFormatterSucceeded(FormatNtfsCommandLine(paths_, volname_),
                                 NtfsFormatLogPath(workBase_)))
        return formatError();
    return true;
}

// ---- the formatters --------------------------------------------------------------------------

Text RepartitionRun::fat32Formatter() const {
    return largeVolume() ? Fat32FormatCommandLine(workBase_, volname_)
                         : FormatFat32CommandLine(paths_, volname_);
}

bool RepartitionRun::runFormatter(const Text& commandLine) {
    std::uint32_t exitCode = 0;
    if (RunProcess(sys_, commandLine, true, win::SW_HIDE, exitCode) && exitCode == 0) return true;
    return formatError();
}

// The shell writes the log only when the formatter ended with exit code 0.
bool RepartitionRun::shellFormatterSucceeded(const Text& commandLine, const Text& logPath) {
    std::uint32_t exitCode = 0;
    return RunProcess(sys_, commandLine, true, win::SW_HIDE, exitCode) && fileExists(sys_, logPath);
}

// Each diskpart run is judged by its own log, and the partition it formatted may come back as
// another volume.
bool RepartitionRun::runDiskpart(const Text& commandLine) {
    const Text log = DiskpartLogPath(workBase_);
    if (!shellFormatterSucceeded(commandLine, log)) return supportError();
    sys_.deleteFile(log);
    findVolumeAgain();
    return true;
}

void RepartitionRun::findVolumeAgain() {
    const Text found = volumeOnDisk();
    if (!found.empty()) volname_ = found;
}

bool RepartitionRun::largeVolume() const {
    return vollength_ > kLargeVolumeBytes;
}

bool RepartitionRun::diskpartBranch() {
    return sys_.windowsVersion().build >= kFirstDiskpartBuild;
}

// ---- filling ---------------------------------------------------------------------------------

bool RepartitionRun::extractPayload() {
    showStep(texts_.lfcopy);
    std::uint32_t exitCode = 0;
    if (!RunProcess(sys_, SevenZipCommandLine(workBase_, volumeRoot()), true, win::SW_SHOWNORMAL,
                    exitCode))
        return supportError();
    if (exitCode == 0) return true;
    if (exitCode != kCancelledInSevenZip) return supportError();
    const Text& cancelled = texts_.lcanceled;
    host_.showStatus(cancelled);
    host_.tell(cancelled + u".", cancelled, win::MB_ICONERROR | win::MB_OK);
    return false;
}

bool RepartitionRun::ensureMenuFolder() {
    return EnsureMenuFolder(sys_, volumeRoot()) || supportError();
}

bool RepartitionRun::rewriteSectorZero(const Bytes& sector) {
    std::uint32_t returned = 0;
    return moveTo(sys_, disk_, 0) && writeFrom(sys_, disk_, sector) &&
           sys_.deviceIoControl(disk_, win::IOCTL_DISK_UPDATE_PROPERTIES, {}, {}, returned);
}

}  // namespace qel
