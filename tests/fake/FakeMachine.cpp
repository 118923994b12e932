#include "fake/FakeMachine.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace qel::fake {

namespace {

constexpr std::uint32_t kKernel32 = 1;
constexpr std::uintptr_t kProcBase = 0x1000;
const std::vector<std::string> kKernel32Exports(std::begin(kKernel32LookedUpFunctions),
                                                std::end(kKernel32LookedUpFunctions));

Text upper(TextView t) {
    return asciiUpper(t);
}

bool startsWith(TextView text, TextView prefix) {
    return text.size() >= prefix.size() &&
           equalsIgnoreAsciiCase(text.substr(0, prefix.size()), prefix);
}

bool wildcardMatch(TextView pattern, TextView name) {
    if (pattern.empty()) return name.empty();
    if (pattern[0] == u'*')
        return wildcardMatch(pattern.substr(1), name) ||
               (!name.empty() && wildcardMatch(pattern, name.substr(1)));
    if (name.empty()) return false;
    if (pattern[0] == u'?' || upper(pattern.substr(0, 1)) == upper(name.substr(0, 1)))
        return wildcardMatch(pattern.substr(1), name.substr(1));
    return false;
}

Text parentOf(const Text& key) {
    const auto cut = key.find_last_of(u'\\');
    return cut == Text::npos ? Text() : key.substr(0, cut);
}

bool isRootKey(const Text& key) {
    return key.find(u'\\') == Text::npos;
}

}  // namespace

std::uint32_t le32(ByteSpan b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint64_t le64(ByteSpan b, std::size_t at) {
    return static_cast<std::uint64_t>(le32(b, at)) |
           (static_cast<std::uint64_t>(le32(b, at + 4)) << 32);
}
void putLe32(MutableByteSpan b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}
void putLe64(MutableByteSpan b, std::size_t at, std::uint64_t v) {
    putLe32(b, at, static_cast<std::uint32_t>(v));
    putLe32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}

void writeMbrEntry(Bytes& disk, int slot, std::uint8_t type, std::uint32_t startLba,
                   std::uint32_t sectors, bool active) {
    if (disk.size() < 512) disk.resize(512);
    const std::size_t at = 446 + static_cast<std::size_t>(slot) * 16;
    std::fill(disk.begin() + static_cast<long>(at), disk.begin() + static_cast<long>(at) + 16, 0);
    disk[at] = active ? 0x80 : 0x00;
    disk[at + 1] = 0xFE;
    disk[at + 2] = 0xFF;
    disk[at + 3] = 0xFF;
    disk[at + 4] = type;
    disk[at + 5] = 0xFE;
    disk[at + 6] = 0xFF;
    disk[at + 7] = 0xFF;
    putLe32(disk, at + 8, startLba);
    putLe32(disk, at + 12, sectors);
    disk[510] = 0x55;
    disk[511] = 0xAA;
}

FakeDisk FakeDisk::ofSize(std::int64_t bytes, std::uint32_t bytesPerSector,
                          std::uint32_t mediaType) {
    FakeDisk d;
    d.bytes.assign(static_cast<std::size_t>(bytes), 0);
    d.bytesPerSector = bytesPerSector;
    d.mediaType = mediaType;
    d.cylinders = bytes / (static_cast<std::int64_t>(d.tracksPerCylinder) * d.sectorsPerTrack *
                           bytesPerSector);
    return d;
}

FakeMachine::FakeMachine() {
    addPlainDrive('C', win::DRIVE_FIXED, u"NTFS", u"", 256ull << 30);
    putDirectory(u"C:\\Users\\user\\AppData\\Local\\Temp");
    putDirectory(u"C:\\Windows\\System32");
    env_[u"TEMP"] = u"C:\\Users\\user\\AppData\\Local\\Temp";
    env_[u"SYSTEMDRIVE"] = u"C:";
}

// ---- set-up ----

int FakeMachine::addDisk(FakeDisk disk) {
    int n = 0;
    while (disks_.count(n)) ++n;
    disks_[n] = std::move(disk);
    return n;
}

void FakeMachine::setDisk(int number, FakeDisk disk) {
    disks_[number] = std::move(disk);
}

FakeVolume& FakeMachine::addVolume(FakeVolume volume) {
    if (volume.guid.empty()) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "Volume{6b2c1a%02zu-0000-11ef-a000-806e6f6e6963}",
                      volumes_.size());
        volume.guid = ascii(buf);
    }
    volumes_.push_back(std::move(volume));
    return volumes_.back();
}

FakeVolume* FakeMachine::volumeByLetter(char letter) {
    for (auto& v : volumes_)
        if (v.letter != 0 && std::toupper(v.letter) == std::toupper(letter)) return &v;
    return nullptr;
}

FakeVolume* FakeMachine::volumeByGuid(const Text& guid) {
    for (auto& v : volumes_)
        if (equalsIgnoreAsciiCase(v.guid, guid)) return &v;
    return nullptr;
}

void FakeMachine::addPlainDrive(char letter, std::uint32_t type, Text fileSystem, Text label,
                                std::uint64_t totalBytes) {
    const char up = static_cast<char>(std::toupper(letter));
    plainDrives_[up] = {type, VolumeInformation{std::move(label), std::move(fileSystem)}};
    plainDriveTotals_[up] = totalBytes;
}

