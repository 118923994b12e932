#include <gtest/gtest.h>

#include "fake/FakeMachine.h"
#include "texts/Dialogs.h"

namespace qel {
namespace {

using fake::FakeMachine;

constexpr int kButtonYes = 1;
constexpr int kButtonNo = 2;
constexpr int kButtonAbort = 16;
constexpr int kButtonHelp = 1024;

TextTable vietnameseTexts() {
    TextTable texts;
    texts.lang = u"vi";
    texts.lwarn = u"Cảnh báo";
    texts.lerror = u"Lỗi";
    texts.linfo = u"Thông tin";
    texts.lcancel = u"Hủy bỏ";
    texts.llerror = u"Lỗi, vui lòng liên hệ tác giả!";
    return texts;
}

std::vector<Text> titlesOfEveryKind(FakeMachine& machine, const TextTable& texts) {
    machine.clearRecords();
    for (const DialogKind kind : {DialogKind::Warning, DialogKind::Error, DialogKind::Information})
        LangMessageDlg(machine, texts, u"text", kind, kButtonsOk, {u"OK"});
    std::vector<Text> titles;
    for (const auto& shown : machine.dialogs()) titles.push_back(shown.spec.title);
    return titles;
}

std::vector<Text> captionsOf(const DialogSpec& spec) {
    std::vector<Text> captions;
    for (const auto& button : spec.buttons) captions.push_back(button.caption);
    return captions;
}

TEST(MessageDialogs, TitlesFollowTheLanguageExactly) {
    FakeMachine machine;
    TextTable texts = vietnameseTexts();
    EXPECT_EQ(titlesOfEveryKind(machine, texts),
              (std::vector<Text>{u"Cảnh báo", u"Lỗi", u"Thông tin"}));

    const std::vector<Text> english{u"Warning", u"Error", u"Information"};
    texts.lang = u"en";
    EXPECT_EQ(titlesOfEveryKind(machine, texts), english);
    texts.lang = u"VI";  // the comparison is case-sensitive
    EXPECT_EQ(titlesOfEveryKind(machine, texts), english);
    EXPECT_EQ(titlesOfEveryKind(machine, TextTable{}), english);  // before the table is filled
}

TEST(MessageDialogs, OkCancelTakesCaptionsAndAnswersLikeTheStandardDialog) {
    FakeMachine machine;
    const TextTable texts = vietnameseTexts();
    machine.answerDialogs({kResultCancel, kResultOk});
    EXPECT_EQ(LangMessageDlg(machine, texts, u"Sure?", DialogKind::Warning, kButtonsOkCancel,
                             {u"OK", texts.lcancel}),
              kResultCancel);
    EXPECT_EQ(LangMessageDlg(machine, texts, u"Sure?", DialogKind::Warning, kButtonsOkCancel,
                             {u"OK", texts.lcancel}),
              kResultOk);

    const DialogSpec& spec = machine.dialogs().front().spec;
    EXPECT_EQ(spec.message, u"Sure?");
    EXPECT_EQ(spec.kind, DialogKind::Warning);
    ASSERT_EQ(spec.buttons.size(), 2u);
    EXPECT_EQ(spec.buttons[0].result, kResultOk);
    EXPECT_EQ(spec.buttons[1].result, kResultCancel);
    EXPECT_EQ(captionsOf(spec), (std::vector<Text>{u"OK", u"Hủy bỏ"}));
    EXPECT_EQ(spec.defaultResult, kResultOk);
    EXPECT_EQ(spec.escapeResult, kResultCancel);
    EXPECT_EQ(spec.closeResult, kResultCancel);
}

TEST(MessageDialogs, CaptionsRunOutOrAreLeftOver) {
    FakeMachine machine;
    const TextTable texts;
    LangMessageDlg(machine, texts, u"m", DialogKind::Information, kButtonsOkCancel, {u"Đồng ý"});
    EXPECT_EQ(captionsOf(machine.dialogs()[0].spec), (std::vector<Text>{u"Đồng ý", u"Cancel"}));

    LangMessageDlg(machine, texts, u"m", DialogKind::Information, kButtonsOk, {u"OK", u"extra"});
    const DialogSpec& okAlone = machine.dialogs()[1].spec;
    EXPECT_EQ(captionsOf(okAlone), (std::vector<Text>{u"OK"}));
    EXPECT_EQ(okAlone.escapeResult, kResultOk);  // with OK alone, Esc presses OK
    EXPECT_EQ(okAlone.defaultResult, kResultOk);
}

TEST(MessageDialogs, ButtonsKeepTheFixedOrderWhateverTheSet) {
    FakeMachine machine;
    const TextTable texts;
    LangMessageDlg(machine, texts, u"m", DialogKind::Warning,
                   kButtonHelp | kButtonCancel | kButtonNo | kButtonYes | kButtonAbort,
                   {u"1", u"2", u"3"});
    const DialogSpec& spec = machine.dialogs()[0].spec;
    EXPECT_EQ(captionsOf(spec), (std::vector<Text>{u"1", u"2", u"3", u"Abort", u"Help"}));
    EXPECT_EQ(spec.buttons[2].result, kResultCancel);
    EXPECT_EQ(spec.escapeResult, kResultCancel);

    LangMessageDlg(machine, texts, u"m", DialogKind::Warning, kButtonYes | kButtonNo, {});
    const DialogSpec& yesNo = machine.dialogs()[1].spec;
    EXPECT_EQ(captionsOf(yesNo), (std::vector<Text>{u"Yes", u"No"}));
    EXPECT_EQ(yesNo.escapeResult, yesNo.buttons[1].result);  // No answers Esc without Cancel
}

TEST(MessageDialogs, SupportErrorIsAnErrorWithOneOkButton) {
    FakeMachine machine;
    const TextTable texts = vietnameseTexts();
    ShowSupportError(machine, texts);
    ASSERT_EQ(machine.dialogs().size(), 1u);
    const DialogSpec& spec = machine.dialogs()[0].spec;
    EXPECT_EQ(spec.message, texts.llerror);
    EXPECT_EQ(spec.kind, DialogKind::Error);
    EXPECT_EQ(spec.title, u"Lỗi");
    ASSERT_EQ(spec.buttons.size(), 1u);
    EXPECT_EQ(spec.buttons[0].result, kResultOk);
    EXPECT_EQ(spec.buttons[0].caption, u"OK");
}

}  // namespace
}  // namespace qel
