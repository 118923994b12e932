// The program's own extraction run, started by qel-headless on an image, leaves a populated
// drive that the Linux tools accept.
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

}  // namespace
}  // namespace qel::image::test

#endif
