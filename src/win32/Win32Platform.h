// The seam implemented with the real Win32 API: every call goes straight to Windows and decides
// nothing. This header names no Windows type, so that it can be included before <windows.h>
// (whose macros share their names with the seam's constants in qel::win).
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "platform/Platform.h"

namespace qel {

class Win32Platform : public Platform {
public:
    Win32Platform();
    ~Win32Platform() override;
    Win32Platform(const Win32Platform&) = delete;
    Win32Platform& operator=(const Win32Platform&) = delete;

    // Runs the program's message loop until the quit request; returns its exit code. Keyboard
    // navigation (Tab, Enter, Esc) works in every window of the program.
    int runMessageLoop();

    // The native handle (HWND) behind a window or control of the seam; 0 when there is none.
    std::uintptr_t nativeWindow(WindowId window) const;
    std::uintptr_t nativeControl(ControlId control) const;

    // Files and devices.
    Handle createFile(const Text& path, std::uint32_t access, std::uint32_t share,
                      std::uint32_t disposition, std::uint32_t attributes) override;
    bool readFile(const Handle& h, MutableByteSpan buffer, std::uint32_t& bytesRead) override;
    bool writeFile(const Handle& h, ByteSpan data, std::uint32_t& bytesWritten) override;
    bool setFilePointer(const Handle& h, std::int64_t distance, std::uint32_t method,
                        std::int64_t& newPosition) override;
    bool deviceIoControl(const Handle& h, std::uint32_t code, ByteSpan input,
                         MutableByteSpan output, std::uint32_t& bytesReturned) override;
    std::int32_t queryVolumeSizeInformation(const Handle& h, MutableByteSpan output) override;
    void closeHandle(std::uintptr_t id) override;

    // File system.
    std::optional<std::uint32_t> fileAttributes(const Text& path) override;
    bool createDirectory(const Text& path) override;
    bool deleteFile(const Text& path) override;
    bool setFileAttributes(const Text& path, std::uint32_t attributes) override;
    bool copyFile(const Text& from, const Text& to, bool failIfExists) override;
    std::optional<FindData> findFirstFile(const Text& path) override;
    int shellFileOperation(WindowId window, std::uint16_t function, const Text& from,
                           std::uint16_t flags) override;

    // Volumes and drives.
    std::uint32_t driveType(const Text& root) override;
    std::optional<VolumeInformation> volumeInformation(const Text& root) override;
    std::optional<std::uint64_t> diskTotalBytes(const Text& root) override;

    // Modules and functions bound at run time.
    ModuleId moduleHandle(const Text& name) override;
    ModuleId loadLibrary(const Text& name) override;
    ProcAddress procAddress(ModuleId module, const std::string& name) override;
    void freeLibrary(ModuleId module) override;
    std::uint32_t lastError() override;
    Text systemMessage(std::uint32_t errorCode) override;
    bool callIsWow64Process(ProcAddress fn, bool& wow64) override;
    FindVolumeId callFindFirstVolumeA(ProcAddress fn, std::string& name,
                                      std::uint32_t bufferLength) override;
    bool callFindNextVolumeA(ProcAddress fn, FindVolumeId search, std::string& name,
                             std::uint32_t bufferLength) override;
    bool callFindVolumeClose(ProcAddress fn, FindVolumeId search) override;
    bool callDeleteVolumeMountPointA(ProcAddress fn, const std::string& mountPoint) override;
    bool callSetVolumeMountPointA(ProcAddress fn, const std::string& mountPoint,
                                  const std::string& volumeName) override;

    // Registry.
    RegistryKey openLocalMachineKey(const Text& path, std::uint32_t access) override;
    std::optional<Text> registryString(const RegistryKey& key, const Text& name) override;
    std::optional<std::uint32_t> registryDword(const RegistryKey& key, const Text& name) override;
    void closeRegistryKey(std::uintptr_t id) override;

    // Processes.
    ProcessHandle createProcess(const Text& commandLine, std::uint32_t creationFlags,
                                std::uint32_t startupFlags, std::uint16_t showWindow) override;
    WaitResult waitForProcess(const ProcessHandle& process, std::uint32_t milliseconds) override;
    bool processExitCode(const ProcessHandle& process, std::uint32_t& exitCode) override;
    void closeProcess(std::uintptr_t id) override;
    void pumpPendingMessages() override;
    void shellExecute(WindowId window, const Text& verb, const Text& file) override;

    // Environment and system facts.
    std::optional<Text> environmentVariable(const Text& name) override;
    Text currentDirectory() override;
    bool setCurrentDirectory(const Text& path) override;
    WindowsVersion windowsVersion() override;
    Text systemDirectory() override;
    char16_t decimalSeparator() override;
    std::string toAnsi(const Text& text) override;
    Text fromAnsi(const std::string& bytes) override;
    std::uint64_t tickCount() override;
    std::optional<ByteSpan> rcData(const Text& name) override;

    // Windows and controls.
    void setEventSink(EventSink* sink) override;
    int screenDpi() override;
    WindowId createWindow(const WindowSpec& params) override;
    void showWindow(WindowId window) override;
    void destroyWindow(WindowId window) override;
    void bringToFront(WindowId window) override;
    void setWindowEnabled(WindowId window, bool enabled) override;
    bool windowEnabled(WindowId window) override;
    void setClientSize(WindowId window, int width, int height) override;
    std::pair<int, int> clientSize(WindowId window) override;
    void setWindowTitle(WindowId window, const Text& title) override;
    void startTimer(WindowId window, std::uint32_t milliseconds) override;

    ControlId createControl(WindowId parent, const ControlSpec& params) override;
    void destroyControl(ControlId control) override;
    void setCaption(ControlId control, const Text& caption) override;
    Text caption(ControlId control) override;
    void setEnabled(ControlId control, bool enabled) override;
    bool enabled(ControlId control) override;
    void setVisible(ControlId control, bool visible) override;
    void setBounds(ControlId control, const Rect& rect) override;
    Rect bounds(ControlId control) override;
    void setChecked(ControlId control, bool checked) override;
    bool checked(ControlId control) override;
    void setItems(ControlId control, const std::vector<Text>& items) override;
    std::vector<Text> items(ControlId control) override;
    void setSelectedIndex(ControlId control, int index) override;
    int selectedIndex(ControlId control) override;
    int textWidth(ControlId control, const Text& text) override;

    // Dialogs.
    int messageDialog(const DialogSpec& params) override;
    int messageBox(const Text& text, const Text& caption, std::uint32_t flags) override;

    void postQuit() override;

    // The window and control tables of the user interface (defined with the Windows code).
    struct Ui;

private:
    std::unique_ptr<Ui> ui_;
    std::map<std::uintptr_t, std::uintptr_t> processThreads_;  // process handle → thread handle
    std::map<std::uintptr_t, std::int64_t> positions_;  // file or device handle → next byte
};

}  // namespace qel
