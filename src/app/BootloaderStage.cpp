#include "app/BootloaderStage.h"

#include <array>

#include "boot/CloverLegacy.h"
#include "boot/Grub2Mbr.h"
#include "boot/MenuFile.h"
#include "disk/DeviceQueries.h"
#include "run/ChildProcess.h"
#include "run/CommandLines.h"
#include "run/DriveFiles.h"
#include "texts/Dialogs.h"

namespace qel {

namespace {

constexpr std::uint64_t kLargestSyslinuxCluster = 4096;  // on NTFS

enum class FileSystems { Any, FatOrNtfs, ExFat };

struct CoreImageRule {
    const char16_t* path;
    FileSystems fileSystems;
    std::int64_t minimumOffset;  // bytes in front of the first partition
};

// Tried in order; the first that matches wins.
constexpr std::array<CoreImageRule, 3> kCoreImageRules{{
    {u"\\QEL\\grub\\i386-pc\\uncore.img", FileSystems::Any, 68096},
    {u"\\QEL\\grub\\i386-pc\\msdos_fat.img", FileSystems::FatOrNtfs, 62976},
    {u"\\QEL\\grub\\i386-pc\\msdos_exfat.img", FileSystems::ExFat, 66048},
}};

// File-system names as Windows reports them, compared exactly.
bool matches(FileSystems wanted, const Text& fileSystem) {
    switch (wanted) {
        case FileSystems::Any:
            return true;
        case FileSystems::FatOrNtfs:
            return fileSystem == u"FAT32" || fileSystem == u"FAT16" || fileSystem == u"FAT12" ||
                   fileSystem == u"FAT" || fileSystem == u"NTFS";
        case FileSystems::ExFat:
            return fileSystem == u"exFAT";
    }
    return false;
}

// One run of the boot installs, from Grub2 onwards.
class BootloaderInstall {
public:
    BootloaderInstall(RunContext& context, RunView& view, const ProbedDrive& drive,
                      const Text& coreImage)
        : context_(context), view_(view), sys_(context.sys), drive_(drive), coreImage_(coreImage) {}

    void run() {
        if (!installGrub2()) return;
        bool syslinuxInstalled = false;
        if (drive_.fileSystem == u"FAT32" || view_.ticked(RunOption::Format)) {
            installClover();
            syslinuxInstalled = installSyslinuxOnFat32();
        } else if (drive_.fileSystem == u"NTFS") {
            syslinuxInstalled = installSyslinuxOnNtfs();
        }
        if (syslinuxInstalled) AddSyslinuxMenuEntry(sys_, drive_.root);
    }

private:
    void showProgress(const char16_t* installer) {
        view_.showOptionCaption(RunOption::Bootloader, context_.texts.linstalling + installer);
    }

    // True when the disk carries the boot area now, already or newly written.
    bool installGrub2() {
        showProgress(u" Grub2...");
        const Text disk = RawDiskPath(drive_.diskNumber);
        DiskGeometry geometry;
        GetDiskGeometry(sys_, disk, geometry);
        bytesPerSector_ = geometry.BytesPerSector;
        if (CheckGrub2Mbr(sys_, disk, drive_.root, coreImage_, sectorSize()) == kGrub2Installed)
            return true;
        return InstallGrub2Mbr(sys_, disk, drive_.root, coreImage_, sectorSize());
    }

    void installClover() {
        showProgress(u" Clover...");
        if (InstallCloverLegacy(sys_, drive_.root, sectorSize()))
            AddCloverMenuEntry(sys_, drive_.root);
    }

    bool installSyslinuxOnFat32() {
        showProgress(u" Syslinux...");
        // The installer writes a fresh boot-sector file; an old one must not be taken for it.
        const Text bootSectorFile = SyslinuxBootSectorFile(drive_.root);
        if (fileExists(sys_, bootSectorFile)) sys_.deleteFile(bootSectorFile);
        return runSyslinux();
    }

    // Syslinux boots NTFS volumes only with clusters of at most 4096 bytes.
    bool installSyslinuxOnNtfs() {
        showProgress(u" Syslinux...");
        const std::uint64_t sectorsPerCluster = GetSectorsPerCluster(sys_, drive_.root);
        const std::uint64_t clusterBytes = sectorsPerCluster * bytesPerSector_;
        if (clusterBytes == 0 || clusterBytes > kLargestSyslinuxCluster) return false;
        return runSyslinux();
    }

    bool runSyslinux() {
        std::uint32_t exitCode = 0;
        return RunProcess(sys_, SyslinuxCommandLine(drive_.root, IsWow64(sys_)), true, win::SW_HIDE,
                          exitCode) &&
               exitCode == 0;
    }

    // The installers refuse sizes that are not positive, as an unreadable geometry gives.
    std::int32_t sectorSize() const { return static_cast<std::int32_t>(bytesPerSector_); }

    RunContext& context_;
    RunView& view_;
    Platform& sys_;
    const ProbedDrive& drive_;
    const Text& coreImage_;
    std::uint32_t bytesPerSector_ = 0;
};

}  // namespace

Text ChooseCoreImage(std::int64_t firstPartitionOffset, const Text& fileSystem) {
    for (const CoreImageRule& rule : kCoreImageRules)
        if (firstPartitionOffset >= rule.minimumOffset && matches(rule.fileSystems, fileSystem))
            return rule.path;
    return {};
}

bool PrecheckBootloader(RunContext& context, RunView& view, const ProbedDrive& drive,
                        Text& coreImage) {
    coreImage.clear();
    if (!view.ticked(RunOption::Bootloader) || drive.partitionStyle != u"MBR") {
        view.setTicked(RunOption::Bootloader, false);
        return true;
    }
    const Text chosen = ChooseCoreImage(drive.firstPartitionOffset, drive.fileSystem);
    if (!chosen.empty()) {
        coreImage = drive.root + chosen;
        return true;
    }
    if (view.ask(context.texts.llrepart, DialogKind::Warning, kButtonsOkCancel,
                 {u"OK", context.texts.lcancel}) != kResultCancel)
        view.offerRepartition();
    return false;
}

void InstallBootloaders(RunContext& context, RunView& view, const ProbedDrive& drive,
                        const Text& coreImage) {
    if (view.ticked(RunOption::Bootloader))
        BootloaderInstall(context, view, drive, coreImage).run();
}

}  // namespace qel
