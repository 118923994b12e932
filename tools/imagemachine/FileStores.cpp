#include "FileStores.h"

#include <sys/xattr.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unordered_map>

#include "MachineShared.h"

namespace qel::image {

namespace fs = std::filesystem;

namespace {

std::string lower(std::string text) {
    for (auto& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

char lowerChar(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerChar(a[i]) != lowerChar(b[i])) return false;
    return true;
}

std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto end = path.find('/', start);
        const auto part =
            path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!part.empty()) out.push_back(part);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return out;
}

bool writeHostFile(const std::string& path, ByteSpan content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(content.data()),
              static_cast<std::streamsize>(content.size()));
    out.close();
    return !out.fail();
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

}  // namespace

std::optional<Bytes> readHostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return std::nullopt;
    const auto size = in.tellg();
    if (size < 0) return std::nullopt;
    Bytes content(static_cast<std::size_t>(size));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(content.data()), size);
    if (!in) return std::nullopt;
    return content;
}

std::pair<std::string, std::string> splitPath(const std::string& path) {
    const auto cut = path.find_last_of('/');
    if (cut == std::string::npos) return {"", path};
    return {path.substr(0, cut), path.substr(cut + 1)};
}

std::optional<StoredEntry> FileStore::stat(const std::string& path) {
    if (components(path).empty()) return StoredEntry{"", true, win::FILE_ATTRIBUTE_DIRECTORY, 0};
    const auto [folder, name] = splitPath(path);
    const auto entries = list(folder);
    if (!entries) return std::nullopt;
    for (const auto& entry : *entries)
        if (sameName(entry.name, name)) return entry;
    return std::nullopt;
}

// ---- FAT: read in-process, written through mtools ---------------------------------------------

namespace {

constexpr std::uint32_t kFatAttributeBits = win::FILE_ATTRIBUTE_ARCHIVE |
                                            win::FILE_ATTRIBUTE_READONLY |
                                            win::FILE_ATTRIBUTE_SYSTEM | win::FILE_ATTRIBUTE_HIDDEN;
// Clusters kept free beyond what the held-back changes are counted to need.
constexpr std::uint64_t kSpareClusters = 16;

std::string fatPath(const std::string& path) {
    return "::/" + path;
}

std::string joined(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

// A name a FAT long-name entry can hold as it is.
bool validFatName(const std::string& name) {
    if (name.empty() || name.size() > 255 || name == "." || name == "..") return false;
    if (name.back() == '.' || name.back() == ' ') return false;
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || std::strchr("\"*/:<>?\\|", c)) return false;
    return true;
}

std::vector<std::string> attributeSwitches(std::uint32_t attributes) {
    const auto flag = [&](std::uint32_t bit, const char* name) {
        return std::string(attributes & bit ? "+" : "-") + name;
    };
    return {flag(win::FILE_ATTRIBUTE_ARCHIVE, "a"), flag(win::FILE_ATTRIBUTE_READONLY, "r"),
            flag(win::FILE_ATTRIBUTE_SYSTEM, "s"), flag(win::FILE_ATTRIBUTE_HIDDEN, "h")};
}

// The entry of a folder with a name, found without regard to case.
template <typename Node>
Node* childNamed(Node* folder, const std::string& name) {
    if (!folder) return nullptr;
    for (auto& child : folder->children)
        if (sameName(child.name, name)) return &child;
    return nullptr;
}

}  // namespace

// What flush() has to do to bring the volume from the tree as read to the tree as changed.
struct FatStore::Changes {
    std::vector<std::string> removedFolders, removedFiles, newFolders;
    std::vector<std::pair<std::string, std::shared_ptr<const Bytes>>> newFiles;
    std::map<std::uint32_t, std::vector<std::string>> attributes;  // bits → paths

    bool empty() const {
        return removedFolders.empty() && removedFiles.empty() && newFolders.empty() &&
               newFiles.empty() && attributes.empty();
    }

    void collect(const FatNode* before, const FatNode& now, const std::string& path) {
        const auto beforeByName = byName(before);
        const auto nowByName = byName(&now);
        const auto find = [](const auto& names, const std::string& name) -> const FatNode* {
            const auto it = names.find(lower(name));
            return it == names.end() ? nullptr : it->second;
        };
        if (before)
            for (const auto& old : before->children) {
                const FatNode* kept = find(nowByName, old.name);
                if (kept && kept->directory == old.directory) continue;
                (old.directory ? removedFolders : removedFiles).push_back(joined(path, old.name));
            }
        for (const auto& node : now.children) {
            const FatNode* old = find(beforeByName, node.name);
            if (old && old->directory != node.directory) old = nullptr;
            const std::string at = joined(path, node.name);
            std::uint32_t after = old ? old->attributes : node.attributes;
            if (node.directory) {
                if (!old) newFolders.push_back(at), after = win::FILE_ATTRIBUTE_DIRECTORY;
                collect(old, node, at);
            } else if (node.written) {
                newFiles.emplace_back(at, node.written);
                after = win::FILE_ATTRIBUTE_ARCHIVE;  // what mcopy gives a file it writes
            }
            if (node.attributes != after) attributes[node.attributes].push_back(at);
        }
    }

