// Where everything of a new FAT32 file system goes on a volume of a given size: the cluster size
// Windows would choose, the size of the two file allocation tables and the number of clusters.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace qel::fat32 {

inline constexpr std::uint32_t kReservedSectors = 32;
inline constexpr std::uint32_t kFatCount = 2;
inline constexpr std::uint32_t kFsInfoSector = 1;
inline constexpr std::uint32_t kBackupBootSector = 6;
inline constexpr std::uint32_t kRootCluster = 2;
inline constexpr std::uint8_t kMediaFixed = 0xF8;
// Fewer clusters than this make the file system FAT16 by definition; more than the maximum do not
// fit the 28-bit cluster numbers.
inline constexpr std::uint64_t kMinimumClusters = 65525;
inline constexpr std::uint64_t kMaximumClusters = 0x0FFFFFF5;
inline constexpr std::uint64_t kMaximumSectors = 0xFFFFFFFFu;
inline constexpr std::uint32_t kMaximumClusterBytes = 64 * 1024;

// The volume as the device reports it.
struct VolumeShape {
    std::uint64_t lengthBytes = 0;
    std::uint32_t bytesPerSector = 512;
    std::uint64_t hiddenSectors = 0;  // the partition's first sector on its disk
    std::uint16_t sectorsPerTrack = 63;
    std::uint16_t heads = 255;
};

struct Layout {
    std::uint32_t bytesPerSector = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t totalSectors = 0;
    std::uint32_t hiddenSectors = 0;
    std::uint32_t fatSectors = 0;  // of one table
    std::uint32_t clusterCount = 0;
    std::uint16_t sectorsPerTrack = 0;
    std::uint16_t heads = 0;

    std::uint32_t clusterBytes() const { return sectorsPerCluster * bytesPerSector; }
    std::uint64_t fatOffset(std::uint32_t copy) const {
        return (kReservedSectors + std::uint64_t{copy} * fatSectors) * bytesPerSector;
    }
    std::uint64_t dataOffset() const { return fatOffset(kFatCount); }
    // Bytes from the start of the first table to the end of the root directory's cluster.
    std::uint64_t tablesAndRootBytes() const {
        return (std::uint64_t{kFatCount} * fatSectors + sectorsPerCluster) * bytesPerSector;
    }
};

// Why a volume cannot take a FAT32 file system, as one line for the user.
struct Refusal {
    std::string reason;
};

// Cluster size in bytes that Windows picks for a FAT32 volume of this length.
std::uint32_t defaultClusterBytes(std::uint64_t lengthBytes);

std::variant<Layout, Refusal> computeLayout(const VolumeShape& shape);

}  // namespace qel::fat32
