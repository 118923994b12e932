#include "Fat32Layout.h"

#include <algorithm>

namespace qel::fat32 {

namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

bool supportedSectorSize(std::uint32_t bytes) {
    return bytes == 512 || bytes == 1024 || bytes == 2048 || bytes == 4096;
}

// Sectors of one table just large enough for every cluster the rest of the volume holds: each
// table sector maps bytesPerSector / 4 clusters, and the first two entries are not clusters.
std::uint64_t fatSectorsFor(std::uint64_t totalSectors, std::uint32_t bytesPerSector,
                            std::uint32_t sectorsPerCluster) {
    const std::uint64_t entriesPerSector = bytesPerSector / 4;
    const std::uint64_t numerator = totalSectors - kReservedSectors + 2ull * sectorsPerCluster;
    const std::uint64_t denominator = entriesPerSector * sectorsPerCluster + kFatCount;
    return (numerator + denominator - 1) / denominator;
}

std::string clusterText(std::uint64_t clusters, std::uint32_t clusterBytes) {
    return std::to_string(clusters) + " clusters of " + std::to_string(clusterBytes) + " bytes";
}

}  // namespace

std::uint32_t defaultClusterBytes(std::uint64_t lengthBytes) {
    if (lengthBytes <= 64 * kMiB) return 512;
    if (lengthBytes <= 128 * kMiB) return 1024;
    if (lengthBytes <= 256 * kMiB) return 2048;
    if (lengthBytes <= 8 * kGiB) return 4096;
    if (lengthBytes <= 16 * kGiB) return 8192;
    if (lengthBytes <= 32 * kGiB) return 16384;
    return 32768;
}

std::variant<Layout, Refusal> computeLayout(const VolumeShape& shape) {
    if (!supportedSectorSize(shape.bytesPerSector))
        return Refusal{"Sectors of " + std::to_string(shape.bytesPerSector) +
                       " bytes are not supported (512, 1024, 2048 or 4096 only)"};
    const std::uint64_t totalSectors = shape.lengthBytes / shape.bytesPerSector;
    if (totalSectors > kMaximumSectors)
        return Refusal{"The volume is too large for FAT32: " + std::to_string(totalSectors) +
                       " sectors, at most " + std::to_string(kMaximumSectors) + " allowed"};
    if (shape.hiddenSectors > 0xFFFFFFFFu)
        return Refusal{"The partition starts at sector " + std::to_string(shape.hiddenSectors) +
                       ", beyond what a FAT32 boot sector can record"};

    Layout layout;
    layout.bytesPerSector = shape.bytesPerSector;
    layout.totalSectors = static_cast<std::uint32_t>(totalSectors);
    layout.hiddenSectors = static_cast<std::uint32_t>(shape.hiddenSectors);
    layout.sectorsPerTrack = shape.sectorsPerTrack;
    layout.heads = shape.heads;

    std::uint32_t clusterBytes =
        std::max(defaultClusterBytes(shape.lengthBytes), shape.bytesPerSector);
    std::uint64_t clusters = 0;
    for (;;) {
        const std::uint32_t sectorsPerCluster = clusterBytes / shape.bytesPerSector;
        std::uint64_t fatSectors = 0;
        clusters = 0;
        if (totalSectors > kReservedSectors) {
            fatSectors = fatSectorsFor(totalSectors, shape.bytesPerSector, sectorsPerCluster);
            const std::uint64_t systemSectors = kReservedSectors + kFatCount * fatSectors;
            if (totalSectors > systemSectors)
                clusters = (totalSectors - systemSectors) / sectorsPerCluster;
        }
        layout.sectorsPerCluster = sectorsPerCluster;
        layout.fatSectors = static_cast<std::uint32_t>(fatSectors);
        // Volumes beyond what 32 KiB clusters can number take the next size up.
        if (clusters <= kMaximumClusters || clusterBytes >= kMaximumClusterBytes) break;
        clusterBytes *= 2;
    }
    if (clusters < kMinimumClusters)
        return Refusal{"The volume is too small for FAT32: " + clusterText(clusters, clusterBytes) +
                       ", at least " + std::to_string(kMinimumClusters) + " clusters needed"};
    if (clusters > kMaximumClusters)
        return Refusal{"The volume is too large for FAT32: " + clusterText(clusters, clusterBytes) +
                       ", at most " + std::to_string(kMaximumClusters) + " clusters allowed"};
    layout.clusterCount = static_cast<std::uint32_t>(clusters);
    return layout;
}

}  // namespace qel::fat32
