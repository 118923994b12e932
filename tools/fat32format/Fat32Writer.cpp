#include "Fat32Writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

namespace qel::fat32 {

namespace {

constexpr std::size_t kBurstBytes = 4u << 20;  // a multiple of every sector size

constexpr std::uint32_t kFsInfoLeadSignature = 0x41615252;
constexpr std::uint32_t kFsInfoStructSignature = 0x61417272;
constexpr std::uint32_t kFsInfoTrailSignature = 0xAA550000;
constexpr std::uint32_t kEndOfChain = 0x0FFFFFFF;

constexpr std::size_t kBootCodeOffset = 0x5A;
// Real-mode code run when a machine tries to start from the volume: prints the message that
// follows it through the video BIOS, waits for a key and asks the BIOS to try the next device.
// Bytes 6 and 7 take the message's address (the sector is loaded at 0x7C00).
constexpr std::array<std::uint8_t, 32> kBootCode = {
    0xFC,              // cld
    0x31, 0xC0,        // xor ax, ax
    0x8E, 0xD8,        // mov ds, ax
    0xBE, 0x00, 0x00,  // mov si, message
    0xAC,              // next: lodsb
    0x84, 0xC0,        // test al, al
    0x74, 0x0B,        // jz wait
    0x56,              // push si
    0xB4, 0x0E,        // mov ah, 0x0E
    0xBB, 0x07, 0x00,  // mov bx, 0x0007
    0xCD, 0x10,        // int 0x10
    0x5E,              // pop si
    0xEB, 0xF0,        // jmp next
    0x31, 0xC0,        // wait: xor ax, ax
    0xCD, 0x16,        // int 0x16
    0xCD, 0x19,        // int 0x19
    0xEB, 0xFE,        // jmp $
};
constexpr std::size_t kMessageAddressAt = 6;
constexpr std::string_view kBootMessage =
    "\r\nThis volume has no operating system to start.\r\n"
    "Remove it and press any key to try again.\r\n";

void put16(SectorBytes& bytes, std::size_t at, std::uint32_t value) {
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void putText(SectorBytes& bytes, std::size_t at, std::string_view text) {
    std::memcpy(bytes.data() + at, text.data(), text.size());
}

void putBootCode(SectorBytes& sector) {
    std::copy(kBootCode.begin(), kBootCode.end(), sector.begin() + kBootCodeOffset);
    const std::size_t messageAt = kBootCodeOffset + kBootCode.size();
    put16(sector, kBootCodeOffset + kMessageAddressAt,
          static_cast<std::uint32_t>(0x7C00 + messageAt));
    putText(sector, messageAt, kBootMessage);
}

// The first three entries of a table: the media byte, the clean-shutdown marks, and the root
// directory's one-cluster chain.
void putTableHead(std::span<std::uint8_t> bytes) {
    put32(bytes, 0, 0x0FFFFF00u | kMediaFixed);
    put32(bytes, 4, kEndOfChain);
    put32(bytes, 8, kEndOfChain);
}

}  // namespace

ClockReading readClock(std::chrono::system_clock::time_point moment) {
    using namespace std::chrono;
    const auto day = floor<days>(moment);
    const year_month_day date{day};
    const hh_mm_ss time{floor<milliseconds>(moment - day)};
    return ClockReading{static_cast<int>(date.year()),
                        static_cast<int>(static_cast<unsigned>(date.month())),
                        static_cast<int>(static_cast<unsigned>(date.day())),
                        static_cast<int>(time.hours().count()),
                        static_cast<int>(time.minutes().count()),
                        static_cast<int>(time.seconds().count()),
                        static_cast<int>(time.subseconds().count() / 10)};
}

std::uint32_t volumeSerial(const ClockReading& c) {
    const auto low =
        static_cast<std::uint32_t>(((c.month << 8) | c.day) + ((c.second << 8) | c.hundredths));
    const auto high = static_cast<std::uint32_t>(((c.hour << 8) | c.minute) + c.year);
    return (high << 16) | (low & 0xFFFF);
}

SectorBytes bootSector(const Layout& layout, std::uint32_t serial) {
    SectorBytes s(layout.bytesPerSector, 0);
    s[0] = 0xEB;  // jump over the parameter block to the boot code
    s[1] = kBootCodeOffset - 2;
    s[2] = 0x90;
    putText(s, 3, "QELF32  ");
    put16(s, 11, layout.bytesPerSector);
    s[13] = static_cast<std::uint8_t>(layout.sectorsPerCluster);
    put16(s, 14, kReservedSectors);
    s[16] = kFatCount;
    // Root entry count, 16-bit sector count and 16-bit table size stay 0 on FAT32.
    s[21] = kMediaFixed;
    put16(s, 24, layout.sectorsPerTrack);
    put16(s, 26, layout.heads);
    put32(s, 28, layout.hiddenSectors);
    put32(s, 32, layout.totalSectors);
    put32(s, 36, layout.fatSectors);
    // Flags 0 (both tables kept alike) and version 0.0.
    put32(s, 44, kRootCluster);
    put16(s, 48, kFsInfoSector);
    put16(s, 50, kBackupBootSector);
    s[64] = 0x80;  // drive number of a hard disk
    s[66] = 0x29;  // the serial, label and type fields follow
    put32(s, 67, serial);
    putText(s, 71, "NO NAME    ");
    putText(s, 82, "FAT32   ");
    putBootCode(s);
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

SectorBytes fsInfoSector(const Layout& layout) {
    SectorBytes s(layout.bytesPerSector, 0);
    put32(s, 0, kFsInfoLeadSignature);
    put32(s, 484, kFsInfoStructSignature);
    put32(s, 488, freeClusters(layout));
    put32(s, 492, kRootCluster + 1);  // the first free cluster
    put32(s, 508, kFsInfoTrailSignature);
    return s;
}

SectorBytes reservedArea(const Layout& layout, std::uint32_t serial) {
    const std::size_t sector = layout.bytesPerSector;
    SectorBytes area(kReservedSectors * sector, 0);
    const SectorBytes boot = bootSector(layout, serial);
    const SectorBytes info = fsInfoSector(layout);
    for (const std::uint32_t first : {0u, kBackupBootSector}) {
        std::copy(boot.begin(), boot.end(), area.begin() + first * sector);
        std::copy(info.begin(), info.end(), area.begin() + (first + kFsInfoSector) * sector);
    }
    return area;
}

void writeFileSystem(SectorWriter& volume, const Layout& layout, std::uint32_t serial) {
    volume.write(0, SectorBytes(layout.bytesPerSector, 0));

    // Both tables and the root directory lie back to back: zeros in bursts, with each table's
    // head patched into the burst that holds it.
    const std::uint64_t start = layout.fatOffset(0);
    const std::uint64_t end = start + layout.tablesAndRootBytes();
    SectorBytes burst(static_cast<std::size_t>(std::min<std::uint64_t>(kBurstBytes, end - start)));
    for (std::uint64_t at = start; at < end; at += burst.size()) {
        const auto length =
            static_cast<std::size_t>(std::min<std::uint64_t>(burst.size(), end - at));
        const std::span<std::uint8_t> chunk(burst.data(), length);
        std::fill(chunk.begin(), chunk.end(), 0);
        for (std::uint32_t copy = 0; copy < kFatCount; ++copy) {
            const std::uint64_t head = layout.fatOffset(copy);
            if (head >= at && head < at + length) putTableHead(chunk.subspan(head - at));
        }
        volume.write(at, chunk);
    }

    volume.write(0, reservedArea(layout, serial));
}

}  // namespace qel::fat32
