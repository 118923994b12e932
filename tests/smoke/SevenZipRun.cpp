// Test program for the 7-Zip tests under Wine: the program's own staging, child-process runner and
// OK run with the real 7-Zip, and a driver that reads and clicks 7-Zip's windows and the program's.
//   sevenzip-run.exe extract <target root> [archive]
//       stages the work folder from this program's resources and runs the extraction command line
//       onto the target; prints "exit code N"
//   sevenzip-run.exe ok [archive]
//       the main window's OK run onto E:, with both options cleared; Wine knows no disk behind a
//       volume, so this program alone places E: on disk 1
//   sevenzip-run.exe cancel <seconds> <ready file> <go file>
//       waits for 7-Zip's progress window, prints its title and controls ("id<TAB>text"), creates
//       the ready file, waits for the go file, clicks Cancel, prints the confirmation's text and
//       answers it with Yes
//   sevenzip-run.exe box <seconds>
//       waits for a message box of the OK run, prints its title and text and the main window's
//       labels, and clicks its button
// [archive] is staged in place of the payload.
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "disk/Records.h"
#include "run/ChildProcess.h"
#include "run/CommandLines.h"
#include "run/WorkFolder.h"
#include "win32/Win32Platform.h"
#include "win32/Win32Text.h"

namespace {

using qel::Text;

constexpr std::uintptr_t kVolumeHandle = 0x7e570300;
constexpr int kProgressBarId = 100;  // the bar of 7-Zip's progress window

// A file mapped into memory for as long as the program runs.
class MappedFile {
public:
    explicit MappedFile(const wchar_t* path) {
        file_ =
            CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file_ == INVALID_HANDLE_VALUE) return;
        LARGE_INTEGER size{};
        GetFileSizeEx(file_, &size);
        mapping_ = CreateFileMappingW(file_, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (mapping_) view_ = MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0);
        if (view_) size_ = static_cast<std::size_t>(size.QuadPart);
    }
    ~MappedFile() {
        if (view_) UnmapViewOfFile(view_);
        if (mapping_) CloseHandle(mapping_);
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    bool valid() const { return view_ != nullptr; }
    qel::ByteSpan bytes() const { return {static_cast<const std::uint8_t*>(view_), size_}; }

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE mapping_ = nullptr;
    void* view_ = nullptr;
    std::size_t size_ = 0;
};

// The Win32 side, with E: on disk 1 and, when given, an archive of the test as the payload.
class TestPlatform : public qel::Win32Platform {
public:
    explicit TestPlatform(const MappedFile* archive) : archive_(archive) {}

    std::optional<qel::ByteSpan> rcData(const Text& name) override {
        if (archive_ && name == u"QEL7z") return archive_->bytes();
        return Win32Platform::rcData(name);
    }

    qel::Handle createFile(const Text& path, std::uint32_t access, std::uint32_t share,
                           std::uint32_t disposition, std::uint32_t attributes) override {
        if (path == u"\\\\.\\E:") return qel::Handle(this, kVolumeHandle);
        return Win32Platform::createFile(path, access, share, disposition, attributes);
    }

    bool deviceIoControl(const qel::Handle& h, std::uint32_t code, qel::ByteSpan input,
                         qel::MutableByteSpan output, std::uint32_t& bytesReturned) override {
        if (h.id() != kVolumeHandle)
            return Win32Platform::deviceIoControl(h, code, input, output, bytesReturned);
        namespace extents = qel::records::volume_disk_extents;
        if (code != qel::win::IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS ||
            output.size() < extents::kExtents + qel::records::disk_extent::kSize)
            return false;
        qel::records::writeU32(output, extents::kCount, 1);
        qel::records::writeU32(output, extents::kExtents + qel::records::disk_extent::kDiskNumber,
                               1);
        bytesReturned = extents::kExtents + qel::records::disk_extent::kSize;
        return true;
    }

