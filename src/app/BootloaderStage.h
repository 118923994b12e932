// "Auto install bootloader" in an extraction run: the pre-check right after the drive probe,
// which picks the Grub2 core image that fits in front of the first partition, and the installs
// after extraction (Grub2's boot area, Clover's boot sector, Syslinux and their menu entries).
#pragma once

#include <cstdint>

#include "platform/Platform.h"
#include "run/RunContext.h"
#include "run/RunView.h"

namespace qel {

// What the run's drive probe found out, before any formatting.
struct ProbedDrive {
    Text root;  // "E:"
    std::uint32_t diskNumber = 0;
    Text partitionStyle;                    // "MBR", "GPT", "RAW"; empty when unreadable
    std::int64_t firstPartitionOffset = 0;  // bytes
    Text fileSystem;                        // as Windows names it; empty when unknown
};

// The core image (a path below the drive root) that fits in front of a first partition at the
// given offset on a volume of the given file system; empty when none fits.
Text ChooseCoreImage(std::int64_t firstPartitionOffset, const Text& fileSystem);

// Clears "Auto install bootloader" on disks that are not MBR; otherwise sets coreImage to the
// full path of the core image to install. When none fits, offers repartitioning (and on "OK"
// opens the repartition window); false then: the run ends here and the program keeps running.
bool PrecheckBootloader(RunContext& context, RunView& view, const ProbedDrive& drive,
                        Text& coreImage);

// With "Auto install bootloader" still ticked, installs the boot code. Failures are not shown:
// each one only skips what depends on it.
void InstallBootloaders(RunContext& context, RunView& view, const ProbedDrive& drive,
                        const Text& coreImage);

}  // namespace qel
