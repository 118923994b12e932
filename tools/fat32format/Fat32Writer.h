// The bytes of a new FAT32 file system and their writing: the boot sector and its FSInfo sector
// (each with a copy), both file allocation tables and the empty root directory. Nothing else of
// the volume is touched.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

#include "Fat32Layout.h"

namespace qel::fat32 {

using SectorBytes = std::vector<std::uint8_t>;

// The volume to write on. Offsets and lengths are whole sectors.
class SectorWriter {
public:
    virtual ~SectorWriter() = default;
    // Writes the bytes at the offset from the volume's start; raises qel::IoError when it cannot.
    virtual void write(std::uint64_t offset, std::span<const std::uint8_t> data) = 0;
};

// A moment of the clock as the serial number is made from it.
struct ClockReading {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int hundredths = 0;
};

ClockReading readClock(std::chrono::system_clock::time_point moment);

// The volume serial number made from date and time, so that two formats differ.
std::uint32_t volumeSerial(const ClockReading& clock);

// Free clusters of a new file system: all but the root directory's.
inline std::uint32_t freeClusters(const Layout& layout) {
    return layout.clusterCount - 1;
}

SectorBytes bootSector(const Layout& layout, std::uint32_t serial);
SectorBytes fsInfoSector(const Layout& layout);
// The reserved sectors as written: boot sector, FSInfo, and their copies from sector 6.
SectorBytes reservedArea(const Layout& layout, std::uint32_t serial);

// Writes the file system in large bursts. The old boot sector is cleared first and the new one
// written last, so that an interrupted format leaves no file system that looks whole.
void writeFileSystem(SectorWriter& volume, const Layout& layout, std::uint32_t serial);

}  // namespace qel::fat32
