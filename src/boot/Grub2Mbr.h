// Grub2's BIOS boot code in the first sector of a physical disk and its core image in the sectors
// right behind it. The disk signature, the partition table and the boot signature (bytes 440 to
// 511) keep the disk's own bytes.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace qel {

// Results of CheckGrub2Mbr.
inline constexpr std::uint16_t kGrub2Differs = 0;
inline constexpr std::uint16_t kGrub2Installed = 1;
inline constexpr std::uint16_t kGrub2Undetermined = 2;

// Compares the disk's first bytes with what InstallGrub2Mbr would write there: 1 when equal, 0
// when different, 2 when the disk, the boot image or the core image cannot be opened or read,
// the sector size is not positive, or the boot area would reach into the first partition.
// diskPath is "\\.\PHYSICALDRIVEn"; the boot image is driveRoot + "\QEL\grub\i386-pc\boot.img".
std::uint16_t CheckGrub2Mbr(Platform& sys, const Text& diskPath, const Text& driveRoot,
                            const Text& coreImagePath, std::int32_t bytesPerSector);

// Writes the boot area from byte 0 of the disk in two writes: the sectors behind the first, then
// the first sector; true when both succeeded. Nothing is written when any input fails or the
// boot area would reach into the first partition.
bool InstallGrub2Mbr(Platform& sys, const Text& diskPath, const Text& driveRoot,
                     const Text& coreImagePath, std::int32_t bytesPerSector);

// Length of the boot area: the core image's size plus 512, rounded up to whole sectors; 0 for a
// sector size below 1.
std::int64_t grub2BootAreaLength(std::int64_t coreImageSize, std::int32_t bytesPerSector);

}  // namespace qel
