// The standard message dialog, built at run time: the system icon of its kind, the message
// word-wrapped beside it and the caller's buttons, in the caller's order, under it. Modal: every
// window of the program is disabled while it is open.

#include <algorithm>
#include <vector>

#include "win32/Win32Platform.h"
#include "win32/Win32Text.h"
#include "win32/Win32Ui.h"

namespace qel {

using win32::wide;

namespace {

constexpr int kFirstButtonId = 1000;  // above IDOK, IDCANCEL and the other dialog ids

// Layout at 96 dots per inch.
constexpr int kMargin = 12;
constexpr int kIconGap = 12;
constexpr int kMessageWidth = 330;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kButtonGap = 8;
constexpr int kButtonPadding = 16;
constexpr int kButtonsTopGap = 16;

struct DialogState {
    const DialogSpec* params = nullptr;
    std::vector<HWND> disabledWindows;  // re-enabled before the dialog goes
    win32::FontHandle font;
    bool ended = false;
    int result = 0;
};

const wchar_t* iconOf(DialogKind kind) {
    switch (kind) {
        case DialogKind::Warning:
            return IDI_WARNING;
        case DialogKind::Error:
            return IDI_ERROR;
        case DialogKind::Information:
            return IDI_INFORMATION;
    }
    return IDI_INFORMATION;
}

win32::FontHandle messageFont() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) {
        // Systems before Vista know the structure without its last field.
        metrics.cbSize = sizeof(metrics) - sizeof(metrics.iPaddedBorderWidth);
        if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0))
            return win32::FontHandle(nullptr);
    }
    return win32::FontHandle(CreateFontIndirectW(&metrics.lfMessageFont));
}

// The size a text takes in a font, word-wrapped at maxWidth ("&&" counts as one "&").
SIZE textExtent(HWND window, HFONT font, const Text& text, int maxWidth, bool wrap) {
    RECT area{0, 0, maxWidth, 0};
    if (const HDC dc = GetDC(window)) {
        const HGDIOBJ previous = SelectObject(dc, font);
        DrawTextW(dc, wide(text), static_cast<int>(text.size()), &area,
                  DT_CALCRECT | DT_EXPANDTABS | (wrap ? DT_WORDBREAK : DT_SINGLELINE));
        SelectObject(dc, previous);
        ReleaseDC(window, dc);
    }
    return SIZE{area.right - area.left, area.bottom - area.top};
}

HWND createChild(HWND dialog, const wchar_t* className, const Text& text, DWORD style, int id,
                 const RECT& place, HFONT font) {
    const HWND child = CreateWindowExW(
        0, className, wide(text), WS_CHILD | WS_VISIBLE | style, place.left, place.top,
        place.right - place.left, place.bottom - place.top, dialog,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (child != nullptr && font != nullptr)
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return child;
}

// Where everything goes, in pixels of the dialog's client area.
struct DialogLayout {
    RECT icon{};
    RECT message{};
    std::vector<RECT> buttons;
    int clientWidth = 0;
    int clientHeight = 0;
};

DialogLayout measure(HWND dialog, const DialogSpec& params, HFONT font) {
    const int dpi = win32::dpiOf(dialog);
    const auto scaled = [dpi](int value) { return MulDiv(value, dpi, 96); };
    const int margin = scaled(kMargin);
    const int iconSize = GetSystemMetrics(SM_CXICON);
    const SIZE message = textExtent(dialog, font, params.message, scaled(kMessageWidth), true);

    std::vector<int> widths;
    int buttonsWidth = 0;
    for (const auto& button : params.buttons) {
        widths.push_back(std::max<int>(
            scaled(kButtonWidth),
            textExtent(dialog, font, button.caption, 0, false).cx + scaled(kButtonPadding)));
        buttonsWidth += widths.back() + (widths.size() > 1 ? scaled(kButtonGap) : 0);
    }

    DialogLayout layout;
    layout.icon = RECT{margin, margin, margin + iconSize, margin + iconSize};
    // A message shorter than the icon is centred on it.
    const int textLeft = margin + iconSize + scaled(kIconGap);
    const int textTop = margin + std::max<int>(0, (iconSize - message.cy) / 2);
    layout.message = RECT{textLeft, textTop, textLeft + message.cx, textTop + message.cy};
    layout.clientWidth = std::max<int>(textLeft + message.cx + margin, buttonsWidth + 2 * margin);
    const int buttonsTop = margin + std::max<int>(iconSize, message.cy) + scaled(kButtonsTopGap);
    int left = (layout.clientWidth - buttonsWidth) / 2;
    for (const int width : widths) {
        layout.buttons.push_back(
            RECT{left, buttonsTop, left + width, buttonsTop + scaled(kButtonHeight)});
        left += width + scaled(kButtonGap);
    }
    layout.clientHeight = buttonsTop + scaled(kButtonHeight) + margin;
    return layout;
}

// Creates the buttons in the caller's order; Enter presses the focused one: the default button,
// else the first.
void createButtons(HWND dialog, const DialogSpec& params, const DialogLayout& layout, HFONT font) {
    HWND focus = nullptr;
    for (std::size_t index = 0; index < params.buttons.size(); ++index) {
        const bool isDefault =
            focus == nullptr && params.buttons[index].result == params.defaultResult;
        const int id = kFirstButtonId + static_cast<int>(index);
        const HWND button = createChild(dialog, L"BUTTON", params.buttons[index].caption,
                                        WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON),
                                        id, layout.buttons[index], font);
        if (isDefault) {
            SendMessageW(dialog, DM_SETDEFID, static_cast<WPARAM>(id), 0);
            focus = button;
        }
    }
    if (focus == nullptr) focus = GetDlgItem(dialog, kFirstButtonId);
    if (focus != nullptr) SetFocus(focus);
}

