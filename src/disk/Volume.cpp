#include "disk/Volume.h"

#include <utility>

namespace qel {

Text SystemErrorText(Platform& sys, std::uint32_t errorCode) {
    Text message = sys.systemMessage(errorCode);
    while (!message.empty() &&
           (message.back() <= u' ' || message.back() == u'.' || message.back() == 0x7F))
        message.pop_back();
    return message;
}

ModuleId VolumeFunctions::kernel32Module() {
    // kernel32 is always loaded in a Windows process; loading it is the fallback.
    ModuleId module = sys_.moduleHandle(u"kernel32.dll");
    if (module == 0) module = sys_.loadLibrary(u"kernel32.dll");
    if (module == 0) {
        const std::uint32_t error = sys_.lastError();
        throw UnexpectedError(u"Error loading kernel32 Library.  " + SystemErrorText(sys_, error));
    }
    return module;
}

void VolumeFunctions::LoadVolumeFunctions() {
    if (bound_) return;
    const ModuleId module = kernel32Module();
    const std::pair<const char*, ProcAddress*> slots[] = {
        {"FindFirstVolumeA", &FindFirstVolumeA},
        {"FindNextVolumeA", &FindNextVolumeA},
        {"FindVolumeClose", &FindVolumeClose},
        {"FindFirstVolumeMountPointA", &FindFirstVolumeMountPointA},
        {"FindNextVolumeMountPointA", &FindNextVolumeMountPointA},
        {"FindVolumeMountPointClose", &FindVolumeMountPointClose},
        {"GetVolumeNameForVolumeMountPointA", &GetVolumeNameForVolumeMountPointA},
        {"DeleteVolumeMountPointA", &DeleteVolumeMountPointA},
        {"SetVolumeMountPointA", &SetVolumeMountPointA},
    };
    for (const auto& [name, slot] : slots) {
        *slot = sys_.procAddress(module, name);
        if (*slot == 0) throw UnexpectedError(u"Could not find procedure " + ascii(name));
    }
    bound_ = true;
}

}  // namespace qel
