// New partition tables and drive letters on the image, as the partition manager and the mount
// manager keep them.
#include <array>

#include "ImageTestSupport.h"
#include "disk/DeviceQueries.h"
#include "disk/Records.h"
#include "disk/Volume.h"
#include "repartition/PartitionTable.h"

namespace qel::image::test {
namespace {

constexpr std::int64_t kMiB = 1 << 20;

std::string sfdiskEntry(std::int64_t start, std::int64_t size) {
    char line[64];
    std::snprintf(line, sizeof line, "start=%12lld, size=%12lld", static_cast<long long>(start),
                  static_cast<long long>(size));
    return line;
}

class LayoutsOnImage : public ImageTest {
protected:
    void SetUp() override {
        makeImage(400, "start=2048, type=c\\n");
        makeFat32(2048, 398 * 2048, "OLD");
    }
    std::vector<std::string> volumeNames(ImageMachine& machine, VolumeFunctions& functions) {
        std::vector<std::string> names;
        std::string name;
        const auto search = machine.callFindFirstVolumeA(functions.FindFirstVolumeA, name, 1024);
        if (search == 0) return names;
        do names.push_back(name);
        while (machine.callFindNextVolumeA(functions.FindNextVolumeA, search, name, 1024));
        machine.callFindVolumeClose(functions.FindVolumeClose, search);
        return names;
    }
};

TEST_F(LayoutsOnImage, ANewTableIsWrittenToSectorZeroAndItsVolumesAppearAfterTheUpdate) {
    ImageMachine machine(options());
    ASSERT_EQ(machine.volumes().size(), 1u);
    const Text stickVolume = machine.volumes()[0].guid;
    DiskGeometry geometry;
    GetDiskGeometry(machine, u"\\\\.\\PHYSICALDRIVE1", geometry);
    Handle disk = machine.createFile(
        u"\\\\.\\PHYSICALDRIVE1", win::GENERIC_READ | win::GENERIC_WRITE, 3, win::OPEN_EXISTING, 0);
    ASSERT_TRUE(WriteNewPartitionTable(machine, disk, 2, 512, geometry.size(), 160 * kMiB));
    const std::string table = ok("sfdisk -d " + image);
    const std::int64_t fat32Start = (geometry.size() - 160 * kMiB) / 512;
    EXPECT_NE(table.find(sfdiskEntry(2048, fat32Start - 2048) + ", type=7\n"), std::string::npos)
        << table;
    EXPECT_NE(table.find(sfdiskEntry(fat32Start, 327680) + ", type=c, bootable"), std::string::npos)
        << table;

    // The stick's first volume keeps its name and its letter E:, now on the first partition; the
    // second volume is new and gets the first free letter.
    ASSERT_EQ(machine.volumes().size(), 2u);
    EXPECT_EQ(machine.volumes()[0].guid, stickVolume);
    EXPECT_EQ(GetVolumeDiskExtent(machine, u"\\\\.\\E:").StartingOffset, kMiB);
    EXPECT_EQ(GetVolumeDiskExtent(machine, u"\\\\.\\" + stickVolume).StartingOffset, kMiB);
    EXPECT_EQ(GetVolumeDiskExtent(machine, u"\\\\.\\F:").StartingOffset, fat32Start * 512);

    // Raw rewrites of sector 0 count only once the table is read again.
    std::array<std::uint8_t, 512> sector{};
    std::uint32_t count = 0;
    std::int64_t at = 0;
    ASSERT_TRUE(machine.setFilePointer(disk, 0, win::FILE_BEGIN, at));
    ASSERT_TRUE(machine.readFile(disk, sector, count));
    std::copy_n(sector.begin() + 462, 16, sector.begin() + 446);
    std::fill_n(sector.begin() + 462, 16, 0);
    ASSERT_TRUE(machine.setFilePointer(disk, 0, win::FILE_BEGIN, at));
    ASSERT_TRUE(machine.writeFile(disk, sector, count));
    EXPECT_EQ(machine.volumes().size(), 2u);
    ASSERT_TRUE(machine.deviceIoControl(disk, win::IOCTL_DISK_UPDATE_PROPERTIES, {}, {}, count));
    ASSERT_EQ(machine.volumes().size(), 1u);
    EXPECT_EQ(machine.volumes()[0].partition.offset, fat32Start * 512);
    EXPECT_EQ(machine.volumes()[0].number, 2);  // it keeps its partition number
    // The stick's volume name now leads to the only partition listed; the second volume is gone.
    EXPECT_EQ(machine.volumes()[0].guid, stickVolume);
    EXPECT_EQ(GetDeviceLength(machine, u"\\\\.\\" + stickVolume), 160 * kMiB);
    EXPECT_EQ(machine.driveType(u"F:\\"), win::DRIVE_NO_ROOT_DIR);
}

TEST_F(LayoutsOnImage, BeforeBuild15063OnlyTheFirstPartitionListedIsAVolume) {
    auto o = options();
    o.version.build = 14393;
    ImageMachine machine(o);
    VolumeFunctions functions(machine);
    functions.LoadVolumeFunctions();
    // The run takes the stick's letter away first; a removed letter stays removed.
    ASSERT_TRUE(machine.callDeleteVolumeMountPointA(functions.DeleteVolumeMountPointA, "E:\\"));
    Handle disk = machine.createFile(
        u"\\\\.\\PHYSICALDRIVE1", win::GENERIC_READ | win::GENERIC_WRITE, 3, win::OPEN_EXISTING, 0);
    ASSERT_TRUE(WriteNewPartitionTable(machine, disk, 2, 512, 400 * kMiB, 160 * kMiB));
    EXPECT_NE(ok("sfdisk -d " + image).find("type=c, bootable"), std::string::npos);
    const auto names = volumeNames(machine, functions);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(
        GetVolumeDiskExtent(machine, ascii("\\\\.\\" + names[0].substr(4, names[0].size() - 5)))
            .StartingOffset,
        kMiB);
    EXPECT_EQ(machine.driveType(u"E:\\"), win::DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(machine.driveType(u"F:\\"), win::DRIVE_NO_ROOT_DIR);
}

TEST_F(LayoutsOnImage, LayoutsOutsideTheDiskOrOverlappingAreRefused) {
    ImageMachine machine(options());
    Handle disk = machine.createFile(
        u"\\\\.\\PHYSICALDRIVE1", win::GENERIC_READ | win::GENERIC_WRITE, 3, win::OPEN_EXISTING, 0);
    std::uint32_t count = 0;
    const auto beyond = NewLayoutRecord(1, 512, 401 * kMiB, 0, 0x12345678);
    EXPECT_FALSE(
        machine.deviceIoControl(disk, win::IOCTL_DISK_SET_DRIVE_LAYOUT, beyond, {}, count));
    auto overlapping = NewLayoutRecord(2, 512, 400 * kMiB, 160 * kMiB, 0x12345678);
    records::writeU64(overlapping, 8 + 32 + 0, 100 * kMiB);  // second entry starts inside the first
    EXPECT_FALSE(
        machine.deviceIoControl(disk, win::IOCTL_DISK_SET_DRIVE_LAYOUT, overlapping, {}, count));
    EXPECT_NE(ok("sfdisk -d " + image).find("start=        2048"), std::string::npos);
}

TEST_F(LayoutsOnImage, MountPointsAreRemovedAndGivenAsWindowsDoes) {
    ImageMachine machine(options());
    VolumeFunctions functions(machine);
    functions.LoadVolumeFunctions();
    const auto names = volumeNames(machine, functions);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], "\\\\?\\" + toUtf8(machine.volumes()[0].guid) + "\\");

