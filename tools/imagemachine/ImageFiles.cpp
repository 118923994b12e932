// The image machine's file-system calls on the drives' file stores.

#include "ImageMachine.h"
#include "MachineShared.h"
#include "disk/Records.h"

namespace qel::image {

using namespace machine;

// ---- file system -----------------------------------------------------------------------------

void ImageMachine::failIn(const FileStore& store) {
    fail(store.lastError() != 0 ? store.lastError() : kAccessDenied);
}

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
           (failIn(*at->store), false);
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
    if (!content) return failIn(*source->store), false;
    if (!target->store->write(target->path, *content)) return failIn(*target->store), false;
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

}  // namespace qel::image
