// The stand-ins for Windows' programs and the carried tools leave what Windows' would: file
// systems that fsck.fat and 7zz accept, boot-sector files, logs written only on success.
#include <array>
#include <sstream>

#include "ImageTestSupport.h"
#include "disk/DeviceQueries.h"
#include "repartition/RepartitionCommands.h"

namespace qel::image::test {
namespace {

class ChildProgramsOnImage : public ImageTest {
protected:
    std::ostringstream printed;

    ImageMachineOptions options() {
        auto o = ImageTest::options();
        o.log = &printed;
        return o;
    }
    // Runs a command line to its end; nullopt when it does not start.
    static std::optional<std::uint32_t> run(ImageMachine& machine, const Text& line) {
        ProcessHandle process = machine.createProcess(line, 0x220, 1, 0);
        if (!process.valid()) return std::nullopt;
        EXPECT_EQ(machine.waitForProcess(process, 10), WaitResult::Ended);
        std::uint32_t code = 7117;
        EXPECT_TRUE(machine.processExitCode(process, code));
        return code;
    }
    std::string fsckOfPartition(std::int64_t startSector) {
        return sh("dev=$(losetup --find --show --offset " + std::to_string(startSector * 512) +
                  " " + image + ") && fsck.fat -n $dev; rc=$?; losetup -d $dev; exit $rc")
            .output;
    }
};

TEST_F(ChildProgramsOnImage, FormatComMakesAFat32VolumeOverThePartition) {
    makeImage(100, "start=123, type=7\\n");
    ImageMachine machine(options());
    EXPECT_FALSE(machine.volumeInformation(u"E:\\"));
    EXPECT_EQ(run(machine, u"C:\\Windows\\Sysnative\\format.com E: /FS:FAT32 /V:RAZEVOR /Q /Y"),
              0u);
    const auto info = machine.volumeInformation(u"E:\\");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->fileSystem, u"FAT32");
    EXPECT_EQ(info->label, u"RAZEVOR");
    EXPECT_NE(fsckOfPartition(123).find("clusters"), std::string::npos);
    // The boot sector names the partition's place on the disk (hidden sectors at byte 28).
    const std::string hidden = ok("od -An -tu4 -j $((123*512+28)) -N4 " + image);
    EXPECT_EQ(std::stoll(hidden), 123);
    EXPECT_EQ(ok("sfdisk -d " + image).find("type=c"), std::string::npos);  // table untouched
    // A volume that does not exist cannot be formatted.
    EXPECT_EQ(run(machine, u"C:\\Windows\\System32\\format.com G: /FS:FAT32 /V:X /Q /Y"), 4u);
}

TEST_F(ChildProgramsOnImage, SevenZipExtractsTheArchiveOntoTheVolume) {
    makeImage(80, "start=2048, type=c\\n");
    makeFat32(2048, 78 * 2048, "SEVENZIP");
    ok("mkdir -p " + folder.path() + "/tree/QEL/Sub && echo hello > " + folder.path() +
       "/tree/QEL/Sub/a.txt && cd " + folder.path() +
       "/tree && 7zz a -ptubrisk ../x.7z QEL >/dev/null");
    ImageMachine machine(options());
    const Text work = *machine.environmentVariable(u"TEMP") + u"\\qel x";  // a blank in the path
    ASSERT_TRUE(forceDirectories(machine, work));
    ok("cp " + folder.path() + "/x.7z '" + machine.hostPathOf(work) + "/RAZEvor.7z'");
    writeWholeFile(machine, work + u"\\7zG.exe", Bytes{1});
    const Text line =
        u"\"" + work + u"\\7zG.exe\" x -y -o\"E:\\\" -ptubrisk \"" + work + u"\\RAZEvor.7z\"";
    EXPECT_EQ(run(machine, line), 0u);
    EXPECT_EQ(ok(mtools("mtype", 2048) + "::/QEL/Sub/a.txt"), "hello\n");
    EXPECT_NE(ok("7zz l " + image).find("QEL/Sub/a.txt"), std::string::npos);
    EXPECT_NE(fsckOfPartition(2048).find("files"), std::string::npos);

    const Text wrongPassword =
        u"\"" + work + u"\\7zG.exe\" x -y -o\"E:\\\" -pwrong \"" + work + u"\\RAZEvor.7z\"";
    EXPECT_EQ(run(machine, wrongPassword), 2u);
    // 7-Zip is not there before staging: it does not start.
    EXPECT_FALSE(run(machine, u"\"C:\\nowhere\\7zG.exe\" x -y -o\"E:\\\" -ptubrisk \"x.7z\""));
}

TEST_F(ChildProgramsOnImage, SyslinuxWritesTheBootSectorFileAndLeavesTheVolumesOwnSector) {
    makeImage(80, "start=2048, size=81920, type=c\\nstart=83968, type=7\\n");
    makeFat32(2048, 81920, "SYSLINUX");
    makeNtfs(83968, 80 * 2048 - 83968);
    auto owned = std::make_unique<ImageMachine>(options());
    auto& machine = *owned;
    ASSERT_TRUE(forceDirectories(machine, u"E:\\QEL\\Tools\\syslinux\\syslinux"));
    ASSERT_TRUE(forceDirectories(machine, u"F:\\QEL\\Tools\\syslinux\\syslinux"));
    writeWholeFile(machine, u"E:\\QEL\\Tools\\syslinux\\syslinux\\syslinux64.exe", Bytes{1});
    writeWholeFile(machine, u"F:\\QEL\\Tools\\syslinux\\syslinux\\syslinux64.exe", Bytes{1});
    const std::string before =
        ok("dd if=" + image + " bs=512 skip=2048 count=1 2>/dev/null | od -An -tx1");

    // Installed twice, as a second run does on a stick that has it: the read-only files of the
    // first install are replaced.
    for (int install = 0; install < 2; ++install)
        EXPECT_EQ(run(machine,
                      u"E:\\QEL\\Tools\\syslinux\\syslinux\\syslinux64.exe -f -d "
                      u"/QEL/Tools/syslinux/syslinux E: "
                      u"E:\\QEL\\Tools\\syslinux\\syslinux\\syslinux.bin"),
                  0u);
    const auto bootFile =
        readWholeFile(machine, u"E:\\QEL\\Tools\\syslinux\\syslinux\\syslinux.bin");
    ASSERT_TRUE(bootFile);
    ASSERT_EQ(bootFile->size(), 512u);
    EXPECT_EQ((*bootFile)[510], 0x55);
    EXPECT_EQ(std::string(bootFile->begin() + 71, bootFile->begin() + 79), "SYSLINUX");  // its BPB
    EXPECT_EQ(ok("dd if=" + image + " bs=512 skip=2048 count=1 2>/dev/null | od -An -tx1"), before);
    EXPECT_NE(ok(mtools("mdir", 2048) + "-a ::/QEL/Tools/syslinux/syslinux").find("ldlinux"),
              std::string::npos);
    // The loader on the volume is patched whole (its dwords, the two sectors of its auxiliary
    // data left out, sum to its magic number) and the boot sector points at its first sector
    // (the pointer sits at byte 282 of this Syslinux version's boot sector).
    const std::string loader = folder.path() + "/ldlinux.sys";
    ok(mtools("mcopy", 2048) + "::/QEL/Tools/syslinux/syslinux/ldlinux.sys " + loader);
    const auto sum =
        ok("python3 -c \"import struct,sys; d=open(sys.argv[1],'rb').read()[:-1024]; "
           "print(sum(struct.unpack('<%dI' % (len(d)//4), d)) % 2**32)\" " +
           loader);
    EXPECT_EQ(std::stoull(sum), 0x3eb202feu);
    const std::uint32_t firstSector = (*bootFile)[282] | (*bootFile)[283] << 8 |
                                      (*bootFile)[284] << 16 |
                                      std::uint32_t((*bootFile)[285]) << 24;
    EXPECT_EQ(ok("dd if=" + image + " bs=512 skip=" + std::to_string(2048 + firstSector) +
                 " count=1 2>/dev/null | od -An -tx1"),
              ok("head -c 512 " + loader + " | od -An -tx1"));
    EXPECT_EQ(ok(mtools("mdir", 2048) + "-a ::/").find("ldlinux"), std::string::npos);

    // On NTFS the installer reports failure.
    EXPECT_EQ(run(machine,
                  u"F:\\QEL\\Tools\\syslinux\\syslinux\\syslinux64.exe -f -d "
                  u"/QEL/Tools/syslinux/syslinux F: "
                  u"F:\\QEL\\Tools\\syslinux\\syslinux\\syslinux.bin"),
              1u);
    EXPECT_FALSE(machine.fileAttributes(u"F:\\QEL\\Tools\\syslinux\\syslinux\\syslinux.bin"));
    owned.reset();  // the NTFS mount goes with the machine
    EXPECT_EQ(loopsOfImage(), "");
}

// The program's own shell lines: the shell by its full path, /S /C and the whole line quoted,
// quoted paths inside it, a work folder whose path holds a blank.
TEST_F(ChildProgramsOnImage, ShellLinesFormatThroughDiskpartAndWriteTheLogOnlyOnSuccess) {
    makeImage(400, "start=2048, size=409600, type=7\\nstart=411648, type=c\\n");
    ImageMachine machine(options());
    ASSERT_EQ(machine.volumes().size(), 2u);
    const FormatterPaths paths{ShellProgram(machine), u"C:\\Windows\\Sysnative\\diskpart",
                               u"C:\\Windows\\Sysnative\\format.com",
                               *machine.environmentVariable(u"TEMP") + u"\\my temp\\"};
    ASSERT_TRUE(forceDirectories(machine, paths.workBase + u"qelextract"));
    const Text diskLog = DiskpartLogPath(paths.workBase);

    EXPECT_EQ(run(machine, DiskpartFormatCommandLine(paths, u"1", 2, u"FAT32", u"QEL_UEFI")), 0u);
    EXPECT_TRUE(machine.fileAttributes(diskLog));
    EXPECT_EQ(machine.volumeInformation(u"F:\\")->label, u"QEL_UEFI");
    EXPECT_NE(fsckOfPartition(411648).find("clusters"), std::string::npos);
    EXPECT_TRUE(machine.deleteFile(diskLog));

    // No partition 3, or another disk: diskpart fails and the log is not written.
    EXPECT_NE(run(machine, DiskpartFormatCommandLine(paths, u"1", 3, u"NTFS", u"RAZEVOR")), 0u);
    EXPECT_NE(run(machine, DiskpartFormatCommandLine(paths, u"0", 1, u"NTFS", u"RAZEVOR")), 0u);
    EXPECT_FALSE(machine.fileAttributes(diskLog));

    const Text ntfsLog = NtfsFormatLogPath(paths.workBase);
    EXPECT_EQ(run(machine, FormatNtfsCommandLine(paths, machine.volumes()[0].guid)), 0u);
    EXPECT_EQ(readWholeFile(machine, ntfsLog), (Bytes{'0', ' ', '\r', '\n'}));
    const auto ntfs = machine.volumeInformation(u"E:\\");
    ASSERT_TRUE(ntfs);
    EXPECT_EQ(ntfs->fileSystem, u"NTFS");
    EXPECT_EQ(ntfs->label, u"RAZEVOR");
    EXPECT_EQ(GetSectorsPerCluster(machine, u"E:"), 8u);
    EXPECT_TRUE(machine.deleteFile(ntfsLog));

    // A formatter that fails leaves no log; the plain "cmd.exe /C" form is understood as well.
    EXPECT_NE(run(machine, FormatNtfsCommandLine(paths, u"Volume{00000000-0000-0000-0000-0}")), 0u);
    EXPECT_FALSE(machine.fileAttributes(ntfsLog));
    EXPECT_EQ(run(machine,
                  u"cmd.exe /C C:\\Windows\\System32\\format.com E: /FS:FAT32 /V:PLAIN /Q "
                  u"/Y && echo %errorlevel% > " +
                      ntfsLog),
              0u);
    EXPECT_TRUE(machine.fileAttributes(ntfsLog));
    EXPECT_EQ(machine.volumeInformation(u"E:\\")->label, u"PLAIN");
    EXPECT_EQ(loopsOfImage(), "");
}

TEST_F(ChildProgramsOnImage, UnknownProgramsDoNotStartAndAMissingFormatterFails) {
    makeImage(80, "start=2048, type=c\\n");
    makeFat32(2048, 78 * 2048, "OTHER");
    ImageMachine machine(options());
    EXPECT_FALSE(run(machine, u"notepad.exe E:\\autorun.inf"));
    EXPECT_EQ(machine.lastError(), 2u);
    const Text work = *machine.environmentVariable(u"TEMP") + u"\\qelextract";
    ASSERT_TRUE(forceDirectories(machine, work));
    EXPECT_FALSE(run(machine, work + u"\\fat32format.exe \\\\.\\E:"));  // not staged
    writeWholeFile(machine, work + u"\\fat32format.exe", Bytes{1});
    EXPECT_EQ(run(machine, work + u"\\fat32format.exe \\\\.\\E:"), 1u);  // no Linux build given
    EXPECT_EQ(machine.volumeInformation(u"E:\\")->label, u"OTHER");
    EXPECT_NE(printed.str().find("did not start"), std::string::npos);
}

#ifdef QEL_FAT32FORMAT_LINUX
TEST_F(ChildProgramsOnImage, TheCarriedFormatterRunsAsItsLinuxBuildOnTheVolumesRegion) {
    makeImage(120, "start=2048, size=200000, type=7\\n");
    auto o = options();
    o.fat32formatProgram = QEL_FAT32FORMAT_LINUX;
    ImageMachine machine(o);
    const Text work = *machine.environmentVariable(u"TEMP") + u"\\qelextract";
    ASSERT_TRUE(forceDirectories(machine, work));
    writeWholeFile(machine, work + u"\\fat32format.exe", Bytes{1});
    EXPECT_EQ(run(machine, work + u"\\fat32format.exe \\\\.\\" + machine.volumes()[0].guid), 0u);
    EXPECT_EQ(machine.volumeInformation(u"E:\\")->fileSystem, u"FAT32");
    EXPECT_EQ(sh("dev=$(losetup --find --show --offset 1048576 --sizelimit " +
                 std::to_string(200000 * 512) + " " + image +
                 ") && fsck.fat -n $dev; rc=$?; losetup -d $dev; exit $rc")
                  .exitCode,
              0);
    // The rest of the disk is not touched.
    EXPECT_NE(ok("sfdisk -d " + image).find("type=7"), std::string::npos);
}
#endif

}  // namespace
}  // namespace qel::image::test
