#include "PowerCut.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

namespace qel::image {

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kChunk = std::int64_t{1} << 20;

bool allZero(ByteSpan bytes) {
    return bytes.empty() ||
           (bytes[0] == 0 && std::memcmp(bytes.data(), bytes.data() + 1, bytes.size() - 1) == 0);
}

// The bytes of a region of the image before a write: the chunks that hold anything but zeros,
// kept in a temporary file, so that a sparse image costs only what it holds.
class RegionCopy {
public:
    RegionCopy(const DiskImage& disk, std::int64_t offset, std::int64_t length) {
        file_.open(folder_.path() + "/region",
                   std::ios::in | std::ios::out | std::ios::binary | std::ios::trunc);
        Bytes chunk(static_cast<std::size_t>(kChunk));
        for (std::int64_t at = 0; at < length && ok_; at += kChunk) {
            const auto size = static_cast<std::size_t>(std::min(kChunk, length - at));
            const MutableByteSpan bytes = MutableByteSpan(chunk).first(size);
            ok_ = file_.good() && disk.read(offset + at, bytes);
            if (!ok_ || allZero(bytes)) continue;
            stored_[at] = file_.tellp();
            file_.write(reinterpret_cast<const char*>(bytes.data()),
                        static_cast<std::streamsize>(size));
        }
        ok_ = ok_ && file_.good();
    }
    bool ok() const { return ok_; }

    // The old bytes of the chunk at a position of the region.
    bool chunk(std::int64_t at, MutableByteSpan out) {
        const auto it = stored_.find(at);
        if (it == stored_.end()) {
            std::fill(out.begin(), out.end(), 0);
            return true;
        }
        file_.seekg(it->second);
        file_.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
        return file_.good();
    }

private:
    TemporaryFolder folder_{"qel-cut-"};
    std::fstream file_;
    std::map<std::int64_t, std::streamoff> stored_;  // chunk position → place in the file
    bool ok_ = true;
};

}  // namespace

std::string volumeTarget(std::int64_t partitionOffset) {
    return "vol@" + std::to_string(partitionOffset / kSectorSize);
}

PowerCut::PowerCut(PowerCutOptions options, DiskImage& disk, std::function<void()> flush,
                   std::ostream* log)
    : options_(options), disk_(disk), flush_(std::move(flush)), log_(log) {}

void PowerCut::numberDone(const WriteDescription& what) {
    ++count_;
    if (options_.listing)
        *options_.listing << count_ << '\t' << what.kind << '\t' << what.target << '\t'
                          << what.bytes << '\n';
}

bool PowerCut::write(const WriteDescription& what, std::int64_t offset, std::int64_t length,
                     const std::function<bool()>& operation) {
    if (lost_) return false;
    numberDone(what);
    if (count_ != options_.cutAt) return operation();
    const auto [kept, changed] = cutWrite(offset, length, operation);
    lost_ = true;
    report_ = "the power went during write " + std::to_string(count_) + " (" + what.kind + " " +
              what.target + "): " + std::to_string(kept) + " of its " + std::to_string(changed) +
              " changed sectors reached the image";
    if (log_) *log_ << "[power] " << report_ << '\n' << std::flush;
    return false;
}

// Runs the write whole, then puts back what it changed after the first keepSectors sectors.
std::pair<std::int64_t, std::int64_t> PowerCut::cutWrite(std::int64_t offset, std::int64_t length,
                                                         const std::function<bool()>& operation) {
    flush_();
    RegionCopy before(disk_, offset, length);
    if (!before.ok()) return {0, 0};
    operation();
    flush_();
    std::vector<std::int64_t> changed;  // positions in the region
    Bytes now(static_cast<std::size_t>(kChunk)), old(static_cast<std::size_t>(kChunk));
    for (std::int64_t at = 0; at < length; at += kChunk) {
        const auto size = static_cast<std::size_t>(std::min(kChunk, length - at));
        if (!disk_.read(offset + at, MutableByteSpan(now).first(size)) ||
            !before.chunk(at, MutableByteSpan(old).first(size)))
            continue;
        for (std::size_t s = 0; s < size; s += kSectorSize)
            if (std::memcmp(now.data() + s, old.data() + s,
                            std::min<std::size_t>(kSectorSize, size - s)) != 0)
                changed.push_back(at + static_cast<std::int64_t>(s));
    }
    const auto total = static_cast<std::int64_t>(changed.size());
    const std::int64_t kept = std::clamp<std::int64_t>(
        options_.dropSectors > 0 ? total - options_.dropSectors : options_.keepSectors, 0, total);
    // What the write changed after the kept sectors goes back to what it was.
    std::int64_t loaded = -1;
    for (auto i = static_cast<std::size_t>(kept); i < changed.size(); ++i) {
        const std::int64_t at = changed[i] / kChunk * kChunk;
        const auto size = static_cast<std::size_t>(std::min(kChunk, length - at));
        if (at != loaded && !before.chunk(at, MutableByteSpan(old).first(size))) continue;
        loaded = at;
        const auto s = static_cast<std::size_t>(changed[i] - at);
        disk_.write(offset + changed[i],
                    ByteSpan(old).subspan(s, std::min<std::size_t>(kSectorSize, size - s)));
    }
    return {kept, total};
}

