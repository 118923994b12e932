// The one seam between the program's decisions and Windows.
//
// Everything above this interface is portable C++ that decides; everything below it makes system
// calls and decides nothing. The calls mirror the Win32 calls the program makes, with raw byte
// buffers where Windows takes raw buffers (device controls, volume information), so that the
// byte layouts of records stay in the portable code. The Windows implementation lives in win32/,
// the in-memory fake machine used by the native tests in tests/fake/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/Text.h"

namespace qel {

using Bytes = std::vector<std::uint8_t>;
using ByteSpan = std::span<const std::uint8_t>;
using MutableByteSpan = std::span<std::uint8_t>;

// ---- Values of the Win32 calls, as the system publishes them -------------------------------

namespace win {
inline constexpr std::uint32_t GENERIC_READ = 0x80000000u;
inline constexpr std::uint32_t GENERIC_WRITE = 0x40000000u;
inline constexpr std::uint32_t FILE_SHARE_READ = 0x1;
inline constexpr std::uint32_t FILE_SHARE_WRITE = 0x2;
inline constexpr std::uint32_t CREATE_ALWAYS = 2;
inline constexpr std::uint32_t OPEN_EXISTING = 3;
inline constexpr std::uint32_t OPEN_ALWAYS = 4;
inline constexpr std::uint32_t FILE_ATTRIBUTE_READONLY = 0x1;
inline constexpr std::uint32_t FILE_ATTRIBUTE_HIDDEN = 0x2;
inline constexpr std::uint32_t FILE_ATTRIBUTE_SYSTEM = 0x4;
inline constexpr std::uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr std::uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr std::uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr std::uint32_t FILE_BEGIN = 0;
inline constexpr std::uint32_t FILE_CURRENT = 1;
inline constexpr std::uint32_t FILE_END = 2;

inline constexpr std::uint32_t DRIVE_UNKNOWN = 0;
inline constexpr std::uint32_t DRIVE_NO_ROOT_DIR = 1;
inline constexpr std::uint32_t DRIVE_REMOVABLE = 2;
inline constexpr std::uint32_t DRIVE_FIXED = 3;
inline constexpr std::uint32_t DRIVE_REMOTE = 4;
inline constexpr std::uint32_t DRIVE_CDROM = 5;
inline constexpr std::uint32_t DRIVE_RAMDISK = 6;

inline constexpr std::uint32_t IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS = 0x00560000;
inline constexpr std::uint32_t IOCTL_DISK_GET_DRIVE_LAYOUT_EX = 0x00070050;
inline constexpr std::uint32_t IOCTL_DISK_GET_DRIVE_GEOMETRY = 0x00070000;
inline constexpr std::uint32_t IOCTL_DISK_GET_LENGTH_INFO = 0x0007405C;
inline constexpr std::uint32_t IOCTL_DISK_SET_DRIVE_LAYOUT = 0x0007C010;
inline constexpr std::uint32_t IOCTL_DISK_UPDATE_PROPERTIES = 0x00070140;
inline constexpr std::uint32_t IOCTL_DISK_GET_PARTITION_INFO_EX = 0x00070048;
inline constexpr std::uint32_t IOCTL_DISK_SET_PARTITION_INFO = 0x0007C008;
inline constexpr std::uint32_t FSCTL_LOCK_VOLUME = 0x00090018;
inline constexpr std::uint32_t FSCTL_UNLOCK_VOLUME = 0x0009001C;
inline constexpr std::uint32_t FSCTL_DISMOUNT_VOLUME = 0x00090020;
inline constexpr std::uint32_t FSCTL_ALLOW_EXTENDED_DASD_IO = 0x00090083;

inline constexpr std::uint16_t SW_HIDE = 0;
inline constexpr std::uint16_t SW_SHOWNORMAL = 1;

inline constexpr std::uint32_t CREATE_NEW_PROCESS_GROUP = 0x200;
inline constexpr std::uint32_t NORMAL_PRIORITY_CLASS = 0x20;
inline constexpr std::uint32_t STARTF_USESHOWWINDOW = 0x1;

inline constexpr std::uint32_t KEY_READ = 0x20019;

inline constexpr std::uint32_t MB_OK = 0x0;
inline constexpr std::uint32_t MB_ICONERROR = 0x10;
inline constexpr std::uint32_t MB_ICONINFORMATION = 0x40;

inline constexpr std::uint16_t FO_DELETE = 3;
inline constexpr std::uint16_t FOF_SILENT = 0x4;
inline constexpr std::uint16_t FOF_NOCONFIRMATION = 0x10;
}  // namespace win

// ---- Handles --------------------------------------------------------------------------------

class Platform;

// An open file or device. Move-only; closes itself (CloseHandle) when it goes out of scope.
class Handle {
public:
    Handle() = default;
    Handle(Platform* owner, std::uintptr_t id) : owner_(owner), id_(id) {}
    Handle(Handle&& other) noexcept : owner_(other.owner_), id_(std::exchange(other.id_, 0)) {}
    Handle& operator=(Handle&& other) noexcept;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { close(); }

