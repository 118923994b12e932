// Files, devices, volumes, modules, the registry, child processes and system facts through the
// Win32 API. Each method is one call (or the short sequence the call needs) and passes the
// results back unchanged.

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

#include "win32/Win32Bind.h"
#include "win32/Win32Platform.h"
#include "win32/Win32Text.h"
#include "win32/Win32Ui.h"

#include <shellapi.h>
#include <winternl.h>

namespace qel {

using win32::boundAs;
using win32::fromHandle;
using win32::fromWide;
using win32::toHandle;
using win32::wide;

namespace {

DWORD clampedSize(std::size_t size) {
    return static_cast<DWORD>(std::min<std::size_t>(size, std::numeric_limits<DWORD>::max()));
}

// Root paths of the volume calls need their trailing backslash ("E:" → "E:\").
Text rootWithBackslash(const Text& root) {
    if (!root.empty() && root.back() != u'\\') return root + u'\\';
    return root;
}

// A list of names for the shell ends with an empty name; without it Windows would read past the
// end of the text.
bool endsWithEmptyName(const Text& list) {
    return !list.empty() && list.back() == u'\0';
}

std::string untilNul(const std::string& buffer) {
    return buffer.substr(0, buffer.find('\0'));
}

struct LocalFreeDeleter {
    void operator()(wchar_t* memory) const { LocalFree(memory); }
};

}  // namespace

Win32Platform::~Win32Platform() {
    for (const auto& [process, thread] : processThreads_) {
        CloseHandle(toHandle(process));
        CloseHandle(toHandle(thread));
    }
}

// ---- files and devices ----

Handle Win32Platform::createFile(const Text& path, std::uint32_t access, std::uint32_t share,
                                 std::uint32_t disposition, std::uint32_t attributes) {
    const HANDLE file =
        CreateFileW(wide(path), access, share, nullptr, disposition, attributes, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    positions_[fromHandle(file)] = 0;
    return Handle(this, fromHandle(file));
}

// Reads and writes carry their position in an OVERLAPPED offset, like pread, and the position
// is kept here: a disk driver's handle may have no file pointer of its own (SetFilePointerEx
// fails on it, and a plain ReadFile lands at offset 0). On a synchronous handle Windows serves
// both ways alike, but a read at the end of a file reports ERROR_HANDLE_EOF, which is the plain
// call's success with nothing read.
namespace {

OVERLAPPED at(std::int64_t position) {
    OVERLAPPED overlapped{};
    overlapped.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(position));
    overlapped.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(position) >> 32);
    return overlapped;
}

}  // namespace

bool Win32Platform::readFile(const Handle& h, MutableByteSpan buffer, std::uint32_t& bytesRead) {
    std::int64_t& position = positions_[h.id()];
    OVERLAPPED overlapped = at(position);
    DWORD count = 0;
    BOOL ok =
        ReadFile(toHandle(h.id()), buffer.data(), clampedSize(buffer.size()), &count, &overlapped);
    if (!ok && GetLastError() == ERROR_HANDLE_EOF) ok = TRUE;
    bytesRead = count;
    if (ok) position += count;
    return ok != FALSE;
}

bool Win32Platform::writeFile(const Handle& h, ByteSpan data, std::uint32_t& bytesWritten) {
    std::int64_t& position = positions_[h.id()];
    OVERLAPPED overlapped = at(position);
    DWORD count = 0;
    const BOOL ok =
        WriteFile(toHandle(h.id()), data.data(), clampedSize(data.size()), &count, &overlapped);
    bytesWritten = count;
    if (ok) position += count;
    return ok != FALSE;
}

