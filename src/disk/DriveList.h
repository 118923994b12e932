// The drive chooser's list of eligible volumes, the byte-count text shown in its items, and the
// rule that decides whether a drive may be formatted.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/Platform.h"

namespace qel {

// A byte count as "14.91 GB", "1.5 KB", "1024 bytes": the largest unit the count strictly
// exceeds, two decimals at most (halves away from zero, trailing zeros dropped), the given
// decimal separator; 0 gives " bytes".
Text FormatByteSize(char16_t decimalSeparator, std::int64_t bytes);
// The same with the user's decimal separator.
Text FormatByteSize(Platform& sys, std::int64_t bytes);

// The drive part of a path: "C:" of "C:\Users\me"; "" when the path starts without one.
Text DrivePart(const Text& path);

// "Format to FAT32" may be offered for a drive root ("E:") unless it is the system drive or the
// drive of the current directory (exact, case-sensitive comparisons). Never for "".
bool FormatOptionAllowed(Platform& sys, const Text& driveRoot);

// The chooser items of the drives C: to Z: that qualify (removable ones always, fixed ones when
// asked for), in letter order, and the index to select: the last removable drive, else 0.
struct DriveListing {
    std::vector<Text> items;
    int selected = -1;
};
DriveListing ListEligibleDrives(Platform& sys, bool withFixedDrives);

}  // namespace qel
