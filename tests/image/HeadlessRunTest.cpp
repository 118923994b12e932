// The program's own extraction run, started by qel-headless on an image, leaves a populated
// drive that the Linux tools accept.
#include "FileStores.h"
#include "HeadlessTestSupport.h"

#ifdef QEL_HEADLESS_PROGRAM

namespace qel::image::test {
namespace {

class HeadlessRun : public HeadlessTest {};

TEST_F(HeadlessRun, ExtractionFillsTheChosenVolumeAndEndsTheProgram) {
    makeImage(100, "start=2048, type=c, bootable\\n");
    makeFat32(2048, 98 * 2048, "STICK");
    const auto run = headless("--english");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("[headless] chosen: E:\\ - "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("7zG.exe\" x -y -o\"E:\\\" -ptubrisk"), std::string::npos);
    EXPECT_NE(run.output.find("[program] open E:\\QELCreator.exe"), std::string::npos);
    EXPECT_NE(run.output.find("[program] asked to end"), std::string::npos);

    const std::string autorun = ok(mtools("mtype", 2048) + "::/autorun.inf");
    EXPECT_EQ(
        autorun,
        "[autorun]\r\nlabel=RAZEVOR\r\nicon=QEL\\razevor.ico\r\nshellexecute=QELCreator.exe\r\n");
    EXPECT_EQ(ok(mtools("mattrib", 2048) + "::/autorun.inf").substr(0, 13), "      H      ");
    EXPECT_NE(ok(mtools("mdir", 2048) + "-b ::/QEL").find("::/QEL/Menu/"), std::string::npos);
    EXPECT_NE(ok("7zz l " + image).find("QELCreator.exe"), std::string::npos);
    EXPECT_EQ(fsckFat(2048).exitCode, 0);
    // The work folder is gone again.
    EXPECT_EQ(ok("find " + driveC + " -iname qelextract"), "");
}

TEST_F(HeadlessRun, AWrongPasswordArchiveEndsWithTheSupportError) {
    makeImage(100, "start=2048, type=c\\n");
    makeFat32(2048, 98 * 2048, "STICK");
    ok("cd " + resources +
       "/tree && rm ../RAZEvor.7z && 7zz a -pother ../RAZEvor.7z QEL >/dev/null");
    const auto run = headless("--english");
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("Error, please contact to author for support!"), std::string::npos)
        << run.output;
    EXPECT_EQ(sh(mtools("mdir", 2048) + "::/autorun.inf").exitCode, 1);
}

TEST_F(HeadlessRun, HelpGoesToStandardOutputAndMistakesToStandardError) {
    const std::string program = QEL_HEADLESS_PROGRAM;
    const auto help = sh(program + " --help 2>/dev/null");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.output.rfind("usage: qel-headless --image FILE|DEVICE", 0), 0u) << help.output;
    const auto wrong = sh(program + " --image x --bogus 2>&1 >/dev/null");
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_EQ(wrong.output.rfind("qel-headless: unknown option --bogus\nusage: ", 0), 0u)
        << wrong.output;
}

// A stick's block device is written like an image file, and refused before anything is written
// while it is mounted. Needs loop devices; skipped where none can be attached.
TEST_F(HeadlessRun, AStickDeviceIsWrittenLikeAnImageButNotWhileMounted) {
    makeImage(100, "start=2048, type=c, bootable\\n");
    makeFat32(2048, 98 * 2048, "STICK");
    LoopDevice stick(image, 0, 100 << 20);
    if (!stick.attached()) GTEST_SKIP() << "no loop device: " << stick.error();
    const std::string floppy = folder.path() + "/other.img";  // a file system the kernel mounts
    const std::string mountPoint = folder.path() + "/mounted";
    ok("truncate -s 40M " + floppy + " && mkfs.ext4 -q " + floppy + " && mkdir " + mountPoint);
    LoopDevice mounted(floppy, 0, 40 << 20);
    ASSERT_TRUE(mounted.attached()) << mounted.error();
    ok("mount " + mounted.device() + " " + mountPoint);
    const auto refused = headlessOn(mounted.device(), "--english --format");
    ok("umount " + mountPoint);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.output, "qel-headless: refusing to write " + mounted.device() +
                                  ": it or one of its partitions is mounted at " + mountPoint +
                                  "\n");

    const auto run = headlessOn(stick.device(), "--english");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("[headless] chosen: E:\\ - "), std::string::npos) << run.output;
    EXPECT_NE(ok(mtools("mdir", 2048) + "-b ::/QEL").find("::/QEL/Menu/"), std::string::npos);
    EXPECT_EQ(fsckFat(2048).exitCode, 0);
}

}  // namespace
}  // namespace qel::image::test

#endif
