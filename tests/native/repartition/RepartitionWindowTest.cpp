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
        form.create();  // the interface starts in Vietnamese
    }

    // A removable disk (8,003,197,440 bytes by its geometry) registered with the disk driver.
    void plugStick(int number, const Text& name) {
        auto disk = fake::FakeDisk::ofSize(4096);
        disk.cylinders = 973;
        machine.setDisk(number, std::move(disk));
        const Text path = u"USBSTOR\\" + decimal(number);
        machine.registryKey(kEnum).strings[decimal(number)] = path;
        machine.registryKey(u"SYSTEM\\CurrentControlSet\\Enum\\" + path).strings[u"FriendlyName"] =
            name;
        recount();
    }
    void unplug(int number) {
        machine.registryKey(kEnum).strings.erase(decimal(number));
        recount();
    }
    void recount() {
        auto& entry = machine.registryKey(kEnum);
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
    const RepartitionControls& open() {
        machine.userClick(form.Button3);
        EXPECT_TRUE(form.repartition.isOpen());
        return form.repartition.controls();
    }
    const DialogSpec& lastDialog() { return machine.dialogs().back().params; }
    std::size_t dialogCount() { return machine.dialogs().size(); }

    fake::FakeMachine machine;
    MainWindow form{machine};
};

TEST_F(RepartitionWindowTest, WithoutRemovableDiskNoWindowIsBuilt) {
    machine.setWindowEnabled(form.Form1, false);
    form.Button3Click();  // as the bootloader pre-check triggers it during a run
    EXPECT_FALSE(form.repartition.isOpen());
    ASSERT_EQ(dialogCount(), 1u);
    EXPECT_EQ(lastDialog().message, form.texts.lnosupportrepart);
    EXPECT_EQ(lastDialog().kind, DialogKind::Information);
    EXPECT_EQ(lastDialog().buttons.size(), 1u);
    EXPECT_TRUE(machine.windowEnabled(form.Form1));
}

TEST_F(RepartitionWindowTest, WindowIsBuiltAtItsLayoutWithItsStartingStates) {
    plugStick(1, u"Generic Flash Disk USB Device");
    plugStick(2, u"Card");
    auto& w = open();
    EXPECT_EQ(dialogCount(), 0u);  // "Clean Disk" starts ticked without its notice

    const auto& window = machine.window(w.window);
    EXPECT_TRUE(window.shown && window.onTop);
    EXPECT_EQ(window.params.title, u"Tự động phân vùng");  // the AutoPartition button's caption
    EXPECT_EQ(window.params.centreOver, form.Form1);
    EXPECT_EQ(machine.clientSize(w.window), std::make_pair(320, 230));
    EXPECT_EQ(machine.bounds(w.ComboBox1F2), (Rect{8, 61, 304, 24}));
    EXPECT_EQ(machine.bounds(w.CheckBox2F2), (Rect{8, 118, 304, 17}));
    const Rect label = machine.bounds(w.Label3F2);
    const Rect size = machine.bounds(w.Edit1V);
    EXPECT_EQ(label, (Rect{27, 143, machine.textWidth(w.Label3F2, u"FAT32 Size"), 21}));
    EXPECT_EQ(size.left, label.right() + 4);
    EXPECT_EQ(size.right() + 4, machine.bounds(w.ComboBox2F2).left);
    EXPECT_EQ(machine.bounds(w.ComboBox2F2), (Rect{252, 143, 60, 21}));
    EXPECT_EQ(machine.bounds(w.Button1F2), (Rect{75, 197, 170, 25}));

    EXPECT_EQ(
        machine.items(w.ComboBox1F2),
        (std::vector<Text>{u"RM1 - Generic Flash Disk USB - 7.45 GB", u"RM2 - Card - 7.45 GB"}));
    EXPECT_EQ(machine.selectedIndex(w.ComboBox1F2), 1);
    EXPECT_EQ(machine.caption(w.CheckBox1F2), u"Chỉ FAT32 (Khuyến nghị)");
    EXPECT_EQ(machine.caption(w.CheckBox3F2), u"Làm sạch đĩa (Khuyến nghị)");
    EXPECT_FALSE(machine.checked(w.CheckBox1F2) || machine.checked(w.CheckBox2F2));
    EXPECT_TRUE(machine.checked(w.CheckBox3F2));
    const auto& edit = machine.control(w.Edit1V).params;
    EXPECT_EQ(edit.caption, u"160");
    EXPECT_TRUE(edit.digitsOnly && edit.tabOrder == -1 && !edit.enabled);
    EXPECT_FALSE(machine.enabled(w.ComboBox2F2));
    EXPECT_EQ(machine.items(
                  w.ComboBox2F2)[static_cast<std::size_t>(machine.selectedIndex(w.ComboBox2F2))],
              u"MB");

    machine.userClick(form.Button3);  // a second click brings this window forward
    EXPECT_EQ(form.repartition.controls().window, w.window);
    EXPECT_EQ(machine.window(w.window).frontRequests, 1);
}