bool Win32Platform::setFilePointer(const Handle& h, std::int64_t distance, std::uint32_t method,
                                   std::int64_t& newPosition) {
    std::int64_t origin = 0;
    if (method == FILE_CURRENT) {
        origin = positions_[h.id()];
    } else if (method == FILE_END) {
        LARGE_INTEGER size;
        if (!GetFileSizeEx(toHandle(h.id()), &size)) return false;
        origin = size.QuadPart;
    } else if (method != FILE_BEGIN) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (distance < 0 ? distance < -origin
                     : origin > std::numeric_limits<std::int64_t>::max() - distance) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return false;
    }
    positions_[h.id()] = origin + distance;
    newPosition = origin + distance;
    return true;
}

bool Win32Platform::deviceIoControl(const Handle& h, std::uint32_t code, ByteSpan input,
                                    MutableByteSpan output, std::uint32_t& bytesReturned) {
    DWORD returned = 0;
    void* in = input.empty() ? nullptr : const_cast<std::uint8_t*>(input.data());
    void* out = output.empty() ? nullptr : output.data();
    const BOOL ok = DeviceIoControl(toHandle(h.id()), code, in, clampedSize(input.size()), out,
                                    clampedSize(output.size()), &returned, nullptr);
    bytesReturned = returned;
    return ok != FALSE;
}

std::int32_t Win32Platform::queryVolumeSizeInformation(const Handle& h, MutableByteSpan output) {
    using QueryFunction =
        LONG(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, PVOID, ULONG, FS_INFORMATION_CLASS);
    constexpr std::int32_t kStatusNotImplemented = static_cast<std::int32_t>(0xC0000002u);
    static const auto query =
        win32::lookUpFunction<QueryFunction>(L"ntdll.dll", "NtQueryVolumeInformationFile");
    if (query == nullptr) return kStatusNotImplemented;
    IO_STATUS_BLOCK status{};
    return query(toHandle(h.id()), &status, output.data(), clampedSize(output.size()),
                 FileFsSizeInformation);
}

void Win32Platform::closeHandle(std::uintptr_t id) {
    positions_.erase(id);
    CloseHandle(toHandle(id));
}

// ---- file system ----

std::optional<std::uint32_t> Win32Platform::fileAttributes(const Text& path) {
    const DWORD attributes = GetFileAttributesW(wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return attributes;
}

bool Win32Platform::createDirectory(const Text& path) {
    return CreateDirectoryW(wide(path), nullptr) != FALSE;
}

bool Win32Platform::deleteFile(const Text& path) {
    return DeleteFileW(wide(path)) != FALSE;
}

bool Win32Platform::setFileAttributes(const Text& path, std::uint32_t attributes) {
    return SetFileAttributesW(wide(path), attributes) != FALSE;
}

bool Win32Platform::copyFile(const Text& from, const Text& to, bool failIfExists) {
    return CopyFileW(wide(from), wide(to), failIfExists ? TRUE : FALSE) != FALSE;
}

std::optional<FindData> Win32Platform::findFirstFile(const Text& path) {
    WIN32_FIND_DATAW entry{};
    const HANDLE search = FindFirstFileW(wide(path), &entry);
    if (search == INVALID_HANDLE_VALUE) return std::nullopt;
    FindClose(search);
    return FindData{entry.dwFileAttributes, entry.nFileSizeHigh, entry.nFileSizeLow,
                    fromWide(entry.cFileName)};
}

int Win32Platform::shellFileOperation(WindowId window, std::uint16_t function, const Text& from,
                                      std::uint16_t flags) {
    if (!endsWithEmptyName(from)) return ERROR_INVALID_PARAMETER;
    SHFILEOPSTRUCTW operation{};
    operation.hwnd = reinterpret_cast<HWND>(nativeWindow(window));
    operation.wFunc = function;
    operation.pFrom = wide(from);  // the text's own terminator ends the list's empty name
    operation.pTo = nullptr;
    operation.fFlags = flags;
    return SHFileOperationW(&operation);
}

// ---- volumes and drives ----

std::uint32_t Win32Platform::driveType(const Text& root) {
    return GetDriveTypeW(wide(rootWithBackslash(root)));
}

std::optional<VolumeInformation> Win32Platform::volumeInformation(const Text& root) {
    wchar_t label[MAX_PATH + 1] = {};
    wchar_t fileSystem[MAX_PATH + 1] = {};
    if (!GetVolumeInformationW(wide(rootWithBackslash(root)), label, MAX_PATH + 1, nullptr, nullptr,
                               nullptr, fileSystem, MAX_PATH + 1))
        return std::nullopt;
    return VolumeInformation{fromWide(label), fromWide(fileSystem)};
}

std::optional<std::uint64_t> Win32Platform::diskTotalBytes(const Text& root) {
    ULARGE_INTEGER total;
    total.QuadPart = 0;
    if (!GetDiskFreeSpaceExW(wide(rootWithBackslash(root)), nullptr, &total, nullptr))
        return std::nullopt;
    return total.QuadPart;
}

// ---- modules and functions bound at run time ----

ModuleId Win32Platform::moduleHandle(const Text& name) {
    return reinterpret_cast<ModuleId>(GetModuleHandleW(wide(name)));
}

ModuleId Win32Platform::loadLibrary(const Text& name) {
    return reinterpret_cast<ModuleId>(LoadLibraryW(wide(name)));
}

ProcAddress Win32Platform::procAddress(ModuleId module, const std::string& name) {
    if (module == 0) return 0;
    return reinterpret_cast<ProcAddress>(
        GetProcAddress(reinterpret_cast<HMODULE>(module), name.c_str()));
}

void Win32Platform::freeLibrary(ModuleId module) {
    if (module != 0) FreeLibrary(reinterpret_cast<HMODULE>(module));
}

std::uint32_t Win32Platform::lastError() {
    return GetLastError();
}

Text Win32Platform::systemMessage(std::uint32_t errorCode) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, errorCode, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const std::unique_ptr<wchar_t, LocalFreeDeleter> owned(buffer);
    if (length == 0 || buffer == nullptr) return {};
    return fromWide(buffer, length);
}