// ---- file stores -----------------------------------------------------------------------------

PoweredStore::PoweredStore(std::unique_ptr<FileStore> inner, PowerCut& power, std::string target,
                           std::int64_t offset, std::int64_t length)
    : inner_(std::move(inner)),
      power_(power),
      target_(std::move(target)),
      offset_(offset),
      length_(length) {}

bool PoweredStore::change(const std::string& kind, const std::string& path, std::int64_t bytes,
                          const std::function<bool()>& operation) {
    return power_.write({kind, target_ + ":" + path, bytes}, offset_, length_, operation);
}

bool PoweredStore::write(const std::string& path, ByteSpan content) {
    return change("file", path, static_cast<std::int64_t>(content.size()),
                  [&] { return inner_->write(path, content); });
}

bool PoweredStore::remove(const std::string& path) {
    return change("delete", path, 0, [&] { return inner_->remove(path); });
}

bool PoweredStore::removeDirectory(const std::string& path) {
    return change("rmdir", path, 0, [&] { return inner_->removeDirectory(path); });
}

bool PoweredStore::makeDirectory(const std::string& path) {
    return change("mkdir", path, 0, [&] { return inner_->makeDirectory(path); });
}

bool PoweredStore::setAttributes(const std::string& path, std::uint32_t attributes) {
    return change("attributes", path, attributes,
                  [&] { return inner_->setAttributes(path, attributes); });
}

namespace {

struct TreeEntry {
    std::string path;  // relative, '/' between names
    bool directory = false;
    std::int64_t bytes = 0;
};

// The folders and files under a host folder in the order an extractor writes them: by name,
// each folder before what it holds.
void walkTree(const fs::path& root, const std::string& relative, std::vector<TreeEntry>& out) {
    std::vector<fs::directory_entry> entries;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(root / relative, error))
        entries.push_back(entry);
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.path().filename() < b.path().filename();
    });
    for (const auto& entry : entries) {
        const std::string path =
            (relative.empty() ? "" : relative + "/") + entry.path().filename().string();
        const bool directory = entry.is_directory(error);
        out.push_back(
            {path, directory, directory ? 0 : static_cast<std::int64_t>(entry.file_size(error))});
        if (directory) walkTree(root, path, out);
    }
}

}  // namespace

// The extraction child's output. Numbered file by file when the writes are listed or cut; when
// the cut falls inside it, what comes before the cut is imported at once and the cut file alone.
bool PoweredStore::importTree(const std::string& hostFolder) {
    if (!power_.numbering())
        return change("extract", "", 0, [&] { return inner_->importTree(hostFolder); });
    if (power_.lost()) return false;
    std::vector<TreeEntry> entries;
    walkTree(hostFolder, "", entries);
    const std::int64_t first = power_.nextNumber();
    const std::int64_t cut = power_.cutAt();
    const bool cutInside = cut >= first && cut < first + static_cast<std::int64_t>(entries.size());
    const std::size_t before = cutInside ? static_cast<std::size_t>(cut - first) : entries.size();

    TemporaryFolder partial("qel-cut-tree-");
    for (std::size_t i = 0; i < before && cutInside; ++i) {
        const fs::path to = fs::path(partial.path()) / entries[i].path;
        std::error_code error;
        if (entries[i].directory) {
            fs::create_directories(to, error);
        } else {
            fs::create_hard_link(fs::path(hostFolder) / entries[i].path, to, error);
            if (error) fs::copy_file(fs::path(hostFolder) / entries[i].path, to, error);
        }
        if (error) return false;
    }
    for (std::size_t i = 0; i < before; ++i)
        power_.numberDone({entries[i].directory ? "extract-dir" : "extract-file",
                           target_ + ":" + entries[i].path, entries[i].bytes});
    if (!cutInside) return inner_->importTree(hostFolder);
    if (before > 0 && !inner_->importTree(partial.path())) return false;

    const TreeEntry& at = entries[before];
    const fs::path source = fs::path(hostFolder) / at.path;
    return change(at.directory ? "extract-dir" : "extract-file", at.path, at.bytes, [&] {
        if (at.directory) return inner_->makeDirectory(at.path);
        std::ifstream in(source, std::ios::binary);
        const Bytes content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return inner_->write(at.path, content);
    });
}

}  // namespace qel::image
