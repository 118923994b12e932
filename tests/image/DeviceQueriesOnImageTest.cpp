// The program's device queries, asked of the image machine, answer as Windows would for a USB
// stick holding the image.
#include <array>

#include "ImageTestSupport.h"
#include "disk/DeviceQueries.h"
#include "disk/Records.h"

namespace qel::image::test {
namespace {

constexpr std::int64_t kMiB = 1 << 20;

class DeviceQueriesOnImage : public ImageTest {};

TEST_F(DeviceQueriesOnImage, OneFat32PartitionAtOneMebibyte) {
    makeImage(80, "start=2048, type=c, bootable\\n");
    makeFat32(2048, 80 * 2048 - 2048, "BOOTSTICK");
    ImageMachine machine(options());

    const auto extent = GetVolumeDiskExtent(machine, u"\\\\.\\E:");
    EXPECT_EQ(extent.DiskNumber, 1u);
    EXPECT_EQ(extent.StartingOffset, kMiB);
    EXPECT_EQ(extent.ExtentLength, 79 * kMiB);
    EXPECT_EQ(GetVolumeDiskExtent(machine, u"\\\\.\\F:").DiskNumber, kUnknownDiskNumber);

    std::int64_t first = 0;
    Text style;
    GetDiskLayoutInfo(machine, u"\\\\.\\PHYSICALDRIVE1", first, style);
    EXPECT_EQ(style, u"MBR");
    EXPECT_EQ(first, kMiB);

    DiskGeometry geometry;
    GetDiskGeometry(machine, u"\\\\.\\PHYSICALDRIVE1", geometry);
    EXPECT_EQ(geometry.MediaType, kRemovableMedia);
    EXPECT_EQ(geometry.TracksPerCylinder, 255u);
    EXPECT_EQ(geometry.SectorsPerTrack, 63u);
    EXPECT_EQ(geometry.BytesPerSector, 512u);
    EXPECT_EQ(geometry.Cylinders, 80 * kMiB / (255 * 63 * 512));
    GetDiskGeometry(machine, u"\\\\.\\PHYSICALDRIVE0", geometry);
    EXPECT_EQ(geometry.size(), 0);

    EXPECT_EQ(GetDeviceLength(machine, u"\\\\.\\PHYSICALDRIVE1"), 80 * kMiB);
    EXPECT_EQ(GetDeviceLength(machine, u"\\\\.\\E:"), 79 * kMiB);
    EXPECT_EQ(GetSectorsPerCluster(machine, u"E:"), 1u);

    EXPECT_EQ(machine.driveType(u"E:\\"), win::DRIVE_REMOVABLE);
    EXPECT_EQ(machine.driveType(u"C:\\"), win::DRIVE_FIXED);
    EXPECT_EQ(machine.driveType(u"F:\\"), win::DRIVE_NO_ROOT_DIR);
    const auto info = machine.volumeInformation(u"E:\\");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->fileSystem, u"FAT32");
    EXPECT_EQ(info->label, u"BOOTSTICK");
    const auto total = machine.diskTotalBytes(u"E:\\");
    ASSERT_TRUE(total);
    EXPECT_GT(*total, 70u * kMiB);
    EXPECT_LT(*total, 79u * kMiB);
}

TEST_F(DeviceQueriesOnImage,
       PartitionsBecomeVolumesFromEOnAndTheFileSystemIsReadFromTheBootSector) {
    makeImage(160, "start=123, size=100000, type=c\\nstart=102400, type=7\\n");
    makeFat32(123, 100000, "FIRST");
    makeNtfs(102400, 160 * 2048 - 102400);
    ImageMachine machine(options());

    std::int64_t first = 0;
    Text style;
    GetDiskLayoutInfo(machine, u"\\\\.\\PHYSICALDRIVE1", first, style);
    EXPECT_EQ(first, 123 * 512);
    EXPECT_EQ(GetVolumeDiskExtent(machine, u"\\\\.\\F:").StartingOffset, 102400 * 512);
    EXPECT_EQ(machine.volumeInformation(u"E:\\")->fileSystem, u"FAT32");
    const auto ntfs = machine.volumeInformation(u"F:\\");
    ASSERT_TRUE(ntfs);
    EXPECT_EQ(ntfs->fileSystem, u"NTFS");
    EXPECT_EQ(ntfs->label, u"NTFSVOL");
    EXPECT_EQ(GetSectorsPerCluster(machine, u"F:"), 8u);  // 4 KiB clusters of 512-byte sectors
    EXPECT_EQ(loopsOfImage(), "");

    // Each volume answers by its GUID name as well.
    const auto& volumes = machine.volumes();
    ASSERT_EQ(volumes.size(), 2u);
    EXPECT_EQ(GetVolumeDiskExtent(machine, u"\\\\.\\" + volumes[1].guid).StartingOffset,
              102400 * 512);
    EXPECT_EQ(GetSectorsPerCluster(machine, volumes[0].guid), 1u);
}

TEST_F(DeviceQueriesOnImage, DisksWithoutATableOrWithGptReportTheirStyle) {
    makeImage(40, "");
    {
        ImageMachine machine(options());
        std::int64_t first = 7;
        Text style;
        GetDiskLayoutInfo(machine, u"\\\\.\\PHYSICALDRIVE1", first, style);
        EXPECT_EQ(style, u"RAW");
        EXPECT_EQ(first, 0);
        EXPECT_TRUE(machine.volumes().empty());
    }
    ok("printf 'label: gpt\\nstart=2048, size=20480\\n' | sfdisk -q " + image);
    ImageMachine machine(options());
    std::int64_t first = 0;
    Text style;
    GetDiskLayoutInfo(machine, u"\\\\.\\PHYSICALDRIVE1", first, style);
    EXPECT_EQ(style, u"GPT");
    EXPECT_EQ(first, kMiB);
    // An unformatted partition is a volume without a file system.
    EXPECT_EQ(machine.driveType(u"E:\\"), win::DRIVE_REMOVABLE);
    EXPECT_FALSE(machine.volumeInformation(u"E:\\"));
}

TEST_F(DeviceQueriesOnImage, RawIoKeepsToWholeSectorsInsideTheDevice) {
    makeImage(80, "start=2048, type=c\\n");
    makeFat32(2048, 78 * 2048, "RAWIO");
    ImageMachine machine(options());
    Handle volume = machine.createFile(u"\\\\.\\E:", win::GENERIC_READ | win::GENERIC_WRITE, 3,
                                       win::OPEN_EXISTING, 0);
    ASSERT_TRUE(volume.valid());
    std::array<std::uint8_t, 512> sector{};
    std::uint32_t count = 0;
    ASSERT_TRUE(machine.readFile(volume, sector, count));
    EXPECT_EQ(std::string(sector.begin() + 71, sector.begin() + 76), "RAWIO");
    std::array<std::uint8_t, 3> small{};
    std::int64_t position = 0;
    ASSERT_TRUE(machine.setFilePointer(volume, 0, win::FILE_BEGIN, position));
    EXPECT_FALSE(machine.readFile(volume, small, count));
    ASSERT_TRUE(machine.setFilePointer(volume, 0, win::FILE_END, position));
    EXPECT_EQ(position, 79 * kMiB);
    EXPECT_FALSE(machine.writeFile(volume, sector, count));  // past the volume's end

    // A read-only handle writes nothing and may not change the layout.
    Handle disk =
        machine.createFile(u"\\\\.\\PHYSICALDRIVE1", win::GENERIC_READ, 3, win::OPEN_EXISTING, 0);
    EXPECT_FALSE(machine.writeFile(disk, sector, count));
    std::array<std::uint8_t, 136> layout{};
    EXPECT_FALSE(
        machine.deviceIoControl(disk, win::IOCTL_DISK_SET_DRIVE_LAYOUT, layout, {}, count));
}

}  // namespace
}  // namespace qel::image::test
