#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "fake/FakeMachine.h"
#include "repartition/RepartitionWindow.h"
#include "texts/Dialogs.h"

namespace qel {
namespace {

using fake::FakeMachine;

// The main window started with two sticks, E: and G: (G: selected), and the system drive C:.
struct Handlers : ::testing::Test {
    void SetUp() override {
        for (const char letter : {'E', 'G'}) {
            fake::FakeVolume stick;
            stick.letter = letter;
            machine.addVolume(stick);
        }
        window.create();
        machine.clearRecords();
    }
    bool formatTicked() { return machine.checked(window.CheckBox1); }
    const DialogSpec& lastDialog() { return machine.dialogs().back().params; }

    FakeMachine machine;
    MainWindow window{machine};
};

TEST_F(Handlers, TickingFormatAsksForTheChosenDriveAndCancelClearsIt) {
    machine.answerDialogs({kResultCancel});
    machine.userClick(window.CheckBox1);
    EXPECT_EQ(lastDialog().message,
              u"Cảnh báo:\r\nTất cả dữ liệu trên ổ 'G:' sẽ bị mất.\r\n"
              u"Phân vùng này sẽ được định dạng sang FAT32.");
    EXPECT_EQ(lastDialog().buttons.at(1).caption, u"Hủy bỏ");
    EXPECT_FALSE(formatTicked());
    machine.userClick(window.CheckBox1);  // answered OK
    EXPECT_TRUE(formatTicked());
    EXPECT_EQ(machine.dialogs().size(), 2u);
}

TEST_F(Handlers, OnlyAnotherEntryClearsFormatAndTheProgramsDriveDisablesIt) {
    machine.setCurrentDir(u"E:\\");
    machine.userClick(window.CheckBox1);
    machine.userSelect(window.ComboBox1, 1);
    EXPECT_TRUE(formatTicked());
    machine.userSelect(window.ComboBox1, 0);
    EXPECT_FALSE(formatTicked());
    EXPECT_FALSE(machine.enabled(window.CheckBox1));
    EXPECT_EQ(window.itemindex, 0);
    machine.userSelect(window.ComboBox1, 1);
    EXPECT_TRUE(machine.enabled(window.CheckBox1));
}

TEST_F(Handlers, ProgrammaticTicksRunTheHandlerOnChangeSilentOnesNever) {
    window.setTicked(window.CheckBox1, true);
    window.setTicked(window.CheckBox1, true);
    window.setTickedSilently(window.CheckBox2, false);
    window.setTickedSilently(window.CheckBox2, true);
    EXPECT_EQ(machine.dialogs().size(), 1u);

    const ControlId box = machine.createControl(window.Form1, {});  // a run-time check box
    int runs = 0;
    window.extraClickHandlers[box] = [&] { ++runs; };
    window.extraCheckBoxes.insert(box);
    machine.userClick(box);
    EXPECT_TRUE(machine.checked(box));
    window.setTicked(box, false);
    window.setTickedSilently(box, true);
    EXPECT_EQ(runs, 2);
}

TEST_F(Handlers, FormatCannotBeTickedWithoutADrive) {
    machine.setItems(window.ComboBox1, {});
    machine.userClick(window.CheckBox1);
    EXPECT_FALSE(formatTicked());
    EXPECT_TRUE(machine.dialogs().empty());
}

TEST_F(Handlers, BootloaderNoticeInBothLanguagesAndCancelClearsIt) {
    machine.userClick(window.CheckBox2);  // unticking shows nothing
    EXPECT_TRUE(machine.dialogs().empty());
    machine.answerDialogs({kResultCancel});
    machine.userClick(window.CheckBox2);
    EXPECT_EQ(lastDialog().message,
              u"Công cụ này sẽ tự động cài đặt Grub2, Syslinux và Clover "
              u"[chỉ FAT32] trên ổ đĩa này!");
    EXPECT_EQ(lastDialog().kind, DialogKind::Information);
    EXPECT_FALSE(machine.checked(window.CheckBox2));
    machine.userClick(window.Label3);
    machine.userClick(window.CheckBox2);
    EXPECT_EQ(lastDialog().message,
              u"We will automatically install Grub2, Syslinux and Clover "
              u"[FAT32 only] on this drive!");
    EXPECT_TRUE(machine.checked(window.CheckBox2));
}

TEST_F(Handlers, TimerLeavesTheChooserAloneDuringARunOrWithARepartitionWindow) {
    machine.volumes().clear();
    machine.setEnabled(window.Button1, false);
    machine.timerTick();
    EXPECT_EQ(machine.items(window.ComboBox1).size(), 2u);

    machine.setEnabled(window.Button1, true);
    machine.setDisk(1, fake::FakeDisk::ofSize(4096, 512, 11));  // a stick to repartition
    auto& diskEnum = machine.registryKey(u"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum");
    diskEnum.strings[u"1"] = u"USBSTOR\\STICK";
    diskEnum.dwords[u"Count"] = 1;
    machine.registryKey(u"SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\STICK");
    machine.userClick(window.Button3);
    ASSERT_TRUE(window.repartition.isOpen());
    const WindowId repartitionWindow = window.repartition.controls().window;
    machine.setWindowEnabled(repartitionWindow, false);  // its own refresh is paused too
    machine.timerTick();
    EXPECT_EQ(machine.items(window.ComboBox1).size(), 2u);

    machine.userClose(repartitionWindow);
    machine.timerTick();
    EXPECT_TRUE(machine.items(window.ComboBox1).empty());
}

TEST_F(Handlers, ErrorsStopAtTheEventBoundaryAndClosingEndsTheProgram) {
    const ControlId extra = machine.createControl(window.Form1, {});
    window.extraClickHandlers[extra] = [] { throw IoError(u"Cannot create file"); };
    machine.userClick(extra);
    window.extraClickHandlers[extra] = [] { throw std::runtime_error("out of memory"); };
    machine.userClick(extra);
    ASSERT_EQ(machine.messageBoxes().size(), 2u);
    EXPECT_EQ(machine.messageBoxes()[0].text, u"Cannot create file");
    EXPECT_EQ(machine.messageBoxes()[0].caption, u"QEL Duzu");
    EXPECT_EQ(machine.messageBoxes()[0].flags, win::MB_ICONERROR);
    EXPECT_EQ(machine.messageBoxes()[1].text, u"out of memory");
    machine.userClose(window.Form1);
    EXPECT_EQ(machine.quitRequests(), 1);
}

}  // namespace
}  // namespace qel
