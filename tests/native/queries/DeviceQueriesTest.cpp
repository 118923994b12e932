#include <gtest/gtest.h>

#include "disk/DeviceQueries.h"
#include "fake/FakeMachine.h"

namespace qel {
namespace {

using fake::FakeDisk;
using fake::FakeMachine;
using fake::FakeVolume;

constexpr std::int64_t kMiB = 1 << 20;

// Disk 0: an 8 MiB stick, FAT32 from sector 2048, mounted as E:. Every query closes its handle.
class DeviceQueries : public ::testing::Test {
protected:
    void SetUp() override {
        FakeDisk stick = FakeDisk::ofSize(8 * kMiB);
        fake::writeMbrEntry(stick.bytes, 0, 0x0C, 2048, 14336);
        machine.addDisk(std::move(stick));
        addVolume('E', 0, kMiB, 7 * kMiB);
    }
    void TearDown() override { EXPECT_EQ(machine.openHandles(), 0); }

    FakeVolume& addVolume(char letter, int disk, std::int64_t offset = 0, std::int64_t length = 0) {
        FakeVolume volume;
        volume.letter = letter;
        volume.disk = disk;
        volume.offset = offset;
        volume.length = length;
        return machine.addVolume(volume);
    }
    void layoutOf(const Text& path, std::int64_t& offset, Text& style) {
        GetDiskLayoutInfo(machine, path, offset, style);
    }

