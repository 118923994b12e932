#include <gtest/gtest.h>

#include "disk/DeviceQueries.h"
#include "fake/FakeMachine.h"

namespace qel {
namespace {

using fake::FakeDisk;
using fake::FakeMachine;
using fake::FakeVolume;

constexpr std::int64_t kMiB = 1 << 20;

FakeVolume volumeOn(char letter, int disk, std::int64_t offset = 0, std::int64_t length = 0) {
    FakeVolume volume;
    volume.letter = letter;
    volume.disk = disk;
    volume.offset = offset;
    volume.length = length;
    return volume;
}

class DeviceQueries : public ::testing::Test {
protected:
    // Disk 0 is an 8 MiB stick with one FAT32 partition from sector 2048, mounted as E:.
    void SetUp() override {
        FakeDisk stick = FakeDisk::ofSize(8 * kMiB);
        fake::writeMbrEntry(stick.bytes, 0, 0x0C, 2048, 14336);
        disk = machine.addDisk(std::move(stick));
        machine.addVolume(volumeOn('E', disk, kMiB, 7 * kMiB));
    }
    void TearDown() override { EXPECT_EQ(machine.openHandles(), 0); }

    std::size_t requestsTo(int number) { return machine.disk(number).ioctlLog.size(); }

    FakeMachine machine;
    int disk = -1;
};

TEST_F(DeviceQueries, VolumeDiskExtentReadsTheFirstExtentOrGivesTheDefault) {
    const DiskExtent found = GetVolumeDiskExtent(machine, u"\\\\.\\E:");
    EXPECT_EQ(found.DiskNumber, static_cast<std::uint32_t>(disk));
    EXPECT_EQ(found.StartingOffset, kMiB);
    EXPECT_EQ(found.ExtentLength, 7 * kMiB);

    // A volume spanning two disks: only the first extent counts.
    const int second = machine.addDisk(FakeDisk::ofSize(kMiB));
    FakeVolume spanning = volumeOn('F', second, 512, 4096);
    spanning.secondDisk = disk;
    machine.addVolume(spanning);
    EXPECT_EQ(GetVolumeDiskExtent(machine, u"\\\\.\\F:").DiskNumber,
              static_cast<std::uint32_t>(second));

    const auto expectDefault = [](const DiskExtent& extent) {
        EXPECT_EQ(extent.DiskNumber, kUnknownDiskNumber);
        EXPECT_EQ(extent.StartingOffset, 0);
        EXPECT_EQ(extent.ExtentLength, 0);
    };
    expectDefault(GetVolumeDiskExtent(machine, u"\\\\.\\Q:"));  // no volume at all
    machine.addVolume(volumeOn('G', -1));                       // the request fails
    expectDefault(GetVolumeDiskExtent(machine, u"\\\\.\\G:"));
    FakeVolume scattered = volumeOn('H', second);
    scattered.extentCount = 11;
    machine.addVolume(scattered);
    expectDefault(GetVolumeDiskExtent(machine, u"\\\\.\\H:"));  // too many extents for the buffer
}

TEST_F(DeviceQueries, DiskLayoutGivesStyleAndFirstSlotOffset) {
    std::int64_t offset = 0;
    Text style;
    GetDiskLayoutInfo(machine, u"\\\\.\\PHYSICALDRIVE0", offset, style);
    EXPECT_EQ(style, u"MBR");
    EXPECT_EQ(offset, 2048 * 512);
    EXPECT_EQ(requestsTo(disk), 1u);

    // An MBR disk whose first slot is empty reports offset 0 even though slot 2 is used.
    FakeDisk holed = FakeDisk::ofSize(kMiB);
    fake::writeMbrEntry(holed.bytes, 1, 0x07, 63, 1000);
    const int holedNumber = machine.addDisk(std::move(holed));
    offset = 99;
    style.clear();
    GetDiskLayoutInfo(machine, u"\\\\.\\PHYSICALDRIVE" + decimal(holedNumber), offset, style);
    EXPECT_EQ(style, u"MBR");
    EXPECT_EQ(offset, 0);

    // A wiped disk without a table is RAW at 0; a GPT disk lists its first partition.
    const int blank = machine.addDisk(FakeDisk::ofSize(kMiB));
    offset = 99;
    GetDiskLayoutInfo(machine, u"\\\\.\\PHYSICALDRIVE" + decimal(blank), offset, style);
    EXPECT_EQ(style, u"RAW");
    EXPECT_EQ(offset, 0);

    machine.disk(disk).forcedStyle = "GPT";
    GetDiskLayoutInfo(machine, u"\\\\.\\PHYSICALDRIVE0", offset, style);
    EXPECT_EQ(style, u"GPT");
    EXPECT_EQ(offset, 2048 * 512);
}

TEST_F(DeviceQueries, DiskLayoutLeavesTheCallersValuesOnFailure) {
    const auto expectUntouched = [this](const Text& path) {
        std::int64_t offset = 4242;
        Text style = u"unchanged";
        GetDiskLayoutInfo(machine, path, offset, style);
        EXPECT_EQ(offset, 4242) << toUtf8(path);
        EXPECT_EQ(style, u"unchanged") << toUtf8(path);
    };
    expectUntouched(u"\\\\.\\PHYSICALDRIVE7");   // no such disk
    machine.disk(disk).extraLayoutEntries = 13;  // 17 entries do not fit sixteen
    expectUntouched(u"\\\\.\\PHYSICALDRIVE0");
    machine.disk(disk).extraLayoutEntries = 12;  // sixteen entries still fit
    std::int64_t offset = 0;
    Text style;
    GetDiskLayoutInfo(machine, u"\\\\.\\PHYSICALDRIVE0", offset, style);
    EXPECT_EQ(style, u"MBR");
    machine.disk(disk).failLayoutRequest = true;
    expectUntouched(u"\\\\.\\PHYSICALDRIVE0");
}

TEST_F(DeviceQueries, GeometryAndLengthOfDisksAndVolumes) {
    machine.disk(disk).mediaType = kFixedMedia;
    DiskGeometry geometry;
    GetDiskGeometry(machine, u"\\\\.\\PHYSICALDRIVE0", geometry);
    EXPECT_EQ(geometry.Cylinders, machine.disk(disk).cylinders);
    EXPECT_EQ(geometry.MediaType, kFixedMedia);
    EXPECT_EQ(geometry.TracksPerCylinder, 255u);
    EXPECT_EQ(geometry.SectorsPerTrack, 63u);
    EXPECT_EQ(geometry.BytesPerSector, 512u);
    EXPECT_EQ(geometry.size(), machine.disk(disk).geometrySize());

    EXPECT_EQ(GetDeviceLength(machine, u"\\\\.\\PHYSICALDRIVE0"), 8 * kMiB);
    EXPECT_EQ(GetDeviceLength(machine, u"\\\\.\\E:"), 7 * kMiB);

    // A 3 TB disk: the size is computed in 64 bits.
    DiskGeometry big{.Cylinders = 364801,
                     .MediaType = kFixedMedia,
                     .TracksPerCylinder = 255,
                     .SectorsPerTrack = 63,
                     .BytesPerSector = 512};
    EXPECT_EQ(big.size(), 364801LL * 255 * 63 * 512);
}

TEST_F(DeviceQueries, CardReaderWithoutMediumGivesZeroes) {
    machine.disk(disk).present = false;
    DiskGeometry geometry{.Cylinders = 5,
                          .MediaType = 11,
                          .TracksPerCylinder = 1,
                          .SectorsPerTrack = 1,
                          .BytesPerSector = 512};
    GetDiskGeometry(machine, u"\\\\.\\PHYSICALDRIVE0", geometry);
    EXPECT_EQ(geometry.Cylinders, 0);
    EXPECT_EQ(geometry.MediaType, 0u);
    EXPECT_EQ(geometry.BytesPerSector, 0u);
    EXPECT_EQ(geometry.size(), 0);
    EXPECT_EQ(GetDeviceLength(machine, u"\\\\.\\PHYSICALDRIVE0"), 0);
    EXPECT_EQ(GetDeviceLength(machine, u"\\\\.\\E:"), 0);

    GetDiskGeometry(machine, u"\\\\.\\PHYSICALDRIVE9", geometry);  // cannot be opened
    EXPECT_EQ(geometry.size(), 0);
    EXPECT_EQ(GetDeviceLength(machine, u"\\\\.\\PHYSICALDRIVE9"), 0);
}

TEST_F(DeviceQueries, SectorsPerClusterByLetterOrVolumeName) {
    FakeVolume ntfs = volumeOn('F', disk);
    ntfs.sectorsPerCluster = 8;
    const Text guid = machine.addVolume(ntfs).guid;
    machine.volumeByLetter('E')->sectorsPerCluster = 64;
    EXPECT_EQ(GetSectorsPerCluster(machine, u"E:"), 64u);
    EXPECT_EQ(GetSectorsPerCluster(machine, guid), 8u);
    EXPECT_EQ(GetSectorsPerCluster(machine, u"Q:"), 0u);
    machine.volumeByLetter('E')->failSizeQuery = true;
    EXPECT_EQ(GetSectorsPerCluster(machine, u"E:"), 0u);
}

TEST_F(DeviceQueries, FileSizeOfFilesFoldersAndWildcards) {
    machine.putFile(u"E:\\QEL\\grub\\i386-pc\\boot.img", Bytes(512, 0xEB));
    machine.putFile(u"E:\\empty.txt", Bytes());
    machine.putFile(u"E:\\autorun.inf", Bytes(97, 'x'),
                    win::FILE_ATTRIBUTE_HIDDEN | win::FILE_ATTRIBUTE_SYSTEM);
    EXPECT_EQ(GetFileSize64(machine, u"E:\\QEL\\grub\\i386-pc\\boot.img"), 512);
    EXPECT_EQ(GetFileSize64(machine, u"E:\\empty.txt"), 0);
    EXPECT_EQ(GetFileSize64(machine, u"E:\\autorun.inf"), 97);
    EXPECT_EQ(GetFileSize64(machine, u"E:\\QEL\\grub"), 0);
    EXPECT_EQ(GetFileSize64(machine, u"E:\\QEL\\grub\\i386-pc\\*.img"), 512);
    EXPECT_EQ(GetFileSize64(machine, u"E:\\missing.img"), -1);
}

TEST_F(DeviceQueries, IsWow64FollowsTheSystemAndItsMissingParts) {
    machine.setWow64(true);
    EXPECT_TRUE(IsWow64(machine));
    machine.setWow64(false);
    EXPECT_FALSE(IsWow64(machine));

    machine.setWow64(true);
    machine.removeExport("IsWow64Process");  // a system older than the function
    EXPECT_FALSE(IsWow64(machine));
    machine.restoreExport("IsWow64Process");
    machine.setKernel32Missing(true);
    EXPECT_FALSE(IsWow64(machine));
}

TEST_F(DeviceQueries, DismountReachesTheVolumeByLetterOrName) {
    DismountVolume(machine, u"E:");
    EXPECT_TRUE(machine.volumeByLetter('E')->dismounted);
    const Text guid = machine.addVolume(volumeOn(0, disk)).guid;
    DismountVolume(machine, guid);
    EXPECT_TRUE(machine.volumeByGuid(guid)->dismounted);
    DismountVolume(machine, u"Q:");  // nothing to open: silently nothing
}

}  // namespace
}  // namespace qel
