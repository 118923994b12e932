#include "boot/CloverLegacy.h"

#include "boot/DeviceIo.h"

namespace qel {

namespace {

constexpr TextView kCloverLegacy = u"\\EFI\\CLOVER\\CloverLegacy";
constexpr TextView kCloverBootCode = u"\\QEL\\Tools\\Clover\\boot1f32";
constexpr TextView kBoot7Source = u"\\QEL\\Tools\\Clover\\boot7";
constexpr TextView kBoot7 = u"\\boot7";
constexpr std::size_t kBootSectorBytes = 512;
constexpr std::size_t kJumpBytes = 3;
// Bytes 3 to 89 hold the OEM name and the FAT32 parameter blocks, which stay the volume's own.
constexpr std::size_t kBootCodeStart = 90;
constexpr std::size_t kBootCodeBytes = kBootSectorBytes - kBootCodeStart;

// A volume GUID name is reached through "\\?\" for files; a drive letter is used as it is.
Text fileRoot(const Text& volume) {
    if (!volume.empty() && volume.back() == u'}') return u"\\\\?\\" + volume;
    return volume;
}

void deleteIfPresent(Platform& sys, const Text& path) {
    if (fileExists(sys, path)) sys.deleteFile(path);
}

// Lays boot1f32's jump and boot code over the volume's first sector.
bool layCloverBootCode(Platform& sys, const Text& root, Bytes& sector) {
    const Handle file = openShared(sys, root + Text(kCloverBootCode), win::GENERIC_READ);
    const MutableByteSpan bytes(sector);
    return file.valid() && readInto(sys, file, bytes.first(kJumpBytes)) &&
           moveTo(sys, file, kBootCodeStart) &&
           readInto(sys, file, bytes.subspan(kBootCodeStart, kBootCodeBytes));
}

bool saveCloverLegacy(Platform& sys, const Text& path, ByteSpan sector) {
    deleteIfPresent(sys, path);
    const Handle file = sys.createFile(path, win::GENERIC_READ | win::GENERIC_WRITE,
                                       win::FILE_SHARE_READ | win::FILE_SHARE_WRITE,
                                       win::CREATE_ALWAYS, win::FILE_ATTRIBUTE_NORMAL);
    return file.valid() && writeFrom(sys, file, sector.first(kBootSectorBytes));
}

// Replaces "\boot7" with a hidden copy of Clover's, provided "CloverLegacy" is in place.
bool copyHiddenBoot7(Platform& sys, const Text& root, const Text& cloverLegacy) {
    Text boot7 = root;  // appended: GCC 12 -O3 warns falsely about root + Text(kBoot7) on i686
    boot7 += kBoot7;
    deleteIfPresent(sys, boot7);
    if (!fileExists(sys, cloverLegacy) || !sys.copyFile(root + Text(kBoot7Source), boot7, false))
        return false;
    sys.setFileAttributes(boot7, win::FILE_ATTRIBUTE_HIDDEN);
    return true;
}

}  // namespace

bool InstallCloverLegacy(Platform& sys, const Text& volume, std::int32_t bytesPerSector) {
    if (bytesPerSector < static_cast<std::int32_t>(kBootSectorBytes)) return false;
    const Handle device =
        openShared(sys, u"\\\\.\\" + volume, win::GENERIC_READ | win::GENERIC_WRITE);
    if (!device.valid()) return false;

    Bytes sector(static_cast<std::size_t>(bytesPerSector));
    const Text root = fileRoot(volume);
    const Text cloverLegacy = root + Text(kCloverLegacy);
    deleteIfPresent(sys, cloverLegacy);
    if (!readInto(sys, device, sector) || !layCloverBootCode(sys, root, sector) ||
        !saveCloverLegacy(sys, cloverLegacy, sector) || !copyHiddenBoot7(sys, root, cloverLegacy))
        return false;

    // The first sector last; Grub2 can start Clover through the saved copy even when this fails.
    if (moveTo(sys, device, 0)) writeFrom(sys, device, sector);
    return true;
}

}  // namespace qel
