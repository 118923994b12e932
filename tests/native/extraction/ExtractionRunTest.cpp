#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "fake/FakeMachine.h"
#include "run/DriveFiles.h"
#include "texts/Dialogs.h"

namespace qel {
namespace {

using fake::ChildOutcome;
using fake::FakeDisk;
using fake::FakeMachine;
using fake::FakeVolume;

const Text kWorkFolder = u"C:\\Users\\user\\AppData\\Local\\Temp\\qelextract";
const Text kSevenZip = u"\"" + kWorkFolder + u"\\7zG.exe\"";
const std::string kAutorun =
    "[autorun]\r\nlabel=RAZEVOR\r\nicon=QEL\\razevor.ico\r\nshellexecute=QELCreator.exe\r\n";

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// What 7-Zip does: the payload tree it unpacks onto E: and how it ends.
struct Payload {
    bool qelFolder = true;
    bool icon = true;
    bool starts = true;
    std::uint32_t exitCode = 0;
    bool exitCodeReadable = true;
};

// An 8 MiB stick E: (FAT32 from sector 2048) and the main window over it, both options cleared.
struct Bench {
    explicit Bench(Payload payload = {}, int dpi = 96) {
        machine.dpi = dpi;
        for (const char16_t* name : {u"QEL7z", u"7zG", u"7zDLL", u"7zVI", u"f32"})
            machine.setResource(name, Bytes{'M', 'Z'});
        FakeDisk stick = FakeDisk::ofSize(8 << 20);
        fake::writeMbrEntry(stick.bytes, 0, 0x0C, 2048, 14336);
        FakeVolume volume;
        volume.letter = 'E';
        volume.disk = machine.addDisk(std::move(stick));
        volume.offset = 2048 * 512;
        volume.length = 14336LL * 512;
        machine.addVolume(volume);
        machine.onProcess(kSevenZip, [payload](FakeMachine& m, const Text&) {
            if (payload.qelFolder) m.putDirectory(u"E:\\QEL\\grub");
            if (payload.icon) m.putFile(u"E:\\QEL\\razevor.ico", std::string("icon"));
            m.putFile(u"E:\\QELCreator.exe", std::string("MZ"));
            return ChildOutcome{.starts = payload.starts,
                                .exitCode = payload.exitCode,
                                .exitCodeReadable = payload.exitCodeReadable,
                                .waitsBeforeEnd = 2};
        });
    }

    void openWindow() {
        window.create();
        window.setTickedSilently(window.CheckBox1, false);
        window.setTickedSilently(window.CheckBox2, false);
        machine.clearRecords();
    }

    std::vector<Text> dialogMessages() const {
        std::vector<Text> messages;
        for (const auto& shown : machine.dialogs()) messages.push_back(shown.params.message);
        return messages;
    }

    // Every road gives the window back and leaves nothing open.
    void expectWindowUsableAgain() {
        EXPECT_TRUE(machine.enabled(window.Button1));
        EXPECT_TRUE(machine.windowEnabled(window.Form1));
        EXPECT_EQ(machine.openHandles(), 0);
        EXPECT_EQ(machine.openProcesses(), 0);
        EXPECT_FALSE(machine.hasDirectory(kWorkFolder));
    }