    static std::unordered_map<std::string, const FatNode*> byName(const FatNode* folder) {
        std::unordered_map<std::string, const FatNode*> names;
        if (folder)
            for (const auto& child : folder->children) names.emplace(lower(child.name), &child);
        return names;
    }
};

FatStore::FatStore(std::string imagePath, std::int64_t offset)
    : imagePath_(std::move(imagePath)), offset_(offset) {}

FatStore::~FatStore() {
    flush();
}

std::string FatStore::image() const {
    return imagePath_ + "@@" + std::to_string(offset_);
}

HostResult FatStore::mtools(const std::string& tool, std::vector<std::string> arguments) {
    std::vector<std::string> argv = {tool, "-i", image()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runHost(argv, {{"MTOOLS_SKIP_CHECK", "1"}, {"MTOOLSRC", "/dev/null"}});
}

bool FatStore::load() {
    if (tree_) return true;
    reader_ = FatReader::open(imagePath_, offset_);
    if (reader_) onVolume_ = reader_->tree();
    if (!onVolume_) return forget(), false;
    tree_ = onVolume_;
    freeClusters_.reset();
    heldBackClusters_ = 0;
    return true;
}

void FatStore::forget() {
    tree_.reset();
    onVolume_.reset();
    reader_.reset();
    heldBackClusters_ = 0;
}

FatNode* FatStore::find(const std::string& path) {
    if (!load()) return nullptr;
    FatNode* at = &*tree_;
    for (const auto& name : components(path)) {
        if (!at->directory) return nullptr;
        at = childNamed(at, name);
        if (!at) return nullptr;
    }
    return at;
}

std::uint64_t FatStore::clustersFor(std::uint64_t bytes) const {
    const std::uint64_t unit = reader_->clusterBytes();
    return (bytes + unit - 1) / unit;
}

// Whether a change may wait for flush(): the volume has room for it and everything held back,
// counting a cluster for every new entry's folder. The fixed root folder of FAT12/16 may be
// full, so new entries there are never held back.
bool FatStore::mayHoldBack(const std::string& folder, std::uint64_t bytes, bool newEntry) {
    if (newEntry && components(folder).empty() && !reader_->isFat32()) return false;
    const std::uint64_t need = clustersFor(bytes) + (newEntry ? 1 : 0);
    if (!freeClusters_) freeClusters_ = reader_->freeClusters();
    if (heldBackClusters_ + need + kSpareClusters > *freeClusters_) return false;
    heldBackClusters_ += need;
    return true;
}

// Whether an item on the volume may be read, replaced or removed: a broken chain fails the
// operation with ERROR_FILE_CORRUPT.
bool FatStore::intact(const FatNode& node) {
    if (reader_->chainIntact(node)) return true;
    lastError_ = machine::kFileCorrupt;
    return false;
}

// Whether every file on the volume that a copy of a host folder into a folder replaces is intact.
bool FatStore::intactUnder(const std::string& hostFolder, const FatNode& folder) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(hostFolder, error)) {
        const FatNode* node = childNamed(&folder, entry.path().filename().string());
        if (!node || node->directory != entry.is_directory(error)) continue;
        if (node->directory ? !intactUnder(entry.path().string(), *node) : !intact(*node))
            return false;
    }
    return true;
}

std::optional<std::vector<StoredEntry>> FatStore::list(const std::string& folder) {
    const FatNode* node = find(folder);
    if (!node || !node->directory) return std::nullopt;
    std::vector<StoredEntry> entries;
    for (const auto& child : node->children)
        entries.push_back({child.name, child.directory, child.attributes, child.size});
    return entries;
}

std::optional<Bytes> FatStore::read(const std::string& path) {
    lastError_ = 0;
    const FatNode* node = find(path);
    if (!node || node->directory || !intact(*node)) return std::nullopt;
    return reader_->content(*node);
}

