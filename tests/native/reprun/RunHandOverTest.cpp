// The end of a run: the drive letter, the boot code and the companion program.
#include <algorithm>

#include "ReprunBench.h"
#include "texts/Dialogs.h"

namespace qel::reprun_test {
namespace {

bool ranSyslinux(const Bench& b) {
    return std::ranges::any_of(
        b.lines(), [](const Text& line) { return line.find(u"syslinux64.exe\"") != Text::npos; });
}
bool menuHas(Bench& b, const std::string& block) {
    return b.machine.fileText(kRootA + u"\\QEL\\Menu\\Others.cfg").find(block) != std::string::npos;
}

TEST(RepartitionRunHandOver, ALetterThatCouldNotBeRemovedIsKeptForTheInstallers) {
    Bench b;
    b.machine.volumeByLetter('E')->deleteMountPointFails = true;
    b.choose(true);
    b.pressOk();
    EXPECT_EQ(b.machine.volumeByLetter('E')->guid, kVolumeA);
    EXPECT_EQ(b.machine.driveType(u"D:\\"), win::DRIVE_NO_ROOT_DIR);  // nothing mounted
    EXPECT_EQ(b.lines()[2].substr(0, 4), u"\"E:\\");
    EXPECT_EQ(b.lines().back(), u"E:\\QELCreator.exe");
    b.expectRunEnded();
}

TEST(RepartitionRunHandOver, TheVolumeIsMountedToTheFirstFreeLetter) {
    Bench b;
    b.machine.addPlainDrive('D', win::DRIVE_CDROM);
    b.machine.addPlainDrive('E', win::DRIVE_FIXED);
    b.choose(true);
    b.pressOk();
    EXPECT_EQ(b.machine.volumeByLetter('F')->guid, kVolumeA);
    EXPECT_EQ(b.lines().back(), u"F:\\QELCreator.exe");
    EXPECT_EQ(b.machine.processes().back().currentDirectory, u"F:\\");
    b.expectRunEnded();
}

// Syslinux boots NTFS only with clusters of at most 4096 bytes (512-byte sectors here).
TEST(RepartitionRunHandOver, SyslinuxGoesOnTheNtfsVolumeOnlyWithSmallClusters) {
    for (const auto& [sectorsPerCluster, installed] :
         {std::pair{8u, true}, std::pair{16u, false}, std::pair{0u, false}}) {
        Bench b;
        b.sectorsPerCluster = sectorsPerCluster;
        b.choose(false);
        b.pressOk();
        EXPECT_EQ(ranSyslinux(b), installed) << sectorsPerCluster;
        EXPECT_EQ(menuHas(b, "### Start Syslinux Legacy"), installed) << sectorsPerCluster;
        EXPECT_EQ(b.progress().end()[-2], u"Installing Syslinux... (8/9)");
        b.expectRunEnded();
    }
}

TEST(RepartitionRunHandOver, WithoutGrub2NeitherSyslinuxNorCloverIsInstalled) {
    Bench b;
    b.grub2InPayload = false;
    b.choose(true);
    b.pressOk();
    EXPECT_EQ(b.progress(),
              (std::vector<Text>{u"Being clean disk (1/6)", u"Creating new partition (2/6)",
                                 u"Copying files (3/6)", u"Installing Grub2... (4/6)",
                                 u"Launching QELCreator.exe..."}));
    EXPECT_FALSE(ranSyslinux(b));
    EXPECT_FALSE(b.machine.hasFile(kRootA + u"\\EFI\\CLOVER\\CloverLegacy"));
    EXPECT_TRUE(b.machine.hasFile(kRootA + u"\\autorun.inf"));
    EXPECT_EQ(b.lines().back(), u"D:\\QELCreator.exe");
}

// Without a drive letter the boot code that needs one is left out, and the companion program is
// not started from some other drive; a failed mount still ends with the unplug message.
TEST(RepartitionRunHandOver, WithoutADriveLetterTheStepsThatNeedOneAreLeftOut) {
    for (const bool mountFails : {false, true}) {
        Bench b;
        if (mountFails) {  // Windows gave the new volume a letter of its own meanwhile
            b.afterLayoutChange = [](FakeMachine& m, int) {
                if (auto* volume = m.volumeByGuid(kVolumeA)) volume->letter = 'G';
            };
        } else {
            for (char letter = 'D'; letter <= 'Z'; ++letter)
                b.machine.addPlainDrive(letter, win::DRIVE_FIXED);
        }
        b.machine.putFile(u"C:\\QELCreator.exe", std::string("planted"));
        b.machine.setCurrentDir(u"C:\\");
        b.choose(true);
        b.pressOk();
        EXPECT_EQ(b.progress().back(), u"Launching QELCreator.exe...");
        EXPECT_EQ(b.progress().size(), 4u);            // clean disk, partition, copying, launching
        EXPECT_EQ(b.lines().size(), 2u);               // the formatter and 7-Zip only
        EXPECT_EQ(b.machine.disk(kDisk).bytes[0], 0);  // no Grub2 boot code
        EXPECT_TRUE(b.machine.hasFile(kRootA + u"\\autorun.inf"));
        EXPECT_EQ(b.messages().back(), mountFails ? b.form.texts.lunplug : b.form.texts.ldautopart);
        b.expectRunEnded();
    }
}

}  // namespace
}  // namespace qel::reprun_test
