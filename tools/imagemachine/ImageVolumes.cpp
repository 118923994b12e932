// The image machine's partitions, volumes, drives and mount points.

#include <sys/statvfs.h>

#include <algorithm>
#include <array>

#include "ImageMachine.h"
#include "MachineShared.h"
#include "disk/Records.h"

namespace qel::image {

using namespace machine;
using records::readU32;
using records::readU64;
using records::writeU32;
using records::writeU64;

namespace {

// ---- boot sectors --------------------------------------------------------------------------

std::uint16_t u16(ByteSpan b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

bool isPowerOfTwo(std::uint32_t v) {
    return v != 0 && (v & (v - 1)) == 0;
}

// The file system Windows would mount from a volume's first sector.
std::string fileSystemOfBootSector(ByteSpan s) {
    if (std::string(s.begin() + 3, s.begin() + 11) == "NTFS    ") return "NTFS";
    if (std::string(s.begin() + 3, s.begin() + 11) == "EXFAT   ") return "exFAT";
    if (s[510] != 0x55 || s[511] != 0xAA) return "";
    const bool sane =
        u16(s, 11) == kSectorSize && isPowerOfTwo(s[13]) && u16(s, 14) != 0 && s[16] != 0;
    if (!sane) return "";
    return u16(s, 22) == 0 ? "FAT32" : "FAT";
}

struct VolumeSize {
    std::uint64_t totalUnits = 0;
    std::uint64_t freeUnits = 0;
    std::uint32_t sectorsPerUnit = 0;
};

VolumeSize fatSize(const DiskImage& disk, std::int64_t offset, ByteSpan s) {
    VolumeSize size;
    size.sectorsPerUnit = s[13];
    const std::uint64_t total = u16(s, 19) != 0 ? u16(s, 19) : readU32(s, 32);
    const std::uint64_t perFat = u16(s, 22) != 0 ? u16(s, 22) : readU32(s, 36);
    const std::uint64_t rootSectors = (u16(s, 17) * 32ull + kSectorSize - 1) / kSectorSize;
    const std::uint64_t meta = u16(s, 14) + s[16] * perFat + rootSectors;
    if (total > meta) size.totalUnits = (total - meta) / size.sectorsPerUnit;
    if (u16(s, 22) == 0) {  // FAT32: the free count of the FSInfo sector
        std::array<std::uint8_t, kSectorSize> info{};
        if (disk.read(offset + u16(s, 48) * std::int64_t{kSectorSize}, info) &&
            readU32(info, 0) == 0x41615252 && readU32(info, 484) == 0x61417272 &&
            readU32(info, 488) != 0xFFFFFFFF)
            size.freeUnits = readU32(info, 488);
    }
    return size;
}

VolumeSize sizeOfVolume(const DiskImage& disk, const Partition& p, const std::string& fs) {
    std::array<std::uint8_t, kSectorSize> s{};
    if (!disk.read(p.offset, s)) return {};
    if (fs == "FAT32" || fs == "FAT") return fatSize(disk, p.offset, s);
    VolumeSize size;
    if (fs == "NTFS") {
        size.sectorsPerUnit = s[13] <= 0x80 ? s[13] : 1u << (256 - s[13]);
        if (size.sectorsPerUnit != 0) size.totalUnits = readU64(s, 40) / size.sectorsPerUnit;
    } else if (fs == "exFAT") {
        size.sectorsPerUnit = 1u << s[109];
        size.totalUnits = readU32(s, 92);
    }
    return size;
}

std::string trimmedLabel(ByteSpan field) {
    std::string label(field.begin(), field.end());
    while (!label.empty() && (label.back() == ' ' || label.back() == '\0')) label.pop_back();
    return label == "NO NAME" ? "" : label;
}

// The name of the removable disk's volume at a place (1 for the first partition listed). It
// depends on the disk and the place only, not on the disk signature or the partition's offset.
Text removableVolumeName(int place) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "Volume{a5e1d15c-%04x-4d51-8000-%012x}",
                  static_cast<unsigned>(kImageDiskNumber), static_cast<unsigned>(place));
    return ascii(buffer);
}

// Windows shows every partition of a removable disk as a volume from this build on; earlier
// builds show only the first partition the table lists.
constexpr std::uint32_t kFirstBuildWithRemovablePartitions = 15063;

bool holdsVolume(const Partition& p) {
    return p.type != 0x05 && p.type != 0x0F;  // extended partitions hold no volume
}

}  // namespace

// ---- partitions and volumes --------------------------------------------------------------------