    bool valid() const { return id_ != 0; }
    std::uintptr_t id() const { return id_; }
    void close();

private:
    Platform* owner_ = nullptr;
    std::uintptr_t id_ = 0;  // 0 stands for INVALID_HANDLE_VALUE
};

// A started child process (its process and thread handles). Closes both when it goes.
class ProcessHandle {
public:
    ProcessHandle() = default;
    ProcessHandle(Platform* owner, std::uintptr_t id) : owner_(owner), id_(id) {}
    ProcessHandle(ProcessHandle&& other) noexcept
        : owner_(other.owner_), id_(std::exchange(other.id_, 0)) {}
    ProcessHandle& operator=(ProcessHandle&& other) noexcept;
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;
    ~ProcessHandle() { close(); }

    bool valid() const { return id_ != 0; }
    std::uintptr_t id() const { return id_; }
    void close();

private:
    Platform* owner_ = nullptr;
    std::uintptr_t id_ = 0;
};

// An open registry key (RegOpenKeyExW); closes itself.
class RegistryKey {
public:
    RegistryKey() = default;
    RegistryKey(Platform* owner, std::uintptr_t id) : owner_(owner), id_(id) {}
    RegistryKey(RegistryKey&& other) noexcept
        : owner_(other.owner_), id_(std::exchange(other.id_, 0)) {}
    RegistryKey& operator=(RegistryKey&& other) noexcept;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey() { close(); }

    bool valid() const { return id_ != 0; }
    std::uintptr_t id() const { return id_; }
    void close();

private:
    Platform* owner_ = nullptr;
    std::uintptr_t id_ = 0;
};

// A volume search (FindFirstVolumeA … FindVolumeClose), closed through the bound function by
// its owner; kept as a plain id.
using FindVolumeId = std::uintptr_t;

// ---- Records --------------------------------------------------------------------------------

struct FindData {  // the fields of WIN32_FIND_DATAW the program reads
    std::uint32_t attributes = 0;
    std::uint32_t sizeHigh = 0;
    std::uint32_t sizeLow = 0;
    Text name;
};

struct VolumeInformation {  // GetVolumeInformationW
    Text label;
    Text fileSystem;
};

struct WindowsVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t build = 0;
    bool server = false;  // the product type is not a workstation
};

// The name of a Windows version as users know it: "Windows XP", "Windows Server 2003" …
Text WindowsName(const WindowsVersion& version);

enum class WaitResult { Ended, TimedOut, Failed };

// An address looked up with GetProcAddress, kept opaque; 0 when the name was not found.
using ProcAddress = std::uintptr_t;
using ModuleId = std::uintptr_t;

// The functions of kernel32.dll that the program looks up by name: what a machine behind the
// seam offers there.
inline constexpr const char* kKernel32LookedUpFunctions[] = {"IsWow64Process",
                                                             "FindFirstVolumeA",
                                                             "FindNextVolumeA",
                                                             "FindVolumeClose",
                                                             "FindFirstVolumeMountPointA",
                                                             "FindNextVolumeMountPointA",
                                                             "FindVolumeMountPointClose",
                                                             "GetVolumeNameForVolumeMountPointA",
                                                             "DeleteVolumeMountPointA",
                                                             "SetVolumeMountPointA"};

