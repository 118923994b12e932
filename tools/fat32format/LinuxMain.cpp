// The formatter as a Linux command, for checking its results with independent tools:
//   fat32format-linux IMAGE [--offset BYTES] [--size BYTES] [--sector-size N]
//   fat32format-linux --help
// formats an existing image file or block device, or the region of it that starts at the offset;
// the region's first sector is recorded as the partition's start (hidden sectors).
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "Fat32Layout.h"
#include "Fat32Writer.h"
#include "VolumeFormat.h"

namespace {

using namespace qel::fat32;

constexpr const char* kUsage =
    "Usage: fat32format-linux IMAGE [--offset BYTES] [--size BYTES] [--sector-size N]\n"
    "Formats an image file or block device, or the region of it from the offset on, as FAT32.\n";

struct Options {
    bool help = false;
    std::string image;
    std::uint64_t offset = 0;
    std::optional<std::uint64_t> size;
    std::optional<std::uint32_t> sectorSize;
};

struct CommandLineError {
    std::string line;
};

std::optional<std::uint64_t> parseNumber(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

std::variant<Options, CommandLineError> parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            return options;
        }
        if (arg == "--offset" || arg == "--size" || arg == "--sector-size") {
            const auto value = i + 1 < argc ? parseNumber(argv[i + 1]) : std::nullopt;
            if (!value) return CommandLineError{std::string(arg) + " needs a number of bytes"};
            ++i;
            if (arg == "--offset") options.offset = *value;
            if (arg == "--size") options.size = *value;
            if (arg == "--sector-size") options.sectorSize = static_cast<std::uint32_t>(*value);
        } else if (!arg.starts_with("--") && options.image.empty()) {
            options.image = arg;
        } else {
            return CommandLineError{"Unexpected argument " + std::string(arg)};
        }
    }
    if (options.image.empty()) return CommandLineError{"No image or device named"};
    return options;
}

std::string systemError() {
    return std::strerror(errno);
}

// An open file descriptor, closed when it goes.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

class RegionWriter : public SectorWriter {
public:
    RegionWriter(int fd, std::uint64_t regionStart) : fd_(fd), regionStart_(regionStart) {}
    void write(std::uint64_t offset, std::span<const std::uint8_t> data) override {
        std::size_t done = 0;
        while (done < data.size()) {
            const auto written = ::pwrite(fd_, data.data() + done, data.size() - done,
                                          static_cast<off_t>(regionStart_ + offset + done));
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0)
                throw qel::IoError(qel::fromUtf8("at byte " + std::to_string(offset + done) + ": " +
                                                 systemError()));
            done += static_cast<std::size_t>(written);
        }
    }

private:
    int fd_;
    std::uint64_t regionStart_;
};

struct Device {
    std::uint64_t length = 0;
    std::uint32_t logicalSectorSize = 512;
};

std::optional<Device> measure(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) return std::nullopt;
    Device device;
    if (!S_ISBLK(status.st_mode)) {
        device.length = static_cast<std::uint64_t>(status.st_size);
        return device;
    }
    int sectorSize = 0;
    if (::ioctl(fd, BLKGETSIZE64, &device.length) != 0 || ::ioctl(fd, BLKSSZGET, &sectorSize) != 0)
        return std::nullopt;
    device.logicalSectorSize = static_cast<std::uint32_t>(sectorSize);
    return device;
}

int fail(int exitCode, const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    return exitCode;
}

int run(const Options& options) {
    // A block device is opened exclusively, so that a mounted one is refused.
    struct stat status {};
    const bool blockDevice = ::stat(options.image.c_str(), &status) == 0 && S_ISBLK(status.st_mode);
    const FileDescriptor fd(
        ::open(options.image.c_str(), O_RDWR | O_CLOEXEC | (blockDevice ? O_EXCL : 0)));
    if (fd.get() < 0)
        return fail(kCannotOpen, "Cannot open " + options.image + " for writing: " + systemError());
    const auto device = measure(fd.get());
    if (!device)
        return fail(kCannotQuery,
                    "Reading the size of " + options.image + " failed: " + systemError());

    VolumeShape shape;
    shape.bytesPerSector = options.sectorSize.value_or(device->logicalSectorSize);
    if (shape.bytesPerSector == 0 || options.offset % shape.bytesPerSector != 0)
        return fail(kBadCommandLine, "The offset must be a whole number of sectors");
    if (options.offset > device->length)
        return fail(kBadCommandLine, "The offset lies beyond the end of " + options.image);
    shape.lengthBytes = options.size.value_or(device->length - options.offset);
    if (shape.lengthBytes > device->length - options.offset)
        return fail(kBadCommandLine, "The region runs beyond the end of " + options.image);
    shape.hiddenSectors = options.offset / shape.bytesPerSector;

    const auto computed = computeLayout(shape);
    if (const auto* refusal = std::get_if<Refusal>(&computed))
        return fail(kUnsuitableVolume,
                    "Formatting " + options.image + " refused: " + refusal->reason);
    const auto& layout = std::get<Layout>(computed);
    try {
        RegionWriter writer(fd.get(), options.offset);
        writeFileSystem(writer, layout, volumeSerial(readClock(std::chrono::system_clock::now())));
    } catch (const qel::IoError& error) {
        return fail(kWriteFailed,
                    "Writing to " + options.image + " failed " + qel::toUtf8(error.message()));
    }
    if (::fsync(fd.get()) != 0)
        return fail(kWriteFailed, "Writing to " + options.image + " failed: " + systemError());
    std::printf("%s\n", summaryLine(options.image, layout).c_str());
    return kFormatted;
}

}  // namespace

int main(int argc, char** argv) {
    const auto parsed = parseOptions(argc, argv);
    if (const auto* error = std::get_if<CommandLineError>(&parsed))
        return fail(kBadCommandLine, error->line + "\n" + kUsage);
    const auto& options = std::get<Options>(parsed);
    if (options.help) return std::printf("%s", kUsage), kFormatted;
    return run(options);
}