bool FatStore::write(const std::string& path, ByteSpan content) {
    lastError_ = 0;
    const auto [folder, name] = splitPath(path);
    FatNode* parent = find(folder);
    if (!parent || !parent->directory || !validFatName(name)) return false;
    FatNode* file = childNamed(parent, name);
    if (file && (file->directory || !intact(*file))) return false;
    if (!mayHoldBack(folder, content.size(), !file)) return writeNow(path, content);
    if (!file) file = &parent->children.emplace_back();
    *file = FatNode{};
    file->name = name;  // a replaced file takes the name as written, as mcopy leaves it
    file->attributes = win::FILE_ATTRIBUTE_ARCHIVE;
    file->size = content.size();
    file->written = std::make_shared<const Bytes>(content.begin(), content.end());
    return true;
}

// Writes one file at once, after everything held back.
bool FatStore::writeNow(const std::string& path, ByteSpan content) {
    if (!flush()) return false;
    const TemporaryFolder scratch("qel-fat-");
    const std::string source = scratch.path() + "/write";
    const bool ok = writeHostFile(source, content) &&
                    mtools("mcopy", {"-o", source, fatPath(path)}).exitCode == 0;
    forget();
    return ok;
}

bool FatStore::removeEntry(const std::string& path, bool directory) {
    lastError_ = 0;
    const auto [folder, name] = splitPath(path);
    FatNode* parent = find(folder);
    if (!parent || !parent->directory || components(path).empty()) return false;
    auto& children = parent->children;
    for (auto it = children.begin(); it != children.end(); ++it) {
        if (!sameName(it->name, name)) continue;
        if (it->directory != directory || (directory && !it->children.empty()) || !intact(*it))
            return false;
        children.erase(it);
        return true;
    }
    return false;
}

bool FatStore::remove(const std::string& path) {
    return removeEntry(path, false);
}

bool FatStore::removeDirectory(const std::string& path) {
    return removeEntry(path, true);
}

bool FatStore::makeDirectory(const std::string& path) {
    const auto [folder, name] = splitPath(path);
    FatNode* parent = find(folder);
    if (!parent || !parent->directory || !validFatName(name) || childNamed(parent, name))
        return false;
    if (!mayHoldBack(folder, reader_->clusterBytes(), true)) {
        const bool ok = flush() && mtools("mmd", {fatPath(path)}).exitCode == 0;
        forget();
        return ok;
    }
    FatNode& made = parent->children.emplace_back();
    made.name = name;
    made.directory = true;
    made.attributes = win::FILE_ATTRIBUTE_DIRECTORY;
    return true;
}

bool FatStore::setAttributes(const std::string& path, std::uint32_t attributes) {
    FatNode* node = find(path);
    if (!node || components(path).empty()) return false;
    node->attributes =
        (attributes & kFatAttributeBits) | (node->directory ? win::FILE_ATTRIBUTE_DIRECTORY : 0u);
    return true;
}

bool FatStore::importTree(const std::string& hostFolder) {
    lastError_ = 0;
    if (!flush() || !load()) return false;
    if (!intactUnder(hostFolder, *tree_)) return false;
    return importTree(hostFolder, true);
}

// The tree goes in with one mcopy call, the way a user would copy it.
bool FatStore::importTree(const std::string& hostFolder, bool forgetTree) {
    std::vector<std::string> arguments = {"-s", "-o"};
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(hostFolder, error))
        arguments.push_back(entry.path().string());
    if (error) return false;
    if (arguments.size() == 2) return true;
    arguments.push_back("::/");
    const bool ok = mtools("mcopy", arguments).exitCode == 0;
    if (forgetTree) forget();
    return ok;
}

// The new folders and files staged under their paths in a scratch folder, then copied in with
// one mcopy call, which makes the folders as mmd would.
bool FatStore::copyIn(const Changes& changes) {
    std::uint64_t bytes = 0;
    for (const auto& file : changes.newFiles) bytes += file.second->size();
    TemporaryFolder staged("qel-fat-", 2 * bytes + (1 << 20));
    std::error_code error;
    for (const auto& folder : changes.newFolders)
        fs::create_directories(fs::path(staged.path()) / folder, error);
    for (const auto& [path, content] : changes.newFiles) {
        const fs::path at = fs::path(staged.path()) / path;
        fs::create_directories(at.parent_path(), error);
        if (!writeHostFile(at.string(), *content)) return false;
    }
    return importTree(staged.path(), false);
}

bool FatStore::flush() {
    if (!tree_) return true;
    Changes changes;
    changes.collect(&*onVolume_, *tree_, "");
    if (changes.empty()) return true;
    const bool ok = apply(changes);
    forget();
    return ok;
}

void FatStore::release() {
    flush();
    forget();
}