Text FakeMachine::normalise(const Text& path) const {
    Text p = path;
    std::replace(p.begin(), p.end(), u'/', u'\\');
    Text root;
    Text rest;
    if (startsWith(p, u"\\\\?\\Volume{") || startsWith(p, u"\\\\.\\Volume{")) {
        const auto close = p.find(u'}');
        root = u"VOL:" + upper(p.substr(4, close == Text::npos ? Text::npos : close - 3));
        rest = close == Text::npos ? Text() : p.substr(close + 1);
    } else {
        if (startsWith(p, u"\\\\?\\")) p = p.substr(4);
        if (p.size() >= 2 && p[1] == u':') {
        } else if (!p.empty() && p[0] == u'\\') {
            p = currentDir_.substr(0, 2) + p;
        } else {
            p = currentDir_ + u"\\" + p;
        }
        const char letter = static_cast<char>(std::toupper(static_cast<char>(p[0])));
        bool isVolume = false;
        for (const auto& v : volumes_)
            if (v.letter != 0 && std::toupper(v.letter) == letter) {
                root = u"VOL:" + upper(v.guid);
                isVolume = true;
            }
        if (!isVolume) root = u"DRV:" + Text(1, static_cast<char16_t>(letter));
        rest = p.substr(2);
    }
    Text out = root;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == u'\\' && (out.back() == u'\\' || i + 1 == rest.size())) continue;
        out.push_back(rest[i]);
    }
    while (out.size() > 1 && out.back() == u'\\') out.pop_back();
    // "." components (".\RAZEvor.7z") are dropped.
    for (auto at = out.find(u"\\.\\"); at != Text::npos; at = out.find(u"\\.\\")) out.erase(at, 2);
    if (out.size() >= 2 && out.substr(out.size() - 2) == u"\\.") out.resize(out.size() - 2);
    return upper(out);
}

void FakeMachine::putFile(const Text& path, Bytes content, std::uint32_t attributes) {
    const Text key = normalise(path);
    for (Text dir = parentOf(key); !dir.empty() && !isRootKey(dir); dir = parentOf(dir))
        directories_.insert(dir);
    const auto cut = path.find_last_of(u"\\/");
    files_[key] =
        FileEntry{std::move(content), attributes, cut == Text::npos ? path : path.substr(cut + 1)};
}

void FakeMachine::putDirectory(const Text& path) {
    for (Text dir = normalise(path); !dir.empty() && !isRootKey(dir); dir = parentOf(dir))
        directories_.insert(dir);
}

bool FakeMachine::hasFile(const Text& path) {
    return files_.count(normalise(path)) != 0;
}
bool FakeMachine::hasDirectory(const Text& path) {
    return directories_.count(normalise(path)) != 0;
}
Bytes FakeMachine::fileBytes(const Text& path) {
    const auto it = files_.find(normalise(path));
    return it == files_.end() ? Bytes() : it->second.bytes;
}
std::string FakeMachine::fileText(const Text& path) {
    const Bytes b = fileBytes(path);
    return std::string(b.begin(), b.end());
}
std::uint32_t FakeMachine::attributesOf(const Text& path) {
    const auto a = fileAttributes(path);
    return a ? *a : 0xFFFFFFFFu;
}
void FakeMachine::makeReadOnly(const Text& path) {
    files_.at(normalise(path)).attributes |= win::FILE_ATTRIBUTE_READONLY;
}

std::vector<Text> FakeMachine::listTree(const Text& folder) {
    const Text key = normalise(folder) + u"\\";
    std::vector<Text> out;
    for (const auto& d : directories_)
        if (d.rfind(key, 0) == 0) out.push_back(d);
    for (const auto& [k, f] : files_)
        if (k.rfind(key, 0) == 0) out.push_back(k);
    std::sort(out.begin(), out.end());
    return out;
}

void FakeMachine::setEnv(const Text& name, std::optional<Text> value) {
    if (value)
        env_[upper(name)] = *value;
    else
        env_.erase(upper(name));
}

void FakeMachine::setResource(const Text& name, Bytes content) {
    resources_[upper(name)] = std::move(content);
}

RegistryEntry& FakeMachine::registryKey(const Text& path) {
    return registry_[upper(path)];
}

void FakeMachine::onProcess(const Text& prefix, ChildScript script) {
    scripts_.emplace_back(prefix, std::move(script));
}

void FakeMachine::answerDialogs(std::initializer_list<int> results) {
    answers_.insert(answers_.end(), results.begin(), results.end());
}

void FakeMachine::clearRecords() {
    dialogs_.clear();
    messageBoxes_.clear();
    processes_.clear();
    shellExecutes_.clear();
    shellFileOps_.clear();
}

// ---- files and devices ----

bool FakeMachine::writeForbidden(const Text& key) const {
    for (const auto& f : writeFailures_)
        if (key.rfind(f, 0) == 0) return true;
    return false;
}

std::optional<std::size_t> FakeMachine::volumeIndexForRoot(const Text& root) const {
    Text name = root;
    if (startsWith(name, u"\\\\.\\") || startsWith(name, u"\\\\?\\")) name = name.substr(4);
    while (!name.empty() && name.back() == u'\\') name.pop_back();
    for (std::size_t i = 0; i < volumes_.size(); ++i) {
        const auto& v = volumes_[i];
        if (name.size() == 2 && name[1] == u':' && v.letter != 0 &&
            std::toupper(v.letter) == std::toupper(static_cast<char>(name[0])))
            return i;
        if (equalsIgnoreAsciiCase(name, v.guid)) return i;
    }
    return std::nullopt;
}

Handle FakeMachine::openDevice(const Text& path, std::uint32_t access) {
    const Text name = path.substr(4);
    if (startsWith(name, u"PHYSICALDRIVE")) {
        const Text digits = name.substr(13);
        if (digits.empty() || digits.find_first_not_of(u"0123456789") != Text::npos) return {};
        const int n = std::stoi(toUtf8(digits));
        if (!disks_.count(n) || disks_.at(n).failOpen) return {};
        OpenHandle h;
        h.kind = OpenHandle::Disk;
        h.disk = n;
        h.access = access;
        const auto id = nextId_++;
        handles_[id] = h;
        return Handle(this, id);
    }
    const auto index = volumeIndexForRoot(path);
    if (!index) return {};
    OpenHandle h;
    h.kind = OpenHandle::Volume;
    h.volume = *index;
    h.disk = volumes_[*index].disk;
    h.access = access;
    const auto id = nextId_++;
    handles_[id] = h;
    return Handle(this, id);
}

