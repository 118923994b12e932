// The end of a repartition run: a drive letter for the new volume, the boot code, autorun.inf and
// the companion program.
#include "boot/CloverLegacy.h"
#include "boot/Grub2Mbr.h"
#include "boot/MenuFile.h"
#include "disk/DeviceQueries.h"
#include "repartition/RepartitionRun.h"
#include "run/ChildProcess.h"
#include "run/CommandLines.h"
#include "run/DriveFiles.h"
#include "texts/Dialogs.h"

namespace qel {

namespace {

constexpr std::uint64_t kLargestSyslinuxCluster = 4096;  // bytes, on NTFS

}  // namespace

void RepartitionRun::handOver() {
    giveDriveLetter();
    if (!ensureMenuFolder()) return;
    // Grub2 and Syslinux are reached through the drive letter; without one they are left out.
    if (host_.ticked(RunOption::Bootloader) && !drive_.empty()) installBootCode();
    if (cloverok_) AddCloverMenuEntry(sys_, volumeRoot());
    WriteAutorunInf(sys_, volumeRoot());
    sys_.setCaption(w_.Label2F2, texts_.lrunapp);
    if (mountfail_) {
        host_.ask(texts_.lunplug, DialogKind::Error, kButtonsOk, {u"OK"});
        return;
    }
    startCompanion();
}

// Keeps a letter of the disk that could not be removed; otherwise mounts the volume to the first
// free letter from C on. Only that first free letter is tried.
void RepartitionRun::giveDriveLetter() {
    if (!drive_.empty()) return;
    for (char16_t letter = u'C'; letter <= u'Z'; ++letter) {
        const Text drive = Text(1, letter) + u":";
        if (sys_.driveType(drive + u"\\") != win::DRIVE_NO_ROOT_DIR) continue;
        mountfail_ = !sys_.callSetVolumeMountPointA(volumes_.SetVolumeMountPointA,
                                                    sys_.toAnsi(drive + u"\\"),
                                                    sys_.toAnsi(volumeRoot() + u"\\"));
        if (!mountfail_) drive_ = drive;
        return;
    }
}

// Grub2 into the disk's first sectors; when that worked, Syslinux into the volume and, on the
// one FAT32 partition, Clover's boot sector.
void RepartitionRun::installBootCode() {
    showStep(texts_.linstalling + u" Grub2...");
    if (!InstallGrub2Mbr(sys_, rawDiskPath(), drive_, drive_ + u"\\QEL\\grub\\i386-pc\\uncore.img",
                         static_cast<std::int32_t>(sectorsize_)))
        return;
    if (directoryExists(sys_, drive_ + u"\\")) installSyslinux();
    if (!fat32Only_) return;
    showStep(texts_.linstalling + u" Clover...");
    cloverok_ = InstallCloverLegacy(sys_, volname_, static_cast<std::int32_t>(sectorsize_));
}

void RepartitionRun::installSyslinux() {
    showStep(texts_.linstalling + u" Syslinux...");
    if (!fat32Only_ && !clustersSuitSyslinux()) return;
    std::uint32_t exitCode = 0;
    if (RunProcess(sys_, SyslinuxCommandLine(drive_, IsWow64(sys_)), true, win::SW_HIDE,
                   exitCode) &&
        exitCode == 0)
        AddSyslinuxMenuEntry(sys_, volumeRoot());
}

// Syslinux boots an NTFS volume only when its clusters are at most 4096 bytes.
bool RepartitionRun::clustersSuitSyslinux() {
    const std::uint64_t sectorsPerCluster = GetSectorsPerCluster(sys_, volname_);
    return sectorsPerCluster != 0 && sectorsPerCluster * sectorsize_ <= kLargestSyslinuxCluster;
}

void RepartitionRun::startCompanion() {
    if (drive_.empty() || !directoryExists(sys_, drive_ + u"\\")) return;
    sys_.setCurrentDirectory(drive_ + u"\\");
    std::uint32_t exitCode = 0;
    RunProcess(sys_, drive_ + u"\\QELCreator.exe", false, win::SW_SHOWNORMAL, exitCode);
}

}  // namespace qel
