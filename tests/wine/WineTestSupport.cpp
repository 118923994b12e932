#include "WineTestSupport.h"

#include <shellapi.h>

namespace qel::wine_test {

TempFolder::TempFolder() {
    wchar_t base[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, base);
    static int counter = 0;
    path_ = win32::fromWide(base) + u"qel-wine-test-" +
            decimal(static_cast<std::uint32_t>(GetCurrentProcessId())) + u"-" + decimal(++counter);
    CreateDirectoryW(win32::wide(path_), nullptr);
}

TempFolder::~TempFolder() {
    Text list = path_;
    list.push_back(u'\0');
    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = win32::wide(list);
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    SHFileOperationW(&operation);
}

int openHandleCount() {
    constexpr std::uintptr_t kHighestProbed = 0x8000;
    int count = 0;
    for (std::uintptr_t value = 4; value <= kHighestProbed; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

bool pumpUntil(Win32Platform& platform, const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() > end) return false;
        platform.pumpPendingMessages();
        Sleep(5);
    }
    return true;
}

}  // namespace qel::wine_test
