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

}  // namespace qel
