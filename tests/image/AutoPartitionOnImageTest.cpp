// The program's own AutoPartition run, started by qel-headless on a 400 MiB stick that held one
// FAT32 partition, leaves the new table, file systems the Linux tools accept, the payload, the
// menu files, autorun.inf and the boot code where they belong, with and without "Clean Disk".
#include "HeadlessTestSupport.h"

#ifdef QEL_HEADLESS_PROGRAM

namespace qel::image::test {
namespace {

constexpr int kImageMiB = 400;
// The disk's size as its geometry gives it: whole cylinders of 255 heads and 63 sectors.
constexpr std::int64_t kDiskSectors = std::int64_t{kImageMiB} * 2048 / (255 * 63) * (255 * 63);
constexpr std::int64_t kFirstSector = 2048;
constexpr std::int64_t kFat32Sectors = 160 * 2048;
constexpr std::int64_t kFat32Start = kDiskSectors - kFat32Sectors;

std::string sfdiskEntry(int number, std::int64_t start, std::int64_t size, const char* type) {
    char line[128];
    std::snprintf(line, sizeof line, "disk.img%d : start=%12lld, size=%12lld, type=%s", number,
                  static_cast<long long>(start), static_cast<long long>(size), type);
    return line;
}

std::string lines(std::initializer_list<const char*> list) {
    std::string text;
    for (const char* line : list) text += std::string(line) + "\r\n";
    return text;
}

const std::string kSyslinuxBlock =
    lines({"### Start Syslinux Legacy", "if [ \"$pc\" -a -z \"$cd\" ]; then",
           "menuentry \"[s] Syslinux\" --hotkey=s {",
           "\tchainloader /QEL/Tools/syslinux/syslinux/syslinux.bin", "}", "fi",
           "### End Syslinux Legacy"});
const std::string kCloverBlock =
    lines({"### Start Clover Legacy", "if [ \"$pc\" -a -z \"$cd\" ]; then",
           "menuentry \"[l] Clover\" --hotkey=l {",
           "\tsearch --file --no-floppy --set=root /EFI/CLOVER/CloverLegacy",
           "\tchainloader /EFI/CLOVER/CloverLegacy", "}", "fi", "### End Clover Legacy"});
const std::string kAutorun =
    "[autorun]\r\nlabel=RAZEVOR\r\nicon=QEL\\razevor.ico\r\nshellexecute=QELCreator.exe\r\n";

class AutoPartitionOnImage : public HeadlessTest {
protected:
    void SetUp() override {
        HeadlessTest::SetUp();
        makeImage(kImageMiB, "start=2048, type=c, bootable\\n");
        makeFat32(kFirstSector, kImageMiB * 2048 - kFirstSector, "OLD");
        // Leftovers in front of the partition, which only "Clean Disk" removes.
        ok("dd if=/dev/urandom of=" + image + " bs=512 seek=1 count=2047 conv=notrunc 2>/dev/null");
    }

    HostResult autoPartition(const std::string& options) {
        const auto run = headless("--run autopartition --english " + options);
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_NE(run.output.find("companion application started; program ends"), std::string::npos)
            << run.output;
        EXPECT_EQ(ok("find " + driveC + " -iname qelextract"), "");  // the work folder went
        EXPECT_EQ(loopsOfImage(), "");
        return run;
    }

    Bytes sectors(std::int64_t first, std::size_t count = 1) {
        return fileBytes(image, first * 512, count * 512);
    }

    std::string fatFile(std::int64_t startSector, const std::string& path) {
        return ok(mtools("mtype", startSector) + "::/" + path);
    }

    // A command on the NTFS file system in the sectors, which it finds as $dev.
    std::string ntfs(std::int64_t startSector, std::int64_t count, const std::string& command) {
        return ok("dev=$(losetup --find --show --offset " + std::to_string(startSector * 512) +
                  " --sizelimit " + std::to_string(count * 512) + " " + image + ") && " + command +
                  "; rc=$?; losetup -d $dev; exit $rc");
    }

    // 7-Zip reads the partition's file system and finds the payload on it.
    void expectSevenZipLists(std::int64_t startSector, std::int64_t count) {
        const std::string part = folder.path() + "/part.img";
        ok("dd if=" + image + " of=" + part + " bs=512 skip=" + std::to_string(startSector) +
           " count=" + std::to_string(count) + " 2>/dev/null");
        const std::string listing = ok("7zz l " + part);
        EXPECT_NE(listing.find("QELCreator.exe"), std::string::npos) << listing;
        EXPECT_NE(listing.find("uncore.img"), std::string::npos) << listing;
        ok("rm " + part);
    }

    // Grub2's boot code (with the boot-drive check kept) in front of the table, its core image in
    // the sectors behind it; with "Clean Disk" nothing else is left before the first partition.
    void expectGrub2AndGap(bool cleaned) {
        const Bytes sectorZero = sectors(0);
        Bytes bootCode = payloadFile("QEL/grub/i386-pc/boot.img");
        bootCode.resize(440);
        bootCode[0x66] = bootCode[0x67] = 0x90;
        EXPECT_EQ(Bytes(sectorZero.begin(), sectorZero.begin() + 440), bootCode);
        const Bytes core = payloadFile("QEL/grub/i386-pc/uncore.img");
        EXPECT_EQ(fileBytes(image, 512, core.size()), core);
        const Bytes lastGapSector = sectors(kFirstSector - 1);
        EXPECT_EQ(lastGapSector == Bytes(512, 0), cleaned);
    }

