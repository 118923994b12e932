// The program's seam on Linux over one disk image file, behaving as Windows would for this
// program: the image is the removable disk \\.\PHYSICALDRIVE1, its partitions volumes named by
// their place on the disk, with drive letters from E: on; drive C: is a host folder. Files on the
// image's volumes live in their real file systems (mtools for FAT, ntfs-3g for NTFS). Windows' own
// programs and the program's carried tools are stood in for by Linux programs (see the child
// programs below). Dialogs are answered from the options and printed; windows and controls live in
// memory.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "DiskImage.h"
#include "FileStores.h"
#include "PowerCut.h"
#include "platform/Platform.h"

namespace qel::image {

inline constexpr std::uint32_t kImageDiskNumber = 1;

struct ImageMachineOptions {
    std::string imagePath;
    std::string hostFolder;  // the folder behind drive C:; empty: a temporary folder
    std::map<std::string, std::string> resources;  // resource name → host file
    std::string fat32formatProgram;  // the Linux build of the carried formatter; empty: none
    // Dialog answers in order: a button caption ("OK", "Cancel", without regard to case) or a
    // modal result ("2"); when they run out, every dialog is answered by defaultAnswer.
    std::deque<std::string> answers;
    std::string defaultAnswer = "OK";
    std::ostream* log = nullptr;  // what the window shows, dialogs and child programs
    WindowsVersion version{10, 0, 19045};
    bool wow64 = true;         // a 32-bit program on 64-bit Windows
    PowerCutOptions powerCut;  // writes numbered, listed, cut
};

// A volume of the image: one partition, its identity as Windows names it.
struct ImageVolume {
    Text guid;       // "Volume{…}", without prefix; the same for the same place on the disk
    int number = 0;  // the partition number the partition manager gave it
    Partition partition;
};

class ImageMachine : public Platform {
public:
    explicit ImageMachine(ImageMachineOptions options);
    ~ImageMachine() override;

    // ---- inspection for the headless command and the tests ----
    const std::vector<ImageVolume>& volumes() const { return volumes_; }
    std::optional<char> letterOf(const Text& guid) const;  // the first letter of a volume
    Text fileSystemOf(const ImageVolume& volume);          // "FAT32", "FAT", "NTFS", "exFAT" or ""
    const std::string& hostFolder() const { return hostFolder_; }
    std::string hostPathOf(const Text& windowsPath);  // a path on C: in the host folder
    const std::vector<Text>& startedPrograms() const { return started_; }
    int quitRequests() const { return quitRequests_; }
    int openHandles() const { return static_cast<int>(handles_.size()); }
    const PowerCut& power() const { return power_; }
    // Puts on the image every file change the volumes' stores still hold back (and, on a block
    // device, waits until it has reached the device); false when one could not be written, now
    // or earlier in the run.
    bool flushStores();
    std::ostream& log();

    // UI state, as the window models left it.
    struct UiWindow {
        WindowSpec params;
        bool shown = false;
        bool enabled = true;
        bool destroyed = false;
        std::uint32_t timerMs = 0;
    };
    struct UiControl {
        WindowId parent = 0;
        ControlSpec params;
        bool checked = false;
        std::vector<Text> items;
        int selected = -1;
        bool destroyed = false;
    };
    const UiControl& control(ControlId id) const { return controls_.at(id); }
    const UiWindow& window(WindowId id) const { return windows_.at(id); }
    EventSink* eventSink() const { return sink_; }

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
    void freeLibrary(ModuleId) override {}
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
    void closeRegistryKey(std::uintptr_t id) override { keys_.erase(id); }

    ProcessHandle createProcess(const Text& commandLine, std::uint32_t creationFlags,
                                std::uint32_t startupFlags, std::uint16_t showWindow) override;
    WaitResult waitForProcess(const ProcessHandle& process, std::uint32_t milliseconds) override;
    bool processExitCode(const ProcessHandle& process, std::uint32_t& exitCode) override;
    void closeProcess(std::uintptr_t id) override { processes_.erase(id); }
    void pumpPendingMessages() override {}
    void shellExecute(WindowId window, const Text& verb, const Text& file) override;

    std::optional<Text> environmentVariable(const Text& name) override;
    Text currentDirectory() override { return currentDirectory_; }
    bool setCurrentDirectory(const Text& path) override;
    WindowsVersion windowsVersion() override { return options_.version; }
    Text systemDirectory() override { return u"C:\\Windows\\system32"; }
    char16_t decimalSeparator() override { return u'.'; }
    std::string toAnsi(const Text& text) override;
    Text fromAnsi(const std::string& bytes) override;
    std::uint64_t tickCount() override;
    std::optional<ByteSpan> rcData(const Text& name) override;

