// The formatting procedure of the Windows program, against an in-memory volume that answers the
// device requests the way Windows does and can be made to refuse any of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "SystemAreaChecks.h"
#include "VolumeFormat.h"
#include "disk/Records.h"
#include "platform/Platform.h"

namespace qel::fat32 {
namespace {

using testing::Bytes;
constexpr std::uint64_t MiB = std::uint64_t{1} << 20;
constexpr std::uint64_t GiB = std::uint64_t{1} << 30;

// What the device is and what it does; shared by the test and the opened volume.
struct Device {
    std::uint64_t length = 64 * GiB;
    bool plainFile = false;
    std::uint32_t bytesPerSector = 512;
    std::uint32_t sectorsPerTrack = 63;
    std::uint32_t heads = 255;
    std::uint64_t partitionStart = MiB;
    std::uint32_t partitionStyle = 0;  // 0 MBR, 1 GPT
    std::uint8_t partitionType = 0x07;
    int lockRefusals = 0;
    std::set<std::uint32_t> refused{};  // device requests that fail
    std::optional<std::uint64_t> failWriteAt{};
    bool failFlush = false;

    std::vector<std::uint32_t> requests{};
    std::vector<std::pair<std::uint64_t, Bytes>> writes{};
    std::optional<std::uint8_t> typeSet{};
    bool closed = false;

    // The volume's bytes as the writes left them (zeros where nothing was written).
    Bytes read(std::uint64_t offset, std::size_t count) const {
        Bytes out(count, 0);
        for (const auto& [at, data] : writes) {
            const std::uint64_t from = std::max(at, offset);
            const std::uint64_t to = std::min(at + data.size(), offset + count);
            for (std::uint64_t i = from; i < to; ++i) out[i - offset] = data[i - at];
        }
        return out;
    }
    std::uint64_t bytesWritten() const {
        std::uint64_t total = 0;
        for (const auto& w : writes) total += w.second.size();
        return total;
    }
};

class MemoryVolume : public Volume {
public:
    explicit MemoryVolume(Device& device) : d_(device) {}
    ~MemoryVolume() override { d_.closed = true; }

    bool control(std::uint32_t code, std::span<const std::uint8_t> input,
                 std::span<std::uint8_t> output, std::uint32_t& returned) override {
        namespace rec = records;
        d_.requests.push_back(code);
        returned = 0;
        if (d_.plainFile || d_.refused.count(code)) return false;
        if (code == win::FSCTL_LOCK_VOLUME && d_.lockRefusals > 0) {
            --d_.lockRefusals;
            return false;
        }
        switch (code) {
            case win::IOCTL_DISK_GET_LENGTH_INFO:
                rec::writeU64(output, rec::length_information::kLength, d_.length);
                break;
            case win::IOCTL_DISK_GET_PARTITION_INFO_EX:
                rec::writeU32(output, rec::partition_info_ex::kPartitionStyle, d_.partitionStyle);
                rec::writeU64(output, rec::partition_info_ex::kStartingOffset, d_.partitionStart);
                rec::writeU64(output, rec::partition_info_ex::kPartitionLength, d_.length);
                output[rec::partition_info_ex::kMbrPartitionType] = d_.partitionType;
                break;
            case win::IOCTL_DISK_GET_DRIVE_GEOMETRY:
                rec::writeU32(output, rec::disk_geometry::kTracksPerCylinder, d_.heads);
                rec::writeU32(output, rec::disk_geometry::kSectorsPerTrack, d_.sectorsPerTrack);
                rec::writeU32(output, rec::disk_geometry::kBytesPerSector, d_.bytesPerSector);
                break;
            case win::IOCTL_DISK_SET_PARTITION_INFO:
                if (input.size() != 1) return false;
                d_.typeSet = input[0];
                break;
        }
        returned = static_cast<std::uint32_t>(output.size());
        return true;
    }
    std::optional<std::uint64_t> fileLength() override {
        if (!d_.plainFile) return std::nullopt;
        return d_.length;
    }
    bool writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
        if (d_.failWriteAt && *d_.failWriteAt >= offset && *d_.failWriteAt < offset + data.size())
            return false;
        if (offset + data.size() > d_.length) return false;
        d_.writes.emplace_back(offset, Bytes(data.begin(), data.end()));
        return true;
    }
    bool flush() override { return !d_.failFlush; }
    std::string lastError() override { return "error 5 (Access is denied)"; }

private:
    Device& d_;
};

class MemorySystem : public VolumeSystem {
public:
    std::map<Text, Device> devices;
    std::vector<std::uint32_t> pauses;
    std::vector<Text> opened;

