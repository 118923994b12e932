// The FAT store reads volumes in-process and holds its changes back until flush(); mtools and
// fsck.fat read the results back.
#include <algorithm>

#include "FileStores.h"
#include "ImageTestSupport.h"

namespace qel::image::test {
namespace {

constexpr std::int64_t kStart = 2048;
constexpr std::int64_t kOffset = kStart * 512;
constexpr std::uint32_t kFileCorrupt = 1392;  // ERROR_FILE_CORRUPT

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

std::string sortedLines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const auto end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const auto& line : lines) out += line + "\n";
    return out;
}

std::string textOf(const std::optional<Bytes>& bytes) {
    return bytes ? std::string(bytes->begin(), bytes->end()) : "<none>";
}

class FatStoreTest : public ImageTest {
protected:
    std::string names(FatStore& store, const std::string& folder) {
        std::vector<std::string> out;
        for (const auto& entry : store.list(folder).value_or(std::vector<StoredEntry>{}))
            out.push_back(entry.name + (entry.directory ? "/" : ""));
        std::sort(out.begin(), out.end());
        std::string joined;
        for (const auto& name : out) joined += name + " ";
        return joined;
    }
    void put(const std::string& hostName, const std::string& content, const std::string& to) {
        ok("cd " + folder.path() + " && printf '" + content + "' > '" + hostName + "' && " +
           mtools("mcopy", kStart) + "'" + hostName + "' '::" + to + "'");
    }
};

