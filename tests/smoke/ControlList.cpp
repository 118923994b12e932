// Prints a top-level window and its child controls as text, for the GUI smoke test, once the
// window is shown and has had a second to settle:
//   inspect.exe "<window title>" [seconds to wait for it, default 60]
// One line for the window, then one per child in creation order:
//   <class> "<caption>" at <left>,<top> client <width>x<height> [hidden|disabled]
// where the position is relative to the parent's client area. Exit code 0 when the window was
// shown, 1 when it did not appear in time.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::wstring textOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::wstring classOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

// UTF-8, so that Vietnamese captions survive the trip to the Unix side.
void printLine(const std::wstring& line) {
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, bytes.data(), size, nullptr, nullptr);
    std::printf("%s\n", bytes.c_str());
}

std::wstring describe(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    RECT frame{};
    GetWindowRect(window, &frame);
    POINT origin{frame.left, frame.top};
    if (HWND parent = GetParent(window)) ScreenToClient(parent, &origin);
    wchar_t place[128];
    std::swprintf(place, 128, L" at %ld,%ld client %ldx%ld", origin.x, origin.y,
                  client.right - client.left, client.bottom - client.top);
    std::wstring line = classOf(window) + L" \"" + textOf(window) + L"\"" + place;
    if (!IsWindowVisible(window)) line += L" hidden";
    if (!IsWindowEnabled(window)) line += L" disabled";
    return line;
}

BOOL CALLBACK printChild(HWND child, LPARAM topLevel) {
    if (GetParent(child) == reinterpret_cast<HWND>(topLevel)) printLine(L"  " + describe(child));
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fputs("usage: inspect.exe \"<window title>\" [seconds]\n", stderr);
        return 2;
    }
    const int seconds = argc > 2 ? _wtoi(argv[2]) : 60;
    HWND window = nullptr;
    for (int tenth = 0; tenth <= seconds * 10 && !window; ++tenth) {
        window = FindWindowW(nullptr, argv[1]);
        if (window && !IsWindowVisible(window)) window = nullptr;
        if (!window) Sleep(100);
    }
    if (!window) {
        printLine(L"no window \"" + std::wstring(argv[1]) + L"\"");
        return 1;
    }
    Sleep(1000);
    printLine(describe(window));
    EnumChildWindows(window, printChild, reinterpret_cast<LPARAM>(window));
    std::fflush(stdout);
    return 0;
}
