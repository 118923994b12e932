#include <gtest/gtest.h>

#include "app/ExtractionRun.h"
#include "app/MainWindow.h"
#include "fake/FakeMachine.h"
#include "texts/Dialogs.h"

namespace qel {
namespace {

using fake::ChildOutcome;
using fake::FakeDisk;
using fake::FakeMachine;
using fake::FakeVolume;

const Text kTemp = u"C:\\Users\\user\\AppData\\Local\\Temp";
const Text kWorkFolder = kTemp + u"\\qelextract";
const Text kSevenZip = u"\"" + kWorkFolder + u"\\7zG.exe\"";
Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

const std::string kAutorunBytes =
    "[autorun]\r\nlabel=RAZEVOR\r\nicon=QEL\\razevor.ico\r\nshellexecute=QELCreator.exe\r\n";

// What 7-Zip does: the payload tree it unpacks onto E: and how it ends.
struct Payload {
    bool qelFolder = true;
    bool icon = true;
    bool starts = true;
    std::uint32_t exitCode = 0;
    bool exitCodeReadable = true;
};

// A machine with an 8 MiB stick E: (FAT32 from sector 2048) and the main window over it with
// both options cleared.
struct Bench {
    explicit Bench(int dpi = 96) {
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
    }

    void openWindow() {
        window.create();
        window.setTickedSilently(window.CheckBox1, false);
        window.setTickedSilently(window.CheckBox2, false);
        machine.clearRecords();
    }

