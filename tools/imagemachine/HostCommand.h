// Running Linux programs for the image machine: the tools that stand in for Windows' own (mtools,
// mkfs.fat, mkntfs, syslinux, 7zz, losetup, ntfs-3g).
#pragma once

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
// object goes.
class TemporaryFolder {
public:
    explicit TemporaryFolder(const std::string& prefix);
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace qel::image
