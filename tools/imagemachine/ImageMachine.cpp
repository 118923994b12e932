#include "ImageMachine.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "MachineShared.h"

namespace qel::image {

using namespace machine;

// ---- set-up ----------------------------------------------------------------------------------

ImageMachine::ImageMachine(ImageMachineOptions options)
    : options_(std::move(options)),
      ownHostFolder_(options_.hostFolder.empty() ? std::make_unique<TemporaryFolder>("qel-drive-c-")
                                                 : nullptr),
      hostFolder_(ownHostFolder_ ? ownHostFolder_->path() : options_.hostFolder),
      disk_(options_.imagePath),
      power_(
          options_.powerCut, disk_, [this] { releaseStores(); }, options_.log),
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
            auto content = readHostFile(file);
            if (!content) break;
            resources_[key] = std::move(*content);
        }
    }
    const auto it = resources_.find(key);
    if (it == resources_.end()) return std::nullopt;
    return ByteSpan(it->second);
}

}  // namespace qel::image
