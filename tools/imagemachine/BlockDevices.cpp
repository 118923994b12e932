#include "BlockDevices.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

namespace qel::image {

namespace fs = std::filesystem;

namespace {

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string numbers(dev_t device) {
    return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

std::optional<dev_t> parseNumbers(const std::string& text) {
    unsigned majorNumber = 0, minorNumber = 0;
    char colon = 0;
    std::istringstream in(text);
    if (!(in >> majorNumber >> colon >> minorNumber) || colon != ':') return std::nullopt;
    return makedev(majorNumber, minorNumber);
}

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string word; in >> word;) out.push_back(word);
    return out;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// mountinfo and swaps write blanks and other bytes in paths as \ooo.
std::string unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::string octal = text.substr(i + 1, 3);
        if (text[i] == '\\' && octal.size() == 3 &&
            octal.find_first_not_of("01234567") == std::string::npos) {
            out += static_cast<char>(std::stoi(octal, nullptr, 8));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The device and its partitions, as the kernel lists them under /sys/dev/block/<major:minor>.
struct Family {
    std::set<dev_t> devices;
    std::vector<std::string> folders;  // their sysfs folders
};

Family familyOf(dev_t device, const std::string& sysfs) {
    Family family;
    const fs::path folder = fs::path(sysfs) / "dev/block" / numbers(device);
    family.devices.insert(device);
    family.folders.push_back(folder.string());
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (!fs::exists(entry.path() / "partition", error)) continue;
        if (const auto part = parseNumbers(fileText((entry.path() / "dev").string()))) {
            family.devices.insert(*part);
            family.folders.push_back(entry.path().string());
        }
    }
    return family;
}

// Whether a device is one of the family or stacked on it (device mapper, RAID), through the
// kernel's slaves links.
bool builtOn(dev_t device, const Family& family, const std::string& sysfs, int depth = 0) {
    if (family.devices.count(device)) return true;
    if (depth > 8) return false;
    std::error_code error;
    const fs::path slaves = fs::path(sysfs) / "dev/block" / numbers(device) / "slaves";
    for (const auto& entry : fs::directory_iterator(slaves, error)) {
        const auto below = parseNumbers(fileText((entry.path() / "dev").string()));
        if (below && builtOn(*below, family, sysfs, depth + 1)) return true;
    }
    return false;
}

std::optional<std::string> mountedAt(const Family& family, const SystemTables& system) {
    for (const auto& line : lines(system.mountInfo)) {
        const auto fields = words(line);
        std::size_t dash = 0;
        while (dash < fields.size() && fields[dash] != "-") ++dash;
        if (fields.size() < 5 || dash + 2 >= fields.size()) continue;
        const auto device = parseNumbers(fields[2]);
        const std::string source = unescaped(fields[dash + 2]);
        const auto sourceDevice = system.deviceOf ? system.deviceOf(source) : std::nullopt;
        if ((device && builtOn(*device, family, system.sysfs)) ||
            (sourceDevice && builtOn(*sourceDevice, family, system.sysfs)))
            return unescaped(fields[4]);
    }
    return std::nullopt;
}

std::optional<std::string> swapOn(const Family& family, const SystemTables& system) {
    const auto all = lines(system.swaps);
    for (std::size_t i = 1; i < all.size(); ++i) {
        const auto fields = words(all[i]);
        if (fields.empty()) continue;
        const std::string path = unescaped(fields[0]);
        const auto device = system.deviceOf ? system.deviceOf(path) : std::nullopt;
        if (device && builtOn(*device, family, system.sysfs)) return path;
    }
    return std::nullopt;
}

std::optional<std::string> heldBy(const Family& family) {
    std::error_code error;
    for (const auto& folder : family.folders)
        for (const auto& holder : fs::directory_iterator(fs::path(folder) / "holders", error))
            return holder.path().filename().string();
    return std::nullopt;
}

}  // namespace

SystemTables SystemTables::current() {
    SystemTables system;
    system.mountInfo = fileText("/proc/self/mountinfo");
    system.swaps = fileText("/proc/swaps");
    struct stat root {};
    if (::stat("/", &root) == 0) system.rootDevice = root.st_dev;
    system.deviceOf = [](const std::string& path) -> std::optional<dev_t> {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return std::nullopt;
        return st.st_rdev;
    };
    return system;
}

std::optional<std::string> blockDeviceInUse(dev_t device, const SystemTables& system) {
    std::error_code error;
    if (fs::exists(fs::path(system.sysfs) / "dev/block" / numbers(device) / "partition", error))
        return "it is a partition; name the whole disk it belongs to";
    const Family family = familyOf(device, system.sysfs);
    if (builtOn(system.rootDevice, family, system.sysfs))
        return "it holds the running system's root file system";
    if (const auto swap = swapOn(family, system)) return "it holds the swap area " + *swap;
    if (const auto mountPoint = mountedAt(family, system))
        return "it or one of its partitions is mounted at " + *mountPoint;
    if (const auto holder = heldBy(family))
        return "it or one of its partitions is in use by " + *holder;
    return std::nullopt;
}

}  // namespace qel::image