Handle FakeMachine::createFile(const Text& path, std::uint32_t access, std::uint32_t,
                               std::uint32_t disposition, std::uint32_t attributes) {
    if (startsWith(path, u"\\\\.\\")) return openDevice(path, access);
    const Text key = normalise(path);
    auto it = files_.find(key);
    if (directories_.count(key)) return {};
    if (disposition == win::OPEN_EXISTING && it == files_.end()) return {};
    if (it == files_.end() || disposition == win::CREATE_ALWAYS) {
        const Text parent = parentOf(key);
        if (!isRootKey(parent) && !directories_.count(parent)) return {};
        if (writeForbidden(key)) return {};
        if (it != files_.end()) {
            const auto a = it->second.attributes;
            if (a & win::FILE_ATTRIBUTE_READONLY) return {};
            // CREATE_ALWAYS on a hidden or system file without those attributes is refused.
            if ((a & win::FILE_ATTRIBUTE_HIDDEN) && !(attributes & win::FILE_ATTRIBUTE_HIDDEN))
                return {};
            if ((a & win::FILE_ATTRIBUTE_SYSTEM) && !(attributes & win::FILE_ATTRIBUTE_SYSTEM))
                return {};
        }
        const auto cut = path.find_last_of(u"\\/");
        FileEntry entry;
        entry.attributes = win::FILE_ATTRIBUTE_ARCHIVE |
                           (attributes & (win::FILE_ATTRIBUTE_HIDDEN | win::FILE_ATTRIBUTE_SYSTEM));
        entry.displayName = cut == Text::npos ? path : path.substr(cut + 1);
        files_[key] = std::move(entry);
    } else if ((access & win::GENERIC_WRITE) &&
               (it->second.attributes & win::FILE_ATTRIBUTE_READONLY)) {
        return {};
    }
    OpenHandle h;
    h.kind = OpenHandle::File;
    h.key = key;
    h.access = access;
    const auto id = nextId_++;
    handles_[id] = h;
    return Handle(this, id);
}

bool FakeMachine::readFile(const Handle& handle, MutableByteSpan buffer, std::uint32_t& bytesRead) {
    bytesRead = 0;
    auto it = handles_.find(handle.id());
    if (it == handles_.end() || !(it->second.access & win::GENERIC_READ)) return false;
    auto& h = it->second;
    const Bytes* source = nullptr;
    std::int64_t base = 0;
    std::int64_t limit = 0;
    if (h.kind == OpenHandle::File) {
        source = &files_.at(h.key).bytes;
        limit = static_cast<std::int64_t>(source->size());
    } else {
        if (!disks_.count(h.disk)) return false;
        auto& d = disks_.at(h.disk);
        if (!d.present || d.failReads) return false;
        source = &d.bytes;
        if (h.kind == OpenHandle::Volume) {
            base = volumes_[h.volume].offset;
            limit = volumes_[h.volume].length;
        } else {
            limit = static_cast<std::int64_t>(d.bytes.size());
        }
        if (h.position + static_cast<std::int64_t>(buffer.size()) > limit) return false;
    }
    const std::int64_t available = std::max<std::int64_t>(0, limit - h.position);
    const auto count = static_cast<std::size_t>(
        std::min<std::int64_t>(available, static_cast<std::int64_t>(buffer.size())));
    const auto from = static_cast<std::size_t>(base + h.position);
    if (from + count > source->size()) return false;
    if (count != 0) std::memcpy(buffer.data(), source->data() + from, count);
    h.position += static_cast<std::int64_t>(count);
    bytesRead = static_cast<std::uint32_t>(count);
    return true;
}

bool FakeMachine::writeFile(const Handle& handle, ByteSpan data, std::uint32_t& bytesWritten) {
    bytesWritten = 0;
    auto it = handles_.find(handle.id());
    if (it == handles_.end() || !(it->second.access & win::GENERIC_WRITE)) return false;
    auto& h = it->second;
    if (h.kind == OpenHandle::File) {
        if (writeForbidden(h.key)) return false;
        auto& bytes = files_.at(h.key).bytes;
        const auto at = static_cast<std::size_t>(h.position);
        if (bytes.size() < at + data.size()) bytes.resize(at + data.size());
        std::memcpy(bytes.data() + at, data.data(), data.size());
    } else {
        if (!disks_.count(h.disk)) return false;
        auto& d = disks_.at(h.disk);
        if (!d.present || d.failWrites || d.writeCount >= d.writesBeforeFailure) return false;
        std::int64_t base = 0;
        std::int64_t limit = static_cast<std::int64_t>(d.bytes.size());
        if (h.kind == OpenHandle::Volume) {
            base = volumes_[h.volume].offset;
            limit = volumes_[h.volume].length;
        }
        if (h.position + static_cast<std::int64_t>(data.size()) > limit) return false;
        std::memcpy(d.bytes.data() + base + h.position, data.data(), data.size());
        ++d.writeCount;
    }
    h.position += static_cast<std::int64_t>(data.size());
    bytesWritten = static_cast<std::uint32_t>(data.size());
    return true;
}

bool FakeMachine::setFilePointer(const Handle& handle, std::int64_t distance, std::uint32_t method,
                                 std::int64_t& newPosition) {
    auto it = handles_.find(handle.id());
    if (it == handles_.end()) return false;
    auto& h = it->second;
    if (h.kind != OpenHandle::File && disks_.count(h.disk) && disks_.at(h.disk).failSeeks)
        return false;
    std::int64_t end = 0;
    if (h.kind == OpenHandle::File)
        end = static_cast<std::int64_t>(files_.at(h.key).bytes.size());
    else if (h.kind == OpenHandle::Volume)
        end = volumes_[h.volume].length;
    else if (disks_.count(h.disk))
        end = static_cast<std::int64_t>(disks_.at(h.disk).bytes.size());
    const std::int64_t base = method == win::FILE_BEGIN     ? 0
                              : method == win::FILE_CURRENT ? h.position
                                                            : end;
    if (base + distance < 0) return false;
    h.position = base + distance;
    newPosition = h.position;
    return true;
}

