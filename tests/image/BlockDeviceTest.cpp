// Which block devices qel-headless refuses to write, over a made-up /sys tree and tables: a disk
// (8:16) with the partitions sdb1 (8:17) and sdb2 (8:18); the system on sda1 (8:1).
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>

#include "BlockDevices.h"
#include "ImageTestSupport.h"

namespace qel::image::test {
namespace {

namespace fs = std::filesystem;

const dev_t kStick = makedev(8, 16);

class BlockDeviceTest : public ::testing::Test {
protected:
    TemporaryFolder sysfs{"qel-sysfs-"};
    SystemTables system;

    void SetUp() override {
        device("8:16", {});
        device("8:16/sdb1", "8:17");
        device("8:16/sdb2", "8:18");
        device("8:1", {});
        device("253:0", {});
        system.sysfs = sysfs.path();
        system.rootDevice = makedev(8, 1);
        system.mountInfo = "22 1 8:1 / / rw,relatime - ext4 /dev/sda1 rw\n";
        system.swaps = "Filename\tType\tSize\tUsed\tPriority\n";
        system.deviceOf = [](const std::string& path) -> std::optional<dev_t> {
            if (path == "/dev/sdb1") return makedev(8, 17);
            if (path == "/dev/sdb2") return makedev(8, 18);
            return std::nullopt;
        };
    }
    // A device folder under dev/block; a partition has its "partition" and "dev" files and a
    // link dev/block/<its numbers> to its folder in the disk's.
    void device(const std::string& at, const std::optional<std::string>& partitionNumbers) {
        const fs::path folder = fs::path(sysfs.path()) / "dev/block" / at;
        fs::create_directories(folder / "holders");
        fs::create_directories(folder / "slaves");
        if (partitionNumbers) {
            std::ofstream(folder / "partition") << "1\n";
            std::ofstream(folder / "dev") << *partitionNumbers << "\n";
            fs::create_directory_symlink(folder,
                                         folder.parent_path().parent_path() / *partitionNumbers);
        }
    }
    std::string verdict() { return blockDeviceInUse(kStick, system).value_or("free"); }
};

TEST_F(BlockDeviceTest, AStickIsRefusedWhileAnyPartOfItIsInUse) {
    EXPECT_EQ(verdict(), "free");
    EXPECT_EQ(blockDeviceInUse(makedev(8, 17), system),
              "it is a partition; name the whole disk it belongs to");

    const auto base = system;
    system.mountInfo += "36 22 8:18 / /media/user/MY\\040STICK rw - vfat /dev/sdb2 rw\n";
    EXPECT_EQ(verdict(), "it or one of its partitions is mounted at /media/user/MY STICK");
    // A file system whose device number is not the partition's is found by its source.
    system = base;
    system.mountInfo += "40 22 0:45 / /mnt/data rw - btrfs /dev/sdb1 rw\n";
    EXPECT_EQ(verdict(), "it or one of its partitions is mounted at /mnt/data");

    system = base;
    system.swaps += "/dev/sdb2\tpartition\t1048572\t0\t-2\n";
    EXPECT_EQ(verdict(), "it holds the swap area /dev/sdb2");

    system = base;
    system.rootDevice = makedev(8, 17);
    EXPECT_EQ(verdict(), "it holds the running system's root file system");
    // The root file system on a device-mapper device built on the stick's first partition.
    system.rootDevice = makedev(253, 0);
    fs::create_directories(fs::path(sysfs.path()) / "dev/block/253:0/slaves/sdb1");
    std::ofstream(fs::path(sysfs.path()) / "dev/block/253:0/slaves/sdb1/dev") << "8:17\n";
    EXPECT_EQ(verdict(), "it holds the running system's root file system");

    system = base;
    fs::create_directories(fs::path(sysfs.path()) / "dev/block/8:16/sdb2/holders/md127");
    EXPECT_EQ(verdict(), "it or one of its partitions is in use by md127");
}

}  // namespace
}  // namespace qel::image::test
