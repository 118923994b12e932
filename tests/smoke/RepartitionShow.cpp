// Test program for the GUI tests under Wine: the real main window on the real Win32 side, with the
// AutoPartition window opened over it. Wine lists no removable disk, so this program alone answers
// the disk driver's registry keys and the disk geometry request with two removable disks:
//   repartition-show.exe [vi|en]
// "en" switches the interface to English (the language link's handler) before the window opens.
#include <array>
#include <cwchar>
#include <map>
#include <optional>

#include "app/MainWindow.h"
#include "disk/DeviceQueries.h"
#include "disk/Records.h"
#include "win32/Win32Platform.h"

namespace {

using qel::Text;

constexpr std::uintptr_t kDiskEnumKey = 0x7e570001;
constexpr std::uintptr_t kFirstDeviceKey = 0x7e570100;
constexpr std::uintptr_t kFirstDiskHandle = 0x7e570200;

struct FixedDisk {
    Text instancePath;
    Text friendlyName;
    std::int64_t cylinders;
    std::uint32_t mediaType;
};

// Disk 0 is the fixed system disk, which the list leaves out; disks 1 and 2 are sticks.
const std::array<FixedDisk, 3> kDisks{{
    {u"SCSI\\Disk&Ven_QEL&Prod_System\\0", u"QEL System Disk Device", 60801, qel::kFixedMedia},
    {u"USBSTOR\\Disk&Ven_Generic&Prod_Flash_Disk\\1", u"Generic Flash Disk USB Device", 973,
     qel::kRemovableMedia},
    {u"USBSTOR\\Disk&Ven_QEL&Prod_Stick\\2", u"QEL Stick USB Device", 3891, qel::kRemovableMedia},
}};

class FixedDiskPlatform : public qel::Win32Platform {
public:
    qel::RegistryKey openLocalMachineKey(const Text& path, std::uint32_t access) override {
        if (path == u"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum")
            return qel::RegistryKey(this, kDiskEnumKey);
        for (std::size_t n = 0; n < kDisks.size(); ++n)
            if (path == u"SYSTEM\\CurrentControlSet\\Enum\\" + kDisks[n].instancePath)
                return qel::RegistryKey(this, kFirstDeviceKey + n);
        return Win32Platform::openLocalMachineKey(path, access);
    }

    std::optional<Text> registryString(const qel::RegistryKey& key, const Text& name) override {
        if (key.id() == kDiskEnumKey) {
            for (std::size_t n = 0; n < kDisks.size(); ++n)
                if (name == qel::decimal(static_cast<std::uint32_t>(n)))
                    return kDisks[n].instancePath;
            return std::nullopt;
        }
        if (const auto disk = deviceOf(key.id(), kFirstDeviceKey))
            return name == u"FriendlyName" ? std::optional<Text>(disk->friendlyName) : std::nullopt;
        return Win32Platform::registryString(key, name);
    }

    std::optional<std::uint32_t> registryDword(const qel::RegistryKey& key,
                                               const Text& name) override {
        if (key.id() == kDiskEnumKey)
            return name == u"Count" ? std::optional<std::uint32_t>(kDisks.size()) : std::nullopt;
        return Win32Platform::registryDword(key, name);
    }

    void closeRegistryKey(std::uintptr_t id) override {
        if (id != kDiskEnumKey && !deviceOf(id, kFirstDeviceKey))
            Win32Platform::closeRegistryKey(id);
    }

    qel::Handle createFile(const Text& path, std::uint32_t access, std::uint32_t share,
                           std::uint32_t disposition, std::uint32_t attributes) override {
        for (std::size_t n = 0; n < kDisks.size(); ++n)
            if (path == u"\\\\.\\PHYSICALDRIVE" + qel::decimal(static_cast<std::uint32_t>(n)))
                return qel::Handle(this, kFirstDiskHandle + n);
        return Win32Platform::createFile(path, access, share, disposition, attributes);
    }

    bool deviceIoControl(const qel::Handle& h, std::uint32_t code, qel::ByteSpan input,
                         qel::MutableByteSpan output, std::uint32_t& bytesReturned) override {
        const auto disk = deviceOf(h.id(), kFirstDiskHandle);
        if (!disk) return Win32Platform::deviceIoControl(h, code, input, output, bytesReturned);
        namespace g = qel::records::disk_geometry;
        if (code != qel::win::IOCTL_DISK_GET_DRIVE_GEOMETRY || output.size() < g::kSize)
            return false;
        qel::records::writeI64(output, g::kCylinders, disk->cylinders);
        qel::records::writeU32(output, g::kMediaType, disk->mediaType);
        qel::records::writeU32(output, g::kTracksPerCylinder, 255);
        qel::records::writeU32(output, g::kSectorsPerTrack, 63);
        qel::records::writeU32(output, g::kBytesPerSector, 512);
        bytesReturned = g::kSize;
        return true;
    }

    void closeHandle(std::uintptr_t id) override {
        if (!deviceOf(id, kFirstDiskHandle)) Win32Platform::closeHandle(id);
    }

private:
    static const FixedDisk* deviceOf(std::uintptr_t id, std::uintptr_t first) {
        return id >= first && id < first + kDisks.size() ? &kDisks[id - first] : nullptr;
    }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    FixedDiskPlatform platform;
    qel::MainWindow mainWindow(platform);
    mainWindow.create();
    if (argc > 1 && std::wcscmp(argv[1], L"en") == 0) mainWindow.Label3Click();
    mainWindow.Button3Click();
    return mainWindow.repartition.isOpen() ? platform.runMessageLoop() : 1;
}
