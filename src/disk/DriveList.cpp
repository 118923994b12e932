#include "disk/DriveList.h"

#include <cmath>

namespace qel {
namespace {

constexpr std::int64_t kKibibyte = 1024;
constexpr std::int64_t kMebibyte = kKibibyte * 1024;
constexpr std::int64_t kGibibyte = kMebibyte * 1024;

// "#.##" of a positive value: at most two decimals, no trailing zeros, no leading zero.
Text formatTwoDecimals(double value, char16_t decimalSeparator) {
    const long long hundredths = std::llround(value * 100.0);
    const long long whole = hundredths / 100;
    int decimals = static_cast<int>(hundredths % 100);
    Text text = whole == 0 ? Text() : decimal(static_cast<std::int64_t>(whole));
    if (decimals == 0) return text;
    text += decimalSeparator;
    text += static_cast<char16_t>(u'0' + decimals / 10);
    if (decimals % 10 != 0) text += static_cast<char16_t>(u'0' + decimals % 10);
    return text;
}

Text driveItem(Platform& sys, const Text& root) {
    const VolumeInformation info = sys.volumeInformation(root).value_or(VolumeInformation{});
    const auto totalBytes = static_cast<std::int64_t>(sys.diskTotalBytes(root).value_or(0));
    Text item = root + u" - " + FormatByteSize(sys, totalBytes);
    if (!info.fileSystem.empty()) item += u" - " + info.fileSystem;
    if (!info.label.empty()) item += u" - " + info.label;
    return item;
}

}  // namespace

Text FormatByteSize(char16_t decimalSeparator, std::int64_t bytes) {
    if (bytes > kGibibyte)
        return formatTwoDecimals(static_cast<double>(bytes) / kGibibyte, decimalSeparator) + u" GB";
    if (bytes > kMebibyte)
        return formatTwoDecimals(static_cast<double>(bytes) / kMebibyte, decimalSeparator) + u" MB";
    if (bytes > kKibibyte)
        return formatTwoDecimals(static_cast<double>(bytes) / kKibibyte, decimalSeparator) + u" KB";
    return (bytes == 0 ? Text() : decimal(bytes)) + u" bytes";
}

Text FormatByteSize(Platform& sys, std::int64_t bytes) {
    return FormatByteSize(sys.decimalSeparator(), bytes);
}

Text DrivePart(const Text& path) {
    if (path.size() >= 2 && path[1] == u':') return path.substr(0, 2);
    return {};
}

bool FormatOptionAllowed(Platform& sys, const Text& driveRoot) {
    if (driveRoot.empty()) return false;
    const Text systemDrive = sys.environmentVariable(u"SYSTEMDRIVE").value_or(Text());
    return driveRoot != systemDrive && driveRoot != DrivePart(sys.currentDirectory());
}

DriveListing ListEligibleDrives(Platform& sys, bool withFixedDrives) {
    DriveListing listing;
    for (char16_t letter = u'C'; letter <= u'Z'; ++letter) {
        const Text root = Text(1, letter) + u":\\";
        const std::uint32_t type = sys.driveType(root);
        const bool removable = type == win::DRIVE_REMOVABLE;
        if (!removable && type != win::DRIVE_FIXED) continue;
        const Text item = driveItem(sys, root);
        if (!removable && !withFixedDrives) continue;
        listing.items.push_back(item);
        if (removable) listing.selected = static_cast<int>(listing.items.size()) - 1;
    }
    if (listing.selected < 0 && !listing.items.empty()) listing.selected = 0;
    return listing;
}

}  // namespace qel
