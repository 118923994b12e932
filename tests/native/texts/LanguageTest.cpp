#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "fake/FakeMachine.h"
#include "texts/Dialogs.h"
#include "texts/TextTable.h"

namespace qel {
namespace {

using fake::FakeMachine;

struct Language : ::testing::Test {
    void SetUp() override { window.create(); }
    Text caption(ControlId id) { return machine.caption(id); }

    FakeMachine machine;
    MainWindow window{machine};
};

TEST_F(Language, StartsInVietnameseAndTheLinkToggles) {
    EXPECT_EQ(window.texts.lang, u"vi");
    EXPECT_EQ(caption(window.Label3), u"EN");
    EXPECT_EQ(caption(window.Label1), u"Chọn ổ đĩa để giải nén tập tin:");
    EXPECT_EQ(caption(window.Button2), u"Lấy tệp 7-Zip");
    EXPECT_EQ(caption(window.Button3), u"Tự động phân vùng");
    EXPECT_EQ(caption(window.CheckBox1), u"Định dạng sang FAT32");
    EXPECT_EQ(caption(window.CheckBox2), u"Cài đặt Bootloader");
    EXPECT_EQ(caption(window.CheckBox3), u"Sử dụng Ổ đĩa cứng");

    machine.userClick(window.Label3);
    EXPECT_EQ(window.texts.lang, u"en");
    EXPECT_EQ(caption(window.Label3), u"VI");
    EXPECT_EQ(caption(window.Label1), u"Select the drive to extract files:");
    EXPECT_EQ(caption(window.Button2), u"Get 7-Zip file");
    EXPECT_EQ(caption(window.Button3), u"AutoPartition");
    EXPECT_EQ(caption(window.CheckBox1), u"Format to FAT32");
    EXPECT_EQ(caption(window.CheckBox2), u"Auto install Bootloader");
    EXPECT_EQ(caption(window.CheckBox3), u"Use Hard Disk Drive");
    EXPECT_EQ(caption(window.Button1), u"OK");
    EXPECT_EQ(caption(window.Label2), u"v0.9.5.16");

    machine.userClick(window.Label3);
    EXPECT_EQ(window.texts.lang, u"vi");
    EXPECT_EQ(caption(window.Label3), u"EN");
    EXPECT_EQ(window.texts.lcancel, u"Hủy bỏ");
}

TEST_F(Language, DialogsFollowTheLanguage) {
    ShowSupportError(machine, window.texts);
    machine.userClick(window.Label3);
    ShowSupportError(machine, window.texts);
    ASSERT_EQ(machine.dialogs().size(), 2u);
    EXPECT_EQ(machine.dialogs()[0].spec.title, u"Lỗi");
    EXPECT_EQ(machine.dialogs()[0].spec.message, u"Lỗi, vui lòng liên hệ tác giả để được hỗ trợ!");
    EXPECT_EQ(machine.dialogs()[1].spec.title, u"Error");
    EXPECT_EQ(machine.dialogs()[1].spec.message, u"Error, please contact to author for support!");
}

TEST(TextTable, EveryFieldIsFilledInBothLanguagesExceptTheComposedNotice) {
    for (const Text lang : {u"vi", u"en"}) {
        TextTable table;
        table.ldautopart = u"composed earlier";
        applyLanguage(table, lang);
        EXPECT_EQ(table.lang, lang);
        EXPECT_EQ(table.ldautopart, u"composed earlier");
        for (const Text* field : {&table.lwarn,       &table.lerror,       &table.linfo,
                                  &table.llerror,     &table.lformaterror, &table.lautoformat,
                                  &table.lformatting, &table.lformatted,   &table.lextract,
                                  &table.lcanceled,   &table.lcancel,      &table.lrunapp,
                                  &table.lsaved,      &table.llistdisk,    &table.lfat32only,
                                  &table.lfat32ntfs,  &table.lcleandisk,   &table.lrecommended,
                                  &table.lchoose,     &table.lfcopy,       &table.linstalling,
                                  &table.lpart1,      &table.lpart2,       &table.lpartnew,
                                  &table.lunplug,     &table.lsize,        &table.lfatsize,
                                  &table.llwarn,      &table.llrepart,     &table.lnosupportrepart,
                                  &table.lcleandesc,  &table.lntfsxp})
            EXPECT_FALSE(field->empty()) << toUtf8(lang);
    }
}

TEST(TextTable, ExactTextsWithLineBreaksAmpersandsAndTrailingBlanks) {
    TextTable vi;
    applyLanguage(vi, u"vi");
    TextTable en;
    applyLanguage(en, u"en");
    EXPECT_EQ(en.lfat32ntfs, u"FAT32 && NTFS");
    EXPECT_EQ(vi.lfat32ntfs, u"FAT32 && NTFS");
    EXPECT_EQ(en.lsize, u"The FAT32 partition size should be between 160MB and ");
    EXPECT_EQ(vi.lsize, u"Kích thước phân vùng FAT32 cần có giá trị từ 160MB đến ");
    EXPECT_EQ(vi.lunplug, u"Có lỗi gì đó đã xãy ra, vui lòng rút USB và cắm nó trở lại.");
    EXPECT_EQ(en.lnosupportrepart,
              u"There are no hard disk on your PC is supported to repartition.\r\nThis tool only "
              u"supports repartition for removable devices such as USB, SD Cards.");
    EXPECT_EQ(en.llrepart.substr(0, 40), u"This disk devices need to repartition.\r\n");
    EXPECT_NE(en.llrepart.find(u"the \"Start LBA\" value greater than 123 sectors (62,976 bytes)."
                               u"\r\n\r\nDo you want"),
              Text::npos);
    EXPECT_EQ(vi.lntfsxp.substr(0, 27), u"Bạn đang sử dụng %s.\r\nĐể sử");
    EXPECT_NE(vi.lntfsxp.find(u"tùy chọn \"FAT32 && NTFS\", bạn"), Text::npos);
    EXPECT_EQ(formatText(en.llwarn, u"E:"),
              u"Warning:\r\nALL data on drive 'E:' will be lost.\r\nThis partition will be "
              u"formatted to FAT32.");
}

}  // namespace
}  // namespace qel
