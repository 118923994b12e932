#include <gtest/gtest.h>

#include <memory>

#include "boot/Grub2Mbr.h"
#include "fake/FakeMachine.h"
#include "native/boot/ByteTestHelpers.h"

namespace qel {
namespace {

using boottest::pattern;
using boottest::sameBytes;
using boottest::slice;

const Text kDisk = u"\\\\.\\PHYSICALDRIVE0";
const Text kBootImage = u"E:\\QEL\\grub\\i386-pc\\boot.img";
const Text kCoreImage = u"E:\\QEL\\grub\\i386-pc\\uncore.img";

// A 2 MiB disk of distinct bytes whose one partition starts at 1 MiB, a boot image and a core
// image on drive E:.
class Grub2MbrTest : public ::testing::Test {
protected:
    void prepare(std::size_t coreSize, std::uint32_t bytesPerSector) {
        machine = std::make_unique<fake::FakeMachine>();
        diskPath = kDisk;
        fake::FakeDisk disk = fake::FakeDisk::ofSize(2 << 20, bytesPerSector);
        disk.bytes = pattern(disk.bytes.size(), 3);
        fake::writeMbrEntry(disk.bytes, 0, 0x0C, (1 << 20) / bytesPerSector, 2048, true);
        fm().setDisk(0, disk);
        original = fm().disk(0).bytes;
        bootImage = pattern(512, 101);
        coreImage = pattern(coreSize, 57);
        fm().putFile(kBootImage, bootImage);
        fm().putFile(kCoreImage, coreImage);
        sectorSize = static_cast<std::int32_t>(bytesPerSector);
    }

    std::uint16_t check() { return CheckGrub2Mbr(fm(), diskPath, u"E:", kCoreImage, sectorSize); }
    bool install() { return InstallGrub2Mbr(fm(), diskPath, u"E:", kCoreImage, sectorSize); }

    void expectDiskUntouched() {
        EXPECT_EQ(fm().disk(0).writeCount, 0u);
        EXPECT_TRUE(sameBytes(fm().disk(0).bytes, original));
        EXPECT_EQ(fm().openHandles(), 0);
    }

    fake::FakeMachine& fm() { return *machine; }