    void setEventSink(EventSink* sink) override { sink_ = sink; }
    int screenDpi() override { return 96; }
    WindowId createWindow(const WindowSpec& params) override;
    void showWindow(WindowId window) override;
    void destroyWindow(WindowId window) override;
    void bringToFront(WindowId) override {}
    void setWindowEnabled(WindowId window, bool enabled) override;
    bool windowEnabled(WindowId window) override { return windows_.at(window).enabled; }
    void setClientSize(WindowId window, int width, int height) override;
    std::pair<int, int> clientSize(WindowId window) override;
    void setWindowTitle(WindowId window, const Text& title) override;
    void startTimer(WindowId window, std::uint32_t milliseconds) override;
    ControlId createControl(WindowId parent, const ControlSpec& params) override;
    void destroyControl(ControlId control) override { controls_.at(control).destroyed = true; }
    void setCaption(ControlId control, const Text& caption) override;
    Text caption(ControlId control) override { return controls_.at(control).params.caption; }
    void setEnabled(ControlId control, bool enabled) override;
    bool enabled(ControlId control) override { return controls_.at(control).params.enabled; }
    void setVisible(ControlId control, bool visible) override;
    void setBounds(ControlId control, const Rect& rect) override;
    Rect bounds(ControlId control) override { return controls_.at(control).params.rect; }
    void setChecked(ControlId control, bool checked) override;
    bool checked(ControlId control) override { return controls_.at(control).checked; }
    void setItems(ControlId control, const std::vector<Text>& items) override;
    std::vector<Text> items(ControlId control) override { return controls_.at(control).items; }
    void setSelectedIndex(ControlId control, int index) override;
    int selectedIndex(ControlId control) override { return controls_.at(control).selected; }
    int textWidth(ControlId control, const Text& text) override;
    int messageDialog(const DialogSpec& params) override;
    int messageBox(const Text& text, const Text& caption, std::uint32_t flags) override;
    void postQuit() override;

private:
    friend class ChildPrograms;
    struct Location {  // a file path resolved to the store of its drive
        FileStore* store = nullptr;
        std::string path;  // relative to the drive's root, '/' between names
    };
    struct OpenHandle {
        enum Kind { File, Disk, Volume } kind = File;
        std::uint32_t access = 0;
        std::int64_t position = 0;
        Location location;  // File
        Bytes content;      // File: the whole file, stored again on close when changed
        bool dirty = false;
        std::uint32_t createAttributes = 0;  // File: attributes to set after storing
        Text guid;                           // Volume
    };
    struct Process {
        std::uint32_t exitCode = 0;
    };

    // Volumes and the partition table as the partition manager knows them.
    void rescanPartitions();
    ImageVolume* volumeByGuid(const Text& guid);
    ImageVolume* volumeByLetter(char letter);
    ImageVolume* volumeOfRoot(const Text& root);  // "E:", "E:\", "\\?\Volume{…}\" …
    FileStore* storeOf(const ImageVolume& volume);
    void releaseStore(FileStore& store);
    void releaseStores();  // before child programs and partition changes
    // Before raw access to a byte range of the disk: the stores of the volumes it touches.
    void releaseStoresAt(std::int64_t offset, std::int64_t length,
                         std::optional<ByteSpan> written = std::nullopt);
    bool keepsFileSystem(const ImageVolume& volume, std::int64_t offset, std::int64_t length,
                         std::optional<ByteSpan> written);
    std::optional<Location> locate(const Text& path);
    Handle openDevice(const Text& name, std::uint32_t access);
    // written: what a raw write puts there; nullopt for a read.
    bool rawAccess(OpenHandle& h, std::int64_t length, std::int64_t& base, std::int64_t& limit,
                   std::optional<ByteSpan> written = std::nullopt);
    bool diskControl(OpenHandle& h, std::uint32_t code, ByteSpan input, MutableByteSpan output,
                     std::uint32_t& returned);
    bool volumeControl(OpenHandle& h, std::uint32_t code, MutableByteSpan output,
                       std::uint32_t& returned);
    bool setDriveLayout(ByteSpan input);
    // A write to the disk, numbered and subject to the power cut.
    bool writeDisk(const WriteDescription& what, std::int64_t offset, ByteSpan data);
    bool removeTree(const Location& at);
    Handle newHandle(OpenHandle h);
    void fail(std::uint32_t error) { lastError_ = error; }
    // A store's operation failed: its own error where it names one, else ERROR_ACCESS_DENIED.
    void failIn(const FileStore& store);
    void say(const std::string& line);
    Text controlLabel(ControlId id) const;

    ImageMachineOptions options_;
    std::unique_ptr<TemporaryFolder> ownHostFolder_;
    std::string hostFolder_;
    DiskImage disk_;
    PowerCut power_;
    HostFolderStore hostDrive_;
    PartitionTable table_;
    std::vector<ImageVolume> volumes_;
    std::map<std::pair<std::int64_t, std::int64_t>, int> partitionNumbers_;
    std::map<char, Text> letters_;  // drive letter → volume GUID name
    std::set<Text> seenVolumes_;
    // By volume name: what the store was made for (file system and partition) and the store.
    std::map<Text, std::pair<std::string, std::unique_ptr<FileStore>>> stores_;
    std::map<std::uintptr_t, OpenHandle> handles_;
    std::map<std::uintptr_t, Process> processes_;
    std::map<std::uintptr_t, Text> keys_;
    std::map<std::uintptr_t, std::size_t> searches_;
    std::map<Text, std::map<Text, Text>> registryStrings_;
    std::map<Text, std::map<Text, std::uint32_t>> registryDwords_;
    std::map<Text, Bytes> resources_;
    std::map<Text, Text> environment_;
    Text currentDirectory_ = u"C:\\Users\\user";
    std::vector<Text> started_;
    std::uintptr_t nextId_ = 100;
    std::uint32_t lastError_ = 0;
    int quitRequests_ = 0;
    bool lostWrites_ = false;

    EventSink* sink_ = nullptr;
    std::map<WindowId, UiWindow> windows_;
    std::map<ControlId, UiControl> controls_;
    std::uint32_t nextUiId_ = 1;
};

// Splits a command line as 7-Zip and the command shell do: blanks separate words, double
// quotes group them and are dropped; backslashes are plain characters.
std::vector<Text> splitCommandLine(TextView line);

}  // namespace qel::image
