// The run-time built message dialog, driven from inside its own modal loop by a thread timer that
// finds it, reads it and then presses a key, clicks a button or closes it.

#include <cwchar>
#include <functional>

#include "WineTestSupport.h"

#include <gtest/gtest.h>

namespace qel {
namespace {

struct DialogProbe {
    std::function<void(HWND dialog)> action;
    HWND dialog = nullptr;
    Text title;
    std::vector<Text> captions;
    std::vector<bool> windowsEnabled;  // the program's windows while the dialog is open
    std::vector<HWND> programWindows;
    HWND owner = nullptr;
    int ticksAfterAction = 0;
};

DialogProbe* probe = nullptr;

Text textOf(HWND hwnd) {
    wchar_t buffer[256] = {};
    GetWindowTextW(hwnd, buffer, 256);
    return win32::fromWide(buffer);
}

bool hasClass(HWND hwnd, const wchar_t* name) {
    wchar_t buffer[64] = {};
    GetClassNameW(hwnd, buffer, 64);
    return _wcsicmp(buffer, name) == 0;
}

BOOL CALLBACK findDialog(HWND hwnd, LPARAM found) {
    if (!hasClass(hwnd, L"#32770") || !IsWindowVisible(hwnd)) return TRUE;
    *reinterpret_cast<HWND*>(found) = hwnd;
    return FALSE;
}

BOOL CALLBACK collectButtonCaptions(HWND child, LPARAM list) {
    if (hasClass(child, L"Button"))
        reinterpret_cast<std::vector<Text>*>(list)->push_back(textOf(child));
    return TRUE;
}

void CALLBACK probeTimer(HWND, UINT, UINT_PTR, DWORD) {
    if (probe->dialog != nullptr) {
        // The action should have ended the dialog; end it by force rather than hang the run.
        if (++probe->ticksAfterAction > 60 && IsWindow(probe->dialog))
            EndDialog(probe->dialog, -99);
        return;
    }
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findDialog, reinterpret_cast<LPARAM>(&dialog));
    if (dialog == nullptr) return;
    probe->dialog = dialog;
    probe->title = textOf(dialog);
    EnumChildWindows(dialog, collectButtonCaptions, reinterpret_cast<LPARAM>(&probe->captions));
    probe->owner = GetWindow(dialog, GW_OWNER);
    for (const HWND window : probe->programWindows)
        probe->windowsEnabled.push_back(IsWindowEnabled(window) != FALSE);
    probe->action(dialog);
}

int showProbed(Win32Platform& sys, const DialogSpec& params, DialogProbe& state) {
    probe = &state;
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, probeTimer);
    const int result = sys.messageDialog(params);
    KillTimer(nullptr, timer);
    probe = nullptr;
    return result;
}

void pressKey(WPARAM key) {
    PostMessageW(GetFocus(), WM_KEYDOWN, key, 0);
    PostMessageW(GetFocus(), WM_KEYUP, key, 0);
}

DialogSpec okCancel() {
    DialogSpec params;
    params.title = u"Cảnh báo";
    params.message = u"Cảnh báo:\r\nTOÀN BỘ dữ liệu trên ổ đĩa 'E:' sẽ bị mất.";
    params.kind = DialogKind::Warning;
    params.buttons = {{1, u"OK"}, {2, u"Hủy bỏ"}};
    params.defaultResult = 1;
    params.escapeResult = 2;
    params.closeResult = 2;
    return params;
}

class Win32MessageDialog : public ::testing::Test {
protected:
    void SetUp() override {
        WindowSpec params;
        params.title = u"main";
        params.clientWidth = 200;
        params.clientHeight = 100;
        main = sys.createWindow(params);
        params.title = u"second";
        second = sys.createWindow(params);
        sys.showWindow(main);
        sys.showWindow(second);
    }

    int show(const DialogSpec& params, std::function<void(HWND)> action) {
        state = DialogProbe{};
        state.action = std::move(action);
        state.programWindows = {hwnd(main), hwnd(second)};
        return showProbed(sys, params, state);
    }

