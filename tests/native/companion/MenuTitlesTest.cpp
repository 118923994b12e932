// The companion program lists the entries of the drive's Grub2 menu files by their titles.
#include "../../../tools/companion/MenuTitles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using qel::companion::menuEntryTitles;
using Titles = std::vector<std::string>;

TEST(CompanionMenuTitles, ReadsTheBlocksTheInstallersWrite) {
    const std::string others =
        "### Start Syslinux Legacy\r\n"
        "if [ \"$pc\" -a -z \"$cd\" ]; then\r\n"
        "menuentry \"[s] Syslinux\" --hotkey=s {\r\n"
        "\tchainloader /QEL/Tools/syslinux/syslinux/syslinux.bin\r\n"
        "}\r\n"
        "fi\r\n"
        "### End Syslinux Legacy\r\n"
        "### Start Clover Legacy\r\n"
        "if [ \"$pc\" -a -z \"$cd\" ]; then\r\n"
        "menuentry \"[l] Clover\" --hotkey=l {\r\n"
        "\tsearch --file --no-floppy --set=root /EFI/CLOVER/CloverLegacy\r\n"
        "\tchainloader /EFI/CLOVER/CloverLegacy\r\n"
        "}\r\n"
        "fi\r\n"
        "### End Clover Legacy\r\n";
    EXPECT_EQ(menuEntryTitles(others), (Titles{"[s] Syslinux", "[l] Clover"}));
    EXPECT_EQ(menuEntryTitles(""), Titles{});
}

TEST(CompanionMenuTitles, FollowsGrubQuotingAndSkipsWhatIsNoEntry) {
    const std::string text =
        "  menuentry 'Single \"quoted\"' {\n"
        "\tmenuentry \"Escaped \\\" quote\" --class os {\n"
        "menuentry Bare{\n"
        "menuentry Word --hotkey=w {\n"
        "menuentry \"Never closed {\n"
        "menuentryX \"Not a keyword\" {\n"
        "submenu \"A submenu\" {\n"
        "# menuentry \"Commented out\" {\n"
        "menuentry\n";
    EXPECT_EQ(menuEntryTitles(text),
              (Titles{"Single \"quoted\"", "Escaped \" quote", "Bare", "Word"}));
}

TEST(CompanionMenuTitles, AcceptsEveryLineEnding) {
    EXPECT_EQ(menuEntryTitles("menuentry \"A\" {\rmenuentry \"B\" {\r\n\nmenuentry \"C\""),
              (Titles{"A", "B", "C"}));
}