bool FakeMachine::diskIoctl(FakeDisk& d, std::uint32_t code, ByteSpan input, MutableByteSpan output,
                            std::uint32_t& returned) {
    d.ioctlLog.push_back(code);
    if (!d.present) return false;
    switch (code) {
        case win::IOCTL_DISK_GET_DRIVE_GEOMETRY: {
            if (d.failGeometry || output.size() < 24) return false;
            std::fill(output.begin(), output.begin() + 24, 0);
            putLe64(output, 0, static_cast<std::uint64_t>(d.cylinders));
            putLe32(output, 8, d.mediaType);
            putLe32(output, 12, d.tracksPerCylinder);
            putLe32(output, 16, d.sectorsPerTrack);
            putLe32(output, 20, d.bytesPerSector);
            returned = 24;
            return true;
        }
        case win::IOCTL_DISK_GET_LENGTH_INFO:
            if (output.size() < 8) return false;
            putLe64(output, 0, d.bytes.size());
            returned = 8;
            return true;
        case win::IOCTL_DISK_GET_DRIVE_LAYOUT_EX: {
            if (d.failLayoutRequest) return false;
            const bool mbr = d.bytes.size() >= 512 && d.bytes[510] == 0x55 && d.bytes[511] == 0xAA;
            const std::uint32_t style = d.forcedStyle == "GPT"   ? 1
                                        : d.forcedStyle == "RAW" ? 2
                                                                 : (mbr ? 0 : 2);
            const std::uint32_t count =
                style == 2 ? 0 : 4 + static_cast<std::uint32_t>(d.extraLayoutEntries);
            if (output.size() < 48 + static_cast<std::size_t>(count) * 144) return false;
            std::fill(output.begin(), output.end(), 0);
            putLe32(output, 0, style);
            putLe32(output, 4, count);
            if (style == 0) putLe32(output, 8, le32(d.bytes, 0x1B8));
            for (std::uint32_t slot = 0; slot < std::min<std::uint32_t>(count, 4); ++slot) {
                const std::size_t e = 446 + slot * 16;
                const std::size_t o = 48 + slot * 144;
                const std::uint64_t start = le32(d.bytes, e + 8);
                const std::uint64_t sectors = le32(d.bytes, e + 12);
                putLe32(output, o, style);
                if (d.bytes[e + 4] == 0) continue;
                putLe64(output, o + 8, start * d.bytesPerSector);
                putLe64(output, o + 16, sectors * d.bytesPerSector);
                putLe32(output, o + 24, slot + 1);
                output[o + 32] = d.bytes[e + 4];
                output[o + 33] = d.bytes[e] == 0x80;
                output[o + 34] = 1;
                putLe32(output, o + 36, static_cast<std::uint32_t>(start));
            }
            returned = 48 + count * 144;
            return true;
        }
        case win::IOCTL_DISK_SET_DRIVE_LAYOUT: {
            if (d.failSetLayout || input.size() < 136) return false;
            const std::uint32_t count = le32(input, 0);
            if (count != 4) return false;
            if (d.bytes.size() < 512) return false;
            putLe32(d.bytes, 0x1B8, le32(input, 4));
            for (int slot = 0; slot < 4; ++slot) {
                const std::size_t p = 8 + static_cast<std::size_t>(slot) * 32;
                const std::uint8_t type = input[p + 24];
                const std::size_t e = 446 + static_cast<std::size_t>(slot) * 16;
                if (type == 0) {
                    std::fill(d.bytes.begin() + static_cast<long>(e),
                              d.bytes.begin() + static_cast<long>(e) + 16, 0);
                    continue;
                }
                writeMbrEntry(d.bytes, slot, type,
                              static_cast<std::uint32_t>(le64(input, p) / d.bytesPerSector),
                              static_cast<std::uint32_t>(le64(input, p + 8) / d.bytesPerSector),
                              input[p + 25] != 0);
            }
            d.bytes[510] = 0x55;
            d.bytes[511] = 0xAA;
            return true;
        }
        case win::IOCTL_DISK_UPDATE_PROPERTIES:
            return !d.failUpdateProperties;
        default:
            return false;
    }
}

bool FakeMachine::volumeIoctl(FakeVolume& v, std::uint32_t code, MutableByteSpan output,
                              std::uint32_t& returned) {
    switch (code) {
        case win::IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: {
            if (v.disk < 0) return false;
            const int count = v.extentCount + (v.secondDisk >= 0 ? 1 : 0);
            if (output.size() < 8 + static_cast<std::size_t>(count) * 24) return false;
            putLe32(output, 0, static_cast<std::uint32_t>(count));
            putLe32(output, 8, static_cast<std::uint32_t>(v.disk));
            putLe64(output, 16, static_cast<std::uint64_t>(v.offset));
            putLe64(output, 24, static_cast<std::uint64_t>(v.length));
            if (v.secondDisk >= 0) putLe32(output, 32, static_cast<std::uint32_t>(v.secondDisk));
            returned = static_cast<std::uint32_t>(8 + count * 24);
            return true;
        }
        case win::IOCTL_DISK_GET_LENGTH_INFO:
            if (output.size() < 8 || v.disk < 0 || !disks_.count(v.disk) ||
                !disks_.at(v.disk).present)
                return false;
            putLe64(output, 0, static_cast<std::uint64_t>(v.length));
            returned = 8;
            return true;
        case win::IOCTL_DISK_GET_PARTITION_INFO_EX:
            if (output.size() < 144 || v.disk < 0) return false;
            std::fill(output.begin(), output.begin() + 144, 0);
            putLe64(output, 8, static_cast<std::uint64_t>(v.offset));
            putLe64(output, 16, static_cast<std::uint64_t>(v.length));
            putLe32(output, 24, 1);
            returned = 144;
            return true;
        case win::FSCTL_DISMOUNT_VOLUME:
            v.dismounted = true;
            return true;
        case win::FSCTL_LOCK_VOLUME:
        case win::FSCTL_UNLOCK_VOLUME:
        case win::FSCTL_ALLOW_EXTENDED_DASD_IO:
            return true;
        case win::IOCTL_DISK_GET_DRIVE_GEOMETRY:
            if (v.disk < 0 || !disks_.count(v.disk)) return false;
            return diskIoctl(disks_.at(v.disk), code, {}, output, returned);
        default:
            return false;
    }
}

