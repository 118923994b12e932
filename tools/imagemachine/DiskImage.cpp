#include "DiskImage.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "disk/Records.h"

namespace qel::image {

using records::readU32;
using records::readU64;

DiskImage::DiskImage(std::string path) : path_(std::move(path)) {
    fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0)
        throw std::runtime_error("cannot open " + path_ +
                                 " for reading and writing: " + std::strerror(errno));
    struct stat st {};
    blockDevice_ = ::fstat(fd_, &st) == 0 && S_ISBLK(st.st_mode);
}

DiskImage::~DiskImage() {
    if (fd_ >= 0) ::close(fd_);
}

std::int64_t DiskImage::size() const {
    if (blockDevice_) {
        std::uint64_t bytes = 0;
        return ::ioctl(fd_, BLKGETSIZE64, &bytes) == 0 ? static_cast<std::int64_t>(bytes) : 0;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return 0;
    return st.st_size;
}

bool DiskImage::sync() {
    return ::fsync(fd_) == 0;
}

bool DiskImage::read(std::int64_t offset, MutableByteSpan buffer) const {
    if (offset < 0 || offset + static_cast<std::int64_t>(buffer.size()) > size()) return false;
    std::size_t done = 0;
    while (done < buffer.size()) {
        const auto n = ::pread(fd_, buffer.data() + done, buffer.size() - done,
                               offset + static_cast<std::int64_t>(done));
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool DiskImage::write(std::int64_t offset, ByteSpan data) {
    if (offset < 0 || offset + static_cast<std::int64_t>(data.size()) > size()) return false;
    std::size_t done = 0;
    while (done < data.size()) {
        const auto n = ::pwrite(fd_, data.data() + done, data.size() - done,
                                offset + static_cast<std::int64_t>(done));
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

namespace {

constexpr std::size_t kTableStart = 446;
constexpr std::uint8_t kProtectiveType = 0xEE;

void readGptEntries(const DiskImage& disk, PartitionTable& table) {
    std::array<std::uint8_t, kSectorSize> header{};
    if (!disk.read(kSectorSize, header)) return;
    if (std::string(header.begin(), header.begin() + 8) != "EFI PART") return;
    const std::uint64_t entriesLba = readU64(header, 72);
    const std::uint32_t count = readU32(header, 80);
    const std::uint32_t entrySize = readU32(header, 84);
    if (entrySize < 128 || count > 1024) return;
    Bytes entries(static_cast<std::size_t>(count) * entrySize);
    if (!disk.read(static_cast<std::int64_t>(entriesLba * kSectorSize), entries)) return;
    for (std::uint32_t i = 0; i < count; ++i) {
        const ByteSpan entry(entries.data() + static_cast<std::size_t>(i) * entrySize, entrySize);
        bool used = false;
        for (std::size_t b = 0; b < 16; ++b) used = used || entry[b] != 0;
        if (!used) continue;
        const std::uint64_t first = readU64(entry, 32);
        const std::uint64_t last = readU64(entry, 40);
        Partition p;
        p.slot = static_cast<int>(i);
        p.offset = static_cast<std::int64_t>(first * kSectorSize);
        p.length = static_cast<std::int64_t>((last - first + 1) * kSectorSize);
        p.hiddenSectors = static_cast<std::uint32_t>(first);
        table.partitions.push_back(p);
    }
}

}  // namespace

PartitionTable DiskImage::readTable() const {
    PartitionTable table;
    std::array<std::uint8_t, kSectorSize> mbr{};
    if (!read(0, mbr) || mbr[510] != 0x55 || mbr[511] != 0xAA) return table;
    table.style = PartitionStyle::Mbr;
    table.signature = readU32(mbr, 0x1B8);
    if (mbr[kTableStart + 4] == kProtectiveType) {
        table.style = PartitionStyle::Gpt;
        readGptEntries(*this, table);
        return table;
    }
    for (int slot = 0; slot < 4; ++slot) {
        const ByteSpan entry(mbr.data() + kTableStart + static_cast<std::size_t>(slot) * 16, 16);
        if (entry[4] == 0) continue;
        Partition p;
        p.slot = slot;
        p.type = entry[4];
        p.active = entry[0] == 0x80;
        p.hiddenSectors = readU32(entry, 8);
        p.offset = static_cast<std::int64_t>(readU32(entry, 8)) * kSectorSize;
        p.length = static_cast<std::int64_t>(readU32(entry, 12)) * kSectorSize;
        table.partitions.push_back(p);
    }
    return table;
}

namespace {

void encodeChs(MutableByteSpan at, std::uint32_t lba) {
    constexpr std::uint32_t kPerCylinder = kHeads * kSectorsPerTrack;
    const std::uint32_t cylinder = lba / kPerCylinder;
    if (cylinder > 1023) {
        at[0] = 0xFE;
        at[1] = 0xFF;
        at[2] = 0xFF;
        return;
    }
    const std::uint32_t head = (lba % kPerCylinder) / kSectorsPerTrack;
    const std::uint32_t sector = lba % kSectorsPerTrack + 1;
    at[0] = static_cast<std::uint8_t>(head);
    at[1] = static_cast<std::uint8_t>(sector | ((cylinder >> 2) & 0xC0));
    at[2] = static_cast<std::uint8_t>(cylinder & 0xFF);
}

}  // namespace

void encodeMbrEntry(MutableByteSpan entry, std::uint8_t type, bool active, std::uint32_t firstLba,
                    std::uint32_t sectors) {
    std::fill(entry.begin(), entry.begin() + 16, 0);
    if (type == 0) return;
    entry[0] = active ? 0x80 : 0x00;
    encodeChs(entry.subspan(1, 3), firstLba);
    entry[4] = type;
    encodeChs(entry.subspan(5, 3), firstLba + sectors - 1);
    records::writeU32(entry, 8, firstLba);
    records::writeU32(entry, 12, sectors);
}

}  // namespace qel::image
