#include "boot/Grub2Mbr.h"

#include <algorithm>
#include <optional>

#include "boot/DeviceIo.h"
#include "disk/DeviceQueries.h"
#include "disk/Records.h"

namespace qel {

namespace {

constexpr TextView kBootImage = u"\\QEL\\grub\\i386-pc\\boot.img";
constexpr std::size_t kBootCodeBytes = 440;
constexpr std::size_t kCoreImageOffset = 512;
// The short jump over the boot-drive check; no-operations in its place keep the check on.
constexpr std::size_t kDriveCheckJump = 0x66;
constexpr std::uint8_t kNoOperation = 0x90;
constexpr std::size_t kPartitionTable = 0x1BE;
constexpr std::size_t kPartitionEntrySize = 16;
constexpr std::size_t kEntryStartingLba = 8;
constexpr std::size_t kPartitionSlots = 4;
// The boot area is read with one call and written with two.
constexpr std::int64_t kLargestBootArea = 0x7FFFFFFF;

// The disk, still open, and the boot area image built over the disk's own first bytes.
struct BootArea {
    Handle disk;
    Bytes image;
    Bytes diskContent;  // a second reading of the same bytes, for the check
};

// True when the boot area would overwrite the start of the lowest partition the disk's own
// table lists.
bool reachesFirstPartition(ByteSpan sectorZero, std::int64_t length, std::int32_t bytesPerSector) {
    std::int64_t firstLba = 0;
    for (std::size_t slot = 0; slot < kPartitionSlots; ++slot) {
        const std::int64_t lba = records::readU32(
            sectorZero, kPartitionTable + slot * kPartitionEntrySize + kEntryStartingLba);
        if (lba != 0 && (firstLba == 0 || lba < firstLba)) firstLba = lba;
    }
    return firstLba != 0 && length > firstLba * bytesPerSector;
}

bool layBootCode(Platform& sys, const Text& driveRoot, Bytes& image) {
    const Handle bootImage = openShared(sys, driveRoot + Text(kBootImage), win::GENERIC_READ);
    if (!bootImage.valid() ||
        !readInto(sys, bootImage, MutableByteSpan(image).first(kBootCodeBytes)))
        return false;
    image[kDriveCheckJump] = kNoOperation;
    image[kDriveCheckJump + 1] = kNoOperation;
    return true;
}

bool layCoreImage(Platform& sys, const Text& coreImagePath, std::int64_t coreSize, Bytes& image) {
    const Handle coreImage = openShared(sys, coreImagePath, win::GENERIC_READ);
    const auto count = static_cast<std::size_t>(std::max<std::int64_t>(coreSize, 0));
    if (!coreImage.valid() || kCoreImageOffset + count > image.size()) return false;
    return readInto(sys, coreImage, MutableByteSpan(image).subspan(kCoreImageOffset, count));
}

// Fills the image with the disk's first bytes; for the check, reads them a second time as the
// disk's current content.
bool readDiskStart(Platform& sys, BootArea& area, bool secondReading) {
    if (!readInto(sys, area.disk, area.image)) return false;
    if (!secondReading) return true;
    area.diskContent.resize(area.image.size());
    return moveTo(sys, area.disk, 0) && readInto(sys, area.disk, area.diskContent);
}

std::optional<BootArea> buildBootArea(Platform& sys, const Text& diskPath, const Text& driveRoot,
                                      const Text& coreImagePath, std::int32_t bytesPerSector,
                                      bool forWriting) {
    if (bytesPerSector <= 0) return std::nullopt;
    BootArea area;
    const std::uint32_t access = win::GENERIC_READ | (forWriting ? win::GENERIC_WRITE : 0);
    area.disk = openShared(sys, diskPath, access);
    if (!area.disk.valid()) return std::nullopt;

    // A missing core image counts as -1 bytes and fails when it is opened.
    const std::int64_t coreSize = GetFileSize64(sys, coreImagePath);
    if (coreSize > kLargestBootArea) return std::nullopt;
    const std::int64_t length = grub2BootAreaLength(coreSize, bytesPerSector);
    if (length > kLargestBootArea) return std::nullopt;
    area.image.resize(static_cast<std::size_t>(length));
    if (!readDiskStart(sys, area, !forWriting) ||
        reachesFirstPartition(area.image, length, bytesPerSector) ||
        !layBootCode(sys, driveRoot, area.image) ||
        !layCoreImage(sys, coreImagePath, coreSize, area.image))
        return std::nullopt;
    return area;
}

}  // namespace

std::int64_t grub2BootAreaLength(std::int64_t coreImageSize, std::int32_t bytesPerSector) {
    if (bytesPerSector <= 0) return 0;
    const std::int64_t used = coreImageSize + static_cast<std::int64_t>(kCoreImageOffset);
    const std::int64_t sectors = (used + bytesPerSector - 1) / bytesPerSector;
    return sectors * bytesPerSector;
}

std::uint16_t CheckGrub2Mbr(Platform& sys, const Text& diskPath, const Text& driveRoot,
                            const Text& coreImagePath, std::int32_t bytesPerSector) {
    const auto area = buildBootArea(sys, diskPath, driveRoot, coreImagePath, bytesPerSector, false);
    if (!area) return kGrub2Undetermined;
    return area->image == area->diskContent ? kGrub2Installed : kGrub2Differs;
}

// The core image's sectors go first and the first sector, whose boot code jumps into them, last:
// a run cut off between the two leaves the disk's old boot code in front of them.
bool InstallGrub2Mbr(Platform& sys, const Text& diskPath, const Text& driveRoot,
                     const Text& coreImagePath, std::int32_t bytesPerSector) {
    const auto area = buildBootArea(sys, diskPath, driveRoot, coreImagePath, bytesPerSector, true);
    if (!area) return false;
    const ByteSpan image(area->image);
    const auto firstSector = std::min(image.size(), static_cast<std::size_t>(bytesPerSector));
    if (image.size() > firstSector && !(moveTo(sys, area->disk, bytesPerSector) &&
                                        writeFrom(sys, area->disk, image.subspan(firstSector))))
        return false;
    return moveTo(sys, area->disk, 0) && writeFrom(sys, area->disk, image.first(firstSector));
}

}  // namespace qel