bool FakeMachine::deviceIoControl(const Handle& handle, std::uint32_t code, ByteSpan input,
                                  MutableByteSpan output, std::uint32_t& bytesReturned) {
    bytesReturned = 0;
    auto it = handles_.find(handle.id());
    if (it == handles_.end()) return false;
    auto& h = it->second;
    if (h.kind == OpenHandle::Disk) {
        auto& d = disks_.at(h.disk);
        const bool ok = diskIoctl(d, code, input, output, bytesReturned);
        if (ok && code == win::IOCTL_DISK_UPDATE_PROPERTIES && onLayoutChanged)
            onLayoutChanged(*this, h.disk);
        return ok;
    }
    if (h.kind == OpenHandle::Volume)
        return volumeIoctl(volumes_[h.volume], code, output, bytesReturned);
    return false;
}

std::int32_t FakeMachine::queryVolumeSizeInformation(const Handle& handle, MutableByteSpan output) {
    constexpr std::int32_t kFailure = static_cast<std::int32_t>(0xC0000001u);
    auto it = handles_.find(handle.id());
    if (it == handles_.end() || it->second.kind != OpenHandle::Volume || output.size() < 24)
        return kFailure;
    const auto& v = volumes_[it->second.volume];
    if (v.failSizeQuery) return kFailure;
    std::uint32_t bps = 512;
    if (v.disk >= 0 && disks_.count(v.disk)) bps = disks_.at(v.disk).bytesPerSector;
    const std::uint64_t clusterBytes = static_cast<std::uint64_t>(v.sectorsPerCluster) * bps;
    const std::uint64_t units =
        clusterBytes ? static_cast<std::uint64_t>(v.length) / clusterBytes : 0;
    putLe64(output, 0, units);
    putLe64(output, 8, units / 2);
    putLe32(output, 16, v.sectorsPerCluster);
    putLe32(output, 20, bps);
    return 0;
}

void FakeMachine::closeHandle(std::uintptr_t id) {
    handles_.erase(id);
}

// ---- file system ----

std::optional<std::uint32_t> FakeMachine::fileAttributes(const Text& path) {
    const Text key = normalise(path);
    if (directories_.count(key)) return win::FILE_ATTRIBUTE_DIRECTORY;
    if (isRootKey(key)) {
        if (key.rfind(u"VOL:", 0) == 0) return win::FILE_ATTRIBUTE_DIRECTORY;
        const char letter = static_cast<char>(key[4]);
        if (plainDrives_.count(letter)) return win::FILE_ATTRIBUTE_DIRECTORY;
        return std::nullopt;
    }
    const auto it = files_.find(key);
    if (it == files_.end()) return std::nullopt;
    return it->second.attributes;
}

bool FakeMachine::createDirectory(const Text& path) {
    const Text key = normalise(path);
    if (directories_.count(key) || files_.count(key) || writeForbidden(key)) return false;
    const Text parent = parentOf(key);
    if (!isRootKey(parent) && !directories_.count(parent)) return false;
    // A folder at the root of a drive letter needs that drive ("\folder" names the current one).
    if (isRootKey(parent) && parent.rfind(u"DRV:", 0) == 0 &&
        !fileAttributes(parent.substr(4) + u":\\"))
        return false;
    directories_.insert(key);
    return true;
}

bool FakeMachine::deleteFile(const Text& path) {
    const auto it = files_.find(normalise(path));
    if (it == files_.end() || (it->second.attributes & win::FILE_ATTRIBUTE_READONLY)) return false;
    files_.erase(it);
    return true;
}

bool FakeMachine::setFileAttributes(const Text& path, std::uint32_t attributes) {
    const auto it = files_.find(normalise(path));
    if (it == files_.end()) return directories_.count(normalise(path)) != 0;
    it->second.attributes = attributes == win::FILE_ATTRIBUTE_NORMAL ? 0 : attributes;
    return true;
}

bool FakeMachine::copyFile(const Text& from, const Text& to, bool failIfExists) {
    const auto src = files_.find(normalise(from));
    if (src == files_.end()) return false;
    const Text key = normalise(to);
    const auto dst = files_.find(key);
    if (dst != files_.end() &&
        (failIfExists || (dst->second.attributes & win::FILE_ATTRIBUTE_READONLY)))
        return false;
    const Text parent = parentOf(key);
    if ((!isRootKey(parent) && !directories_.count(parent)) || writeForbidden(key)) return false;
    FileEntry copy = src->second;
    const auto cut = to.find_last_of(u"\\/");
    copy.displayName = cut == Text::npos ? to : to.substr(cut + 1);
    files_[key] = std::move(copy);
    return true;
}

