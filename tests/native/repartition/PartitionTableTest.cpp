#include <gtest/gtest.h>

#include <algorithm>

#include "fake/FakeMachine.h"
#include "repartition/PartitionTable.h"

namespace qel {
namespace {

constexpr std::int64_t MiB = 1048576;

// Keeps the input of every device control it passes on to the fake disk.
class RecordingMachine : public fake::FakeMachine {
public:
    bool deviceIoControl(const Handle& h, std::uint32_t code, ByteSpan input,
                         MutableByteSpan output, std::uint32_t& returned) override {
        codes.push_back(code);
        inputs.emplace_back(input.begin(), input.end());
        return FakeMachine::deviceIoControl(h, code, input, output, returned);
    }
    std::vector<std::uint32_t> codes;
    std::vector<Bytes> inputs;
};

struct Entry {
    std::int64_t start, length;
    std::uint32_t hidden, number;
    int type, boot, recognized, rewrite;
    bool operator==(const Entry&) const = default;
};
const Entry kEmpty{0, 0, 0, 0, 0, 0, 0, 0};

// An entry of a DRIVE_LAYOUT_INFORMATION record, read at the offsets Windows publishes.
Entry entryOf(const Bytes& record, int slot) {
    const std::size_t at = 8 + static_cast<std::size_t>(slot) * 32;
    return {static_cast<std::int64_t>(fake::le64(record, at)),
            static_cast<std::int64_t>(fake::le64(record, at + 8)),
            fake::le32(record, at + 16),
            fake::le32(record, at + 20),
            record[at + 24],
            record[at + 25],
            record[at + 26],
            record[at + 27]};
}

class NewPartitionTable : public ::testing::Test {
protected:
    // A disk of about the given size whose first sectors hold old boot code and an old table;
    // only its first mebibyte is kept in memory. Returns its size by the geometry.
    std::int64_t addDisk(std::int64_t size, std::uint32_t sectorSize = 512) {
        auto disk = fake::FakeDisk::ofSize(MiB, sectorSize);
        disk.cylinders = size / (255 * 63 * static_cast<std::int64_t>(sectorSize));
        std::fill(disk.bytes.begin(), disk.bytes.begin() + 2 * sectorSize, 0xAB);
        fake::writeMbrEntry(disk.bytes, 0, 0x07, 63, 1000, true);
        machine.setDisk(0, std::move(disk));
        return machine.disk(0).geometrySize();
    }
    bool write(std::int32_t layout, std::uint32_t sectorSize, std::int64_t disksize,
               std::int64_t fat32size) {
        Handle h =
            machine.createFile(u"\\\\.\\PHYSICALDRIVE0", win::GENERIC_READ | win::GENERIC_WRITE,
                               win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, win::OPEN_EXISTING, 0);
        return WriteNewPartitionTable(machine, h, layout, sectorSize, disksize, fat32size);
    }
    const Bytes& sector0() { return machine.disk(0).bytes; }
    RecordingMachine machine;
};

TEST_F(NewPartitionTable, LayoutOneIsOneActiveFat32PartitionOverTheWholeDisk) {
    const std::int64_t D = addDisk(64 * MiB);
    ASSERT_TRUE(write(1, 512, D, 0));
    // The zeroed sector is read again before the new layout goes in.
    EXPECT_EQ(machine.codes, (std::vector<std::uint32_t>{0x70140, 0x7C010, 0x70140}));
    EXPECT_TRUE(machine.inputs[2].empty());
    const Bytes& record = machine.inputs[1];
    ASSERT_EQ(record.size(), 136u);
    EXPECT_EQ(fake::le32(record, 0), 4u);
    EXPECT_EQ(entryOf(record, 0), (Entry{MiB, D - MiB, 2048, 1, 0x0C, 1, 1, 1}));
    for (int slot = 1; slot < 4; ++slot) EXPECT_EQ(entryOf(record, slot), kEmpty);
    // The old boot code is gone, the sector behind stays, the signature is the record's.
    EXPECT_TRUE(std::all_of(sector0().begin(), sector0().begin() + 440, [](auto b) { return !b; }));
    EXPECT_EQ(sector0()[512], 0xAB);
    EXPECT_EQ(fake::le32(sector0(), 0x1B8), fake::le32(record, 4));
}

TEST_F(NewPartitionTable, OtherLayoutsPutTheActiveFat32PartitionInSlotTwoAtTheEnd) {
    const std::int64_t D = addDisk(1024 * MiB);
    for (const auto& [layout, fat32size] :
         {std::pair{2, 160 * MiB}, std::pair{3, 160 * MiB}, std::pair{2, D - 161 * MiB}}) {
        machine.inputs.clear();
        ASSERT_TRUE(write(layout, 512, D, fat32size));
        const Bytes& record = machine.inputs[1];
        const std::int64_t fatStart = D - fat32size;
        EXPECT_EQ(entryOf(record, 0), (Entry{MiB, fatStart - MiB, 2048, 1, 0x07, 0, 1, 1}));
        EXPECT_EQ(entryOf(record, 1),
                  (Entry{fatStart, fat32size, static_cast<std::uint32_t>(fatStart / 512), 2, 0x0C,
                         1, 1, 1}));
        EXPECT_EQ(entryOf(record, 2), kEmpty);
        EXPECT_EQ(entryOf(record, 3), kEmpty);
    }
    EXPECT_EQ(entryOf(machine.inputs[1], 0).length, 160 * MiB);  // the largest FAT32 size
}

TEST_F(NewPartitionTable, FourKiBSectorsZeroAWholeSectorAndCountHiddenSectorsInThem) {
    const std::int64_t D = addDisk(256 * MiB, 4096);
    ASSERT_TRUE(write(2, 4096, D, 160 * MiB));
    EXPECT_EQ(entryOf(machine.inputs[1], 0).hidden, 256u);
    EXPECT_EQ(entryOf(machine.inputs[1], 1).hidden,
              static_cast<std::uint32_t>((D - 160 * MiB) / 4096));
    EXPECT_TRUE(
        std::all_of(sector0().begin() + 512, sector0().begin() + 4096, [](auto b) { return !b; }));
    EXPECT_EQ(sector0()[4096], 0xAB);
}

TEST_F(NewPartitionTable, FailuresStopAtTheStepThatFailed) {
    const std::int64_t D = addDisk(64 * MiB);
    const Bytes before = sector0();
    auto& disk = machine.disk(0);
    EXPECT_FALSE(write(1, 0, D, 0));  // no sector size: nothing at all happens
    disk.failWrites = true;
    EXPECT_FALSE(write(1, 512, D, 0));
    disk.failWrites = false;
    disk.failSeeks = true;
    EXPECT_FALSE(write(1, 512, D, 0));
    EXPECT_TRUE(machine.codes.empty());
    EXPECT_EQ(sector0(), before);

    disk.failSeeks = false;
    disk.failSetLayout = true;
    EXPECT_FALSE(write(1, 512, D, 0));
    // No update after a refusal.
    EXPECT_EQ(machine.codes, (std::vector<std::uint32_t>{0x70140, 0x7C010}));
    EXPECT_EQ(sector0()[510], 0);  // sector 0 stays zeroed
    disk.failSetLayout = false;
    disk.failUpdateProperties = true;
    EXPECT_FALSE(write(1, 512, D, 0));
    EXPECT_EQ(machine.codes.size(), 5u);  // the two of the refusal and three more
    EXPECT_EQ(machine.openHandles(), 0);
}

TEST(RandomText, DrawsFromTheAlphabetOfItsKindAndDiffersFromCallToCall) {
    fake::FakeMachine machine;
    const auto drawn = [&](int kind) {
        Text all;
        for (int i = 0; i < 50; ++i) all += RandomText(machine, 8, kind);
        std::sort(all.begin(), all.end());
        all.erase(std::unique(all.begin(), all.end()), all.end());
        return all;  // every character drawn, once each
    };
    EXPECT_EQ(drawn(0), u"0123456789abcdef");
    EXPECT_EQ(drawn(7), u"0123456789abcdef");
    EXPECT_EQ(drawn(1), u"0123456789");
    EXPECT_EQ(drawn(2), u"abcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(RandomText(machine, 0, 2).size(), 1u);  // at least one character
    EXPECT_NE(RandomText(machine, 8, 0), RandomText(machine, 8, 0));
}

}  // namespace
}  // namespace qel
