#include <gtest/gtest.h>

#include "disk/RemovableDisks.h"
#include "fake/FakeMachine.h"

namespace qel {
namespace {

const Text kEnum = u"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum";

class RemovableDiskList : public ::testing::Test {
protected:
    // A disk with the geometry of the sample stick (8,003,197,440 bytes) and its registry entry;
    // only its first sectors are kept in memory.
    void addDisk(int number, std::uint32_t mediaType, const Text& instancePath) {
        auto disk = fake::FakeDisk::ofSize(4096, 512, mediaType);
        disk.cylinders = 973;
        machine.setDisk(number, std::move(disk));
        machine.registryKey(kEnum).strings[decimal(number)] = instancePath;
    }
    void name(const Text& instancePath, const Text& value,
              const Text& valueName = u"FriendlyName") {
        machine.registryKey(u"SYSTEM\\CurrentControlSet\\Enum\\" + instancePath)
            .strings[valueName] = value;
    }
    void setCount(std::uint32_t count) { machine.registryKey(kEnum).dwords[u"Count"] = count; }

    std::vector<Text> list() {
        const RepartitionDiskList listed = ListRepartitionDisks(machine);
        EXPECT_EQ(machine.openRegistryKeys(), 0);
        EXPECT_EQ(machine.openHandles(), 0);
        unreadable = listed.unreadable;
        return listed.items;
    }
    // The list says it is incomplete and shows nothing itself.
    bool reportedUnreadable() {
        return unreadable && machine.quitRequests() == 0 && machine.dialogs().empty();
    }

    fake::FakeMachine machine;
    bool unreadable = false;
};

TEST_F(RemovableDiskList, ListsOnlyRemovableMediaWithTheirNamesAndSizes) {
    addDisk(0, 12, u"SCSI\\Disk&Ven_Internal\\1");
    name(u"SCSI\\Disk&Ven_Internal\\1", u"Internal SSD");
    addDisk(1, 11, u"USBSTOR\\Disk&Ven_Generic\\2");
    name(u"USBSTOR\\Disk&Ven_Generic\\2", u"Generic Flash Disk USB Device");
    addDisk(2, 12, u"USBSTOR\\Disk&Ven_Big\\3");  // a USB hard disk reporting fixed media
    name(u"USBSTOR\\Disk&Ven_Big\\3", u"Big USB Device");
    addDisk(3, 11, u"USBSTOR\\Disk&Ven_Card\\4");  // a card reader without medium
    name(u"USBSTOR\\Disk&Ven_Card\\4", u"Card Reader");
    machine.disk(3).present = false;
    setCount(4);

    const auto items = list();
    ASSERT_EQ(items, std::vector<Text>{u"RM1 - Generic Flash Disk USB - 7.45 GB"});
    EXPECT_FALSE(unreadable);
}

TEST_F(RemovableDiskList, DisplayNamesFallBackAndLoseEveryDeviceWord) {
    addDisk(0, 11, u"A");
    name(u"A", u"Twin Device Reader Device");
    addDisk(1, 11, u"B");
    name(u"B", u"Plain Stick");
    addDisk(2, 11, u"C");
    name(u"C", u"@disk.inf,%disk_devdesc%;Disk drive", u"DeviceDesc");
    addDisk(3, 11, u"E");
    machine.registryKey(u"SYSTEM\\CurrentControlSet\\Enum\\E");  // neither name
    setCount(4);

    const auto items = list();
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0], u"RM0 - Twin Reader - 7.45 GB");
    EXPECT_EQ(items[1], u"RM1 - Plain Stick - 7.45 GB");
    EXPECT_EQ(items[2], u"RM2 - @disk.inf,%disk_devdesc%;Disk drive - 7.45 GB");
    EXPECT_EQ(items[3], u"RM3 - Unknow - 7.45 GB");
}

TEST_F(RemovableDiskList, WalksPastGapsAndEndsWhenCountOverstatesTheValues) {
    addDisk(0, 12, u"A");
    name(u"A", u"Internal");
    addDisk(12, 11, u"B");
    name(u"B", u"Stick");
    setCount(2);
    auto items = list();
    ASSERT_EQ(items, std::vector<Text>{u"RM12 - Stick - 7.45 GB"});
    EXPECT_EQ(DiskNumberOfItem(items[0]), u"12");
    EXPECT_EQ(DiskNumberOfItem(u"RM7"), u"7");

    setCount(7);  // five values fewer than announced: the walk still ends
    items = list();
    EXPECT_EQ(items, std::vector<Text>{u"RM12 - Stick - 7.45 GB"});
    EXPECT_FALSE(unreadable);
}

TEST_F(RemovableDiskList, AMissingEnumKeyOrCountIsReportedUnreadable) {
    EXPECT_TRUE(list().empty());  // no key
    EXPECT_TRUE(reportedUnreadable());
    for (const bool keyRefusesToOpen : {false, true}) {
        machine = fake::FakeMachine();
        addDisk(1, 11, u"A");
        name(u"A", u"Stick");
        if (keyRefusesToOpen) {
            setCount(1);
            machine.registryKey(kEnum).openFails = true;
        }
        EXPECT_TRUE(list().empty());
        EXPECT_TRUE(reportedUnreadable());
    }
}

TEST_F(RemovableDiskList, AMissingDeviceEntryKeepsTheItemsGatheredSoFar) {
    addDisk(0, 11, u"A");
    name(u"A", u"First");
    addDisk(1, 11, u"Gone");
    addDisk(2, 11, u"C");
    name(u"C", u"Third");
    setCount(3);
    EXPECT_EQ(list(), std::vector<Text>{u"RM0 - First - 7.45 GB"});
    EXPECT_TRUE(reportedUnreadable());
}

}  // namespace
}  // namespace qel
