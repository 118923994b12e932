// Power cuts in headless runs: the writes are numbered as listed, a cut write leaves only the
// sectors asked for, nothing after it reaches the image, and the run never ends as a success.
#include <sstream>

#include "HeadlessTestSupport.h"

#ifdef QEL_HEADLESS_PROGRAM

namespace qel::image::test {
namespace {

class PowerCutRun : public HeadlessTest {
protected:
    struct Write {
        long number = 0;
        std::string kind, target;
    };

    void SetUp() override {
        HeadlessTest::SetUp();
        makeImage(100, "start=2048, type=c, bootable\\n");
        makeFat32(2048, 98 * 2048, "STICK");
        ok("cp --sparse=always " + image + " " + image + ".blank");
    }

    std::vector<Write> listWrites() {
        const auto run = headless("--format --list-writes " + folder.path() + "/writes");
        EXPECT_EQ(run.exitCode, 0) << run.output;
        std::vector<Write> writes;
        std::istringstream lines(ok("cat " + folder.path() + "/writes"));
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line);
            Write w;
            std::getline(fields >> w.number >> std::ws, w.kind, '\t');
            std::getline(fields, w.target, '\t');
            writes.push_back(w);
        }
        ok("cp --sparse=always " + image + ".blank " + image);
        return writes;
    }

    static const Write& find(const std::vector<Write>& writes, const std::string& kind,
                             const std::string& target) {
        for (const auto& w : writes)
            if (w.kind == kind && w.target.find(target) != std::string::npos) return w;
        ADD_FAILURE() << "no write " << kind << " " << target;
        return writes.front();
    }

    HostResult cutAt(long number, int keep) {
        const auto run = headless("--format --cut-at-write " + std::to_string(number) +
                                  " --cut-keep-sectors " + std::to_string(keep));
        EXPECT_EQ(run.exitCode, 3) << run.output;
        EXPECT_EQ(run.output.find("companion application started"), std::string::npos);
        return run;
    }

    bool onVolume(const std::string& path) {
        return sh(mtools("mdir", 2048) + "::/" + path).exitCode == 0;
    }
};

TEST_F(PowerCutRun, ACutDiskWriteKeepsItsFirstSectorsAndNothingAfterItReachesTheImage) {
    const auto writes = listWrites();
    ASSERT_GT(writes.size(), 10u);
    for (std::size_t i = 0; i < writes.size(); ++i) EXPECT_EQ(writes[i].number, long(i + 1));
    EXPECT_EQ(writes.front().kind, "format");
    const Write& disk = find(writes, "disk", "disk:");
    const long first = std::stol(disk.target.substr(5));
    const long count = std::stol(disk.target.substr(disk.target.find('+') + 1));
    const Bytes before = fileBytes(image, first * 512, static_cast<std::size_t>(count) * 512);

    const auto run = cutAt(disk.number, 1);
    EXPECT_NE(run.output.find("[power] the power went during write " + std::to_string(disk.number) +
                              " (disk " + disk.target + "): 1 of"),
              std::string::npos)
        << run.output;
    const Bytes after = fileBytes(image, first * 512, static_cast<std::size_t>(count) * 512);
    int changed = 0;
    for (long s = 0; s < count; ++s)
        changed += !std::equal(before.begin() + s * 512, before.begin() + (s + 1) * 512,
                               after.begin() + s * 512);
    EXPECT_EQ(changed, 1);
    EXPECT_FALSE(onVolume("autorun.inf"));
    EXPECT_EQ(fsckFat(2048).exitCode, 0);
}

TEST_F(PowerCutRun, ACutInsideTheExtractionLeavesTheFilesBeforeItWholeAndARerunRecovers) {
    const auto writes = listWrites();
    const Write& core = find(writes, "extract-file", "QEL/grub/i386-pc/uncore.img");
    EXPECT_LT(find(writes, "extract-dir", "vol@2048:QEL").number, core.number);
    cutAt(core.number, 0);
    EXPECT_EQ(ok(mtools("mtype", 2048) + "::/QEL/grub/i386-pc/boot.img"),
              ok("cat " + tree + "/QEL/grub/i386-pc/boot.img"));
    EXPECT_FALSE(onVolume("QEL/grub/i386-pc/uncore.img"));
    EXPECT_FALSE(onVolume("QELCreator.exe"));

    const auto rerun = headless("--format");
    EXPECT_EQ(rerun.exitCode, 0) << rerun.output;
    EXPECT_TRUE(onVolume("QELCreator.exe"));
    EXPECT_EQ(fsckFat(2048).exitCode, 0);
}

// The power goes as AutoPartition writes the new table: sector 0 is zeroed, no table follows.
// The disk, now without any, is repartitioned by the next run, boot code included.
TEST_F(PowerCutRun, AStickLeftWithoutATableIsRepartitionedWithItsBootCode) {
    const auto cut = headless("--run autopartition --cut-at-write 1 --cut-keep-sectors 1");
    ASSERT_EQ(cut.exitCode, 3) << cut.output;
    EXPECT_NE(cut.output.find("during write 1 (disk disk:0+1)"), std::string::npos) << cut.output;
    EXPECT_EQ(fileBytes(image, 0, 512), Bytes(512, 0));

    const auto rerun = headless("--run autopartition");
    EXPECT_EQ(rerun.exitCode, 0) << rerun.output;
    EXPECT_NE(
        ok("sfdisk -d " + image).find("start=        2048, size=      190732, type=c, bootable"),
        std::string::npos);
    const Bytes code = payloadFile("QEL/grub/i386-pc/boot.img");
    const Bytes mbr = fileBytes(image, 0, 0x66);
    EXPECT_TRUE(std::equal(mbr.begin(), mbr.end(), code.begin()));
    EXPECT_EQ(fsckFat(2048).exitCode, 0);
}

}  // namespace
}  // namespace qel::image::test

#endif
