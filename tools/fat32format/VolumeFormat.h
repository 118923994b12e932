// Formatting the volume named on the command line, as the Windows program does it: open, lock,
// query, write, mark the partition as FAT32, dismount. The system calls come through two small
// interfaces, so that this runs the same against Windows and against a test double.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Fat32Writer.h"
#include "platform/Text.h"

namespace qel::fat32 {

// A volume device or an image file opened for reading and writing.
class Volume {
public:
    virtual ~Volume() = default;
    // A device control request (DeviceIoControl); false when the request fails.
    virtual bool control(std::uint32_t code, std::span<const std::uint8_t> input,
                         std::span<std::uint8_t> output, std::uint32_t& returned) = 0;
    // The length of a plain file; nullopt when it cannot be read.
    virtual std::optional<std::uint64_t> fileLength() = 0;
    virtual bool writeAt(std::uint64_t offset, std::span<const std::uint8_t> data) = 0;
    virtual bool flush() = 0;
    // The system's description of the last call of this volume that failed.
    virtual std::string lastError() = 0;
};

class VolumeSystem {
public:
    virtual ~VolumeSystem() = default;
    // Opens a device or file for reading and writing, shared with others; nullptr and the
    // reason when it cannot.
    virtual std::unique_ptr<Volume> open(const Text& path, std::string& reason) = 0;
    virtual void pause(std::uint32_t milliseconds) = 0;
    virtual ClockReading clock() = 0;
};

enum ExitCode : int {
    kFormatted = 0,
    kBadCommandLine = 1,
    kCannotOpen = 2,
    kCannotLock = 3,
    kCannotQuery = 4,
    kUnsuitableVolume = 5,
    kWriteFailed = 6,
    kCannotDismount = 7,
};

struct Outcome {
    int exitCode = kFormatted;
    std::string line;  // what the program prints: the summary, or what failed
};

inline constexpr std::uint32_t kLockAttempts = 20;
inline constexpr std::uint32_t kLockPauseMilliseconds = 250;
inline constexpr std::uint8_t kFat32LbaPartitionType = 0x0C;

// The line printed after a successful format.
std::string summaryLine(const std::string& name, const Layout& layout);

// Formats the one volume the arguments (the program's path excluded) name: a device path such
// as \\.\E: or \\.\Volume{…}, or else an existing image file.
Outcome formatFromArguments(VolumeSystem& system, const std::vector<Text>& arguments);

}  // namespace qel::fat32
