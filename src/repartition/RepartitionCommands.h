// Command lines of the repartition run's formatters. Lines that need the command shell (diskpart
// through a pipe, and format.com followed by a log file) start the shell by its full path in the
// system directory and hand it the whole line in quotes with /S, so that quoted paths inside the
// line survive the shell's own quote handling.
#pragma once

#include "platform/Platform.h"

namespace qel {

// Where the formatters and their log files are.
struct FormatterPaths {
    Text shell;       // cmd.exe in the system directory
    Text diskpart;    // <sysdrive>\Windows\<sysdir>\diskpart
    Text formatPath;  // the system's format.com
    Text workBase;    // %TEMP% followed by "\"
};

// The shell's full path: the system directory (which Windows redirects to the 32-bit folder for
// a 32-bit program on 64-bit Windows) followed by "\cmd.exe".
Text ShellProgram(Platform& sys);

// The marker files the shell writes after a formatter that ended with exit code 0.
Text DiskpartLogPath(const Text& workBase);
Text NtfsFormatLogPath(const Text& workBase);

// "<format.com>" \\?\<volname> /FS:FAT32 /V:QEL_UEFI /Q /Y
Text FormatFat32CommandLine(const FormatterPaths& paths, const Text& volname);

// diskpart, fed through a pipe: select disk <n>, list part, select part <partition>,
// FORMAT FS=<fileSystem> LABEL="<label>" QUICK, exit; the log is written when it succeeded.
Text DiskpartFormatCommandLine(const FormatterPaths& paths, const Text& diskNumber, int partition,
                               const Text& fileSystem, const Text& label);

// format.com to NTFS with 4096-byte clusters and the label RAZEVOR; the log is written when it
// succeeded.
Text FormatNtfsCommandLine(const FormatterPaths& paths, const Text& volname);

}  // namespace qel