    void extractWith(Payload payload) {
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

    void clickOk() { machine.userClick(window.Button1); }

    std::vector<Text> dialogMessages() const {
        std::vector<Text> messages;
        for (const auto& shown : machine.dialogs()) messages.push_back(shown.spec.message);
        return messages;
    }

    void expectWindowUsableAgain() {
        EXPECT_TRUE(machine.enabled(window.Button1));
        EXPECT_TRUE(machine.windowEnabled(window.Form1));
        EXPECT_EQ(machine.openHandles(), 0);
        EXPECT_EQ(machine.openProcesses(), 0);
    }

    // A road that stays in the window: nothing staged, the program keeps running.
    void expectStayed() {
        expectWindowUsableAgain();
        EXPECT_FALSE(machine.hasDirectory(kWorkFolder));
        EXPECT_EQ(machine.quitRequests(), 0);
        EXPECT_TRUE(machine.processes().empty());
    }

    // A road that had the work folder: it is gone, the program ends, nothing started.
    void expectEndedWithoutCompanion() {
        expectWindowUsableAgain();
        EXPECT_FALSE(machine.hasDirectory(kWorkFolder));
        ASSERT_EQ(machine.shellFileOps().size(), 1u);
        EXPECT_EQ(machine.shellFileOps()[0].window, window.Form1);
        EXPECT_EQ(machine.quitRequests(), 1);
        EXPECT_TRUE(machine.shellExecutes().empty());
        if (window.Label2V != 0) {
            EXPECT_FALSE(machine.control(window.Label2V).spec.visible);
        }
    }

    FakeMachine machine;
    MainWindow window{machine};
};

TEST(ExtractionRun, CompletedRunFillsTheDriveStartsTheCompanionAndEnds) {
    Bench bench;
    auto& machine = bench.machine;
    const auto& window = bench.window;
    bench.openWindow();
    bench.extractWith({});
    machine.putFile(u"E:\\autorun.inf", bytesOf("an earlier run's"), win::FILE_ATTRIBUTE_HIDDEN);
    bool lockedWhileExtracting = false;
    machine.onPump = [&] {
        lockedWhileExtracting = !machine.enabled(window.Button1) &&
                                !machine.windowEnabled(window.Form1) &&
                                machine.control(window.Label2V).spec.visible &&
                                machine.hasFile(kWorkFolder + u"\\Lang\\vi.txt");
    };
    bench.clickOk();

    EXPECT_TRUE(lockedWhileExtracting);
    ASSERT_EQ(machine.processes().size(), 1u);
    EXPECT_EQ(machine.processes()[0].commandLine,
              kSevenZip + u" x -y -o\"E:\\\" -ptubrisk \"" + kWorkFolder + u"\\RAZEvor.7z\"");
    EXPECT_EQ(machine.processes()[0].showWindow, win::SW_SHOWNORMAL);
    EXPECT_TRUE(machine.hasDirectory(u"E:\\QEL\\Menu"));
    EXPECT_EQ(machine.fileText(u"E:\\autorun.inf"), kAutorunBytes);
    EXPECT_EQ(machine.attributesOf(u"E:\\autorun.inf"), win::FILE_ATTRIBUTE_HIDDEN);

    ASSERT_EQ(machine.shellExecutes().size(), 1u);
    const auto& companion = machine.shellExecutes()[0];
    EXPECT_EQ(companion.window, window.Form1);
    EXPECT_EQ(companion.verb, u"open");
    EXPECT_EQ(companion.file, u"QELCreator.exe");
    EXPECT_EQ(companion.currentDirectory, u"E:\\");
    // The run's last word: the progress label is back, announcing the companion.
    EXPECT_TRUE(machine.control(window.Label2V).spec.visible);
    EXPECT_EQ(machine.caption(window.Label2V), window.texts.lrunapp);

    EXPECT_TRUE(machine.dialogs().empty());
    EXPECT_TRUE(machine.messageBoxes().empty());
    EXPECT_FALSE(machine.hasDirectory(kWorkFolder));
    EXPECT_EQ(machine.quitRequests(), 1);
    bench.expectWindowUsableAgain();
}

TEST(ExtractionRun, ProgressLabelSitsOnTheBottomRowScaledWithTheScreen) {
    Bench bench(144);
    auto& machine = bench.machine;
    const auto& window = bench.window;
    bench.openWindow();
    bench.extractWith({});
    Rect shown;
    Text caption;
    machine.onPump = [&] {
        shown = machine.bounds(window.Label2V);
        caption = machine.caption(window.Label2V);
    };
    bench.clickOk();

    ASSERT_NE(window.Label2V, 0u);
    const auto& label = machine.control(window.Label2V);
    EXPECT_EQ(label.parent, window.Form1);
    EXPECT_EQ(label.spec.kind, ControlKind::Label);
    EXPECT_EQ(caption, u"Đang giải nén, vui lòng chờ...");
    EXPECT_EQ(shown.left, machine.bounds(window.Button2).left);
    EXPECT_EQ(shown.top, machine.bounds(window.Label2).top);
    EXPECT_EQ(shown.width, 146);  // 97 at 96 pixels per inch
    EXPECT_EQ(shown.height, machine.bounds(window.Label1).height);
    EXPECT_EQ(label.spec.font.height, machine.control(window.Label1).spec.font.height);
}

TEST(ExtractionRun, RoadsThatStayInTheWindow) {
    {
        SCOPED_TRACE("empty chooser");
        Bench bench;
        bench.machine.volumes().clear();
        bench.openWindow();
        ASSERT_TRUE(bench.machine.items(bench.window.ComboBox1).empty());
        bench.clickOk();
        EXPECT_TRUE(bench.machine.dialogs().empty());
        bench.expectStayed();
    }
    {
        SCOPED_TRACE("disk number unknown");
        Bench bench;
        bench.machine.volumeByLetter('E')->disk = -1;
        bench.openWindow();
        bench.extractWith({});
        bench.clickOk();
        EXPECT_EQ(bench.dialogMessages(), std::vector<Text>{bench.window.texts.llerror});
        EXPECT_EQ(bench.machine.dialogs()[0].spec.kind, DialogKind::Error);
        bench.expectStayed();
    }
}

TEST(ExtractionRun, UncreatableWorkFolderShowsTheSupportErrorAndEnds) {
    Bench bench;
    bench.openWindow();
    bench.extractWith({});
    bench.machine.failWritesUnder(kTemp);
    bench.clickOk();
    EXPECT_EQ(bench.dialogMessages(), std::vector<Text>{bench.window.texts.llerror});
    EXPECT_EQ(bench.machine.quitRequests(), 1);
    EXPECT_TRUE(bench.machine.shellFileOps().empty());  // the folder is left to the next start
    EXPECT_TRUE(bench.machine.processes().empty());
    bench.expectWindowUsableAgain();
}

TEST(ExtractionRun, StagingErrorLeavesThroughTheGuardsAndReachesTheCaller) {
    Bench bench;
    bench.openWindow();
    bench.extractWith({});
    bench.machine.failWritesUnder(kWorkFolder + u"\\fat32format.exe");
    EXPECT_THROW(bench.window.Button1Click(), UnexpectedError);
    EXPECT_TRUE(bench.machine.processes().empty());
    bench.expectEndedWithoutCompanion();

    // Clicked by the user, the error is shown at the window's event boundary.
    bench.machine.clearRecords();
    bench.clickOk();
    EXPECT_EQ(bench.machine.messageBoxes().size(), 1u);
    EXPECT_FALSE(bench.machine.hasDirectory(kWorkFolder));
}

TEST(ExtractionRun, SevenZipFailuresShowTheSupportErrorWhileTheFolderStillExists) {
    for (const Payload& failure : {Payload{.starts = false}, Payload{.exitCode = 1},
                                   Payload{.exitCode = 2}, Payload{.exitCodeReadable = false}}) {
        SCOPED_TRACE(testing::Message()
                     << "starts " << failure.starts << ", exit code " << failure.exitCode);
        Bench bench;
        bench.openWindow();
        bench.extractWith(failure);
        bool folderThereDuringMessage = false;
        bench.machine.dialogAnswerer = [&](const DialogSpec&) {
            folderThereDuringMessage = bench.machine.hasDirectory(kWorkFolder) &&
                                       !bench.machine.windowEnabled(bench.window.Form1);
            return kResultOk;
        };
        bench.clickOk();
        EXPECT_EQ(bench.dialogMessages(), std::vector<Text>{bench.window.texts.llerror});
        EXPECT_TRUE(folderThereDuringMessage);
        EXPECT_FALSE(bench.machine.hasFile(u"E:\\autorun.inf"));
        bench.expectEndedWithoutCompanion();
    }
}

TEST(ExtractionRun, CancelInSevenZipIsReportedInTheLabelAndAMessageBox) {
    Bench bench;
    bench.openWindow();
    bench.window.Label3Click();  // English
    bench.extractWith({.exitCode = 255});
    bench.clickOk();
    EXPECT_TRUE(bench.machine.dialogs().empty());
    ASSERT_EQ(bench.machine.messageBoxes().size(), 1u);
    const auto& box = bench.machine.messageBoxes()[0];
    EXPECT_EQ(box.text, u"Canceled.");
    EXPECT_EQ(box.caption, u"Canceled");
    EXPECT_EQ(box.flags, win::MB_ICONERROR);
    EXPECT_EQ(bench.machine.caption(bench.window.Label2V), u"Canceled");
    EXPECT_FALSE(bench.machine.hasDirectory(u"E:\\QEL\\Menu"));
    bench.expectEndedWithoutCompanion();
}

TEST(ExtractionRun, MissingQelFolderStopsAtTheMenuFolder) {
    Bench bench;
    bench.openWindow();
    bench.extractWith({.qelFolder = false, .icon = false});
    bench.clickOk();
    EXPECT_EQ(bench.dialogMessages(), std::vector<Text>{bench.window.texts.llerror});
    EXPECT_FALSE(bench.machine.hasFile(u"E:\\autorun.inf"));
    bench.expectEndedWithoutCompanion();
}

TEST(ExtractionRun, WithoutTheIconAnOldAutorunStaysUntouched) {
    Bench bench;
    bench.openWindow();
    bench.extractWith({.icon = false});
    bench.machine.putFile(u"E:\\autorun.inf", bytesOf("[autorun]\r\nopen=x.exe\r\n"),
                          win::FILE_ATTRIBUTE_ARCHIVE);
    bench.clickOk();
    EXPECT_EQ(bench.machine.fileText(u"E:\\autorun.inf"), "[autorun]\r\nopen=x.exe\r\n");
    EXPECT_EQ(bench.machine.attributesOf(u"E:\\autorun.inf"), win::FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(bench.machine.shellExecutes().size(), 1u);  // the run completes all the same
}

TEST(ExtractionRun, ReadOnlyAutorunTakesTheUnexpectedErrorRoad) {
    Bench bench;
    bench.openWindow();
    bench.extractWith({});
    bench.machine.putFile(u"E:\\autorun.inf", bytesOf("kept"),
                          win::FILE_ATTRIBUTE_READONLY | win::FILE_ATTRIBUTE_HIDDEN);
    EXPECT_THROW(bench.window.Button1Click(), IoError);
    EXPECT_EQ(bench.machine.fileText(u"E:\\autorun.inf"), "kept");
    bench.expectEndedWithoutCompanion();
}

TEST(ExtractionRun, AutorunAtAVolumeNameRoot) {
    FakeMachine machine;
    FakeVolume volume;
    volume.disk = machine.addDisk(FakeDisk::ofSize(1 << 20));
    const Text root = u"\\\\?\\" + machine.addVolume(volume).guid;
    machine.putFile(root + u"\\QEL\\razevor.ico", std::string("icon"));
    WriteAutorunInf(machine, root);
    EXPECT_EQ(machine.fileText(root + u"\\autorun.inf"), kAutorunBytes);
    EXPECT_EQ(machine.attributesOf(root + u"\\autorun.inf"), win::FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(machine.openHandles(), 0);
}

}  // namespace
}  // namespace qel
