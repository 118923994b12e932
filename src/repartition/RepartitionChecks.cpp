#include "repartition/RepartitionChecks.h"

#include <limits>

namespace qel {

namespace {

constexpr std::int64_t kMegabyteUnit = 1048576;
constexpr std::int64_t kGigabyteUnit = 1073741824;
constexpr std::uint32_t kOptimisedForPerformance = 2;

constexpr const char16_t* kDiskEnumKey = u"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum";
constexpr const char16_t* kDeviceKeyPrefix = u"SYSTEM\\CurrentControlSet\\Enum\\";
constexpr const char16_t* kRemovalPolicySubkey = u"\\Device Parameters\\Classpnp";

// A decimal number with an optional sign; nullopt for anything else or beyond 64 bits.
std::optional<std::int64_t> parseDecimal(TextView text) {
    bool negative = false;
    if (!text.empty() && (text.front() == u'-' || text.front() == u'+')) {
        negative = text.front() == u'-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (const char16_t c : text) {
        if (c < u'0' || c > u'9') return std::nullopt;
        const int digit = c - u'0';
        if (value > (std::numeric_limits<std::int64_t>::max() - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

}  // namespace

std::optional<std::int64_t> Fat32SizeInBytes(const Text& sizeText, const Text& unit) {
    const auto count = parseDecimal(sizeText);
    if (!count) return std::nullopt;
    const std::int64_t factor = unit == u"MB" ? kMegabyteUnit : kGigabyteUnit;
    const std::int64_t limit = std::numeric_limits<std::int64_t>::max() / factor;
    if (*count > limit || *count < -limit) return std::nullopt;
    return *count * factor;
}

RemovalPolicy ReadRemovalPolicy(Platform& sys, const Text& diskNumber) {
    Text devicePath;
    {
        const RegistryKey diskEnum = sys.openLocalMachineKey(kDiskEnumKey, win::KEY_READ);
        if (!diskEnum.valid()) return RemovalPolicy::DiskUnknown;
        const auto path = sys.registryString(diskEnum, diskNumber);
        if (!path) return RemovalPolicy::DiskUnknown;
        devicePath = *path;
    }
    const RegistryKey device = sys.openLocalMachineKey(
        kDeviceKeyPrefix + devicePath + kRemovalPolicySubkey, win::KEY_READ);
    if (!device.valid()) return RemovalPolicy::Other;
    const auto policy = sys.registryDword(device, u"UserRemovalPolicy");
    return policy == kOptimisedForPerformance ? RemovalPolicy::OptimisedForPerformance
                                              : RemovalPolicy::Other;
}

int ProgressStepTotal(bool fat32Only, bool bootloader) {
    if (fat32Only) return bootloader ? 5 : 2;
    return bootloader ? 8 : 5;
}

}  // namespace qel
