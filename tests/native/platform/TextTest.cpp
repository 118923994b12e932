#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "platform/Text.h"

namespace qel {
namespace {

TEST(Text, Utf8RoundTripKeepsVietnameseAndAstralCharacters) {
    const std::string source = "Chọn ổ đĩa để giải nén tập tin: \xF0\x9F\x98\x80";
    const Text text = fromUtf8(source);
    EXPECT_EQ(text.substr(0, 4), u"Chọn");
    EXPECT_EQ(toUtf8(text), source);
}

TEST(Text, InvalidUtf8BecomesReplacementCharacters) {
    EXPECT_EQ(fromUtf8("a\xC3"), u"a\uFFFD");
    EXPECT_EQ(fromUtf8("\xFF"
                       "b"),
              u"\uFFFDb");
}

TEST(Text, FormatReplacesTheFirstPlaceholderOnly) {
    EXPECT_EQ(formatText(u"drive '%s' and %s", u"E:"), u"drive 'E:' and %s");
    EXPECT_EQ(formatText(u"no placeholder", u"E:"), u"no placeholder");
}

TEST(WindowsName, FollowsVersionAndProductType) {
    EXPECT_EQ(WindowsName({5, 1, 2600}), u"Windows XP");
    EXPECT_EQ(WindowsName({5, 2, 3790}), u"Windows XP");
    EXPECT_EQ(WindowsName({5, 2, 3790, true}), u"Windows Server 2003");
    EXPECT_EQ(WindowsName({10, 0, 22631}), u"Windows 11");
}

}  // namespace
}  // namespace qel
