// Helper of the GUI tests under Wine: finds a shown top-level window by its title and one of its
// child controls by its caption, and prints the control's centre in screen coordinates, so that
// a script can click it with real input:
//   gui-probe.exe "<window title>" "<control caption>" [seconds to wait, default 30]
// prints "<x> <y>"; exit code 0 when found, 1 when the window or the control did not appear.
//   gui-probe.exe --values "<window title>"
// prints the text each drop-down list and edit box holds (asked of the control itself, which
// the window's caption does not carry), one line per control in creation order:
//   <class> "<text>"
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

struct Search {
    const wchar_t* caption;
    HWND found;
};

BOOL CALLBACK matchCaption(HWND child, LPARAM searchAddress) {
    auto* search = reinterpret_cast<Search*>(searchAddress);
    wchar_t text[256] = {};
    GetWindowTextW(child, text, 256);
    if (IsWindowVisible(child) && std::wstring(text) == search->caption) {
        search->found = child;
        return FALSE;
    }
    return TRUE;
}

HWND findControl(const wchar_t* title, const wchar_t* caption) {
    const HWND window = FindWindowW(nullptr, title);
    if (window == nullptr || !IsWindowVisible(window)) return nullptr;
    Search search{caption, nullptr};
    EnumChildWindows(window, matchCaption, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// UTF-8, so that Vietnamese texts survive the trip to the Unix side.
void printLine(const std::wstring& line) {
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, bytes.data(), size, nullptr, nullptr);
    std::printf("%s\n", bytes.c_str());
}

BOOL CALLBACK printValue(HWND child, LPARAM) {
    wchar_t kind[64] = {};
    GetClassNameW(child, kind, 64);
    if (lstrcmpiW(kind, L"ComboBox") != 0 && lstrcmpiW(kind, L"Edit") != 0) return TRUE;
    wchar_t text[512] = {};
    SendMessageW(child, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
    printLine(std::wstring(kind) + L" \"" + text + L"\"");
    return TRUE;
}

int printValues(const wchar_t* title) {
    const HWND window = FindWindowW(nullptr, title);
    if (window == nullptr) return 1;
    EnumChildWindows(window, printValue, 0);
    std::fflush(stdout);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fputs("usage: gui-probe.exe \"<window title>\" \"<control caption>\" [seconds]\n",
                   stderr);
        return 2;
    }
    if (std::wstring(argv[1]) == L"--values") return printValues(argv[2]);
    const int seconds = argc > 3 ? _wtoi(argv[3]) : 30;
    HWND control = nullptr;
    for (int tenth = 0; tenth <= seconds * 10 && control == nullptr; ++tenth) {
        control = findControl(argv[1], argv[2]);
        if (control == nullptr) Sleep(100);
    }
    if (control == nullptr) return 1;
    RECT frame{};
    GetWindowRect(control, &frame);
    std::printf("%ld %ld\n", (frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2);
    return 0;
}
