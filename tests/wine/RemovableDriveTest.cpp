// A removable drive E: under Wine, its raw device an image file: drive type, volume information,
// raw reads and writes, the volume enumeration and the device controls Wine refuses. Run by
// removable-drive.sh, which prepares a prefix of its own and names the image in QEL_TEST_IMAGE.

#include <algorithm>
#include <cstring>

// The portable headers come before <windows.h>, whose macros share names with their constants.
#include "boot/DeviceIo.h"
#include "disk/DeviceQueries.h"
#include "disk/DriveList.h"
#include "disk/Volume.h"

#include "WineTestSupport.h"

#include <gtest/gtest.h>

namespace qel {
namespace {

constexpr std::uint32_t kNotSupported = 50;  // ERROR_NOT_SUPPORTED

// The image as the script wrote it: byte n is n modulo 251.
std::uint8_t imageByte(std::size_t offset) {
    return static_cast<std::uint8_t>(offset % 251);
}

Text imagePath() {
    wchar_t path[MAX_PATH + 1] = {};
    GetEnvironmentVariableW(L"QEL_TEST_IMAGE", path, MAX_PATH + 1);
    return win32::fromWide(path);
}

class Win32RemovableDrive : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(imagePath().empty()) << "run by removable-drive.sh"; }
    Win32Platform sys;
};

TEST_F(Win32RemovableDrive, IsListedAsARemovableDriveWithItsLabel) {
    EXPECT_EQ(sys.driveType(u"E:\\"), static_cast<std::uint32_t>(DRIVE_REMOVABLE));
    const auto info = sys.volumeInformation(u"E:");
    ASSERT_TRUE(info);
    EXPECT_FALSE(info->fileSystem.empty());  // the label is read from the raw device: none
    const auto size = sys.diskTotalBytes(u"E:");
    ASSERT_TRUE(size);

    const DriveListing listing = ListEligibleDrives(sys, false);
    ASSERT_EQ(listing.items.size(), 1u);
    EXPECT_EQ(listing.items[0], u"E:\\ - " + FormatByteSize(sys, static_cast<std::int64_t>(*size)) +
                                    u" - " + info->fileSystem);
    EXPECT_EQ(listing.selected, 0);
    EXPECT_GT(ListEligibleDrives(sys, true).items.size(), 1u);  // C: and Z: are fixed
}

TEST_F(Win32RemovableDrive, RawReadsAndWritesReachTheImage) {
    {
        const Handle device = openShared(sys, u"\\\\.\\E:", GENERIC_READ | GENERIC_WRITE);
        ASSERT_TRUE(device.valid());
        Bytes sector(512);
        ASSERT_TRUE(moveTo(sys, device, 1024) && readInto(sys, device, sector));
        for (std::size_t i = 0; i < sector.size(); ++i) ASSERT_EQ(sector[i], imageByte(1024 + i));
        std::fill(sector.begin(), sector.end(), 0xA5);
        ASSERT_TRUE(moveTo(sys, device, 4096) && writeFrom(sys, device, sector));
    }
    const auto image = readWholeFile(sys, imagePath());
    ASSERT_TRUE(image);
    for (std::size_t i = 0; i < 8192; ++i)
        ASSERT_EQ((*image)[i], i >= 4096 && i < 4608 ? 0xA5 : imageByte(i)) << "byte " << i;
}

// Wine answers none of the disk requests on a drive: the queries give their sentinels and close
// the device they opened.
TEST_F(Win32RemovableDrive, RefusedDeviceControlsGiveTheSentinelsAndCloseTheDevice) {
    const int before = wine_test::openHandleCount();
    EXPECT_EQ(GetVolumeDiskExtent(sys, u"\\\\.\\E:").DiskNumber, kUnknownDiskNumber);
    DiskGeometry geometry;
    geometry.BytesPerSector = 7;
    GetDiskGeometry(sys, u"\\\\.\\E:", geometry);
    EXPECT_EQ(geometry.size(), 0);
    EXPECT_EQ(geometry.BytesPerSector, 0u);
    std::int64_t offset = 5;
    Text style;
    GetDiskLayoutInfo(sys, u"\\\\.\\E:", offset, style);
    EXPECT_EQ(style, Text());
    EXPECT_EQ(offset, 5);
    EXPECT_EQ(GetDeviceLength(sys, u"\\\\.\\E:"), 0);
    EXPECT_EQ(wine_test::openHandleCount(), before);

    const Handle device = openShared(sys, u"\\\\.\\E:", GENERIC_READ);
    ASSERT_TRUE(device.valid());
    Bytes output(64);
    std::uint32_t returned = 99;
    EXPECT_FALSE(sys.deviceIoControl(device, win::IOCTL_DISK_UPDATE_PROPERTIES, {}, {}, returned));
    EXPECT_EQ(sys.lastError(), kNotSupported);
    EXPECT_FALSE(sys.deviceIoControl(device, win::IOCTL_DISK_GET_LENGTH_INFO, {}, output, returned));
    EXPECT_EQ(returned, 0u);
}

TEST_F(Win32RemovableDrive, VolumesAreEnumeratedAndNamedButLettersStay) {
    VolumeFunctions volumes(sys);
    volumes.LoadVolumeFunctions();
    ASSERT_TRUE(volumes.bound());

    char expected[MAX_PATH] = {};
    ASSERT_TRUE(GetVolumeNameForVolumeMountPointA("E:\\", expected, MAX_PATH));
    std::string name;
    const FindVolumeId search = sys.callFindFirstVolumeA(volumes.FindFirstVolumeA, name, 1024);
    ASSERT_NE(search, 0u);
    std::vector<std::string> names{name};
    while (sys.callFindNextVolumeA(volumes.FindNextVolumeA, search, name, 1024))
        names.push_back(name);
    EXPECT_TRUE(sys.callFindVolumeClose(volumes.FindVolumeClose, search));
    EXPECT_NE(std::find(names.begin(), names.end(), std::string(expected)), names.end());
    for (const auto& each : names) EXPECT_TRUE(each.starts_with("\\\\?\\Volume{")) << each;

    // The volume's name opens a device (whose reads Wine does not serve).
    const std::string guid(expected + 4, std::strlen(expected) - 5);  // "Volume{…}"
    EXPECT_TRUE(openShared(sys, u"\\\\.\\" + sys.fromAnsi(guid), GENERIC_READ).valid());

    // Wine keeps drive letters: removing and adding mount points fails, and E: stays.
    EXPECT_FALSE(sys.callDeleteVolumeMountPointA(volumes.DeleteVolumeMountPointA, "E:\\"));
    EXPECT_FALSE(
        sys.callSetVolumeMountPointA(volumes.SetVolumeMountPointA, "Q:\\", std::string(expected)));
    EXPECT_EQ(sys.driveType(u"E:\\"), static_cast<std::uint32_t>(DRIVE_REMOVABLE));
}

}  // namespace
}  // namespace qel