    std::unique_ptr<fake::FakeMachine> machine = std::make_unique<fake::FakeMachine>();
    Bytes original;
    Bytes bootImage;
    Bytes coreImage;
    std::int32_t sectorSize = 512;
    Text diskPath = kDisk;
};

TEST_F(Grub2MbrTest, InstallsTheBootAreaByteExactForEveryCoreImageAndSectorSize) {
    struct Case {
        std::size_t coreSize;
        std::uint32_t bytesPerSector;
        std::size_t length;
    };
    const Case cases[] = {
        {67584, 512, 68096},
        {62464, 512, 62976},
        {65536, 512, 66048},
        {67584, 4096, 69632},
        {62464, 4096, 65536},
        {65536, 4096, 69632},
        // Core images built from the Debian modules: not whole sectors.
        {38976, 512, 39936},
        {31805, 512, 32768},
        {31587, 4096, 32768},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.coreSize << " bytes on " << c.bytesPerSector);
        prepare(c.coreSize, c.bytesPerSector);
        EXPECT_EQ(grub2BootAreaLength(static_cast<std::int64_t>(c.coreSize), sectorSize),
                  static_cast<std::int64_t>(c.length));
        EXPECT_EQ(check(), kGrub2Differs);
        ASSERT_TRUE(install());
        EXPECT_EQ(fm().disk(0).writeCount, 2u);
        const Bytes& disk = fm().disk(0).bytes;

        Bytes code = slice(bootImage, 0, 440);
        code[0x66] = 0x90;
        code[0x67] = 0x90;
        EXPECT_TRUE(sameBytes(slice(disk, 0, 440), code));
        EXPECT_TRUE(sameBytes(slice(disk, 440, 512), slice(original, 440, 512)))
            << "partition table lost";
        EXPECT_TRUE(sameBytes(slice(disk, 512, 512 + c.coreSize), coreImage));
        EXPECT_TRUE(sameBytes(slice(disk, 512 + c.coreSize, disk.size()),
                              slice(original, 512 + c.coreSize, original.size())));

        EXPECT_EQ(check(), kGrub2Installed);
        EXPECT_EQ(fm().openHandles(), 0);
    }
}

TEST_F(Grub2MbrTest, CheckComparesTheWholeAreaAndNothingBehindIt) {
    prepare(67584, 4096);
    ASSERT_TRUE(install());
    fm().disk(0).bytes[69632] ^= 0xFF;
    EXPECT_EQ(check(), kGrub2Installed);
    fm().disk(0).bytes[512 + 67583] ^= 0xFF;
    EXPECT_EQ(check(), kGrub2Differs);
    // The boot image's own jump bytes and its bytes behind 440 never matter; its code does.
    ASSERT_TRUE(install());
    bootImage[0x66] ^= 0xFF;
    bootImage[500] ^= 0xFF;
    fm().putFile(kBootImage, bootImage);
    EXPECT_EQ(check(), kGrub2Installed);
    bootImage[10] ^= 0xFF;
    fm().putFile(kBootImage, bootImage);
    EXPECT_EQ(check(), kGrub2Differs);
}

TEST_F(Grub2MbrTest, AShortBootImageLeavesTheDiskBytesBehindIt) {
    prepare(62464, 512);
    fm().putFile(kBootImage, slice(bootImage, 0, 100));
    ASSERT_TRUE(install());
    const Bytes& disk = fm().disk(0).bytes;
    EXPECT_TRUE(sameBytes(slice(disk, 0, 100), slice(bootImage, 0, 100)));
    EXPECT_EQ(disk[0x66], 0x90);
    EXPECT_EQ(disk[0x67], 0x90);
    EXPECT_TRUE(sameBytes(slice(disk, 0x68, 512), slice(original, 0x68, 512)));
}

// A run cut off after the core image keeps the disk's own boot code in front of it.
TEST_F(Grub2MbrTest, TheBootCodeIsWrittenAfterTheCoreImage) {
    for (const std::uint32_t bytesPerSector : {512u, 4096u}) {
        SCOPED_TRACE(bytesPerSector);
        prepare(62464, bytesPerSector);
        fm().disk(0).writesBeforeFailure = 1;
        EXPECT_FALSE(install());
        const Bytes& disk = fm().disk(0).bytes;
        EXPECT_TRUE(sameBytes(slice(disk, 0, bytesPerSector), slice(original, 0, bytesPerSector)));
        EXPECT_TRUE(sameBytes(slice(disk, bytesPerSector, 512 + 62464),
                              slice(coreImage, bytesPerSector - 512, 62464)));
        EXPECT_EQ(fm().openHandles(), 0);
    }
}

TEST_F(Grub2MbrTest, FailuresWriteNothing) {
    struct Failure {
        const char* name;
        std::function<void()> cause;
        std::uint16_t checkResult = kGrub2Undetermined;
    };
    const Failure failures[] = {
        {"no boot image", [this] { fm().deleteFile(kBootImage); }},
        {"no core image", [this] { fm().deleteFile(kCoreImage); }},
        {"unreadable disk", [this] { fm().disk(0).failReads = true; }},
        {"no medium", [this] { fm().disk(0).present = false; }},
        {"disk shorter than the area", [this] { fm().disk(0).bytes.resize(60000); }},
        {"no such disk", [this] { diskPath = u"\\\\.\\PHYSICALDRIVE7"; }},
        {"positioning fails", [this] { fm().disk(0).failSeeks = true; }},
        {"write fails", [this] { fm().disk(0).failWrites = true; }, kGrub2Differs},
        {"sector size 0", [this] { sectorSize = 0; }},
        {"negative sector size", [this] { sectorSize = -512; }},
    };
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.name);
        prepare(67584, 512);
        failure.cause();
        original = fm().disk(0).bytes;
        EXPECT_EQ(check(), failure.checkResult);
        EXPECT_FALSE(install());
        expectDiskUntouched();
    }
}

TEST_F(Grub2MbrTest, ABootAreaReachingIntoTheFirstPartitionIsRefused) {
    // The lowest start of any slot counts, whatever slot holds it.
    prepare(67584, 512);
    fake::writeMbrEntry(fm().disk(0).bytes, 2, 0x07, 132, 100);
    original = fm().disk(0).bytes;
    EXPECT_EQ(check(), kGrub2Undetermined);
    EXPECT_FALSE(install());
    expectDiskUntouched();

    // Ending exactly where the partition starts is fine.
    fake::writeMbrEntry(fm().disk(0).bytes, 2, 0x07, 133, 100);
    EXPECT_TRUE(install());

    // On 4096-byte sectors the starting sector counts in those sectors.
    prepare(67584, 4096);
    fake::writeMbrEntry(fm().disk(0).bytes, 3, 0x07, 16, 100);
    original = fm().disk(0).bytes;
    EXPECT_FALSE(install());
    expectDiskUntouched();
    fake::writeMbrEntry(fm().disk(0).bytes, 3, 0x07, 17, 100);
    EXPECT_TRUE(install());

    // A disk without partitions sets no limit.
    prepare(67584, 512);
    std::fill(fm().disk(0).bytes.begin() + 446, fm().disk(0).bytes.begin() + 510, 0);
    EXPECT_TRUE(install());
    EXPECT_EQ(check(), kGrub2Installed);
}

}  // namespace
}  // namespace qel
