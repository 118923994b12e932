// Files written and read through the seam live in the volumes' real file systems.
#include "ImageTestSupport.h"
#include "disk/DeviceQueries.h"
#include "disk/Records.h"

namespace qel::image::test {
namespace {

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

class FilesOnImage : public ImageTest {
protected:
    void SetUp() override {
        makeImage(80, "start=2048, type=c\\n");
        makeFat32(2048, 78 * 2048, "FILES");
    }
    // A file as mtools reads it, once the machine has put what it holds back on the image.
    std::string mtype(ImageMachine& machine, const std::string& path) {
        EXPECT_TRUE(machine.flushStores());
        return ok(mtools("mtype", 2048) + "'::" + path + "'");
    }
};

TEST_F(FilesOnImage, WrittenFilesAppearInTheFileSystemAndReadBack) {
    ImageMachine machine(options());
    ASSERT_TRUE(forceDirectories(machine, u"E:\\QEL\\Menu"));
    writeWholeFile(machine, u"E:\\QEL\\Menu\\Others.cfg", bytesOf("line one\r\n"));
    EXPECT_EQ(mtype(machine, "/QEL/Menu/Others.cfg"), "line one\r\n");

    // Appending through a handle opened on the existing file keeps what was there.
    {
        Handle file = machine.createFile(u"e:\\qel\\menu\\others.cfg", win::GENERIC_WRITE, 0,
                                         win::OPEN_ALWAYS, win::FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(file.valid());
        std::int64_t end = 0;
        ASSERT_TRUE(machine.setFilePointer(file, 0, win::FILE_END, end));
        EXPECT_EQ(end, 10);
        std::uint32_t written = 0;
        const auto more = bytesOf("line two\r\n");
        ASSERT_TRUE(machine.writeFile(file, more, written));
    }
    EXPECT_EQ(mtype(machine, "/QEL/Menu/Others.cfg"), "line one\r\nline two\r\n");
    const auto back =
        readWholeFile(machine, u"\\\\?\\" + machine.volumes()[0].guid + u"\\QEL\\Menu\\Others.cfg");
    ASSERT_TRUE(back);
    EXPECT_EQ(std::string(back->begin(), back->end()), "line one\r\nline two\r\n");
    EXPECT_EQ(GetFileSize64(machine, u"E:\\QEL\\Menu\\Others.cfg"), 20);
    EXPECT_EQ(GetFileSize64(machine, u"E:\\QEL\\Menu\\*.cfg"), 20);
    EXPECT_EQ(GetFileSize64(machine, u"E:\\QEL\\Menu\\missing.cfg"), -1);
    EXPECT_EQ(GetFileSize64(machine, u"E:\\QEL"), 0);
    EXPECT_EQ(machine.openHandles(), 0);
}

// A file is stored when its handle closes, which cannot report a failure: one the volume has no
// room for is remembered, so that the run does not end as if it were on the drive.
TEST_F(FilesOnImage, AFileTheVolumeCannotHoldFailsTheRunsEnd) {
    ImageMachine machine(options());
    writeWholeFile(machine, u"E:\\small.txt", bytesOf("fits"));
    EXPECT_TRUE(machine.flushStores());
    writeWholeFile(machine, u"E:\\huge.bin", Bytes(100 << 20, 0x5A));
    EXPECT_FALSE(machine.flushStores());
    EXPECT_EQ(sh(mtools("mdir", 2048) + "::/huge.bin").exitCode, 1);
}

TEST_F(FilesOnImage, AttributesFollowTheWindowsRules) {
    ImageMachine machine(options());
    writeWholeFile(machine, u"E:\\autorun.inf", bytesOf("[autorun]\r\n"));
    ASSERT_TRUE(machine.setFileAttributes(u"E:\\autorun.inf", win::FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(machine.fileAttributes(u"E:\\autorun.inf"), win::FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(machine.flushStores());
    EXPECT_NE(ok(mtools("mattrib", 2048) + "::/autorun.inf").find("H"), std::string::npos);

    // Replacing a hidden file without asking for a hidden file is refused, as on Windows.
    EXPECT_FALSE(machine
                     .createFile(u"E:\\autorun.inf", win::GENERIC_WRITE, 0, win::CREATE_ALWAYS,
                                 win::FILE_ATTRIBUTE_NORMAL)
                     .valid());
    // So is copying over it.
    writeWholeFile(machine, u"E:\\source.bin", bytesOf("abc"));
    EXPECT_FALSE(machine.copyFile(u"E:\\source.bin", u"E:\\autorun.inf", false));
    EXPECT_TRUE(machine.deleteFile(u"E:\\autorun.inf"));
    EXPECT_FALSE(machine.fileAttributes(u"E:\\autorun.inf"));

    ASSERT_TRUE(machine.copyFile(u"E:\\source.bin", u"E:\\copy.bin", false));
    EXPECT_EQ(mtype(machine, "/copy.bin"), "abc");
    EXPECT_FALSE(machine.copyFile(u"E:\\source.bin", u"E:\\copy.bin", true));

    // A read-only file is neither deleted nor opened for writing.
    ASSERT_TRUE(machine.setFileAttributes(u"E:\\copy.bin", win::FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(machine.deleteFile(u"E:\\copy.bin"));
    EXPECT_FALSE(
        machine.createFile(u"E:\\copy.bin", win::GENERIC_WRITE, 0, win::OPEN_EXISTING, 0).valid());
    EXPECT_EQ(mtype(machine, "/copy.bin"), "abc");

    // Folders: one level at a time, and a file needs its folder.
    EXPECT_FALSE(machine.createDirectory(u"E:\\A\\B"));
    EXPECT_TRUE(machine.createDirectory(u"E:\\A"));
    EXPECT_FALSE(machine.createDirectory(u"E:\\A"));
    EXPECT_FALSE(
        machine.createFile(u"E:\\Nope\\x.txt", win::GENERIC_WRITE, 0, win::CREATE_ALWAYS, 0)
            .valid());
    EXPECT_EQ(machine.fileAttributes(u"E:\\a"), win::FILE_ATTRIBUTE_DIRECTORY);
}

// Files held back by the volume's store reach it before a raw read of the sectors behind them:
// the FSInfo sector's free count drops by the file's clusters.
TEST_F(FilesOnImage, ARawReadOfTheVolumeSeesTheFilesWrittenBeforeIt) {
    ImageMachine machine(options());
    const auto freeCount = [&] {
        Handle volume =
            machine.createFile(u"\\\\.\\E:", win::GENERIC_READ, 3, win::OPEN_EXISTING, 0);
        Bytes sectors(1024);
        std::uint32_t count = 0;
        EXPECT_TRUE(machine.readFile(volume, sectors, count));
        return records::readU32(sectors, 512 + 488);
    };
    const std::uint32_t before = freeCount();
    writeWholeFile(machine, u"E:\\data.bin", Bytes(10 * 512, 7));
    EXPECT_EQ(freeCount(), before - 10);
}

TEST_F(FilesOnImage, DriveCIsAHostFolderAndTheWorkFolderIsDeletedWhole) {
    ImageMachine machine(options());
    const Text work = *machine.environmentVariable(u"TEMP") + u"\\qelextract";
    ASSERT_TRUE(forceDirectories(machine, work + u"\\Lang"));
    writeWholeFile(machine, work + u"\\Lang\\vi.txt", bytesOf("vi"));
    const std::string host = machine.hostPathOf(work + u"\\LANG\\VI.TXT");
    EXPECT_EQ(ok("cat '" + host + "'"), "vi");
    EXPECT_EQ(machine.shellFileOperation(0, win::FO_DELETE, work + Text(2, u'\0'), 0x14), 0);
    EXPECT_FALSE(machine.fileAttributes(work));
    EXPECT_TRUE(machine.fileAttributes(*machine.environmentVariable(u"TEMP")));
}

TEST_F(FilesOnImage, NtfsFilesGoThroughAMountThatIsAlwaysTakenDown) {
    ok("truncate -s 0 " + image);
    makeImage(80, "start=2048, type=7\\n");
    makeNtfs(2048, 78 * 2048);
    {
        ImageMachine machine(options());
        ASSERT_TRUE(machine.createDirectory(u"E:\\QEL"));
        writeWholeFile(machine, u"E:\\QEL\\note.txt", bytesOf("on ntfs"));
        ASSERT_TRUE(machine.setFileAttributes(u"E:\\QEL\\note.txt", win::FILE_ATTRIBUTE_HIDDEN));
        EXPECT_EQ(machine.fileAttributes(u"e:\\qel\\NOTE.TXT"), win::FILE_ATTRIBUTE_HIDDEN);
        // Raw access lets go of the mount first.
        EXPECT_EQ(GetDeviceLength(machine, u"\\\\.\\E:"), 79 << 20);
        std::uint32_t count = 0;
        Bytes sector(512);
        Handle volume =
            machine.createFile(u"\\\\.\\E:", win::GENERIC_READ, 3, win::OPEN_EXISTING, 0);
        ASSERT_TRUE(machine.readFile(volume, sector, count));
        EXPECT_EQ(loopsOfImage(), "");
        EXPECT_EQ(std::string(readWholeFile(machine, u"E:\\QEL\\note.txt")->size(), 'x'),
                  "xxxxxxx");
    }
    EXPECT_EQ(loopsOfImage(), "");
    EXPECT_EQ(ok("dev=$(losetup --find --show --offset 1048576 " + image +
                 ") && ntfscat $dev QEL/note.txt; losetup -d $dev"),
              "on ntfs");
}

}  // namespace
}  // namespace qel::image::test