    FakeMachine machine;
    MainWindow window{machine};
};

TEST(ExtractionRun, CompletedRunFillsTheDriveStartsTheCompanionAndEnds) {
    Bench bench;
    auto& machine = bench.machine;
    const auto& window = bench.window;
    bench.openWindow();
    machine.putFile(u"E:\\autorun.inf", bytesOf("an earlier run's"), win::FILE_ATTRIBUTE_HIDDEN);
    bool lockedWhileExtracting = false;
    machine.onPump = [&] {
        lockedWhileExtracting = !machine.enabled(window.Button1) &&
                                !machine.windowEnabled(window.Form1) &&
                                machine.control(window.Label2V).params.visible &&
                                machine.hasFile(kWorkFolder + u"\\Lang\\vi.txt");
    };
    machine.userClick(window.Button1);

    EXPECT_TRUE(lockedWhileExtracting);
    ASSERT_EQ(machine.processes().size(), 1u);
    EXPECT_EQ(machine.processes()[0].commandLine,
              kSevenZip + u" x -y -o\"E:\\\" -ptubrisk \"" + kWorkFolder + u"\\RAZEvor.7z\"");
    EXPECT_EQ(machine.processes()[0].showWindow, win::SW_SHOWNORMAL);
    EXPECT_TRUE(machine.hasDirectory(u"E:\\QEL\\Menu"));
    EXPECT_EQ(machine.fileText(u"E:\\autorun.inf"), kAutorun);
    EXPECT_EQ(machine.attributesOf(u"E:\\autorun.inf"), win::FILE_ATTRIBUTE_HIDDEN);

    ASSERT_EQ(machine.shellExecutes().size(), 1u);
    const auto& companion = machine.shellExecutes()[0];
    EXPECT_EQ(companion.window, window.Form1);
    EXPECT_EQ(companion.verb, u"open");
    EXPECT_EQ(companion.file, u"QELCreator.exe");
    EXPECT_EQ(companion.currentDirectory, u"E:\\");
    // The run's last word: the progress label is back, announcing the companion.
    EXPECT_TRUE(machine.control(window.Label2V).params.visible);
    EXPECT_EQ(machine.caption(window.Label2V), window.texts.lrunapp);

    EXPECT_TRUE(machine.dialogs().empty());
    EXPECT_TRUE(machine.messageBoxes().empty());
    EXPECT_EQ(machine.shellFileOps().size(), 1u);
    EXPECT_EQ(machine.quitRequests(), 1);
    bench.expectWindowUsableAgain();
}

TEST(ExtractionRun, ProgressLabelSitsOnTheBottomRowScaledWithTheScreen) {
    Bench bench({}, 144);
    auto& machine = bench.machine;
    const auto& window = bench.window;
    bench.openWindow();
    Rect shown;
    Text caption;
    machine.onPump = [&] {
        shown = machine.bounds(window.Label2V);
        caption = machine.caption(window.Label2V);
    };
    machine.userClick(window.Button1);
    EXPECT_EQ(machine.control(window.Label2V).parent, window.Form1);
    EXPECT_EQ(caption, u"Đang giải nén, vui lòng chờ...");
    EXPECT_EQ(shown, (Rect{machine.bounds(window.Button2).left, machine.bounds(window.Label2).top,
                           146, machine.bounds(window.Label1).height}));  // 97 at 96 dpi
    EXPECT_EQ(machine.control(window.Label2V).params.font.height,
              machine.control(window.Label1).params.font.height);
}

TEST(ExtractionRun, EmptyChooserOrUnknownDiskStayInTheWindow) {
    for (const bool emptyChooser : {true, false}) {
        Bench bench;
        if (emptyChooser)
            bench.machine.volumes().clear();
        else
            bench.machine.volumeByLetter('E')->disk = -1;
        bench.openWindow();
        bench.machine.userClick(bench.window.Button1);
        EXPECT_EQ(bench.dialogMessages(), emptyChooser
                                              ? std::vector<Text>{}
                                              : std::vector<Text>{bench.window.texts.llerror});
        EXPECT_TRUE(bench.machine.processes().empty());
        EXPECT_EQ(bench.machine.quitRequests(), 0);
        bench.expectWindowUsableAgain();
    }
}

TEST(ExtractionRun, UncreatableWorkFolderShowsTheSupportErrorAndEnds) {
    Bench bench;
    bench.openWindow();
    bench.machine.failWritesUnder(kWorkFolder);
    bench.machine.userClick(bench.window.Button1);
    EXPECT_EQ(bench.dialogMessages(), std::vector<Text>{bench.window.texts.llerror});
    EXPECT_EQ(bench.machine.quitRequests(), 1);
    EXPECT_TRUE(bench.machine.shellFileOps().empty());  // left to the next start
    EXPECT_TRUE(bench.machine.processes().empty());
    bench.expectWindowUsableAgain();
}

// Roads after the work folder exists: each shows its message while the folder is still there and
// the window still locked, then deletes the folder and ends without starting the companion.
TEST(ExtractionRun, FailuresAfterStagingCleanUpAndEnd) {
    enum Shown { SupportError, Cancelled, Thrown };
    struct Road {
        const char* name;
        Payload payload;
        Shown shown;
        std::function<void(FakeMachine&)> prepare;
    };
    const std::vector<Road> roads{
        {"staging fails",
         {},
         Thrown,
         [](FakeMachine& m) { m.failWritesUnder(kWorkFolder + u"\\fat32format.exe"); }},
        {"7-Zip does not start", {.starts = false}, SupportError, nullptr},
        {"7-Zip exit code 1", {.exitCode = 1}, SupportError, nullptr},
        {"7-Zip exit code unreadable", {.exitCodeReadable = false}, SupportError, nullptr},
        {"cancelled in 7-Zip", {.exitCode = 255}, Cancelled, nullptr},
        {"no \\QEL for the menu folder",
         {.qelFolder = false, .icon = false},
         SupportError,
         nullptr},
        {"read-only autorun.inf",
         {},
         Thrown,
         [](FakeMachine& m) { m.putFile(u"E:\\autorun.inf", bytesOf("kept"), 3); }},
    };
    for (const Road& road : roads) {
        SCOPED_TRACE(road.name);
        Bench bench(road.payload);
        auto& machine = bench.machine;
        bench.openWindow();
        bench.window.Label3Click();  // English
        if (road.prepare) road.prepare(machine);
        bool lockedDuringMessage = false;
        machine.dialogAnswerer = [&](const DialogSpec&) {
            lockedDuringMessage =
                machine.hasDirectory(kWorkFolder) && !machine.windowEnabled(bench.window.Form1);
            return kResultOk;
        };
        if (road.shown == Thrown) {
            EXPECT_THROW(bench.window.Button1Click(), UnexpectedError);
        } else {
            machine.userClick(bench.window.Button1);
        }

        if (road.shown == SupportError) {
            EXPECT_EQ(bench.dialogMessages(), std::vector<Text>{bench.window.texts.llerror});
            EXPECT_TRUE(lockedDuringMessage);
        } else {
            EXPECT_TRUE(machine.dialogs().empty());
        }
        if (road.shown == Cancelled) {
            ASSERT_EQ(machine.messageBoxes().size(), 1u);
            EXPECT_EQ(machine.messageBoxes()[0].text, u"Canceled.");
            EXPECT_EQ(machine.messageBoxes()[0].caption, u"Canceled");
            EXPECT_EQ(machine.messageBoxes()[0].flags, win::MB_ICONERROR);
            EXPECT_EQ(machine.caption(bench.window.Label2V), u"Canceled");
        }
        if (bench.window.Label2V != 0) {
            EXPECT_FALSE(machine.control(bench.window.Label2V).params.visible);
        }
        EXPECT_NE(machine.fileText(u"E:\\autorun.inf"), kAutorun);
        EXPECT_TRUE(machine.shellExecutes().empty());
        EXPECT_EQ(machine.shellFileOps().size(), 1u);
        EXPECT_EQ(machine.quitRequests(), 1);
        bench.expectWindowUsableAgain();
    }
}

TEST(ExtractionRun, WithoutTheIconAnOldAutorunStaysUntouched) {
    Bench bench({.icon = false});
    bench.openWindow();
    bench.machine.putFile(u"E:\\autorun.inf", bytesOf("[autorun]\r\nopen=x.exe\r\n"));
    bench.machine.userClick(bench.window.Button1);
    EXPECT_EQ(bench.machine.fileText(u"E:\\autorun.inf"), "[autorun]\r\nopen=x.exe\r\n");
    EXPECT_EQ(bench.machine.attributesOf(u"E:\\autorun.inf"), win::FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(bench.machine.shellExecutes().size(), 1u);  // the run completes all the same
}

TEST(ExtractionRun, AutorunAtAVolumeNameRoot) {
    FakeMachine machine;
    FakeVolume volume;
    volume.disk = machine.addDisk(FakeDisk::ofSize(1 << 20));
    const Text root = u"\\\\?\\" + machine.addVolume(volume).guid;
    machine.putFile(root + u"\\QEL\\razevor.ico", std::string("icon"));
    WriteAutorunInf(machine, root);
    EXPECT_EQ(machine.fileText(root + u"\\autorun.inf"), kAutorun);
    EXPECT_EQ(machine.attributesOf(root + u"\\autorun.inf"), win::FILE_ATTRIBUTE_HIDDEN);
}

}  // namespace
}  // namespace qel
