#include "FileStores.h"

#include <sys/xattr.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>

namespace qel::image {

namespace fs = std::filesystem;

namespace {

std::string lower(std::string text) {
    for (auto& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool sameName(const std::string& a, const std::string& b) {
    return lower(a) == lower(b);
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

std::optional<Bytes> readHostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    Bytes content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return content;
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

// ---- FAT through mtools ----------------------------------------------------------------------

FatStore::FatStore(std::string imagePath, std::int64_t offset)
    : imagePath_(std::move(imagePath)), offset_(offset) {}

std::string FatStore::image() const {
    return imagePath_ + "@@" + std::to_string(offset_);
}

HostResult FatStore::mtools(const std::string& tool, std::vector<std::string> arguments) {
    std::vector<std::string> argv = {tool, "-i", image()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runHost(argv, {{"MTOOLS_SKIP_CHECK", "1"}, {"MTOOLSRC", "/dev/null"}});
}

namespace {

std::string fatPath(const std::string& path) {
    return "::/" + path;
}

// One entry line of mdir's listing: 8.3 name, size or <DIR>, date, time and the long name.
std::optional<StoredEntry> parseMdirLine(const std::string& line) {
    static const std::regex pattern(R"(^(.{8}) (.{3}) +(<DIR>|\d+) +\S+ +\S+( *)(.*)$)");
    std::smatch m;
    if (!std::regex_match(line, m, pattern)) return std::nullopt;
    StoredEntry entry;
    const std::string base = trimmed(m[1].str());
    const std::string ext = trimmed(m[2].str());
    if (base.empty() || base == "." || base == "..") return std::nullopt;
    entry.name = m[5].length() > 0 && m[4].length() >= 2 ? m[5].str()
                                                         : (ext.empty() ? base : base + "." + ext);
    entry.directory = m[3].str() == "<DIR>";
    entry.size = entry.directory ? 0 : std::stoull(m[3].str());
    return entry;
}

// The attribute bits of one line of mattrib's output, keyed by the path it names.
std::optional<std::pair<std::string, std::uint32_t>> parseMattribLine(const std::string& line) {
    if (line.size() < 16 || line.compare(13, 3, "::/") != 0) return std::nullopt;
    std::uint32_t bits = 0;
    if (line[2] == 'A') bits |= win::FILE_ATTRIBUTE_ARCHIVE;
    if (line[5] == 'S') bits |= win::FILE_ATTRIBUTE_SYSTEM;
    if (line[6] == 'H') bits |= win::FILE_ATTRIBUTE_HIDDEN;
    if (line[7] == 'R') bits |= win::FILE_ATTRIBUTE_READONLY;
    return std::make_pair(line.substr(13), bits);
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

}  // namespace

std::optional<std::vector<StoredEntry>> FatStore::list(const std::string& folder) {
    const std::string asked = fatPath(folder);
    const auto listing = mtools("mdir", {"-a", asked});
    if (listing.exitCode != 0) return std::nullopt;
    std::vector<StoredEntry> entries;
    bool isFolder = false;
    for (const auto& line : linesOf(listing.output)) {
        if (line.rfind("Directory for ", 0) == 0) {
            // mdir lists a file's own folder when it is given a file.
            std::string shown = line.substr(14);
            while (!shown.empty() && shown.back() == '/') shown.pop_back();
            std::string wanted = asked;
            while (!wanted.empty() && wanted.back() == '/') wanted.pop_back();
            isFolder = sameName(shown, wanted) || (shown == "::" && wanted == "::");
            continue;
        }
        if (auto entry = parseMdirLine(line)) entries.push_back(*entry);
    }
    if (!isFolder) return std::nullopt;
    std::string pattern = asked;
    if (pattern.back() != '/') pattern += '/';
    const auto attributes = mtools("mattrib", {pattern + "*"});
    for (const auto& line : linesOf(attributes.output)) {
        const auto parsed = parseMattribLine(line);
        if (!parsed) continue;
        const auto name = splitPath(parsed->first.substr(3)).second;
        for (auto& entry : entries)
            if (entry.name == name) entry.attributes = parsed->second;
    }
    for (auto& entry : entries)
        if (entry.directory) entry.attributes |= win::FILE_ATTRIBUTE_DIRECTORY;
    return entries;
}

std::optional<Bytes> FatStore::read(const std::string& path) {
    const std::string copy = scratch_.path() + "/read";
    std::error_code ignored;
    fs::remove(copy, ignored);
    if (mtools("mcopy", {"-n", fatPath(path), copy}).exitCode != 0) return std::nullopt;
    auto content = readHostFile(copy);
    fs::remove(copy, ignored);
    return content;
}

bool FatStore::write(const std::string& path, ByteSpan content) {
    const std::string source = scratch_.path() + "/write";
    if (!writeHostFile(source, content)) return false;
    const bool ok = mtools("mcopy", {"-o", source, fatPath(path)}).exitCode == 0;
    std::error_code ignored;
    fs::remove(source, ignored);
    return ok;
}

bool FatStore::remove(const std::string& path) {
    return mtools("mdel", {fatPath(path)}).exitCode == 0;
}

bool FatStore::removeDirectory(const std::string& path) {
    return mtools("mrd", {fatPath(path)}).exitCode == 0;
}

bool FatStore::makeDirectory(const std::string& path) {
    return mtools("mmd", {fatPath(path)}).exitCode == 0;
}

bool FatStore::setAttributes(const std::string& path, std::uint32_t attributes) {
    const auto flag = [&](std::uint32_t bit, const char* name) {
        return std::string(attributes & bit ? "+" : "-") + name;
    };
    return mtools("mattrib",
                  {flag(win::FILE_ATTRIBUTE_ARCHIVE, "a"), flag(win::FILE_ATTRIBUTE_READONLY, "r"),
                   flag(win::FILE_ATTRIBUTE_SYSTEM, "s"), flag(win::FILE_ATTRIBUTE_HIDDEN, "h"),
                   fatPath(path)})
               .exitCode == 0;
}

bool FatStore::importTree(const std::string& hostFolder) {
    std::vector<std::string> arguments = {"-s", "-o"};
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(hostFolder, error))
        arguments.push_back(entry.path().string());
    if (error) return false;
    if (arguments.size() == 2) return true;
    arguments.push_back("::/");
    return mtools("mcopy", arguments).exitCode == 0;
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

LoopDevice::LoopDevice(const std::string& imagePath, std::int64_t offset, std::int64_t length) {
    const auto result = runHost({"losetup", "--find", "--show", "--offset", std::to_string(offset),
                                 "--sizelimit", std::to_string(length), imagePath});
    if (result.exitCode == 0 && result.output.rfind("/dev/", 0) == 0)
        device_ = trimmed(result.output);
    else
        error_ = trimmed(result.output);
}

LoopDevice::~LoopDevice() {
    if (!device_.empty()) runHost({"losetup", "-d", device_});
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
        runHost({"losetup", "-d", loopDevice_});
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
