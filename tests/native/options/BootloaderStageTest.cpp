#include "app/BootloaderStage.h"

#include "native/options/OptionsBench.h"
#include "repartition/RepartitionWindow.h"

namespace qel {
namespace {

using options_test::Bench;
using options_test::kSyslinuxBin;
using options_test::Outcome;
using options_test::Stick;

constexpr const char* kSyslinuxBlock = "### Start Syslinux Legacy";
constexpr const char* kCloverBlock = "### Start Clover Legacy";

TEST(BootloaderPrecheck, CoreImageByTheFirstRowThatFits) {
    const Text grub = u"\\QEL\\grub\\i386-pc\\";
    struct Case {
        std::int64_t offset;
        const char16_t* fileSystem;
        const char16_t* image;  // "" when none fits
    };
    const Case cases[] = {
        {68096, u"", u"uncore.img"},
        {68096, u"exFAT", u"uncore.img"},
        {68095, u"NTFS", u"msdos_fat.img"},
        {62976, u"FAT16", u"msdos_fat.img"},
        {62976, u"FAT", u"msdos_fat.img"},
        {62975, u"FAT32", u""},
        {66048, u"exFAT", u"msdos_exfat.img"},
        {66047, u"exFAT", u""},
        {66048, u"fat32", u""},
        {66048, u"EXFAT", u""},
        {INT64_MIN, u"exFAT", u""},
        {INT64_MAX, u"ReFS", u"uncore.img"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.offset << " " << toUtf8(c.fileSystem));
        EXPECT_EQ(ChooseCoreImage(c.offset, c.fileSystem), *c.image ? grub + c.image : Text());
    }
}

TEST(BootloaderPrecheck, WithoutRoomTheRepartitionPromptEndsTheRunEitherWay) {
    struct Case {
        std::uint32_t firstSector;
        const char16_t* fileSystem;
        int answer;
    };
    for (const Case c : {Case{63, u"FAT32", kResultCancel}, Case{63, u"NTFS", kResultCancel},
                         Case{128, u"exFAT", kResultCancel}, Case{63, u"exFAT", kResultOk}}) {
        SCOPED_TRACE(testing::Message() << c.firstSector << " " << toUtf8(c.fileSystem));
        Bench bench(Stick{.firstSector = c.firstSector, .fileSystem = c.fileSystem});
        const Text disks = u"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum";
        bench.machine.registryKey(disks).strings[u"0"] = u"USBSTOR\\0";
        bench.machine.registryKey(disks).dwords[u"Count"] = 1;
        bench.machine.registryKey(u"SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\0")
            .strings[u"FriendlyName"] = u"Stick";
        bench.openWindow(true, true);  // the format confirmation does not come
        bench.machine.answerDialogs({c.answer});
        bench.clickOk();
        ASSERT_EQ(bench.machine.dialogs().size(), 1u);
        EXPECT_EQ(bench.machine.dialogs()[0].params.message.substr(0, 40),
                  u"This disk devices need to repartition.\r\n");
        EXPECT_EQ(bench.machine.dialogs()[0].params.kind, DialogKind::Warning);
        EXPECT_EQ(bench.window.repartition.isOpen(), c.answer == kResultOk);
        EXPECT_TRUE(bench.window.ticked(bench.window.CheckBox1));
        bench.expectStayed();
    }
}

TEST(BootloaderPrecheck, DisksThatAreNotMbrLoseTheOptionSilently) {
    for (const bool gpt : {true, false}) {
        Bench bench(Stick{.firstSector = 63, .style = gpt ? "GPT" : ""});
        bench.machine.disk(0).failLayoutRequest = !gpt;
        bench.openWindow(false, true);
        const Text caption = bench.machine.caption(bench.window.CheckBox2);
        bench.clickOk();
        EXPECT_TRUE(bench.machine.dialogs().empty());
        EXPECT_FALSE(bench.window.ticked(bench.window.CheckBox2));
        EXPECT_EQ(bench.machine.caption(bench.window.CheckBox2), caption);
        EXPECT_EQ(bench.machine.disk(0).writeCount, 0u);
        EXPECT_EQ(bench.menu(), "");
        bench.expectEnded(true);
    }
}

TEST(BootloaderInstall, WhatEachFileSystemGets) {
    struct Case {
        const char* name;
        Stick stick;
        bool format;
        std::uint32_t bytesPerSector, sectorsPerCluster;
        const char16_t* coreImage;
        bool clover, syslinux;
    };
    const Case cases[] = {
        {"FAT32 at 62,976", {.firstSector = 123}, false, 512, 8, u"msdos_fat.img", true, true},
        {"FAT16 formatted",
         {.firstSector = 123, .fileSystem = u"FAT16"},
         true,
         512,
         8,
         u"msdos_fat.img",
         true,
         true},
        {"exFAT at 66,048",
         {.firstSector = 129, .fileSystem = u"exFAT"},
         false,
         512,
         8,
         u"msdos_exfat.img",
         false,
         false},
        {"NTFS 4096", {.fileSystem = u"NTFS"}, false, 512, 8, u"uncore.img", false, true},
        {"NTFS 8192", {.fileSystem = u"NTFS"}, false, 512, 16, u"uncore.img", false, false},
        {"NTFS unknown", {.fileSystem = u"NTFS"}, false, 512, 0, u"uncore.img", false, false},
        {"NTFS 4096 on 4K", {.fileSystem = u"NTFS"}, false, 4096, 1, u"uncore.img", false, true},
        // 4 GiB and 4096 bytes: no wrap in 32 bits makes it small.
        {"NTFS huge",
         {.fileSystem = u"NTFS"},
         false,
         4096,
         (1u << 20) + 1,
         u"uncore.img",
         false,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(c.stick);
        bench.machine.disk(0).bytesPerSector = c.bytesPerSector;
        bench.machine.volumeByLetter('E')->sectorsPerCluster = c.sectorsPerCluster;
        bench.machine.putFile(kSyslinuxBin, std::string("an earlier run's"));
        bench.openWindow(c.format, true);
        bench.clickOk();

        EXPECT_EQ(bench.machine.dialogs().size(), c.format ? 1u : 0u);
        EXPECT_TRUE(bench.grub2Installed(c.coreImage, static_cast<std::int32_t>(c.bytesPerSector)));
        EXPECT_EQ(bench.cloverInstalled(), c.clover);
        EXPECT_EQ(bench.menuHas(kCloverBlock), c.clover);
        EXPECT_EQ(bench.menuHas(kSyslinuxBlock), c.syslinux);
        const fake::ProcessRecord* syslinux = bench.ran(u"syslinux");
        EXPECT_EQ(syslinux != nullptr, c.syslinux);
        if (c.syslinux && syslinux) {
            EXPECT_EQ(bench.syslinuxCaption, u"Installing Syslinux...");
            EXPECT_EQ(syslinux->showWindow, win::SW_HIDE);
            EXPECT_EQ(bench.oldBootSectorThere, !c.clover);  // deleted on FAT32 only
        }
        bench.expectEnded(true);
    }
}

TEST(BootloaderInstall, SyslinuxInstallerFollowsTheWindowsWordSize) {
    for (const bool wow64 : {false, true}) {
        Bench bench;
        bench.machine.setWow64(wow64);
        bench.openWindow(false, true);
        bench.clickOk();
        const fake::ProcessRecord* syslinux = bench.ran(u"syslinux");
        ASSERT_NE(syslinux, nullptr);
        EXPECT_EQ(syslinux->commandLine, Text(u"\"E:\\QEL\\Tools\\syslinux\\syslinux\\") +
                                             (wow64 ? u"syslinux64.exe" : u"syslinux.exe") +
                                             u"\" -f -d /QEL/Tools/syslinux/syslinux E: " +
                                             kSyslinuxBin);
    }
}

TEST(BootloaderInstall, AnInstalledBootAreaIsNotWrittenAgain) {
    Bench bench(Stick{.fileSystem = u"NTFS"});
    bench.openWindow(false, true);
    bench.machine.onPump = [&] {  // while 7-Zip runs: an earlier run's boot area
        if (bench.machine.disk(0).writeCount == 0)
            InstallGrub2Mbr(bench.machine, u"\\\\.\\PHYSICALDRIVE0", u"E:",
                            u"E:\\QEL\\grub\\i386-pc\\uncore.img", 512);
    };
    bench.clickOk();
    EXPECT_EQ(bench.machine.disk(0).writeCount, 2u);  // the earlier run's two
    EXPECT_TRUE(bench.grub2Installed(u"uncore.img"));
    EXPECT_TRUE(bench.menuHas(kSyslinuxBlock));
}

TEST(BootloaderInstall, AFailureSkipsOnlyWhatDependsOnIt) {
    struct Case {
        const char* name;
        const char16_t* deletedFromPayload;
        Outcome syslinux;
        bool grub2, clover, syslinuxEntry;
    };
    const Case cases[] = {
        {"boot image missing", u"E:\\QEL\\grub\\i386-pc\\boot.img", {}, false, false, false},
        {"Clover's code missing", u"E:\\QEL\\Tools\\Clover\\boot1f32", {}, true, false, true},
        {"Syslinux not started", u"", {.starts = false}, true, true, false},
        {"Syslinux fails", u"", {.exitCode = 1}, true, true, false},
        {"Syslinux unreadable", u"", {.exitCodeReadable = false}, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        bench.syslinux = c.syslinux;
        bench.openWindow(false, true);
        bench.machine.onPump = [&] { bench.machine.deleteFile(c.deletedFromPayload); };
        bench.clickOk();
        EXPECT_TRUE(bench.machine.dialogs().empty());  // nothing is reported
        EXPECT_EQ(bench.grub2Installed(u"uncore.img"), c.grub2);
        EXPECT_EQ(bench.menuHas(kCloverBlock), c.clover);
        EXPECT_EQ(bench.ran(u"syslinux") != nullptr, c.grub2);
        EXPECT_EQ(bench.menuHas(kSyslinuxBlock), c.syslinuxEntry);
        bench.expectEnded(true);
    }
    Bench unreadableGeometry;
    unreadableGeometry.machine.disk(0).failGeometry = true;
    unreadableGeometry.openWindow(false, true);
    unreadableGeometry.clickOk();
    EXPECT_EQ(unreadableGeometry.machine.disk(0).writeCount, 0u);
    EXPECT_EQ(unreadableGeometry.ran(u"syslinux"), nullptr);
}

}  // namespace
}  // namespace qel
