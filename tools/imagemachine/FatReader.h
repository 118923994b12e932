// Reads a FAT12/16/32 file system of an image file in-process: its whole folder tree with the
// names, attributes and sizes Windows shows, and the content of its files. It never writes; the
// FAT store writes through mtools and reads back through this.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qel::image {

struct FatNode {
    std::string name;  // the long name when there is one, else the short name as displayed
    bool directory = false;
    std::uint32_t attributes = 0;  // Windows attribute bits, FILE_ATTRIBUTE_DIRECTORY included
    std::uint64_t size = 0;
    std::uint32_t firstCluster = 0;
    std::shared_ptr<const Bytes> written;  // content the store holds for it, not yet on the volume
    std::vector<FatNode> children;
};

class FatReader {
public:
    // The file system at a byte offset of an image file; nullopt when its first sector does not
    // describe a FAT file system or the image cannot be read.
    static std::optional<FatReader> open(const std::string& imagePath, std::int64_t offset);

    // The root folder with everything under it; nullopt when a folder cannot be read.
    std::optional<FatNode> tree() const;
    std::optional<Bytes> content(const FatNode& file) const;
    // Whether an item's cluster chain is whole, as a FAT driver must find it before it reads,
    // replaces or frees the item: every link inside the volume up to an end-of-chain mark, no
    // free, bad or reserved entry on the way, no loop, and for a file clusters enough for its
    // size. Content the store holds back has no chain yet.
    bool chainIntact(const FatNode& node) const;

    bool isFat32() const { return fatBits_ == 32; }
    std::uint32_t clusterBytes() const { return clusterBytes_; }
    std::uint64_t freeClusters() const;

private:
    bool readAt(std::int64_t offset, MutableByteSpan buffer) const;
    std::uint32_t entry(std::uint32_t cluster) const;
    std::uint32_t next(std::uint32_t cluster) const;
    std::vector<std::uint32_t> chain(std::uint32_t first) const;
    std::int64_t clusterOffset(std::uint32_t cluster) const;
    std::optional<Bytes> folderBytes(std::uint32_t firstCluster) const;
    bool readFolder(FatNode& folder, int depth) const;

    std::shared_ptr<int> fd_;  // the image, opened for reading
    std::int64_t offset_ = 0;
    int fatBits_ = 0;
    std::uint32_t clusterBytes_ = 0;
    std::uint32_t clusters_ = 0;   // data clusters, numbered from 2
    std::int64_t rootOffset_ = 0;  // FAT12/16: the fixed root folder
    std::uint32_t rootBytes_ = 0;
    std::uint32_t rootCluster_ = 0;  // FAT32
    std::int64_t dataOffset_ = 0;
    Bytes fat_;
};

}  // namespace qel::image
