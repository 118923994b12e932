// QELCreator.exe: started from the drive once it has been made bootable. Tells the user that the
// drive is ready and lists the Grub2 menu entries found in the menu files of the drive it runs
// from (`\QEL\Menu\*.cfg`).
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "MenuTitles.h"

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using FileHandle = std::unique_ptr<void, HandleCloser>;

struct FindCloser {
    void operator()(HANDLE handle) const { FindClose(handle); }
};
using FindHandle = std::unique_ptr<void, FindCloser>;

std::wstring ownPath() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    return path;
}

// "E:\" for a program started from drive E:, otherwise the program's own folder.
std::wstring driveRootOf(const std::wstring& programPath) {
    if (programPath.size() >= 3 && programPath[1] == L':' && programPath[2] == L'\\') {
        return programPath.substr(0, 3);
    }
    return programPath.substr(0, programPath.find_last_of(L'\\') + 1);
}

std::string readFileBytes(const std::wstring& path) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        file.release();
        return {};
    }
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0) {
        bytes.append(chunk, read);
    }
    return bytes;
}

// Menu files are ANSI text as the installers write them; UTF-8 (with or without a byte-order
// mark) is recognised too.
std::wstring toWide(const std::string& text) {
    UINT codePage = CP_UTF8;
    DWORD flags = MB_ERR_INVALID_CHARS;
    int length = MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0);
    if (length == 0) {
        codePage = CP_ACP;
        flags = 0;
        length = MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0);
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
    return wide;
}

std::vector<std::wstring> menuFileNames(const std::wstring& menuFolder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    FindHandle search(FindFirstFileW((menuFolder + L"*.cfg").c_str(), &found));
    if (search.get() == INVALID_HANDLE_VALUE) {
        search.release();
        return names;
    }
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileW(search.get(), &found));
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring readyMessage(const std::wstring& root) {
    const std::wstring menuFolder = root + L"QEL\\Menu\\";
    std::wstring entries;
    for (const std::wstring& name : menuFileNames(menuFolder)) {
        for (const std::string& title :
             qel::companion::menuEntryTitles(readFileBytes(menuFolder + name))) {
            entries += L"\r\n    " + toWide(title) + L"    (" + name + L")";
        }
    }
    std::wstring message = L"The drive " + root + L" is ready to boot.\r\n\r\n";
    if (entries.empty()) return message + L"No menu entries were found in " + menuFolder + L".";
    return message + L"Grub2 menu entries found in " + menuFolder + L":" + entries;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    MessageBoxW(nullptr, readyMessage(driveRootOf(ownPath())).c_str(), L"QEL Creator",
                MB_OK | MB_ICONINFORMATION);
    return 0;
}