std::optional<FindData> FakeMachine::findFirstFile(const Text& path) {
    const Text key = normalise(path);
    const Text folder = parentOf(key);
    const Text pattern = key.substr(folder.size() + 1);
    if (directories_.count(key) || files_.count(key)) {
        FindData found;
        const auto it = files_.find(key);
        if (it != files_.end()) {
            found.attributes = it->second.attributes;
            found.sizeLow = static_cast<std::uint32_t>(it->second.bytes.size());
            found.sizeHigh = static_cast<std::uint32_t>(
                static_cast<std::uint64_t>(it->second.bytes.size()) >> 32);
            found.name = it->second.displayName;
        } else {
            found.attributes = win::FILE_ATTRIBUTE_DIRECTORY;
            found.name = pattern;
        }
        return found;
    }
    for (const auto& [k, f] : files_)
        if (parentOf(k) == folder && wildcardMatch(pattern, k.substr(folder.size() + 1))) {
            FindData found;
            found.attributes = f.attributes;
            found.sizeLow = static_cast<std::uint32_t>(f.bytes.size());
            found.name = f.displayName;
            return found;
        }
    for (const auto& d : directories_)
        if (parentOf(d) == folder && wildcardMatch(pattern, d.substr(folder.size() + 1)))
            return FindData{win::FILE_ATTRIBUTE_DIRECTORY, 0, 0, d.substr(folder.size() + 1)};
    return std::nullopt;
}

int FakeMachine::shellFileOperation(WindowId window, std::uint16_t function, const Text& from,
                                    std::uint16_t flags) {
    shellFileOps_.push_back({function, from, flags, window});
    if (function != win::FO_DELETE) return 1;
    // pFrom is a list of NUL-terminated names ending with an empty one.
    std::size_t start = 0;
    while (start < from.size()) {
        const auto end = from.find(u'\0', start);
        if (end == Text::npos) return 1;  // an unterminated list: Windows reads past it
        if (end == start) break;
        const Text key = normalise(from.substr(start, end - start));
        const Text prefix = key + u"\\";
        std::erase_if(
            files_, [&](const auto& e) { return e.first == key || e.first.rfind(prefix, 0) == 0; });
        std::erase_if(directories_,
                      [&](const Text& d) { return d == key || d.rfind(prefix, 0) == 0; });
        start = end + 1;
    }
    return 0;
}

// ---- volumes and drives ----

std::uint32_t FakeMachine::driveType(const Text& root) {
    if (root.size() < 2 || root[1] != u':') return win::DRIVE_NO_ROOT_DIR;
    const char letter = static_cast<char>(std::toupper(static_cast<char>(root[0])));
    if (auto* v = volumeByLetter(letter)) return v->driveType;
    if (plainDrives_.count(letter)) return plainDrives_.at(letter).first;
    return win::DRIVE_NO_ROOT_DIR;
}

std::optional<VolumeInformation> FakeMachine::volumeInformation(const Text& root) {
    if (root.size() >= 2 && root[1] == u':') {
        const char letter = static_cast<char>(std::toupper(static_cast<char>(root[0])));
        if (auto* v = volumeByLetter(letter)) {
            if (v->infoFails ||
                (v->disk >= 0 && disks_.count(v->disk) && !disks_.at(v->disk).present))
                return std::nullopt;
            return VolumeInformation{v->label, v->fileSystem};
        }
        if (plainDrives_.count(letter)) return plainDrives_.at(letter).second;
        return std::nullopt;
    }
    const auto index = volumeIndexForRoot(root);
    if (!index || volumes_[*index].infoFails) return std::nullopt;
    return VolumeInformation{volumes_[*index].label, volumes_[*index].fileSystem};
}

std::optional<std::uint64_t> FakeMachine::diskTotalBytes(const Text& root) {
    if (root.size() < 2 || root[1] != u':') return std::nullopt;
    const char letter = static_cast<char>(std::toupper(static_cast<char>(root[0])));
    if (auto* v = volumeByLetter(letter)) {
        if (v->infoFails || (v->disk >= 0 && disks_.count(v->disk) && !disks_.at(v->disk).present))
            return std::nullopt;
        return v->totalBytes ? *v->totalBytes : static_cast<std::uint64_t>(v->length);
    }
    if (plainDriveTotals_.count(letter)) return plainDriveTotals_.at(letter);
    return std::nullopt;
}

// ---- modules and bound functions ----

ModuleId FakeMachine::moduleHandle(const Text& name) {
    if (kernel32Missing_ || !equalsIgnoreAsciiCase(name, u"kernel32.dll")) {
        lastError_ = 126;
        return 0;
    }
    return kKernel32;
}

ModuleId FakeMachine::loadLibrary(const Text& name) {
    return moduleHandle(name);
}

ProcAddress FakeMachine::procAddress(ModuleId module, const std::string& name) {
    ++procLookups_;
    if (module != kKernel32 || missingExports_.count(name)) return 0;
    const auto it = std::find(kKernel32Exports.begin(), kKernel32Exports.end(), name);
    if (it == kKernel32Exports.end()) return 0;
    return kProcBase + static_cast<std::uintptr_t>(it - kKernel32Exports.begin());
}

void FakeMachine::freeLibrary(ModuleId) {}

Text FakeMachine::systemMessage(std::uint32_t errorCode) {
    if (errorCode == 126) return u"The specified module could not be found.\r\n";
    return u"Error " + decimal(errorCode) + u".\r\n";
}

bool FakeMachine::callIsWow64Process(ProcAddress fn, bool& wow64) {
    if (fn != procAddress(kKernel32, "IsWow64Process")) return false;
    --procLookups_;
    wow64 = wow64_;
    return true;
}

std::vector<std::size_t> FakeMachine::enumerableVolumes() const {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < volumes_.size(); ++i) out.push_back(i);
    return out;
}

