// The Windows layer's disk requests against the test disk driver under Wine: the device queries
// find the stick behind E:, positioned reads reach the right sectors, and Grub2's boot area is
// written through the physical drive. Run by run-wine-disk-tests.sh, which prepares the stick
// (64 MiB, one FAT32 partition from 1 MiB) and checks the image afterwards.

#include <cstdlib>
#include <string>

// The portable headers come before <windows.h>, whose macros share names with their constants.
#include "boot/DeviceIo.h"
#include "boot/Grub2Mbr.h"
#include "disk/DeviceQueries.h"
#include "win32/Win32Platform.h"

#include <gtest/gtest.h>

namespace qel {
namespace {

constexpr std::int64_t kMiB = 1024 * 1024;
constexpr std::int64_t kStickSize = 64 * kMiB;
constexpr std::int64_t kPartitionStart = kMiB;
const Text kVolume = u"\\\\.\\E:";

Text diskPath() {
    const char* disk = std::getenv("QEL_TEST_DISK");
    return disk ? Text(std::u16string(disk, disk + std::char_traits<char>::length(disk))) : Text();
}

std::uint32_t diskNumber() {
    const char* number = std::getenv("QEL_TEST_DISK_NUMBER");
    return number ? static_cast<std::uint32_t>(std::strtoul(number, nullptr, 10)) : 0;
}

class Win32DriverDisk : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(diskPath().empty()) << "run by run-wine-disk-tests.sh"; }

    Bytes readAt(const Text& path, std::int64_t offset, std::size_t length) {
        const Handle device = openShared(sys, path, win::GENERIC_READ);
        Bytes data(length);
        if (!device.valid() || !moveTo(sys, device, offset) || !readInto(sys, device, data))
            return {};
        return data;
    }

    Win32Platform sys;
};

TEST_F(Win32DriverDisk, DeviceQueriesFindTheStickBehindE) {
    const DiskExtent extent = GetVolumeDiskExtent(sys, kVolume);
    EXPECT_EQ(extent.DiskNumber, diskNumber());
    EXPECT_EQ(extent.StartingOffset, kPartitionStart);
    EXPECT_EQ(extent.ExtentLength, kStickSize - kPartitionStart);

    std::int64_t firstPartition = 0;
    Text style;
    GetDiskLayoutInfo(sys, diskPath(), firstPartition, style);
    EXPECT_EQ(firstPartition, kPartitionStart);
    EXPECT_EQ(style, u"MBR");

    DiskGeometry geometry;
    GetDiskGeometry(sys, diskPath(), geometry);
    EXPECT_EQ(geometry.BytesPerSector, 512u);
    EXPECT_EQ(geometry.MediaType, kRemovableMedia);
    EXPECT_GT(geometry.size(), kStickSize - 255 * 63 * 512);
    EXPECT_LE(geometry.size(), kStickSize);

    EXPECT_EQ(GetDeviceLength(sys, diskPath()), kStickSize);
    EXPECT_EQ(GetDeviceLength(sys, kVolume), kStickSize - kPartitionStart);
}

// Reads land where the position says, on the disk and on the volume, one after another on the
// same handle too.
TEST_F(Win32DriverDisk, PositionedReadsReachTheirSectors) {
    const Bytes bootSector = readAt(diskPath(), kPartitionStart, 512);
    ASSERT_EQ(bootSector.size(), 512u);
    EXPECT_EQ(std::string(bootSector.begin() + 82, bootSector.begin() + 87), "FAT32");
    EXPECT_EQ(readAt(kVolume, 0, 512), bootSector);

    const Handle disk = openShared(sys, diskPath(), win::GENERIC_READ);
    Bytes first(512);
    Bytes second(512);
    ASSERT_TRUE(moveTo(sys, disk, kPartitionStart - 512) && readInto(sys, disk, first) &&
                readInto(sys, disk, second));
    EXPECT_EQ(second, bootSector);
    EXPECT_NE(first, bootSector);
}

TEST_F(Win32DriverDisk, RequestsTheDiskCannotServeFailCleanly) {
    const Handle disk = openShared(sys, diskPath(), win::GENERIC_READ | win::GENERIC_WRITE);
    ASSERT_TRUE(disk.valid());
    Bytes sector(512);
    EXPECT_FALSE(moveTo(sys, disk, 100) && readInto(sys, disk, sector));  // not a sector boundary
    EXPECT_FALSE(moveTo(sys, disk, kStickSize) && readInto(sys, disk, sector));  // past the end
    std::uint32_t returned = 7;
    EXPECT_FALSE(sys.deviceIoControl(disk, 0x0007C0FF, {}, sector, returned));
    EXPECT_EQ(sys.lastError(), 1u);  // ERROR_INVALID_FUNCTION
    // Only a volume has extents.
    EXPECT_FALSE(
        sys.deviceIoControl(disk, win::IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, {}, sector, returned));
}

// Grub2's boot area goes to the disk's first sectors through the physical drive (two writes);
// the script compares the image with the boot and core images afterwards.
TEST_F(Win32DriverDisk, Grub2BootAreaIsWrittenThroughThePhysicalDrive) {
    const Text core = u"E:\\QEL\\grub\\i386-pc\\core.img";
    EXPECT_EQ(CheckGrub2Mbr(sys, diskPath(), u"E:", core, 512), kGrub2Differs);
    ASSERT_TRUE(InstallGrub2Mbr(sys, diskPath(), u"E:", core, 512));
    EXPECT_EQ(CheckGrub2Mbr(sys, diskPath(), u"E:", core, 512), kGrub2Installed);
}

}  // namespace
}  // namespace qel
