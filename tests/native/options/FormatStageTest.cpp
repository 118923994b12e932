#include "app/FormatStage.h"

#include "native/options/OptionsBench.h"

namespace qel {
namespace {

using options_test::Bench;
using options_test::kWorkFolder;
using options_test::Stick;

constexpr std::int64_t k32GiB = 34359738368;

TEST(FormatStage, CancelledConfirmationClearsTheOptionBeforeAnythingIsCreated) {
    Bench bench;
    bench.openWindow(true, false);
    bench.machine.answerDialogs({kResultCancel});
    bench.clickOk();

    ASSERT_EQ(bench.machine.dialogs().size(), 1u);
    const DialogSpec& prompt = bench.machine.dialogs()[0].spec;
    EXPECT_EQ(prompt.message,
              u"Warning:\r\nALL data on drive 'E:' will be lost.\r\n"
              u"This partition will be formatted to FAT32.");
    EXPECT_EQ(prompt.kind, DialogKind::Warning);
    ASSERT_EQ(prompt.buttons.size(), 2u);
    EXPECT_EQ(prompt.buttons[0].caption, u"OK");
    EXPECT_EQ(prompt.buttons[1].caption, u"Cancel");
    EXPECT_FALSE(bench.window.ticked(bench.window.CheckBox1));
    bench.expectStayed();
}

TEST(FormatStage, VolumesUpTo32GiBTakeFormatComAndLargerOnesTheCarriedFormatter) {
    struct Case {
        std::int64_t length;
        bool carried;
    };
    for (const Case c : {Case{16LL << 30, false}, Case{k32GiB, false}, Case{k32GiB + 1, true},
                         Case{64LL << 30, true}}) {
        SCOPED_TRACE(testing::Message() << c.length << " bytes");
        Bench bench(Stick{.fileSystem = u"NTFS", .volumeLength = c.length});
        bench.openWindow(true, false);
        bench.clickOk();

        const Text expected =
            c.carried ? u"\"" + kWorkFolder + u"\\fat32format.exe\" \\\\.\\E:"
                      : u"\"" + bench.window.formatpath + u"\" E: /FS:FAT32 /V:RAZEVOR /Q /Y";
        ASSERT_EQ(bench.machine.processes().size(), 2u);  // the formatter, then 7-Zip
        EXPECT_EQ(bench.machine.processes()[0].commandLine, expected);
        EXPECT_EQ(bench.machine.processes()[0].showWindow, win::SW_HIDE);
        EXPECT_EQ(bench.formatCaption, u"Formatting...");
        EXPECT_EQ(bench.machine.caption(bench.window.CheckBox1), u"Formatted...");
        ASSERT_EQ(bench.machine.dialogs().size(), 1u);  // the confirmation alone
        bench.expectCompleted();
    }
}

TEST(FormatStage, ProgramPathsWithBlanksAreQuoted) {
    const Text temp = u"C:\\Documents and Settings\\user\\Local Settings\\Temp";
    Bench bench(Stick{.volumeLength = 64LL << 30});
    bench.machine.putDirectory(temp);
    bench.machine.setEnv(u"TEMP", temp);
    bench.machine.onProcess(u"\"" + temp + u"\\qelextract\\", [](fake::FakeMachine&, const Text&) {
        return fake::ChildOutcome{};  // the formatter and 7-Zip, by their quoted paths
    });
    bench.openWindow(true, false);
    bench.clickOk();
    ASSERT_FALSE(bench.machine.processes().empty());
    EXPECT_EQ(bench.machine.processes()[0].commandLine,
              u"\"" + temp + u"\\qelextract\\fat32format.exe\" \\\\.\\E:");

    EXPECT_EQ(FormatComCommandLine(u"D:\\My Windows\\Sysnative\\format.com", u"F:"),
              u"\"D:\\My Windows\\Sysnative\\format.com\" F: /FS:FAT32 /V:RAZEVOR /Q /Y");
}

TEST(FormatStage, FailuresAreShownWhileTheWorkFolderExistsAndEndTheProgram) {
    struct Case {
        const char* name;
        std::int64_t volumeLength;
        options_test::Outcome formatter;
        bool supportError;
    };
    const Case cases[] = {
        {"volume length 0", 0, {}, true},
        {"formatter does not start", -1, {.starts = false}, false},
        {"formatter exits with 1", -1, {.exitCode = 1}, false},
        {"exit code unreadable", -1, {.exitCodeReadable = false}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(Stick{.volumeLength = c.volumeLength});
        bench.formatter = c.formatter;
        bench.openWindow(true, false);
        bool folderThereDuringMessage = false;
        bench.machine.dialogAnswerer = [&](const DialogSpec& spec) {
            folderThereDuringMessage = bench.machine.hasDirectory(kWorkFolder) &&
                                       !bench.machine.windowEnabled(bench.window.Form1);
            return spec.defaultResult;
        };
        bench.clickOk();

        ASSERT_EQ(bench.machine.dialogs().size(), 2u);
        const DialogSpec& failure = bench.machine.dialogs()[1].spec;
        EXPECT_EQ(failure.message, c.supportError ? bench.window.texts.llerror
                                                  : u"Error, can not format this drive!");
        EXPECT_EQ(failure.kind, DialogKind::Error);
        ASSERT_EQ(failure.buttons.size(), 1u);
        EXPECT_EQ(failure.buttons[0].caption, u"OK");
        EXPECT_TRUE(folderThereDuringMessage);
        EXPECT_EQ(bench.machine.caption(bench.window.CheckBox1), u"Formatting...");
        EXPECT_FALSE(bench.ran(u"7zG.exe"));
        bench.expectEndedEarly();
    }
}

TEST(FormatStage, WithTheOptionClearedNothingIsAskedOrFormatted) {
    Bench bench(Stick{.fileSystem = u"NTFS"});
    bench.openWindow(false, false);
    bench.clickOk();
    EXPECT_TRUE(bench.machine.dialogs().empty());
    ASSERT_EQ(bench.machine.processes().size(), 1u);  // 7-Zip alone
    EXPECT_EQ(bench.machine.caption(bench.window.CheckBox1), u"Format to FAT32");
    EXPECT_EQ(bench.machine.volumeByLetter('E')->fileSystem, u"NTFS");
    bench.expectCompleted();
}

}  // namespace
}  // namespace qel
