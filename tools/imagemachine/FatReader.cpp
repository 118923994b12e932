#include "FatReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>

#include "disk/Records.h"

namespace qel::image {

using records::readU32;

namespace {

constexpr std::size_t kEntrySize = 32;
constexpr std::uint8_t kLongNameEntry = 0x0F;
constexpr std::uint8_t kVolumeLabel = 0x08;
constexpr std::uint8_t kDirectoryBit = 0x10;
constexpr std::uint8_t kKeptAttributes = 0x01 | 0x02 | 0x04 | 0x20;  // R, H, S, A
constexpr int kDeepestFolder = 64;

std::uint16_t u16(ByteSpan b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

bool isPowerOfTwo(std::uint32_t v) {
    return v != 0 && (v & (v - 1)) == 0;
}

void appendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The short name as displayed: blanks dropped, lower case where the entry's case bits ask.
std::string shortName(ByteSpan entry) {
    const auto part = [&](std::size_t from, std::size_t count, bool lowerCase) {
        std::string text;
        for (std::size_t i = from; i < from + count; ++i) {
            std::uint8_t c = entry[i];
            if (i == 0 && c == 0x05) c = 0xE5;
            if (lowerCase && c >= 'A' && c <= 'Z') c = static_cast<std::uint8_t>(c - 'A' + 'a');
            appendUtf8(text, c);
        }
        while (!text.empty() && text.back() == ' ') text.pop_back();
        return text;
    };
    const std::string base = part(0, 8, entry[12] & 0x08);
    const std::string extension = part(8, 3, entry[12] & 0x10);
    return extension.empty() ? base : base + "." + extension;
}

std::uint8_t shortNameChecksum(ByteSpan entry) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < 11; ++i)
        sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + entry[i]);
    return sum;
}

// The run of long-name entries in front of a short entry, gathered in disk order.
struct LongName {
    std::vector<std::uint16_t> units;  // 13 per entry, in name order once complete
    int expected = 0;                  // the sequence number the next entry must carry
    std::uint8_t checksum = 0;

    void reset() { expected = 0, units.clear(); }
    void add(ByteSpan entry) {
        const int sequence = entry[0] & 0x1F;
        if (entry[0] & 0x40) {
            units.assign(static_cast<std::size_t>(sequence) * 13, 0xFFFF);
            expected = sequence;
            checksum = entry[13];
        }
        if (sequence == 0 || sequence != expected || entry[13] != checksum) return reset();
        static constexpr std::array<std::size_t, 13> kAt = {1,  3,  5,  7,  9,  14, 16,
                                                            18, 20, 22, 24, 28, 30};
        for (std::size_t i = 0; i < 13; ++i)
            units[static_cast<std::size_t>(sequence - 1) * 13 + i] = u16(entry, kAt[i]);
        --expected;
    }
    std::optional<std::string> nameFor(ByteSpan shortEntry) const {
        if (units.empty() || expected != 0 || shortNameChecksum(shortEntry) != checksum)
            return std::nullopt;
        std::string name;
        for (const auto unit : units) {
            if (unit == 0x0000 || unit == 0xFFFF) break;
            appendUtf8(name, unit);
        }
        return name;
    }
};

}  // namespace

