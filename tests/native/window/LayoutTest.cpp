#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "fake/FakeMachine.h"

namespace qel {
namespace {

using fake::FakeMachine;

struct StartedWindow {
    explicit StartedWindow(int dpi) {
        machine.dpi = dpi;
        window.create();
    }
    const ControlSpec& spec(ControlId id) { return machine.control(id).spec; }
    Rect bounds(ControlId id) { return machine.bounds(id); }

    FakeMachine machine;
    MainWindow window{machine};
};

TEST(Layout, DesignedWindowAt96Dpi) {
    StartedWindow w(96);
    const auto& form = w.machine.window(w.window.Form1);
    EXPECT_TRUE(form.shown);
    EXPECT_EQ(form.timerMs, 1000u);
    EXPECT_EQ(form.spec.title, u"QEL Ruru Zudererod");
    EXPECT_TRUE(form.spec.minimizeBox);
    EXPECT_EQ(form.spec.font, (FontSpec{u"Arial", -11}));
    EXPECT_EQ(w.machine.clientSize(w.window.Form1), std::make_pair(250, 191));

    EXPECT_EQ(w.bounds(w.window.Label1), (Rect{8, 10, 179, 16}));
    EXPECT_EQ(w.bounds(w.window.Label3), (Rect{229, 10, 12, 16}));
    EXPECT_EQ(w.bounds(w.window.ComboBox1), (Rect{8, 32, 177, 24}));
    EXPECT_EQ(w.bounds(w.window.Button1), (Rect{192, 32, 49, 25}));
    EXPECT_EQ(w.bounds(w.window.CheckBox3), (Rect{8, 63, 233, 17}));
    EXPECT_EQ(w.bounds(w.window.CheckBox1), (Rect{8, 86, 241, 17}));
    EXPECT_EQ(w.bounds(w.window.CheckBox2), (Rect{8, 108, 233, 20}));
    EXPECT_EQ(w.bounds(w.window.Button2), (Rect{8, 134, 113, 25}));
    EXPECT_EQ(w.bounds(w.window.Button3), (Rect{127, 134, 115, 25}));
    EXPECT_EQ(w.bounds(w.window.Label2), (Rect{189, 167, 52, 16}));

    const ControlSpec& link = w.spec(w.window.Label3);
    EXPECT_EQ(link.font, (FontSpec{u"Arial", -13, true, 0xFF0000, false}));
    EXPECT_EQ(link.align, TextAlign::Right);
    EXPECT_TRUE(link.handCursor);
    EXPECT_EQ(w.spec(w.window.Label2).align, TextAlign::Right);
    EXPECT_EQ(w.spec(w.window.Label2).caption, u"v0.9.5.16");
    EXPECT_EQ(w.spec(w.window.ComboBox1).kind, ControlKind::DropDownList);
    EXPECT_TRUE(w.spec(w.window.Label1).font.ansiCharset);
    EXPECT_FALSE(w.spec(w.window.Button1).font.ansiCharset);
    EXPECT_TRUE(w.spec(w.window.CheckBox2).wordWrap);
    EXPECT_TRUE(w.machine.checked(w.window.CheckBox2));
    EXPECT_TRUE(w.machine.dialogs().empty());  // the designed tick shows no notice

    const std::pair<ControlId, int> tabOrder[] = {{w.window.ComboBox1, 0}, {w.window.Button1, 1},
                                                  {w.window.CheckBox1, 2}, {w.window.Button2, 3},
                                                  {w.window.Button3, 4},   {w.window.CheckBox2, 5},
                                                  {w.window.CheckBox3, 6}, {w.window.Label1, -1}};
    for (const auto& [control, order] : tabOrder) EXPECT_EQ(w.spec(control).tabOrder, order);
}

// At 144 pixels per inch every designed measure is scaled with rounding, and the sizing rule
// works on the scaled values.
TEST(Layout, ScaledAt144Dpi) {
    StartedWindow w(144);
    EXPECT_EQ(w.machine.window(w.window.Form1).spec.font.height, -17);
    EXPECT_EQ(w.spec(w.window.Button1).font.height, -20);
    EXPECT_EQ(w.bounds(w.window.Button3), (Rect{191, 201, 173, 38}));
    EXPECT_EQ(w.bounds(w.window.CheckBox1), (Rect{12, 129, 366, 26}));
    EXPECT_EQ(w.bounds(w.window.Label2), (Rect{284, 247, 78, 24}));
    EXPECT_EQ(w.machine.clientSize(w.window.Form1), std::make_pair(376, 279));
}

struct StartUp : ::testing::Test {
    void start() { window.create(); }
    FakeMachine machine;
    MainWindow window{machine};
};

TEST_F(StartUp, StaleWorkFolderIsGoneBeforeTheWindowShows) {
    const Text work = u"C:\\Users\\user\\AppData\\Local\\Temp\\qelextract";
    machine.putFile(work + u"\\Lang\\vi.txt", "left over");
    start();
    EXPECT_FALSE(machine.hasDirectory(work));
    ASSERT_EQ(machine.shellFileOps().size(), 1u);
    EXPECT_EQ(machine.shellFileOps()[0].window, window.Form1);
}

TEST_F(StartUp, FormatPathFollowsTheSystemsBitness) {
    machine.setVersion({6, 1, 7601, u"Windows 7"});
    start();
    EXPECT_EQ(window.sysdrive, u"C:");
    EXPECT_EQ(window.sysdir, u"Sysnative");
    EXPECT_EQ(window.formatpath, u"C:\\Windows\\Sysnative\\format.com");

    FakeMachine native32;
    native32.setWow64(false);
    MainWindow onNative32(native32);
    onNative32.create();
    EXPECT_EQ(onNative32.sysdir, u"System32");
    EXPECT_EQ(onNative32.formatpath, u"C:\\Windows\\System32\\format.com");

    FakeMachine olderSystem;
    olderSystem.setVersion({5, 2, 3790, u"Windows XP"});
    MainWindow onOlder(olderSystem);
    onOlder.create();
    EXPECT_EQ(onOlder.formatpath, u"C:\\Windows\\System32\\format.com");
}

TEST_F(StartUp, I386SystemFolderWinsWhateverTheVersion) {
    machine.setEnv(u"SYSTEMDRIVE", u"D:");
    machine.addPlainDrive('D', win::DRIVE_FIXED);
    machine.putDirectory(u"D:\\I386\\System32");
    start();
    EXPECT_EQ(window.sysdir, u"Sysnative");
    EXPECT_EQ(window.formatpath, u"D:\\I386\\System32\\format.com");
}

TEST_F(StartUp, MissingSystemDriveLeavesARootlessPath) {
    machine.setEnv(u"SYSTEMDRIVE", std::nullopt);
    start();
    EXPECT_EQ(window.sysdrive, u"");
    EXPECT_EQ(window.formatpath, u"\\Windows\\Sysnative\\format.com");
}

}  // namespace
}  // namespace qel