    FakeMachine machine;
};

TEST_F(DeviceQueries, VolumeDiskExtentGivesTheFirstExtentOrTheDefault) {
    const DiskExtent found = GetVolumeDiskExtent(machine, u"\\\\.\\E:");
    EXPECT_EQ(found.DiskNumber, 0u);
    EXPECT_EQ(found.StartingOffset, kMiB);
    EXPECT_EQ(found.ExtentLength, 7 * kMiB);

    const int second = machine.addDisk(FakeDisk::ofSize(kMiB));
    addVolume('F', second).secondDisk = 0;  // spans two disks: the first extent counts
    EXPECT_EQ(GetVolumeDiskExtent(machine, u"\\\\.\\F:").DiskNumber, 1u);

    addVolume('G', -1);                  // the request fails
    addVolume('H', 0).extentCount = 11;  // more extents than the buffer holds
    for (const char16_t* path : {u"\\\\.\\Q:", u"\\\\.\\G:", u"\\\\.\\H:"}) {
        const DiskExtent none = GetVolumeDiskExtent(machine, path);
        EXPECT_EQ(none.DiskNumber, kUnknownDiskNumber);
        EXPECT_EQ(none.StartingOffset, 0);
        EXPECT_EQ(none.ExtentLength, 0);
    }
}

TEST_F(DeviceQueries, DiskLayoutGivesStyleAndTheFirstEntrysOffset) {
    FakeDisk holed = FakeDisk::ofSize(kMiB);  // MBR with an empty first slot
    fake::writeMbrEntry(holed.bytes, 1, 0x07, 63, 1000);
    machine.addDisk(std::move(holed));
    machine.addDisk(FakeDisk::ofSize(kMiB));  // wiped: no table
    FakeDisk gpt = FakeDisk::ofSize(kMiB);
    fake::writeMbrEntry(gpt.bytes, 0, 0xEE, 34, 2000);
    gpt.forcedStyle = "GPT";
    machine.addDisk(std::move(gpt));

    const std::vector<std::pair<Text, std::int64_t>> expected{
        {u"MBR", 2048 * 512}, {u"MBR", 0}, {u"RAW", 0}, {u"GPT", 34 * 512}};
    for (int disk = 0; disk < 4; ++disk) {
        std::int64_t offset = 99;
        Text style;
        layoutOf(u"\\\\.\\PHYSICALDRIVE" + decimal(disk), offset, style);
        EXPECT_EQ(style, expected[disk].first) << disk;
        EXPECT_EQ(offset, expected[disk].second) << disk;
    }
    EXPECT_EQ(machine.disk(0).ioctlLog.size(), 1u);
}

TEST_F(DeviceQueries, DiskLayoutFailureLeavesTheCallersValues) {
    const auto expectUntouched = [this](const Text& path) {
        std::int64_t offset = 4242;
        Text style = u"unchanged";
        layoutOf(path, offset, style);
        EXPECT_EQ(offset, 4242);
        EXPECT_EQ(style, u"unchanged");
    };
    expectUntouched(u"\\\\.\\PHYSICALDRIVE7");  // no such disk
    machine.disk(0).extraLayoutEntries = 13;    // seventeen entries do not fit sixteen
    expectUntouched(u"\\\\.\\PHYSICALDRIVE0");
    machine.disk(0).extraLayoutEntries = 12;  // sixteen do
    std::int64_t offset = 0;
    Text style;
    layoutOf(u"\\\\.\\PHYSICALDRIVE0", offset, style);
    EXPECT_EQ(style, u"MBR");
}

TEST_F(DeviceQueries, GeometryLengthAndClusterSize) {
    machine.disk(0).mediaType = kFixedMedia;
    machine.disk(0).bytesPerSector = 4096;
    DiskGeometry geometry;
    GetDiskGeometry(machine, u"\\\\.\\PHYSICALDRIVE0", geometry);
    EXPECT_EQ(geometry.MediaType, kFixedMedia);
    EXPECT_EQ(geometry.BytesPerSector, 4096u);
    EXPECT_EQ(geometry.size(), machine.disk(0).geometrySize());
    EXPECT_EQ(GetDeviceLength(machine, u"\\\\.\\PHYSICALDRIVE0"), 8 * kMiB);
    EXPECT_EQ(GetDeviceLength(machine, u"\\\\.\\E:"), 7 * kMiB);

    const Text ntfs = addVolume(0, 0).guid;
    machine.volumeByLetter('E')->sectorsPerCluster = 64;
    EXPECT_EQ(GetSectorsPerCluster(machine, u"E:"), 64u);
    EXPECT_EQ(GetSectorsPerCluster(machine, ntfs), 8u);
    machine.volumeByLetter('E')->failSizeQuery = true;
    EXPECT_EQ(GetSectorsPerCluster(machine, u"E:"), 0u);
    EXPECT_EQ(GetSectorsPerCluster(machine, u"Q:"), 0u);

    // A 3 TB disk is sized in 64 bits.
    EXPECT_EQ((DiskGeometry{364801, kFixedMedia, 255, 63, 512}).size(), 364801LL * 255 * 63 * 512);
}

TEST_F(DeviceQueries, CardReaderWithoutMediumGivesZeroes) {
    machine.disk(0).present = false;
    DiskGeometry geometry{5, kRemovableMedia, 1, 1, 512};
    GetDiskGeometry(machine, u"\\\\.\\PHYSICALDRIVE0", geometry);
    EXPECT_EQ(geometry.MediaType, 0u);
    EXPECT_EQ(geometry.size(), 0);
    EXPECT_EQ(GetDeviceLength(machine, u"\\\\.\\PHYSICALDRIVE0"), 0);
    EXPECT_EQ(GetDeviceLength(machine, u"\\\\.\\E:"), 0);
    GetDiskGeometry(machine, u"\\\\.\\PHYSICALDRIVE9", geometry);
    EXPECT_EQ(geometry.size(), 0);
}

TEST_F(DeviceQueries, FileSizeOfFilesFoldersAndWildcards) {
    machine.putFile(u"E:\\QEL\\grub\\i386-pc\\boot.img", Bytes(512, 0xEB));
    machine.putFile(u"E:\\empty.txt", Bytes());
    machine.putFile(u"E:\\autorun.inf", Bytes(97, 'x'), win::FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(GetFileSize64(machine, u"E:\\QEL\\grub\\i386-pc\\boot.img"), 512);
    EXPECT_EQ(GetFileSize64(machine, u"E:\\empty.txt"), 0);
    EXPECT_EQ(GetFileSize64(machine, u"E:\\autorun.inf"), 97);
    EXPECT_EQ(GetFileSize64(machine, u"E:\\QEL\\grub"), 0);
    EXPECT_EQ(GetFileSize64(machine, u"E:\\QEL\\grub\\i386-pc\\*.img"), 512);
    EXPECT_EQ(GetFileSize64(machine, u"E:\\missing.img"), -1);
}

TEST_F(DeviceQueries, IsWow64AndDismount) {
    machine.setWow64(true);
    EXPECT_TRUE(IsWow64(machine));
    machine.removeExport("IsWow64Process");  // a system older than the function
    EXPECT_FALSE(IsWow64(machine));
    machine.restoreExport("IsWow64Process");
    machine.setWow64(false);
    EXPECT_FALSE(IsWow64(machine));

    DismountVolume(machine, u"E:");
    EXPECT_TRUE(machine.volumeByLetter('E')->dismounted);
    DismountVolume(machine, u"Q:");
}

}  // namespace
}  // namespace qel
