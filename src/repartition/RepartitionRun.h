// One run of AutoPartition's "OK": checks and the user's confirmation, the work folder, a new
// partition table (optionally with the disk's first mebibyte cleaned), formatting and filling the
// new partitions, a drive letter, the boot code, autorun.inf and the companion program.
//
// Every run that gets past the confirmation ends the program: once the work folder exists, any
// way out (success, a failure after its message, an exception) closes the disk, deletes the work
// folder and asks the program to end. The repartition window is disabled while the run works and
// enabled again on every way out.
#pragma once

#include <cstdint>

#include "disk/Volume.h"
#include "platform/Platform.h"
#include "repartition/RepartitionCommands.h"
#include "repartition/RepartitionWindow.h"
#include "run/DriveFiles.h"
#include "run/RunContext.h"

namespace qel {

class RepartitionRun {
public:
    // The repartition window must be open.
    RepartitionRun(RunContext& context, RepartitionHost& host, RepartitionWindow& window);
    void run();

private:
    class RunEnding;

    // Checks and confirmation: nothing is created and nothing is written yet.
    bool checkChoices();
    void readGeometry();
    bool readFat32Size();
    bool olderWindowsAllowsNtfs();
    bool confirmed();

    // Work folder and disk preparation.
    bool makeWorkFolder();
    void createProgressLine();
    bool prepareDisk();
    Text volumeOnDisk();
    bool onDisk(const Text& rawVolumePath);
    void releaseDriveLetters();
    bool cleanDisk();

    // Formatting and filling the partitions.
    bool fillOnePartition();
    bool fillTwoPartitions();
    bool fillFat32Partition();
    bool formatFat32Partition();
    bool fillNtfsPartition();
    bool formatNtfsPartition();
    Text fat32Formatter() const;
    bool runFormatter(const Text& commandLine);
    bool shellFormatterSucceeded(const Text& commandLine, const Text& logPath);
    bool runDiskpart(const Text& commandLine);
    void findVolumeAgain();
    bool extractPayload();
    bool ensureMenuFolder();
    bool readSectorZero(Bytes& sector);
    bool rewriteSectorZero(const Bytes& sector);

    // Drive letter, boot code and hand-over.
    void handOver();
    void giveDriveLetter();
    void installBootCode();
    void installSyslinux();
    bool clustersSuitSyslinux();
    void startCompanion();

    void showStep(const Text& text);
    bool supportError();
    bool formatError();
    bool largeVolume() const;
    bool diskpartBranch();
    Text volumeRoot() const { return u"\\\\?\\" + volname_; }
    Text rawDiskPath() const { return RawDiskPath(disknum_); }
    bool ticked(ControlId box);

    RunContext& context_;
    RepartitionHost& host_;
    RepartitionWindow& window_;
    Platform& sys_;
    const TextTable& texts_;
    RepartitionControls w_;  // a copy: the ids stay usable whatever happens to the window
    VolumeFunctions volumes_;
    FormatterPaths paths_;

    // The run state.
    bool fat32Only_ = false;      // layout 1, one FAT32 partition; otherwise NTFS + FAT32
    bool twoPartitions_ = false;  // "FAT32 && NTFS" ticked
    Text disknum_;
    std::int64_t disksize_ = 0;
    std::uint32_t sectorsize_ = 0;
    std::int64_t fat32size_ = 0;
    bool withoutTable_ = false;  // the disk has no partition table (style "RAW")
    Text workBase_;
    bool workFolderMade_ = false;
    Text volname_;
    Text drive_;
    Handle disk_;
    int stepnum_ = 1;
    int steptotal_ = 0;
    std::int64_t vollength_ = 0;
    bool cloverok_ = false;
    bool mountfail_ = false;
    Bytes fullSector_;     // sector 0 as the new table left it
    Bytes workingSector_;  // sector 0 listing one partition at a time
};

}  // namespace qel
