#include "repartition/PartitionTable.h"

#include <atomic>
#include <chrono>
#include <random>

#include "disk/Records.h"

namespace qel {

namespace {

struct PartitionEntry {
    std::int64_t start = 0;
    std::int64_t length = 0;
    std::uint32_t hiddenSectors = 0;
    std::uint32_t number = 0;
    std::uint8_t type = 0;
    bool active = false;
};

void putEntry(Bytes& record, int slot, const PartitionEntry& entry) {
    namespace pi = records::partition_info;
    const std::size_t at =
        records::drive_layout::kEntries + static_cast<std::size_t>(slot) * pi::kSize;
    records::writeI64(record, at + pi::kStartingOffset, entry.start);
    records::writeI64(record, at + pi::kPartitionLength, entry.length);
    records::writeU32(record, at + pi::kHiddenSectors, entry.hiddenSectors);
    records::writeU32(record, at + pi::kPartitionNumber, entry.number);
    record[at + pi::kPartitionType] = entry.type;
    record[at + pi::kBootIndicator] = entry.active ? 1 : 0;
    record[at + pi::kRecognizedPartition] = 1;
    record[at + pi::kRewritePartition] = 1;
}

PartitionEntry partitionAt(std::int64_t start, std::int64_t length, std::uint32_t sectorsize,
                           std::uint32_t number, std::uint8_t type, bool active) {
    const auto hidden = static_cast<std::uint32_t>(start / static_cast<std::int64_t>(sectorsize));
    return PartitionEntry{start, length, hidden, number, type, active};
}

bool zeroFirstSector(Platform& sys, const Handle& handle, std::uint32_t sectorsize) {
    const Bytes zeros(sectorsize, 0);
    std::int64_t position = 0;
    if (!sys.setFilePointer(handle, 0, win::FILE_BEGIN, position)) return false;
    std::uint32_t written = 0;
    return sys.writeFile(handle, zeros, written) && written == sectorsize;
}

std::uint32_t hexValue(const Text& digits) {
    std::uint32_t value = 0;
    for (const char16_t c : digits)
        value = value * 16 + static_cast<std::uint32_t>(c <= u'9' ? c - u'0' : c - u'a' + 10);
    return value;
}

}  // namespace

Bytes NewLayoutRecord(std::int32_t layout, std::uint32_t sectorsize, std::int64_t disksize,
                      std::int64_t fat32size, std::uint32_t signature) {
    Bytes record(records::drive_layout::kSizeWithFourEntries, 0);
    records::writeU32(record, records::drive_layout::kPartitionCount, 4);
    records::writeU32(record, records::drive_layout::kSignature, signature);
    if (layout == 1) {
        putEntry(record, 0,
                 partitionAt(kMebibyte, disksize - kMebibyte, sectorsize, 1, kPartitionTypeFat32Lba,
                             true));
    } else {
        const std::int64_t fat32Start = disksize - fat32size;
        putEntry(record, 0,
                 partitionAt(kMebibyte, fat32Start - kMebibyte, sectorsize, 1, kPartitionTypeNtfs,
                             false));
        putEntry(record, 1,
                 partitionAt(fat32Start, fat32size, sectorsize, 2, kPartitionTypeFat32Lba, true));
    }
    return record;
}

bool WriteNewPartitionTable(Platform& sys, const Handle& handle, std::int32_t layout,
                            std::uint32_t sectorsize, std::int64_t disksize,
                            std::int64_t fat32size) {
    // The sector size is the zero block's length and the divisor of the hidden sectors.
    if (sectorsize == 0) return false;
    if (!zeroFirstSector(sys, handle, sectorsize)) return false;
    // Windows reads the empty table first and forgets the old partitions, so that none of them
    // lends its number to a new one of the same place and size (as a run cut off after its
    // temporary tables leaves one): the new partitions are numbered in table order, which the
    // formatting steps rely on. A failure here leaves only the numbering as it was.
    std::uint32_t returned = 0;
    sys.deviceIoControl(handle, win::IOCTL_DISK_UPDATE_PROPERTIES, {}, {}, returned);
    const std::uint32_t signature = hexValue(RandomText(sys, 8, kRandomHex));
    const Bytes record = NewLayoutRecord(layout, sectorsize, disksize, fat32size, signature);
    if (!sys.deviceIoControl(handle, win::IOCTL_DISK_SET_DRIVE_LAYOUT, record, {}, returned))
        return false;
    return sys.deviceIoControl(handle, win::IOCTL_DISK_UPDATE_PROPERTIES, {}, {}, returned);
}

Text RandomText(Platform& sys, int length, int kind) {
    static constexpr char16_t kLetters[] = u"abcdefghijklmnopqrstuvwxyz";
    static constexpr char16_t kDigits[] = u"0123456789";
    static constexpr char16_t kHex[] = u"abcdef0123456789";
    const TextView alphabet = kind == kRandomLetters  ? TextView(kLetters)
                              : kind == kRandomDigits ? TextView(kDigits)
                                                      : TextView(kHex);
    // Reseeded from the clock at every call; the call counter keeps two calls within one clock
    // tick from drawing the same text.
    static std::atomic<std::uint32_t> calls{0};
    const auto now = std::chrono::high_resolution_clock::now().time_since_epoch().count();
    std::seed_seq seed{static_cast<std::uint32_t>(now), static_cast<std::uint32_t>(now >> 32),
                       static_cast<std::uint32_t>(sys.tickCount()), ++calls};
    std::mt19937 generator(seed);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    Text text;
    do {
        text.push_back(alphabet[pick(generator)]);
    } while (static_cast<int>(text.size()) < length);
    return text;
}

}  // namespace qel
