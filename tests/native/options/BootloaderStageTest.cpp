#include "app/BootloaderStage.h"

#include "native/options/OptionsBench.h"
#include "repartition/RepartitionWindow.h"

namespace qel {
namespace {

using options_test::Bench;
using options_test::kDisk0;
using options_test::kSyslinuxBin;
using options_test::Stick;

const Text kUncore = u"\\QEL\\grub\\i386-pc\\uncore.img";
const Text kMsdosFat = u"\\QEL\\grub\\i386-pc\\msdos_fat.img";
const Text kMsdosExfat = u"\\QEL\\grub\\i386-pc\\msdos_exfat.img";
const std::string kSyslinuxBlock = "### Start Syslinux Legacy";
const std::string kCloverBlock = "### Start Clover Legacy";

TEST(BootloaderPrecheck, CoreImageByTheFirstRowThatFits) {
    struct Case {
        std::int64_t offset;
        const char16_t* fileSystem;
        Text expected;
    };
    const Case cases[] = {
        {68096, u"", kUncore},  // whatever the file system, even an unknown one
        {68096, u"exFAT", kUncore},
        {68095, u"NTFS", kMsdosFat},
        {62976, u"FAT32", kMsdosFat},
        {62976, u"FAT16", kMsdosFat},
        {62976, u"FAT12", kMsdosFat},
        {62976, u"FAT", kMsdosFat},
        {62975, u"FAT32", {}},
        {66048, u"exFAT", kMsdosExfat},
        {66047, u"exFAT", {}},
        {65536, u"NTFS", kMsdosFat},
        // Names are compared exactly.
        {66048, u"fat32", {}},
        {66048, u"EXFAT", {}},
        {66048, u"NTFS ", {}},
        {66048, u"ReFS", {}},
        // Offsets are signed: a negative one fits nothing.
        {-1, u"FAT32", {}},
        {INT64_MIN, u"exFAT", {}},
        {INT64_MAX, u"", kUncore},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.offset << " " << toUtf8(c.fileSystem));
        EXPECT_EQ(ChooseCoreImage(c.offset, c.fileSystem), c.expected);
    }
}

TEST(BootloaderPrecheck, NoRoomForTheCoreImageOffersRepartitioningAndTheRunStays) {
    struct Case {
        std::uint32_t firstSector;
        const char16_t* fileSystem;
    };
    // Sector 63 whatever the file system; exFAT at sector 128 (65,536 bytes).
    for (const Case c : {Case{63, u"FAT32"}, Case{63, u"NTFS"}, Case{63, u"exFAT"},
                         Case{63, u"ReFS"}, Case{128, u"exFAT"}}) {
        SCOPED_TRACE(testing::Message() << c.firstSector << " " << toUtf8(c.fileSystem));
        Bench bench(Stick{.firstSector = c.firstSector, .fileSystem = c.fileSystem});
        bench.openWindow(true, true);  // the format confirmation does not come
        bench.machine.answerDialogs({kResultCancel});
        bench.clickOk();

        ASSERT_EQ(bench.machine.dialogs().size(), 1u);
        const DialogSpec& prompt = bench.machine.dialogs()[0].spec;
        EXPECT_EQ(prompt.message, bench.window.texts.llrepart);
        EXPECT_EQ(prompt.message.substr(0, 40), u"This disk devices need to repartition.\r\n");
        EXPECT_EQ(prompt.kind, DialogKind::Warning);
        ASSERT_EQ(prompt.buttons.size(), 2u);
        EXPECT_EQ(prompt.buttons[1].caption, u"Cancel");
        EXPECT_FALSE(bench.window.Form2);
        EXPECT_TRUE(bench.window.ticked(bench.window.CheckBox1));
        EXPECT_TRUE(bench.window.ticked(bench.window.CheckBox2));
        bench.expectStayed();
    }
}

TEST(BootloaderPrecheck, AcceptingRepartitioningOpensTheRepartitionWindow) {
    Bench bench(Stick{.firstSector = 63});
    const Text enumKey = u"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum";
    bench.machine.registryKey(enumKey).strings[u"0"] = u"USBSTOR\\0";
    bench.machine.registryKey(enumKey).dwords[u"Count"] = 1;
    bench.machine.registryKey(u"SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\0")
        .strings[u"FriendlyName"] = u"Stick";
    bench.openWindow(false, true);
    bench.machine.answerDialogs({kResultOk});
    bench.clickOk();

    EXPECT_EQ(bench.dialogMessages(), std::vector<Text>{bench.window.texts.llrepart});
    ASSERT_TRUE(bench.window.Form2);
    EXPECT_TRUE(bench.machine.window(bench.window.Form2->window).shown);
    bench.expectStayed();
}

TEST(BootloaderPrecheck, DisksThatAreNotMbrLoseTheOptionSilently) {
    for (const char* style : {"GPT", "unreadable"}) {
        SCOPED_TRACE(style);
        Bench bench(Stick{.firstSector = 63, .style = style});
        if (std::string(style) == "unreadable") bench.machine.disk(0).failLayoutRequest = true;
        bench.openWindow(false, true);
        const Text caption = bench.machine.caption(bench.window.CheckBox2);
        bench.clickOk();
        EXPECT_TRUE(bench.machine.dialogs().empty());
        EXPECT_FALSE(bench.window.ticked(bench.window.CheckBox2));
        EXPECT_EQ(bench.machine.caption(bench.window.CheckBox2), caption);
        EXPECT_EQ(bench.machine.disk(0).writeCount, 0u);
        EXPECT_FALSE(bench.machine.hasFile(options_test::kMenuFile));
        bench.expectCompleted();
    }
}

TEST(BootloaderInstall, Fat32GetsGrub2CloverAndSyslinuxWithBothMenuEntries) {
    Bench bench(Stick{.firstSector = 123});  // 62,976 bytes: msdos_fat.img just fits
    bench.openWindow(false, true);
    bench.machine.putFile(kSyslinuxBin, std::string("an earlier run's"));
    bench.clickOk();

    EXPECT_TRUE(bench.machine.dialogs().empty());
    EXPECT_TRUE(bench.grub2Installed(u"msdos_fat.img"));
    EXPECT_TRUE(bench.cloverInstalled());
    EXPECT_TRUE(bench.menuHas(kCloverBlock));
    EXPECT_TRUE(bench.menuHas(kSyslinuxBlock));
    EXPECT_FALSE(bench.staleBootSectorThere);  // deleted before the installer ran
    EXPECT_EQ(bench.syslinuxCaption, u"Installing Syslinux...");
    EXPECT_EQ(bench.machine.processes().back().showWindow, win::SW_HIDE);
    bench.expectCompleted();
}

TEST(BootloaderInstall, SyslinuxCommandLineFollowsTheWindowsWordSize) {
    for (const bool wow64 : {false, true}) {
        SCOPED_TRACE(wow64 ? "64-bit Windows" : "32-bit Windows");
        Bench bench;
        bench.machine.setWow64(wow64);
        bench.openWindow(false, true);
        bench.clickOk();
        const Text installer = wow64 ? u"syslinux64.exe" : u"syslinux.exe";
        EXPECT_EQ(bench.commandLines().back(),
                  u"\"E:\\QEL\\Tools\\syslinux\\syslinux\\" + installer +
                      u"\" -f -d /QEL/Tools/syslinux/syslinux E: "
                      u"E:\\QEL\\Tools\\syslinux\\syslinux\\syslinux.bin");
        EXPECT_TRUE(bench.menuHas(kSyslinuxBlock));
    }
    EXPECT_EQ(SyslinuxCommandLine(u"F:", true),
              u"\"F:\\QEL\\Tools\\syslinux\\syslinux\\syslinux64.exe\" -f -d "
              u"/QEL/Tools/syslinux/syslinux F: F:\\QEL\\Tools\\syslinux\\syslinux\\syslinux.bin");
}

TEST(BootloaderInstall, Fat16FormattedToFat32KeepsItsCoreImageAndGetsCloverAndSyslinux) {
    Bench bench(Stick{.firstSector = 123, .fileSystem = u"FAT16"});
    bench.openWindow(true, true);
    bench.clickOk();

    EXPECT_EQ(bench.dialogMessages().size(), 1u);  // the format confirmation alone
    EXPECT_EQ(bench.commandLines().size(), 3u);    // format.com, 7-Zip, Syslinux
    EXPECT_TRUE(bench.grub2Installed(u"msdos_fat.img"));
    EXPECT_TRUE(bench.cloverInstalled());
    EXPECT_TRUE(bench.menuHas(kCloverBlock));
    EXPECT_TRUE(bench.menuHas(kSyslinuxBlock));
    bench.expectCompleted();
}

TEST(BootloaderInstall, ExfatGetsGrub2Alone) {
    Bench bench(Stick{.firstSector = 129, .fileSystem = u"exFAT"});  // 66,048 bytes
    bench.machine.putFile(kSyslinuxBin, std::string("kept"));
    bench.openWindow(false, true);
    bench.clickOk();
    EXPECT_TRUE(bench.machine.dialogs().empty());
    EXPECT_TRUE(bench.grub2Installed(u"msdos_exfat.img"));
    EXPECT_FALSE(bench.cloverInstalled());
    EXPECT_FALSE(bench.ran(u"syslinux"));
    EXPECT_EQ(bench.menu(), "");
    EXPECT_EQ(bench.machine.fileText(kSyslinuxBin), "kept");
    EXPECT_EQ(bench.machine.caption(bench.window.CheckBox2), u"Installing Grub2...");
    bench.expectCompleted();
}

TEST(BootloaderInstall, NtfsGetsSyslinuxOnlyWithClustersOfAtMost4096Bytes) {
    struct Case {
        std::uint32_t bytesPerSector;
        std::uint32_t sectorsPerCluster;
        bool syslinux;
    };
    const Case cases[] = {
        {512, 8, true},    // 4096
        {512, 1, true},    // 512
        {512, 16, false},  // 8192
        {512, 0, false},   // unreadable
        {4096, 1, true},
        {4096, 2, false},
        {4096, (1u << 20) + 1, false},  // 4 GiB and 4096 bytes, not 4096 bytes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sectorsPerCluster << " × " << c.bytesPerSector);
        Bench bench(Stick{.fileSystem = u"NTFS", .sectorsPerCluster = c.sectorsPerCluster});
        bench.machine.disk(0).bytesPerSector = c.bytesPerSector;
        bench.machine.putFile(kSyslinuxBin, std::string("left alone on NTFS"));
        bench.openWindow(false, true);
        bench.clickOk();

        EXPECT_TRUE(
            bench.grub2Installed(u"uncore.img", static_cast<std::int32_t>(c.bytesPerSector)));
        EXPECT_FALSE(bench.cloverInstalled());
        EXPECT_EQ(bench.ran(u"syslinux"), c.syslinux);
        EXPECT_EQ(bench.menuHas(kSyslinuxBlock), c.syslinux);
        EXPECT_FALSE(bench.menuHas(kCloverBlock));
        EXPECT_EQ(bench.machine.caption(bench.window.CheckBox2), u"Installing Syslinux...");
        if (c.syslinux) {
            EXPECT_TRUE(bench.staleBootSectorThere);
        }
        bench.expectCompleted();
    }
}

TEST(BootloaderInstall, AnInstalledBootAreaIsNotWrittenAgain) {
    Bench bench(Stick{.fileSystem = u"NTFS"});
    bench.openWindow(false, true);
    bench.machine.onPump = [&] {  // 7-Zip has left the payload; an earlier run's boot area
        if (bench.machine.disk(0).writeCount != 0 ||
            !bench.machine.hasFile(u"E:\\QEL\\razevor.ico"))
            return;
        ASSERT_TRUE(InstallGrub2Mbr(bench.machine, kDisk0, u"E:", u"E:" + kUncore, 512));
    };
    bench.clickOk();
    EXPECT_EQ(bench.machine.disk(0).writeCount, 1u);
    EXPECT_TRUE(bench.grub2Installed(u"uncore.img"));
    EXPECT_TRUE(bench.menuHas(kSyslinuxBlock));
}

TEST(BootloaderInstall, AFailedGrub2InstallSkipsCloverAndSyslinux) {
    const char* failures[] = {"disk write fails", "geometry unreadable", "no boot image"};
    for (const std::string failure : failures) {
        SCOPED_TRACE(failure);
        Bench bench;
        if (failure == "disk write fails") bench.machine.disk(0).failWrites = true;
        if (failure == "geometry unreadable") bench.machine.disk(0).failGeometry = true;
        bench.openWindow(false, true);
        if (failure == "no boot image")
            bench.machine.onPump = [&] {
                bench.machine.deleteFile(u"E:\\QEL\\grub\\i386-pc\\boot.img");
            };
        bench.clickOk();

        EXPECT_TRUE(bench.machine.dialogs().empty());  // not reported
        EXPECT_FALSE(bench.grub2Installed(u"uncore.img"));
        EXPECT_FALSE(bench.cloverInstalled());
        EXPECT_FALSE(bench.ran(u"syslinux"));
        EXPECT_EQ(bench.menu(), "");
        EXPECT_EQ(bench.machine.caption(bench.window.CheckBox2), u"Installing Grub2...");
        bench.expectCompleted();
    }
}

TEST(BootloaderInstall, FailuresAfterGrub2SkipOnlyWhatDependsOnThem) {
    {
        SCOPED_TRACE("Clover's boot code missing");
        Bench bench;
        bench.openWindow(false, true);
        bench.machine.onPump = [&] {
            bench.machine.deleteFile(u"E:\\QEL\\Tools\\Clover\\boot1f32");
        };
        bench.clickOk();
        EXPECT_FALSE(bench.menuHas(kCloverBlock));
        EXPECT_TRUE(bench.menuHas(kSyslinuxBlock));
        bench.expectCompleted();
    }
    for (const options_test::Outcome syslinux :
         {options_test::Outcome{.starts = false}, options_test::Outcome{.exitCode = 1},
          options_test::Outcome{.exitCodeReadable = false}}) {
        SCOPED_TRACE(testing::Message() << "Syslinux starts " << syslinux.starts << ", exit code "
                                        << syslinux.exitCode);
        Bench bench;
        bench.syslinux = syslinux;
        bench.machine.putFile(kSyslinuxBin, std::string("an earlier run's"));
        bench.openWindow(false, true);
        bench.clickOk();
        EXPECT_TRUE(bench.menuHas(kCloverBlock));
        EXPECT_FALSE(bench.menuHas(kSyslinuxBlock));
        EXPECT_FALSE(bench.staleBootSectorThere);
        EXPECT_TRUE(bench.machine.dialogs().empty());
        bench.expectCompleted();
    }
}

}  // namespace
}  // namespace qel
