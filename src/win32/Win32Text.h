// Text of the seam (UTF-16 code units) seen as the wide strings of the Win32 API, and back.
// It brings in <windows.h>, after the seam's headers.
#pragma once

#include <cstddef>
#include <cstdint>

// The seam comes first: <windows.h> defines macros named like its constants.
#include "platform/Platform.h"
#include "platform/Text.h"

#include <windows.h>

namespace qel::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

inline const wchar_t* wide(const Text& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

inline Text fromWide(const wchar_t* text, std::size_t length) {
    return Text(reinterpret_cast<const char16_t*>(text), length);
}

inline Text fromWide(const wchar_t* text) {
    return text == nullptr ? Text() : Text(reinterpret_cast<const char16_t*>(text));
}

inline HANDLE toHandle(std::uintptr_t id) {
    return reinterpret_cast<HANDLE>(id);
}
inline std::uintptr_t fromHandle(HANDLE handle) {
    return reinterpret_cast<std::uintptr_t>(handle);
}

}  // namespace qel::win32
