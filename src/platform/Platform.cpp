#include "platform/Platform.h"

namespace qel {

Handle& Handle::operator=(Handle&& other) noexcept {
    if (this != &other) {
        close();
        owner_ = other.owner_;
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

void Handle::close() {
    if (id_ != 0 && owner_ != nullptr) owner_->closeHandle(id_);
    id_ = 0;
}

ProcessHandle& ProcessHandle::operator=(ProcessHandle&& other) noexcept {
    if (this != &other) {
        close();
        owner_ = other.owner_;
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

void ProcessHandle::close() {
    if (id_ != 0 && owner_ != nullptr) owner_->closeProcess(id_);
    id_ = 0;
}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
    if (this != &other) {
        close();
        owner_ = other.owner_;
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

void RegistryKey::close() {
    if (id_ != 0 && owner_ != nullptr) owner_->closeRegistryKey(id_);
    id_ = 0;
}

bool forceDirectories(Platform& sys, const Text& path) {
    Text trimmed = path;
    while (trimmed.size() > 1 && (trimmed.back() == u'\\' || trimmed.back() == u'/'))
        trimmed.pop_back();
    if (trimmed.empty()) return false;
    if (directoryExists(sys, trimmed)) return true;
    const auto cut = trimmed.find_last_of(u"\\/");
    if (cut != Text::npos && cut > 0) {
        const Text parent = trimmed.substr(0, cut);
        // A drive root ("C:") or a device prefix ("\\?\Volume{…}") ends the climb.
        const bool isRoot = parent.size() == 2 && parent[1] == u':';
        if (!isRoot && parent != u"\\\\?" && parent != u"\\\\." && !directoryExists(sys, parent) &&
            !forceDirectories(sys, parent))
            return false;
    }
    return sys.createDirectory(trimmed) || directoryExists(sys, trimmed);
}

void writeWholeFile(Platform& sys, const Text& path, ByteSpan data) {
    Handle file = sys.createFile(path, win::GENERIC_WRITE, 0, win::CREATE_ALWAYS,
                                 win::FILE_ATTRIBUTE_NORMAL);
    if (!file.valid()) throw IoError(u"Cannot create file \"" + path + u"\".");
    std::uint32_t written = 0;
    if (!sys.writeFile(file, data, written) || written != data.size())
        throw IoError(u"Error writing file \"" + path + u"\".");
}

std::optional<Bytes> readWholeFile(Platform& sys, const Text& path) {
    Handle file = sys.createFile(path, win::GENERIC_READ, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE,
                                 win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL);
    if (!file.valid()) return std::nullopt;
    Bytes content;
    std::uint8_t chunk[65536];
    for (;;) {
        std::uint32_t got = 0;
        if (!sys.readFile(file, chunk, got)) return std::nullopt;
        if (got == 0) break;
        content.insert(content.end(), chunk, chunk + got);
    }
    return content;
}

namespace {

struct NamedVersion {
    std::uint32_t major;
    std::uint32_t minor;
    const char16_t* workstation;
    const char16_t* server;
};

constexpr NamedVersion kNamedVersions[] = {
    {5, 0, u"Windows 2000", u"Windows 2000"},
    {5, 1, u"Windows XP", u"Windows XP"},
    {5, 2, u"Windows XP", u"Windows Server 2003"},  // a 5.2 workstation is 64-bit XP
    {6, 0, u"Windows Vista", u"Windows Server 2008"},
    {6, 1, u"Windows 7", u"Windows Server 2008 R2"},
    {6, 2, u"Windows 8", u"Windows Server 2012"},
    {6, 3, u"Windows 8.1", u"Windows Server 2012 R2"},
};

constexpr std::uint32_t kFirstWindows11Build = 22000;

}  // namespace

Text WindowsName(const WindowsVersion& version) {
    for (const NamedVersion& named : kNamedVersions)
        if (named.major == version.major && named.minor == version.minor)
            return version.server ? named.server : named.workstation;
    if (version.major == 10 && !version.server)
        return version.build >= kFirstWindows11Build ? u"Windows 11" : u"Windows 10";
    return (version.server ? u"Windows Server " : u"Windows ") + decimal(version.major) + u"." +
           decimal(version.minor);
}

}  // namespace qel
