// Where the files of the image machine's drives live: a FAT volume of the image (through
// mtools), an NTFS volume of the image (through a loop device and ntfs-3g's FUSE mount) and a
// plain host folder (drive C:). Paths are relative to the drive's root, with '/' between the
// names ("QEL/Menu/Others.cfg"; "" is the root); names match without regard to case, as on
// Windows. The Windows rules above the stores (read-only files, hidden files) are the machine's.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FatReader.h"
#include "HostCommand.h"
#include "platform/Platform.h"

namespace qel::image {

struct StoredEntry {
    std::string name;  // the name as stored
    bool directory = false;
    std::uint32_t attributes = 0;  // Windows attribute bits, FILE_ATTRIBUTE_DIRECTORY included
    std::uint64_t size = 0;
};

class FileStore {
public:
    virtual ~FileStore() = default;
    // The entries of a folder ("." and ".." left out); nullopt when the folder does not exist.
    virtual std::optional<std::vector<StoredEntry>> list(const std::string& folder) = 0;
    virtual std::optional<Bytes> read(const std::string& path) = 0;
    // Creates or replaces a file with the content; the parent folder must exist.
    virtual bool write(const std::string& path, ByteSpan content) = 0;
    virtual bool remove(const std::string& path) = 0;
    virtual bool removeDirectory(const std::string& path) = 0;  // an empty folder
    virtual bool makeDirectory(const std::string& path) = 0;
    virtual bool setAttributes(const std::string& path, std::uint32_t attributes) = 0;
    // Copies the files and folders under a host folder into the root, replacing files.
    virtual bool importTree(const std::string& hostFolder) = 0;
    // Puts on the image whatever the store has not written yet; false when some of it could
    // not be written.
    virtual bool flush() { return true; }
    // Lets go of whatever the store holds on the image (written-back files, what it read of the
    // file system, mounts, loop devices); what it has not written yet is written first.
    virtual void release() {}
    // The Windows error of the last operation that failed, where the store knows it better than
    // the machine: ERROR_FILE_CORRUPT for an item whose allocation on the volume is broken. 0
    // otherwise.
    virtual std::uint32_t lastError() const { return 0; }

    // The entry at a path, found through its folder's list; the root is a folder.
    std::optional<StoredEntry> stat(const std::string& path);
};

// The content of a host file.
std::optional<Bytes> readHostFile(const std::string& path);

// Splits "A/B/C" into its parent "A/B" and its name "C".
std::pair<std::string, std::string> splitPath(const std::string& path);

// A FAT12/16/32 file system at a byte offset of an image file. The store reads the volume's
// folder tree and files in-process (FatReader) and keeps that tree in memory; its own changes go
// to the tree and are written back by flush() in a few mtools calls (folders and files removed,
// every new folder and file copied in one call, attributes set by value). A write the volume may
// lack the room for is written at once, so that it fails as it would on the volume. An item whose
// cluster chain is broken is neither read, replaced nor removed: the operation fails with
// ERROR_FILE_CORRUPT, as on Windows, instead of mtools freeing clusters along the broken chain.
class FatStore : public FileStore {
public:
    FatStore(std::string imagePath, std::int64_t offset);
    ~FatStore() override;
    std::optional<std::vector<StoredEntry>> list(const std::string& folder) override;
    std::optional<Bytes> read(const std::string& path) override;
    bool write(const std::string& path, ByteSpan content) override;
    bool remove(const std::string& path) override;
    bool removeDirectory(const std::string& path) override;
    bool makeDirectory(const std::string& path) override;
    bool setAttributes(const std::string& path, std::uint32_t attributes) override;
    bool importTree(const std::string& hostFolder) override;
    bool flush() override;
    void release() override;
    std::uint32_t lastError() const override { return lastError_; }
    // The first cluster of a file as it lies on the volume, after what the store holds back is
    // written; nullopt when there is no such file or the writing failed.
    std::optional<std::uint32_t> firstClusterOf(const std::string& path);

private:
    struct Changes;
    bool load();
    void forget();
    FatNode* find(const std::string& path);
    FatNode* child(FatNode& folder, const std::string& name);
    std::uint64_t clustersFor(std::uint64_t bytes) const;
    bool mayHoldBack(const std::string& folder, std::uint64_t bytes, bool newEntry);
    bool intact(const FatNode& node);
    bool intactUnder(const std::string& hostFolder, const FatNode& folder);
    bool writeNow(const std::string& path, ByteSpan content);
    bool removeEntry(const std::string& path, bool directory);
    bool apply(const Changes& changes);
    bool copyIn(const Changes& changes);
    bool importTree(const std::string& hostFolder, bool forgetTree);
    HostResult mtools(const std::string& tool, std::vector<std::string> arguments);
    std::string image() const;
    std::string imagePath_;
    std::int64_t offset_;
    std::optional<FatReader> reader_;
    std::optional<FatNode> onVolume_;            // the tree as last read
    std::optional<FatNode> tree_;                // the tree with the store's changes
    std::optional<std::uint64_t> freeClusters_;  // counted once after the tree was read
    std::uint64_t heldBackClusters_ = 0;
    std::uint32_t lastError_ = 0;
};

// A host folder as a drive. Names are matched without case; the Windows attributes that a
// Linux file system cannot keep (hidden, system, read-only) are kept in memory by default.
class HostFolderStore : public FileStore {
public:
    explicit HostFolderStore(std::string root);
    std::optional<std::vector<StoredEntry>> list(const std::string& folder) override;
    std::optional<Bytes> read(const std::string& path) override;
    bool write(const std::string& path, ByteSpan content) override;
    bool remove(const std::string& path) override;
    bool removeDirectory(const std::string& path) override;
    bool makeDirectory(const std::string& path) override;
    bool setAttributes(const std::string& path, std::uint32_t attributes) override;
    bool importTree(const std::string& hostFolder) override;