    void closeHandle(std::uintptr_t id) override {
        if (id != kVolumeHandle) Win32Platform::closeHandle(id);
    }

private:
    const MappedFile* archive_;
};

int extract(const wchar_t* target, const MappedFile* archive) {
    TestPlatform sys(archive);
    const Text workBase = qel::WorkBase(sys);
    if (!qel::forceDirectories(sys, qel::WorkFolder(workBase) + u"\\Lang")) return 2;
    qel::StageWorkFolder(sys, workBase);
    std::uint32_t exitCode = 0;
    const bool started =
        qel::RunProcess(sys, qel::SevenZipCommandLine(workBase, qel::win32::fromWide(target)), true,
                        SW_SHOWNORMAL, exitCode);
    qel::DeleteWorkFolder(sys, 0, workBase);
    if (!started) return 3;
    std::printf("exit code %u\n", static_cast<unsigned>(exitCode));
    return 0;
}

int okRun(const MappedFile* archive) {
    TestPlatform sys(archive);
    qel::MainWindow window(sys);
    window.create();
    std::printf("work base %s\n", qel::toUtf8(qel::WorkBase(sys)).c_str());
    std::fflush(stdout);
    if (window.chosenDriveRoot() != u"E:") {
        std::printf("the drive chooser does not offer E:\n");
        return 1;
    }
    window.setTickedSilently(window.CheckBox1, false);
    window.setTickedSilently(window.CheckBox2, false);
    window.guarded([&] { window.Button1Click(); });
    std::printf("run ended\n");
    return 0;
}

// ---- the driver ----------------------------------------------------------------------------

std::string utf8(const std::wstring& text) {
    std::string out(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1,
                                                                 nullptr, 0, nullptr, nullptr)),
                    '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), static_cast<int>(out.size()),
                        nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

std::wstring textOf(HWND window) {
    wchar_t buffer[1024] = {};
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_BLOCK,
                        2000, nullptr);
    return buffer;
}

std::wstring classOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

std::vector<HWND> topLevelDialogs() {
    std::vector<HWND> found;
    EnumWindows(
        [](HWND window, LPARAM list) -> BOOL {
            if (IsWindowVisible(window) && classOf(window) == L"#32770")
                reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

template <typename Test>
HWND waitForDialog(int seconds, Test test) {
    for (int step = 0; step < seconds * 20; ++step) {
        for (HWND dialog : topLevelDialogs())
            if (test(dialog)) return dialog;
        Sleep(50);
    }
    return nullptr;
}

void printControls(HWND window) {
    std::printf("title\t%s\n", utf8(textOf(window)).c_str());
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        std::printf("%d\t%s\n", GetDlgCtrlID(child), utf8(textOf(child)).c_str());
    std::fflush(stdout);
}

bool isProgressWindow(HWND dialog) {
    const HWND bar = GetDlgItem(dialog, kProgressBarId);
    return bar && classOf(bar) == L"msctls_progress32";
}

bool fileExists(const wchar_t* path) {
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

int cancelSevenZip(int seconds, const wchar_t* readyFile, const wchar_t* goFile) {
    const HWND progress = waitForDialog(seconds, isProgressWindow);
    if (!progress) {
        std::printf("no progress window of 7-Zip\n");
        return 1;
    }
    printControls(progress);
    CloseHandle(CreateFileW(readyFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    for (int step = 0; step < seconds * 20 && !fileExists(goFile); ++step) Sleep(50);
    if (!IsWindow(progress)) {
        std::printf("the progress window closed before Cancel was pressed\n");
        return 1;
    }
    // Posted: 7-Zip asks for confirmation inside the click's handler.
    PostMessageW(GetDlgItem(progress, IDCANCEL), BM_CLICK, 0, 0);
    const HWND confirmation = waitForDialog(
        seconds, [&](HWND dialog) { return GetWindow(dialog, GW_OWNER) == progress; });
    if (!confirmation) {
        std::printf("no confirmation after Cancel\n");
        return 1;
    }
    std::printf("confirmation\n");
    printControls(confirmation);
    PostMessageW(GetDlgItem(confirmation, IDYES), BM_CLICK, 0, 0);
    return 0;
}

DWORD processOf(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process;
}

int answerMessageBox(int seconds) {
    HWND main = nullptr;
    const HWND box = waitForDialog(seconds, [&](HWND dialog) {
        main = FindWindowW(nullptr, L"QEL Ruru Zudererod");
        return main && processOf(dialog) == processOf(main);
    });
    if (!box) {
        std::printf("no message box\n");
        return 1;
    }
    printControls(box);
    std::printf("main window\n");
    printControls(main);
    HWND button = FindWindowExW(box, nullptr, L"Button", nullptr);
    PostMessageW(button, BM_CLICK, 0, 0);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if ((mode == L"extract" && argc >= 3) || mode == L"ok") {
        const int archiveArgument = mode == L"ok" ? 2 : 3;
        const bool given = argc > archiveArgument;
        const MappedFile archive(given ? argv[archiveArgument] : L"");
        if (given && !archive.valid()) {
            std::fprintf(stderr, "cannot read the archive\n");
            return 2;
        }
        return mode == L"ok" ? okRun(given ? &archive : nullptr)
                             : extract(argv[2], given ? &archive : nullptr);
    }
    if (mode == L"cancel" && argc == 5) return cancelSevenZip(_wtoi(argv[2]), argv[3], argv[4]);
    if (mode == L"box" && argc == 3) return answerMessageBox(_wtoi(argv[2]));
    std::fprintf(stderr, "usage: sevenzip-run.exe extract|ok|cancel|box ...\n");
    return 64;
}
