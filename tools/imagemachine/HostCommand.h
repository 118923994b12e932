// Running Linux programs for the image machine: the tools that stand in for Windows' own (mtools,
// mkfs.fat, mkntfs, syslinux, 7zz, losetup, ntfs-3g).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qel::image {

struct HostResult {
    int exitCode = -1;   // -1: the program could not be started or was killed by a signal
    std::string output;  // standard output and standard error, interleaved
};

// Runs argv[0] (searched in PATH) with the arguments, waits for it and collects its output.
// Extra environment variables are added to the inherited environment.
HostResult runHost(const std::vector<std::string>& argv,
                   const std::map<std::string, std::string>& environment = {},
                   const std::string& standardInput = {});

// The command as one line, for logs and error messages.
std::string describeCommand(const std::vector<std::string>& argv);

// A fresh folder under the system's temporary folder; removed with everything in it when the
// object goes. Given the bytes it will hold, it is made in memory (/dev/shm) when that has room
// for them, since what passes through it need not reach a disk.
class TemporaryFolder {
public:
    explicit TemporaryFolder(const std::string& prefix, std::uint64_t inMemoryBytes = 0);
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::string& path() const { return path_; }
    bool inMemory() const { return inMemory_; }

private:
    std::string path_;
    bool inMemory_ = false;
};

}  // namespace qel::image
