#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "fake/FakeMachine.h"

namespace qel {
namespace {

using fake::FakeMachine;

TEST(Layout, DesignedWindowAt96DpiAndScaledAt144) {
    FakeMachine machine;
    MainWindow w(machine);
    w.create();
    const auto& form = machine.window(w.Form1);
    EXPECT_TRUE(form.shown);
    EXPECT_EQ(form.params.title, u"QEL Ruru Zudererod");
    EXPECT_EQ(form.params.taskbarTitle, u"QEL Duzu");
    EXPECT_EQ(form.timerMs, 1000u);
    EXPECT_EQ(form.params.font, (FontSpec{u"Arial", -11}));
    EXPECT_EQ(machine.clientSize(w.Form1), std::make_pair(250, 191));
    EXPECT_EQ(machine.bounds(w.CheckBox1), (Rect{8, 86, 241, 17}));
    EXPECT_EQ(machine.bounds(w.Label2), (Rect{187, 167, 54, 16}));  // fitted: 6 px a character
    const ControlSpec& link = machine.control(w.Label3).params;
    EXPECT_EQ(link.font, (FontSpec{u"Arial", -13, true, 0xFF0000, false}));
    EXPECT_TRUE(link.handCursor && link.align == TextAlign::Right);
    EXPECT_EQ(machine.control(w.ComboBox1).params.kind, ControlKind::DropDownList);
    EXPECT_TRUE(machine.checked(w.CheckBox2) && machine.control(w.CheckBox2).params.wordWrap);
    EXPECT_TRUE(machine.dialogs().empty());  // the designed tick shows no notice
    int order = 0;
    for (const ControlId control :
         {w.ComboBox1, w.Button1, w.CheckBox1, w.Button2, w.Button3, w.CheckBox2, w.CheckBox3})
        EXPECT_EQ(machine.control(control).params.tabOrder, order++);

    FakeMachine dense;
    dense.dpi = 144;
    MainWindow scaled(dense);
    scaled.create();
    EXPECT_EQ(dense.window(scaled.Form1).params.font.height, -17);
    EXPECT_EQ(dense.control(scaled.Button1).params.font.height, -20);
    EXPECT_EQ(dense.bounds(scaled.CheckBox1), (Rect{12, 129, 366, 26}));
    EXPECT_EQ(dense.bounds(scaled.Label2), (Rect{284, 247, 78, 24}));
    EXPECT_EQ(dense.clientSize(scaled.Form1), std::make_pair(376, 279));
}

TEST(StartUp, StaleWorkFolderIsGoneBeforeTheWindowShows) {
    FakeMachine machine;
    const Text work = u"C:\\Users\\user\\AppData\\Local\\Temp\\qelextract";
    machine.putFile(work + u"\\Lang\\vi.txt", "left over");
    MainWindow w(machine);
    w.create();
    EXPECT_FALSE(machine.hasDirectory(work));
}

TEST(StartUp, FormatPathFollowsTheSystem) {
    struct Case {
        bool wow64;
        std::uint32_t major;
        const char16_t* systemDrive;
        bool i386;
        const char16_t* sysdir;
        const char16_t* formatpath;
    };
    const Case cases[] = {
        {true, 6, u"C:", false, u"Sysnative", u"C:\\Windows\\Sysnative\\format.com"},
        {false, 6, u"C:", false, u"System32", u"C:\\Windows\\System32\\format.com"},
        {true, 5, u"C:", false, u"System32", u"C:\\Windows\\System32\\format.com"},
        {true, 10, u"D:", true, u"Sysnative", u"D:\\I386\\System32\\format.com"},
        {true, 10, nullptr, false, u"Sysnative", u"\\Windows\\Sysnative\\format.com"},
    };
    for (const Case& c : cases) {
        FakeMachine machine;
        machine.setWow64(c.wow64);
        machine.setVersion({c.major, 0, 0});
        machine.setEnv(u"SYSTEMDRIVE",
                       c.systemDrive ? std::optional<Text>(c.systemDrive) : std::nullopt);
        if (c.i386) machine.putDirectory(Text(c.systemDrive) + u"\\I386\\System32");
        MainWindow w(machine);
        w.create();
        EXPECT_EQ(w.context.systemDir, c.sysdir);
        EXPECT_EQ(w.context.formatPath, c.formatpath);
    }
}

}  // namespace
}  // namespace qel
