// Power cuts on the image machine. Every write that reaches the image is numbered in order: the
// program's raw writes to the disk and its volumes, a new partition table, each change a file
// store makes on a volume of the image (a file written, deleted, a folder made, attributes set)
// and each file and folder the extraction child puts on a volume, one by one; a formatter or an
// installer run by a child is one write.
//
// A run can be cut at write N: writes 1 to N-1 reach the image whole; of write N only the first
// K of the sectors it changes reach it (or all but the last K), in address order; then the power
// is off and nothing more reaches the image. Taking the changed sectors in address order leaves a
// FAT volume as a lost write does: a cluster chain allocated without its directory entry, or an
// entry that gives the new size while the content behind it is still the old one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <utility>

#include "DiskImage.h"
#include "FileStores.h"

namespace qel::image {

struct PowerCutOptions {
    std::int64_t cutAt = 0;           // the write during which the power goes; 0: never
    std::int64_t keepSectors = 0;     // how many of that write's changed sectors reach the image
    std::int64_t dropSectors = 0;     // if not 0: all of its changed sectors but this many do
    std::ostream* listing = nullptr;  // one line per write: number, kind, target, bytes
};

// A write as the listing names it. Targets: "disk:<sector>+<count>" for the disk,
// "vol@<first sector of the partition>" for a volume, followed by ":<path>" for a file on it.
struct WriteDescription {
    std::string kind;  // disk, volume, table, format, installer, file, delete, mkdir, rmdir,
                       // attributes, extract, extract-file, extract-dir
    std::string target;
    std::int64_t bytes = 0;
};

// The target of a write to the volume of the partition at a byte offset: "vol@<sector>".
std::string volumeTarget(std::int64_t partitionOffset);

class PowerCut {
public:
    // flush makes the image hold everything written so far (file stores let go of it); the cut
    // is reported to the log.
    PowerCut(PowerCutOptions options, DiskImage& disk, std::function<void()> flush,
             std::ostream* log);

    // True when the writes are listed or cut: the extraction is then numbered file by file.
    bool numbering() const { return options_.cutAt > 0 || options_.listing != nullptr; }
    bool lost() const { return lost_; }
    std::int64_t cutAt() const { return options_.cutAt; }
    std::int64_t nextNumber() const { return count_ + 1; }
    std::int64_t count() const { return count_; }
    const std::string& cutReport() const { return report_; }

    // Performs one write, which changes the image only within [offset, offset + length). False
    // when the power is off (the operation is not run), at the cut write, or when the operation
    // failed.
    bool write(const WriteDescription& what, std::int64_t offset, std::int64_t length,
               const std::function<bool()>& operation);
    // Numbers a write that the caller performs itself, together with others, before the cut.
    void numberDone(const WriteDescription& what);

private:
    // Sectors kept and sectors changed.
    std::pair<std::int64_t, std::int64_t> cutWrite(std::int64_t offset, std::int64_t length,
                                                   const std::function<bool()>& operation);

    PowerCutOptions options_;
    DiskImage& disk_;
    std::function<void()> flush_;
    std::ostream* log_;
    std::int64_t count_ = 0;
    bool lost_ = false;
    std::string report_;
};

// A file store on a volume of the image whose changes go through the power cut. target names the
// volume ("vol@2048"); offset and length are its partition's.
class PoweredStore : public FileStore {
public:
    PoweredStore(std::unique_ptr<FileStore> inner, PowerCut& power, std::string target,
                 std::int64_t offset, std::int64_t length);
    std::optional<std::vector<StoredEntry>> list(const std::string& folder) override {
        return inner_->list(folder);
    }
    std::optional<Bytes> read(const std::string& path) override { return inner_->read(path); }
    bool write(const std::string& path, ByteSpan content) override;
    bool remove(const std::string& path) override;
    bool removeDirectory(const std::string& path) override;
    bool makeDirectory(const std::string& path) override;
    bool setAttributes(const std::string& path, std::uint32_t attributes) override;
    bool importTree(const std::string& hostFolder) override;
    bool flush() override { return inner_->flush(); }
    void release() override { inner_->release(); }
    std::uint32_t lastError() const override { return inner_->lastError(); }

private:
    bool change(const std::string& kind, const std::string& path, std::int64_t bytes,
                const std::function<bool()>& operation);

    std::unique_ptr<FileStore> inner_;
    PowerCut& power_;
    std::string target_;
    std::int64_t offset_;
    std::int64_t length_;
};

}  // namespace qel::image
