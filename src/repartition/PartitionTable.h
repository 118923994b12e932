// A fresh master-boot-record partition table for a whole removable disk.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace qel {

inline constexpr std::int64_t kMebibyte = 1048576;
inline constexpr std::uint8_t kPartitionTypeFat32Lba = 0x0C;
inline constexpr std::uint8_t kPartitionTypeNtfs = 0x07;

// RandomText alphabets.
inline constexpr int kRandomDigits = 1;
inline constexpr int kRandomLetters = 2;
inline constexpr int kRandomHex = 0;  // any other kind gives lowercase hexadecimal digits too

// Zeroes the disk's first sector, then gives the disk a new random signature and a table of four
// entries: layout 1 is one active FAT32 partition from 1 MiB to disksize; any other layout is an
// NTFS partition from 1 MiB followed by an active FAT32 partition of fat32size bytes ending at
// disksize. Asks Windows to re-read the table. False when the sector size is 0, the zero write
// fails or either device control fails; nothing is undone. The handle stays open.
bool WriteNewPartitionTable(Platform& sys, const Handle& handle, std::int32_t layout,
                            std::uint32_t sectorsize, std::int64_t disksize,
                            std::int64_t fat32size);

// The 136-byte layout record WriteNewPartitionTable sends to Windows.
Bytes NewLayoutRecord(std::int32_t layout, std::uint32_t sectorsize, std::int64_t disksize,
                      std::int64_t fat32size, std::uint32_t signature);

// A text of length characters (at least one) drawn uniformly from an alphabet: kind 2 lowercase
// letters, 1 digits, anything else lowercase hexadecimal digits. Reseeded from the clock at every
// call.
Text RandomText(Platform& sys, int length, int kind);

}  // namespace qel
