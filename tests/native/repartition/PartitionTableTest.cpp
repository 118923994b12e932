#include <gtest/gtest.h>

#include <algorithm>
#include <set>

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
        sent.push_back({code, Bytes(input.begin(), input.end())});
        return FakeMachine::deviceIoControl(h, code, input, output, returned);
    }
    struct Sent {
        std::uint32_t code;
        Bytes input;
    };
    std::vector<Sent> sent;
};

struct Entry {
    std::int64_t start, length;
    std::uint32_t hidden, number;
    int type, boot, recognized, rewrite;
    bool operator==(const Entry&) const = default;
};

// Reads entry slot of a DRIVE_LAYOUT_INFORMATION record at the offsets Windows publishes.
Entry entryOf(const Bytes& record, int slot) {
    const std::size_t at = 8 + static_cast<std::size_t>(slot) * 32;
    return Entry{static_cast<std::int64_t>(fake::le64(record, at)),
                 static_cast<std::int64_t>(fake::le64(record, at + 8)),
                 fake::le32(record, at + 16),
                 fake::le32(record, at + 20),
                 record[at + 24],
                 record[at + 25],
                 record[at + 26],
                 record[at + 27]};
}

const Entry kEmpty{0, 0, 0, 0, 0, 0, 0, 0};

class NewPartitionTable : public ::testing::Test {
protected:
    // A removable disk of about the given size whose first sectors hold old boot code and an
    // old table; only its first mebibyte is kept in memory.
    int addDisk(std::int64_t size, std::uint32_t sectorSize = 512) {
        auto disk = fake::FakeDisk::ofSize(MiB, sectorSize);
        disk.cylinders = size / (255 * 63 * static_cast<std::int64_t>(sectorSize));
        std::fill(disk.bytes.begin(), disk.bytes.begin() + 2 * sectorSize, 0xAB);
        fake::writeMbrEntry(disk.bytes, 0, 0x07, 63, 1000, true);
        return machine.addDisk(std::move(disk));
    }
    bool write(int disk, std::int32_t layout, std::uint32_t sectorSize, std::int64_t disksize,
               std::int64_t fat32size) {
        Handle h = machine.createFile(
            u"\\\\.\\PHYSICALDRIVE" + decimal(disk), win::GENERIC_READ | win::GENERIC_WRITE,
            win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, win::OPEN_EXISTING, 0);
        return WriteNewPartitionTable(machine, h, layout, sectorSize, disksize, fat32size);
    }
    const Bytes& layoutRecord() {
        EXPECT_FALSE(machine.sent.empty());
        return machine.sent.at(0).input;
    }
    RecordingMachine machine;
};

TEST_F(NewPartitionTable, LayoutOneIsOneActiveFat32PartitionOverTheDisk) {
    const int n = addDisk(64 * MiB);
    const std::int64_t D = machine.disk(n).geometrySize();
    ASSERT_TRUE(write(n, 1, 512, D, 0));

    ASSERT_EQ(machine.sent.size(), 2u);
    EXPECT_EQ(machine.sent[0].code, 0x7C010u);
    EXPECT_EQ(machine.sent[1].code, 0x70140u);
    EXPECT_TRUE(machine.sent[1].input.empty());
    const Bytes& record = layoutRecord();
    ASSERT_EQ(record.size(), 136u);
    EXPECT_EQ(fake::le32(record, 0), 4u);
    EXPECT_EQ(entryOf(record, 0), (Entry{MiB, D - MiB, 2048, 1, 0x0C, 1, 1, 1}));
    for (int slot = 1; slot < 4; ++slot) EXPECT_EQ(entryOf(record, slot), kEmpty) << slot;

    // Sector 0 was zeroed before the table went in: no old boot code is left, and the disk's
    // signature is the record's.
    const Bytes& bytes = machine.disk(n).bytes;
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.begin() + 440, [](auto b) { return b == 0; }));
    EXPECT_EQ(bytes[512], 0xAB);
    EXPECT_EQ(fake::le32(bytes, 0x1B8), fake::le32(record, 4));
}

TEST_F(NewPartitionTable, LayoutTwoPutsTheActiveFat32PartitionInSlotTwoAtTheEnd) {
    const int n = addDisk(1024 * MiB);
    const std::int64_t D = machine.disk(n).geometrySize();
    ASSERT_TRUE(write(n, 2, 512, D, 160 * MiB));
    const Bytes& record = layoutRecord();
    EXPECT_EQ(entryOf(record, 0), (Entry{MiB, D - 160 * MiB - MiB, 2048, 1, 0x07, 0, 1, 1}));
    const std::int64_t fatStart = D - 167772160;
    EXPECT_EQ(
        entryOf(record, 1),
        (Entry{fatStart, 167772160, static_cast<std::uint32_t>(fatStart / 512), 2, 0x0C, 1, 1, 1}));
    EXPECT_EQ(entryOf(record, 2), kEmpty);
    EXPECT_EQ(entryOf(record, 3), kEmpty);
}

