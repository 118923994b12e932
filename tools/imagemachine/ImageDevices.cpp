// The image machine's handles: files, the raw disk and its volumes, and their device controls.

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
            if (!content) return failIn(*at->store), Handle();
            h.content = std::move(*content);
        }
    } else if (disposition == win::OPEN_EXISTING || disposition == 5) {
        return fail(kFileNotFound), Handle();
    }
    if (truncate || !existing) {
        // The file exists from the moment it is created.
        if (!at->store->write(h.location.path, {})) return failIn(*at->store), Handle();
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
                             std::int64_t& limit, std::optional<ByteSpan> written) {
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
    releaseStoresAt(base + h.position, length, written);
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
        if (!rawAccess(h, static_cast<std::int64_t>(data.size()), base, limit, data)) return false;
        const std::int64_t first = h.position / kSectorSize;
        const std::string sectors =
            std::to_string(first) + "+" + std::to_string(data.size() / kSectorSize);
        const bool onDisk = h.kind == OpenHandle::Disk;
        const WriteDescription what{onDisk ? "disk" : "volume",
                                    (onDisk ? "disk" : volumeTarget(base)) + ":" + sectors,
                                    static_cast<std::int64_t>(data.size())};
        if (!writeDisk(what, base + h.position, data)) return fail(kInvalidParameter), false;
    }
    h.position += static_cast<std::int64_t>(data.size());
    bytesWritten = static_cast<std::uint32_t>(data.size());
    return true;
}

bool ImageMachine::writeDisk(const WriteDescription& what, std::int64_t offset, ByteSpan data) {
    return power_.write(what, offset, static_cast<std::int64_t>(data.size()),
                        [&] { return disk_.write(offset, data); });
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
    // A file's writes are stored when its handle closes, which cannot fail on Windows: a write
    // the volume refuses now is remembered for the run's end, as one refused at flush is.
    if (h.kind == OpenHandle::File && h.dirty) {
        auto& store = *h.location.store;
        const bool stored = store.write(h.location.path, h.content) &&
                            (h.createAttributes == 0 ||
                             store.setAttributes(h.location.path,
                                                 h.createAttributes | win::FILE_ATTRIBUTE_ARCHIVE));
        if (!stored && !power_.lost()) {
            lostWrites_ = true;
            say("[machine] " + h.location.path + " could not be stored on its drive");
        }
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
    if (!writeDisk({"table", "disk:0+1", kSectorSize}, 0, mbr))
        return fail(kInvalidParameter), false;
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
                releaseStore(*slot->second.second);
            return true;
        case win::FSCTL_LOCK_VOLUME:
        case win::FSCTL_UNLOCK_VOLUME:
        case win::FSCTL_ALLOW_EXTENDED_DASD_IO:
            return true;
        default:
            return fail(kInvalidFunction), false;
    }
}

}  // namespace qel::image
