#include <gtest/gtest.h>

#include "boot/MenuFile.h"
#include "fake/FakeMachine.h"

namespace qel {
namespace {

const Text kMenu = u"E:\\QEL\\Menu\\Others.cfg";

std::string syslinuxBlock(const std::string& entryLine) {
    return "### Start Syslinux Legacy\r\n"
           "if [ \"$pc\" -a -z \"$cd\" ]; then\r\n" +
           entryLine +
           "\r\n"
           "\tchainloader /QEL/Tools/syslinux/syslinux/syslinux.bin\r\n"
           "}\r\n"
           "fi\r\n"
           "### End Syslinux Legacy\r\n";
}

std::string syslinuxBlockWithKey(char key) {
    const std::string k(1, key);
    return syslinuxBlock("menuentry \"[" + k + "] Syslinux\" --hotkey=" + k + " {");
}

const std::string kCloverBlock =
    "### Start Clover Legacy\r\n"
    "if [ \"$pc\" -a -z \"$cd\" ]; then\r\n"
    "menuentry \"[l] Clover\" --hotkey=l {\r\n"
    "\tsearch --file --no-floppy --set=root /EFI/CLOVER/CloverLegacy\r\n"
    "\tchainloader /EFI/CLOVER/CloverLegacy\r\n"
    "}\r\n"
    "fi\r\n"
    "### End Clover Legacy\r\n";

Bytes utf16(const std::string& ascii, bool bigEndian) {
    Bytes out = bigEndian ? Bytes{0xFE, 0xFF} : Bytes{0xFF, 0xFE};
    for (const char c : ascii) {
        out.push_back(bigEndian ? 0 : static_cast<std::uint8_t>(c));
        out.push_back(bigEndian ? static_cast<std::uint8_t>(c) : 0);
    }
    return out;
}

Bytes withoutMark(const Bytes& bytes) {
    return Bytes(bytes.begin() + 2, bytes.end());
}

class MenuFileTest : public ::testing::Test {
protected:
    void SetUp() override { fm.putDirectory(u"E:\\QEL\\Menu"); }

    // Runs the Syslinux entry on a menu file holding the given text; returns what was appended.
    std::string syslinuxAddition(const std::string& existing) {
        fm.putFile(kMenu, existing);
        EXPECT_TRUE(AddSyslinuxMenuEntry(fm, u"E:"));
        const std::string after = fm.fileText(kMenu);
        EXPECT_EQ(after.substr(0, existing.size()), existing) << "existing content rewritten";
        return after.substr(existing.size());
    }

