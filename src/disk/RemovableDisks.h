// The physical disks that AutoPartition may repartition: those reporting removable media.
#pragma once

#include <vector>

#include "platform/Platform.h"
#include "texts/TextTable.h"

namespace qel {

// Disk numbers are walked from 0 up to, not including, this bound at most (see the .cpp).
inline constexpr std::uint32_t kDiskNumberBound = 1024;

// Appends one item per removable disk registered with the disk driver, in disk-number order, as
// "RM1 - Generic Flash Disk USB - 7.45 GB". When the driver's enumeration key, its "Count" or a
// disk's device entry cannot be read, shows the support error, asks the program to end and
// returns with the items gathered so far.
void ListRepartitionDisks(Platform& sys, const TextTable& texts, std::vector<Text>& list);

// The display name of a disk: every " Device" taken out (case-sensitive).
Text WithoutDeviceWord(const Text& name);

// The disk number of a disk item: the characters from the third up to the first blank.
Text DiskNumberOfItem(const Text& item);

}  // namespace qel
