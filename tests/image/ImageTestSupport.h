// Small disk images for the image machine's tests, made with the Linux tools.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "HostCommand.h"
#include "ImageMachine.h"

namespace qel::image::test {

// Runs a shell command line; its output and exit code.
inline HostResult sh(const std::string& line) {
    return runHost({"sh", "-c", line});
}

// Output of a command that must succeed.
inline std::string ok(const std::string& line) {
    const auto result = sh(line);
    EXPECT_EQ(result.exitCode, 0) << line << "\n" << result.output;
    return result.output;
}

// A folder with one image file in it, removed after the test.
class ImageTest : public ::testing::Test {
protected:
    TemporaryFolder folder{"qel-image-test-"};
    std::string image = folder.path() + "/disk.img";
    std::string log;

    // A blank image of the given size in MiB with an sfdisk script (empty: no table).
    void makeImage(int mebibytes, const std::string& sfdiskScript) {
        ok("truncate -s " + std::to_string(mebibytes) + "M " + image);
        if (!sfdiskScript.empty()) ok("printf '" + sfdiskScript + "' | sfdisk -q " + image);
    }
    void makeFat32(std::int64_t startSector, std::int64_t sectors, const std::string& label) {
        ok("mkfs.fat -F 32 -s 1 --offset=" + std::to_string(startSector) + " -h " +
           std::to_string(startSector) + " -n " + label + " " + image + " " +
           std::to_string(sectors / 2) + " >/dev/null");
    }
    void makeNtfs(std::int64_t startSector, std::int64_t sectors) {
        ok("dev=$(losetup --find --show --offset " + std::to_string(startSector * 512) +
           " --sizelimit " + std::to_string(sectors * 512) + " " + image +
           ") && mkntfs -Q -F -q -L NTFSVOL -p " + std::to_string(startSector) +
           " -H 255 -S 63 $dev; rc=$?; losetup -d $dev; exit $rc");
    }
    std::string mtools(const std::string& command, std::int64_t startSector) {
        return "MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null " + command + " -i " + image + "@@" +
               std::to_string(startSector * 512) + " ";
    }
    ImageMachineOptions options() {
        ImageMachineOptions o;
        o.imagePath = image;
        return o;
    }
    // fsck.fat -n on the FAT file system at a sector (to the image's end when sectors is 0).
    HostResult fsckFat(std::int64_t startSector, std::int64_t sectors = 0) {
        const std::string limit =
            sectors == 0 ? "" : " --sizelimit " + std::to_string(sectors * 512);
        return sh("dev=$(losetup --find --show --offset " + std::to_string(startSector * 512) +
                  limit + " " + image + ") && fsck.fat -n $dev; rc=$?; losetup -d $dev; exit $rc");
    }
    // Loop devices still attached to the image (every path must detach them).
    std::string loopsOfImage() { return sh("losetup -j " + image).output; }
};

}  // namespace qel::image::test
