#include "SyslinuxInstaller.h"

#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "FileStores.h"

extern "C" {
#include "libfat.h"
#include "syslinux.h"
}

namespace qel::image {

namespace {

// The loader keeps the folder in a field of 256 bytes, its terminating NUL included; the library
// ends the process when the folder is longer, so it is refused before.
constexpr std::size_t kLongestFolder = 255;

constexpr std::uint32_t kInstalledAttributes =
    win::FILE_ATTRIBUTE_READONLY | win::FILE_ATTRIBUTE_HIDDEN | win::FILE_ATTRIBUTE_SYSTEM;

// The loader as the library embeds it. Patching changes the library's copy in place, so every
// installation starts again from this one, taken before the first.
const Bytes& pristineLoader() {
    static const Bytes loader(syslinux_ldlinux, syslinux_ldlinux + syslinux_ldlinux_len);
    return loader;
}

// The folder of "-d" as a store path: '\' and '/' alike, repeated and outer ones dropped.
std::string storeFolder(const std::string& folder) {
    std::string path;
    for (const char c : folder) {
        const bool separator = c == '/' || c == '\\';
        if (separator && (path.empty() || path.back() == '/')) continue;
        path += separator ? '/' : c;
    }
    if (!path.empty() && path.back() == '/') path.pop_back();
    return path;
}

std::string inFolder(const std::string& folder, const char* name) {
    return folder.empty() ? std::string(name) : folder + "/" + name;
}

struct SectorSource {
    const DiskImage* disk;
    std::int64_t volumeOffset;
};

int readVolumeSector(intptr_t source, void* buffer, std::size_t size, libfat_sector_t sector) {
    const auto& from = *reinterpret_cast<const SectorSource*>(source);
    const auto at = from.volumeOffset + static_cast<std::int64_t>(sector * size);
    return from.disk->read(at, MutableByteSpan(static_cast<std::uint8_t*>(buffer), size))
               ? static_cast<int>(size)
               : -1;
}

// The sectors of the file from its first cluster on, at most count of them, as libfat maps them
// for the installer; fewer when the chain ends early or cannot be read.
std::vector<sector_t> blockMap(const DiskImage& disk, std::int64_t volumeOffset,
                               std::uint32_t firstCluster, std::size_t count) {
    SectorSource source{&disk, volumeOffset};
    const std::unique_ptr<libfat_filesystem, decltype(&libfat_close)> fs(
        libfat_open(readVolumeSector, reinterpret_cast<intptr_t>(&source)), libfat_close);
    std::vector<sector_t> sectors;
    if (!fs) return sectors;
    constexpr auto kFailed = static_cast<libfat_sector_t>(-1);
    for (auto s = libfat_clustertosector(fs.get(), static_cast<std::int32_t>(firstCluster));
         s != 0 && s != kFailed && sectors.size() < count; s = libfat_nextsector(fs.get(), s))
        sectors.push_back(s);
    return sectors;
}

// What the installer writes first: the loader with an empty auxiliary data vector behind it.
Bytes unpatchedLoaderFile() {
    syslinux_reset_adv(syslinux_adv);
    Bytes file = pristineLoader();
    file.insert(file.end(), syslinux_adv, syslinux_adv + 2 * ADV_SIZE);
    return file;
}

// Patches the loader for its sectors and the folder, and writes the sectors the patch changed
// over the file's first ones.
bool patchLoader(DiskImage& disk, std::int64_t volumeOffset, const std::vector<sector_t>& sectors,
                 const std::string& folder) {
    std::memcpy(syslinux_ldlinux, pristineLoader().data(), pristineLoader().size());
    const int patched = syslinux_patch(sectors.data(), static_cast<int>(sectors.size()), 0, 0,
                                       folder.empty() ? nullptr : folder.c_str(), nullptr);
    if (patched < 0) return false;
    const auto count = (static_cast<std::size_t>(patched) + SECTOR_SIZE - 1) / SECTOR_SIZE;
    for (std::size_t i = 0; i < count && i < sectors.size(); ++i) {
        const ByteSpan sector(syslinux_ldlinux + i * SECTOR_SIZE, SECTOR_SIZE);
        if (!disk.write(volumeOffset + static_cast<std::int64_t>(sectors[i] * SECTOR_SIZE), sector))
            return false;
    }
    return true;
}

}  // namespace

SyslinuxInstall installSyslinux(DiskImage& disk, std::int64_t volumeOffset,
                                const std::string& folder) {
    SyslinuxInstall result;
    const auto fail = [&](std::string problem) {
        result.problem = std::move(problem);
        return result;
    };
    if (folder.size() > kLongestFolder)
        return fail("Subdirectory path too long... aborting install!");
    auto& sector = result.bootSector;
    int fsType = 0;
    if (!disk.read(volumeOffset, sector)) return fail("cannot read the volume's boot sector");
    if (const char* problem = syslinux_check_bootsect(sector.data(), &fsType)) return fail(problem);

    FatStore store(disk.path(), volumeOffset);
    std::string target = storeFolder(folder);
    const auto found = store.stat(target);
    if (!found || !found->directory) target.clear();  // the move into it would fail
    const std::string loader = inFolder(target, "ldlinux.sys");
    const std::string module = inFolder(target, "ldlinux.c32");
    for (const auto& old : {std::string("ldlinux.sys"), std::string("ldlinux.c32"), loader, module})
        if (store.stat(old)) store.remove(old);

    // ldlinux.c32 does not depend on the patch: it goes on the volume with the loader.
    const ByteSpan moduleFile(syslinux_ldlinuxc32, syslinux_ldlinuxc32_len);
    if (!store.write(loader, unpatchedLoaderFile()) ||
        !store.setAttributes(loader, kInstalledAttributes) || !store.write(module, moduleFile) ||
        !store.setAttributes(module, kInstalledAttributes))
        return fail("could not write ldlinux.sys and ldlinux.c32");
    const auto firstCluster = store.firstClusterOf(loader);
    store.release();
    if (!firstCluster) return fail("could not write ldlinux.sys and ldlinux.c32");

    const auto loaderSectors =
        (syslinux_ldlinux_len + 2 * ADV_SIZE + SECTOR_SIZE - 1) / SECTOR_SIZE;
    const auto sectors = blockMap(disk, volumeOffset, *firstCluster, loaderSectors);
    if (sectors.size() != loaderSectors) return fail("cannot map the sectors of ldlinux.sys");
    if (!patchLoader(disk, volumeOffset, sectors, folder))
        return fail("could not patch ldlinux.sys");

    if (!disk.read(volumeOffset, sector)) return fail("cannot read the volume's boot sector");
    syslinux_make_bootsect(sector.data(), fsType);
    result.installed = true;
    return result;
}

}  // namespace qel::image