std::optional<FatReader> FatReader::open(const std::string& imagePath, std::int64_t offset) {
    const int fd = ::open(imagePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    FatReader reader;
    reader.fd_ = std::shared_ptr<int>(new int(fd), [](int* p) {
        ::close(*p);
        delete p;
    });
    reader.offset_ = offset;
    std::array<std::uint8_t, 512> s{};
    if (!reader.readAt(0, s) || s[510] != 0x55 || s[511] != 0xAA) return std::nullopt;
    const std::uint32_t sectorBytes = u16(s, 11);
    const std::uint32_t perCluster = s[13];
    const std::uint32_t reserved = u16(s, 14);
    const std::uint32_t fats = s[16];
    const std::uint32_t rootEntries = u16(s, 17);
    const std::uint64_t total = u16(s, 19) != 0 ? u16(s, 19) : readU32(s, 32);
    const std::uint64_t perFat = u16(s, 22) != 0 ? u16(s, 22) : readU32(s, 36);
    if (sectorBytes < 512 || sectorBytes > 4096 || !isPowerOfTwo(sectorBytes) ||
        !isPowerOfTwo(perCluster) || reserved == 0 || fats == 0 || perFat == 0)
        return std::nullopt;
    const std::uint64_t rootSectors = (rootEntries * 32ull + sectorBytes - 1) / sectorBytes;
    const std::uint64_t meta = reserved + fats * perFat + rootSectors;
    if (total <= meta) return std::nullopt;
    reader.clusters_ = static_cast<std::uint32_t>((total - meta) / perCluster);
    reader.fatBits_ = reader.clusters_ < 4085 ? 12 : reader.clusters_ < 65525 ? 16 : 32;
    if ((reader.fatBits_ == 32) != (u16(s, 22) == 0)) return std::nullopt;
    reader.clusterBytes_ = sectorBytes * perCluster;
    reader.rootOffset_ = static_cast<std::int64_t>((reserved + fats * perFat) * sectorBytes);
    reader.rootBytes_ = static_cast<std::uint32_t>(rootSectors * sectorBytes);
    reader.rootCluster_ = reader.fatBits_ == 32 ? readU32(s, 44) : 0;
    reader.dataOffset_ = static_cast<std::int64_t>(meta * sectorBytes);
    reader.fat_.resize(static_cast<std::size_t>(perFat * sectorBytes));
    if (!reader.readAt(static_cast<std::int64_t>(reserved) * sectorBytes, reader.fat_))
        return std::nullopt;
    return reader;
}

bool FatReader::readAt(std::int64_t offset, MutableByteSpan buffer) const {
    std::size_t done = 0;
    while (done < buffer.size()) {
        const auto n = ::pread(*fd_, buffer.data() + done, buffer.size() - done,
                               offset_ + offset + static_cast<std::int64_t>(done));
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The FAT's entry for a cluster; 0xFFFFFFFF past the table's end.
std::uint32_t FatReader::entry(std::uint32_t cluster) const {
    if (fatBits_ == 12) {
        const std::size_t at = cluster + cluster / 2;
        if (at + 1 >= fat_.size()) return 0xFFFFFFFF;
        const std::uint32_t pair = fat_[at] | (fat_[at + 1] << 8);
        return cluster & 1 ? pair >> 4 : pair & 0xFFF;
    }
    if (fatBits_ == 16)
        return cluster * 2ull + 1 < fat_.size() ? u16(fat_, cluster * 2) : 0xFFFFFFFF;
    return cluster * 4ull + 3 < fat_.size() ? readU32(fat_, cluster * 4) & 0x0FFFFFFF : 0xFFFFFFFF;
}

// The cluster after one in its chain; 0 at the chain's end or on a value outside the volume.
std::uint32_t FatReader::next(std::uint32_t cluster) const {
    const std::uint32_t value = entry(cluster);
    return value >= 2 && value < clusters_ + 2 ? value : 0;
}

std::vector<std::uint32_t> FatReader::chain(std::uint32_t first) const {
    std::vector<std::uint32_t> out;
    for (std::uint32_t c = first; c >= 2 && c < clusters_ + 2 && out.size() < clusters_;
         c = next(c))
        out.push_back(c);
    return out;
}

bool FatReader::chainIntact(const FatNode& node) const {
    if (node.written) return true;
    // No cluster: a folder not on the volume yet, the fixed root folder, or an empty file.
    if (node.firstCluster == 0) return node.directory || node.size == 0;
    const std::uint32_t endMark = fatBits_ == 12 ? 0xFF8 : fatBits_ == 16 ? 0xFFF8 : 0x0FFFFFF8;
    std::uint64_t links = 0;
    for (std::uint32_t c = node.firstCluster;;) {
        if (c < 2 || c >= clusters_ + 2 || ++links > clusters_) return false;
        const std::uint32_t value = entry(c);
        if (value >= endMark && value != 0xFFFFFFFF) break;  // 0xFFFFFFFF: past the table
        c = value;
    }
    return node.directory || links * clusterBytes_ >= node.size;
}

std::int64_t FatReader::clusterOffset(std::uint32_t cluster) const {
    return dataOffset_ + static_cast<std::int64_t>(cluster - 2) * clusterBytes_;
}

std::uint64_t FatReader::freeClusters() const {
    std::uint64_t free = 0;
    if (fatBits_ == 32) {  // the common case, without a call per cluster
        const std::size_t end = std::min<std::size_t>(clusters_ + 2ull, fat_.size() / 4);
        const std::uint8_t* at = fat_.data();
        for (std::size_t c = 2; c < end; ++c)
            free += (at[c * 4] | at[c * 4 + 1] | at[c * 4 + 2] | (at[c * 4 + 3] & 0x0F)) == 0;
        return free;
    }
    for (std::uint32_t c = 2; c < clusters_ + 2; ++c) free += entry(c) == 0 ? 1 : 0;
    return free;
}

std::optional<Bytes> FatReader::folderBytes(std::uint32_t firstCluster) const {
    if (firstCluster == 0) {
        if (fatBits_ == 32) return std::nullopt;
        Bytes root(rootBytes_);
        if (!readAt(rootOffset_, root)) return std::nullopt;
        return root;
    }
    const auto clusters = chain(firstCluster);
    Bytes bytes(clusters.size() * clusterBytes_);
    for (std::size_t i = 0; i < clusters.size(); ++i)
        if (!readAt(clusterOffset(clusters[i]),
                    MutableByteSpan(bytes.data() + i * clusterBytes_, clusterBytes_)))
            return std::nullopt;
    return bytes;
}

bool FatReader::readFolder(FatNode& folder, int depth) const {
    if (depth > kDeepestFolder) return false;
    const auto bytes = folderBytes(folder.firstCluster);
    if (!bytes) return false;
    LongName longName;
    for (std::size_t at = 0; at + kEntrySize <= bytes->size(); at += kEntrySize) {
        const ByteSpan raw(bytes->data() + at, kEntrySize);
        if (raw[0] == 0x00) break;
        const std::uint8_t attributes = raw[11];
        if (raw[0] == 0xE5) {
            longName.reset();
        } else if (attributes == kLongNameEntry) {
            longName.add(raw);
        } else if (attributes & kVolumeLabel) {
            longName.reset();
        } else {
            FatNode node;
            node.name = longName.nameFor(raw).value_or(shortName(raw));
            longName.reset();
            if (node.name == "." || node.name == "..") continue;
            node.directory = attributes & kDirectoryBit;
            node.attributes = (attributes & kKeptAttributes) | (node.directory ? kDirectoryBit : 0);
            node.size = node.directory ? 0 : readU32(raw, 28);
            node.firstCluster = u16(raw, 26) | (fatBits_ == 32 ? u16(raw, 20) << 16 : 0);
            if (node.directory && (node.firstCluster < 2 || !readFolder(node, depth + 1)))
                return false;
            folder.children.push_back(std::move(node));
        }
    }
    return true;
}

std::optional<FatNode> FatReader::tree() const {
    FatNode root;
    root.directory = true;
    root.attributes = kDirectoryBit;
    root.firstCluster = rootCluster_;
    if (!readFolder(root, 0)) return std::nullopt;
    return root;
}

std::optional<Bytes> FatReader::content(const FatNode& file) const {
    if (file.written) return *file.written;
    Bytes bytes(static_cast<std::size_t>(file.size));
    if (file.size == 0) return bytes;
    const auto clusters = chain(file.firstCluster);
    if (clusters.size() * clusterBytes_ < file.size) return std::nullopt;
    for (std::size_t i = 0; i * clusterBytes_ < file.size; ++i) {
        const std::size_t from = i * clusterBytes_;
        const std::size_t count = std::min<std::size_t>(clusterBytes_, file.size - from);
        if (!readAt(clusterOffset(clusters[i]), MutableByteSpan(bytes.data() + from, count)))
            return std::nullopt;
    }
    return bytes;
}

}  // namespace qel::image
