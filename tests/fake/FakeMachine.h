// An in-memory Windows machine behind the program's seam, for the native tests: disks as byte
// arrays, volumes over their byte ranges, a file system, the registry, scripted child programs,
// recorded dialogs and windows whose controls keep their state.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qel::fake {

struct FakeDisk {
    Bytes bytes;
    // Geometry as IOCTL_DISK_GET_DRIVE_GEOMETRY reports it; mediaType 11 removable, 12 fixed.
    std::int64_t cylinders = 0;
    std::uint32_t mediaType = 11;
    std::uint32_t tracksPerCylinder = 255;
    std::uint32_t sectorsPerTrack = 63;
    std::uint32_t bytesPerSector = 512;
    // Partition style the layout request reports: empty → derived from sector 0 (0x55AA → MBR,
    // otherwise RAW); "GPT" forces style 1 with the MBR slots as partitions.
    std::string forcedStyle;
    bool present = true;  // false: a card reader without medium (every request fails)
    bool failReads = false;
    bool failWrites = false;
    std::uint64_t writesBeforeFailure = UINT64_MAX;  // writes that succeed before the rest fail
    bool failSeeks = false;
    bool failLayoutRequest = false;
    bool failSetLayout = false;
    bool failUpdateProperties = false;
    bool failGeometry = false;
    bool failOpen = false;         // CreateFileW on the disk fails
    int extraLayoutEntries = 0;    // logical partitions reported after the four MBR slots
    std::uint64_t writeCount = 0;  // successful WriteFile calls on the disk
    std::vector<std::uint32_t> ioctlLog;

    // Convenience: a blank disk of the given size with a geometry of whole cylinders.
    static FakeDisk ofSize(std::int64_t bytes, std::uint32_t bytesPerSector = 512,
                           std::uint32_t mediaType = 11);
    std::int64_t geometrySize() const {
        return cylinders * tracksPerCylinder * sectorsPerTrack * bytesPerSector;
    }
};

struct FakeVolume {
    char letter = 0;  // 'E'; 0 when the volume has no drive letter
    Text guid;        // "Volume{…}" (without prefix)
    int disk = -1;    // disk number; -1: none (the extent request fails)
    std::int64_t offset = 0;
    std::int64_t length = 0;
    std::uint32_t driveType = win::DRIVE_REMOVABLE;
    Text fileSystem = u"FAT32";
    Text label;
    bool infoFails = false;                   // GetVolumeInformationW fails
    std::optional<std::uint64_t> totalBytes;  // GetDiskFreeSpaceExW; default: length
    std::uint32_t sectorsPerCluster = 8;
    bool failSizeQuery = false;
    int extentCount = 1;  // >10 makes the extent request fail for lack of room
    int secondDisk = -1;  // a second extent on another disk
    bool dismounted = false;
    bool deleteMountPointFails = false;
};

struct ProcessRecord {
    Text commandLine;
    std::uint32_t creationFlags = 0;
    std::uint32_t startupFlags = 0;
    std::uint16_t showWindow = 0;
    Text currentDirectory;
    bool started = false;
};

// What a scripted child program does.
struct ChildOutcome {
    bool starts = true;
    std::uint32_t exitCode = 0;
    bool exitCodeReadable = true;
    int waitsBeforeEnd = 0;  // timed-out waits before it ends (message pumping in between)
};

struct DialogRecord {
    DialogSpec params;
    int result = 0;
};

struct MessageBoxRecord {
    Text text;
    Text caption;
    std::uint32_t flags = 0;
};

struct FakeControl {
    WindowId parent = 0;
    ControlSpec params;
    bool checked = false;
    std::vector<Text> items;
    int selected = -1;
    bool destroyed = false;
    int itemReplacements = 0;  // how often setItems rewrote the list
};

struct FakeWindow {
    WindowSpec params;
    bool shown = false;
    bool enabled = true;
    bool destroyed = false;
    bool onTop = false;
    int frontRequests = 0;
    std::uint32_t timerMs = 0;
};

