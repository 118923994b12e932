// The physical disks that AutoPartition may repartition: those reporting removable media.
#pragma once

#include <vector>

#include "platform/Platform.h"

namespace qel {

// Disk numbers are walked from 0 up to, not including, this bound at most (see the .cpp).
inline constexpr std::uint32_t kDiskNumberBound = 1024;

// One item per removable disk registered with the disk driver, in disk-number order, as
// "RM1 - Generic Flash Disk USB - 7.45 GB". When the driver's enumeration key, its "Count" or a
// disk's device entry cannot be read, the walk stops there: the items gathered so far come back,
// marked unreadable (the caller shows the support error and ends the program).
struct RepartitionDiskList {
    std::vector<Text> items;
    bool unreadable = false;
};
RepartitionDiskList ListRepartitionDisks(Platform& sys);

// The display name of a disk: every " Device" taken out (case-sensitive).
Text WithoutDeviceWord(const Text& name);

// The disk number of a disk item: the characters from the third up to the first blank.
Text DiskNumberOfItem(const Text& item);

}  // namespace qel
