#include "run/DriveFiles.h"

#include <string>

namespace qel {

namespace {

constexpr const char* kAutorunInf =
    "[autorun]\r\n"
    "label=RAZEVOR\r\n"
    "icon=QEL\\razevor.ico\r\n"
    "shellexecute=QELCreator.exe\r\n";

}  // namespace

bool EnsureMenuFolder(Platform& sys, const Text& root) {
    const Text menuFolder = root + u"\\QEL\\Menu";
    return directoryExists(sys, menuFolder) || sys.createDirectory(menuFolder);
}

void WriteAutorunInf(Platform& sys, const Text& root) {
    if (!fileExists(sys, root + u"\\QEL\\razevor.ico")) return;
    const Text path = root + u"\\autorun.inf";
    sys.deleteFile(path);  // a hidden old file could not be overwritten
    const std::string content = sys.toAnsi(ascii(kAutorunInf));
    writeWholeFile(sys, path, Bytes(content.begin(), content.end()));
    sys.setFileAttributes(path, win::FILE_ATTRIBUTE_HIDDEN);
}

Text RawDiskPath(const Text& diskNumber) {
    return u"\\\\.\\PHYSICALDRIVE" + diskNumber;
}

Text RawDiskPath(std::uint32_t diskNumber) {
    return RawDiskPath(decimal(diskNumber));
}

}  // namespace qel