FindVolumeId FakeMachine::callFindFirstVolumeA(ProcAddress, std::string& name,
                                               std::uint32_t bufferLength) {
    const auto list = enumerableVolumes();
    if (list.empty()) return 0;
    name = "\\\\?\\" + toUtf8(volumes_[list[0]].guid) + "\\";
    if (name.size() + 1 > bufferLength) return 0;
    const auto id = nextId_++;
    searches_[id] = VolumeSearch{1};
    return id;
}

bool FakeMachine::callFindNextVolumeA(ProcAddress, FindVolumeId search, std::string& name,
                                      std::uint32_t bufferLength) {
    auto it = searches_.find(search);
    if (it == searches_.end()) return false;
    const auto list = enumerableVolumes();
    if (it->second.next >= list.size()) return false;
    name = "\\\\?\\" + toUtf8(volumes_[list[it->second.next++]].guid) + "\\";
    return name.size() + 1 <= bufferLength;
}

bool FakeMachine::callFindVolumeClose(ProcAddress, FindVolumeId search) {
    return searches_.erase(search) != 0;
}

bool FakeMachine::callDeleteVolumeMountPointA(ProcAddress, const std::string& mountPoint) {
    if (mountPoint.size() < 2 || mountPoint[1] != ':') return false;
    auto* v = volumeByLetter(mountPoint[0]);
    if (!v || v->deleteMountPointFails) return false;
    v->letter = 0;
    return true;
}

bool FakeMachine::callSetVolumeMountPointA(ProcAddress, const std::string& mountPoint,
                                           const std::string& volumeName) {
    if (mountPoint.size() < 2 || mountPoint[1] != ':') return false;
    if (driveType(ascii(mountPoint.substr(0, 3))) != win::DRIVE_NO_ROOT_DIR) return false;
    const auto index = volumeIndexForRoot(ascii(volumeName));
    if (!index || volumes_[*index].letter != 0) return false;
    volumes_[*index].letter = static_cast<char>(std::toupper(mountPoint[0]));
    return true;
}

// ---- registry ----

RegistryKey FakeMachine::openLocalMachineKey(const Text& path, std::uint32_t) {
    const auto it = registry_.find(upper(path));
    if (it == registry_.end() || it->second.openFails) return {};
    const auto id = nextId_++;
    keys_[id] = upper(path);
    return RegistryKey(this, id);
}

std::optional<Text> FakeMachine::registryString(const RegistryKey& key, const Text& name) {
    const auto k = keys_.find(key.id());
    if (k == keys_.end()) return std::nullopt;
    const auto& entry = registry_.at(k->second);
    const auto it = entry.strings.find(name);
    if (it == entry.strings.end()) return std::nullopt;
    return it->second;
}

std::optional<std::uint32_t> FakeMachine::registryDword(const RegistryKey& key, const Text& name) {
    const auto k = keys_.find(key.id());
    if (k == keys_.end()) return std::nullopt;
    const auto& entry = registry_.at(k->second);
    const auto it = entry.dwords.find(name);
    if (it == entry.dwords.end()) return std::nullopt;
    return it->second;
}

void FakeMachine::closeRegistryKey(std::uintptr_t id) {
    keys_.erase(id);
}

// ---- processes ----

ProcessHandle FakeMachine::createProcess(const Text& commandLine, std::uint32_t creationFlags,
                                         std::uint32_t startupFlags, std::uint16_t showWindow) {
    ProcessRecord record{commandLine, creationFlags, startupFlags, showWindow, currentDir_, false};
    for (auto& [prefix, script] : scripts_) {
        if (!startsWith(commandLine, prefix)) continue;
        const ChildOutcome outcome = script(*this, commandLine);
        if (!outcome.starts) break;
        record.started = true;
        processes_.push_back(record);
        const auto id = nextId_++;
        processHandles_[id] = RunningProcess{outcome, 0};
        return ProcessHandle(this, id);
    }
    processes_.push_back(record);
    lastError_ = 2;
    return {};
}

WaitResult FakeMachine::waitForProcess(const ProcessHandle& process, std::uint32_t) {
    auto it = processHandles_.find(process.id());
    if (it == processHandles_.end()) return WaitResult::Failed;
    if (it->second.waits < it->second.outcome.waitsBeforeEnd) {
        ++it->second.waits;
        return WaitResult::TimedOut;
    }
    return WaitResult::Ended;
}

bool FakeMachine::processExitCode(const ProcessHandle& process, std::uint32_t& exitCode) {
    auto it = processHandles_.find(process.id());
    if (it == processHandles_.end() || !it->second.outcome.exitCodeReadable) return false;
    exitCode = it->second.outcome.exitCode;
    return true;
}

void FakeMachine::closeProcess(std::uintptr_t id) {
    processHandles_.erase(id);
}

void FakeMachine::pumpPendingMessages() {
    ++pumps_;
    if (onPump && !pumping_) {
        pumping_ = true;
        onPump();
        pumping_ = false;
    }
}

void FakeMachine::shellExecute(WindowId window, const Text& verb, const Text& file) {
    shellExecutes_.push_back({window, verb, file, currentDir_});
}

// ---- environment ----

std::optional<Text> FakeMachine::environmentVariable(const Text& name) {
    const auto it = env_.find(upper(name));
    if (it == env_.end()) return std::nullopt;
    return it->second;
}

bool FakeMachine::setCurrentDirectory(const Text& path) {
    if (!fileAttributes(path)) return false;
    Text dir = path;
    if (dir.size() > 3 && dir.back() == u'\\') dir.pop_back();
    currentDir_ = dir;
    return true;
}

std::string FakeMachine::toAnsi(const Text& text) {
    std::string out;
    for (char16_t c : text) out.push_back(c < 0x100 ? static_cast<char>(c) : '?');
    return out;
}

Text FakeMachine::fromAnsi(const std::string& bytes) {
    Text out;
    for (char c : bytes) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return out;
}