bool Win32Platform::callIsWow64Process(ProcAddress fn, bool& wow64) {
    using Function = BOOL(WINAPI*)(HANDLE, PBOOL);
    if (fn == 0) return false;
    BOOL flag = FALSE;
    const BOOL ok = boundAs<Function>(fn)(GetCurrentProcess(), &flag);
    wow64 = flag != FALSE;
    return ok != FALSE;
}

FindVolumeId Win32Platform::callFindFirstVolumeA(ProcAddress fn, std::string& name,
                                                 std::uint32_t bufferLength) {
    using Function = HANDLE(WINAPI*)(LPSTR, DWORD);
    if (fn == 0) return 0;
    std::string buffer(static_cast<std::size_t>(bufferLength) + 1, '\0');
    const HANDLE search = boundAs<Function>(fn)(buffer.data(), bufferLength);
    if (search == INVALID_HANDLE_VALUE || search == nullptr) return 0;
    name = untilNul(buffer);
    return fromHandle(search);
}

bool Win32Platform::callFindNextVolumeA(ProcAddress fn, FindVolumeId search, std::string& name,
                                        std::uint32_t bufferLength) {
    using Function = BOOL(WINAPI*)(HANDLE, LPSTR, DWORD);
    if (fn == 0 || search == 0) return false;
    std::string buffer(static_cast<std::size_t>(bufferLength) + 1, '\0');
    if (!boundAs<Function>(fn)(toHandle(search), buffer.data(), bufferLength)) return false;
    name = untilNul(buffer);
    return true;
}

bool Win32Platform::callFindVolumeClose(ProcAddress fn, FindVolumeId search) {
    using Function = BOOL(WINAPI*)(HANDLE);
    if (fn == 0 || search == 0) return false;
    return boundAs<Function>(fn)(toHandle(search)) != FALSE;
}

bool Win32Platform::callDeleteVolumeMountPointA(ProcAddress fn, const std::string& mountPoint) {
    using Function = BOOL(WINAPI*)(LPCSTR);
    if (fn == 0) return false;
    return boundAs<Function>(fn)(mountPoint.c_str()) != FALSE;
}