struct RegistryEntry {
    std::map<Text, Text> strings;          // value name → text
    std::map<Text, std::uint32_t> dwords;  // value name → integer
    bool openFails = false;
};

class FakeMachine : public Platform {
public:
    FakeMachine();

    // ---- set-up used by tests ----
    int addDisk(FakeDisk disk);  // returns the disk number (0, 1, …)
    void setDisk(int number, FakeDisk disk);
    FakeDisk& disk(int number) { return disks_.at(number); }
    bool hasDisk(int number) const { return disks_.count(number) != 0; }
    FakeVolume& addVolume(FakeVolume volume);
    FakeVolume* volumeByLetter(char letter);
    FakeVolume* volumeByGuid(const Text& guid);
    std::vector<FakeVolume>& volumes() { return volumes_; }
    // A drive letter without a disk behind it (C: with its folders, a CD drive, …).
    void addPlainDrive(char letter, std::uint32_t driveType, Text fileSystem = u"NTFS",
                       Text label = u"", std::uint64_t totalBytes = 0);

    void putFile(const Text& path, Bytes content,
                 std::uint32_t attributes = win::FILE_ATTRIBUTE_ARCHIVE);
    void putFile(const Text& path, const std::string& content) {
        putFile(path, Bytes(content.begin(), content.end()));
    }
    void putDirectory(const Text& path);
    bool hasFile(const Text& path);
    bool hasDirectory(const Text& path);
    Bytes fileBytes(const Text& path);
    std::string fileText(const Text& path);
    std::uint32_t attributesOf(const Text& path);
    void makeReadOnly(const Text& path);
    // Paths of every file and folder below a folder (normalised, upper case).
    std::vector<Text> listTree(const Text& folder);
    // Makes every file creation under a folder fail (a full or write-protected place).
    void failWritesUnder(const Text& folder) { writeFailures_.push_back(normalise(folder)); }

    void setEnv(const Text& name, std::optional<Text> value);
    void setCurrentDir(Text dir) { currentDir_ = std::move(dir); }
    void setVersion(WindowsVersion v) { version_ = std::move(v); }
    void setWow64(bool on) { wow64_ = on; }
    void setSystemDirectory(Text dir) { systemDir_ = std::move(dir); }
    void setDecimalSeparator(char16_t c) { decimalSeparator_ = c; }
    void setResource(const Text& name, Bytes content);
    void removeExport(const std::string& name) { missingExports_.insert(name); }
    void restoreExport(const std::string& name) { missingExports_.erase(name); }
    void setKernel32Missing(bool missing) { kernel32Missing_ = missing; }
    int procLookups() const { return procLookups_; }
    // Runs after a successful IOCTL_DISK_UPDATE_PROPERTIES on a disk, as Windows re-reads the
    // table there: tests use it to let volumes appear for the new partitions.
    std::function<void(FakeMachine&, int disk)> onLayoutChanged;

    RegistryEntry& registryKey(const Text& path);  // created when missing

    // Child programs: the first handler whose prefix the command line starts with (case
    // insensitive) decides; unmatched command lines do not start.
    using ChildScript = std::function<ChildOutcome(FakeMachine&, const Text& commandLine)>;
    void onProcess(const Text& commandPrefix, ChildScript script);
    const std::vector<ProcessRecord>& processes() const { return processes_; }
    int pumpCount() const { return pumps_; }
    std::function<void()> onPump;  // runs on every pump (a timer tick, a click …)

    // Dialogs: answers are taken from the queue in order; an empty queue answers with the
    // dialog's default button.
    void answerDialogs(std::initializer_list<int> results);
    std::function<int(const DialogSpec&)> dialogAnswerer;  // overrides the queue when set
    const std::vector<DialogRecord>& dialogs() const { return dialogs_; }
    const std::vector<MessageBoxRecord>& messageBoxes() const { return messageBoxes_; }
    void clearRecords();

