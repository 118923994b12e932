#include "VolumeFormat.h"

#include <algorithm>
#include <array>
#include <variant>

#include "disk/Records.h"
#include "platform/Platform.h"

namespace qel::fat32 {

namespace {

using ShapeOrFailure = std::variant<VolumeShape, Outcome>;

bool isDevicePath(const Text& path) {
    return path.starts_with(u"\\\\.\\");
}

// "\\.\E:\" names the root folder, not the device; the device is meant.
Text withoutTrailingBackslash(Text path) {
    if (isDevicePath(path) && path.size() > 4 && path.back() == u'\\') path.pop_back();
    return path;
}

Outcome failed(int exitCode, std::string line) {
    return Outcome{exitCode, std::move(line)};
}

class VolumeWriter : public SectorWriter {
public:
    explicit VolumeWriter(Volume& volume) : volume_(volume) {}
    void write(std::uint64_t offset, std::span<const std::uint8_t> data) override {
        if (!volume_.writeAt(offset, data))
            throw IoError(
                fromUtf8("at byte " + std::to_string(offset) + ": " + volume_.lastError()));
    }

private:
    Volume& volume_;
};

bool request(Volume& volume, std::uint32_t code, std::span<std::uint8_t> output) {
    std::uint32_t returned = 0;
    return volume.control(code, {}, output, returned) && returned >= output.size();
}

bool lock(VolumeSystem& system, Volume& volume) {
    for (std::uint32_t attempt = 1; attempt <= kLockAttempts; ++attempt) {
        std::uint32_t returned = 0;
        if (volume.control(win::FSCTL_LOCK_VOLUME, {}, {}, returned)) return true;
        if (attempt < kLockAttempts) system.pause(kLockPauseMilliseconds);
    }
    return false;
}

struct Partition {
    std::uint64_t startOffset = 0;
    bool mbr = false;
    std::uint8_t type = 0;
};

// The volume's length, its partition and the disk's sectors, or what could not be read.
ShapeOrFailure queryDevice(Volume& volume, const std::string& name, Partition& partition) {
    namespace rec = records;
    std::array<std::uint8_t, rec::length_information::kSize> length{};
    if (!request(volume, win::IOCTL_DISK_GET_LENGTH_INFO, length))
        return failed(kCannotQuery,
                      "Reading the length of " + name + " failed: " + volume.lastError());
    std::array<std::uint8_t, rec::partition_info_ex::kSize> info{};
    if (!request(volume, win::IOCTL_DISK_GET_PARTITION_INFO_EX, info))
        return failed(kCannotQuery,
                      "Reading the partition of " + name + " failed: " + volume.lastError());
    std::array<std::uint8_t, rec::disk_geometry::kSize> geometry{};
    if (!request(volume, win::IOCTL_DISK_GET_DRIVE_GEOMETRY, geometry))
        return failed(kCannotQuery, "Reading the sector size of the disk behind " + name +
                                        " failed: " + volume.lastError());

    partition.startOffset = rec::readU64(info, rec::partition_info_ex::kStartingOffset);
    partition.mbr = rec::readU32(info, rec::partition_info_ex::kPartitionStyle) == 0;
    partition.type = info[rec::partition_info_ex::kMbrPartitionType];

    VolumeShape shape;
    shape.lengthBytes = rec::readU64(length, rec::length_information::kLength);
    shape.bytesPerSector = rec::readU32(geometry, rec::disk_geometry::kBytesPerSector);
    if (shape.bytesPerSector == 0)
        return failed(kCannotQuery, "The disk behind " + name + " reports no sector size");
    shape.hiddenSectors = partition.startOffset / shape.bytesPerSector;
    const auto field16 = [](std::uint32_t value) {
        return static_cast<std::uint16_t>(std::min<std::uint32_t>(value, 0xFFFF));
    };
    shape.heads = field16(rec::readU32(geometry, rec::disk_geometry::kTracksPerCylinder));
    shape.sectorsPerTrack = field16(rec::readU32(geometry, rec::disk_geometry::kSectorsPerTrack));
    return shape;
}

ShapeOrFailure queryImageFile(Volume& volume, const std::string& name) {
    const auto length = volume.fileLength();
    if (!length)
        return failed(kCannotQuery,
                      "Reading the length of " + name + " failed: " + volume.lastError());
    VolumeShape shape;
    shape.lengthBytes = *length;
    return shape;
}

// Computes the layout and writes it; nullopt when that succeeded.
std::optional<Outcome> writeOnto(Volume& volume, const std::string& name, const VolumeShape& shape,
                                 std::uint32_t serial, Layout& layout) {
    const auto computed = computeLayout(shape);
    if (const auto* refusal = std::get_if<Refusal>(&computed))
        return failed(kUnsuitableVolume, "Formatting " + name + " refused: " + refusal->reason);
    layout = std::get<Layout>(computed);
    try {
        VolumeWriter writer(volume);
        writeFileSystem(writer, layout, serial);
    } catch (const IoError& error) {
        return failed(kWriteFailed, "Writing to " + name + " failed " + toUtf8(error.message()));
    }
    if (!volume.flush())
        return failed(kWriteFailed, "Writing to " + name + " failed: " + volume.lastError());
    return std::nullopt;
}

// Marks an MBR partition as FAT32 with LBA addressing; true when it is marked so afterwards.
bool markPartition(Volume& volume, const Partition& partition) {
    if (!partition.mbr || partition.type == kFat32LbaPartitionType) return true;
    const std::array<std::uint8_t, 1> type{kFat32LbaPartitionType};
    std::uint32_t returned = 0;
    return volume.control(win::IOCTL_DISK_SET_PARTITION_INFO, type, {}, returned);
}

Outcome formatDevice(VolumeSystem& system, Volume& volume, const std::string& name) {
    if (!lock(system, volume))
        return failed(kCannotLock,
                      "Locking " + name + " failed, it is in use: " + volume.lastError());
    std::uint32_t returned = 0;
    volume.control(win::FSCTL_ALLOW_EXTENDED_DASD_IO, {}, {}, returned);

    Partition partition;
    const auto queried = queryDevice(volume, name, partition);
    if (const auto* failure = std::get_if<Outcome>(&queried)) return *failure;
    Layout layout;
    if (auto failure = writeOnto(volume, name, std::get<VolumeShape>(queried),
                                 volumeSerial(system.clock()), layout))
        return *failure;
    const bool marked = markPartition(volume, partition);
    if (!volume.control(win::FSCTL_DISMOUNT_VOLUME, {}, {}, returned))
        return failed(kCannotDismount,
                      "Formatted " + name + ", but dismounting it failed: " + volume.lastError());
    std::string line = summaryLine(name, layout);
    if (!marked) line += " (the partition type could not be set to FAT32)";
    return Outcome{kFormatted, line};
}

Outcome formatImageFile(VolumeSystem& system, Volume& volume, const std::string& name) {
    const auto queried = queryImageFile(volume, name);
    if (const auto* failure = std::get_if<Outcome>(&queried)) return *failure;
    Layout layout;
    if (auto failure = writeOnto(volume, name, std::get<VolumeShape>(queried),
                                 volumeSerial(system.clock()), layout))
        return *failure;
    return Outcome{kFormatted, summaryLine(name, layout)};
}

}  // namespace

std::string summaryLine(const std::string& name, const Layout& layout) {
    return "Formatted " + name + " as FAT32: " + std::to_string(layout.clusterCount) +
           " clusters of " + std::to_string(layout.clusterBytes()) + " bytes, " +
           std::to_string(std::uint64_t{freeClusters(layout)} * layout.clusterBytes()) +
           " bytes free";
}

Outcome formatFromArguments(VolumeSystem& system, const std::vector<Text>& arguments) {
    if (arguments.size() != 1 || arguments[0].empty())
        return failed(kBadCommandLine,
                      "Usage: fat32format \\\\.\\X: (a volume such as \\\\.\\E: or "
                      "\\\\.\\Volume{...}, or an image file)");
    const Text path = withoutTrailingBackslash(arguments[0]);
    const std::string name = toUtf8(path);
    std::string reason;
    const auto volume = system.open(path, reason);
    if (!volume) return failed(kCannotOpen, "Cannot open " + name + " for writing: " + reason);
    return isDevicePath(path) ? formatDevice(system, *volume, name)
                              : formatImageFile(system, *volume, name);
}

}  // namespace qel::fat32
