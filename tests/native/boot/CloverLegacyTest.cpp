#include <gtest/gtest.h>

#include <memory>

#include "boot/CloverLegacy.h"
#include "fake/FakeMachine.h"
#include "native/boot/ByteTestHelpers.h"

namespace qel {
namespace {

using boottest::pattern;
using boottest::sameBytes;
using boottest::slice;

constexpr std::int64_t kVolumeOffset = 1 << 20;
const Text kGuid = u"Volume{0a1b2c3d-0000-11ef-a000-806e6f6e6963}";

// A FAT32 volume E: (or one known only by its GUID name) at 1 MiB of disk 0, with the payload's
// Clover files and an old "CloverLegacy" and hidden "\boot7" from an earlier run.
class CloverLegacyTest : public ::testing::Test {
protected:
    void prepare(std::uint32_t bytesPerSector, bool byGuid = false) {
        machine = std::make_unique<fake::FakeMachine>();
        fake::FakeDisk disk = fake::FakeDisk::ofSize(4 << 20, bytesPerSector);
        disk.bytes = pattern(disk.bytes.size(), 5);
        fm().setDisk(0, disk);
        original = fm().disk(0).bytes;
        fake::FakeVolume volume;
        volume.letter = byGuid ? 0 : 'E';
        volume.guid = kGuid;
        volume.disk = 0;
        volume.offset = kVolumeOffset;
        volume.length = 2 << 20;
        fm().addVolume(volume);
        name = byGuid ? kGuid : u"E:";
        root = byGuid ? u"\\\\?\\" + kGuid : u"E:";
        sectorSize = static_cast<std::int32_t>(bytesPerSector);

        boot1f32 = pattern(512, 200);
        boot7 = pattern(4000, 77);
        fm().putFile(root + u"\\QEL\\Tools\\Clover\\boot1f32", boot1f32);
        fm().putFile(root + u"\\QEL\\Tools\\Clover\\boot7", boot7);
        if (withCloverFolder) fm().putFile(root + u"\\EFI\\CLOVER\\CloverLegacy", "old sector");
        const std::string oldBoot7 = "old boot7";
        fm().putFile(root + u"\\boot7", Bytes(oldBoot7.begin(), oldBoot7.end()),
                     win::FILE_ATTRIBUTE_HIDDEN);
    }

    bool install() { return InstallCloverLegacy(fm(), name, sectorSize); }

    Bytes originalVolumeStart(std::size_t count) const {
        return slice(original, kVolumeOffset, kVolumeOffset + count);
    }
    // The merged sector: boot1f32's jump and code around the volume's parameter blocks.
    Bytes expectedSector() const {
        Bytes sector = originalVolumeStart(512);
        std::copy(boot1f32.begin(), boot1f32.begin() + 3, sector.begin());
        std::copy(boot1f32.begin() + 90, boot1f32.end(), sector.begin() + 90);
        return sector;
    }
    Bytes cloverLegacy() { return fm().fileBytes(root + u"\\EFI\\CLOVER\\CloverLegacy"); }
    bool hasCloverLegacy() { return fm().hasFile(root + u"\\EFI\\CLOVER\\CloverLegacy"); }
    bool firstSectorUntouched() { return fm().disk(0).bytes == original; }

    fake::FakeMachine& fm() { return *machine; }

