// The disk image file behind the image machine's removable disk, or a block device such as a
// real stick: byte access and its partition table as Windows' partition manager reads and
// writes it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qel::image {

inline constexpr std::uint32_t kSectorSize = 512;
inline constexpr std::uint32_t kHeads = 255;
inline constexpr std::uint32_t kSectorsPerTrack = 63;

enum class PartitionStyle : std::uint32_t { Mbr = 0, Gpt = 1, Raw = 2 };

struct Partition {
    int slot = 0;  // 0-3 in the MBR table, or the index of a GPT entry
    std::int64_t offset = 0;
    std::int64_t length = 0;
    std::uint8_t type = 0;  // MBR partition type; 0 on GPT disks
    bool active = false;
    std::uint32_t hiddenSectors = 0;
};

struct PartitionTable {
    PartitionStyle style = PartitionStyle::Raw;
    std::uint32_t signature = 0;        // MBR disk signature
    std::vector<Partition> partitions;  // in table order, empty slots left out
};

class DiskImage {
public:
    explicit DiskImage(std::string path);
    ~DiskImage();
    DiskImage(const DiskImage&) = delete;
    DiskImage& operator=(const DiskImage&) = delete;

    const std::string& path() const { return path_; }
    std::int64_t size() const;  // a block device's length from the kernel
    bool isBlockDevice() const { return blockDevice_; }
    bool sync();  // waits until what was written to it has reached the device
    bool read(std::int64_t offset, MutableByteSpan buffer) const;
    bool write(std::int64_t offset, ByteSpan data);

    // Reads the table from sector 0 (and the GPT behind it when sector 0 is protective).
    PartitionTable readTable() const;

private:
    std::string path_;
    int fd_ = -1;
    bool blockDevice_ = false;
};

// Encodes one MBR entry (16 bytes) with its CHS fields computed from 255 heads and 63 sectors
// per track, as Windows writes them (0xFE 0xFF 0xFF beyond cylinder 1023).
void encodeMbrEntry(MutableByteSpan entry, std::uint8_t type, bool active, std::uint32_t firstLba,
                    std::uint32_t sectors);

}  // namespace qel::image
