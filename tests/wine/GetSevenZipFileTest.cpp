// "Get 7-Zip file" on the real (Wine) system: the main window's button writes the embedded payload
// into the current directory and shows its password in a message box, which a thread timer reads
// and closes.

#include <cwchar>

#include "WineTestSupport.h"
#include "app/MainWindow.h"

#include <gtest/gtest.h>

namespace qel {
namespace {

using wine_test::TempFolder;

struct MessageBoxSeen {
    Text title;
    Text text;
    int count = 0;
};
MessageBoxSeen* seen = nullptr;

Text windowText(HWND hwnd) {
    wchar_t buffer[512] = {};
    GetWindowTextW(hwnd, buffer, 512);
    return win32::fromWide(buffer);
}

BOOL CALLBACK findMessageBox(HWND hwnd, LPARAM found) {
    wchar_t name[16] = {};
    GetClassNameW(hwnd, name, 16);
    if (std::wcscmp(name, L"#32770") != 0 || !IsWindowVisible(hwnd)) return TRUE;
    *reinterpret_cast<HWND*>(found) = hwnd;
    return FALSE;
}

// Reads the open message box (its text is the static control 0xFFFF) and presses its OK.
void CALLBACK closeMessageBox(HWND, UINT, UINT_PTR, DWORD) {
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findMessageBox, reinterpret_cast<LPARAM>(&box));
    if (box == nullptr) return;
    seen->title = windowText(box);
    seen->text = windowText(GetDlgItem(box, 0xFFFF));
    ++seen->count;
    PostMessageW(box, WM_COMMAND, IDOK, 0);
}

// Makes a folder the process's current directory for as long as it lives.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const Text& folder) {
        GetCurrentDirectoryW(MAX_PATH, previous_);
        SetCurrentDirectoryW(win32::wide(folder));
    }
    ~CurrentDirectory() { SetCurrentDirectoryW(previous_); }
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

private:
    wchar_t previous_[MAX_PATH] = {};
};

TEST(Win32GetSevenZipFile, WritesThePayloadIntoTheCurrentDirectoryAndShowsThePassword) {
    Win32Platform sys;
    TempFolder folder;
    const CurrentDirectory current(folder.path());
    ASSERT_EQ(sys.currentDirectory(), folder.path());

    MainWindow window(sys);
    window.create();
    const auto payload = sys.rcData(u"QEL7z");
    ASSERT_TRUE(payload.has_value());
    ASSERT_GT(payload->size(), 0u);
    const Text archive = folder / u"RAZEvor.7z";
    writeWholeFile(sys, archive, Bytes(payload->size() + 4096, 'x'));  // an earlier, longer file

    MessageBoxSeen record;
    seen = &record;
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, closeMessageBox);
    for (int press = 1; press <= 2; ++press) {
        SCOPED_TRACE(press);
        window.onClick(window.Button2);  // as the window procedure reports the click
        EXPECT_EQ(record.count, press);
        EXPECT_EQ(record.title, u"QEL Duzu");
        EXPECT_EQ(record.text, u"Tập tin đã được lưu tại ./RAZEvor.7z (Mật khẩu: tubrisk)");
        EXPECT_EQ(readWholeFile(sys, archive), Bytes(payload->begin(), payload->end()));
        EXPECT_TRUE(sys.enabled(window.Button2));
    }
    KillTimer(nullptr, timer);
    seen = nullptr;
}

}  // namespace
}  // namespace qel