std::optional<ByteSpan> FakeMachine::rcData(const Text& name) {
    const auto it = resources_.find(upper(name));
    if (it == resources_.end()) return std::nullopt;
    return ByteSpan(it->second);
}

// ---- user interface ----

WindowId FakeMachine::createWindow(const WindowSpec& params) {
    const WindowId id = nextUiId_++;
    FakeWindow w;
    w.params = params;
    w.onTop = params.alwaysOnTop;
    windows_[id] = w;
    return id;
}

void FakeMachine::showWindow(WindowId window) {
    windows_.at(window).shown = true;
}

void FakeMachine::destroyWindow(WindowId window) {
    windows_.at(window).destroyed = true;
    for (auto& [id, c] : controls_)
        if (c.parent == window) c.destroyed = true;
}

void FakeMachine::bringToFront(WindowId window) {
    ++windows_.at(window).frontRequests;
}
void FakeMachine::setWindowEnabled(WindowId window, bool on) {
    windows_.at(window).enabled = on;
}
bool FakeMachine::windowEnabled(WindowId window) {
    return windows_.at(window).enabled;
}
void FakeMachine::setClientSize(WindowId window, int width, int height) {
    windows_.at(window).params.clientWidth = width;
    windows_.at(window).params.clientHeight = height;
}
std::pair<int, int> FakeMachine::clientSize(WindowId window) {
    return {windows_.at(window).params.clientWidth, windows_.at(window).params.clientHeight};
}
void FakeMachine::setWindowTitle(WindowId window, const Text& title) {
    windows_.at(window).params.title = title;
}
void FakeMachine::startTimer(WindowId window, std::uint32_t ms) {
    windows_.at(window).timerMs = ms;
}

ControlId FakeMachine::createControl(WindowId parent, const ControlSpec& params) {
    const ControlId id = nextUiId_++;
    FakeControl c;
    c.parent = parent;
    c.params = params;
    controls_[id] = c;
    return id;
}

void FakeMachine::destroyControl(ControlId control) {
    controls_.at(control).destroyed = true;
}
void FakeMachine::setCaption(ControlId control, const Text& text) {
    controls_.at(control).params.caption = text;
    captionHistory_[control].push_back(text);
}
std::vector<Text> FakeMachine::captionHistory(ControlId control) const {
    const auto it = captionHistory_.find(control);
    return it == captionHistory_.end() ? std::vector<Text>() : it->second;
}
Text FakeMachine::caption(ControlId control) {
    return controls_.at(control).params.caption;
}
void FakeMachine::setEnabled(ControlId control, bool on) {
    controls_.at(control).params.enabled = on;
}
bool FakeMachine::enabled(ControlId control) {
    return controls_.at(control).params.enabled;
}
void FakeMachine::setVisible(ControlId control, bool on) {
    controls_.at(control).params.visible = on;
}
void FakeMachine::setBounds(ControlId control, const Rect& rect) {
    controls_.at(control).params.rect = rect;
}
Rect FakeMachine::bounds(ControlId control) {
    return controls_.at(control).params.rect;
}
void FakeMachine::setChecked(ControlId control, bool on) {
    controls_.at(control).checked = on;
}
bool FakeMachine::checked(ControlId control) {
    return controls_.at(control).checked;
}

void FakeMachine::setItems(ControlId control, const std::vector<Text>& list) {
    auto& c = controls_.at(control);
    c.items = list;
    c.selected = -1;
    ++c.itemReplacements;
}

std::vector<Text> FakeMachine::items(ControlId control) {
    return controls_.at(control).items;
}

void FakeMachine::setSelectedIndex(ControlId control, int index) {
    auto& c = controls_.at(control);
    c.selected = (index >= 0 && index < static_cast<int>(c.items.size())) ? index : -1;
}

int FakeMachine::selectedIndex(ControlId control) {
    return controls_.at(control).selected;
}

int FakeMachine::textWidth(ControlId, const Text& text) {
    return static_cast<int>(text.size()) * 6;
}

int FakeMachine::messageDialog(const DialogSpec& params) {
    int result = params.defaultResult;
    if (dialogAnswerer) {
        result = dialogAnswerer(params);
    } else if (!answers_.empty()) {
        result = answers_.front();
        answers_.pop_front();
    }
    dialogs_.push_back({params, result});
    return result;
}

int FakeMachine::messageBox(const Text& text, const Text& caption, std::uint32_t flags) {
    messageBoxes_.push_back({text, caption, flags});
    return 1;
}

std::vector<ControlId> FakeMachine::controlsOf(WindowId window) const {
    std::vector<ControlId> out;
    for (const auto& [id, c] : controls_)
        if (c.parent == window && !c.destroyed) out.push_back(id);
    return out;
}

ControlId FakeMachine::findControl(WindowId window, const Text& text) const {
    for (const auto& [id, c] : controls_)
        if (c.parent == window && !c.destroyed && c.params.caption == text) return id;
    return 0;
}

void FakeMachine::userClick(ControlId id) {
    const auto& c = controls_.at(id);
    if (c.destroyed || !c.params.enabled || !windows_.at(c.parent).enabled) return;
    if (sink_) sink_->onClick(id);
}

void FakeMachine::userSelect(ControlId id, int index) {
    setSelectedIndex(id, index);
    if (sink_) sink_->onSelectionChange(id);
}

void FakeMachine::userType(ControlId id, const Text& text) {
    controls_.at(id).params.caption = text;
}

void FakeMachine::userClose(WindowId id) {
    if (sink_) sink_->onClose(id);
}

void FakeMachine::timerTick() {
    std::vector<WindowId> timed;
    for (const auto& [id, w] : windows_)
        if (w.timerMs != 0 && !w.destroyed) timed.push_back(id);
    for (const auto id : timed)
        if (sink_) sink_->onTimer(id);
}

}  // namespace qel::fake
