// Small steps of raw reading and writing that the boot installers share. Reads and writes are
// judged by the success of the call alone, as the installers' rules require.
#pragma once

#include "platform/Platform.h"

namespace qel {

// Opens an existing file or device, shared for reading and writing.
inline Handle openShared(Platform& sys, const Text& path, std::uint32_t access) {
    return sys.createFile(path, access, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE,
                          win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL);
}

inline bool readInto(Platform& sys, const Handle& handle, MutableByteSpan buffer) {
    std::uint32_t got = 0;
    return sys.readFile(handle, buffer, got);
}

inline bool writeFrom(Platform& sys, const Handle& handle, ByteSpan data) {
    std::uint32_t written = 0;
    return sys.writeFile(handle, data, written);
}

inline bool moveTo(Platform& sys, const Handle& handle, std::int64_t offset) {
    std::int64_t position = 0;
    return sys.setFilePointer(handle, offset, win::FILE_BEGIN, position);
}

}  // namespace qel