std::optional<std::uint32_t> FatStore::firstClusterOf(const std::string& path) {
    if (!flush()) return std::nullopt;
    const FatNode* file = find(path);
    if (!file || file->directory) return std::nullopt;
    return file->firstCluster;
}

// Removals first (whole folders, then files), then every new folder and file in one recursive
// copy of a staged tree, then the attributes, one call per value.
bool FatStore::apply(const Changes& changes) {
    bool ok = true;
    const auto each = [&](const std::string& tool, std::vector<std::string> arguments,
                          const std::vector<std::string>& paths) {
        if (paths.empty()) return;
        for (const auto& path : paths) arguments.push_back(fatPath(path));
        ok = mtools(tool, std::move(arguments)).exitCode == 0 && ok;
    };
    each("mdeltree", {}, changes.removedFolders);
    each("mdel", {}, changes.removedFiles);
    if (!changes.newFolders.empty() || !changes.newFiles.empty()) ok = copyIn(changes) && ok;
    for (const auto& [bits, paths] : changes.attributes)
        each("mattrib", attributeSwitches(bits), paths);
    return ok;
}

// ---- host folders ----------------------------------------------------------------------------

HostFolderStore::HostFolderStore(std::string root) : root_(std::move(root)) {}

std::string HostFolderStore::hostPath(const std::string& path) {
    fs::path at = root_;
    for (const auto& name : components(path)) {
        fs::path next = at / name;
        std::error_code error;
        if (!fs::exists(next, error)) {
            for (const auto& entry : fs::directory_iterator(at, error))
                if (sameName(entry.path().filename().string(), name)) {
                    next = entry.path();
                    break;
                }
        }
        at = next;
    }
    return at.string();
}

std::uint32_t HostFolderStore::loadAttributes(const std::string& hostPath, bool directory) {
    const auto it = attributes_.find(hostPath);
    if (it != attributes_.end()) return it->second;
    return directory ? win::FILE_ATTRIBUTE_DIRECTORY : win::FILE_ATTRIBUTE_ARCHIVE;
}

bool HostFolderStore::storeAttributes(const std::string& hostPath, std::uint32_t attributes) {
    attributes_[hostPath] = attributes;
    return true;
}

std::optional<std::vector<StoredEntry>> HostFolderStore::list(const std::string& folder) {
    const std::string at = hostPath(folder);
    std::error_code error;
    if (!fs::is_directory(at, error)) return std::nullopt;
    std::vector<StoredEntry> entries;
    for (const auto& item : fs::directory_iterator(at, error)) {
        StoredEntry entry;
        entry.name = item.path().filename().string();
        entry.directory = item.is_directory(error);
        entry.size = entry.directory ? 0 : item.file_size(error);
        entry.attributes = loadAttributes(item.path().string(), entry.directory);
        if (entry.directory) entry.attributes |= win::FILE_ATTRIBUTE_DIRECTORY;
        entries.push_back(entry);
    }
    return entries;
}

std::optional<Bytes> HostFolderStore::read(const std::string& path) {
    return readHostFile(hostPath(path));
}

bool HostFolderStore::write(const std::string& path, ByteSpan content) {
    const std::string at = hostPath(path);
    std::error_code error;
    if (!fs::is_directory(fs::path(at).parent_path(), error)) return false;
    if (!writeHostFile(at, content)) return false;
    return storeAttributes(at, win::FILE_ATTRIBUTE_ARCHIVE);
}

bool HostFolderStore::remove(const std::string& path) {
    const std::string at = hostPath(path);
    std::error_code error;
    if (fs::is_directory(at, error) || !fs::remove(at, error)) return false;
    attributes_.erase(at);
    return true;
}

bool HostFolderStore::removeDirectory(const std::string& path) {
    const std::string at = hostPath(path);
    std::error_code error;
    if (!fs::is_directory(at, error) || !fs::remove(at, error)) return false;
    attributes_.erase(at);
    return true;
}

bool HostFolderStore::makeDirectory(const std::string& path) {
    std::error_code error;
    return fs::create_directory(hostPath(path), error);
}

bool HostFolderStore::setAttributes(const std::string& path, std::uint32_t attributes) {
    const std::string at = hostPath(path);
    std::error_code error;
    if (!fs::exists(at, error)) return false;
    if (fs::is_directory(at, error)) attributes |= win::FILE_ATTRIBUTE_DIRECTORY;
    return storeAttributes(at, attributes);
}

bool HostFolderStore::importTree(const std::string& hostFolder) {
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(hostFolder, error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (error) return false;
        const std::string relative = fs::relative(it->path(), hostFolder, error).string();
        if (it->is_directory(error)) {
            const std::string at = hostPath(relative);
            if (!fs::is_directory(at, error) && !fs::create_directory(at, error)) return false;
        } else {
            const auto content = readHostFile(it->path().string());
            if (!content || !write(relative, *content)) return false;
        }
    }
    return !error;
}

