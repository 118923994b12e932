#include "texts/Dialogs.h"

#include <array>

namespace qel {

namespace {

struct StandardButton {
    int bit;
    int result;
    const char16_t* caption;
};

constexpr int kResultYes = 6;
constexpr int kResultNo = 7;

// Every button a message dialog can carry, in the order the dialog shows them.
constexpr std::array<StandardButton, 12> kButtonOrder{{
    {1 << 0, kResultYes, u"Yes"},
    {1 << 1, kResultNo, u"No"},
    {kButtonOk, kResultOk, u"OK"},
    {kButtonCancel, kResultCancel, u"Cancel"},
    {1 << 4, 3, u"Abort"},
    {1 << 5, 4, u"Retry"},
    {1 << 6, 5, u"Ignore"},
    {1 << 7, 12, u"All"},
    {1 << 8, 13, u"No to All"},
    {1 << 9, 14, u"Yes to All"},
    {1 << 10, 9, u"Help"},
    {1 << 11, 8, u"Close"},
}};

Text dialogTitle(const TextTable& texts, DialogKind kind) {
    const bool vietnamese = texts.lang == u"vi";
    switch (kind) {
        case DialogKind::Warning:
            return vietnamese ? texts.lwarn : u"Warning";
        case DialogKind::Error:
            return vietnamese ? texts.lerror : u"Error";
        case DialogKind::Information:
            break;
    }
    return vietnamese ? texts.linfo : u"Information";
}

// The buttons of the set in display order; the given captions replace the standard ones in
// that order until they run out.
std::vector<DialogButton> dialogButtons(int buttons, const std::vector<Text>& captions) {
    std::vector<DialogButton> shown;
    for (const StandardButton& button : kButtonOrder) {
        if ((buttons & button.bit) == 0) continue;
        const std::size_t index = shown.size();
        shown.push_back(
            {button.result, index < captions.size() ? captions[index] : button.caption});
    }
    return shown;
}

bool hasResult(const std::vector<DialogButton>& buttons, int result) {
    for (const DialogButton& button : buttons)
        if (button.result == result) return true;
    return false;
}

int defaultButton(const std::vector<DialogButton>& buttons) {
    if (hasResult(buttons, kResultOk) || buttons.empty()) return kResultOk;
    return buttons.front().result;
}

// Esc answers Cancel when the dialog has it, else No, else OK; 0 when it has none of them.
int escapeButton(const std::vector<DialogButton>& buttons) {
    for (const int result : {kResultCancel, kResultNo, kResultOk})
        if (hasResult(buttons, result)) return result;
    return 0;
}

}  // namespace

int LangMessageDlg(Platform& sys, const TextTable& texts, const Text& message, DialogKind kind,
                   int buttons, const std::vector<Text>& captions) {
    DialogSpec params;
    params.title = dialogTitle(texts, kind);
    params.message = message;
    params.kind = kind;
    params.buttons = dialogButtons(buttons, captions);
    params.defaultResult = defaultButton(params.buttons);
    params.escapeResult = escapeButton(params.buttons);
    params.closeResult = kResultCancel;
    return sys.messageDialog(params);
}

void ShowSupportError(Platform& sys, const TextTable& texts) {
    LangMessageDlg(sys, texts, texts.llerror, DialogKind::Error, kButtonsOk, {u"OK"});
}

}  // namespace qel
