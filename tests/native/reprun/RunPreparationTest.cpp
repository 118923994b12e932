// The work folder, the disk's volume and letters, the new table and "Clean Disk", and a whole
// one-partition run; every failure from the work folder on ends the program.
#include <algorithm>

#include "ReprunBench.h"
#include "texts/Dialogs.h"

namespace qel::reprun_test {
namespace {

bool allZero(const Bytes& bytes, std::int64_t from, std::int64_t to) {
    return std::all_of(bytes.begin() + from, bytes.begin() + to, [](auto b) { return b == 0; });
}

TEST(RepartitionRunPreparation, OneFat32PartitionWithCleanDiskAndBootloaderRunsThrough) {
    Bench b;
    b.choose(true);
    b.pressOk();
    EXPECT_EQ(b.progress(),
              (std::vector<Text>{u"Being clean disk (1/6)", u"Creating new partition (2/6)",
                                 u"Copying files (3/6)", u"Installing Grub2... (4/6)",
                                 u"Installing Syslinux... (5/6)", u"Installing Clover... (6/6)",
                                 u"Launching QELCreator.exe..."}));
    const Text work = u"C:\\Users\\user\\AppData\\Local\\Temp\\qelextract\\";
    EXPECT_EQ(
        b.lines(),
        (std::vector<Text>{
            u"\"C:\\Windows\\Sysnative\\format.com\" " + kRootA + u" /FS:FAT32 /V:QEL_UEFI /Q /Y",
            u"\"" + work + u"7zG.exe\" x -y -o\"" + kRootA + u"\\\" -ptubrisk \"" + work +
                u"RAZEvor.7z\"",
            u"\"D:\\QEL\\Tools\\syslinux\\syslinux\\syslinux64.exe\" -f -d "
            u"/QEL/Tools/syslinux/syslinux D: D:\\QEL\\Tools\\syslinux\\syslinux\\syslinux.bin",
            u"D:\\QELCreator.exe"}));
    const Rect line =
        b.machine.bounds(b.form.repartition.controls().Label2F2);  // below "OK", across the window
    EXPECT_EQ(line, (Rect{0, b.machine.bounds(b.w.Button1F2).bottom() + 8, 320, 16}));
    EXPECT_EQ(b.machine.clientSize(b.w.window).second, line.bottom() + 8);
    const auto& companion = b.machine.processes().back();
    EXPECT_EQ(companion.showWindow, win::SW_SHOWNORMAL);
    EXPECT_EQ(companion.currentDirectory, u"D:\\");

    // One active FAT32 partition; the first mebibyte holds only the table and Grub2's boot area.
    const Bytes& disk = b.machine.disk(kDisk).bytes;
    EXPECT_EQ(b.listed(), std::vector<std::uint32_t>{2048});
    EXPECT_EQ(disk[446], 0x80);
    EXPECT_EQ(disk[450], 0x0C);
    EXPECT_TRUE(allZero(disk, 64 * 1024, kMiB));
    EXPECT_EQ(b.machine.volumeByLetter('D')->guid, kVolumeA);
    EXPECT_FALSE(b.machine.volumeByLetter('E'));

    const std::string menu = b.machine.fileText(kRootA + u"\\QEL\\Menu\\Others.cfg");
    EXPECT_NE(menu.find("### Start Syslinux Legacy"), std::string::npos);
    EXPECT_NE(menu.find("### Start Clover Legacy"), std::string::npos);
    EXPECT_TRUE(b.machine.hasFile(u"D:\\autorun.inf"));
    EXPECT_TRUE(b.machine.hasFile(kRootA + u"\\EFI\\CLOVER\\CloverLegacy"));
    EXPECT_EQ(b.messages(), std::vector<Text>{b.form.texts.ldautopart});
    b.expectRunEnded();
}

TEST(RepartitionRunPreparation, WorkFolderThatCannotBeMadeEndsTheProgramWithoutTheRunEnding) {
    Bench b;
    b.choose(true);
    b.machine.failWritesUnder(b.workFolder());
    b.pressOk();
    EXPECT_EQ(b.messages().back(), b.form.texts.llerror);
    EXPECT_EQ(b.machine.quitRequests(), 1);
    EXPECT_TRUE(b.machine.shellFileOps().empty());
    EXPECT_TRUE(b.machine.windowEnabled(b.w.window));
    EXPECT_EQ(b.machine.disk(kDisk).writeCount, 0u);
    EXPECT_TRUE(b.machine.volumeByLetter('E'));
}

struct Breakdown {
    const char* name;
    std::function<void(Bench&)> arrange;
    bool lettersRemoved;
    std::function<void(const Bytes& disk, const Bytes& before)> diskLeft;
};

class Breakdowns : public ::testing::TestWithParam<Breakdown> {};
void PrintTo(const Breakdown& c, std::ostream* os) {
    *os << c.name;
}

TEST_P(Breakdowns, ShowTheSupportErrorAndEndTheRun) {
    Bench b;
    b.choose(true);
    const Bytes before = b.machine.disk(kDisk).bytes;
    GetParam().arrange(b);
    b.pressOk();
    EXPECT_EQ(b.messages().back(), b.form.texts.llerror);
    EXPECT_EQ(b.machine.volumeByLetter('E') == nullptr, GetParam().lettersRemoved);
    GetParam().diskLeft(b.machine.disk(kDisk).bytes, before);
    EXPECT_TRUE(b.runs.empty());
    b.expectRunEnded();
}

void unchanged(const Bytes& disk, const Bytes& before) {
    EXPECT_EQ(disk, before);
}
// The new table is in place and the rest of the first mebibyte is as it was.
void newTableOnly(const Bytes& disk, const Bytes& before) {
    EXPECT_EQ(fake::le32(disk, 446 + 8), 2048u);
    EXPECT_TRUE(std::equal(disk.begin() + 512, disk.begin() + kMiB, before.begin() + 512));
}

INSTANTIATE_TEST_SUITE_P(
    RepartitionRun, Breakdowns,
    ::testing::Values(Breakdown{"NoVolumeOnTheDisk",
                                [](Bench& b) { b.machine.volumeByLetter('E')->disk = 2; }, false,
                                unchanged},
                      Breakdown{"DiskCannotBeOpened",
                                [](Bench& b) {
                                    b.machine.dialogAnswerer = [&b](const DialogSpec&) {
                                        b.machine.disk(kDisk).failOpen = true;  // after the queries
                                        return kResultOk;
                                    };
                                },
                                true, unchanged},
                      Breakdown{"TableNotWritten",
                                [](Bench& b) { b.machine.disk(kDisk).failSetLayout = true; }, true,
                                [](const Bytes& disk, const Bytes&) {
                                    EXPECT_TRUE(std::all_of(disk.begin(), disk.begin() + 512,
                                                            [](auto x) { return x == 0; }));
                                }},
                      Breakdown{"CleanDiskReadFails",
                                [](Bench& b) { b.machine.disk(kDisk).failReads = true; }, true,
                                newTableOnly},
                      Breakdown{"CleanDiskWriteFails",
                                [](Bench& b) {
                                    b.afterLayoutChange = [](FakeMachine& m, int) {
                                        m.disk(kDisk).failWrites = true;
                                    };
                                },
                                true, newTableOnly}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RepartitionRunPreparation, StagingFailureIsShownAsTheErrorAndEndsTheRun) {
    Bench b;
    b.choose(true);
    b.machine.failWritesUnder(b.workFolder() + u"\\RAZEvor.7z");
    b.pressOk();
    ASSERT_EQ(b.machine.messageBoxes().size(), 1u);
    EXPECT_EQ(b.machine.disk(kDisk).writeCount, 0u);
    EXPECT_TRUE(b.machine.volumeByLetter('E'));
    b.expectRunEnded();
}

}  // namespace
}  // namespace qel::reprun_test