    struct ShellExecuteRecord {
        WindowId window;
        Text verb;
        Text file;
        Text currentDirectory;
    };
    const std::vector<ShellExecuteRecord>& shellExecutes() const { return shellExecutes_; }
    struct ShellFileOpRecord {
        std::uint16_t function;
        Text from;
        std::uint16_t flags;
        WindowId window;
    };
    const std::vector<ShellFileOpRecord>& shellFileOps() const { return shellFileOps_; }

    int quitRequests() const { return quitRequests_; }
    int openHandles() const { return static_cast<int>(handles_.size()); }
    int openProcesses() const { return static_cast<int>(processHandles_.size()); }
    int openRegistryKeys() const { return static_cast<int>(keys_.size()); }
    int openVolumeSearches() const { return static_cast<int>(searches_.size()); }

    // UI inspection and user input.
    FakeControl& control(ControlId id) { return controls_.at(id); }
    // Every caption a control was given after its creation, in order.
    std::vector<Text> captionHistory(ControlId id) const;
    FakeWindow& window(WindowId id) { return windows_.at(id); }
    std::vector<ControlId> controlsOf(WindowId window) const;
    ControlId findControl(WindowId window, const Text& caption) const;
    void userClick(ControlId id);              // the user clicks a button or a check box
    void userSelect(ControlId id, int index);  // the user picks an item of a drop-down list
    void userType(ControlId id, const Text& text);
    void userClose(WindowId id);
    void timerTick();  // one tick for every window with a timer
    int dpi = 96;

    // ---- the seam ----
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

    std::optional<std::uint32_t> fileAttributes(const Text& path) override;
    bool createDirectory(const Text& path) override;
    bool deleteFile(const Text& path) override;
    bool setFileAttributes(const Text& path, std::uint32_t attributes) override;
    bool copyFile(const Text& from, const Text& to, bool failIfExists) override;
    std::optional<FindData> findFirstFile(const Text& path) override;
    int shellFileOperation(WindowId window, std::uint16_t function, const Text& from,
                           std::uint16_t flags) override;

    std::uint32_t driveType(const Text& root) override;
    std::optional<VolumeInformation> volumeInformation(const Text& root) override;
    std::optional<std::uint64_t> diskTotalBytes(const Text& root) override;

    ModuleId moduleHandle(const Text& name) override;
    ModuleId loadLibrary(const Text& name) override;
    ProcAddress procAddress(ModuleId module, const std::string& name) override;
    void freeLibrary(ModuleId module) override;
    std::uint32_t lastError() override { return lastError_; }
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

    RegistryKey openLocalMachineKey(const Text& path, std::uint32_t access) override;
    std::optional<Text> registryString(const RegistryKey& key, const Text& name) override;
    std::optional<std::uint32_t> registryDword(const RegistryKey& key, const Text& name) override;
    void closeRegistryKey(std::uintptr_t id) override;

    ProcessHandle createProcess(const Text& commandLine, std::uint32_t creationFlags,
                                std::uint32_t startupFlags, std::uint16_t showWindow) override;
    WaitResult waitForProcess(const ProcessHandle& process, std::uint32_t milliseconds) override;
    bool processExitCode(const ProcessHandle& process, std::uint32_t& exitCode) override;
    void closeProcess(std::uintptr_t id) override;
    void pumpPendingMessages() override;
    void shellExecute(WindowId window, const Text& verb, const Text& file) override;

    std::optional<Text> environmentVariable(const Text& name) override;
    Text currentDirectory() override { return currentDir_; }
    bool setCurrentDirectory(const Text& path) override;
    WindowsVersion windowsVersion() override { return version_; }
    Text systemDirectory() override { return systemDir_; }
    char16_t decimalSeparator() override { return decimalSeparator_; }
    std::string toAnsi(const Text& text) override;
    Text fromAnsi(const std::string& bytes) override;
    std::uint64_t tickCount() override { return ++ticks_; }
    std::optional<ByteSpan> rcData(const Text& name) override;

    void setEventSink(EventSink* sink) override { sink_ = sink; }
    int screenDpi() override { return dpi; }
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
    int messageDialog(const DialogSpec& params) override;
    int messageBox(const Text& text, const Text& caption, std::uint32_t flags) override;
    void postQuit() override { ++quitRequests_; }