// ---- User interface -------------------------------------------------------------------------

using WindowId = std::uint32_t;   // a top-level window; 0 = none
using ControlId = std::uint32_t;  // a child control; 0 = none

struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    int right() const { return left + width; }
    int bottom() const { return top + height; }
    bool operator==(const Rect&) const = default;
};

struct FontSpec {
    Text face = u"Arial";
    int height = -13;  // LOGFONT height in pixels at the window's DPI (negative: character height)
    bool underline = false;
    std::uint32_t color = 0x000000;  // 0x00BBGGRR, COLORREF
    bool ansiCharset = false;
    bool operator==(const FontSpec&) const = default;
};

enum class ControlKind { Label, Button, CheckBox, DropDownList, Edit };

enum class TextAlign { Left, Centre, Right };

struct ControlSpec {
    ControlKind kind = ControlKind::Label;
    Text caption;
    Rect rect;  // client coordinates of the parent, in pixels
    FontSpec font;
    int tabOrder = -1;  // -1: not a tab stop
    TextAlign align = TextAlign::Left;
    bool verticallyCentred = false;
    bool wordWrap = false;
    bool handCursor = false;
    bool digitsOnly = false;
    bool enabled = true;
    bool visible = true;
};

struct WindowSpec {
    Text title;
    int clientWidth = 0;
    int clientHeight = 0;
    FontSpec font;
    bool minimizeBox = false;
    bool alwaysOnTop = false;
    WindowId centreOver = 0;  // 0: centred on the desktop
    WindowId owner = 0;
    // Set on a window without owner: the taskbar names the program by this title instead of
    // the window's own.
    Text taskbarTitle;
};

// What the Windows side reports from the message loop. Every handler runs on the one thread.
class EventSink {
public:
    virtual ~EventSink() = default;
    virtual void onClick(ControlId control) = 0;            // button or check box clicked
    virtual void onSelectionChange(ControlId control) = 0;  // drop-down list choice by the user
    virtual void onTimer(WindowId window) = 0;
    virtual void onClose(WindowId window) = 0;  // close box; the sink decides
};

enum class DialogKind { Warning = 0, Error = 1, Information = 2 };

// One button of a message dialog: its modal result and caption.
struct DialogButton {
    int result = 0;
    Text caption;
};

// A standard message dialog as the program composes it; the Windows side only shows it.
struct DialogSpec {
    Text title;
    Text message;
    DialogKind kind = DialogKind::Information;
    std::vector<DialogButton> buttons;  // in display order
    int defaultResult = 0;              // the button Enter presses
    int escapeResult = 0;               // the result of Esc
    int closeResult = 2;                // the result of the title-bar close box
};

// ---- The seam -------------------------------------------------------------------------------

class Platform {
public:
    virtual ~Platform() = default;

    // Files and devices (CreateFileW, ReadFile, WriteFile, SetFilePointerEx, CloseHandle).
    virtual Handle createFile(const Text& path, std::uint32_t access, std::uint32_t share,
                              std::uint32_t disposition, std::uint32_t attributes) = 0;
    // Reads up to buffer.size() bytes; false when the call fails. bytesRead gets the count.
    virtual bool readFile(const Handle& h, MutableByteSpan buffer, std::uint32_t& bytesRead) = 0;
    virtual bool writeFile(const Handle& h, ByteSpan data, std::uint32_t& bytesWritten) = 0;
    // Moves the file pointer; false when the call fails. newPosition gets the new position.
    virtual bool setFilePointer(const Handle& h, std::int64_t distance, std::uint32_t method,
                                std::int64_t& newPosition) = 0;
    // DeviceIoControl with raw buffers; bytesReturned gets the count written into output.
    virtual bool deviceIoControl(const Handle& h, std::uint32_t code, ByteSpan input,
                                 MutableByteSpan output, std::uint32_t& bytesReturned) = 0;
    // NtQueryVolumeInformationFile, class FileFsSizeInformation (3), into a 24-byte buffer;
    // returns the NTSTATUS (0 is success).
    virtual std::int32_t queryVolumeSizeInformation(const Handle& h, MutableByteSpan output) = 0;
    virtual void closeHandle(std::uintptr_t id) = 0;

