#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "fake/FakeMachine.h"
#include "texts/TextTable.h"

namespace qel {
namespace {

TEST(Language, StartsInVietnameseAndTheLinkToggles) {
    fake::FakeMachine machine;
    MainWindow w(machine);
    w.create();
    const ControlId controls[] = {w.Label1,    w.Label3,    w.Button2,   w.Button3,
                                  w.CheckBox1, w.CheckBox2, w.CheckBox3, w.Button1};
    const std::vector<Text> vietnamese = {u"Chọn ổ đĩa để giải nén tập tin:",
                                          u"EN",
                                          u"Lấy tệp 7-Zip",
                                          u"Tự động phân vùng",
                                          u"Định dạng sang FAT32",
                                          u"Cài đặt Bootloader",
                                          u"Sử dụng Ổ đĩa cứng",
                                          u"OK"};
    const std::vector<Text> english = {u"Select the drive to extract files:",
                                       u"VI",
                                       u"Get 7-Zip file",
                                       u"AutoPartition",
                                       u"Format to FAT32",
                                       u"Auto install Bootloader",
                                       u"Use Hard Disk Drive",
                                       u"OK"};
    const auto captions = [&] {
        std::vector<Text> shown;
        for (const ControlId control : controls) shown.push_back(machine.caption(control));
        return shown;
    };
    EXPECT_EQ(w.texts.lang, u"vi");
    EXPECT_EQ(captions(), vietnamese);
    machine.userClick(w.Label3);
    EXPECT_EQ(w.texts.lang, u"en");
    EXPECT_EQ(captions(), english);
    EXPECT_EQ(w.texts.lcancel, u"Cancel");
    machine.userClick(w.Label3);
    EXPECT_EQ(captions(), vietnamese);
    EXPECT_EQ(w.texts.lcancel, u"Hủy bỏ");
}

TEST(TextTable, ExactTextsWithLineBreaksAmpersandsAndTrailingBlanksButNoNotice) {
    TextTable vi;
    vi.ldautopart = u"composed by the repartition window";
    applyLanguage(vi, u"vi");
    EXPECT_EQ(vi.ldautopart, u"composed by the repartition window");
    TextTable en;
    applyLanguage(en, u"en");
    EXPECT_EQ(vi.lfat32ntfs, u"FAT32 && NTFS");
    EXPECT_EQ(en.lsize, u"The FAT32 partition size should be between 160MB and ");
    EXPECT_EQ(vi.lunplug, u"Có lỗi gì đó đã xãy ra, vui lòng rút USB và cắm nó trở lại.");
    EXPECT_EQ(en.lnosupportrepart,
              u"There are no hard disk on your PC is supported to repartition.\r\nThis tool only "
              u"supports repartition for removable devices such as USB, SD Cards.");
    EXPECT_NE(en.llrepart.find(u"\"Start LBA\" value greater than 123 sectors (62,976 bytes)."
                               u"\r\n\r\nDo you want"),
              Text::npos);
    EXPECT_NE(vi.lntfsxp.find(u"Bạn đang sử dụng %s.\r\nĐể sử dụng tùy chọn \"FAT32 && NTFS\""),
              Text::npos);
}

}  // namespace
}  // namespace qel