    // Clover's boot code over the FAT32 volume's first sector, whose parameter block stays.
    void expectCloverBootSector(std::int64_t startSector, const std::string& label) {
        const Bytes boot = sectors(startSector);
        const Bytes clover = payloadFile("QEL/Tools/Clover/boot1f32");
        EXPECT_TRUE(std::equal(boot.begin() + 90, boot.end(), clover.begin() + 90));
        EXPECT_EQ(std::string(boot.begin() + 71, boot.begin() + 71 + label.size()), label);
        EXPECT_EQ(fatFile(startSector, "EFI/CLOVER/CloverLegacy").size(), 512u);
        EXPECT_EQ(fatFile(startSector, "boot7"), "loader\n");
    }
};

class OnePartition : public AutoPartitionOnImage, public ::testing::WithParamInterface<bool> {};

TEST_P(OnePartition, OneActiveFat32PartitionFilledAndMadeBootable) {
    const bool cleanDisk = GetParam();
    autoPartition(cleanDisk ? "--clean-disk" : "");

    const std::string table = ok("sfdisk -d " + image);
    EXPECT_NE(
        table.find(sfdiskEntry(1, kFirstSector, kDiskSectors - kFirstSector, "c") + ", bootable\n"),
        std::string::npos)
        << table;
    EXPECT_EQ(table.find("disk.img2"), std::string::npos) << table;

    const auto fsck = fsckFat(kFirstSector, kDiskSectors - kFirstSector);
    EXPECT_EQ(fsck.exitCode, 0) << fsck.output;
    expectSevenZipLists(kFirstSector, kDiskSectors - kFirstSector);
    EXPECT_EQ(fatFile(kFirstSector, "autorun.inf"), kAutorun);
    EXPECT_EQ(fatFile(kFirstSector, "QEL/Menu/Others.cfg"), kSyslinuxBlock + kCloverBlock);
    EXPECT_EQ(fatFile(kFirstSector, "QEL/Tools/syslinux/syslinux/syslinux.bin").size(), 512u);
    expectCloverBootSector(kFirstSector, "QEL_UEFI");
    expectGrub2AndGap(cleanDisk);
}

INSTANTIATE_TEST_SUITE_P(CleanDisk, OnePartition, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Cleaned" : "NotCleaned"; });

struct TwoPartitionCase {
    const char* name;
    const char* options;
    bool cleanDisk;
};

class TwoPartitions : public AutoPartitionOnImage,
                      public ::testing::WithParamInterface<TwoPartitionCase> {};

// From build 15063 diskpart formats both partitions; before it format.com does, while the table
// lists one partition at a time.
TEST_P(TwoPartitions, NtfsThenActiveFat32AtTheDisksEndBothFilled) {
    autoPartition(std::string("--layout 2 --fat32-size 160 --fat32-unit MB ") + GetParam().options);

    const std::string table = ok("sfdisk -d " + image);
    EXPECT_NE(table.find(sfdiskEntry(1, kFirstSector, kFat32Start - kFirstSector, "7") + "\n"),
              std::string::npos)
        << table;
    EXPECT_NE(table.find(sfdiskEntry(2, kFat32Start, kFat32Sectors, "c") + ", bootable\n"),
              std::string::npos)
        << table;

    // The FAT32 partition: the payload, the marker file, Clover and its menu entry.
    const auto fsck = fsckFat(kFat32Start, kFat32Sectors);
    EXPECT_EQ(fsck.exitCode, 0) << fsck.output;
    expectSevenZipLists(kFat32Start, kFat32Sectors);
    EXPECT_EQ(fatFile(kFat32Start, "EFI/BOOT/EFIPART"), "\r\n");
    EXPECT_EQ(fatFile(kFat32Start, "QEL/Menu/Others.cfg"), kCloverBlock);
    expectCloverBootSector(kFat32Start, "QEL_UEFI");

    // The NTFS partition: the payload, the same Clover entry, autorun.inf; Syslinux does not
    // install on NTFS here, so its entry is missing.
    const std::int64_t ntfsSectors = kFat32Start - kFirstSector;
    EXPECT_EQ(ntfs(kFirstSector, ntfsSectors, "ntfslabel --force $dev"), "RAZEVOR\n");
    EXPECT_EQ(ntfs(kFirstSector, ntfsSectors, "ntfscat $dev QEL/Menu/Others.cfg"), kCloverBlock);
    EXPECT_EQ(ntfs(kFirstSector, ntfsSectors, "ntfscat $dev autorun.inf"), kAutorun);
    EXPECT_EQ(ntfs(kFirstSector, ntfsSectors, "ntfscat $dev QELCreator.exe"), "companion\n");
    expectGrub2AndGap(GetParam().cleanDisk);
}

INSTANTIATE_TEST_SUITE_P(
    WindowsBuilds, TwoPartitions,
    ::testing::Values(TwoPartitionCase{"Diskpart", "--windows-build 19045", false},
                      TwoPartitionCase{"FormatComCleaned", "--windows-build 14393 --clean-disk",
                                       true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qel::image::test

#endif
