// What the image machine's parts share: the error codes it reports, the exported functions it
// stands in for, and small text and access helpers.
#pragma once

#include <iterator>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qel::image::machine {

// Windows error codes the machine reports through lastError.
constexpr std::uint32_t kFileNotFound = 2;
constexpr std::uint32_t kPathNotFound = 3;
constexpr std::uint32_t kAccessDenied = 5;
constexpr std::uint32_t kInvalidHandle = 6;
constexpr std::uint32_t kInvalidFunction = 1;
constexpr std::uint32_t kFileExists = 80;
constexpr std::uint32_t kInvalidParameter = 87;
constexpr std::uint32_t kInsufficientBuffer = 122;
constexpr std::uint32_t kUnrecognizedVolume = 1005;
constexpr std::uint32_t kFileCorrupt = 1392;

constexpr ModuleId kKernel32 = 1;
constexpr ProcAddress kProcBase = 0x1000;
inline const std::vector<std::string> kKernel32Exports(std::begin(kKernel32LookedUpFunctions),
                                                       std::end(kKernel32LookedUpFunctions));

inline const Text kDiskEnumKey = u"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum";
inline const Text kImageDeviceId = u"USBSTOR\\Disk&Ven_QEL&Prod_Image_Disk&Rev_1.00\\0001&0";

inline bool startsWith(TextView text, TextView prefix) {
    return text.size() >= prefix.size() &&
           equalsIgnoreAsciiCase(text.substr(0, prefix.size()), prefix);
}

inline char upperLetter(char16_t c) {
    return static_cast<char>(c >= u'a' && c <= u'z' ? c - u'a' + u'A' : c);
}

inline bool wildcardMatch(TextView pattern, TextView name) {
    if (pattern.empty()) return name.empty();
    if (pattern[0] == u'*')
        return wildcardMatch(pattern.substr(1), name) ||
               (!name.empty() && wildcardMatch(pattern, name.substr(1)));
    if (name.empty()) return false;
    if (pattern[0] == u'?' || equalsIgnoreAsciiCase(pattern.substr(0, 1), name.substr(0, 1)))
        return wildcardMatch(pattern.substr(1), name.substr(1));
    return false;
}

// The control code's required access (bits 14-15): 1 read, 2 write.
inline std::uint32_t requiredAccess(std::uint32_t code) {
    return (code >> 14) & 3;
}

inline std::uint32_t rights(std::uint32_t access) {
    return ((access & win::GENERIC_READ) ? 1u : 0u) | ((access & win::GENERIC_WRITE) ? 2u : 0u);
}

}  // namespace qel::image::machine