    EXPECT_FALSE(machine.callDeleteVolumeMountPointA(functions.DeleteVolumeMountPointA, "E:"));
    EXPECT_TRUE(machine.callDeleteVolumeMountPointA(functions.DeleteVolumeMountPointA, "E:\\"));
    EXPECT_EQ(machine.driveType(u"E:\\"), win::DRIVE_NO_ROOT_DIR);
    EXPECT_FALSE(machine.callDeleteVolumeMountPointA(functions.DeleteVolumeMountPointA, "E:\\"));
    // The volume is still reached by its name.
    EXPECT_EQ(machine.volumeInformation(ascii(names[0]))->label, u"OLD");

    EXPECT_FALSE(
        machine.callSetVolumeMountPointA(functions.SetVolumeMountPointA, "C:\\", names[0]));
    EXPECT_FALSE(machine.callSetVolumeMountPointA(functions.SetVolumeMountPointA, "D:\\",
                                                  names[0].substr(0, names[0].size() - 1)));
    EXPECT_TRUE(machine.callSetVolumeMountPointA(functions.SetVolumeMountPointA, "D:\\", names[0]));
    EXPECT_EQ(machine.driveType(u"D:\\"), win::DRIVE_REMOVABLE);
    EXPECT_EQ(GetVolumeDiskExtent(machine, u"\\\\.\\D:").DiskNumber, 1u);
}

}  // namespace
}  // namespace qel::image::test
