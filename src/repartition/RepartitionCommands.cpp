#include "repartition/RepartitionCommands.h"

namespace qel {

namespace {

Text quoted(const Text& path) {
    return u"\"" + path + u"\"";
}

// Runs the commands through the shell; "&&" writes the log only after an exit code of 0.
Text shellLine(const FormatterPaths& paths, const Text& commands, const Text& logPath) {
    return quoted(paths.shell) + u" /S /C \"" + commands + u" && echo %errorlevel% > " +
           quoted(logPath) + u"\"";
}

}  // namespace

Text ShellProgram(Platform& sys) {
    return sys.systemDirectory() + u"\\cmd.exe";
}

Text DiskpartLogPath(const Text& workBase) {
    return workBase + u"qelextract\\disk.log";
}

Text NtfsFormatLogPath(const Text& workBase) {
    return workBase + u"qelextract\\log1.log";
}

Text FormatFat32CommandLine(const FormatterPaths& paths, const Text& volname) {
    return quoted(paths.formatPath) + u" \\\\?\\" + volname + u" /FS:FAT32 /V:QEL_UEFI /Q /Y";
}

Text DiskpartFormatCommandLine(const FormatterPaths& paths, const Text& diskNumber, int partition,
                               const Text& fileSystem, const Text& label) {
    const Text script = u"echo select disk " + diskNumber + u"^&echo list part^&echo select part " +
                        decimal(partition) + u"^&echo FORMAT FS=" + fileSystem + u" LABEL=\"" +
                        label + u"\" QUICK^&echo exit";
    return shellLine(paths, script + u" | " + paths.diskpart, DiskpartLogPath(paths.workBase));
}

Text FormatNtfsCommandLine(const FormatterPaths& paths, const Text& volname) {
    const Text format =
        quoted(paths.formatPath) + u" \\\\?\\" + volname + u" /FS:NTFS /A:4096 /V:RAZEVOR /Q /Y";
    return shellLine(paths, format, NtfsFormatLogPath(paths.workBase));
}

}  // namespace qel