    // Normalised key of a path: volume root key + upper-case relative path with backslashes.
    Text normalise(const Text& path) const;

private:
    struct OpenHandle {
        enum Kind { File, Disk, Volume } kind = File;
        Text key;       // file: normalised path
        int disk = -1;  // disk number (disk) or the volume's disk
        std::size_t volume = 0;
        std::int64_t position = 0;
        std::uint32_t access = 0;
    };
    struct FileEntry {
        Bytes bytes;
        std::uint32_t attributes = win::FILE_ATTRIBUTE_ARCHIVE;
        Text displayName;
    };
    struct RunningProcess {
        ChildOutcome outcome;
        int waits = 0;
    };
    struct VolumeSearch {
        std::size_t next = 0;
    };

    Handle openDevice(const Text& path, std::uint32_t access);
    bool diskIoctl(FakeDisk& d, std::uint32_t code, ByteSpan input, MutableByteSpan output,
                   std::uint32_t& returned);
    bool volumeIoctl(FakeVolume& v, std::uint32_t code, MutableByteSpan output,
                     std::uint32_t& returned);
    bool writeForbidden(const Text& key) const;
    std::optional<std::size_t> volumeIndexForRoot(const Text& root) const;
    std::vector<std::size_t> enumerableVolumes() const;

    std::map<int, FakeDisk> disks_;
    std::vector<FakeVolume> volumes_;
    std::map<char, std::pair<std::uint32_t, VolumeInformation>> plainDrives_;
    std::map<char, std::uint64_t> plainDriveTotals_;
    std::map<Text, FileEntry> files_;
    std::set<Text> directories_;
    std::vector<Text> writeFailures_;
    std::map<std::uintptr_t, OpenHandle> handles_;
    std::map<std::uintptr_t, RunningProcess> processHandles_;
    std::map<std::uintptr_t, Text> keys_;
    std::map<FindVolumeId, VolumeSearch> searches_;
    std::uintptr_t nextId_ = 100;
    std::map<Text, RegistryEntry> registry_;
    std::vector<std::pair<Text, ChildScript>> scripts_;
    std::vector<ProcessRecord> processes_;
    std::map<Text, Text> env_;
    Text currentDir_ = u"C:\\Users\\user";
    WindowsVersion version_{10, 0, 19045};
    bool wow64_ = true;
    Text systemDir_ = u"C:\\Windows\\system32";
    char16_t decimalSeparator_ = u'.';
    std::map<Text, Bytes> resources_;
    std::set<std::string> missingExports_;
    bool kernel32Missing_ = false;
    int procLookups_ = 0;
    std::uint32_t lastError_ = 0;
    std::uint64_t ticks_ = 0;
    int pumps_ = 0;
    bool pumping_ = false;
    std::deque<int> answers_;
    std::vector<DialogRecord> dialogs_;
    std::vector<MessageBoxRecord> messageBoxes_;
    std::vector<ShellExecuteRecord> shellExecutes_;
    std::vector<ShellFileOpRecord> shellFileOps_;
    int quitRequests_ = 0;
    EventSink* sink_ = nullptr;
    std::map<WindowId, FakeWindow> windows_;
    std::map<ControlId, FakeControl> controls_;
    std::map<ControlId, std::vector<Text>> captionHistory_;
    std::uint32_t nextUiId_ = 1;
};

// Little-endian helpers for building and checking records in tests.
std::uint32_t le32(ByteSpan bytes, std::size_t at);
std::uint64_t le64(ByteSpan bytes, std::size_t at);
void putLe32(MutableByteSpan bytes, std::size_t at, std::uint32_t value);
void putLe64(MutableByteSpan bytes, std::size_t at, std::uint64_t value);

// An MBR partition entry written into sector 0 of a byte array (slot 0–3), with 0x55AA.
void writeMbrEntry(Bytes& disk, int slot, std::uint8_t type, std::uint32_t startLba,
                   std::uint32_t sectors, bool active = false);

}  // namespace qel::fake