    std::unique_ptr<Volume> open(const Text& path, std::string& reason) override {
        opened.push_back(path);
        const auto it = devices.find(path);
        if (it == devices.end()) {
            reason = "error 2 (The system cannot find the file specified)";
            return nullptr;
        }
        return std::make_unique<MemoryVolume>(it->second);
    }
    void pause(std::uint32_t milliseconds) override { pauses.push_back(milliseconds); }
    ClockReading clock() override { return ClockReading{2024, 3, 5, 14, 7, 9, 42}; }
};

class VolumeFormatTest : public ::testing::Test {
protected:
    Device& device(Device d = {}, const Text& path = u"\\\\.\\E:") {
        return system.devices[path] = d;
    }
    Outcome format(const std::vector<Text>& arguments = {u"\\\\.\\E:"}) {
        return formatFromArguments(system, arguments);
    }
    static testing::BootFields expectFormatted(const Device& d, std::uint32_t hiddenSectors,
                                               std::uint32_t clusterBytes) {
        return testing::expectFat32SystemArea(
            [&d](std::uint64_t at, std::size_t n) { return d.read(at, n); },
            {d.bytesPerSector, hiddenSectors, d.length, clusterBytes});
    }
    MemorySystem system;
};

TEST_F(VolumeFormatTest, FormatsALockedVolumeMarksItsPartitionAndDismountsIt) {
    Device& d = device();
    const Outcome outcome = format();
    EXPECT_EQ(outcome.exitCode, kFormatted);
    EXPECT_EQ(outcome.line.rfind("Formatted \\\\.\\E: as FAT32: ", 0), 0u) << outcome.line;
    const std::vector<std::uint32_t> expected = {win::FSCTL_LOCK_VOLUME,
                                                 win::FSCTL_ALLOW_EXTENDED_DASD_IO,
                                                 win::IOCTL_DISK_GET_LENGTH_INFO,
                                                 win::IOCTL_DISK_GET_PARTITION_INFO_EX,
                                                 win::IOCTL_DISK_GET_DRIVE_GEOMETRY,
                                                 win::IOCTL_DISK_SET_PARTITION_INFO,
                                                 win::FSCTL_DISMOUNT_VOLUME};
    EXPECT_EQ(d.requests, expected);
    EXPECT_EQ(d.typeSet, std::optional<std::uint8_t>(0x0C));
    EXPECT_TRUE(d.closed);

    const auto fields = expectFormatted(d, 2048, 32768);
    EXPECT_EQ(fields.serial, 0x15EF0C2Fu);
    const Bytes boot = d.read(0, 512);
    EXPECT_EQ(testing::le(boot, 24, 2), 63u);
    EXPECT_EQ(testing::le(boot, 26, 2), 255u);
    // Only the system area: reserved sectors, the tables and the root cluster (written once),
    // plus the clearing of the old boot sector and the final reserved area.
    EXPECT_EQ(d.bytesWritten(), testing::dataOffset(fields) + 32768 + 512);
    EXPECT_TRUE(std::ranges::all_of(d.read(testing::dataOffset(fields), 32768), [](std::uint8_t b) {
        return b == 0;
    })) << "the root directory starts empty, without a label entry";
    // The old boot sector is cleared first and the new reserved area written last.
    EXPECT_EQ(d.writes.front(), std::make_pair(std::uint64_t{0}, Bytes(512, 0)));
    EXPECT_EQ(d.writes.back().first, 0u);
    EXPECT_EQ(d.writes.back().second.size(), 32u * 512);
}

TEST_F(VolumeFormatTest, UsesTheDisksSectorSizeAndTheVolumesGeometry) {
    Device& d = device({.length = 64 * GiB,
                        .bytesPerSector = 4096,
                        .sectorsPerTrack = 32,
                        .heads = 64,
                        .partitionStart = 8 * MiB});
    ASSERT_EQ(format().exitCode, kFormatted);
    expectFormatted(d, 2048, 32768);
    const Bytes boot = d.read(0, 4096);
    EXPECT_EQ(testing::le(boot, 24, 2), 32u);
    EXPECT_EQ(testing::le(boot, 26, 2), 64u);
}

TEST_F(VolumeFormatTest, LockIsRetriedForAFewSecondsBeforeGivingUp) {
    device({.lockRefusals = 3});
    EXPECT_EQ(format().exitCode, kFormatted);
    EXPECT_EQ(system.pauses, std::vector<std::uint32_t>(3, kLockPauseMilliseconds));

    Device& busy = device({.lockRefusals = 1000});
    system.pauses.clear();
    const Outcome outcome = format();
    EXPECT_EQ(outcome.exitCode, kCannotLock);
    EXPECT_EQ(outcome.line, "Locking \\\\.\\E: failed, it is in use: error 5 (Access is denied)");
    std::uint32_t waited = 0;
    for (const auto ms : system.pauses) waited += ms;
    EXPECT_GE(waited, 3000u);
    EXPECT_LE(waited, 10000u);
    EXPECT_TRUE(busy.writes.empty());
    EXPECT_TRUE(busy.closed);
    EXPECT_EQ(std::ranges::count(busy.requests, win::FSCTL_DISMOUNT_VOLUME), 0);
}

TEST_F(VolumeFormatTest, PartitionTypeIsSetOnlyOnMbrPartitionsThatAreNotAlreadyFat32Lba) {
    Device& fat32 = device({.partitionType = 0x0C});
    EXPECT_EQ(format().exitCode, kFormatted);
    EXPECT_FALSE(fat32.typeSet);

    Device& gpt = device({.partitionStyle = 1, .partitionType = 0});
    EXPECT_EQ(format().exitCode, kFormatted);
    EXPECT_FALSE(gpt.typeSet);
    EXPECT_EQ(std::ranges::count(gpt.requests, win::IOCTL_DISK_SET_PARTITION_INFO), 0);

    // Where the system refuses the change, the file system still stands.
    Device& refused = device({.refused = {win::IOCTL_DISK_SET_PARTITION_INFO}});
    const Outcome outcome = format();
    EXPECT_EQ(outcome.exitCode, kFormatted);
    EXPECT_NE(outcome.line.find("partition type could not be set"), std::string::npos);
    EXPECT_EQ(refused.requests.back(), win::FSCTL_DISMOUNT_VOLUME);
}

TEST_F(VolumeFormatTest, FailedQueriesAndUnsuitableSizesLeaveTheVolumeUntouched) {
    const std::tuple<Device, int, const char*> cases[] = {
        {{.refused = {win::IOCTL_DISK_GET_LENGTH_INFO}},
         kCannotQuery,
         "Reading the length of \\\\.\\E: failed: error 5"},
        {{.refused = {win::IOCTL_DISK_GET_PARTITION_INFO_EX}},
         kCannotQuery,
         "Reading the partition of \\\\.\\E: failed"},
        {{.refused = {win::IOCTL_DISK_GET_DRIVE_GEOMETRY}},
         kCannotQuery,
         "Reading the sector size of the disk behind"},
        {{.length = 32 * MiB},
         kUnsuitableVolume,
         "Formatting \\\\.\\E: refused: The volume is too small"},
        {{.length = std::uint64_t{0x100000000} * 512},
         kUnsuitableVolume,
         "Formatting \\\\.\\E: refused: The volume is too large"}};
    for (const auto& [setup, exitCode, message] : cases) {
        Device& d = device(setup);
        const Outcome outcome = format();
        EXPECT_EQ(outcome.exitCode, exitCode);
        EXPECT_EQ(outcome.line.rfind(message, 0), 0u) << outcome.line;
        EXPECT_TRUE(d.writes.empty());
        EXPECT_EQ(std::ranges::count(d.requests, win::FSCTL_DISMOUNT_VOLUME), 0);
    }
    // Extended access is only asked for; a system without it still formats.
    device({.refused = {win::FSCTL_ALLOW_EXTENDED_DASD_IO}});
    EXPECT_EQ(format().exitCode, kFormatted);
}

TEST_F(VolumeFormatTest, WriteAndDismountFailuresAreReportedAsFailures) {
    Device& broken = device({.failWriteAt = 10 * MiB});  // in the second table
    Outcome outcome = format();
    EXPECT_EQ(outcome.exitCode, kWriteFailed);
    EXPECT_EQ(outcome.line.rfind("Writing to \\\\.\\E: failed at byte ", 0), 0u) << outcome.line;
    EXPECT_NE(outcome.line.find("Access is denied"), std::string::npos);
    EXPECT_NE(broken.read(0, 512)[510], 0x55) << "no boot sector after a failed write";

    device({.failFlush = true});
    EXPECT_EQ(format().exitCode, kWriteFailed);

    device({.refused = {win::FSCTL_DISMOUNT_VOLUME}});
    outcome = format();
    EXPECT_EQ(outcome.exitCode, kCannotDismount);
    EXPECT_EQ(outcome.line,
              "Formatted \\\\.\\E:, but dismounting it failed: error 5 (Access is denied)");
}

TEST_F(VolumeFormatTest, CommandLineTakesExactlyOneVolumeOrImageFile) {
    for (const auto& arguments : std::vector<std::vector<Text>>{{}, {u""}, {u"\\\\.\\E:", u"x"}}) {
        const Outcome outcome = format(arguments);
        EXPECT_EQ(outcome.exitCode, kBadCommandLine);
        EXPECT_EQ(outcome.line.rfind("Usage: fat32format ", 0), 0u);
    }
    EXPECT_TRUE(system.opened.empty());

    Outcome outcome = format({u"\\\\.\\Volume{1234}"});
    EXPECT_EQ(outcome.exitCode, kCannotOpen);
    EXPECT_EQ(outcome.line,
              "Cannot open \\\\.\\Volume{1234} for writing: error 2 (The system "
              "cannot find the file specified)");

    // A trailing backslash would name the root folder; the volume is meant.
    device({}, u"\\\\.\\Volume{1234}");
    EXPECT_EQ(format({u"\\\\.\\Volume{1234}\\"}).exitCode, kFormatted);
    EXPECT_EQ(system.opened.back(), u"\\\\.\\Volume{1234}");
}

TEST_F(VolumeFormatTest, AnImageFileIsFormattedWholeWithoutDeviceRequests) {
    Device& image = device({.length = 40 * GiB, .plainFile = true}, u"C:\\images\\stick.img");
    const Outcome outcome = format({u"C:\\images\\stick.img"});
    EXPECT_EQ(outcome.exitCode, kFormatted) << outcome.line;
    EXPECT_TRUE(image.requests.empty());
    expectFormatted(image, 0, 32768);
}

}  // namespace
}  // namespace qel::fat32