    HWND hwnd(WindowId window) { return reinterpret_cast<HWND>(sys.nativeWindow(window)); }

    Win32Platform sys;
    WindowId main = 0;
    WindowId second = 0;
    DialogProbe state;
};

TEST_F(Win32MessageDialog, ShowsTheCallersTitleAndCaptionsInOrderAndEndsWithTheRightResult) {
    const DialogSpec params = okCancel();
    EXPECT_EQ(show(params, [](HWND) { pressKey(VK_ESCAPE); }), 2);
    EXPECT_EQ(state.title, u"Cảnh báo");
    EXPECT_EQ(state.captions, (std::vector<Text>{u"OK", u"Hủy bỏ"}));

    EXPECT_EQ(show(params, [](HWND dialog) { PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }),
              2);
    EXPECT_EQ(show(params, [](HWND) { pressKey(VK_RETURN); }), 1);
    EXPECT_EQ(show(params,
                   [](HWND dialog) {
                       PostMessageW(GetDlgItem(dialog, 1001), BM_CLICK, 0, 0);  // the second
                   }),
              2);
}

TEST_F(Win32MessageDialog, WithOkAloneEscPressesOkButTheCloseBoxStillRefuses) {
    DialogSpec params;
    params.title = u"Error";
    params.message = u"Unexpected error && no details.";
    params.kind = DialogKind::Error;
    params.buttons = {{1, u"OK"}};
    params.defaultResult = 1;
    params.escapeResult = 1;
    params.closeResult = 2;
    EXPECT_EQ(show(params, [](HWND) { pressKey(VK_ESCAPE); }), 1);
    EXPECT_EQ(state.captions, std::vector<Text>{u"OK"});
    EXPECT_EQ(show(params, [](HWND dialog) { PostMessageW(dialog, WM_CLOSE, 0, 0); }), 2);
}

TEST_F(Win32MessageDialog, ADialogThatEndsWithoutAnAnswerIsARefusal) {
    sys.postQuit();  // the program was asked to end: the modal loop gives up at once
    EXPECT_EQ(show(okCancel(), [](HWND) {}), 2);
    MSG msg{};
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));  // still pending
    EXPECT_TRUE(sys.windowEnabled(main));
}

TEST_F(Win32MessageDialog, EveryWindowOfTheProgramIsDisabledWhileItIsOpen) {
    SetActiveWindow(hwnd(second));
    EXPECT_EQ(show(okCancel(), [](HWND) { pressKey(VK_RETURN); }), 1);
    EXPECT_EQ(state.windowsEnabled, (std::vector<bool>{false, false}));
    EXPECT_EQ(state.owner, hwnd(second));  // the active window owns it
    EXPECT_TRUE(sys.windowEnabled(main));
    EXPECT_TRUE(sys.windowEnabled(second));

    // A window the program had disabled itself stays disabled afterwards.
    sys.setWindowEnabled(second, false);
    EXPECT_EQ(show(okCancel(), [](HWND) { pressKey(VK_ESCAPE); }), 2);
    EXPECT_TRUE(sys.windowEnabled(main));
    EXPECT_FALSE(sys.windowEnabled(second));
}

TEST_F(Win32MessageDialog, APlainMessageBoxIsOwnedByTheMainWindowAndKeepsItsDisabledState) {
    sys.setWindowEnabled(main, false);  // as during a run
    state = DialogProbe{};
    state.action = [](HWND) { pressKey(VK_RETURN); };
    probe = &state;
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, probeTimer);
    EXPECT_EQ(sys.messageBox(u"Could not find procedure X", u"QEL Duzu", MB_ICONERROR), IDOK);
    KillTimer(nullptr, timer);
    probe = nullptr;
    EXPECT_EQ(state.owner, hwnd(main));
    EXPECT_EQ(state.title, u"QEL Duzu");
    EXPECT_FALSE(sys.windowEnabled(main));
}

}  // namespace
}  // namespace qel