    fake::FakeMachine fm;
};

TEST_F(MenuFileTest, MissingFileIsCreatedWithTheSyslinuxBlockAndASecondCallAddsNothing) {
    EXPECT_TRUE(AddSyslinuxMenuEntry(fm, u"E:"));
    EXPECT_EQ(fm.fileText(kMenu), syslinuxBlockWithKey('s'));
    EXPECT_TRUE(AddSyslinuxMenuEntry(fm, u"E:"));
    EXPECT_EQ(fm.fileText(kMenu), syslinuxBlockWithKey('s'));
    EXPECT_EQ(fm.openHandles(), 0);
}

TEST_F(MenuFileTest, HotkeyIsTheFirstCandidateNoEntryLineDeclares) {
    struct Case {
        const char* name;
        std::string file;
        char expected;
    };
    const std::vector<Case> cases = {
        {"clover block only", kCloverBlock, 's'},
        {"s and 1 taken",
         "menuentry \"A\" --hotkey=s {\r\n}\r\nmenuentry \"B\" --hotkey=1 {\r\n}\r\n", '2'},
        {"indented and submenu lines do not count",
         "\tmenuentry \"A\" --hotkey=s {\r\nsubmenu \"B\" --hotkey=s {\r\n"
         " menuentry \"C\" --hotkey=s {\r\n",
         's'},
        {"uppercase S and quoted value remove nothing",
         "menuentry \"A\" --hotkey=S {\r\nmenuentry \"B\" --hotkey=\"s\" {\r\n", 's'},
        {"only the first option of a line counts",
         "menuentry \"A\" --hotkey=s --hotkey=1 {\r\nmenuentry \"B\" --hotkey=2 {\r\n", '1'},
        {"nothing after the option", "menuentry \"A\" --hotkey=", 's'},
        {"lowercase and the blank are required",
         "Menuentry \"A\" --hotkey=s {\r\nmenuentry\t\"B\" --hotkey=s {\r\n", 's'},
        {"non-candidates are never chosen",
         "menuentry \"A\" --hotkey=s {\r\nmenuentry \"B\" --hotkey=c {\r\n", '1'},
        {"later candidates after all digits",
         "menuentry \"A\" --hotkey=s {\nmenuentry \"1\" --hotkey=1 {\nmenuentry \"2\" --hotkey=2 "
         "{\n"
         "menuentry \"3\" --hotkey=3 {\nmenuentry \"4\" --hotkey=4 {\nmenuentry \"5\" --hotkey=5 "
         "{\n"
         "menuentry \"6\" --hotkey=6 {\nmenuentry \"7\" --hotkey=7 {\nmenuentry \"8\" --hotkey=8 "
         "{\n"
         "menuentry \"9\" --hotkey=9 {\nmenuentry \"a\" --hotkey=a {\n",
         'b'},
        {"LF-only line ends", "menuentry \"A\" --hotkey=s {\nmenuentry \"B\" --hotkey=1 {\n", '2'},
        {"CR-only line ends", "menuentry \"A\" --hotkey=s {\rmenuentry \"B\" --hotkey=1 {\r", '2'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string expected = syslinuxBlockWithKey(c.expected);
        if (!c.file.empty() && c.file.back() != '\n' && c.file.back() != '\r')
            expected = "\r\n" + expected;
        EXPECT_EQ(syslinuxAddition(c.file), expected);
    }
}

TEST_F(MenuFileTest, AllCandidatesTakenGivesTheEntryWithoutHotkey) {
    std::string file;
    for (const char key : std::string("s123456789abdijmnpqtwxyz"))
        file += "menuentry \"" + std::string(1, key) + "\" --hotkey=" + key + " {\r\n}\r\n";
    EXPECT_EQ(syslinuxAddition(file), syslinuxBlock("menuentry \"Syslinux\" {"));
}

TEST_F(MenuFileTest, TheOpeningMarkerAloneDecidesThatTheBlockIsPresent) {
    // The rest of the block edited away: still present, nothing written, even to a read-only file.
    fm.putFile(kMenu, "menuentry \"X\" {\n### Start Syslinux Legacy\nfi\n");
    fm.makeReadOnly(kMenu);
    EXPECT_TRUE(AddSyslinuxMenuEntry(fm, u"E:"));
    EXPECT_EQ(fm.fileText(kMenu), "menuentry \"X\" {\n### Start Syslinux Legacy\nfi\n");

    // Not the whole line, or another block's marker: no marker.
    EXPECT_EQ(syslinuxAddition("### Start Syslinux Legacy \r\n"), syslinuxBlockWithKey('s'));
    EXPECT_EQ(syslinuxAddition(kCloverBlock), syslinuxBlockWithKey('s'));
}

// What an append cut off by a power loss leaves at the end: room the file got whose content never
// came (NUL bytes), perhaps behind the block's first lines. The next run writes the block whole.
TEST_F(MenuFileTest, AnAppendCutOffByAPowerLossIsReplacedByTheWholeBlock) {
    const std::string block = syslinuxBlockWithKey('s');
    const std::string nuls(40, '\0');
    for (const std::string& torn : {nuls, block.substr(0, 60) + nuls, block + nuls}) {
        fm.putFile(kMenu, kCloverBlock + torn);
        EXPECT_TRUE(AddSyslinuxMenuEntry(fm, u"E:"));
        EXPECT_EQ(fm.fileText(kMenu), kCloverBlock + block);
    }
}

TEST_F(MenuFileTest, ALastLineWithoutLineBreakIsEndedBeforeTheBlock) {
    const std::string last = "menuentry \"A\" --hotkey=s {";
    EXPECT_EQ(syslinuxAddition(last), "\r\n" + syslinuxBlockWithKey('1'));
    // The marker now stands on its own line: a second run finds it.
    const std::string once = fm.fileText(kMenu);
    EXPECT_TRUE(AddSyslinuxMenuEntry(fm, u"E:"));
    EXPECT_EQ(fm.fileText(kMenu), once);

    // Already ended (by CR alone or LF alone) or empty: no extra line break.
    EXPECT_EQ(syslinuxAddition("x\r"), syslinuxBlockWithKey('s'));
    EXPECT_EQ(syslinuxAddition("x\n"), syslinuxBlockWithKey('s'));
    EXPECT_EQ(syslinuxAddition(""), syslinuxBlockWithKey('s'));
}

TEST_F(MenuFileTest, Utf8ByteOrderMarkIsNotPartOfTheFirstLine) {
    const std::string mark = "\xEF\xBB\xBF";
    const std::string marked = mark + "### Start Syslinux Legacy\r\n";
    fm.putFile(kMenu, marked);
    EXPECT_TRUE(AddSyslinuxMenuEntry(fm, u"E:"));
    EXPECT_EQ(fm.fileText(kMenu), marked);

    // First-line hotkey behind the mark counts; Vietnamese text survives untouched.
    const std::string entries = mark + "menuentry \"Khởi động\" --hotkey=s {\r\n}\r\n";
    EXPECT_EQ(syslinuxAddition(entries), syslinuxBlockWithKey('1'));
}

TEST_F(MenuFileTest, Utf16FilesAreReadAndExtendedInTheirOwnEncoding) {
    for (const bool bigEndian : {false, true}) {
        for (const bool loneLastByte : {false, true}) {
            SCOPED_TRACE(testing::Message() << (bigEndian ? "BE" : "LE") << loneLastByte);
            Bytes before = utf16("menuentry \"A\" --hotkey=s {\r\n}", bigEndian);
            // A lone last byte is completed by a zero so that the block's units stay aligned.
            if (loneLastByte) before.push_back('x');
            fm.putFile(kMenu, before);
            EXPECT_TRUE(AddSyslinuxMenuEntry(fm, u"E:"));
            Bytes expected = before;
            if (loneLastByte) expected.push_back(0);
            const Bytes block = withoutMark(utf16("\r\n" + syslinuxBlockWithKey('1'), bigEndian));
            expected.insert(expected.end(), block.begin(), block.end());
            EXPECT_EQ(fm.fileBytes(kMenu), expected);
            // The block just written is recognised on the next run.
            EXPECT_TRUE(AddSyslinuxMenuEntry(fm, u"E:"));
            EXPECT_EQ(fm.fileBytes(kMenu), expected);
        }
    }
}

TEST_F(MenuFileTest, CloverBlockIsAppendedOnceAfterWhatTheFileHolds) {
    EXPECT_TRUE(AddCloverMenuEntry(fm, u"E:"));
    EXPECT_EQ(fm.fileText(kMenu), kCloverBlock);

    // After a Syslinux block, on a volume known by its GUID name.
    fake::FakeVolume volume;
    volume.guid = u"Volume{11111111-2222-3333-4444-555555555555}";
    fm.addVolume(volume);
    const Text root = u"\\\\?\\" + volume.guid;
    fm.putFile(root + u"\\QEL\\Menu\\Others.cfg", syslinuxBlockWithKey('s'));
    EXPECT_TRUE(AddCloverMenuEntry(fm, root));
    EXPECT_TRUE(AddCloverMenuEntry(fm, root));
    EXPECT_TRUE(AddSyslinuxMenuEntry(fm, root));
    EXPECT_EQ(fm.fileText(root + u"\\QEL\\Menu\\Others.cfg"),
              syslinuxBlockWithKey('s') + kCloverBlock);

    // Clover's hotkey l is not a candidate: Syslinux after Clover still gets s.
    fm.putFile(kMenu, kCloverBlock);
    EXPECT_TRUE(AddSyslinuxMenuEntry(fm, u"E:"));
    EXPECT_EQ(fm.fileText(kMenu), kCloverBlock + syslinuxBlockWithKey('s'));
    EXPECT_EQ(fm.openHandles(), 0);
}

TEST_F(MenuFileTest, FileFailuresRaiseIoErrorsAndCloseTheFile) {
    fm.putFile(kMenu, "menuentry \"A\" {\r\n");
    fm.makeReadOnly(kMenu);
    EXPECT_THROW(AddSyslinuxMenuEntry(fm, u"E:"), IoError);
    EXPECT_THROW(AddCloverMenuEntry(fm, u"E:"), IoError);
    EXPECT_EQ(fm.fileText(kMenu), "menuentry \"A\" {\r\n");

    EXPECT_THROW(AddSyslinuxMenuEntry(fm, u"F:"), IoError);  // no \QEL\Menu folder there
    fm.failWritesUnder(u"E:\\QEL");
    fm.putFile(u"E:\\QEL\\Menu\\Others.cfg", "x\r\n");
    EXPECT_THROW(AddCloverMenuEntry(fm, u"E:"), IoError);
    EXPECT_EQ(fm.openHandles(), 0);
}

}  // namespace
}  // namespace qel
