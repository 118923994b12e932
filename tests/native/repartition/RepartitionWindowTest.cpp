#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "fake/FakeMachine.h"
#include "repartition/RepartitionWindow.h"
#include "texts/Dialogs.h"

namespace qel {
namespace {

const Text kEnum = u"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum";

class RepartitionWindowTest : public ::testing::Test {
protected:
    RepartitionWindowTest() {
        machine.registryKey(kEnum).dwords[u"Count"] = 0;
        form.create();
    }

    // A removable disk (8,003,197,440 bytes by its geometry) registered with the disk driver.
    void plugStick(int number, const Text& name) {
        auto disk = fake::FakeDisk::ofSize(4096);
        disk.cylinders = 973;
        machine.setDisk(number, std::move(disk));
        const Text path = u"USBSTOR\\" + decimal(number);
        auto& entry = machine.registryKey(kEnum);
        entry.strings[decimal(number)] = path;
        entry.dwords[u"Count"] = static_cast<std::uint32_t>(entry.strings.size());
        machine.registryKey(u"SYSTEM\\CurrentControlSet\\Enum\\" + path).strings[u"FriendlyName"] =
            name;
    }
    void unplug(int number) {
        auto& entry = machine.registryKey(kEnum);
        entry.strings.erase(decimal(number));
        entry.dwords[u"Count"] = static_cast<std::uint32_t>(entry.strings.size());
    }
    void addVolume(char letter, int disk) {
        fake::FakeVolume volume;
        volume.letter = letter;
        volume.disk = disk;
        volume.length = 4096;
        machine.addVolume(volume);
    }
    void english() { machine.userClick(form.Label3); }
    RepartitionWindow& open() {
        machine.userClick(form.Button3);
        EXPECT_TRUE(form.Form2);
        return *form.Form2;
    }
    const fake::DialogRecord& lastDialog() { return machine.dialogs().back(); }
    std::size_t dialogCount() { return machine.dialogs().size(); }

