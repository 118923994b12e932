#include "run/WorkFolder.h"

#include <array>

namespace qel {

namespace {

struct StagedResource {
    const char16_t* resource;
    const char16_t* file;  // under the work folder
};

// Written in this order on every run; 7-Zip's three files keep its own relative layout.
constexpr std::array<StagedResource, 5> kStagedResources{{
    {u"QEL7z", u"RAZEvor.7z"},
    {u"7zG", u"7zG.exe"},
    {u"7zDLL", u"7z.dll"},
    {u"7zVI", u"Lang\\vi.txt"},
    {u"f32", u"fat32format.exe"},
}};

}  // namespace

Text WorkBase(Platform& sys) {
    return sys.environmentVariable(u"TEMP").value_or(Text()) + u"\\";
}

Text WorkFolder(const Text& workBase) {
    return workBase + u"qelextract";
}

void StageWorkFolder(Platform& sys, const Text& workBase) {
    const Text folder = WorkFolder(workBase) + u"\\";
    for (const StagedResource& staged : kStagedResources) {
        const auto content = sys.rcData(staged.resource);
        if (!content) throw UnexpectedError(u"Resource " + Text(staged.resource) + u" not found.");
        writeWholeFile(sys, folder + staged.file, *content);
    }
}

void DeleteWorkFolder(Platform& sys, WindowId mainWindow, const Text& workBase) {
    Text fileList = WorkFolder(workBase);
    fileList.append(2, u'\0');  // the list of names ends with an empty name
    sys.shellFileOperation(mainWindow, win::FO_DELETE, fileList,
                           win::FOF_SILENT | win::FOF_NOCONFIRMATION);
}

}  // namespace qel
