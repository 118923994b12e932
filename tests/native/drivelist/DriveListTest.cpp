#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "disk/DriveList.h"
#include "fake/FakeMachine.h"

namespace qel {
namespace {

using fake::FakeMachine;

TEST(FormatByteSize, ThresholdsAreStrictAndDecimalsFollowTheSeparator) {
    const std::pair<std::int64_t, const char16_t*> table[] = {
        {0, u" bytes"},           {-5, u"-5 bytes"},         {1024, u"1024 bytes"},
        {1025, u"1 KB"},          {1536, u"1.5 KB"},         {1152, u"1.13 KB"},
        {1034, u"1.01 KB"},       {1048576, u"1024 KB"},     {1048577, u"1 MB"},
        {1073741824, u"1024 MB"}, {16013942784, u"14.91 GB"}};
    for (const auto& [bytes, expected] : table) EXPECT_EQ(FormatByteSize(u'.', bytes), expected);
    EXPECT_EQ(FormatByteSize(u',', 16013942784), u"14,91 GB");
    EXPECT_EQ(FormatByteSize(u',', 1048576), u"1024 KB");
}

// The main window over a machine whose C: is the fixed system drive and current directory.
struct Drives : ::testing::Test {
    void addStick(char letter, Text label = u"BOOTSTICK") {
        fake::FakeVolume volume;
        volume.letter = letter;
        volume.totalBytes = 16013942784;
        volume.label = std::move(label);
        machine.addVolume(volume);
    }
    std::vector<Text> items() { return machine.items(window.ComboBox1); }
    int selected() { return machine.selectedIndex(window.ComboBox1); }
    bool formatTicked() { return machine.checked(window.CheckBox1); }
    bool formatEnabled() { return machine.enabled(window.CheckBox1); }

    FakeMachine machine;
    MainWindow window{machine};
};

TEST_F(Drives, ItemsInLetterOrderWithTheLastRemovableSelected) {
    addStick('E');
    fake::FakeVolume slot;  // a card reader without medium
    slot.letter = 'F';
    slot.disk = machine.addDisk(fake::FakeDisk::ofSize(0));
    machine.disk(slot.disk).present = false;
    machine.addVolume(slot);
    machine.addPlainDrive('D', win::DRIVE_CDROM, u"CDFS", u"DISC", 700 << 20);
    window.create();
    EXPECT_EQ(items(),
              (std::vector<Text>{u"E:\\ - 14.91 GB - FAT32 - BOOTSTICK", u"F:\\ -  bytes"}));
    EXPECT_EQ(selected(), 1);
    addStick('G', u"");
    machine.timerTick();
    EXPECT_EQ(items().back(), u"G:\\ - 14.91 GB - FAT32");
    EXPECT_EQ(selected(), 2);
}

TEST_F(Drives, UnchangedListKeepsTheUsersSelectionAndIsNotRewritten) {
    addStick('E');
    addStick('G');
    window.create();
    machine.userSelect(window.ComboBox1, 0);
    machine.timerTick();
    machine.timerTick();
    EXPECT_EQ(selected(), 0);
    EXPECT_EQ(machine.control(window.ComboBox1).itemReplacements, 1);
}

TEST_F(Drives, FixedDrivesOnlyWithTheHardDiskOptionAndTheSystemDriveCannotBeFormatted) {
    machine.addPlainDrive('D', win::DRIVE_FIXED, u"NTFS", u"DATA", 500ull << 30);
    window.create();
    EXPECT_TRUE(items().empty());
    machine.userClick(window.CheckBox3);
    machine.timerTick();
    EXPECT_EQ(items(),
              (std::vector<Text>{u"C:\\ - 256 GB - NTFS", u"D:\\ - 500 GB - NTFS - DATA"}));
    EXPECT_EQ(selected(), 0);
    EXPECT_FALSE(formatEnabled());
}

TEST_F(Drives, DriveOfTheCurrentDirectoryCannotBeFormatted) {
    addStick('E');
    machine.setCurrentDir(u"E:\\tools");
    window.create();
    EXPECT_FALSE(formatEnabled());
}

TEST_F(Drives, EmptiedListLeavesTheFormatOptionAlone) {
    addStick('E');
    window.create();
    machine.userClick(window.CheckBox1);  // confirmed with the default answer
    machine.volumes().clear();
    machine.timerTick();
    EXPECT_TRUE(items().empty());
    EXPECT_TRUE(formatTicked() && formatEnabled());
}

// A rewrite that moves the selection onto a drive that must not be formatted also clears the
// option, so a run cannot format the system drive with a tick given for another drive.
TEST_F(Drives, SelectionMovedOntoTheSystemDriveClearsTheFormatOption) {
    addStick('E');
    window.create();
    machine.userClick(window.CheckBox3);
    machine.timerTick();
    machine.userClick(window.CheckBox1);
    machine.volumes().clear();
    machine.timerTick();
    EXPECT_EQ(items(), std::vector<Text>{u"C:\\ - 256 GB - NTFS"});
    EXPECT_FALSE(formatTicked() || formatEnabled());
}

// After a rewrite moved the selection, picking the entry the window remembered from before is a
// real change: the option is cleared and the rule applied to the newly chosen drive.
TEST_F(Drives, PickingAnEntryAfterARewriteIsAlwaysSeenAsAChange) {
    addStick('E');
    window.create();
    machine.userClick(window.CheckBox3);
    machine.timerTick();  // C: and E:, E: selected
    machine.userClick(window.CheckBox1);
    machine.userSelect(window.ComboBox1, 0);  // the system drive
    EXPECT_FALSE(formatTicked() || formatEnabled());
}

}  // namespace
}  // namespace qel
