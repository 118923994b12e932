// Clover's BIOS boot sector for a FAT32 volume: Clover's boot code merged with the volume's own
// parameter blocks, saved as "\EFI\CLOVER\CloverLegacy" for Grub2 to chain-load and written over
// the volume's first sector; Clover's "boot7" copied, hidden, to the volume's root.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace qel {

// volume is "E:" or "Volume{…}" (no prefix, no trailing backslash). True when "CloverLegacy"
// has been written and "\boot7" copied; the first sector is written last and its outcome does
// not change the result. False before any disk access when a sector cannot hold 512 bytes.
bool InstallCloverLegacy(Platform& sys, const Text& volume, std::int32_t bytesPerSector);

}  // namespace qel
