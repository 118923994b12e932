#include <gtest/gtest.h>

#include "fake/FakeMachine.h"
#include "texts/Dialogs.h"

namespace qel {
namespace {

using fake::FakeMachine;

TextTable vietnameseTexts() {
    TextTable texts;
    texts.lang = u"vi";
    texts.lwarn = u"Cảnh báo";
    texts.lerror = u"Lỗi";
    texts.linfo = u"Thông tin";
    texts.llerror = u"Lỗi, vui lòng liên hệ tác giả!";
    return texts;
}

std::vector<Text> titlesOfEveryKind(const TextTable& texts) {
    FakeMachine machine;
    std::vector<Text> titles;
    for (const DialogKind kind :
         {DialogKind::Warning, DialogKind::Error, DialogKind::Information}) {
        LangMessageDlg(machine, texts, u"text", kind, kButtonsOk, {u"OK"});
        titles.push_back(machine.dialogs().back().params.title);
    }
    return titles;
}

std::vector<Text> captionsOf(const DialogSpec& params) {
    std::vector<Text> captions;
    for (const auto& button : params.buttons) captions.push_back(button.caption);
    return captions;
}

TEST(MessageDialogs, TitlesFollowTheLanguageExactly) {
    TextTable texts = vietnameseTexts();
    EXPECT_EQ(titlesOfEveryKind(texts), (std::vector<Text>{u"Cảnh báo", u"Lỗi", u"Thông tin"}));
    const std::vector<Text> english{u"Warning", u"Error", u"Information"};
    texts.lang = u"VI";  // compared case-sensitively
    EXPECT_EQ(titlesOfEveryKind(texts), english);
    EXPECT_EQ(titlesOfEveryKind(TextTable{}), english);  // before the table is filled
}

TEST(MessageDialogs, ButtonsCaptionsDefaultEscAndClose) {
    FakeMachine machine;
    const TextTable texts;
    machine.answerDialogs({kResultCancel});
    EXPECT_EQ(LangMessageDlg(machine, texts, u"Sure?", DialogKind::Warning, kButtonsOkCancel,
                             {u"OK", u"Hủy bỏ"}),
              kResultCancel);
    const DialogSpec& okCancel = machine.dialogs()[0].params;
    EXPECT_EQ(okCancel.message, u"Sure?");
    ASSERT_EQ(okCancel.buttons.size(), 2u);
    EXPECT_EQ(okCancel.buttons[0].result, kResultOk);
    EXPECT_EQ(okCancel.buttons[1].result, kResultCancel);
    EXPECT_EQ(captionsOf(okCancel), (std::vector<Text>{u"OK", u"Hủy bỏ"}));
    EXPECT_EQ(okCancel.defaultResult, kResultOk);
    EXPECT_EQ(okCancel.escapeResult, kResultCancel);
    EXPECT_EQ(okCancel.closeResult, kResultCancel);

    // Captions run out (Cancel keeps its own) or are left over; OK alone answers Esc itself.
    LangMessageDlg(machine, texts, u"m", DialogKind::Warning, kButtonsOkCancel, {u"Đồng ý"});
    EXPECT_EQ(captionsOf(machine.dialogs()[1].params), (std::vector<Text>{u"Đồng ý", u"Cancel"}));
    LangMessageDlg(machine, texts, u"m", DialogKind::Warning, kButtonsOk, {u"OK", u"extra"});
    EXPECT_EQ(captionsOf(machine.dialogs()[2].params), (std::vector<Text>{u"OK"}));
    EXPECT_EQ(machine.dialogs()[2].params.escapeResult, kResultOk);

    // Any set keeps the fixed order Yes, No, OK, Cancel, Abort … Help; Esc prefers Cancel, then No.
    constexpr int kYes = 1, kNo = 2, kAbort = 16, kHelp = 1024;
    LangMessageDlg(machine, texts, u"m", DialogKind::Warning,
                   kHelp | kButtonCancel | kNo | kYes | kAbort, {u"1", u"2", u"3"});
    EXPECT_EQ(captionsOf(machine.dialogs()[3].params),
              (std::vector<Text>{u"1", u"2", u"3", u"Abort", u"Help"}));
    EXPECT_EQ(machine.dialogs()[3].params.escapeResult, kResultCancel);
    LangMessageDlg(machine, texts, u"m", DialogKind::Warning, kYes | kNo, {});
    const DialogSpec& yesNo = machine.dialogs()[4].params;
    EXPECT_EQ(captionsOf(yesNo), (std::vector<Text>{u"Yes", u"No"}));
    EXPECT_EQ(yesNo.escapeResult, yesNo.buttons[1].result);
}

TEST(MessageDialogs, SupportErrorIsAnErrorWithOneOkButton) {
    FakeMachine machine;
    ShowSupportError(machine, vietnameseTexts());
    ASSERT_EQ(machine.dialogs().size(), 1u);
    const DialogSpec& params = machine.dialogs()[0].params;
    EXPECT_EQ(params.message, u"Lỗi, vui lòng liên hệ tác giả!");
    EXPECT_EQ(params.kind, DialogKind::Error);
    EXPECT_EQ(params.title, u"Lỗi");
    ASSERT_EQ(params.buttons.size(), 1u);
    EXPECT_EQ(params.buttons[0].result, kResultOk);
    EXPECT_EQ(params.buttons[0].caption, u"OK");
}

}  // namespace
}  // namespace qel
