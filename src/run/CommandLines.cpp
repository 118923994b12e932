#include "run/CommandLines.h"

namespace qel {

namespace {

constexpr TextView kSyslinuxFolder = u"\\QEL\\Tools\\syslinux\\syslinux\\";

}  // namespace

Text SevenZipCommandLine(const Text& workBase, const Text& targetRoot) {
    const Text workFolder = workBase + u"qelextract\\";
    return u"\"" + workFolder + u"7zG.exe\" x -y -o\"" + targetRoot + u"\\\" -ptubrisk \"" +
           workFolder + u"RAZEvor.7z\"";
}

Text Fat32FormatCommandLine(const Text& workBase, const Text& driveRoot) {
    return u"\"" + workBase + u"qelextract\\fat32format.exe\" \\\\.\\" + driveRoot;
}

Text FormatComCommandLine(const Text& formatPath, const Text& driveRoot) {
    return u"\"" + formatPath + u"\" " + driveRoot + u" /FS:FAT32 /V:RAZEVOR /Q /Y";
}

Text SyslinuxCommandLine(const Text& driveRoot, bool wow64) {
    const Text installer =
        driveRoot + Text(kSyslinuxFolder) + (wow64 ? u"syslinux64.exe" : u"syslinux.exe");
    return u"\"" + installer + u"\" -f -d /QEL/Tools/syslinux/syslinux " + driveRoot + u" " +
           SyslinuxBootSectorFile(driveRoot);
}

Text SyslinuxBootSectorFile(const Text& driveRoot) {
    return driveRoot + Text(kSyslinuxFolder) + u"syslinux.bin";
}

}  // namespace qel