bool Win32Platform::callSetVolumeMountPointA(ProcAddress fn, const std::string& mountPoint,
                                             const std::string& volumeName) {
    using Function = BOOL(WINAPI*)(LPCSTR, LPCSTR);
    if (fn == 0) return false;
    return boundAs<Function>(fn)(mountPoint.c_str(), volumeName.c_str()) != FALSE;
}

// ---- registry ----

RegistryKey Win32Platform::openLocalMachineKey(const Text& path, std::uint32_t access) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(path), 0, access, &key) != ERROR_SUCCESS ||
        key == nullptr)
        return {};
    return RegistryKey(this, reinterpret_cast<std::uintptr_t>(key));
}

std::optional<Text> Win32Platform::registryString(const RegistryKey& key, const Text& name) {
    const auto hkey = reinterpret_cast<HKEY>(key.id());
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(hkey, wide(name), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    // The stored text need not end with a NUL; one spare unit keeps it terminated.
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegQueryValueExW(hkey, wide(name), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                         &size) != ERROR_SUCCESS)
        return std::nullopt;
    std::size_t length = std::min<std::size_t>(size / sizeof(wchar_t), buffer.size());
    while (length > 0 && buffer[length - 1] == L'\0') --length;
    return fromWide(buffer.data(), length);
}

std::optional<std::uint32_t> Win32Platform::registryDword(const RegistryKey& key,
                                                          const Text& name) {
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExW(reinterpret_cast<HKEY>(key.id()), wide(name), nullptr, &type,
                         reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value))
        return std::nullopt;
    return value;
}

void Win32Platform::closeRegistryKey(std::uintptr_t id) {
    RegCloseKey(reinterpret_cast<HKEY>(id));
}

// ---- processes ----

ProcessHandle Win32Platform::createProcess(const Text& commandLine, std::uint32_t creationFlags,
                                           std::uint32_t startupFlags, std::uint16_t showWindow) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = startupFlags;
    startup.wShowWindow = showWindow;
    PROCESS_INFORMATION process{};
    // CreateProcessW may write into the command line, so it gets a copy of its own.
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');
    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, creationFlags, nullptr,
                        nullptr, &startup, &process))
        return {};
    processThreads_[fromHandle(process.hProcess)] = fromHandle(process.hThread);
    return ProcessHandle(this, fromHandle(process.hProcess));
}

WaitResult Win32Platform::waitForProcess(const ProcessHandle& process, std::uint32_t milliseconds) {
    switch (WaitForSingleObject(toHandle(process.id()), milliseconds)) {
        case WAIT_OBJECT_0:
            return WaitResult::Ended;
        case WAIT_TIMEOUT:
            return WaitResult::TimedOut;
        default:
            return WaitResult::Failed;
    }
}

bool Win32Platform::processExitCode(const ProcessHandle& process, std::uint32_t& exitCode) {
    DWORD code = 0;
    if (!GetExitCodeProcess(toHandle(process.id()), &code)) return false;
    exitCode = code;
    return true;
}

void Win32Platform::closeProcess(std::uintptr_t id) {
    CloseHandle(toHandle(id));
    const auto thread = processThreads_.find(id);
    if (thread == processThreads_.end()) return;
    CloseHandle(toHandle(thread->second));
    processThreads_.erase(thread);
}

void Win32Platform::shellExecute(WindowId window, const Text& verb, const Text& file) {
    ShellExecuteW(reinterpret_cast<HWND>(nativeWindow(window)), verb.empty() ? nullptr : wide(verb),
                  wide(file), nullptr, nullptr, SW_SHOWNORMAL);
}

// ---- environment and system facts ----

