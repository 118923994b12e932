// Formatting and filling: the two routes, the tools by Windows build and volume size, the states
// sector 0 passes through, the command lines, and every failure with what it leaves on the disk.
#include <algorithm>

#include "ReprunBench.h"
#include "texts/Dialogs.h"

namespace qel::reprun_test {
namespace {

constexpr std::uint32_t kFat32Start160MB = (8 * kGiB - 160 * kMiB) / 512;

// What a command line runs, in short.
std::string kind(const Text& line) {
    const std::string text = toUtf8(line);
    const auto has = [&](const char* part) { return text.find(part) != std::string::npos; };
    if (has("diskpart"))
        return std::string("diskpart part ") + (has("select part 2") ? "2" : "1") +
               (has("FS=NTFS") ? " NTFS" : " FAT32");
    if (has("7zG.exe")) return "7-Zip";
    if (has("fat32format.exe")) return "fat32format";
    if (has("/FS:NTFS")) return "format.com NTFS";
    if (has("/FS:FAT32")) return "format.com FAT32";
    return "other";
}

std::vector<std::string> kinds(const Bench& b, std::size_t count) {
    std::vector<std::string> out;
    for (const auto& run : b.runs)
        if (out.size() < count) out.push_back(kind(run.line));
    return out;
}

TEST(RepartitionRunRoutes, TwoPartitionsAreFormattedAndFilledOneAtATime) {
    Bench b;
    b.choose(false);
    std::vector<bool> diskLogLeft;
    b.onChild = [&](FakeMachine& m, const Text&) {
        diskLogLeft.push_back(m.hasFile(b.workFolder() + u"\\disk.log"));
    };
    b.pressOk();
    const std::vector<std::uint32_t> fat32Only{kFat32Start160MB}, ntfsOnly{2048};
    ASSERT_EQ(b.runs.size(), 6u);
    EXPECT_EQ(b.lines()[0],
              u"\"C:\\Windows\\system32\\cmd.exe\" /S /C \"echo select disk 1^&echo list part^&"
              u"echo select part 2^&echo FORMAT FS=FAT32 LABEL=\"QEL_UEFI\" QUICK^&echo exit | "
              u"C:\\Windows\\Sysnative\\diskpart && echo %errorlevel% > "
              u"\"C:\\Users\\user\\AppData\\Local\\Temp\\qelextract\\disk.log\"\"");
    EXPECT_EQ(kinds(b, 6),
              (std::vector<std::string>{"diskpart part 2 FAT32", "7-Zip", "diskpart part 1 NTFS",
                                        "7-Zip", "other", "other"}));
    EXPECT_EQ(b.runs[1].listed, fat32Only);
    EXPECT_EQ(b.runs[2].listed, ntfsOnly);
    EXPECT_EQ(b.runs[3].listed, ntfsOnly);
    EXPECT_EQ(diskLogLeft, std::vector<bool>(6, false));  // each diskpart run judged by its own
    EXPECT_EQ(b.listed(), (std::vector<std::uint32_t>{2048, kFat32Start160MB}));
    const Bytes& disk = b.machine.disk(kDisk).bytes;
    EXPECT_EQ(disk[446 + 4], 0x07);
    EXPECT_EQ(disk[462], 0x80);  // the FAT32 partition is the active one
    EXPECT_EQ(b.machine.fileBytes(kRootA + u"\\EFI\\BOOT\\EFIPART"), (Bytes{'\r', '\n'}));
    EXPECT_TRUE(b.machine.hasFile(kRootA + u"\\EFI\\CLOVER\\CloverLegacy"));
    EXPECT_EQ(
        b.progress(),
        (std::vector<Text>{u"Being clean disk (1/9)", u"Creating the first partition (FAT32) (2/9)",
                           u"Copying files (3/9)", u"Installing Clover... (4/9)",
                           u"Creating second partition (NTFS) (5/9)", u"Copying files (6/9)",
                           u"Installing Grub2... (7/9)", u"Installing Syslinux... (8/9)",
                           u"Launching QELCreator.exe..."}));
    b.expectRunEnded();
}

struct ToolChoice {
    std::uint32_t build;
    const char16_t* gigabytes;
    std::vector<std::string> tools;  // up to the NTFS partition's formatter
};

class ToolChoices : public ::testing::TestWithParam<ToolChoice> {};
void PrintTo(const ToolChoice& c, std::ostream* os) {
    *os << c.build << " " << toUtf8(c.gigabytes) << " GB";
}

// A FAT32 partition above 32 GiB needs the carried formatter; diskpart from build 15063 on.
TEST_P(ToolChoices, FollowTheBuildAndTheFat32Size) {
    Bench b(64 * kGiB);
    b.machine.setVersion({10, 0, GetParam().build});
    b.choose(false, GetParam().gigabytes, u"GB");
    b.pressOk();
    EXPECT_EQ(kinds(b, GetParam().tools.size()), GetParam().tools);
    b.expectRunEnded();
}

INSTANTIATE_TEST_SUITE_P(
    RepartitionRun, ToolChoices,
    ::testing::Values(
        ToolChoice{15063, u"32", {"diskpart part 2 FAT32", "7-Zip", "diskpart part 1 NTFS"}},
        ToolChoice{
            15063, u"40", {"diskpart part 2 NTFS", "fat32format", "7-Zip", "diskpart part 1 NTFS"}},
        ToolChoice{15062, u"32", {"format.com FAT32", "7-Zip", "format.com NTFS"}},
        ToolChoice{15062, u"40", {"fat32format", "7-Zip", "format.com NTFS"}}));

TEST(RepartitionRunRoutes, OnePartitionAbove32GiBGoesToTheCarriedFormatter) {
    for (const auto& [length, tool] :
         {std::pair{32 * kGiB, "format.com FAT32"}, std::pair{32 * kGiB + 1, "fat32format"}}) {
        Bench b(32 * kGiB + kMiB);
        if (length != 32 * kGiB) b.volumeLength = length;
        b.choose(true);
        b.pressOk();
        EXPECT_EQ(kinds(b, 1), std::vector<std::string>{tool});
        b.expectRunEnded();
    }
}

// With TEMP holding blanks every path in a line is quoted and the logs are found; the shell is
// the one in the system directory on 32-bit and on 64-bit Windows alike.
TEST(RepartitionRunRoutes, CommandLinesQuoteTheirPathsOnBothKindsOfWindows) {
    const Text temp = u"C:\\Documents and Settings\\me\\Local Settings\\Temp";
    const Text work = temp + u"\\qelextract\\";
    for (const bool wow64 : {true, false}) {
        Bench b(64 * kGiB, wow64);
        b.machine.setEnv(u"TEMP", temp);
        b.machine.setSystemDirectory(wow64 ? u"C:\\Windows\\system32" : u"C:\\WINDOWS\\system32");
        b.machine.setVersion({10, 0, wow64 ? 15063u : 15062u});
        b.choose(false, u"40", u"GB");
        b.pressOk();
        const auto lines = b.lines();
        ASSERT_GE(lines.size(), 4u);
        const Text fat32format = u"\"" + work + u"fat32format.exe\" \\\\.\\" + kVolumeA;
        if (wow64) {
            EXPECT_EQ(lines[1], fat32format);
            EXPECT_EQ(lines[3],
                      u"\"C:\\Windows\\system32\\cmd.exe\" /S /C \"echo select disk 1^&echo list "
                      u"part^&echo select part 1^&echo FORMAT FS=NTFS LABEL=\"RAZEVOR\" QUICK^&"
                      u"echo exit | C:\\Windows\\Sysnative\\diskpart && echo %errorlevel% > \"" +
                          work + u"disk.log\"\"");
        } else {
            EXPECT_EQ(lines[0], fat32format);
            EXPECT_EQ(lines[2],
                      u"\"C:\\WINDOWS\\system32\\cmd.exe\" /S /C "
                      u"\"\"C:\\Windows\\System32\\format.com\" " +
                          kRootA + u" /FS:NTFS /A:4096 /V:RAZEVOR /Q /Y && echo %errorlevel% > \"" +
                          work + u"log1.log\"\"");
        }
        EXPECT_EQ(b.lines().back(), u"D:\\QELCreator.exe");
        b.expectRunEnded();
    }
}

TEST(RepartitionRunRoutes, Log1IsRemovedAfterTheNtfsStepOnEitherBranch) {
    for (const std::uint32_t build : {15062u, 15063u}) {
        Bench b;
        b.machine.setVersion({10, 0, build});
        b.choose(false);
        b.machine.putFile(b.workFolder() + u"\\log1.log", std::string("0"));
        std::vector<bool> logAtExtraction;
        b.onChild = [&](FakeMachine& m, const Text& line) {
            if (kind(line) == "7-Zip")
                logAtExtraction.push_back(m.hasFile(b.workFolder() + u"\\log1.log"));
        };
        b.pressOk();
        EXPECT_EQ(logAtExtraction, (std::vector<bool>{true, false})) << build;
    }
}

TEST(RepartitionRunRoutes, ExtractionStoppedByTheUserIsReportedAsCancelled) {
    Bench b;
    b.choose(true);
    b.sevenZip.exitCode = 255;
    b.pressOk();
    ASSERT_EQ(b.machine.messageBoxes().size(), 1u);
    const auto& box = b.machine.messageBoxes()[0];
    EXPECT_EQ(box.text, u"Canceled.");
    EXPECT_EQ(box.caption, u"Canceled");
    EXPECT_EQ(box.flags, win::MB_ICONERROR | win::MB_OK);
    EXPECT_EQ(b.machine.caption(b.form.Label2), u"Canceled");
    EXPECT_EQ(b.messages(), std::vector<Text>{b.form.texts.ldautopart});
    b.expectRunEnded();
}

struct Failure {
    const char* name;
    bool fat32Only;
    std::function<void(Bench&)> arrange;
    Text TextTable::*message;  // nullptr: the error's own message box
    std::vector<std::uint32_t> listed;
    int extractions;
    std::int64_t fat32Bytes = 160 * kMiB;
};

class Failures : public ::testing::TestWithParam<Failure> {};
void PrintTo(const Failure& c, std::ostream* os) {
    *os << c.name;
}

TEST_P(Failures, ShowTheirMessageLeaveTheDiskAsItGotAndEndTheRun) {
    const Failure& failure = GetParam();
    Bench b(64 * kGiB);
    b.choose(failure.fat32Only, decimal(failure.fat32Bytes / kMiB));
    b.machine.userClick(b.w.CheckBox3F2);  // no Clean Disk: the first read is the route's own
    failure.arrange(b);
    b.pressOk();
    if (failure.message)
        EXPECT_EQ(b.messages().back(), b.form.texts.*failure.message);
    else
        EXPECT_EQ(b.machine.messageBoxes().size(), 1u);
    std::vector<std::uint32_t> expected = failure.listed;
    for (auto& start : expected)
        if (start == 1) start = static_cast<std::uint32_t>((64 * kGiB - failure.fat32Bytes) / 512);
    EXPECT_EQ(b.listed(), expected);
    EXPECT_EQ(static_cast<int>(std::ranges::count_if(
                  b.runs, [](const ChildRun& run) { return kind(run.line) == "7-Zip"; })),
              failure.extractions);
    EXPECT_TRUE(std::ranges::none_of(
        b.lines(), [](const Text& line) { return line.ends_with(u"QELCreator.exe"); }));
    b.expectRunEnded();
}

void failWritesAtChange(Bench& b, int change) {
    b.afterLayoutChange = [change](FakeMachine& m, int count) {
        if (count == change) m.disk(kDisk).failWrites = true;
    };
}
void onBuild15062(Bench& b) {
    b.machine.setVersion({10, 0, 15062});
}

// Partitions listed afterwards: 2048 is the NTFS partition's start, 1 stands for the FAT32's.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    RepartitionRun, Failures,
    ::testing::Values(
        Failure{"VolumeLengthZero", true, [](Bench& b) { b.volumeLength = 0; },
                &TextTable::llerror, {2048}, 0},
        Failure{"Fat32formatFails", true, [](Bench& b) { b.fat32format.exitCode = 1; },
                &TextTable::lformaterror, {2048}, 0},
        Failure{"FormatComDoesNotStart", true,
                [](Bench& b) { b.volumeLength = 8 * kGiB; b.formatCom.starts = false; },
                &TextTable::lformaterror, {2048}, 0},
        Failure{"ExtractionDoesNotStart", true, [](Bench& b) { b.sevenZip.starts = false; },
                &TextTable::llerror, {2048}, 0},
        Failure{"ExtractionFails", true, [](Bench& b) { b.sevenZip.exitCode = 2; },
                &TextTable::llerror, {2048}, 1},
        Failure{"MenuFolderCannotBeMade", true,
                [](Bench& b) { b.machine.failWritesUnder(kRootA + u"\\QEL\\Menu"); },
                &TextTable::llerror, {2048}, 1},
        Failure{"SectorZeroUnreadable", false,
                [](Bench& b) { b.machine.disk(kDisk).failReads = true; },
                &TextTable::llerror, {2048, 1}, 0},
        Failure{"FirstRewriteFails", false, [](Bench& b) { failWritesAtChange(b, 2); },
                &TextTable::llerror, {2048, 1}, 0},
        Failure{"Fat32DiskpartFails", false, [](Bench& b) { b.diskpart.exitCode = 1; },
                &TextTable::llerror, {1}, 0},
        Failure{"Fat32FormatComFails", false,
                [](Bench& b) { onBuild15062(b); b.formatCom.exitCode = 1; },
                &TextTable::lformaterror, {1}, 0},
        Failure{"TwoPartitionsFat32formatFails", false,
                [](Bench& b) { b.fat32format.exitCode = 1; },
                &TextTable::lformaterror, {1}, 0, 40 * kGiB},
        Failure{"EfipartCannotBeWritten", false,
                [](Bench& b) { b.machine.failWritesUnder(kRootA + u"\\EFI\\BOOT"); },
                nullptr, {1}, 1},
        Failure{"SecondRewriteFails", false, [](Bench& b) { failWritesAtChange(b, 3); },
                &TextTable::llerror, {1}, 1},
        Failure{"NtfsDiskpartFails", false,
                [](Bench& b) {
                    b.afterLayoutChange = [&b](FakeMachine&, int change) {
                        if (change == 4) b.diskpart.exitCode = 1;
                    };
                },
                &TextTable::llerror, {2048}, 1},
        Failure{"NtfsFormatFails", false,
                [](Bench& b) { onBuild15062(b); b.formatNtfs.exitCode = 1; },
                &TextTable::lformaterror, {2048}, 1},
        Failure{"FullTableNotRestored", false, [](Bench& b) { failWritesAtChange(b, 4); },
                &TextTable::llerror, {2048}, 2}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace qel::reprun_test
