// Questions to Windows about processes, files, volumes and physical disks. Each opens its device,
// makes one request, closes the handle and returns plain values; a failure gives a fixed default.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace qel {

inline constexpr std::uint32_t kUnknownDiskNumber = 1110;
inline constexpr std::uint32_t kRemovableMedia = 11;
inline constexpr std::uint32_t kFixedMedia = 12;

struct DiskExtent {  // DISK_EXTENT
    std::uint32_t DiskNumber = kUnknownDiskNumber;
    std::int64_t StartingOffset = 0;
    std::int64_t ExtentLength = 0;
};

struct DiskGeometry {  // DISK_GEOMETRY
    std::int64_t Cylinders = 0;
    std::uint32_t MediaType = 0;
    std::uint32_t TracksPerCylinder = 0;
    std::uint32_t SectorsPerTrack = 0;
    std::uint32_t BytesPerSector = 0;
    // Cylinders × TracksPerCylinder × SectorsPerTrack × BytesPerSector, in 64 bits.
    std::int64_t size() const;
};

bool IsWow64(Platform& sys);
std::uint32_t GetSectorsPerCluster(Platform& sys, const Text& volume);  // "E:" or "Volume{…}"
std::int64_t GetFileSize64(Platform& sys, const Text& path);            // -1: nothing found
DiskExtent GetVolumeDiskExtent(Platform& sys, const Text& rawVolumePath);
void GetDiskLayoutInfo(Platform& sys, const Text& rawDiskPath, std::int64_t& firstPartitionOffset,
                       Text& partitionStyle);
void GetDiskGeometry(Platform& sys, const Text& rawDiskPath, DiskGeometry& geometry);
std::int64_t GetDeviceLength(Platform& sys, const Text& devicePath);
void DismountVolume(Platform& sys, const Text& volume);

}  // namespace qel