std::optional<Text> Win32Platform::environmentVariable(const Text& name) {
    std::vector<wchar_t> buffer(256);
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD needed =
            GetEnvironmentVariableW(wide(name), buffer.data(), clampedSize(buffer.size()));
        if (needed == 0)
            return GetLastError() == ERROR_ENVVAR_NOT_FOUND ? std::nullopt
                                                            : std::optional<Text>(Text());
        if (needed < buffer.size()) return fromWide(buffer.data(), needed);
        buffer.resize(needed);
    }
}

Text Win32Platform::currentDirectory() {
    const DWORD needed = GetCurrentDirectoryW(0, nullptr);
    if (needed == 0) return {};
    std::vector<wchar_t> buffer(needed);
    const DWORD length = GetCurrentDirectoryW(needed, buffer.data());
    if (length == 0 || length >= needed) return {};
    return fromWide(buffer.data(), length);
}

bool Win32Platform::setCurrentDirectory(const Text& path) {
    return SetCurrentDirectoryW(wide(path)) != FALSE;
}

WindowsVersion Win32Platform::windowsVersion() {
    // RtlGetVersion reports the true version, whatever compatibility the manifest declares.
    using Function = LONG(WINAPI*)(RTL_OSVERSIONINFOEXW*);
    RTL_OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    const auto rtlGetVersion = win32::lookUpFunction<Function>(L"ntdll.dll", "RtlGetVersion");
    if (rtlGetVersion == nullptr || rtlGetVersion(&version) != 0) {
        const DWORD packed = GetVersion();
        version.dwMajorVersion = LOBYTE(LOWORD(packed));
        version.dwMinorVersion = HIBYTE(LOWORD(packed));
        version.dwBuildNumber = packed < 0x80000000u ? HIWORD(packed) : 0;
        version.wProductType = VER_NT_WORKSTATION;
    }
    return {version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber,
            version.wProductType != VER_NT_WORKSTATION};
}

Text Win32Platform::systemDirectory() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryW(buffer, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return {};
    return fromWide(buffer, length);
}

char16_t Win32Platform::decimalSeparator() {
    wchar_t buffer[8] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer, 8) == 0 || buffer[0] == 0)
        return u'.';
    return static_cast<char16_t>(buffer[0]);
}

std::string Win32Platform::toAnsi(const Text& text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(std::min<std::size_t>(
        text.size(), static_cast<std::size_t>(std::numeric_limits<int>::max())));
    const int needed =
        WideCharToMultiByte(CP_ACP, 0, wide(text), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return {};
    std::string bytes(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide(text), length, bytes.data(), needed, nullptr, nullptr);
    return bytes;
}

Text Win32Platform::fromAnsi(const std::string& bytes) {
    if (bytes.empty()) return {};
    const int length = static_cast<int>(std::min<std::size_t>(
        bytes.size(), static_cast<std::size_t>(std::numeric_limits<int>::max())));
    const int needed = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
    if (needed <= 0) return {};
    std::vector<wchar_t> buffer(static_cast<std::size_t>(needed));
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, buffer.data(), needed);
    return fromWide(buffer.data(), buffer.size());
}

std::uint64_t Win32Platform::tickCount() {
    // GetTickCount64 is missing before Vista; there the 32-bit count has to do.
    using Function = ULONGLONG(WINAPI*)();
    static const auto tickCount64 =
        win32::lookUpFunction<Function>(L"kernel32.dll", "GetTickCount64");
    return tickCount64 != nullptr ? tickCount64() : GetTickCount();
}

std::optional<ByteSpan> Win32Platform::rcData(const Text& name) {
    const HRSRC resource = FindResourceW(nullptr, wide(name), RT_RCDATA);
    if (resource == nullptr) return std::nullopt;
    const HGLOBAL loaded = LoadResource(nullptr, resource);
    if (loaded == nullptr) return std::nullopt;
    const void* bytes = LockResource(loaded);
    const DWORD size = SizeofResource(nullptr, resource);
    if (bytes == nullptr && size != 0) return std::nullopt;
    return ByteSpan(static_cast<const std::uint8_t*>(bytes), size);
}

}  // namespace qel
