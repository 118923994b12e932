#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "fake/FakeMachine.h"
#include "repartition/RepartitionWindow.h"
#include "texts/Dialogs.h"

namespace qel {
namespace {

using fake::FakeMachine;
using fake::FakeVolume;

// The main window started with two sticks, E: and G: (G: selected), and the fixed system drive C:.
struct Handlers : ::testing::Test {
    void SetUp() override {
        for (const char letter : {'E', 'G'}) {
            FakeVolume stick;
            stick.letter = letter;
            stick.totalBytes = 8ull << 30;
            machine.addVolume(stick);
        }
        window.create();
        machine.clearRecords();
    }
    bool formatTicked() { return machine.checked(window.CheckBox1); }
    bool formatEnabled() { return machine.enabled(window.CheckBox1); }
    const DialogSpec& lastDialog() { return machine.dialogs().back().spec; }

    FakeMachine machine;
    MainWindow window{machine};
};

TEST_F(Handlers, TickingFormatAsksForTheChosenDriveAndCancelClearsIt) {
    machine.answerDialogs({kResultCancel});
    machine.userClick(window.CheckBox1);
    ASSERT_EQ(machine.dialogs().size(), 1u);
    EXPECT_EQ(lastDialog().message,
              u"Cảnh báo:\r\nTất cả dữ liệu trên ổ 'G:' sẽ bị mất.\r\n"
              u"Phân vùng này sẽ được định dạng sang FAT32.");
    EXPECT_EQ(lastDialog().kind, DialogKind::Warning);
    EXPECT_EQ(lastDialog().buttons.at(1).caption, u"Hủy bỏ");
    EXPECT_FALSE(formatTicked());
    EXPECT_EQ(machine.dialogs().size(), 1u);  // clearing asks nothing

    machine.userClick(window.CheckBox1);  // answered OK
    EXPECT_TRUE(formatTicked());
}

TEST_F(Handlers, ReselectingTheSameEntryKeepsFormatButAnotherEntryClearsIt) {
    machine.userClick(window.CheckBox1);
    machine.userSelect(window.ComboBox1, 1);
    EXPECT_TRUE(formatTicked());
    machine.userSelect(window.ComboBox1, 0);
    EXPECT_FALSE(formatTicked());
    EXPECT_TRUE(formatEnabled());
    EXPECT_EQ(window.itemindex, 0);
}

TEST_F(Handlers, ChoosingTheProgramsDriveDisablesAndClearsFormat) {
    machine.setCurrentDir(u"E:\\");
    machine.userClick(window.CheckBox1);
    machine.userSelect(window.ComboBox1, 0);
    EXPECT_FALSE(formatTicked());
    EXPECT_FALSE(formatEnabled());
    machine.userSelect(window.ComboBox1, 1);
    EXPECT_TRUE(formatEnabled());
}

TEST_F(Handlers, ProgrammaticTickRunsTheHandlerButTheSilentOneDoesNot) {
    window.setTicked(window.CheckBox1, true);
    EXPECT_EQ(machine.dialogs().size(), 1u);
    window.setTicked(window.CheckBox1, true);  // no change, no handler
    EXPECT_EQ(machine.dialogs().size(), 1u);
    window.setTickedSilently(window.CheckBox2, false);
    window.setTickedSilently(window.CheckBox2, true);
    EXPECT_EQ(machine.dialogs().size(), 1u);
}

TEST_F(Handlers, FormatCannotBeTickedWithoutADrive) {
    machine.setItems(window.ComboBox1, {});
    machine.userClick(window.CheckBox1);
    EXPECT_FALSE(formatTicked());
    EXPECT_TRUE(machine.dialogs().empty());
}

TEST_F(Handlers, BootloaderNoticeInBothLanguagesAndCancelClearsIt) {
    machine.userClick(window.CheckBox2);  // untick: no notice
    EXPECT_TRUE(machine.dialogs().empty());
    machine.answerDialogs({kResultCancel});
    machine.userClick(window.CheckBox2);
    EXPECT_EQ(lastDialog().message,
              u"Công cụ này sẽ tự động cài đặt Grub2, Syslinux và Clover [chỉ FAT32] trên ổ đĩa "
              u"này!");
    EXPECT_EQ(lastDialog().kind, DialogKind::Information);
    EXPECT_FALSE(machine.checked(window.CheckBox2));

    machine.userClick(window.Label3);
    machine.userClick(window.CheckBox2);
    EXPECT_EQ(lastDialog().message,
              u"We will automatically install Grub2, Syslinux and Clover [FAT32 only] on this "
              u"drive!");
    EXPECT_TRUE(machine.checked(window.CheckBox2));
}

TEST_F(Handlers, HardDiskOptionTogglesAndTakesEffectAtTheNextTick) {
    machine.userClick(window.CheckBox3);
    EXPECT_TRUE(machine.checked(window.CheckBox3));
    EXPECT_EQ(machine.items(window.ComboBox1).size(), 2u);
    machine.timerTick();
    EXPECT_EQ(machine.items(window.ComboBox1).size(), 3u);
    machine.userClick(window.CheckBox3);
    EXPECT_FALSE(machine.checked(window.CheckBox3));
}

TEST_F(Handlers, TimerLeavesTheChooserAloneDuringARunOrWithARepartitionWindow) {
    machine.volumes().clear();
    machine.setEnabled(window.Button1, false);
    machine.timerTick();
    EXPECT_EQ(machine.items(window.ComboBox1).size(), 2u);

    machine.setEnabled(window.Button1, true);
    window.Form2 = std::make_unique<RepartitionWindow>();
    window.Form2->window = machine.createWindow({});
    machine.setWindowEnabled(window.Form2->window, false);  // its own refresh is paused too
    machine.timerTick();
    EXPECT_EQ(machine.items(window.ComboBox1).size(), 2u);

    window.Form2.reset();
    machine.timerTick();
    EXPECT_TRUE(machine.items(window.ComboBox1).empty());
}

TEST_F(Handlers, ErrorsStopAtTheEventBoundaryAsAMessageBox) {
    const ControlId extra = machine.createControl(window.Form1, {});
    window.extraClickHandlers[extra] = [] { throw IoError(u"Cannot create file \"E:\\x\""); };
    machine.userClick(extra);
    window.extraClickHandlers[extra] = [] { throw std::runtime_error("out of memory"); };
    machine.userClick(extra);
    ASSERT_EQ(machine.messageBoxes().size(), 2u);
    EXPECT_EQ(machine.messageBoxes()[0].text, u"Cannot create file \"E:\\x\"");
    EXPECT_EQ(machine.messageBoxes()[0].caption, u"QEL Duzu");
    EXPECT_EQ(machine.messageBoxes()[0].flags, win::MB_ICONERROR);
    EXPECT_EQ(machine.messageBoxes()[1].text, u"out of memory");
}

TEST_F(Handlers, RunTimeCheckBoxesToggleAndRunTheirHandlerOnEveryChange) {
    const ControlId box = machine.createControl(window.Form1, {});
    int runs = 0;
    window.extraClickHandlers[box] = [&] { ++runs; };
    window.extraCheckBoxes.insert(box);
    machine.userClick(box);
    EXPECT_TRUE(machine.checked(box));
    window.setTicked(box, false);
    window.setTickedSilently(box, true);
    EXPECT_EQ(runs, 2);
}

TEST_F(Handlers, ClosingTheMainWindowEndsTheProgram) {
    machine.userClose(window.Form1);
    EXPECT_EQ(machine.quitRequests(), 1);
}

}  // namespace
}  // namespace qel