// Re-reads the table as the partition manager and the mount manager do.
//
// Partition numbers: a partition that keeps its place and size keeps its number; a new one gets
// the first free number.
//
// Volumes: the image is a removable disk, and Windows names a removable disk's volumes by the
// disk and their place on it, not (as on fixed disks) by the disk signature and the partition's
// offset. So the stick's first volume keeps its name and its drive letter when the stick is
// given a new table, or when sector 0 is rewritten to list another partition: the
// name then leads to whichever partition the table lists first. Before build 15063 that first
// partition is the disk's only volume. A volume name never seen before gets the first free
// letter from E: on; a letter that was removed stays removed.
void ImageMachine::rescanPartitions() {
    releaseStores();
    table_ = disk_.readTable();
    std::map<std::pair<std::int64_t, std::int64_t>, int> numbers;
    std::set<int> used;
    for (const auto& p : table_.partitions) {
        const auto it = partitionNumbers_.find({p.offset, p.length});
        if (it != partitionNumbers_.end() && !used.count(it->second)) {
            numbers[{p.offset, p.length}] = it->second;
            used.insert(it->second);
        }
    }
    const bool everyPartition = options_.version.build >= kFirstBuildWithRemovablePartitions;
    volumes_.clear();
    for (const auto& p : table_.partitions) {
        if (!holdsVolume(p)) continue;
        auto& number = numbers[{p.offset, p.length}];
        if (number == 0) {
            number = 1;
            while (used.count(number)) ++number;
            used.insert(number);
        }
        if (everyPartition || volumes_.empty()) {
            const int place = static_cast<int>(volumes_.size()) + 1;
            volumes_.push_back({removableVolumeName(place), number, p});
        }
    }
    partitionNumbers_ = numbers;
    for (const auto& v : volumes_) {
        if (!seenVolumes_.insert(v.guid).second) continue;
        for (char letter = 'E'; letter <= 'Z'; ++letter)
            if (!letters_.count(letter)) {
                letters_[letter] = v.guid;
                break;
            }
    }
}

ImageVolume* ImageMachine::volumeByGuid(const Text& guid) {
    for (auto& v : volumes_)
        if (equalsIgnoreAsciiCase(v.guid, guid)) return &v;
    return nullptr;
}

ImageVolume* ImageMachine::volumeByLetter(char letter) {
    const auto it = letters_.find(letter);
    return it == letters_.end() ? nullptr : volumeByGuid(it->second);
}

std::optional<char> ImageMachine::letterOf(const Text& guid) const {
    for (const auto& [letter, name] : letters_)
        if (equalsIgnoreAsciiCase(name, guid)) {
            for (const auto& v : volumes_)
                if (equalsIgnoreAsciiCase(v.guid, guid)) return letter;
        }
    return std::nullopt;
}

ImageVolume* ImageMachine::volumeOfRoot(const Text& root) {
    Text name = root;
    if (startsWith(name, u"\\\\?\\") || startsWith(name, u"\\\\.\\")) name = name.substr(4);
    while (!name.empty() && name.back() == u'\\') name.pop_back();
    if (startsWith(name, u"Volume{")) return volumeByGuid(name);
    if (name.size() == 2 && name[1] == u':') return volumeByLetter(upperLetter(name[0]));
    return nullptr;
}

Text ImageMachine::fileSystemOf(const ImageVolume& volume) {
    std::array<std::uint8_t, kSectorSize> sector{};
    if (!disk_.read(volume.partition.offset, sector)) return {};
    return ascii(fileSystemOfBootSector(sector));
}

// A volume's store lasts while its name leads to the same file system on the same partition.
FileStore* ImageMachine::storeOf(const ImageVolume& volume) {
    const std::string fs = toUtf8(fileSystemOf(volume));
    const auto& p = volume.partition;
    const std::string identity =
        fs + "@" + std::to_string(p.offset) + "+" + std::to_string(p.length);
    auto& slot = stores_[volume.guid];
    if (slot.second && slot.first == identity) return slot.second.get();
    if (slot.second) releaseStore(*slot.second);
    slot.first = identity;
    std::unique_ptr<FileStore> store;
    if (fs == "FAT32" || fs == "FAT")
        store = std::make_unique<FatStore>(disk_.path(), p.offset);
    else if (fs == "NTFS")
        store = std::make_unique<NtfsStore>(disk_.path(), p.offset, p.length);
    slot.second.reset();
    if (store)
        slot.second = std::make_unique<PoweredStore>(std::move(store), power_,
                                                     volumeTarget(p.offset), p.offset, p.length);
    return slot.second.get();
}

// A store that cannot write back what it held back has lost files the run believes written;
// that is remembered for the run's end.
void ImageMachine::releaseStore(FileStore& store) {
    if (!store.flush()) lostWrites_ = true;
    store.release();
}

void ImageMachine::releaseStores() {
    for (auto& [guid, slot] : stores_)
        if (slot.second) releaseStore(*slot.second);
}