    std::unique_ptr<fake::FakeMachine> machine = std::make_unique<fake::FakeMachine>();
    Bytes original;
    Bytes boot1f32;
    Bytes boot7;
    Text name;
    Text root;
    std::int32_t sectorSize = 512;
    bool withCloverFolder = true;
};

TEST_F(CloverLegacyTest, MergesSavesAndWritesTheBootSectorForEveryVolumeForm) {
    struct Case {
        std::uint32_t bytesPerSector;
        bool byGuid;
    };
    for (const Case c : {Case{512, false}, Case{4096, false}, Case{512, true}}) {
        SCOPED_TRACE(testing::Message() << c.bytesPerSector << (c.byGuid ? " by GUID" : ""));
        prepare(c.bytesPerSector, c.byGuid);
        for (int run = 1; run <= 2; ++run) {  // a second run gives the same result
            ASSERT_TRUE(install());
            const Bytes saved = cloverLegacy();
            ASSERT_EQ(saved.size(), 512u);
            EXPECT_TRUE(sameBytes(slice(saved, 0, 3), slice(boot1f32, 0, 3)));
            EXPECT_TRUE(sameBytes(slice(saved, 3, 90), slice(originalVolumeStart(90), 3, 90)));
            EXPECT_TRUE(sameBytes(slice(saved, 90, 512), slice(boot1f32, 90, 512)));
            // The saved copy over the volume's first 512 bytes; nothing else on the disk changed.
            Bytes expectedDisk = original;
            std::copy(saved.begin(), saved.end(), expectedDisk.begin() + kVolumeOffset);
            EXPECT_TRUE(sameBytes(fm().disk(0).bytes, expectedDisk));
            EXPECT_TRUE(sameBytes(fm().fileBytes(root + u"\\boot7"), boot7));
            EXPECT_EQ(fm().attributesOf(root + u"\\boot7"), win::FILE_ATTRIBUTE_HIDDEN);
            EXPECT_EQ(fm().openHandles(), 0);
        }
    }
}

TEST_F(CloverLegacyTest, AShortBoot1f32LeavesTheVolumeBytesItDoesNotReach) {
    prepare(512);
    fm().putFile(u"E:\\QEL\\Tools\\Clover\\boot1f32", slice(boot1f32, 0, 200));
    ASSERT_TRUE(install());
    const Bytes saved = cloverLegacy();
    EXPECT_TRUE(sameBytes(slice(saved, 90, 200), slice(boot1f32, 90, 200)));
    EXPECT_TRUE(sameBytes(slice(saved, 200, 512), slice(originalVolumeStart(512), 200, 512)));
}

TEST_F(CloverLegacyTest, EachFailureLeavesWhatWasDoneBeforeIt) {
    // Refused before anything is touched.
    for (const std::int32_t small : {0, 256, 511}) {
        prepare(512);
        EXPECT_FALSE(InstallCloverLegacy(fm(), u"E:", small));
        EXPECT_EQ(fm().fileText(u"E:\\EFI\\CLOVER\\CloverLegacy"), "old sector");
        EXPECT_TRUE(firstSectorUntouched());
    }
    prepare(512);
    EXPECT_FALSE(InstallCloverLegacy(fm(), u"Q:", 512));
    EXPECT_EQ(fm().fileText(u"E:\\EFI\\CLOVER\\CloverLegacy"), "old sector");

    // The volume cannot be read, or boot1f32 is missing: the old copy is gone, nothing else.
    for (const bool missingCode : {false, true}) {
        prepare(512);
        if (missingCode)
            fm().deleteFile(u"E:\\QEL\\Tools\\Clover\\boot1f32");
        else
            fm().disk(0).failReads = true;
        EXPECT_FALSE(install());
        EXPECT_FALSE(hasCloverLegacy());
        EXPECT_EQ(fm().fileText(u"E:\\boot7"), "old boot7");
        EXPECT_TRUE(firstSectorUntouched());
        EXPECT_EQ(fm().openHandles(), 0);
    }

    // No \EFI\CLOVER folder: the copy cannot be created.
    withCloverFolder = false;
    prepare(512);
    EXPECT_FALSE(install());
    EXPECT_FALSE(hasCloverLegacy());
    EXPECT_EQ(fm().fileText(u"E:\\boot7"), "old boot7");
    EXPECT_TRUE(firstSectorUntouched());
}

TEST_F(CloverLegacyTest, TheSavedCopyOutlivesLaterFailures) {
    // boot7 cannot be copied: false, and the first sector is not written.
    prepare(512);
    fm().deleteFile(u"E:\\QEL\\Tools\\Clover\\boot7");
    EXPECT_FALSE(install());
    EXPECT_TRUE(sameBytes(cloverLegacy(), expectedSector()));
    EXPECT_FALSE(fm().hasFile(u"E:\\boot7"));
    EXPECT_TRUE(firstSectorUntouched());
    EXPECT_EQ(fm().openHandles(), 0);

    // The first sector cannot be written: still true, Grub2 chain-loads the saved copy.
    prepare(512);
    fm().disk(0).failWrites = true;
    EXPECT_TRUE(install());
    EXPECT_TRUE(sameBytes(cloverLegacy(), expectedSector()));
    EXPECT_TRUE(sameBytes(fm().fileBytes(u"E:\\boot7"), boot7));
    EXPECT_TRUE(firstSectorUntouched());
}

}  // namespace
}  // namespace qel
