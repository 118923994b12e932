#include "app/GetSevenZipFile.h"

#include "disk/DeviceQueries.h"
#include "texts/Dialogs.h"

namespace qel {

void SaveSevenZipFile(const RunContext& context) {
    Platform& sys = context.sys;
    const auto payload = sys.rcData(u"QEL7z");
    if (!payload) throw UnexpectedError(u"Resource QEL7z not found.");
    // A current directory at a drive root ("D:\") gives two backslashes in a row, which Windows
    // accepts.
    const Text archive = sys.currentDirectory() + u"\\RAZEvor.7z";
    writeWholeFile(sys, archive, *payload);  // raises when the file cannot be created
    if (GetFileSize64(sys, archive) == static_cast<std::int64_t>(payload->size())) {
        sys.messageBox(context.texts.lsaved, kApplicationTitle, win::MB_OK);
    } else {
        ShowSupportError(sys, context.texts);
        sys.postQuit();
    }
}

}  // namespace qel