TEST_F(RepartitionWindowTest, LetterListNamesTheDrivesOnTheChosenDisk) {
    english();
    plugStick(1, u"Stick");
    plugStick(2, u"Other");
    addVolume('G', 1);
    addVolume('E', 1);
    addVolume('F', 2);
    addVolume('H', -1);  // its disk cannot be read: never matches
    EXPECT_EQ(DriveLettersOnDisk(machine, u"1110"), u" ");
    EXPECT_EQ(DriveLettersOnDisk(machine, u"3"), u" ");

    auto& w = open();
    machine.userSelect(w.ComboBox1F2, 0);
    machine.userClick(w.CheckBox1F2);
    EXPECT_EQ(lastDialog().message,
              u"Attention:\r\n1. All partitions [E:, G:] and data on this disk will be lost.\r\n"
              u"2. We will create a new partition in FAT32 format.\r\n\r\n"
              u"If you want to store files larger than 4GB, try \"FAT32 && NTFS\" option.");
    EXPECT_EQ(lastDialog().kind, DialogKind::Warning);
    EXPECT_EQ(lastDialog().buttons.at(1).caption, u"Cancel");
}

TEST_F(RepartitionWindowTest, NoticesFollowTheLanguageTheyWereComposedIn) {
    plugStick(1, u"Stick");
    auto& w = open();
    machine.userClick(w.CheckBox1F2);
    EXPECT_EQ(lastDialog().message,
              u"Chú ý:\r\n1. Tất cả các phân vùng và dữ liệu trên đĩa này sẽ bị mất.\r\n"
              u"2. Chúng tôi sẽ tạo ra phân vùng mới ở định dạng FAT32.\r\n\r\n"
              u"Nếu bạn muốn lưu trữ tập tin lớn hơn 4GB, hãy thử tùy chọn \"FAT32 && NTFS\".");
    machine.userClick(w.CheckBox2F2);
    const Text viTwo =
        u"Chú ý:\r\n1. Tất cả các phân vùng và dữ liệu trên đĩa này sẽ bị mất.\r\n"
        u"2. Chúng tôi sẽ tạo ra hai phân vùng mới (NTFS && FAT32). Phân vùng FAT32 sẽ bị ẩn.\r\n"
        u"3. Tự động cài đặt Clover trên phân vùng FAT32.\r\n\r\n"
        u"Nếu bạn không thể khởi động vào chế độ UEFI, hãy thử tùy chọn \"Chỉ FAT32\".";
    EXPECT_EQ(lastDialog().message, viTwo);
    EXPECT_EQ(lastDialog().buttons.at(1).caption, u"Hủy bỏ");

    english();  // what was composed keeps its language
    EXPECT_EQ(form.texts.ldautopart, viTwo);
    machine.userClick(w.CheckBox2F2);  // untick
    machine.userClick(w.CheckBox2F2);
    EXPECT_EQ(lastDialog().message,
              u"Attention:\r\n1. All partitions and data on this disk will be lost.\r\n"
              u"2. We will create two new partitions (NTFS && FAT32). FAT32 partition will be "
              u"hidden.\r\n3. Auto install Clover on FAT32 partition.\r\n\r\n"
              u"If you can not boot into UEFI mode, try \"FAT32 only\" option.");
}

