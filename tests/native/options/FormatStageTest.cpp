#include "native/options/OptionsBench.h"

namespace qel {
namespace {

using options_test::Bench;
using options_test::kWorkFolder;
using options_test::Outcome;
using options_test::Stick;

constexpr std::int64_t k32GiB = 34359738368;

TEST(FormatStage, CancelledConfirmationClearsTheOptionBeforeAnythingIsCreated) {
    Bench bench;
    bench.openWindow(true, false);
    bench.machine.answerDialogs({kResultCancel});
    bench.clickOk();
    ASSERT_EQ(bench.machine.dialogs().size(), 1u);
    const DialogSpec& prompt = bench.machine.dialogs()[0].params;
    EXPECT_EQ(prompt.message,
              u"Warning:\r\nALL data on drive 'E:' will be lost.\r\n"
              u"This partition will be formatted to FAT32.");
    EXPECT_EQ(prompt.kind, DialogKind::Warning);
    EXPECT_FALSE(bench.window.ticked(bench.window.CheckBox1));
    bench.expectStayed();
}

TEST(FormatStage, UpTo32GiBFormatComFormatsLargerVolumesTheCarriedFormatter) {
    const Text spacedTemp = u"C:\\Documents and Settings\\user\\Temp";
    for (const std::int64_t length : {k32GiB, k32GiB + 1}) {
        SCOPED_TRACE(length);
        Bench bench(Stick{.volumeLength = length});
        bench.openWindow(true, false);
        bench.clickOk();
        const Text expected =
            length == k32GiB
                ? u"\"" + bench.window.context.formatPath + u"\" E: /FS:FAT32 /V:RAZEVOR /Q /Y"
                : u"\"" + kWorkFolder + u"\\fat32format.exe\" \\\\.\\E:";
        ASSERT_EQ(bench.machine.processes().size(), 2u);  // the formatter, then 7-Zip
        EXPECT_EQ(bench.machine.processes()[0].commandLine, expected);
        EXPECT_EQ(bench.machine.processes()[0].showWindow, win::SW_HIDE);
        EXPECT_EQ(bench.formatCaption, u"Formatting...");
        EXPECT_EQ(bench.machine.caption(bench.window.CheckBox1), u"Formatted...");
        bench.expectEnded(true);
    }
    // A work base with blanks stays one quoted program path.
    Bench bench(Stick{.volumeLength = k32GiB + 1});
    bench.machine.setEnv(u"TEMP", spacedTemp);
    bench.openWindow(true, false);
    bench.clickOk();
    ASSERT_FALSE(bench.machine.processes().empty());
    EXPECT_EQ(bench.machine.processes()[0].commandLine,
              u"\"" + spacedTemp + u"\\qelextract\\fat32format.exe\" \\\\.\\E:");
}

TEST(FormatStage, FailuresAreShownWhileTheWorkFolderExistsAndEndTheProgram) {
    struct Case {
        const char* name;
        std::int64_t volumeLength;
        Outcome formatter;
        const char16_t* message;
    };
    const Case cases[] = {
        {"volume length 0", 0, {}, u"Error, please contact to author for support!"},
        {"not started", -1, {.starts = false}, u"Error, can not format this drive!"},
        {"exit code 1", -1, {.exitCode = 1}, u"Error, can not format this drive!"},
        {"exit code unreadable",
         -1,
         {.exitCodeReadable = false},
         u"Error, can not format this drive!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(Stick{.volumeLength = c.volumeLength});
        bench.formatter = c.formatter;
        bench.openWindow(true, false);
        bool folderThereDuringMessage = false;
        bench.machine.dialogAnswerer = [&](const DialogSpec& params) {
            folderThereDuringMessage = bench.machine.hasDirectory(kWorkFolder);
            return params.defaultResult;
        };
        bench.clickOk();
        ASSERT_EQ(bench.machine.dialogs().size(), 2u);  // the confirmation, the failure
        EXPECT_EQ(bench.machine.dialogs()[1].params.message, c.message);
        EXPECT_EQ(bench.machine.dialogs()[1].params.kind, DialogKind::Error);
        EXPECT_TRUE(folderThereDuringMessage);
        EXPECT_FALSE(bench.ran(u"7zG.exe"));
        bench.expectEnded(false);
    }
}

}  // namespace
}  // namespace qel