TEST_F(FatStoreTest, HeldBackChangesReachTheVolumeTogetherAndReadBackTheSame) {
    makeImage(80, "start=2048, type=c\\n");
    makeFat32(kStart, 78 * 2048, "STORE");
    ok(mtools("mmd", kStart) + "::/Old ::/Old/Sub");
    put("x", "old x", "/Old/Sub/");
    put("boot.img", "boot", "/");
    put("Keep Me.txt", "keep", "/");
    put("gone.txt", "gone", "/");
    ok(mtools("mattrib", kStart) + "+h '::/Keep Me.txt'");

    FatStore store(image, kOffset);
    EXPECT_EQ(names(store, ""), "Keep Me.txt Old/ boot.img gone.txt ");
    EXPECT_EQ(store.stat("keep me.TXT")->attributes,
              win::FILE_ATTRIBUTE_HIDDEN | win::FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(textOf(store.read("old/sub/X")), "old x");

    ASSERT_TRUE(store.makeDirectory("New"));
    ASSERT_TRUE(store.makeDirectory("New/Deep"));
    ASSERT_TRUE(store.write("New/Deep/a long name.cfg", bytesOf("deep")));
    ASSERT_TRUE(store.write("OLD/SUB/X", bytesOf("new X")));
    EXPECT_FALSE(store.removeDirectory("Old/Sub"));  // not empty
    ASSERT_TRUE(store.remove("gone.txt"));
    ASSERT_TRUE(store.makeDirectory("gone.txt"));  // a folder where a file was
    ASSERT_TRUE(store.setAttributes("New", win::FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(store.setAttributes("Keep Me.txt", win::FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(store.write("Missing/file", bytesOf("no folder")));
    EXPECT_FALSE(store.write("bad?name", bytesOf("not a FAT name")));

    // Until flush() the store answers from its tree and the volume is as it was.
    EXPECT_EQ(names(store, ""), "Keep Me.txt New/ Old/ boot.img gone.txt/ ");
    EXPECT_EQ(textOf(store.read("New/Deep/A LONG NAME.cfg")), "deep");
    EXPECT_EQ(sh(mtools("mdir", kStart) + "::/New").exitCode, 1);

    ASSERT_TRUE(store.flush());
    EXPECT_EQ(sortedLines(ok(mtools("mattrib", kStart) + "-/ ::/")),
              "             ::/\n"
              "             ::/New/Deep\n"
              "             ::/Old\n"
              "             ::/Old/Sub\n"
              "             ::/gone.txt\n"
              "       R     ::/Keep Me.txt\n"
              "      H      ::/New\n"
              "  A          ::/New/Deep/a long name.cfg\n"
              "  A          ::/Old/Sub/X\n"
              "  A          ::/boot.img\n");
    EXPECT_EQ(ok(mtools("mtype", kStart) + "'::/New/Deep/a long name.cfg'"), "deep");
    EXPECT_EQ(ok(mtools("mtype", kStart) + "::/Old/Sub/x"), "new X");
    EXPECT_EQ(fsckFat(kStart).exitCode, 0);

    FatStore again(image, kOffset);
    EXPECT_EQ(names(again, "new/deep"), "a long name.cfg ");
    EXPECT_EQ(again.stat("New")->attributes,
              win::FILE_ATTRIBUTE_HIDDEN | win::FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(textOf(again.read("Old/Sub/x")), "new X");
}

// A write the volume has no room for fails when it is made, not later when nobody can be told;
// the fixed root folder of a FAT16 volume is written at once too.
TEST_F(FatStoreTest, AWriteTheVolumeHasNoRoomForFailsAtOnce) {
    makeImage(20, "start=2048, type=6\\n");
    ok("mkfs.fat -F 16 --offset=2048 " + image + " 18432 >/dev/null");
    FatStore store(image, kOffset);
    ASSERT_TRUE(store.makeDirectory("Dir"));
    EXPECT_FALSE(store.write("Dir/huge.bin", Bytes(19 << 20, 0x5A)));
    const Bytes most(15 << 20, 0xA5);
    ASSERT_TRUE(store.write("Dir/most.bin", most));
    EXPECT_FALSE(store.write("Dir/more.bin", Bytes(3 << 20, 0x11)));
    ASSERT_TRUE(store.write("root.txt", bytesOf("in the root")));
    EXPECT_EQ(ok(mtools("mtype", kStart) + "::/root.txt"), "in the root");
    ASSERT_TRUE(store.flush());
    EXPECT_EQ(store.read("Dir/most.bin"), most);
    EXPECT_EQ(sh(mtools("mdir", kStart) + "::/Dir/more.bin").exitCode, 1);
    EXPECT_EQ(fsckFat(kStart).exitCode, 0);
}

// A file whose cluster chain runs into a free entry, as a cut write leaves it, is neither read,
// replaced nor removed: the operation fails with ERROR_FILE_CORRUPT, as on Windows, and mtools
// never frees clusters along the broken chain (the FAT's entry 0 among them).
TEST_F(FatStoreTest, AFileWhoseChainRunsIntoAFreeEntryIsNeitherReplacedNorRemoved) {
    makeImage(80, "start=2048, type=c\\n");
    makeFat32(kStart, 78 * 2048, "STORE");
    ok("head -c 2000 /dev/urandom > " + folder.path() + "/broken.bin");
    ok(mtools("mcopy", kStart) + folder.path() + "/broken.bin ::/");
    put("whole.txt", "whole", "/");
    const std::string chain = ok(mtools("mshowfat", kStart) + "::/broken.bin");  // "<3-6>"
    const auto first = std::stoll(chain.substr(chain.find('<') + 1));
    const std::int64_t fat =
        kOffset +
        512 * std::stoll(ok("od -An -tu2 -N2 -j " + std::to_string(kOffset + 14) + " " + image));
    ok("dd if=/dev/zero of=" + image +
       " bs=1 count=4 conv=notrunc status=none seek=" + std::to_string(fat + 4 * (first + 1)));
    const auto entryZero = [&] {
        return ok("od -An -tx4 -N4 -j " + std::to_string(fat) + " " + image);
    };
    const std::string media = entryZero();

    FatStore store(image, kOffset);
    EXPECT_FALSE(store.write("Broken.bin", bytesOf("new")));
    EXPECT_EQ(store.lastError(), kFileCorrupt);
    EXPECT_FALSE(store.remove("broken.bin"));
    EXPECT_EQ(store.lastError(), kFileCorrupt);
    EXPECT_FALSE(store.read("broken.bin"));
    ASSERT_TRUE(store.write("whole.txt", bytesOf("replaced")));
    EXPECT_EQ(store.lastError(), 0u);
    ok("mkdir " + folder.path() + "/tree && echo new > " + folder.path() + "/tree/BROKEN.BIN");
    EXPECT_FALSE(store.importTree(folder.path() + "/tree"));
    EXPECT_EQ(store.lastError(), kFileCorrupt);

    EXPECT_EQ(ok(mtools("mtype", kStart) + "::/whole.txt"), "replaced");
    EXPECT_NE(ok(mtools("mdir", kStart) + "-b ::/").find("broken.bin"), std::string::npos);
    EXPECT_EQ(entryZero(), media);
    // The program is told why.
    ImageMachine machine(options());
    EXPECT_FALSE(machine.deleteFile(u"E:\\broken.bin"));
    EXPECT_EQ(machine.lastError(), kFileCorrupt);
}

}  // namespace
}  // namespace qel::image::test