// A FAT store's changes never touch the volume's boot sector, so reading it, or writing one that
// keeps the file system's parameters (as boot-code installers do), leaves the store as it is.
bool ImageMachine::keepsFileSystem(const ImageVolume& volume, std::int64_t offset,
                                   std::int64_t length, std::optional<ByteSpan> written) {
    constexpr std::size_t kParametersEnd = 90;  // the BIOS parameter block of FAT12/16/32
    if (offset != volume.partition.offset || length != kSectorSize) return false;
    if (!written) return true;
    std::array<std::uint8_t, kSectorSize> now{};
    return disk_.read(offset, now) &&
           std::equal(now.begin() + 11, now.begin() + kParametersEnd, written->begin() + 11);
}

void ImageMachine::releaseStoresAt(std::int64_t offset, std::int64_t length,
                                   std::optional<ByteSpan> written) {
    for (auto& [guid, slot] : stores_) {
        if (!slot.second) continue;
        const ImageVolume* volume = volumeByGuid(guid);
        const bool apart =
            volume && (offset + length <= volume->partition.offset ||
                       offset >= volume->partition.offset + volume->partition.length);
        const bool fat = slot.first.rfind("FAT", 0) == 0;
        if (apart || (volume && fat && keepsFileSystem(*volume, offset, length, written))) continue;
        releaseStore(*slot.second);
    }
}

// On a real stick the run is over only when what every tool wrote has reached it.
bool ImageMachine::flushStores() {
    releaseStores();
    if (disk_.isBlockDevice() && !disk_.sync()) lostWrites_ = true;
    return !lostWrites_;
}

std::int32_t ImageMachine::queryVolumeSizeInformation(const Handle& handle,
                                                      MutableByteSpan output) {
    constexpr auto kUnsuccessful = static_cast<std::int32_t>(0xC0000001u);
    constexpr auto kUnrecognized = static_cast<std::int32_t>(0xC000014Fu);
    const auto it = handles_.find(handle.id());
    if (it == handles_.end() || it->second.kind != OpenHandle::Volume) return kUnsuccessful;
    auto* volume = volumeByGuid(it->second.guid);
    if (!volume || output.size() < records::fs_size_information::kSize) return kUnsuccessful;
    releaseStoresAt(volume->partition.offset, volume->partition.length);  // the free count
    const auto size = sizeOfVolume(disk_, volume->partition, toUtf8(fileSystemOf(*volume)));
    if (size.sectorsPerUnit == 0) return kUnrecognized;
    using namespace records::fs_size_information;
    writeU64(output, kTotalAllocationUnits, size.totalUnits);
    writeU64(output, kAvailableAllocationUnits, size.freeUnits);
    writeU32(output, kSectorsPerAllocationUnit, size.sectorsPerUnit);
    writeU32(output, kBytesPerSector, kSectorSize);
    return 0;
}

// ---- volumes and drives ----------------------------------------------------------------------

std::uint32_t ImageMachine::driveType(const Text& root) {
    if (root.size() < 2 || root[1] != u':') return win::DRIVE_NO_ROOT_DIR;
    const char letter = upperLetter(root[0]);
    if (letter == 'C') return win::DRIVE_FIXED;
    return volumeByLetter(letter) ? win::DRIVE_REMOVABLE : win::DRIVE_NO_ROOT_DIR;
}

std::optional<VolumeInformation> ImageMachine::volumeInformation(const Text& root) {
    if (root.size() >= 2 && upperLetter(root[0]) == 'C' && root[1] == u':')
        return VolumeInformation{u"", u"NTFS"};
    auto* volume = volumeOfRoot(root);
    if (!volume) return fail(kPathNotFound), std::nullopt;
    const Text fs = fileSystemOf(*volume);
    if (fs.empty()) return fail(kUnrecognizedVolume), std::nullopt;
    std::array<std::uint8_t, kSectorSize> s{};
    disk_.read(volume->partition.offset, s);
    std::string label;
    if (fs == u"FAT32") {
        label = trimmedLabel(ByteSpan(s).subspan(71, 11));
    } else if (fs == u"FAT") {
        label = trimmedLabel(ByteSpan(s).subspan(43, 11));
    } else if (fs == u"NTFS") {
        releaseStores();
        LoopDevice loop(disk_.path(), volume->partition.offset, volume->partition.length);
        if (loop.attached()) {
            auto result = runHost({"ntfslabel", "--force", loop.device()});
            if (result.exitCode == 0) {
                while (!result.output.empty() && result.output.back() == '\n')
                    result.output.pop_back();
                label = result.output;
            }
        }
    }
    return VolumeInformation{fromUtf8(label), fs};
}