    // The host path of a drive path, with each existing name in its stored case.
    std::string hostPath(const std::string& path);
    const std::string& root() const { return root_; }

protected:
    void setRoot(std::string root) { root_ = std::move(root); }
    virtual std::uint32_t loadAttributes(const std::string& hostPath, bool directory);
    virtual bool storeAttributes(const std::string& hostPath, std::uint32_t attributes);

private:
    std::string root_;
    std::map<std::string, std::uint32_t> attributes_;  // host path → attribute bits
};

// An NTFS file system in a byte range of an image file. It is mounted (loop device and
// ntfs-3g) when a file is first touched and unmounted again by release(); the Windows
// attributes are ntfs-3g's "system.ntfs_attrib_be" extended attribute.
class NtfsStore : public HostFolderStore {
public:
    NtfsStore(std::string imagePath, std::int64_t offset, std::int64_t length);
    ~NtfsStore() override;
    std::optional<std::vector<StoredEntry>> list(const std::string& folder) override;
    std::optional<Bytes> read(const std::string& path) override;
    bool write(const std::string& path, ByteSpan content) override;
    bool remove(const std::string& path) override;
    bool removeDirectory(const std::string& path) override;
    bool makeDirectory(const std::string& path) override;
    bool setAttributes(const std::string& path, std::uint32_t attributes) override;
    bool importTree(const std::string& hostFolder) override;
    void release() override;

protected:
    std::uint32_t loadAttributes(const std::string& hostPath, bool directory) override;
    bool storeAttributes(const std::string& hostPath, std::uint32_t attributes) override;

private:
    bool mount();
    std::string imagePath_;
    std::int64_t offset_;
    std::int64_t length_;
    TemporaryFolder mountPoint_{"qel-ntfs-"};
    std::string loopDevice_;
    bool mounted_ = false;
};

// Attaches a loop device to a byte range of an image file; detached when the object goes.
class LoopDevice {
public:
    LoopDevice(const std::string& imagePath, std::int64_t offset, std::int64_t length);
    ~LoopDevice();
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    bool attached() const { return !device_.empty(); }
    const std::string& device() const { return device_; }
    const std::string& error() const { return error_; }
    std::string release();  // hands the device over to the caller, who detaches it

private:
    std::string device_;
    std::string error_;
};

}  // namespace qel::image