    // File system (GetFileAttributesW, CreateDirectoryW, DeleteFileW, SetFileAttributesW,
    // CopyFileW, FindFirstFileW/FindClose, SHFileOperationW).
    // Attributes of a path, or nullopt when nothing exists there.
    virtual std::optional<std::uint32_t> fileAttributes(const Text& path) = 0;
    virtual bool createDirectory(const Text& path) = 0;
    virtual bool deleteFile(const Text& path) = 0;
    virtual bool setFileAttributes(const Text& path, std::uint32_t attributes) = 0;
    virtual bool copyFile(const Text& from, const Text& to, bool failIfExists) = 0;
    // The first entry matching the path (wildcards allowed), searched with the search closed
    // again before returning; nullopt when nothing matches.
    virtual std::optional<FindData> findFirstFile(const Text& path) = 0;
    // SHFileOperationW: pFrom is passed as given (a list ending in two NUL characters).
    virtual int shellFileOperation(WindowId window, std::uint16_t function, const Text& from,
                                   std::uint16_t flags) = 0;

    // Volumes and drives.
    virtual std::uint32_t driveType(const Text& root) = 0;
    virtual std::optional<VolumeInformation> volumeInformation(const Text& root) = 0;
    virtual std::optional<std::uint64_t> diskTotalBytes(
        const Text& root) = 0;  // GetDiskFreeSpaceExW

    // Modules (GetModuleHandleW, LoadLibraryW, GetProcAddress, FreeLibrary, GetLastError,
    // FormatMessageW).
    virtual ModuleId moduleHandle(const Text& name) = 0;
    virtual ModuleId loadLibrary(const Text& name) = 0;
    virtual ProcAddress procAddress(ModuleId module, const std::string& name) = 0;
    virtual void freeLibrary(ModuleId module) = 0;
    virtual std::uint32_t lastError() = 0;
    virtual Text systemMessage(std::uint32_t errorCode) = 0;  // raw FormatMessageW text

    // Calls through addresses bound at run time (the functions keep their own signatures on the
    // Windows side; here they take and give the same values).
    virtual bool callIsWow64Process(ProcAddress fn, bool& wow64) = 0;
    virtual FindVolumeId callFindFirstVolumeA(ProcAddress fn, std::string& name,
                                              std::uint32_t bufferLength) = 0;
    virtual bool callFindNextVolumeA(ProcAddress fn, FindVolumeId search, std::string& name,
                                     std::uint32_t bufferLength) = 0;
    virtual bool callFindVolumeClose(ProcAddress fn, FindVolumeId search) = 0;
    virtual bool callDeleteVolumeMountPointA(ProcAddress fn, const std::string& mountPoint) = 0;
    virtual bool callSetVolumeMountPointA(ProcAddress fn, const std::string& mountPoint,
                                          const std::string& volumeName) = 0;

    // Registry, read only, under HKEY_LOCAL_MACHINE.
    virtual RegistryKey openLocalMachineKey(const Text& path, std::uint32_t access) = 0;
    virtual std::optional<Text> registryString(const RegistryKey& key, const Text& name) = 0;
    virtual std::optional<std::uint32_t> registryDword(const RegistryKey& key,
                                                       const Text& name) = 0;
    virtual void closeRegistryKey(std::uintptr_t id) = 0;

    // Processes (CreateProcessW with the start-up record the caller describes, waits, exit
    // codes) and the message pump that runs while the program waits for a child.
    virtual ProcessHandle createProcess(const Text& commandLine, std::uint32_t creationFlags,
                                        std::uint32_t startupFlags, std::uint16_t showWindow) = 0;
    virtual WaitResult waitForProcess(const ProcessHandle& process, std::uint32_t milliseconds) = 0;
    virtual bool processExitCode(const ProcessHandle& process, std::uint32_t& exitCode) = 0;
    virtual void closeProcess(std::uintptr_t id) = 0;
    virtual void pumpPendingMessages() = 0;
    virtual void shellExecute(WindowId window, const Text& verb, const Text& file) = 0;

