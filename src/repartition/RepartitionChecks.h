// The repartition run's checks before anything is written: the FAT32 partition's size, the
// removal policy older Windows needs for an NTFS partition on a removable disk, and the number
// of progress steps.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/Platform.h"

namespace qel {

// The FAT32 partition of the two-partition layout: at least 160 MiB, and at most the disk's size
// less 161 MiB, so that the NTFS partition keeps at least 160 MiB.
inline constexpr std::int64_t kSmallestFat32Partition = 167772160;
inline constexpr std::int64_t kSpaceKeptBesideFat32 = 168820736;

// The size box's text times the unit ("MB": 1 MiB, anything else 1 GiB) in bytes; nullopt when
// the text is not a decimal number or the byte count does not fit in 64 bits.
std::optional<std::int64_t> Fat32SizeInBytes(const Text& sizeText, const Text& unit);

// The largest FAT32 partition a disk of this size takes.
inline std::int64_t LargestFat32Partition(std::int64_t disksize) {
    return disksize - kSpaceKeptBesideFat32;
}

enum class RemovalPolicy {
    OptimisedForPerformance,  // "UserRemovalPolicy" is 2
    Other,                    // another value, or the device's policy cannot be read
    DiskUnknown,              // the disk driver does not list the disk
};

// The removal policy of a disk (its decimal number) from the registry, read only.
RemovalPolicy ReadRemovalPolicy(Platform& sys, const Text& diskNumber);

// The number of numbered progress steps before "Clean Disk" adds its own.
int ProgressStepTotal(bool fat32Only, bool bootloader);

}  // namespace qel
