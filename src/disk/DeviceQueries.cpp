#include "disk/DeviceQueries.h"

#include <array>

#include "disk/Records.h"

namespace qel {

namespace {

constexpr const char16_t* kDevicePrefix = u"\\\\.\\";

// Opens a device for a single request, the way every query here does.
Handle openDevice(Platform& sys, const Text& path, std::uint32_t access) {
    return sys.createFile(path, access, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE,
                          win::OPEN_EXISTING, 0);
}

// Sends one device control without input into the buffer; true when the request succeeded.
bool askDevice(Platform& sys, const Handle& device, std::uint32_t code, MutableByteSpan output) {
    std::uint32_t returned = 0;
    return sys.deviceIoControl(device, code, {}, output, returned);
}

Text partitionStyleName(std::uint32_t style, const Text& unchanged) {
    switch (style) {
        case 0:
            return u"MBR";
        case 1:
            return u"GPT";
        case 2:
            return u"RAW";
        default:
            return unchanged;
    }
}

// A library loaded for one look-up, released on every path.
class LoadedLibrary {
public:
    LoadedLibrary(Platform& sys, const Text& name) : sys_(sys), module_(sys.loadLibrary(name)) {}
    ~LoadedLibrary() {
        if (module_ != 0) sys_.freeLibrary(module_);
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;
    ModuleId module() const { return module_; }

private:
    Platform& sys_;
    ModuleId module_;
};

}  // namespace

std::int64_t DiskGeometry::size() const {
    return Cylinders * static_cast<std::int64_t>(TracksPerCylinder) *
           static_cast<std::int64_t>(SectorsPerTrack) * static_cast<std::int64_t>(BytesPerSector);
}

bool IsWow64(Platform& sys) {
    const LoadedLibrary kernel32(sys, u"kernel32.dll");
    if (kernel32.module() == 0) return false;
    const ProcAddress isWow64Process = sys.procAddress(kernel32.module(), "IsWow64Process");
    if (isWow64Process == 0) return false;
    bool wow64 = false;
    return sys.callIsWow64Process(isWow64Process, wow64) && wow64;
}

std::uint32_t GetSectorsPerCluster(Platform& sys, const Text& volume) {
    const Handle device = openDevice(sys, kDevicePrefix + volume, win::GENERIC_READ);
    if (!device.valid()) return 0;
    std::array<std::uint8_t, records::fs_size_information::kSize> info{};
    if (sys.queryVolumeSizeInformation(device, info) < 0) return 0;
    return records::readU32(info, records::fs_size_information::kSectorsPerAllocationUnit);
}

std::int64_t GetFileSize64(Platform& sys, const Text& path) {
    const auto found = sys.findFirstFile(path);
    if (!found) return -1;
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(found->sizeHigh) << 32) |
                                     found->sizeLow);
}

DiskExtent GetVolumeDiskExtent(Platform& sys, const Text& rawVolumePath) {
    DiskExtent extent;
    const Handle device = openDevice(sys, rawVolumePath, win::GENERIC_READ);
    if (!device.valid()) return extent;
    std::array<std::uint8_t, records::volume_disk_extents::kBufferSize> buffer{};
    if (!askDevice(sys, device, win::IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, buffer)) return extent;
    if (records::readU32(buffer, records::volume_disk_extents::kCount) == 0) return extent;
    constexpr std::size_t first = records::volume_disk_extents::kExtents;
    extent.DiskNumber = records::readU32(buffer, first + records::disk_extent::kDiskNumber);
    extent.StartingOffset = records::readI64(buffer, first + records::disk_extent::kStartingOffset);
    extent.ExtentLength = records::readI64(buffer, first + records::disk_extent::kExtentLength);
    return extent;
}

void GetDiskLayoutInfo(Platform& sys, const Text& rawDiskPath, std::int64_t& firstPartitionOffset,
                       Text& partitionStyle) {
    const Handle device = openDevice(sys, rawDiskPath, win::GENERIC_READ);
    if (!device.valid()) return;
    std::array<std::uint8_t, records::drive_layout_ex::kBufferSize> buffer{};
    if (!askDevice(sys, device, win::IOCTL_DISK_GET_DRIVE_LAYOUT_EX, buffer)) return;
    partitionStyle = partitionStyleName(
        records::readU32(buffer, records::drive_layout_ex::kPartitionStyle), partitionStyle);
    firstPartitionOffset = records::readI64(
        buffer, records::drive_layout_ex::kEntries + records::partition_info_ex::kStartingOffset);
}

void GetDiskGeometry(Platform& sys, const Text& rawDiskPath, DiskGeometry& geometry) {
    geometry = DiskGeometry{};
    const Handle device = openDevice(sys, rawDiskPath, win::GENERIC_READ);
    if (!device.valid()) return;
    std::array<std::uint8_t, records::disk_geometry::kSize> buffer{};
    if (!askDevice(sys, device, win::IOCTL_DISK_GET_DRIVE_GEOMETRY, buffer)) return;
    namespace g = records::disk_geometry;
    geometry.Cylinders = records::readI64(buffer, g::kCylinders);
    geometry.MediaType = records::readU32(buffer, g::kMediaType);
    geometry.TracksPerCylinder = records::readU32(buffer, g::kTracksPerCylinder);
    geometry.SectorsPerTrack = records::readU32(buffer, g::kSectorsPerTrack);
    geometry.BytesPerSector = records::readU32(buffer, g::kBytesPerSector);
}

std::int64_t GetDeviceLength(Platform& sys, const Text& devicePath) {
    const Handle device = openDevice(sys, devicePath, win::GENERIC_READ);
    if (!device.valid()) return 0;
    std::array<std::uint8_t, records::length_information::kSize> buffer{};
    if (!askDevice(sys, device, win::IOCTL_DISK_GET_LENGTH_INFO, buffer)) return 0;
    return records::readI64(buffer, records::length_information::kLength);
}

void DismountVolume(Platform& sys, const Text& volume) {
    const Handle device =
        openDevice(sys, kDevicePrefix + volume, win::GENERIC_READ | win::GENERIC_WRITE);
    if (!device.valid()) return;
    askDevice(sys, device, win::FSCTL_DISMOUNT_VOLUME, {});
}

}  // namespace qel
