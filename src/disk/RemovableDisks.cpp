#include "disk/RemovableDisks.h"

#include "disk/DeviceQueries.h"
#include "disk/DriveList.h"

namespace qel {

namespace {

constexpr const char16_t* kDiskEnumKey = u"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum";
constexpr const char16_t* kDeviceEnumKey = u"SYSTEM\\CurrentControlSet\\Enum\\";

// The device instance path registered for disk n; nullopt when the Enum key cannot be opened or
// holds no value for n.
std::optional<Text> deviceInstancePath(Platform& sys, std::uint32_t n) {
    const RegistryKey key = sys.openLocalMachineKey(kDiskEnumKey, win::KEY_READ);
    if (!key.valid()) return std::nullopt;
    return sys.registryString(key, decimal(n));
}

// FriendlyName, else DeviceDesc as stored, else "Unknow"; nullopt when the device entry cannot
// be opened.
std::optional<Text> displayName(Platform& sys, const Text& instancePath) {
    const RegistryKey key = sys.openLocalMachineKey(kDeviceEnumKey + instancePath, win::KEY_READ);
    if (!key.valid()) return std::nullopt;
    if (auto friendly = sys.registryString(key, u"FriendlyName")) return friendly;
    if (auto description = sys.registryString(key, u"DeviceDesc")) return description;
    return Text(u"Unknow");
}

}  // namespace

Text WithoutDeviceWord(const Text& name) {
    static constexpr TextView kWord = u" Device";
    Text out;
    std::size_t from = 0;
    for (auto at = name.find(kWord); at != Text::npos; at = name.find(kWord, from)) {
        out.append(name, from, at - from);
        from = at + kWord.size();
    }
    out.append(name, from);
    return out;
}

Text DiskNumberOfItem(const Text& item) {
    if (item.size() <= 2) return {};
    const auto blank = item.find(u' ', 2);
    return item.substr(2, blank == Text::npos ? Text::npos : blank - 2);
}

RepartitionDiskList ListRepartitionDisks(Platform& sys) {
    RepartitionDiskList list;
    std::optional<std::uint32_t> count;
    {
        const RegistryKey key = sys.openLocalMachineKey(kDiskEnumKey, win::KEY_READ);
        if (key.valid()) count = sys.registryDword(key, u"Count");
    }
    list.unreadable = !count;
    if (list.unreadable) return list;

    // The walk ends when as many numbered values were found as "Count" says. A key holding fewer
    // (changed between the reads, or damaged) still ends the walk after disk number 1023: the
    // disk driver numbers disks densely from 0, far below that.
    std::uint32_t found = 0;
    for (std::uint32_t n = 0; found < *count && n < kDiskNumberBound; ++n) {
        const auto instancePath = deviceInstancePath(sys, n);
        if (!instancePath) continue;
        ++found;
        const auto name = displayName(sys, *instancePath);
        list.unreadable = !name;
        if (list.unreadable) return list;
        DiskGeometry geometry;
        GetDiskGeometry(sys, u"\\\\.\\PHYSICALDRIVE" + decimal(n), geometry);
        if (geometry.MediaType != kRemovableMedia) continue;
        list.items.push_back(u"RM" + decimal(n) + u" - " + WithoutDeviceWord(*name) + u" - " +
                             FormatByteSize(sys, geometry.size()));
    }
    return list;
}

}  // namespace qel
