#include <gtest/gtest.h>

#include <variant>

#include "Fat32Layout.h"
#include "Fat32Writer.h"

namespace qel::fat32 {
namespace {

constexpr std::uint64_t MiB = std::uint64_t{1} << 20;
constexpr std::uint64_t GiB = std::uint64_t{1} << 30;
constexpr std::uint64_t TiB = std::uint64_t{1} << 40;

Layout layoutOf(std::uint64_t bytes, std::uint32_t bytesPerSector = 512) {
    const auto result = computeLayout(VolumeShape{bytes, bytesPerSector});
    if (const auto* refusal = std::get_if<Refusal>(&result))
        ADD_FAILURE() << bytes << " bytes refused: " << refusal->reason;
    return std::get_if<Layout>(&result) ? std::get<Layout>(result) : Layout{};
}

std::string refusalOf(const VolumeShape& shape) {
    const auto result = computeLayout(shape);
    return std::holds_alternative<Refusal>(result) ? std::get<Refusal>(result).reason : "";
}

TEST(Fat32Layout, ClusterSizeFollowsTheWindowsTableWithEachLimitInclusive) {
    const std::pair<std::uint64_t, std::uint32_t> table[] = {
        {64 * MiB, 512},  {128 * MiB, 1024}, {256 * MiB, 2048}, {8 * GiB, 4096},
        {16 * GiB, 8192}, {32 * GiB, 16384}, {2 * TiB, 32768}};
    std::uint32_t previous = 0;
    for (const auto& [limit, bytes] : table) {
        EXPECT_EQ(defaultClusterBytes(limit), bytes) << limit;
        EXPECT_EQ(defaultClusterBytes(limit - 512), bytes) << limit;
        if (previous != 0) {
            EXPECT_EQ(defaultClusterBytes(limit / 2 + 1), bytes) << limit;
        }
        previous = bytes;
    }
    EXPECT_EQ(defaultClusterBytes(32 * GiB + 1), 32768u);
}

TEST(Fat32Layout, VolumesJustAbove32GiBGet32KiBClustersWhateverTheSectorSize) {
    EXPECT_EQ(layoutOf(32 * GiB).clusterBytes(), 16384u);
    for (const std::uint32_t sector : {512u, 1024u, 2048u, 4096u}) {
        const Layout layout = layoutOf(32 * GiB + sector, sector);
        EXPECT_EQ(layout.clusterBytes(), 32768u) << sector;
        EXPECT_EQ(layout.bytesPerSector, sector);
    }
    // Large sectors raise small clusters to one sector.
    EXPECT_EQ(layoutOf(300 * MiB, 4096).sectorsPerCluster, 1u);
}

// Over a spread of sizes and every sector size: the tables map every cluster and are no larger
// than needed, the areas fit the volume, and no whole cluster is left unused at the end.
TEST(Fat32Layout, TablesAreJustLargeEnoughAndTheDataAreaFillsTheVolume) {
    for (const std::uint32_t sector : {512u, 1024u, 2048u, 4096u}) {
        for (std::uint64_t bytes = 300 * MiB; bytes / sector <= 0xFFFFFFFFull;
             bytes = bytes * 3 / 2) {
            const std::uint64_t size = bytes / sector * sector - 7 * sector;
            const auto result = computeLayout(VolumeShape{size, sector});
            ASSERT_TRUE(std::holds_alternative<Layout>(result)) << size << " " << sector;
            const Layout& l = std::get<Layout>(result);
            const std::uint64_t perTableSector = sector / 4;
            const std::uint64_t spc = l.sectorsPerCluster;
            EXPECT_EQ(l.totalSectors, size / sector);
            EXPECT_GE(l.fatSectors * perTableSector, l.clusterCount + 2ull) << size;
            const std::uint64_t fewer = l.fatSectors - 1;
            const std::uint64_t clustersWithFewer = (l.totalSectors - 32 - 2 * fewer) / spc;
            EXPECT_LT(fewer * perTableSector, clustersWithFewer + 2) << "table larger than needed";
            const std::uint64_t used = 32 + 2ull * l.fatSectors + l.clusterCount * spc;
            EXPECT_LE(used, l.totalSectors);
            EXPECT_LT(l.totalSectors - used, spc);
            EXPECT_EQ(l.dataOffset(), (32 + 2ull * l.fatSectors) * sector);
        }
    }
}

TEST(Fat32Layout, BeyondWhat32KiBClustersCanNumberTheClustersDoubleOnce) {
    EXPECT_EQ(layoutOf(12 * TiB, 4096).clusterBytes(), 65536u);
    EXPECT_EQ(layoutOf(8 * TiB - 16 * MiB, 4096).clusterBytes(), 32768u);
    EXPECT_EQ(layoutOf(16 * TiB - 4096, 4096).clusterBytes(), 65536u);
}

TEST(Fat32Layout, RefusesWhatFat32CannotHoldWithAReason) {
    // Too few clusters: FAT32 needs 65525.
    EXPECT_NE(refusalOf({32 * MiB, 512}).find("too small"), std::string::npos);
    EXPECT_NE(refusalOf({200 * MiB, 4096}).find("too small"), std::string::npos);
    EXPECT_NE(refusalOf({0, 512}).find("too small"), std::string::npos);
    EXPECT_NE(refusalOf({16 * 512, 512}).find("too small"), std::string::npos);
    // One sector more than the 32-bit sector count holds.
    EXPECT_EQ(refusalOf({0xFFFFFFFFull * 512, 512}), "");
    const std::string tooMany = refusalOf({0x100000000ull * 512, 512});
    EXPECT_NE(tooMany.find("too large"), std::string::npos);
    EXPECT_NE(tooMany.find("4294967296 sectors"), std::string::npos);
    // Sector sizes the file system cannot describe.
    EXPECT_NE(refusalOf({64 * GiB, 256}).find("not supported"), std::string::npos);
    EXPECT_NE(refusalOf({64 * GiB, 8192}).find("not supported"), std::string::npos);
    EXPECT_NE(refusalOf({64 * GiB, 0}).find("not supported"), std::string::npos);
    // A partition that starts beyond the 32-bit hidden-sector field.
    EXPECT_NE(refusalOf({64 * GiB, 512, 0x100000000ull}).find("partition starts"),
              std::string::npos);
    EXPECT_EQ(refusalOf({64 * GiB, 512, 0xFFFFFFFFull}), "");
}

TEST(Fat32Serial, ComesFromDateAndTimeAndChangesWithTheClock) {
    using namespace std::chrono;
    const auto moment =
        sys_days{year{2024} / March / 5} + hours{14} + minutes{7} + seconds{9} + milliseconds{420};
    const ClockReading c = readClock(moment);
    EXPECT_EQ(c.year, 2024);
    EXPECT_EQ(c.month, 3);
    EXPECT_EQ(c.day, 5);
    EXPECT_EQ(c.hour, 14);
    EXPECT_EQ(c.minute, 7);
    EXPECT_EQ(c.second, 9);
    EXPECT_EQ(c.hundredths, 42);
    // High word: hour and minute plus the year; low word: month and day plus second and
    // hundredths.
    EXPECT_EQ(volumeSerial(c), 0x15EF0C2Fu);
    EXPECT_NE(volumeSerial(readClock(moment + milliseconds{10})), volumeSerial(c));
    EXPECT_NE(volumeSerial(readClock(moment + minutes{1})), volumeSerial(c));
}

}  // namespace
}  // namespace qel::fat32
