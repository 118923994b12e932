// Syslinux's installer as the image machine runs it for the payload's syslinux.exe: the library
// of the carried installer (the boot sector's check and making, the loader's block map and
// patching) over the volume's FAT store, in-process, where the Windows program writes through
// the file system and reads the volume's sectors.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "DiskImage.h"

namespace qel::image {

struct SyslinuxInstall {
    bool installed = false;
    std::string problem;  // why not, in the installer's words where it has them
    // The volume's first sector with Syslinux's boot code merged in; the volume keeps its own,
    // as the installer does when it is given a boot-sector file.
    std::array<std::uint8_t, kSectorSize> bootSector{};
};

// Puts ldlinux.sys (patched with its own block map and the folder) and ldlinux.c32 into a folder
// of the FAT volume at a byte offset of the disk, read-only, hidden and system, as
// "syslinux -f -d <folder>" does; a folder the volume lacks leaves them in the root, as the
// installer's failed move does. The volume must hold no changes that its stores still keep.
SyslinuxInstall installSyslinux(DiskImage& disk, std::int64_t volumeOffset,
                                const std::string& folder);

}  // namespace qel::image
