// Functions looked up at run time, seen with their published signatures. It brings in <windows.h>,
// after the seam's headers.
#pragma once

#include <cstdint>

// The seam comes first: <windows.h> defines macros named like its constants.
#include "platform/Platform.h"

#include <windows.h>

namespace qel::win32 {

template <typename Function>
Function boundAs(std::uintptr_t address) {
    return reinterpret_cast<Function>(address);
}

// A function of a system library, or null where this Windows lacks it. The library is loaded
// when it is not yet, and stays loaded for the rest of the run.
template <typename Function>
Function lookUpFunction(const wchar_t* module, const char* name) {
    HMODULE handle = GetModuleHandleW(module);
    if (handle == nullptr) handle = LoadLibraryW(module);
    if (handle == nullptr) return nullptr;
    return boundAs<Function>(reinterpret_cast<std::uintptr_t>(GetProcAddress(handle, name)));
}

}  // namespace qel::win32