    // Environment and system facts.
    virtual std::optional<Text> environmentVariable(const Text& name) = 0;
    virtual Text currentDirectory() = 0;
    virtual bool setCurrentDirectory(const Text& path) = 0;
    virtual WindowsVersion windowsVersion() = 0;
    virtual Text systemDirectory() = 0;       // GetSystemDirectoryW
    virtual char16_t decimalSeparator() = 0;  // the user's regional settings
    // Single-byte text in the system's ANSI code page and back.
    virtual std::string toAnsi(const Text& text) = 0;
    virtual Text fromAnsi(const std::string& bytes) = 0;
    virtual std::uint64_t tickCount() = 0;  // milliseconds, for seeding and waits

    // Resources of the program's own module (RT_RCDATA), by name, matched without case.
    virtual std::optional<ByteSpan> rcData(const Text& name) = 0;

    // Windows and controls. The portable window models create and drive them; the Windows side
    // draws them and reports events to the sink.
    virtual void setEventSink(EventSink* sink) = 0;
    virtual int screenDpi() = 0;
    virtual WindowId createWindow(const WindowSpec& params) = 0;
    virtual void showWindow(WindowId window) = 0;
    virtual void destroyWindow(WindowId window) = 0;
    virtual void bringToFront(WindowId window) = 0;
    virtual void setWindowEnabled(WindowId window, bool enabled) = 0;
    virtual bool windowEnabled(WindowId window) = 0;
    virtual void setClientSize(WindowId window, int width, int height) = 0;
    virtual std::pair<int, int> clientSize(WindowId window) = 0;
    virtual void setWindowTitle(WindowId window, const Text& title) = 0;
    virtual void startTimer(WindowId window, std::uint32_t milliseconds) = 0;

    virtual ControlId createControl(WindowId parent, const ControlSpec& params) = 0;
    virtual void destroyControl(ControlId control) = 0;
    virtual void setCaption(ControlId control, const Text& caption) = 0;
    virtual Text caption(ControlId control) = 0;  // edit box: its text
    virtual void setEnabled(ControlId control, bool enabled) = 0;
    virtual bool enabled(ControlId control) = 0;
    virtual void setVisible(ControlId control, bool visible) = 0;
    virtual void setBounds(ControlId control, const Rect& rect) = 0;
    virtual Rect bounds(ControlId control) = 0;
    virtual void setChecked(ControlId control, bool checked) = 0;
    virtual bool checked(ControlId control) = 0;
    // Drop-down lists: the whole item list is replaced in one update (redraw suspended).
    virtual void setItems(ControlId control, const std::vector<Text>& items) = 0;
    virtual std::vector<Text> items(ControlId control) = 0;
    virtual void setSelectedIndex(ControlId control, int index) = 0;  // -1: none
    virtual int selectedIndex(ControlId control) = 0;
    // Width in pixels of a text in the control's font (for labels sized to their text).
    virtual int textWidth(ControlId control, const Text& text) = 0;

    // Dialogs. Modal; they return the modal result.
    virtual int messageDialog(const DialogSpec& params) = 0;
    // MessageBoxW with the main window as owner.
    virtual int messageBox(const Text& text, const Text& caption, std::uint32_t flags) = 0;

    // Asks the message loop to end (PostQuitMessage); the current handler runs on.
    virtual void postQuit() = 0;
};

// ---- Small helpers over the seam -------------------------------------------------------------

inline bool pathExists(Platform& sys, const Text& path) {
    return sys.fileAttributes(path).has_value();
}
inline bool directoryExists(Platform& sys, const Text& path) {
    const auto attrs = sys.fileAttributes(path);
    return attrs && (*attrs & win::FILE_ATTRIBUTE_DIRECTORY) != 0;
}
inline bool fileExists(Platform& sys, const Text& path) {
    const auto attrs = sys.fileAttributes(path);
    return attrs && (*attrs & win::FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Creates a folder with all its missing parents (ForceDirectories); true when it exists after.
bool forceDirectories(Platform& sys, const Text& path);

// Writes a whole file (created or truncated); raises IoError when it cannot.
void writeWholeFile(Platform& sys, const Text& path, ByteSpan data);

// Reads a whole file; nullopt when it cannot be opened or read.
std::optional<Bytes> readWholeFile(Platform& sys, const Text& path);

}  // namespace qel
