// Checks of a freshly written FAT32 system area, read with offsets of their own (not the
// formatter's), so that a wrong field in the formatter is not confirmed by the same mistake.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qel::fat32::testing {

using Bytes = std::vector<std::uint8_t>;
// Reads bytes of the volume: offset from the volume's start, count.
using VolumeReader = std::function<Bytes(std::uint64_t, std::size_t)>;

inline std::uint32_t le(const Bytes& b, std::size_t at, int width) {
    std::uint32_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = (v << 8) | b[at + static_cast<std::size_t>(i)];
    return v;
}

struct BootFields {
    std::uint32_t bytesPerSector = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t reservedSectors = 0;
    std::uint32_t fatCount = 0;
    std::uint32_t hiddenSectors = 0;
    std::uint32_t totalSectors = 0;
    std::uint32_t fatSectors = 0;
    std::uint32_t serial = 0;
    std::uint32_t clusterCount() const {
        return (totalSectors - reservedSectors - fatCount * fatSectors) / sectorsPerCluster;
    }
};

struct Expected {
    std::uint32_t bytesPerSector = 512;
    std::uint32_t hiddenSectors = 0;
    std::uint64_t volumeBytes = 0;
    std::uint32_t clusterBytes = 0;
};

// Checks the boot sector, FSInfo, their copies, the heads of both tables and the empty root
// directory against the FAT32 rules; returns the boot sector's fields.
inline BootFields expectFat32SystemArea(const VolumeReader& read, const Expected& expected) {
    const std::uint32_t bps = expected.bytesPerSector;
    const Bytes boot = read(0, bps);
    BootFields f;
    EXPECT_EQ(boot[0], 0xEB);
    EXPECT_EQ(boot[2], 0x90);
    EXPECT_GE(boot[1] + 2, 90) << "the jump must clear the parameter block";
    f.bytesPerSector = le(boot, 11, 2);
    f.sectorsPerCluster = boot[13];
    f.reservedSectors = le(boot, 14, 2);
    f.fatCount = boot[16];
    f.hiddenSectors = le(boot, 28, 4);
    f.totalSectors = le(boot, 32, 4);
    f.fatSectors = le(boot, 36, 4);
    f.serial = le(boot, 67, 4);
    EXPECT_EQ(f.bytesPerSector, bps);
    EXPECT_EQ(f.sectorsPerCluster * bps, expected.clusterBytes);
    EXPECT_EQ(f.reservedSectors, 32u);
    EXPECT_EQ(f.fatCount, 2u);
    EXPECT_EQ(le(boot, 17, 2), 0u) << "root entries";
    EXPECT_EQ(le(boot, 19, 2), 0u) << "16-bit sector count";
    EXPECT_EQ(boot[21], 0xF8);
    EXPECT_EQ(le(boot, 22, 2), 0u) << "16-bit table size";
    EXPECT_EQ(f.hiddenSectors, expected.hiddenSectors);
    EXPECT_EQ(f.totalSectors, expected.volumeBytes / bps);
    EXPECT_EQ(le(boot, 40, 2), 0u) << "tables mirrored";
    EXPECT_EQ(le(boot, 44, 4), 2u) << "root cluster";
    EXPECT_EQ(le(boot, 48, 2), 1u) << "FSInfo sector";
    EXPECT_EQ(le(boot, 50, 2), 6u) << "backup boot sector";
    EXPECT_EQ(boot[66], 0x29);
    EXPECT_EQ(std::string(boot.begin() + 71, boot.begin() + 82), "NO NAME    ");
    EXPECT_EQ(std::string(boot.begin() + 82, boot.begin() + 90), "FAT32   ");
    EXPECT_EQ(boot[510], 0x55);
    EXPECT_EQ(boot[511], 0xAA);

    const std::uint32_t clusters = f.clusterCount();
    EXPECT_GE(clusters, 65525u);
    EXPECT_LE(clusters, 0x0FFFFFF5u);
    EXPECT_GE(std::uint64_t{f.fatSectors} * bps / 4, std::uint64_t{clusters} + 2)
        << "each table must map every cluster";

    const Bytes info = read(bps, bps);
    EXPECT_EQ(le(info, 0, 4), 0x41615252u);
    EXPECT_EQ(le(info, 484, 4), 0x61417272u);
    EXPECT_EQ(le(info, 488, 4), clusters - 1) << "free clusters: all but the root's";
    EXPECT_EQ(le(info, 492, 4), 3u) << "next free cluster";
    EXPECT_EQ(le(info, 508, 4), 0xAA550000u);
    EXPECT_EQ(read(6ull * bps, bps), boot) << "backup boot sector";
    EXPECT_EQ(read(7ull * bps, bps), info) << "backup FSInfo";

    for (std::uint32_t copy = 0; copy < 2; ++copy) {
        const Bytes head = read((32ull + copy * f.fatSectors) * bps, bps);
        EXPECT_EQ(le(head, 0, 4), 0x0FFFFFF8u) << "table " << copy;
        EXPECT_EQ(le(head, 4, 4) & 0x0FFFFFFFu, 0x0FFFFFFFu) << "table " << copy;
        EXPECT_GE(le(head, 8, 4) & 0x0FFFFFFFu, 0x0FFFFFF8u) << "root chain, table " << copy;
        EXPECT_EQ(Bytes(head.begin() + 12, head.end()), Bytes(bps - 12, 0)) << "table " << copy;
    }
    return f;
}

// The first byte offset of the data area (cluster 2, the root directory).
inline std::uint64_t dataOffset(const BootFields& f) {
    return (std::uint64_t{f.reservedSectors} + f.fatCount * f.fatSectors) * f.bytesPerSector;
}

}  // namespace qel::fat32::testing