TEST_F(NewPartitionTable, LargestAcceptedFat32SizeLeaves160MiBOfNtfs) {
    const int n = addDisk(1024 * MiB);
    const std::int64_t D = machine.disk(n).geometrySize();
    ASSERT_TRUE(write(n, 2, 512, D, D - 161 * MiB));
    const Bytes& record = layoutRecord();
    EXPECT_EQ(entryOf(record, 0).length, 160 * MiB);
    EXPECT_EQ(entryOf(record, 1).start, 161 * MiB);
    EXPECT_EQ(entryOf(record, 1).hidden, 161u * 2048u);
    EXPECT_EQ(entryOf(record, 1).start + entryOf(record, 1).length, D);
}

TEST_F(NewPartitionTable, AnyLayoutOtherThanOneBehavesAsTwo) {
    const int n = addDisk(512 * MiB);
    const std::int64_t D = machine.disk(n).geometrySize();
    ASSERT_TRUE(write(n, 3, 512, D, 200 * MiB));
    ASSERT_TRUE(write(n, 2, 512, D, 200 * MiB));
    ASSERT_EQ(machine.sent.size(), 4u);
    Bytes three = machine.sent[0].input;
    Bytes two = machine.sent[2].input;
    std::fill(three.begin() + 4, three.begin() + 8, 0);  // the signatures differ
    std::fill(two.begin() + 4, two.begin() + 8, 0);
    EXPECT_EQ(three, two);
}

TEST_F(NewPartitionTable, FourKiBSectorsZeroAWholeSectorAndCountHiddenSectorsInThem) {
    const int n = addDisk(256 * MiB, 4096);
    const std::int64_t D = machine.disk(n).geometrySize();
    ASSERT_TRUE(write(n, 2, 4096, D, 160 * MiB));
    const Bytes& record = layoutRecord();
    EXPECT_EQ(entryOf(record, 0).hidden, 256u);
    EXPECT_EQ(entryOf(record, 1).hidden, static_cast<std::uint32_t>((D - 160 * MiB) / 4096));
    const Bytes& bytes = machine.disk(n).bytes;
    EXPECT_TRUE(
        std::all_of(bytes.begin() + 512, bytes.begin() + 4096, [](auto b) { return b == 0; }));
    EXPECT_EQ(bytes[4096], 0xAB);
}

TEST_F(NewPartitionTable, FailuresStopAtTheStepThatFailed) {
    const int n = addDisk(64 * MiB);
    const std::int64_t D = machine.disk(n).geometrySize();
    const Bytes before = machine.disk(n).bytes;

    EXPECT_FALSE(write(n, 1, 0, D, 0));  // no sector size: nothing at all happens
    machine.disk(n).failWrites = true;
    EXPECT_FALSE(write(n, 1, 512, D, 0));
    machine.disk(n).failWrites = false;
    machine.disk(n).failSeeks = true;
    EXPECT_FALSE(write(n, 1, 512, D, 0));
    EXPECT_TRUE(machine.sent.empty());
    EXPECT_EQ(machine.disk(n).bytes, before);

    machine.disk(n).failSeeks = false;
    machine.disk(n).failSetLayout = true;
    EXPECT_FALSE(write(n, 1, 512, D, 0));
    ASSERT_EQ(machine.sent.size(), 1u);        // no update request after a refused layout
    EXPECT_EQ(machine.disk(n).bytes[510], 0);  // sector 0 stays zeroed

    machine.disk(n).failSetLayout = false;
    machine.disk(n).failUpdateProperties = true;
    EXPECT_FALSE(write(n, 1, 512, D, 0));
    EXPECT_EQ(machine.sent.size(), 3u);
    EXPECT_EQ(machine.openHandles(), 0);
}

TEST(RandomText, DrawsFromTheAlphabetOfItsKind) {
    fake::FakeMachine machine;
    const auto onlyFrom = [](const Text& text, TextView alphabet) {
        return std::all_of(text.begin(), text.end(),
                           [&](char16_t c) { return alphabet.find(c) != TextView::npos; });
    };
    std::set<char16_t> hexSeen;
    for (int i = 0; i < 50; ++i) {
        const Text hex = RandomText(machine, 8, 0);
        ASSERT_EQ(hex.size(), 8u);
        ASSERT_TRUE(onlyFrom(hex, u"abcdef0123456789")) << toUtf8(hex);
        hexSeen.insert(hex.begin(), hex.end());
        ASSERT_TRUE(onlyFrom(RandomText(machine, 5, 1), u"0123456789"));
        ASSERT_TRUE(onlyFrom(RandomText(machine, 5, 2), u"abcdefghijklmnopqrstuvwxyz"));
        ASSERT_TRUE(onlyFrom(RandomText(machine, 5, 7), u"abcdef0123456789"));
    }
    EXPECT_EQ(hexSeen.size(), 16u);  // 400 draws reach every digit
    EXPECT_EQ(RandomText(machine, 1, 2).size(), 1u);
    EXPECT_EQ(RandomText(machine, 0, 2).size(), 1u);  // at least one character is drawn
}

TEST_F(NewPartitionTable, TwoTablesGetDifferentSignatures) {
    const int n = addDisk(64 * MiB);
    const std::int64_t D = machine.disk(n).geometrySize();
    ASSERT_TRUE(write(n, 1, 512, D, 0));
    ASSERT_TRUE(write(n, 1, 512, D, 0));
    EXPECT_NE(fake::le32(machine.sent[0].input, 4), fake::le32(machine.sent[2].input, 4));
}

}  // namespace
}  // namespace qel