std::optional<std::uint64_t> ImageMachine::diskTotalBytes(const Text& root) {
    if (root.size() >= 2 && upperLetter(root[0]) == 'C' && root[1] == u':') {
        struct statvfs st {};
        if (::statvfs(hostFolder_.c_str(), &st) != 0) return std::nullopt;
        return static_cast<std::uint64_t>(st.f_blocks) * st.f_frsize;
    }
    auto* volume = volumeOfRoot(root);
    if (!volume) return fail(kPathNotFound), std::nullopt;
    const auto size = sizeOfVolume(disk_, volume->partition, toUtf8(fileSystemOf(*volume)));
    if (size.sectorsPerUnit == 0) return fail(kUnrecognizedVolume), std::nullopt;
    return size.totalUnits * size.sectorsPerUnit * kSectorSize;
}

// ---- modules and the mount-point functions -----------------------------------------------------

ModuleId ImageMachine::moduleHandle(const Text& name) {
    if (equalsIgnoreAsciiCase(name, u"kernel32.dll") || equalsIgnoreAsciiCase(name, u"kernel32"))
        return kKernel32;
    fail(126);
    return 0;
}

ModuleId ImageMachine::loadLibrary(const Text& name) {
    return moduleHandle(name);
}

ProcAddress ImageMachine::procAddress(ModuleId module, const std::string& name) {
    const auto it = std::find(kKernel32Exports.begin(), kKernel32Exports.end(), name);
    if (module != kKernel32 || it == kKernel32Exports.end()) return fail(127), 0;
    return kProcBase + static_cast<ProcAddress>(it - kKernel32Exports.begin());
}

Text ImageMachine::systemMessage(std::uint32_t errorCode) {
    if (errorCode == 126) return u"The specified module could not be found.\r\n";
    if (errorCode == 127) return u"The specified procedure could not be found.\r\n";
    if (errorCode == kFileCorrupt) return u"The file or directory is corrupted and unreadable.\r\n";
    return u"Error " + decimal(errorCode) + u".\r\n";
}

bool ImageMachine::callIsWow64Process(ProcAddress fn, bool& wow64) {
    if (fn != procAddress(kKernel32, "IsWow64Process")) return false;
    wow64 = options_.wow64;
    return true;
}

namespace {

bool putVolumeName(const Text& guid, std::string& name, std::uint32_t bufferLength) {
    const std::string full = "\\\\?\\" + toUtf8(guid) + "\\";
    if (full.size() + 1 > bufferLength) return false;
    name = full;
    return true;
}

}  // namespace

FindVolumeId ImageMachine::callFindFirstVolumeA(ProcAddress, std::string& name,
                                                std::uint32_t bufferLength) {
    if (volumes_.empty()) return fail(18), 0;  // ERROR_NO_MORE_FILES
    if (!putVolumeName(volumes_[0].guid, name, bufferLength)) return fail(206), 0;
    const auto id = nextId_++;
    searches_[id] = 1;
    return id;
}

bool ImageMachine::callFindNextVolumeA(ProcAddress, FindVolumeId search, std::string& name,
                                       std::uint32_t bufferLength) {
    const auto it = searches_.find(search);
    if (it == searches_.end()) return fail(kInvalidHandle), false;
    if (it->second >= volumes_.size()) return fail(18), false;
    if (!putVolumeName(volumes_[it->second].guid, name, bufferLength)) return fail(206), false;
    ++it->second;
    return true;
}

bool ImageMachine::callFindVolumeClose(ProcAddress, FindVolumeId search) {
    return searches_.erase(search) != 0;
}

// Mount points are given as "X:\" and volumes as "\\?\Volume{…}\", trailing backslash included.
bool ImageMachine::callDeleteVolumeMountPointA(ProcAddress, const std::string& mountPoint) {
    if (mountPoint.size() != 3 || mountPoint[1] != ':' || mountPoint[2] != '\\')
        return fail(123), false;  // ERROR_INVALID_NAME
    const char letter = upperLetter(static_cast<char16_t>(mountPoint[0]));
    if (!volumeByLetter(letter)) return fail(kFileNotFound), false;
    letters_.erase(letter);
    return true;
}

bool ImageMachine::callSetVolumeMountPointA(ProcAddress, const std::string& mountPoint,
                                            const std::string& volumeName) {
    if (mountPoint.size() != 3 || mountPoint[1] != ':' || mountPoint[2] != '\\' ||
        volumeName.rfind("\\\\?\\Volume{", 0) != 0 || volumeName.back() != '\\')
        return fail(123), false;
    const char letter = upperLetter(static_cast<char16_t>(mountPoint[0]));
    if (driveType(ascii(mountPoint)) != win::DRIVE_NO_ROOT_DIR) return fail(85), false;
    auto* volume = volumeOfRoot(ascii(volumeName));
    if (!volume) return fail(kFileNotFound), false;
    letters_[letter] = volume->guid;
    return true;
}

}  // namespace qel::image
