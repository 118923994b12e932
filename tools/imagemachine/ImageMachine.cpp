#include "ImageMachine.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "disk/Records.h"

namespace qel::image {

using records::readU32;
using records::readU64;
using records::writeU32;
using records::writeU64;

namespace {

// Windows error codes the machine reports through lastError.
constexpr std::uint32_t kFileNotFound = 2;
constexpr std::uint32_t kPathNotFound = 3;
constexpr std::uint32_t kAccessDenied = 5;
constexpr std::uint32_t kInvalidHandle = 6;
constexpr std::uint32_t kInvalidFunction = 1;
constexpr std::uint32_t kFileExists = 80;
constexpr std::uint32_t kInvalidParameter = 87;
constexpr std::uint32_t kInsufficientBuffer = 122;
constexpr std::uint32_t kUnrecognizedVolume = 1005;

constexpr ModuleId kKernel32 = 1;
constexpr ProcAddress kProcBase = 0x1000;
const std::vector<std::string> kKernel32Exports = {"IsWow64Process",
                                                   "FindFirstVolumeA",
                                                   "FindNextVolumeA",
                                                   "FindVolumeClose",
                                                   "FindFirstVolumeMountPointA",
                                                   "FindNextVolumeMountPointA",
                                                   "FindVolumeMountPointClose",
                                                   "GetVolumeNameForVolumeMountPointA",
                                                   "DeleteVolumeMountPointA",
                                                   "SetVolumeMountPointA"};

const Text kDiskEnumKey = u"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum";
const Text kImageDeviceId = u"USBSTOR\\Disk&Ven_QEL&Prod_Image_Disk&Rev_1.00\\0001&0";

bool startsWith(TextView text, TextView prefix) {
    return text.size() >= prefix.size() &&
           equalsIgnoreAsciiCase(text.substr(0, prefix.size()), prefix);
}

char upperLetter(char16_t c) {
    return static_cast<char>(c >= u'a' && c <= u'z' ? c - u'a' + u'A' : c);
}

bool wildcardMatch(TextView pattern, TextView name) {
    if (pattern.empty()) return name.empty();
    if (pattern[0] == u'*')
        return wildcardMatch(pattern.substr(1), name) ||
               (!name.empty() && wildcardMatch(pattern, name.substr(1)));
    if (name.empty()) return false;
    if (pattern[0] == u'?' || equalsIgnoreAsciiCase(pattern.substr(0, 1), name.substr(0, 1)))
        return wildcardMatch(pattern.substr(1), name.substr(1));
    return false;
}

// The control code's required access (bits 14-15): 1 read, 2 write.
std::uint32_t requiredAccess(std::uint32_t code) {
    return (code >> 14) & 3;
}

std::uint32_t rights(std::uint32_t access) {
    return ((access & win::GENERIC_READ) ? 1u : 0u) | ((access & win::GENERIC_WRITE) ? 2u : 0u);
}

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

// ---- set-up ----------------------------------------------------------------------------------

ImageMachine::ImageMachine(ImageMachineOptions options)
    : options_(std::move(options)),
      ownHostFolder_(options_.hostFolder.empty() ? std::make_unique<TemporaryFolder>("qel-drive-c-")
                                                 : nullptr),
      hostFolder_(ownHostFolder_ ? ownHostFolder_->path() : options_.hostFolder),
      disk_(options_.imagePath),
      hostDrive_(hostFolder_) {
    namespace fs = std::filesystem;
    for (const char* folder : {"Users/user/AppData/Local/Temp", "Windows/System32"})
        fs::create_directories(fs::path(hostFolder_) / folder);
    environment_[u"TEMP"] = u"C:\\Users\\user\\AppData\\Local\\Temp";
    environment_[u"TMP"] = environment_[u"TEMP"];
    environment_[u"SYSTEMDRIVE"] = u"C:";
    environment_[u"SYSTEMROOT"] = u"C:\\Windows";
    environment_[u"WINDIR"] = u"C:\\Windows";
    registryDwords_[asciiUpper(kDiskEnumKey)][u"Count"] = 1;
    registryStrings_[asciiUpper(kDiskEnumKey)][u"1"] = kImageDeviceId;
    const Text deviceKey = asciiUpper(u"SYSTEM\\CurrentControlSet\\Enum\\" + kImageDeviceId);
    registryStrings_[deviceKey][u"FriendlyName"] = u"QEL Image Disk USB Device";
    registryStrings_[deviceKey][u"DeviceDesc"] = u"Disk drive";
    registryDwords_[deviceKey + u"\\DEVICE PARAMETERS\\CLASSPNP"][u"UserRemovalPolicy"] = 3;
    rescanPartitions();
}

ImageMachine::~ImageMachine() {
    handles_.clear();
    releaseStores();
}

std::ostream& ImageMachine::log() {
    return options_.log ? *options_.log : std::clog;
}

void ImageMachine::say(const std::string& line) {
    if (options_.log) *options_.log << line << '\n' << std::flush;
}

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
    if (slot.second) slot.second->release();
    slot.first = identity;
    if (fs == "FAT32" || fs == "FAT")
        slot.second = std::make_unique<FatStore>(disk_.path(), p.offset);
    else if (fs == "NTFS")
        slot.second = std::make_unique<NtfsStore>(disk_.path(), p.offset, p.length);
    else
        slot.second.reset();
    return slot.second.get();
}

void ImageMachine::releaseStores() {
    for (auto& [guid, slot] : stores_)
        if (slot.second) slot.second->release();
}

// ---- paths -----------------------------------------------------------------------------------

std::optional<ImageMachine::Location> ImageMachine::locate(const Text& path) {
    Text p = path;
    std::replace(p.begin(), p.end(), u'/', u'\\');
    if (startsWith(p, u"\\\\?\\")) p = p.substr(4);
    FileStore* store = nullptr;
    Text rest;
    if (startsWith(p, u"Volume{")) {
        const auto close = p.find(u'}');
        if (close == Text::npos) return std::nullopt;
        auto* volume = volumeByGuid(p.substr(0, close + 1));
        if (volume) store = storeOf(*volume);
        rest = p.substr(close + 1);
    } else if (p.size() >= 2 && p[1] == u':') {
        const char letter = upperLetter(p[0]);
        if (letter == 'C') {
            store = &hostDrive_;
        } else if (auto* volume = volumeByLetter(letter)) {
            store = storeOf(*volume);
        }
        rest = p.substr(2);
    } else if (!p.empty() && p[0] == u'\\' && (p.size() < 2 || p[1] != u'\\')) {
        return locate(currentDirectory_.substr(0, 2) + p);
    } else if (!p.empty() && p[0] != u'\\') {
        return locate(currentDirectory_ + u"\\" + p);
    }
    if (!store) return std::nullopt;
    std::vector<std::string> names;
    for (std::size_t start = 0; start <= rest.size();) {
        auto end = rest.find(u'\\', start);
        if (end == Text::npos) end = rest.size();
        const std::string name = toUtf8(rest.substr(start, end - start));
        if (name == "..") {
            if (!names.empty()) names.pop_back();
        } else if (!name.empty() && name != ".") {
            names.push_back(name);
        }
        start = end + 1;
    }
    std::string joined;
    for (const auto& n : names) joined += (joined.empty() ? "" : "/") + n;
    return Location{store, joined};
}

std::string ImageMachine::hostPathOf(const Text& windowsPath) {
    const auto at = locate(windowsPath);
    if (!at || at->store != &hostDrive_) return {};
    return hostDrive_.hostPath(at->path);
}

// ---- files and devices -------------------------------------------------------------------------

Handle ImageMachine::newHandle(OpenHandle h) {
    const auto id = nextId_++;
    handles_[id] = std::move(h);
    return Handle(this, id);
}

Handle ImageMachine::openDevice(const Text& name, std::uint32_t access) {
    OpenHandle h;
    h.access = access;
    if (startsWith(name, u"PHYSICALDRIVE")) {
        if (name.substr(13) != decimal(kImageDiskNumber)) {
            fail(kFileNotFound);
            return {};
        }
        h.kind = OpenHandle::Disk;
        return newHandle(std::move(h));
    }
    auto* volume = volumeOfRoot(name);
    if (!volume || (name.size() > 2 && name[1] == u':')) {
        fail(kFileNotFound);
        return {};
    }
    h.kind = OpenHandle::Volume;
    h.guid = volume->guid;
    return newHandle(std::move(h));
}

Handle ImageMachine::createFile(const Text& path, std::uint32_t access, std::uint32_t,
                                std::uint32_t disposition, std::uint32_t attributes) {
    if (startsWith(path, u"\\\\.\\")) return openDevice(path.substr(4), access);
    const auto at = locate(path);
    if (!at) {
        fail(kPathNotFound);
        return {};
    }
    const auto [folder, name] = splitPath(at->path);
    const auto parent = at->store->stat(folder);
    if (!parent || !parent->directory || name.empty()) {
        fail(kPathNotFound);
        return {};
    }
    const auto existing = at->store->stat(at->path);
    if (existing && existing->directory) {
        fail(kAccessDenied);
        return {};
    }
    OpenHandle h;
    h.access = access;
    h.location = {at->store,
                  existing ? folder + (folder.empty() ? "" : "/") + existing->name : at->path};
    const bool truncate = disposition == win::CREATE_ALWAYS || disposition == 5;
    if (existing) {
        const auto a = existing->attributes;
        if (disposition == 1) return fail(kFileExists), Handle();
        if ((a & win::FILE_ATTRIBUTE_READONLY) && (truncate || (access & win::GENERIC_WRITE)))
            return fail(kAccessDenied), Handle();
        // Replacing a hidden or system file needs the same attributes in the request.
        if (disposition == win::CREATE_ALWAYS &&
            (((a & win::FILE_ATTRIBUTE_HIDDEN) && !(attributes & win::FILE_ATTRIBUTE_HIDDEN)) ||
             ((a & win::FILE_ATTRIBUTE_SYSTEM) && !(attributes & win::FILE_ATTRIBUTE_SYSTEM))))
            return fail(kAccessDenied), Handle();
        if (!truncate) {
            auto content = at->store->read(h.location.path);
            if (!content) return fail(kAccessDenied), Handle();
            h.content = std::move(*content);
        }
    } else if (disposition == win::OPEN_EXISTING || disposition == 5) {
        return fail(kFileNotFound), Handle();
    }
    if (truncate || !existing) {
        // The file exists from the moment it is created.
        if (!at->store->write(h.location.path, {})) return fail(kAccessDenied), Handle();
        h.createAttributes = attributes & (win::FILE_ATTRIBUTE_HIDDEN | win::FILE_ATTRIBUTE_SYSTEM |
                                           win::FILE_ATTRIBUTE_READONLY);
        if (h.createAttributes != 0) {
            at->store->setAttributes(h.location.path,
                                     h.createAttributes | win::FILE_ATTRIBUTE_ARCHIVE);
        }
    }
    return newHandle(std::move(h));
}

// Raw reads and writes go through whole sectors inside the device, as Windows demands.
bool ImageMachine::rawAccess(OpenHandle& h, std::int64_t length, std::int64_t& base,
                             std::int64_t& limit) {
    if (h.kind == OpenHandle::Disk) {
        base = 0;
        limit = disk_.size();
    } else {
        auto* volume = volumeByGuid(h.guid);
        if (!volume) return fail(kInvalidHandle), false;
        base = volume->partition.offset;
        limit = volume->partition.length;
    }
    if (h.position % kSectorSize != 0 || length % kSectorSize != 0)
        return fail(kInvalidParameter), false;
    if (h.position + length > limit) return fail(kInvalidParameter), false;
    releaseStores();
    return true;
}

bool ImageMachine::readFile(const Handle& handle, MutableByteSpan buffer,
                            std::uint32_t& bytesRead) {
    bytesRead = 0;
    const auto it = handles_.find(handle.id());
    if (it == handles_.end()) return fail(kInvalidHandle), false;
    auto& h = it->second;
    if (!(h.access & win::GENERIC_READ)) return fail(kAccessDenied), false;
    if (h.kind == OpenHandle::File) {
        const auto size = static_cast<std::int64_t>(h.content.size());
        const auto count = std::clamp<std::int64_t>(size - h.position, 0,
                                                    static_cast<std::int64_t>(buffer.size()));
        std::copy_n(h.content.begin() + std::min(h.position, size), count, buffer.begin());
        h.position += count;
        bytesRead = static_cast<std::uint32_t>(count);
        return true;
    }
    std::int64_t base = 0, limit = 0;
    if (!rawAccess(h, static_cast<std::int64_t>(buffer.size()), base, limit)) return false;
    if (!disk_.read(base + h.position, buffer)) return fail(kInvalidParameter), false;
    h.position += static_cast<std::int64_t>(buffer.size());
    bytesRead = static_cast<std::uint32_t>(buffer.size());
    return true;
}

bool ImageMachine::writeFile(const Handle& handle, ByteSpan data, std::uint32_t& bytesWritten) {
    bytesWritten = 0;
    const auto it = handles_.find(handle.id());
    if (it == handles_.end()) return fail(kInvalidHandle), false;
    auto& h = it->second;
    if (!(h.access & win::GENERIC_WRITE)) return fail(kAccessDenied), false;
    if (h.kind == OpenHandle::File) {
        const auto end = static_cast<std::size_t>(h.position) + data.size();
        if (h.content.size() < end) h.content.resize(end);
        std::copy(data.begin(), data.end(), h.content.begin() + h.position);
        h.dirty = true;
    } else {
        std::int64_t base = 0, limit = 0;
        if (!rawAccess(h, static_cast<std::int64_t>(data.size()), base, limit)) return false;
        if (!disk_.write(base + h.position, data)) return fail(kInvalidParameter), false;
    }
    h.position += static_cast<std::int64_t>(data.size());
    bytesWritten = static_cast<std::uint32_t>(data.size());
    return true;
}

bool ImageMachine::setFilePointer(const Handle& handle, std::int64_t distance, std::uint32_t method,
                                  std::int64_t& newPosition) {
    const auto it = handles_.find(handle.id());
    if (it == handles_.end()) return fail(kInvalidHandle), false;
    auto& h = it->second;
    std::int64_t end = 0;
    if (h.kind == OpenHandle::File) {
        end = static_cast<std::int64_t>(h.content.size());
    } else if (h.kind == OpenHandle::Disk) {
        end = disk_.size();
    } else if (auto* volume = volumeByGuid(h.guid)) {
        end = volume->partition.length;
    }
    const std::int64_t base = method == win::FILE_BEGIN     ? 0
                              : method == win::FILE_CURRENT ? h.position
                                                            : end;
    if (method > win::FILE_END || base + distance < 0) return fail(kInvalidParameter), false;
    h.position = base + distance;
    newPosition = h.position;
    return true;
}

void ImageMachine::closeHandle(std::uintptr_t id) {
    const auto it = handles_.find(id);
    if (it == handles_.end()) return;
    auto& h = it->second;
    if (h.kind == OpenHandle::File && h.dirty) {
        if (h.location.store->write(h.location.path, h.content) && h.createAttributes != 0)
            h.location.store->setAttributes(h.location.path,
                                            h.createAttributes | win::FILE_ATTRIBUTE_ARCHIVE);
    }
    handles_.erase(it);
}

// ---- device controls -----------------------------------------------------------------------

bool ImageMachine::deviceIoControl(const Handle& handle, std::uint32_t code, ByteSpan input,
                                   MutableByteSpan output, std::uint32_t& bytesReturned) {
    bytesReturned = 0;
    const auto it = handles_.find(handle.id());
    if (it == handles_.end()) return fail(kInvalidHandle), false;
    auto& h = it->second;
    if ((requiredAccess(code) & rights(h.access)) != requiredAccess(code))
        return fail(kAccessDenied), false;
    if (h.kind == OpenHandle::Disk) return diskControl(h, code, input, output, bytesReturned);
    if (h.kind == OpenHandle::Volume) return volumeControl(h, code, output, bytesReturned);
    return fail(kInvalidFunction), false;
}

namespace {

bool putGeometry(std::int64_t diskSize, MutableByteSpan out, std::uint32_t& returned) {
    namespace dg = records::disk_geometry;
    if (out.size() < dg::kSize) return false;
    std::fill(out.begin(), out.begin() + dg::kSize, 0);
    writeU64(out, dg::kCylinders,
             static_cast<std::uint64_t>(diskSize / (kHeads * kSectorsPerTrack * kSectorSize)));
    writeU32(out, dg::kMediaType, 11);  // RemovableMedia
    writeU32(out, dg::kTracksPerCylinder, kHeads);
    writeU32(out, dg::kSectorsPerTrack, kSectorsPerTrack);
    writeU32(out, dg::kBytesPerSector, kSectorSize);
    returned = dg::kSize;
    return true;
}

bool putLength(std::int64_t length, MutableByteSpan out, std::uint32_t& returned) {
    if (out.size() < records::length_information::kSize) return false;
    writeU64(out, records::length_information::kLength, static_cast<std::uint64_t>(length));
    returned = records::length_information::kSize;
    return true;
}

}  // namespace

bool ImageMachine::diskControl(OpenHandle&, std::uint32_t code, ByteSpan input,
                               MutableByteSpan output, std::uint32_t& returned) {
    switch (code) {
        case win::IOCTL_DISK_GET_DRIVE_GEOMETRY:
            return putGeometry(disk_.size(), output, returned) ||
                   (fail(kInsufficientBuffer), false);
        case win::IOCTL_DISK_GET_LENGTH_INFO:
            return putLength(disk_.size(), output, returned) || (fail(kInsufficientBuffer), false);
        case win::IOCTL_DISK_GET_DRIVE_LAYOUT_EX: {
            using namespace records::drive_layout_ex;
            namespace pie = records::partition_info_ex;
            const auto table = disk_.readTable();
            const std::uint32_t count = table.style == PartitionStyle::Mbr ? 4
                                        : table.style == PartitionStyle::Gpt
                                            ? static_cast<std::uint32_t>(table.partitions.size())
                                            : 0;
            const std::size_t needed = kEntries + count * pie::kSize;
            if (output.size() < needed) return fail(kInsufficientBuffer), false;
            std::fill(output.begin(), output.begin() + static_cast<std::ptrdiff_t>(needed), 0);
            writeU32(output, kPartitionStyle, static_cast<std::uint32_t>(table.style));
            writeU32(output, kPartitionCount, count);
            if (table.style == PartitionStyle::Mbr)
                writeU32(output, kMbrSignature, table.signature);
            for (const auto& p : table.partitions) {
                if (static_cast<std::uint32_t>(p.slot) >= count) continue;
                const auto e =
                    output.subspan(kEntries + static_cast<std::size_t>(p.slot) * pie::kSize);
                writeU32(e, pie::kPartitionStyle, static_cast<std::uint32_t>(table.style));
                writeU64(e, pie::kStartingOffset, static_cast<std::uint64_t>(p.offset));
                writeU64(e, pie::kPartitionLength, static_cast<std::uint64_t>(p.length));
                writeU32(e, pie::kPartitionNumber, static_cast<std::uint32_t>(p.slot + 1));
                if (table.style == PartitionStyle::Mbr) {
                    e[pie::kMbrPartitionType] = p.type;
                    e[pie::kMbrBootIndicator] = p.active ? 1 : 0;
                    e[pie::kMbrRecognizedPartition] = 1;
                    writeU32(e, pie::kMbrHiddenSectors, p.hiddenSectors);
                }
            }
            returned = static_cast<std::uint32_t>(needed);
            return true;
        }
        case win::IOCTL_DISK_SET_DRIVE_LAYOUT:
            return setDriveLayout(input);
        case win::IOCTL_DISK_UPDATE_PROPERTIES:
            rescanPartitions();
            return true;
        default:
            return fail(kInvalidFunction), false;
    }
}

// Writes the table of a DRIVE_LAYOUT_INFORMATION record into sector 0, keeping the boot code,
// and lets the partition manager read it again. Partitions must lie whole sectors inside the
// disk and must not overlap.
bool ImageMachine::setDriveLayout(ByteSpan input) {
    using namespace records::drive_layout;
    namespace pi = records::partition_info;
    if (input.size() < kSizeWithFourEntries || readU32(input, kPartitionCount) != 4)
        return fail(kInvalidParameter), false;
    std::array<std::uint8_t, kSectorSize> mbr{};
    if (!disk_.read(0, mbr)) return fail(kInvalidParameter), false;
    std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
    for (int slot = 0; slot < 4; ++slot) {
        const auto e = input.subspan(kEntries + static_cast<std::size_t>(slot) * pi::kSize);
        const auto offset = static_cast<std::int64_t>(readU64(e, pi::kStartingOffset));
        const auto length = static_cast<std::int64_t>(readU64(e, pi::kPartitionLength));
        const std::uint8_t type = e[pi::kPartitionType];
        const MutableByteSpan entry(mbr.data() + 446 + slot * 16, 16);
        if (type == 0) {
            encodeMbrEntry(entry, 0, false, 0, 0);
            continue;
        }
        if (offset <= 0 || length <= 0 || offset % kSectorSize || length % kSectorSize ||
            offset + length > disk_.size() || (offset + length) / kSectorSize > 0xFFFFFFFFll)
            return fail(kInvalidParameter), false;
        for (const auto& [o, l] : ranges)
            if (offset < o + l && o < offset + length) return fail(kInvalidParameter), false;
        ranges.emplace_back(offset, length);
        encodeMbrEntry(entry, type, e[pi::kBootIndicator] != 0,
                       static_cast<std::uint32_t>(offset / kSectorSize),
                       static_cast<std::uint32_t>(length / kSectorSize));
    }
    writeU32(mbr, 0x1B8, readU32(input, kSignature));
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    releaseStores();
    if (!disk_.write(0, mbr)) return fail(kInvalidParameter), false;
    rescanPartitions();
    return true;
}

bool ImageMachine::volumeControl(OpenHandle& h, std::uint32_t code, MutableByteSpan output,
                                 std::uint32_t& returned) {
    auto* volume = volumeByGuid(h.guid);
    if (!volume) return fail(kInvalidHandle), false;
    const auto& p = volume->partition;
    switch (code) {
        case win::IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: {
            using namespace records::volume_disk_extents;
            namespace de = records::disk_extent;
            if (output.size() < kExtents + de::kSize) return fail(kInsufficientBuffer), false;
            writeU32(output, kCount, 1);
            const auto e = output.subspan(kExtents);
            writeU32(e, de::kDiskNumber, kImageDiskNumber);
            writeU64(e, de::kStartingOffset, static_cast<std::uint64_t>(p.offset));
            writeU64(e, de::kExtentLength, static_cast<std::uint64_t>(p.length));
            returned = static_cast<std::uint32_t>(kExtents + de::kSize);
            return true;
        }
        case win::IOCTL_DISK_GET_LENGTH_INFO:
            return putLength(p.length, output, returned) || (fail(kInsufficientBuffer), false);
        case win::IOCTL_DISK_GET_DRIVE_GEOMETRY:
            return putGeometry(disk_.size(), output, returned) ||
                   (fail(kInsufficientBuffer), false);
        case win::IOCTL_DISK_GET_PARTITION_INFO_EX: {
            namespace pie = records::partition_info_ex;
            if (output.size() < pie::kSize) return fail(kInsufficientBuffer), false;
            std::fill(output.begin(), output.begin() + pie::kSize, 0);
            writeU32(output, pie::kPartitionStyle, static_cast<std::uint32_t>(table_.style));
            writeU64(output, pie::kStartingOffset, static_cast<std::uint64_t>(p.offset));
            writeU64(output, pie::kPartitionLength, static_cast<std::uint64_t>(p.length));
            writeU32(output, pie::kPartitionNumber, static_cast<std::uint32_t>(volume->number));
            output[pie::kMbrPartitionType] = p.type;
            output[pie::kMbrBootIndicator] = p.active ? 1 : 0;
            output[pie::kMbrRecognizedPartition] = 1;
            writeU32(output, pie::kMbrHiddenSectors, p.hiddenSectors);
            returned = pie::kSize;
            return true;
        }
        case win::FSCTL_DISMOUNT_VOLUME:
            if (auto slot = stores_.find(volume->guid);
                slot != stores_.end() && slot->second.second)
                slot->second.second->release();
            return true;
        case win::FSCTL_LOCK_VOLUME:
        case win::FSCTL_UNLOCK_VOLUME:
        case win::FSCTL_ALLOW_EXTENDED_DASD_IO:
            return true;
        default:
            return fail(kInvalidFunction), false;
    }
}

std::int32_t ImageMachine::queryVolumeSizeInformation(const Handle& handle,
                                                      MutableByteSpan output) {
    constexpr auto kUnsuccessful = static_cast<std::int32_t>(0xC0000001u);
    constexpr auto kUnrecognized = static_cast<std::int32_t>(0xC000014Fu);
    const auto it = handles_.find(handle.id());
    if (it == handles_.end() || it->second.kind != OpenHandle::Volume) return kUnsuccessful;
    auto* volume = volumeByGuid(it->second.guid);
    if (!volume || output.size() < records::fs_size_information::kSize) return kUnsuccessful;
    const auto size = sizeOfVolume(disk_, volume->partition, toUtf8(fileSystemOf(*volume)));
    if (size.sectorsPerUnit == 0) return kUnrecognized;
    using namespace records::fs_size_information;
    writeU64(output, kTotalAllocationUnits, size.totalUnits);
    writeU64(output, kAvailableAllocationUnits, size.freeUnits);
    writeU32(output, kSectorsPerAllocationUnit, size.sectorsPerUnit);
    writeU32(output, kBytesPerSector, kSectorSize);
    return 0;
}

// ---- file system -----------------------------------------------------------------------------

std::optional<std::uint32_t> ImageMachine::fileAttributes(const Text& path) {
    const auto at = locate(path);
    if (!at) return fail(kPathNotFound), std::nullopt;
    const auto entry = at->store->stat(at->path);
    if (!entry) return fail(kFileNotFound), std::nullopt;
    return entry->attributes;
}

bool ImageMachine::createDirectory(const Text& path) {
    const auto at = locate(path);
    if (!at || at->path.empty()) return fail(kPathNotFound), false;
    if (at->store->stat(at->path)) return fail(183), false;  // ERROR_ALREADY_EXISTS
    const auto parent = at->store->stat(splitPath(at->path).first);
    if (!parent || !parent->directory) return fail(kPathNotFound), false;
    return at->store->makeDirectory(at->path) || (fail(kAccessDenied), false);
}

bool ImageMachine::deleteFile(const Text& path) {
    const auto at = locate(path);
    if (!at) return fail(kPathNotFound), false;
    const auto entry = at->store->stat(at->path);
    if (!entry) return fail(kFileNotFound), false;
    if (entry->directory || (entry->attributes & win::FILE_ATTRIBUTE_READONLY))
        return fail(kAccessDenied), false;
    const auto folder = splitPath(at->path).first;
    return at->store->remove(folder + (folder.empty() ? "" : "/") + entry->name) ||
           (fail(kAccessDenied), false);
}

bool ImageMachine::setFileAttributes(const Text& path, std::uint32_t attributes) {
    const auto at = locate(path);
    if (!at) return fail(kPathNotFound), false;
    if (!at->store->stat(at->path)) return fail(kFileNotFound), false;
    if (attributes == win::FILE_ATTRIBUTE_NORMAL) attributes = 0;
    return at->store->setAttributes(at->path, attributes) || (fail(kAccessDenied), false);
}

bool ImageMachine::copyFile(const Text& from, const Text& to, bool failIfExists) {
    const auto source = locate(from);
    const auto target = locate(to);
    if (!source || !target) return fail(kPathNotFound), false;
    const auto entry = source->store->stat(source->path);
    if (!entry || entry->directory) return fail(kFileNotFound), false;
    if (const auto existing = target->store->stat(target->path)) {
        if (failIfExists) return fail(kFileExists), false;
        // An existing hidden or read-only target is refused.
        if (existing->directory ||
            (existing->attributes & (win::FILE_ATTRIBUTE_HIDDEN | win::FILE_ATTRIBUTE_READONLY)))
            return fail(kAccessDenied), false;
    }
    const auto parent = target->store->stat(splitPath(target->path).first);
    if (!parent || !parent->directory) return fail(kPathNotFound), false;
    const auto content = source->store->read(source->path);
    if (!content || !target->store->write(target->path, *content))
        return fail(kAccessDenied), false;
    // The copy takes the source's attributes.
    target->store->setAttributes(target->path, entry->attributes & ~win::FILE_ATTRIBUTE_DIRECTORY);
    return true;
}

std::optional<FindData> ImageMachine::findFirstFile(const Text& path) {
    const auto at = locate(path);
    if (!at || at->path.empty()) return fail(kPathNotFound), std::nullopt;
    const auto [folder, pattern] = splitPath(at->path);
    const auto entries = at->store->list(folder);
    if (!entries) return fail(kPathNotFound), std::nullopt;
    for (const auto& entry : *entries) {
        if (!wildcardMatch(fromUtf8(pattern), fromUtf8(entry.name))) continue;
        FindData found;
        found.attributes = entry.attributes;
        found.sizeLow = static_cast<std::uint32_t>(entry.size);
        found.sizeHigh = static_cast<std::uint32_t>(entry.size >> 32);
        found.name = fromUtf8(entry.name);
        return found;
    }
    return fail(kFileNotFound), std::nullopt;
}

bool ImageMachine::removeTree(const Location& at) {
    const auto entry = at.store->stat(at.path);
    if (!entry) return false;
    if (!entry->directory) return at.store->remove(at.path);
    bool ok = true;
    for (const auto& child : at.store->list(at.path).value_or(std::vector<StoredEntry>{}))
        ok = removeTree({at.store, at.path + "/" + child.name}) && ok;
    return at.store->removeDirectory(at.path) && ok;
}

int ImageMachine::shellFileOperation(WindowId, std::uint16_t function, const Text& from,
                                     std::uint16_t) {
    if (function != win::FO_DELETE) return 1;
    int result = 0;
    // pFrom is a list of names, each ended by NUL, the list by an empty name.
    std::size_t start = 0;
    for (;;) {
        const auto end = from.find(u'\0', start);
        if (end == Text::npos) return 0x7C;  // an unterminated list: DE_INVALIDFILES
        if (end == start) break;
        const auto at = locate(from.substr(start, end - start));
        if (!at || at->path.empty() || !removeTree(*at)) result = 2;
        start = end + 1;
    }
    return result;
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

// ---- registry --------------------------------------------------------------------------------

RegistryKey ImageMachine::openLocalMachineKey(const Text& path, std::uint32_t) {
    const Text key = asciiUpper(path);
    if (!registryStrings_.count(key) && !registryDwords_.count(key)) return fail(2), RegistryKey();
    const auto id = nextId_++;
    keys_[id] = key;
    return RegistryKey(this, id);
}

std::optional<Text> ImageMachine::registryString(const RegistryKey& key, const Text& name) {
    const auto k = keys_.find(key.id());
    if (k == keys_.end()) return std::nullopt;
    const auto& values = registryStrings_[k->second];
    const auto it = values.find(name);
    return it == values.end() ? std::nullopt : std::optional<Text>(it->second);
}

std::optional<std::uint32_t> ImageMachine::registryDword(const RegistryKey& key, const Text& name) {
    const auto k = keys_.find(key.id());
    if (k == keys_.end()) return std::nullopt;
    const auto& values = registryDwords_[k->second];
    const auto it = values.find(name);
    return it == values.end() ? std::nullopt : std::optional<std::uint32_t>(it->second);
}

// ---- environment -----------------------------------------------------------------------------

std::optional<Text> ImageMachine::environmentVariable(const Text& name) {
    const auto it = environment_.find(asciiUpper(name));
    return it == environment_.end() ? std::nullopt : std::optional<Text>(it->second);
}

bool ImageMachine::setCurrentDirectory(const Text& path) {
    const auto attributes = fileAttributes(path);
    if (!attributes || !(*attributes & win::FILE_ATTRIBUTE_DIRECTORY)) return false;
    Text dir = path;
    if (dir.size() > 3 && dir.back() == u'\\') dir.pop_back();
    currentDirectory_ = dir;
    return true;
}

// The ANSI code page here is Windows-1252's Latin-1 part; other characters become '?'.
std::string ImageMachine::toAnsi(const Text& text) {
    std::string out;
    for (const char16_t c : text) out.push_back(c < 0x100 ? static_cast<char>(c) : '?');
    return out;
}

Text ImageMachine::fromAnsi(const std::string& bytes) {
    Text out;
    for (const char c : bytes) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return out;
}

std::uint64_t ImageMachine::tickCount() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

std::optional<ByteSpan> ImageMachine::rcData(const Text& name) {
    const Text key = asciiUpper(name);
    if (!resources_.count(key)) {
        for (const auto& [resource, file] : options_.resources) {
            if (!equalsIgnoreAsciiCase(fromUtf8(resource), name)) continue;
            std::ifstream in(file, std::ios::binary);
            if (!in) break;
            resources_[key] =
                Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        }
    }
    const auto it = resources_.find(key);
    if (it == resources_.end()) return std::nullopt;
    return ByteSpan(it->second);
}

}  // namespace qel::image
