// The formatter's Linux command on sparse image files, its results checked by independent
// tools: fsck.fat, mtools writing and reading back a small tree, and 7-Zip listing the volume.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "SystemAreaChecks.h"

namespace qel::fat32 {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
constexpr std::uint64_t MiB = std::uint64_t{1} << 20;
constexpr std::uint64_t GiB = std::uint64_t{1} << 30;

struct CommandResult {
    int exitCode = -1;
    std::string output;
};

CommandResult run(const std::string& command) {
    CommandResult result;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        result.output.append(buffer, n);
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

Bytes readAt(const fs::path& file, std::uint64_t offset, std::size_t count) {
    std::ifstream in(file, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    Bytes bytes(count, 0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
    return bytes;
}

void writeAt(const fs::path& file, std::uint64_t offset, const Bytes& bytes) {
    std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(offset));
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void writeText(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class ImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "fat32format-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        ::setenv("MTOOLS_SKIP_CHECK", "1", 1);
        for (const char* tool : {"fsck.fat", "mcopy", "mdir", "7zz"})
            ASSERT_EQ(run(std::string("command -v ") + tool).exitCode, 0) << tool << " missing";
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path sparseImage(std::uint64_t bytes, const std::string& name = "volume.img") {
        const fs::path path = dir / name;
        std::ofstream{path};
        fs::resize_file(path, bytes);
        return path;
    }

    CommandResult format(const fs::path& image, const std::string& options = "") {
        return run(std::string(FAT32FORMAT_LINUX) + " " + quoted(image) + " " + options);
    }

    testing::BootFields expectSystemArea(const fs::path& image, const testing::Expected& e,
                                         std::uint64_t offset = 0) {
        return testing::expectFat32SystemArea(
            [&](std::uint64_t at, std::size_t n) { return readAt(image, offset + at, n); }, e);
    }

    // fsck.fat finds nothing to report: its version line and its summary only.
    void expectCleanCheck(const fs::path& image) {
        const CommandResult check = run("fsck.fat -n " + quoted(image));
        EXPECT_EQ(check.exitCode, 0) << check.output;
        EXPECT_EQ(std::count(check.output.begin(), check.output.end(), '\n'), 2) << check.output;
    }

    // mtools copies a small tree in and back out unchanged; 7-Zip lists the volume with it.
    void expectTreeRoundTrip(const fs::path& image, std::uint64_t offset = 0) {
        const fs::path tree = dir / "tree";
        fs::create_directories(tree / "sub" / "deeper");
        writeText(tree / "a.txt", "alpha\n");
        writeText(tree / "sub" / "b.bin", std::string(70000, 'b'));
        writeText(tree / "sub" / "deeper" / "c.txt", "gamma\n");
        const std::string target = quoted(image) + (offset ? "@@" + std::to_string(offset) : "");
        const CommandResult in = run("mcopy -s -i " + target + " " + quoted(tree) + " ::/");
        ASSERT_EQ(in.exitCode, 0) << in.output;
        const CommandResult listing = run("mdir -i " + target + " ::/tree/sub");
        EXPECT_EQ(listing.exitCode, 0) << listing.output;
        EXPECT_NE(listing.output.find("70 000"), std::string::npos) << listing.output;
        const fs::path back = dir / "back";
        fs::create_directories(back);
        const CommandResult out = run("mcopy -s -n -i " + target + " ::/tree " + quoted(back));
        ASSERT_EQ(out.exitCode, 0) << out.output;
        EXPECT_EQ(readText(back / "tree" / "a.txt"), "alpha\n");
        EXPECT_EQ(readText(back / "tree" / "sub" / "b.bin"), std::string(70000, 'b'));
        EXPECT_EQ(readText(back / "tree" / "sub" / "deeper" / "c.txt"), "gamma\n");
    }

    void expectSevenZipListsTheTree(const fs::path& image) {
        const CommandResult list = run("7zz l " + quoted(image));
        EXPECT_EQ(list.exitCode, 0) << list.output;
        EXPECT_NE(list.output.find("tree/sub/deeper/c.txt"), std::string::npos) << list.output;
    }

    // Formats a whole image and puts it through every check.
    void expectGoodVolume(std::uint64_t bytes, std::uint32_t sector, std::uint32_t clusterBytes) {
        const fs::path image = sparseImage(bytes);
        const CommandResult formatted = format(image, "--sector-size " + std::to_string(sector));
        ASSERT_EQ(formatted.exitCode, 0) << formatted.output;
        EXPECT_NE(formatted.output.find("Formatted "), std::string::npos);
        const auto fields = expectSystemArea(image, {sector, 0, bytes, clusterBytes});
        // Only the system area takes room in the sparse file.
        struct stat status {};
        ASSERT_EQ(::stat(image.c_str(), &status), 0);
        EXPECT_LE(static_cast<std::uint64_t>(status.st_blocks) * 512,
                  testing::dataOffset(fields) + clusterBytes + MiB);
        expectCleanCheck(image);
        expectTreeRoundTrip(image);
        expectSevenZipListsTheTree(image);
    }

    fs::path dir;
};

TEST_F(ImageTest, JustAbove32GiB) {
    expectGoodVolume(32 * GiB + 512, 512, 32768);
}

TEST_F(ImageTest, SixtyFourGiB) {
    expectGoodVolume(64 * GiB, 512, 32768);
}

TEST_F(ImageTest, FiveHundredGiB) {
    expectGoodVolume(500 * GiB, 512, 32768);
}

TEST_F(ImageTest, JustUnderTheLargestSectorCount) {
    expectGoodVolume(0xFFFFFFFFull * 512, 512, 32768);
}

TEST_F(ImageTest, FourKiBSectors) {
    expectGoodVolume(64 * GiB, 4096, 32768);
}

TEST_F(ImageTest, RegionOfALargerImageRecordsItsStartAndLeavesTheRestAlone) {
    const std::uint64_t offset = MiB;
    const std::uint64_t size = 40 * GiB;
    const fs::path image = sparseImage(offset + size + MiB);
    const Bytes marks(MiB, 0xA5);
    writeAt(image, 0, marks);
    writeAt(image, offset + size, marks);

    const CommandResult formatted =
        format(image, "--offset " + std::to_string(offset) + " --size " + std::to_string(size));
    ASSERT_EQ(formatted.exitCode, 0) << formatted.output;
    const auto fields = expectSystemArea(image, {512, 2048, size, 32768}, offset);
    EXPECT_EQ(readAt(image, 0, MiB), marks);
    EXPECT_EQ(readAt(image, offset + size, MiB), marks);
    expectTreeRoundTrip(image, offset);

    // fsck.fat and 7-Zip read whole volumes: give them the region's system area and the first
    // clusters, where the tree went, at the same places of a volume-sized sparse file.
    const fs::path region = sparseImage(size, "region.img");
    const std::size_t used = static_cast<std::size_t>(testing::dataOffset(fields) + 16 * MiB);
    writeAt(region, 0, readAt(image, offset, used));
    expectCleanCheck(region);
    expectSevenZipListsTheTree(region);
}

TEST_F(ImageTest, RefusesVolumesFat32CannotHoldAndLeavesThemUntouched) {
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0x100000000ull * 512, "too large for FAT32: 4294967296 sectors"},
        {32 * MiB, "too small for FAT32"}};
    for (const auto& [bytes, reason] : cases) {
        const fs::path image = sparseImage(bytes);
        writeAt(image, 0, Bytes(512, 0xA5));
        const CommandResult refused = format(image);
        EXPECT_EQ(refused.exitCode, 5) << refused.output;
        EXPECT_NE(refused.output.find(reason), std::string::npos) << refused.output;
        EXPECT_EQ(std::count(refused.output.begin(), refused.output.end(), '\n'), 1);
        EXPECT_EQ(readAt(image, 0, 512), Bytes(512, 0xA5));
    }
}

TEST_F(ImageTest, CommandLineMistakesAreNamed) {
    const fs::path image = sparseImage(40 * GiB);
    EXPECT_EQ(format(dir / "missing.img").exitCode, 2);
    const CommandResult unaligned = format(image, "--offset 1000");
    EXPECT_EQ(unaligned.exitCode, 1);
    EXPECT_NE(unaligned.output.find("whole number of sectors"), std::string::npos);
    const CommandResult beyond =
        format(image, "--offset 1048576 --size " + std::to_string(40 * GiB));
    EXPECT_EQ(beyond.exitCode, 1);
    EXPECT_NE(beyond.output.find("beyond the end"), std::string::npos);
    EXPECT_EQ(format(image, "--sector-size 4096x").exitCode, 1);
    // The usage goes to standard error with a mistake, to standard output when asked for.
    const std::string program = FAT32FORMAT_LINUX;
    const CommandResult wrong = run("{ " + program + " --bogus 2>&1 >/dev/null; }");
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_NE(wrong.output.find("Unexpected argument --bogus\nUsage: fat32format-linux IMAGE"),
              std::string::npos);
    const CommandResult help = run("{ " + program + " --help 2>/dev/null; }");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.output.rfind("Usage: fat32format-linux IMAGE", 0), 0u);
}

// A machine started from the volume runs its boot code, which says the volume cannot start a
// system instead of hanging.
TEST_F(ImageTest, StartingAMachineFromTheVolumeShowsWhyItCannotStart) {
    ASSERT_EQ(run("command -v qemu-system-i386").exitCode, 0) << "qemu-system-i386 missing";
    const fs::path image = sparseImage(64 * MiB);
    ASSERT_EQ(format(image).exitCode, 0);
    const fs::path screen = dir / "screen.bin";
    const CommandResult booted = run(std::string(BOOT_SCREEN_SCRIPT) + " " + quoted(image) + " " +
                                     quoted(screen) + " 'no operating system'");
    ASSERT_EQ(booted.exitCode, 0) << booted.output;
    const std::string cells = readText(screen);
    std::string text;
    for (std::size_t i = 0; i < cells.size(); i += 2) text += cells[i];
    EXPECT_NE(text.find("This volume has no operating system to start."), std::string::npos)
        << text;
    EXPECT_NE(text.find("Remove it and press any key to try again."), std::string::npos) << text;
}

}  // namespace
}  // namespace qel::fat32
