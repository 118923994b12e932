// Test program for the Syslinux tests under Wine: the program's bootloader stage, as an extraction
// run reaches it, on the real Win32 side. Wine has no physical disks, so this program alone
// answers the disk requests from an image file that stands for the stick's first mebibyte (its
// master boot record and the gap in front of the first partition):
//   bootloader-stage-run.exe <drive root> <disk head image> <file system> [formatted]
// "formatted" ticks "Format to FAT32", as after a formatting stage. Every child program started
// is printed ("started: <command line>") with its exit code ("exit code: <n>").
#include <cstdio>
#include <set>
#include <string>

#include "app/BootloaderStage.h"
#include "app/MainWindow.h"
#include "disk/DeviceQueries.h"
#include "disk/Records.h"
#include "win32/Win32Platform.h"

namespace {

using qel::Text;

constexpr std::uint32_t kDiskNumber = 9;
constexpr std::int64_t kFirstPartitionOffset = 1 << 20;

class DiskImagePlatform : public qel::Win32Platform {
public:
    explicit DiskImagePlatform(Text headImage) : headImage_(std::move(headImage)) {}

    qel::Handle createFile(const Text& path, std::uint32_t access, std::uint32_t share,
                           std::uint32_t disposition, std::uint32_t attributes) override {
        if (path != u"\\\\.\\PHYSICALDRIVE" + qel::decimal(kDiskNumber))
            return Win32Platform::createFile(path, access, share, disposition, attributes);
        qel::Handle disk = Win32Platform::createFile(headImage_, access, share, disposition, 0);
        if (disk.valid()) diskHandles_.insert(disk.id());
        return disk;
    }

    bool deviceIoControl(const qel::Handle& h, std::uint32_t code, qel::ByteSpan input,
                         qel::MutableByteSpan output, std::uint32_t& bytesReturned) override {
        if (!diskHandles_.contains(h.id()))
            return Win32Platform::deviceIoControl(h, code, input, output, bytesReturned);
        namespace g = qel::records::disk_geometry;
        if (code != qel::win::IOCTL_DISK_GET_DRIVE_GEOMETRY || output.size() < g::kSize)
            return false;
        qel::records::writeI64(output, g::kCylinders, 64);
        qel::records::writeU32(output, g::kMediaType, qel::kRemovableMedia);
        qel::records::writeU32(output, g::kTracksPerCylinder, 255);
        qel::records::writeU32(output, g::kSectorsPerTrack, 63);
        qel::records::writeU32(output, g::kBytesPerSector, 512);
        bytesReturned = g::kSize;
        return true;
    }

    void closeHandle(std::uintptr_t id) override {
        diskHandles_.erase(id);
        Win32Platform::closeHandle(id);
    }

    qel::ProcessHandle createProcess(const Text& commandLine, std::uint32_t creationFlags,
                                     std::uint32_t startupFlags,
                                     std::uint16_t showWindow) override {
        std::printf("started: %s\n", qel::toUtf8(commandLine).c_str());
        return Win32Platform::createProcess(commandLine, creationFlags, startupFlags, showWindow);
    }

    bool processExitCode(const qel::ProcessHandle& process, std::uint32_t& exitCode) override {
        const bool read = Win32Platform::processExitCode(process, exitCode);
        if (read) std::printf("exit code: %u\n", exitCode);
        return read;
    }

private:
    Text headImage_;
    std::set<std::uintptr_t> diskHandles_;
};

Text argument(const wchar_t* value) {
    Text text;
    for (; *value; ++value) text.push_back(static_cast<char16_t>(*value));
    return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        std::fputs(
            "usage: bootloader-stage-run.exe <drive root> <disk head image> <file system>"
            " [formatted]\n",
            stderr);
        return 64;
    }
    DiskImagePlatform platform(argument(argv[2]));
    qel::MainWindow window(platform);
    window.create();
    window.Label3Click();
    window.setTickedSilently(window.CheckBox1, argc > 4 && argument(argv[4]) == u"formatted");
    window.setTickedSilently(window.CheckBox2, true);
    const qel::ProbedDrive drive{argument(argv[1]), kDiskNumber, u"MBR", kFirstPartitionOffset,
                                 argument(argv[3])};
    const Text coreImage =
        drive.root + qel::ChooseCoreImage(drive.firstPartitionOffset, drive.fileSystem);
    qel::InstallBootloaders(window.context, window, drive, coreImage);
    std::fflush(stdout);
    return 0;
}