    fake::FakeMachine machine;
    MainWindow form{machine};
};

TEST_F(RepartitionWindowTest, WithoutRemovableDiskNoWindowIsBuilt) {
    english();
    machine.clearRecords();
    machine.userClick(form.Button3);
    EXPECT_FALSE(form.Form2);
    ASSERT_EQ(dialogCount(), 1u);
    EXPECT_EQ(lastDialog().spec.message, form.texts.lnosupportrepart);
    EXPECT_EQ(lastDialog().spec.kind, DialogKind::Information);
    ASSERT_EQ(lastDialog().spec.buttons.size(), 1u);
    EXPECT_EQ(lastDialog().spec.buttons[0].caption, u"OK");
    EXPECT_TRUE(machine.windowEnabled(form.Form1));
}

TEST_F(RepartitionWindowTest, WindowIsBuiltAtItsLayoutInTheInterfaceLanguage) {
    plugStick(1, u"Generic Flash Disk USB Device");
    plugStick(2, u"Card");
    auto& w = open();
    EXPECT_EQ(dialogCount(), 0u);  // "Clean Disk" starts ticked without its notice

    const auto& window = machine.window(w.window);
    EXPECT_TRUE(window.shown);
    EXPECT_TRUE(window.onTop);
    EXPECT_EQ(window.spec.title, u"Tự động phân vùng");
    EXPECT_EQ(window.spec.centreOver, form.Form1);
    EXPECT_EQ(window.spec.font.face, u"MS Sans Serif");
    EXPECT_EQ(machine.clientSize(w.window), std::make_pair(320, 230));

    EXPECT_EQ(machine.bounds(w.Label1F2), (Rect{0, 8, 320, 45}));
    EXPECT_EQ(machine.bounds(w.ComboBox1F2), (Rect{8, 61, 304, 24}));
    EXPECT_EQ(machine.bounds(w.CheckBox1F2), (Rect{8, 93, 304, 17}));
    EXPECT_EQ(machine.bounds(w.CheckBox2F2), (Rect{8, 118, 304, 17}));
    const Rect label = machine.bounds(w.Label3F2);
    EXPECT_EQ(label, (Rect{27, 143, machine.textWidth(w.Label3F2, u"FAT32 Size"), 21}));
    const Rect size = machine.bounds(w.Edit1V);
    const Rect unit = machine.bounds(w.ComboBox2F2);
    EXPECT_EQ(size.left, label.right() + 4);
    EXPECT_EQ(size.right() + 4, unit.left);
    EXPECT_EQ(unit, (Rect{252, 143, 60, 21}));
    EXPECT_EQ(machine.bounds(w.CheckBox3F2), (Rect{8, 172, 304, 17}));
    EXPECT_EQ(machine.bounds(w.Button1F2), (Rect{75, 197, 170, 25}));

    EXPECT_EQ(
        machine.items(w.ComboBox1F2),
        (std::vector<Text>{u"RM1 - Generic Flash Disk USB - 7.45 GB", u"RM2 - Card - 7.45 GB"}));
    EXPECT_EQ(machine.selectedIndex(w.ComboBox1F2), 1);
    EXPECT_EQ(machine.caption(w.Label1F2), form.texts.llistdisk);
    EXPECT_EQ(machine.caption(w.CheckBox1F2), u"Chỉ FAT32 (Khuyến nghị)");
    EXPECT_EQ(machine.caption(w.CheckBox2F2), u"FAT32 && NTFS");
    EXPECT_EQ(machine.caption(w.CheckBox3F2), u"Làm sạch đĩa (Khuyến nghị)");
    EXPECT_EQ(machine.caption(w.Label3F2), u"FAT32 Size");
    EXPECT_EQ(machine.caption(w.Button1F2), u"OK");
    EXPECT_EQ(machine.items(w.ComboBox2F2), (std::vector<Text>{u"MB", u"GB"}));
    EXPECT_EQ(machine.selectedIndex(w.ComboBox2F2), 0);

    EXPECT_FALSE(machine.checked(w.CheckBox1F2));
    EXPECT_FALSE(machine.checked(w.CheckBox2F2));
    EXPECT_TRUE(machine.checked(w.CheckBox3F2));
    const auto& edit = machine.control(w.Edit1V).spec;
    EXPECT_EQ(edit.caption, u"160");
    EXPECT_TRUE(edit.digitsOnly);
    EXPECT_EQ(edit.align, TextAlign::Right);
    EXPECT_EQ(edit.tabOrder, -1);
    EXPECT_FALSE(edit.enabled);
    EXPECT_FALSE(machine.enabled(w.ComboBox2F2));
    EXPECT_TRUE(machine.windowEnabled(form.Form1));  // not modal
}

TEST_F(RepartitionWindowTest, ScalesWithTheScreen) {
    fake::FakeMachine dense;
    dense.dpi = 144;
    dense.registryKey(kEnum).dwords[u"Count"] = 1;
    dense.registryKey(kEnum).strings[u"0"] = u"USBSTOR\\0";
    dense.registryKey(u"SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\0");
    dense.setDisk(0, fake::FakeDisk::ofSize(8 << 20));
    MainWindow denseForm(dense);
    denseForm.create();
    dense.userClick(denseForm.Button3);
    ASSERT_TRUE(denseForm.Form2);
    const auto& w = *denseForm.Form2;
    EXPECT_EQ(dense.clientSize(w.window).first, 480);
    EXPECT_EQ(dense.bounds(w.Button1F2).left, 113);  // 75 scaled, rounded
    EXPECT_EQ(dense.bounds(w.Button1F2).width, 480 - 225);
    EXPECT_EQ(dense.control(w.CheckBox1F2).spec.font.height, -20);
}

TEST_F(RepartitionWindowTest, ASecondClickBringsTheOpenWindowForward) {
    plugStick(1, u"Stick");
    const WindowId first = open().window;
    machine.userClick(form.Button3);
    EXPECT_EQ(form.Form2->window, first);
    EXPECT_EQ(machine.window(first).frontRequests, 1);
    EXPECT_EQ(machine.controlsOf(first).size(), 9u);
}

TEST_F(RepartitionWindowTest, NoticeNamesTheLettersOfTheChosenDisk) {
    english();
    plugStick(1, u"Stick");
    plugStick(2, u"Other");
    addVolume('G', 1);
    addVolume('E', 1);
    addVolume('F', 2);
    addVolume('H', -1);  // its disk cannot be read: never matches
    EXPECT_EQ(DriveLettersOnDisk(machine, u"1"), u" [E:, G:] ");
    EXPECT_EQ(DriveLettersOnDisk(machine, u"2"), u" [F:] ");
    EXPECT_EQ(DriveLettersOnDisk(machine, u"3"), u" ");
    EXPECT_EQ(DriveLettersOnDisk(machine, u"1110"), u" ");

    auto& w = open();
    machine.userSelect(w.ComboBox1F2, 0);
    machine.userClick(w.CheckBox1F2);
    EXPECT_EQ(lastDialog().spec.message,
              u"Attention:\r\n1. All partitions [E:, G:] and data on this disk will be lost.\r\n"
              u"2. We will create a new partition in FAT32 format.\r\n\r\n"
              u"If you want to store files larger than 4GB, try \"FAT32 && NTFS\" option.");
    EXPECT_EQ(lastDialog().spec.kind, DialogKind::Warning);
    ASSERT_EQ(lastDialog().spec.buttons.size(), 2u);
    EXPECT_EQ(lastDialog().spec.buttons[1].caption, u"Cancel");
}

TEST_F(RepartitionWindowTest, NoticesInBothLanguages) {
    plugStick(1, u"Stick");
    const Text viOne =
        u"Chú ý:\r\n1. Tất cả các phân vùng và dữ liệu trên đĩa này sẽ bị mất.\r\n"
        u"2. Chúng tôi sẽ tạo ra phân vùng mới ở định dạng FAT32.\r\n\r\n"
        u"Nếu bạn muốn lưu trữ tập tin lớn hơn 4GB, hãy thử tùy chọn \"FAT32 && NTFS\".";
    const Text viTwo =
        u"Chú ý:\r\n1. Tất cả các phân vùng và dữ liệu trên đĩa này sẽ bị mất.\r\n"
        u"2. Chúng tôi sẽ tạo ra hai phân vùng mới (NTFS && FAT32). Phân vùng FAT32 sẽ bị ẩn.\r\n"
        u"3. Tự động cài đặt Clover trên phân vùng FAT32.\r\n\r\n"
        u"Nếu bạn không thể khởi động vào chế độ UEFI, hãy thử tùy chọn \"Chỉ FAT32\".";
    const Text enTwo =
        u"Attention:\r\n1. All partitions and data on this disk will be lost.\r\n"
        u"2. We will create two new partitions (NTFS && FAT32). FAT32 partition will be "
        u"hidden.\r\n3. Auto install Clover on FAT32 partition.\r\n\r\n"
        u"If you can not boot into UEFI mode, try \"FAT32 only\" option.";

    auto& w = open();
    machine.userClick(w.CheckBox1F2);
    EXPECT_EQ(lastDialog().spec.message, viOne);
    machine.userClick(w.CheckBox2F2);
    EXPECT_EQ(lastDialog().spec.message, viTwo);
    EXPECT_EQ(lastDialog().spec.buttons[1].caption, u"Hủy bỏ");
    EXPECT_EQ(form.texts.ldautopart, viTwo);

    english();  // the open window and its notice keep their language
    EXPECT_EQ(form.texts.ldautopart, viTwo);
    EXPECT_EQ(machine.window(w.window).spec.title, u"Tự động phân vùng");
    machine.userClick(w.CheckBox2F2);  // untick
    machine.userClick(w.CheckBox2F2);
    EXPECT_EQ(lastDialog().spec.message, enTwo);
}

TEST_F(RepartitionWindowTest, LayoutOptionsExcludeEachOtherAndDriveTheSizeBox) {
    plugStick(1, u"Stick");
    auto& w = open();
    const auto sizeBoxEnabled = [&] {
        EXPECT_EQ(machine.enabled(w.Edit1V), machine.enabled(w.ComboBox2F2));
        return machine.enabled(w.Edit1V);
    };

    machine.answerDialogs({kResultOk, kResultOk});
    machine.userClick(w.CheckBox1F2);
    EXPECT_FALSE(sizeBoxEnabled());
    const Text fat32Notice = form.texts.ldautopart;
    machine.userClick(w.CheckBox2F2);
    EXPECT_EQ(dialogCount(), 2u);  // the unticked option shows no second notice
    EXPECT_FALSE(machine.checked(w.CheckBox1F2));
    EXPECT_TRUE(machine.checked(w.CheckBox2F2));
    EXPECT_TRUE(sizeBoxEnabled());
    const Text ntfsNotice = form.texts.ldautopart;
    EXPECT_NE(ntfsNotice, fat32Notice);

    // Cancelled while the other option stays ticked: the kept notice is still the ticked one's.
    machine.answerDialogs({kResultCancel});
    machine.userClick(w.CheckBox1F2);
    EXPECT_FALSE(machine.checked(w.CheckBox1F2));
    EXPECT_TRUE(machine.checked(w.CheckBox2F2));
    EXPECT_FALSE(sizeBoxEnabled());  // disabled before the notice, whatever the answer
    EXPECT_EQ(form.texts.ldautopart, ntfsNotice);
    EXPECT_EQ(dialogCount(), 3u);

    machine.userClick(w.CheckBox2F2);  // unticking does nothing else
    EXPECT_EQ(dialogCount(), 3u);
    EXPECT_FALSE(sizeBoxEnabled());
    machine.answerDialogs({kResultCancel});
    machine.userClick(w.CheckBox2F2);
    EXPECT_FALSE(machine.checked(w.CheckBox2F2));
    EXPECT_TRUE(sizeBoxEnabled());
}

TEST_F(RepartitionWindowTest, CleanDiskExplainsItselfWhenTickedAgain) {
    english();
    plugStick(1, u"Stick");
    auto& w = open();
    machine.userClick(w.CheckBox3F2);
    EXPECT_FALSE(machine.checked(w.CheckBox3F2));
    EXPECT_EQ(dialogCount(), 0u);
    machine.clearRecords();
    machine.answerDialogs({kResultCancel});
    machine.userClick(w.CheckBox3F2);
    ASSERT_EQ(dialogCount(), 1u);
    EXPECT_EQ(lastDialog().spec.message, form.texts.lcleandesc);
    EXPECT_EQ(lastDialog().spec.kind, DialogKind::Information);
    EXPECT_FALSE(machine.checked(w.CheckBox3F2));
    machine.userClick(w.CheckBox3F2);
    EXPECT_TRUE(machine.checked(w.CheckBox3F2));
    EXPECT_EQ(dialogCount(), 2u);
}

TEST_F(RepartitionWindowTest, TimerFollowsTheDisksAndEndsTheWindowWhenNoneIsLeft) {
    english();
    plugStick(1, u"Stick");
    plugStick(2, u"Card");
    auto& w = open();
    const ControlId list = w.ComboBox1F2;
    machine.userSelect(list, 0);
    machine.timerTick();
    EXPECT_EQ(machine.control(list).itemReplacements, 1);  // only when it was built
    EXPECT_EQ(machine.selectedIndex(list), 0);

    machine.setWindowEnabled(w.window, false);  // a run is under way
    plugStick(3, u"Third");
    machine.timerTick();
    EXPECT_EQ(machine.items(list).size(), 2u);
    machine.setWindowEnabled(w.window, true);
    machine.timerTick();
    EXPECT_EQ(machine.items(list).size(), 3u);
    EXPECT_EQ(machine.selectedIndex(list), 2);

    const WindowId window = w.window;
    unplug(1);
    unplug(2);
    unplug(3);
    machine.clearRecords();
    machine.timerTick();
    EXPECT_FALSE(form.Form2);
    EXPECT_TRUE(machine.window(window).destroyed);
    ASSERT_EQ(dialogCount(), 1u);
    EXPECT_EQ(lastDialog().spec.message.substr(0, 62),
              u"There are no hard disk on your PC is supported to repartition.");
}

TEST_F(RepartitionWindowTest, ClosingEnablesTheMainWindowAndAllowsANewWindow) {
    plugStick(1, u"Stick");
    const RepartitionWindow first = open();
    machine.setWindowEnabled(form.Form1, false);
    machine.userClose(first.window);
    EXPECT_FALSE(form.Form2);
    EXPECT_TRUE(machine.window(first.window).destroyed);
    EXPECT_TRUE(machine.windowEnabled(form.Form1));
    EXPECT_EQ(form.extraClickHandlers.count(first.CheckBox1F2), 0u);

    const auto& second = open();
    EXPECT_NE(second.window, first.window);
    EXPECT_EQ(machine.window(first.window).frontRequests, 0);
}

TEST_F(RepartitionWindowTest, DisksVanishingWhileADialogIsOpenEndTheWindowOnce) {
    plugStick(1, u"Stick");
    auto& w = open();
    const ControlId box = w.CheckBox1F2;
    // The timer keeps ticking inside every modal dialog.
    machine.dialogAnswerer = [&](const DialogSpec& spec) {
        machine.timerTick();
        return spec.defaultResult;
    };
    unplug(1);
    machine.registryKey(kEnum).dwords.clear();  // the disk driver's key is damaged too
    machine.userClick(box);
    EXPECT_FALSE(form.Form2);
    // The support error, the end of the window, the notice (each recorded as it closes): no
    // dialog stacks up on another.
    ASSERT_EQ(dialogCount(), 3u);
    EXPECT_EQ(machine.dialogs()[0].spec.message, form.texts.llerror);
    EXPECT_EQ(machine.dialogs()[1].spec.message, form.texts.lnosupportrepart);
    EXPECT_EQ(machine.dialogs()[2].spec.kind, DialogKind::Warning);
    EXPECT_EQ(machine.quitRequests(), 1);
}

}  // namespace
}  // namespace qel