TEST_F(RepartitionWindowTest, LayoutOptionsExcludeEachOtherAndDriveTheSizeBox) {
    plugStick(1, u"Stick");
    auto& w = open();
    const auto sizeBoxEnabled = [&] {
        EXPECT_EQ(machine.enabled(w.Edit1V), machine.enabled(w.ComboBox2F2));
        return machine.enabled(w.Edit1V);
    };
    machine.answerDialogs({kResultOk, kResultOk, kResultCancel, kResultCancel});
    machine.userClick(w.CheckBox1F2);
    EXPECT_FALSE(sizeBoxEnabled());
    machine.userClick(w.CheckBox2F2);
    EXPECT_EQ(dialogCount(), 2u);  // the option unticked by OK shows no notice
    EXPECT_FALSE(machine.checked(w.CheckBox1F2));
    EXPECT_TRUE(sizeBoxEnabled());
    const Text ntfsNotice = form.texts.ldautopart;

    // Cancelled while the other option stays ticked: the kept notice is still the ticked one's.
    machine.userClick(w.CheckBox1F2);
    EXPECT_FALSE(machine.checked(w.CheckBox1F2));
    EXPECT_TRUE(machine.checked(w.CheckBox2F2));
    EXPECT_FALSE(sizeBoxEnabled());  // disabled before the notice, whatever the answer
    EXPECT_EQ(form.texts.ldautopart, ntfsNotice);

    machine.userClick(w.CheckBox2F2);  // unticking does nothing else
    EXPECT_EQ(dialogCount(), 3u);
    EXPECT_FALSE(sizeBoxEnabled());
    machine.userClick(w.CheckBox2F2);  // cancelled: unticked, the size box stays enabled
    EXPECT_FALSE(machine.checked(w.CheckBox2F2));
    EXPECT_TRUE(sizeBoxEnabled());
}

TEST_F(RepartitionWindowTest, CleanDiskExplainsItselfWhenTickedAgain) {
    plugStick(1, u"Stick");
    auto& w = open();
    machine.userClick(w.CheckBox3F2);
    EXPECT_EQ(dialogCount(), 0u);
    machine.answerDialogs({kResultCancel});
    machine.userClick(w.CheckBox3F2);
    ASSERT_EQ(dialogCount(), 1u);
    EXPECT_EQ(lastDialog().message, form.texts.lcleandesc);
    EXPECT_EQ(lastDialog().kind, DialogKind::Information);
    EXPECT_FALSE(machine.checked(w.CheckBox3F2));
    machine.userClick(w.CheckBox3F2);
    EXPECT_TRUE(machine.checked(w.CheckBox3F2));
}

TEST_F(RepartitionWindowTest, TimerFollowsTheDisksAndEndsTheWindowWhenNoneIsLeft) {
    plugStick(1, u"Stick");
    plugStick(2, u"Card");
    auto& w = open();
    const ControlId list = w.ComboBox1F2;
    machine.userSelect(list, 0);
    machine.timerTick();
    EXPECT_EQ(machine.control(list).itemReplacements, 1);  // unchanged: not rewritten
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
    for (int n : {1, 2, 3}) unplug(n);
    machine.timerTick();
    EXPECT_FALSE(form.repartition.isOpen());
    EXPECT_TRUE(machine.window(window).destroyed);
    ASSERT_EQ(dialogCount(), 1u);
    EXPECT_EQ(lastDialog().message, form.texts.lnosupportrepart);
}

TEST_F(RepartitionWindowTest, ClosingEnablesTheMainWindowAndForgetsTheControls) {
    plugStick(1, u"Stick");
    const RepartitionControls first = open();
    machine.setWindowEnabled(form.Form1, false);
    machine.userClose(first.window);
    EXPECT_FALSE(form.repartition.isOpen());
    EXPECT_TRUE(machine.window(first.window).destroyed);
    EXPECT_TRUE(machine.windowEnabled(form.Form1));
    EXPECT_EQ(form.extraClickHandlers.count(first.CheckBox1F2), 0u);
    EXPECT_NE(open().window, first.window);
}

TEST_F(RepartitionWindowTest, DisksVanishingWhileADialogIsOpenEndTheWindowOnce) {
    plugStick(1, u"Stick");
    const ControlId box = open().CheckBox1F2;
    machine.dialogAnswerer = [&](const DialogSpec& params) {
        machine.timerTick();  // the timer keeps ticking inside every modal dialog
        return params.defaultResult;
    };
    unplug(1);
    machine.registryKey(kEnum).dwords.clear();  // the disk driver's key is damaged too
    machine.userClick(box);
    EXPECT_FALSE(form.repartition.isOpen());
    // The support error, the end of the window, the notice (each recorded as it closes): no
    // dialog stacks up on another.
    ASSERT_EQ(dialogCount(), 3u);
    EXPECT_EQ(machine.dialogs()[0].params.message, form.texts.llerror);
    EXPECT_EQ(machine.dialogs()[1].params.message, form.texts.lnosupportrepart);
    EXPECT_EQ(machine.dialogs()[2].params.kind, DialogKind::Warning);
    EXPECT_EQ(machine.quitRequests(), 1);
}

}  // namespace
}  // namespace qel