// ---- NTFS through a loop device and ntfs-3g ----------------------------------------------------

namespace {

// Detaches a loop device and waits until the kernel has let it go. While a process still holds
// the device (ntfs-3g for a moment after its mount is gone), the kernel only marks it to be
// cleared at the last close; returning before then would leave the image in use after the run.
void detachLoopDevice(const std::string& device) {
    runHost({"losetup", "-d", device});
    const std::string attached =
        "/sys/block/" + fs::path(device).filename().string() + "/loop/backing_file";
    std::error_code error;
    for (int wait = 0; wait < 1000 && fs::exists(attached, error); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

}  // namespace

LoopDevice::LoopDevice(const std::string& imagePath, std::int64_t offset, std::int64_t length) {
    const auto result = runHost({"losetup", "--find", "--show", "--offset", std::to_string(offset),
                                 "--sizelimit", std::to_string(length), imagePath});
    if (result.exitCode == 0 && result.output.rfind("/dev/", 0) == 0)
        device_ = trimmed(result.output);
    else
        error_ = trimmed(result.output);
}

LoopDevice::~LoopDevice() {
    if (!device_.empty()) detachLoopDevice(device_);
}

std::string LoopDevice::release() {
    return std::exchange(device_, std::string());
}

NtfsStore::NtfsStore(std::string imagePath, std::int64_t offset, std::int64_t length)
    : HostFolderStore(""), imagePath_(std::move(imagePath)), offset_(offset), length_(length) {
    setRoot(mountPoint_.path());
}

NtfsStore::~NtfsStore() {
    release();
}

bool NtfsStore::mount() {
    if (mounted_) return true;
    LoopDevice loop(imagePath_, offset_, length_);
    if (!loop.attached()) return false;
    if (runHost({"ntfs-3g", loop.device(), mountPoint_.path()}).exitCode != 0) return false;
    loopDevice_ = loop.release();
    mounted_ = true;
    return true;
}

void NtfsStore::release() {
    if (mounted_) {
        // A fuseblk mount is written back before umount returns.
        runHost({"umount", mountPoint_.path()});
        mounted_ = false;
    }
    if (!loopDevice_.empty()) {
        detachLoopDevice(loopDevice_);
        loopDevice_.clear();
    }
}

std::uint32_t NtfsStore::loadAttributes(const std::string& hostPath, bool directory) {
    std::uint8_t raw[4] = {};
    if (::getxattr(hostPath.c_str(), "system.ntfs_attrib_be", raw, sizeof raw) != 4)
        return HostFolderStore::loadAttributes(hostPath, directory);
    return (std::uint32_t{raw[0]} << 24) | (std::uint32_t{raw[1]} << 16) |
           (std::uint32_t{raw[2]} << 8) | raw[3];
}

bool NtfsStore::storeAttributes(const std::string& hostPath, std::uint32_t attributes) {
    const std::uint8_t raw[4] = {
        static_cast<std::uint8_t>(attributes >> 24), static_cast<std::uint8_t>(attributes >> 16),
        static_cast<std::uint8_t>(attributes >> 8), static_cast<std::uint8_t>(attributes)};
    return ::setxattr(hostPath.c_str(), "system.ntfs_attrib_be", raw, sizeof raw, 0) == 0;
}

std::optional<std::vector<StoredEntry>> NtfsStore::list(const std::string& folder) {
    if (!mount()) return std::nullopt;
    return HostFolderStore::list(folder);
}
std::optional<Bytes> NtfsStore::read(const std::string& path) {
    if (!mount()) return std::nullopt;
    return HostFolderStore::read(path);
}
bool NtfsStore::write(const std::string& path, ByteSpan content) {
    return mount() && HostFolderStore::write(path, content);
}
bool NtfsStore::remove(const std::string& path) {
    return mount() && HostFolderStore::remove(path);
}
bool NtfsStore::removeDirectory(const std::string& path) {
    return mount() && HostFolderStore::removeDirectory(path);
}
bool NtfsStore::makeDirectory(const std::string& path) {
    return mount() && HostFolderStore::makeDirectory(path);
}
bool NtfsStore::setAttributes(const std::string& path, std::uint32_t attributes) {
    return mount() && HostFolderStore::setAttributes(path, attributes);
}
bool NtfsStore::importTree(const std::string& hostFolder) {
    return mount() && HostFolderStore::importTree(hostFolder);
}

}  // namespace qel::image
