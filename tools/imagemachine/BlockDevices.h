// Whether a block device may be written as a stick: a whole disk, and not when the running
// system, a swap area, a mount or a device mapper / RAID set uses it or one of its partitions. The system's tables come
// from /proc and /sys; tests hand in their own.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

namespace qel::image {

struct SystemTables {
    std::string sysfs = "/sys";
    std::string mountInfo;  // as /proc/self/mountinfo
    std::string swaps;      // as /proc/swaps
    dev_t rootDevice = 0;   // the device of the file system at "/"
    // The device number of a block device node; nullopt for anything else.
    std::function<std::optional<dev_t>(const std::string&)> deviceOf;

    static SystemTables current();
};

// Why the block device must not be written, or nullopt when nothing of the system holds it.
std::optional<std::string> blockDeviceInUse(dev_t device, const SystemTables& system);

}  // namespace qel::image
