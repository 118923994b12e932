// Byte layouts of the records Windows exchanges with the program through device controls, as the
// system publishes them. The portable code reads and writes raw buffers with these offsets; the
// Windows build checks every value against the platform headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace qel::records {

// VOLUME_DISK_EXTENTS: a 32-bit count, 4 bytes of alignment, then DISK_EXTENT entries.
namespace volume_disk_extents {
inline constexpr std::size_t kCount = 0;
inline constexpr std::size_t kExtents = 8;
inline constexpr std::size_t kBufferSize = 260;  // room for ten extents and the header
}  // namespace volume_disk_extents

namespace disk_extent {
inline constexpr std::size_t kDiskNumber = 0;
inline constexpr std::size_t kStartingOffset = 8;
inline constexpr std::size_t kExtentLength = 16;
inline constexpr std::size_t kSize = 24;
}  // namespace disk_extent

// DRIVE_LAYOUT_INFORMATION_EX: a 48-byte header, then PARTITION_INFORMATION_EX entries.
namespace drive_layout_ex {
inline constexpr std::size_t kPartitionStyle = 0;
inline constexpr std::size_t kPartitionCount = 4;
inline constexpr std::size_t kMbrSignature = 8;
inline constexpr std::size_t kEntries = 48;
inline constexpr std::size_t kBufferSize = 2352;  // header and sixteen entries
}  // namespace drive_layout_ex

namespace partition_info_ex {
inline constexpr std::size_t kPartitionStyle = 0;
inline constexpr std::size_t kStartingOffset = 8;
inline constexpr std::size_t kPartitionLength = 16;
inline constexpr std::size_t kPartitionNumber = 24;
inline constexpr std::size_t kRewritePartition = 28;
inline constexpr std::size_t kMbrPartitionType = 32;
inline constexpr std::size_t kMbrBootIndicator = 33;
inline constexpr std::size_t kMbrRecognizedPartition = 34;
inline constexpr std::size_t kMbrHiddenSectors = 36;
inline constexpr std::size_t kSize = 144;
}  // namespace partition_info_ex

// DISK_GEOMETRY.
namespace disk_geometry {
inline constexpr std::size_t kCylinders = 0;
inline constexpr std::size_t kMediaType = 8;
inline constexpr std::size_t kTracksPerCylinder = 12;
inline constexpr std::size_t kSectorsPerTrack = 16;
inline constexpr std::size_t kBytesPerSector = 20;
inline constexpr std::size_t kSize = 24;
}  // namespace disk_geometry

// GET_LENGTH_INFORMATION.
namespace length_information {
inline constexpr std::size_t kLength = 0;
inline constexpr std::size_t kSize = 8;
}  // namespace length_information

// FILE_FS_SIZE_INFORMATION.
namespace fs_size_information {
inline constexpr std::size_t kTotalAllocationUnits = 0;
inline constexpr std::size_t kAvailableAllocationUnits = 8;
inline constexpr std::size_t kSectorsPerAllocationUnit = 16;
inline constexpr std::size_t kBytesPerSector = 20;
inline constexpr std::size_t kSize = 24;
}  // namespace fs_size_information

// DRIVE_LAYOUT_INFORMATION with exactly four PARTITION_INFORMATION entries (136 bytes), the input
// of IOCTL_DISK_SET_DRIVE_LAYOUT.
namespace drive_layout {
inline constexpr std::size_t kPartitionCount = 0;
inline constexpr std::size_t kSignature = 4;
inline constexpr std::size_t kEntries = 8;
inline constexpr std::size_t kSizeWithFourEntries = 136;
}  // namespace drive_layout

namespace partition_info {
inline constexpr std::size_t kStartingOffset = 0;
inline constexpr std::size_t kPartitionLength = 8;
inline constexpr std::size_t kHiddenSectors = 16;
inline constexpr std::size_t kPartitionNumber = 20;
inline constexpr std::size_t kPartitionType = 24;
inline constexpr std::size_t kBootIndicator = 25;
inline constexpr std::size_t kRecognizedPartition = 26;
inline constexpr std::size_t kRewritePartition = 27;
inline constexpr std::size_t kSize = 32;
}  // namespace partition_info

// Little-endian access to raw record buffers.
inline std::uint32_t readU32(std::span<const std::uint8_t> buffer, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(buffer[at + i]) << (8 * i);
    return value;
}
inline std::uint64_t readU64(std::span<const std::uint8_t> buffer, std::size_t at) {
    return static_cast<std::uint64_t>(readU32(buffer, at)) |
           (static_cast<std::uint64_t>(readU32(buffer, at + 4)) << 32);
}
inline std::int64_t readI64(std::span<const std::uint8_t> buffer, std::size_t at) {
    return static_cast<std::int64_t>(readU64(buffer, at));
}
inline void writeU32(std::span<std::uint8_t> buffer, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        buffer[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
inline void writeU64(std::span<std::uint8_t> buffer, std::size_t at, std::uint64_t value) {
    writeU32(buffer, at, static_cast<std::uint32_t>(value));
    writeU32(buffer, at + 4, static_cast<std::uint32_t>(value >> 32));
}
inline void writeI64(std::span<std::uint8_t> buffer, std::size_t at, std::int64_t value) {
    writeU64(buffer, at, static_cast<std::uint64_t>(value));
}

}  // namespace qel::records