void layOut(HWND dialog, DialogState& state) {
    const DialogSpec& params = *state.params;
    const HFONT font = state.font.get();
    const DialogLayout layout = measure(dialog, params, font);

    const HWND icon = createChild(dialog, L"STATIC", Text(), SS_ICON, -1, layout.icon, nullptr);
    SendMessageW(icon, STM_SETICON,
                 reinterpret_cast<WPARAM>(LoadIconW(nullptr, iconOf(params.kind))), 0);
    createChild(dialog, L"STATIC", params.message, SS_LEFT, -1, layout.message, font);
    createButtons(dialog, params, layout, font);

    SetWindowTextW(dialog, wide(params.title));
    win32::setClientAreaSize(dialog, layout.clientWidth, layout.clientHeight);
    win32::centreWindow(dialog, win32::workAreaOf(GetWindow(dialog, GW_OWNER)));
}

void finish(HWND dialog, DialogState& state, int result) {
    // The program's windows are enabled again before the dialog goes, so that Windows hands the
    // activation back to the owner.
    for (const HWND window : state.disabledWindows)
        if (IsWindow(window)) EnableWindow(window, TRUE);
    state.disabledWindows.clear();
    state.ended = true;
    state.result = result;
    EndDialog(dialog, result);
}

INT_PTR CALLBACK dialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    try {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            layOut(dialog, *reinterpret_cast<DialogState*>(lParam));
            return FALSE;  // the focus is set
        }
        auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
        if (state == nullptr) return FALSE;
        const DialogSpec& params = *state->params;
        if (message == WM_CLOSE) {
            finish(dialog, *state, params.closeResult);
            return TRUE;
        }
        if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return FALSE;
        const int id = LOWORD(wParam);
        if (id >= kFirstButtonId && id < kFirstButtonId + static_cast<int>(params.buttons.size())) {
            finish(dialog, *state,
                   params.buttons[static_cast<std::size_t>(id - kFirstButtonId)].result);
        } else if (id == IDCANCEL) {  // Esc
            finish(dialog, *state, params.escapeResult);
        } else if (id == IDOK) {  // Enter without a default button
            finish(dialog, *state, params.defaultResult);
        } else {
            return FALSE;
        }
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

// An empty dialog template: the controls are created at run time in pixels.
struct alignas(DWORD) EmptyTemplate {
    DLGTEMPLATE header;
    WORD menu = 0;
    WORD windowClass = 0;
    WORD title = 0;
};

}  // namespace

int Win32Platform::messageDialog(const DialogSpec& params) {
    EmptyTemplate dialogTemplate{};
    dialogTemplate.header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    dialogTemplate.header.dwExtendedStyle = WS_EX_DLGMODALFRAME;

    // The owner is the program's active window, or its main window.
    HWND owner = GetActiveWindow();
    if (owner == nullptr || ui_->windowIds.count(owner) == 0) owner = ui_->mainWindow();

    DialogState state;
    state.params = &params;
    state.font = messageFont();
    const KeepDisabled keep(ui_->windowsEnabled(false));
    state.disabledWindows = ui_->windowsEnabled(true);
    for (const HWND window : state.disabledWindows) EnableWindow(window, FALSE);

    DialogBoxIndirectParamW(GetModuleHandleW(nullptr), &dialogTemplate.header, owner,
                            dialogProcedure, reinterpret_cast<LPARAM>(&state));
    for (const HWND window : state.disabledWindows)
        if (IsWindow(window)) EnableWindow(window, TRUE);
    // A dialog that could not be shown is no consent: it counts as closed.
    return state.ended ? state.result : params.closeResult;
}

}  // namespace qel
