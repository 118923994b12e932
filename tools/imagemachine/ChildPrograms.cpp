// Child programs on the image machine. Windows' own programs (format.com, cmd.exe with diskpart)
// and the program's carried tools (7-Zip's extractor, fat32format.exe, the payload's Syslinux
// installer, the companion application) cannot run here; these mappings stand in for them,
// performing on the image what each would do on Windows and giving the exit code it would give.
// A command line that names none of them does not start.
#include <array>
#include <filesystem>
#include <functional>

#include "ImageMachine.h"
#include "SyslinuxInstaller.h"

namespace qel::image {

namespace {

std::string lower(std::string text) {
    for (auto& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string fileNameOf(const Text& path) {
    const auto cut = path.find_last_of(u"\\/");
    return lower(toUtf8(cut == Text::npos ? path : path.substr(cut + 1)));
}

Text trim(TextView text) {
    while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
    return Text(text);
}

// A path as the shell takes it: without the quotes around it.
Text unquoted(TextView path) {
    if (path.size() >= 2 && path.front() == u'"' && path.back() == u'"')
        path = path.substr(1, path.size() - 2);
    return Text(path);
}

// Windows' sizes of FAT32 allocation units for a volume of the given length.
int fat32SectorsPerCluster(std::int64_t length) {
    constexpr std::int64_t MiB = 1 << 20;
    if (length <= 64 * MiB) return 1;
    if (length <= 128 * MiB) return 2;
    if (length <= 256 * MiB) return 4;
    if (length <= 8192 * MiB) return 8;
    if (length <= 16384 * MiB) return 16;
    if (length <= 32768 * MiB) return 32;
    return 64;
}

constexpr std::int64_t kFat32FormatLimit = std::int64_t{32} << 30;
constexpr std::uint32_t kFormatFailed = 4;      // format.com's fatal-error exit code
constexpr std::uint32_t kNotRecognized = 9009;  // the shell's "is not recognized"

}  // namespace

std::vector<Text> splitCommandLine(TextView line) {
    std::vector<Text> words;
    Text word;
    bool quoted = false, inWord = false;
    for (const char16_t c : line) {
        if (c == u'"') {
            quoted = !quoted;
            inWord = true;
        } else if (c == u' ' && !quoted) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word.push_back(c);
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

class ChildPrograms {
public:
    explicit ChildPrograms(ImageMachine& machine) : m_(machine) {}

    // The exit code of the command line, or nullopt when it does not start.
    std::optional<std::uint32_t> run(TextView commandLine) {
        Text program;
        Text rest;
        if (!findProgram(commandLine, program, rest)) return std::nullopt;
        const std::string name = fileNameOf(program);
        const auto args = splitCommandLine(rest);
        if (name == "format.com") return format(args);
        if (name == "cmd.exe") return shell(rest);
        if (name == "7zg.exe") return sevenZip(args);
        if (name == "fat32format.exe") return fat32format(args);
        if (name == "syslinux.exe" || name == "syslinux64.exe") return syslinux(args);
        if (name == "qelcreator.exe") {
            m_.started_.push_back(program);
            m_.say("[program] started " + toUtf8(program));
            return 0u;
        }
        return std::nullopt;
    }

private:
    static bool isSystemProgram(const std::string& name) {
        return name == "format.com" || name == "cmd.exe";
    }

    // The program is the first word; an unquoted path with blanks is tried prefix by prefix, as
    // Windows does. Programs outside the system folder must exist.
    bool findProgram(TextView line, Text& program, Text& rest) {
        line = TextView(line).substr(0);
        if (!line.empty() && line[0] == u'"') {
            const auto close = line.find(u'"', 1);
            if (close == TextView::npos) return false;
            program = Text(line.substr(1, close - 1));
            rest = Text(line.substr(close + 1));
            return isKnown(program);
        }
        for (std::size_t at = 0; at <= line.size(); ++at) {
            if (at != line.size() && line[at] != u' ') continue;
            const Text candidate(line.substr(0, at));
            if (!isKnown(candidate)) continue;
            program = candidate;
            rest = Text(line.substr(at));
            return true;
        }
        return false;
    }

    bool isKnown(const Text& program) {
        const std::string name = fileNameOf(program);
        if (isSystemProgram(name)) return true;
        const bool carried = name == "7zg.exe" || name == "fat32format.exe" ||
                             name == "syslinux.exe" || name == "syslinux64.exe" ||
                             name == "qelcreator.exe";
        return carried && fileExists(m_, program);
    }

    ImageVolume* volumeNamed(const Text& root) { return m_.volumeOfRoot(root); }

    // A child's writes to a volume's partition, numbered as one.
    bool onVolume(const char* kind, const Partition& p, const std::function<bool()>& operation) {
        m_.releaseStores();
        return m_.power_.write({kind, volumeTarget(p.offset), p.length}, p.offset, p.length,
                               operation);
    }

    bool formatFat32(const Partition& p, const std::string& label) {
        return onVolume("format", p, [&] { return mkfsFat(p, label); });
    }

    bool mkfsFat(const Partition& p, const std::string& label) {
        const std::string start = std::to_string(p.offset / kSectorSize);
        const auto result =
            runHost({"mkfs.fat", "-F", "32", "--offset=" + start, "-h", start, "-g", "255/63", "-D",
                     "0x80", "-M", "0xF8", "-s", std::to_string(fat32SectorsPerCluster(p.length)),
                     "-n", label, m_.disk_.path(), std::to_string(p.length / 1024)});
        if (result.exitCode != 0) m_.say("[mkfs.fat] " + result.output);
        return result.exitCode == 0;
    }

    bool formatNtfs(const Partition& p, const std::string& label, const std::string& cluster) {
        return onVolume("format", p, [&] { return mkntfs(p, label, cluster); });
    }

    bool mkntfs(const Partition& p, const std::string& label, const std::string& cluster) {
        LoopDevice loop(m_.disk_.path(), p.offset, p.length);
        if (!loop.attached()) return m_.say("[mkntfs] " + loop.error()), false;
        const auto result = runHost({"mkntfs", "-Q", "-F", "-L", label, "-c", cluster, "-s", "512",
                                     "-p", std::to_string(p.offset / kSectorSize), "-H", "255",
                                     "-S", "63", loop.device()});
        if (result.exitCode != 0) m_.say("[mkntfs] " + result.output);
        return result.exitCode == 0;
    }

    // format.com <root> /FS:<fs> /V:<label> [/A:<cluster>] /Q /Y
    std::uint32_t format(const std::vector<Text>& args) {
        if (args.empty()) return kFormatFailed;
        auto* volume = volumeNamed(args[0]);
        std::string fs, label, cluster = "4096";
        for (std::size_t i = 1; i < args.size(); ++i) {
            const std::string arg = toUtf8(args[i]);
            if (lower(arg.substr(0, 4)) == "/fs:") fs = lower(arg.substr(4));
            if (lower(arg.substr(0, 3)) == "/v:") label = arg.substr(3);
            if (lower(arg.substr(0, 3)) == "/a:") cluster = arg.substr(3);
        }
        if (!volume) return m_.say("[format] no such volume " + toUtf8(args[0])), kFormatFailed;
        const bool ok = fs == "fat32"  ? formatFat32(volume->partition, label)
                        : fs == "ntfs" ? formatNtfs(volume->partition, label, cluster)
                                       : false;
        return ok ? 0 : kFormatFailed;
    }

    // 7zG.exe x -y -o"<root>\" -p<password> "<archive>": 7zz extracts into a host folder, whose
    // tree is then copied onto the drive.
    std::uint32_t sevenZip(const std::vector<Text>& args) {
        Text target, archive;
        std::string password;
        for (std::size_t i = 1; i < args.size(); ++i) {
            const std::string arg = toUtf8(args[i]);
            if (arg.rfind("-o", 0) == 0)
                target = args[i].substr(2);
            else if (arg.rfind("-p", 0) == 0)
                password = arg;
            else if (arg[0] != '-')
                archive = args[i];
        }
        if (args.empty() || args[0] != u"x") return 7;  // a bad switch
        const auto at = m_.locate(target);
        const std::string archivePath = m_.hostPathOf(archive);
        if (!at || !at->path.empty() || archivePath.empty()) return 2;
        // The unpacked tree is scratch: in memory when there is room for many times the archive,
        // on disk again when that was too little after all.
        std::error_code error;
        const std::uint64_t archiveBytes = std::filesystem::file_size(archivePath, error);
        auto unpacked =
            std::make_unique<TemporaryFolder>("qel-7z-", 16 * archiveBytes + (64 << 20));
        const auto unpack = [&] {
            std::vector<std::string> argv = {"7zz", "x", "-y", "-o" + unpacked->path()};
            if (!password.empty()) argv.push_back(password);
            argv.push_back(archivePath);
            return runHost(argv);
        };
        auto result = unpack();
        if (result.exitCode != 0 && unpacked->inMemory()) {
            unpacked = std::make_unique<TemporaryFolder>("qel-7z-");
            result = unpack();
        }
        if (result.exitCode != 0) {
            m_.say("[7zz] exit code " + std::to_string(result.exitCode));
            return static_cast<std::uint32_t>(result.exitCode < 0 ? 2 : result.exitCode);
        }
        if (at->store->importTree(unpacked->path())) return 0;
        // 7-Zip reports what it cannot write and ends with its fatal-error code.
        std::string reason;
        if (const std::uint32_t code = at->store->lastError(); code != 0) {
            reason = ": " + toUtf8(m_.systemMessage(code));
            while (reason.back() == '\n' || reason.back() == '\r') reason.pop_back();
        }
        m_.say("[7zz] cannot write the extracted files to the drive" + reason);
        return 2;
    }

    // fat32format.exe \\.\<volume>: the Linux build of the same formatter on the region.
    std::uint32_t fat32format(const std::vector<Text>& args) {
        if (args.size() != 1) return 1;
        auto* volume = volumeNamed(args[0]);
        const std::string program = m_.options_.fat32formatProgram;
        if (!volume) return 1;
        if (program.empty() || !std::filesystem::exists(program)) {
            m_.say("[fat32format] the Linux build of the formatter is not available");
            return 1;
        }
        const auto& p = volume->partition;
        HostResult result;
        onVolume("format", p, [&] {
            result = runHost({program, m_.disk_.path(), "--offset", std::to_string(p.offset),
                              "--size", std::to_string(p.length), "--sector-size", "512"});
            return result.exitCode == 0;
        });
        if (m_.power_.lost()) return 1;
        if (result.exitCode != 0) m_.say("[fat32format] " + result.output);
        return static_cast<std::uint32_t>(result.exitCode < 0 ? 1 : result.exitCode);
    }

    // syslinux(64).exe -f -d <directory> <root> <boot-sector file>: the installer's own library
    // installs into the FAT volume; the boot sector it made goes into the file and the volume
    // keeps its own first sector, as the installer does when it is given a boot-sector file.
    std::uint32_t syslinux(const std::vector<Text>& args) {
        std::string directory;
        std::vector<Text> plain;
        for (std::size_t i = 0; i < args.size(); ++i) {
            if (args[i] == u"-d" && i + 1 < args.size())
                directory = toUtf8(args[++i]);
            else if (args[i][0] != u'-')
                plain.push_back(args[i]);
        }
        if (plain.size() != 2 || directory.empty()) return 1;
        auto* volume = volumeNamed(plain[0]);
        if (!volume) return 1;
        const std::string fs = toUtf8(m_.fileSystemOf(*volume));
        if (fs != "FAT32" && fs != "FAT") {
            m_.say("[syslinux] installs on FAT volumes only; the volume holds " +
                   (fs.empty() ? std::string("no file system") : fs));
            return 1;
        }
        const auto& p = volume->partition;
        SyslinuxInstall install;
        onVolume("installer", p, [&] {
            install = installSyslinux(m_.disk_, p.offset, directory);
            if (!install.installed) m_.say("[syslinux] " + install.problem);
            return install.installed;
        });
        if (!install.installed || m_.power_.lost()) return 1;
        const auto file = m_.locate(plain[1]);
        if (!file || !file->store->write(file->path, install.bootSector)) return 1;
        return 0;
    }

    // cmd.exe [/S] /C <commands joined by &&>: each runs only when the one before it succeeded.
    // With /S, a quote that opens the commands and the last quote of the line are dropped and
    // everything between is kept as it stands, quoted paths included.
    std::uint32_t shell(const Text& rest) {
        Text line = trim(rest);
        const bool dropOuterQuotes = startsWithWord(line, u"/S");
        if (dropOuterQuotes) line = trim(TextView(line).substr(2));
        if (!startsWithWord(line, u"/C")) return 1;
        line = trim(TextView(line).substr(2));
        if (dropOuterQuotes && line.size() > 1 && line.front() == u'"') {
            line.erase(line.rfind(u'"'), 1);
            line.erase(0, 1);
        }
        std::uint32_t code = 0;
        for (std::size_t start = 0; start <= line.size();) {
            auto end = line.find(u"&&", start);
            if (end == Text::npos) end = line.size();
            code = shellCommand(trim(TextView(line).substr(start, end - start)), code);
            if (code != 0) break;
            start = end + 2;
        }
        return code;
    }

    std::uint32_t shellCommand(const Text& command, std::uint32_t errorLevel) {
        const auto pipe = command.find(u'|');
        if (pipe != Text::npos)
            return pipeline(trim(TextView(command).substr(0, pipe)),
                            trim(TextView(command).substr(pipe + 1)));
        if (startsWithWord(command, u"echo") && command.find(u'>') != Text::npos) {
            const auto arrow = command.find(u'>');
            Text text = command.substr(5, arrow - 5);
            for (auto at = text.find(u"%errorlevel%"); at != Text::npos;
                 at = text.find(u"%errorlevel%"))
                text.replace(at, 12, decimal(errorLevel));
            const auto file = m_.locate(unquoted(trim(TextView(command).substr(arrow + 1))));
            const std::string bytes = toUtf8(text) + "\r\n";
            if (!file || !file->store->write(file->path, Bytes(bytes.begin(), bytes.end())))
                return 1;
            return 0;
        }
        const auto code = run(command);
        return code ? *code : kNotRecognized;
    }

    static bool startsWithWord(const Text& text, TextView word) {
        return text.size() > word.size() &&
               equalsIgnoreAsciiCase(text.substr(0, word.size()), word) &&
               text[word.size()] == u' ';
    }

    // echo <line>^&echo <line>… | …\diskpart: diskpart reads the echoed lines.
    std::uint32_t pipeline(const Text& left, const Text& right) {
        const std::string program = fileNameOf(unquoted(right));
        if (program != "diskpart" && program != "diskpart.exe") return kNotRecognized;
        std::vector<Text> script;
        for (std::size_t start = 0; start <= left.size();) {
            auto end = left.find(u"^&", start);
            if (end == Text::npos) end = left.size();
            const Text part = trim(TextView(left).substr(start, end - start));
            if (startsWithWord(part, u"echo")) script.push_back(trim(TextView(part).substr(5)));
            start = end + 2;
        }
        return diskpart(script);
    }

    // The diskpart commands the program sends. Its exit code here is non-zero when one of them
    // failed, so that the shell's "&&" writes the log only after a real success.
    std::uint32_t diskpart(const std::vector<Text>& script) {
        bool diskSelected = false;
        ImageVolume* partition = nullptr;
        bool failed = false;
        for (const auto& command : script) {
            const auto words = splitCommandLine(command);
            const std::string first = words.empty() ? "" : lower(toUtf8(words[0]));
            const std::string second = words.size() < 2 ? "" : lower(toUtf8(words[1]));
            bool ok = true;
            std::string note;
            if (first == "select" && second == "disk" && words.size() == 3) {
                diskSelected = words[2] == decimal(kImageDiskNumber);
                ok = diskSelected;
            } else if (first == "list" && second == "part") {
                ok = diskSelected;
                for (const auto& v : m_.volumes_)
                    note += "\n    Partition " + std::to_string(v.number) + "  offset " +
                            std::to_string(v.partition.offset) + "  length " +
                            std::to_string(v.partition.length);
            } else if (first == "select" && second == "part" && words.size() == 3) {
                partition = nullptr;
                for (auto& v : m_.volumes_)
                    if (diskSelected && decimal(v.number) == words[2]) partition = &v;
                ok = partition != nullptr;
            } else if (first == "format") {
                ok = partition && diskpartFormat(*partition, words, note);
            } else if (first != "exit") {
                ok = false;
            }
            m_.say("[diskpart] " + toUtf8(command) + (ok ? "" : "  -> failed") + note);
            failed = failed || !ok;
            if (first == "exit") break;
        }
        return failed ? 1 : 0;
    }

    bool diskpartFormat(const ImageVolume& volume, const std::vector<Text>& words,
                        std::string& note) {
        std::string fs, label;
        for (const auto& word : words) {
            const std::string w = toUtf8(word);
            if (lower(w.substr(0, 3)) == "fs=") fs = lower(w.substr(3));
            if (lower(w.substr(0, 6)) == "label=") label = w.substr(6);
        }
        if (fs == "fat32" && volume.partition.length > kFat32FormatLimit) {
            note = "\n    The volume size is too big.";
            return false;
        }
        if (fs == "fat32") return formatFat32(volume.partition, label);
        if (fs == "ntfs") return formatNtfs(volume.partition, label, "4096");
        return false;
    }

    ImageMachine& m_;
};

ProcessHandle ImageMachine::createProcess(const Text& commandLine, std::uint32_t, std::uint32_t,
                                          std::uint16_t) {
    say("[run] " + toUtf8(commandLine));
    if (power_.lost()) {
        say("    -> did not start: the power is off");
        fail(21);  // ERROR_NOT_READY
        return {};
    }
    ChildPrograms programs(*this);
    const auto exitCode = programs.run(commandLine);
    if (!exitCode) {
        say("    -> did not start");
        fail(2);
        return {};
    }
    say("    -> exit code " + std::to_string(*exitCode));
    const auto id = nextId_++;
    processes_[id] = Process{*exitCode};
    return ProcessHandle(this, id);
}

WaitResult ImageMachine::waitForProcess(const ProcessHandle& process, std::uint32_t) {
    return processes_.count(process.id()) ? WaitResult::Ended : WaitResult::Failed;
}

bool ImageMachine::processExitCode(const ProcessHandle& process, std::uint32_t& exitCode) {
    const auto it = processes_.find(process.id());
    if (it == processes_.end()) return false;
    exitCode = it->second.exitCode;
    return true;
}

void ImageMachine::shellExecute(WindowId, const Text& verb, const Text& file) {
    if (power_.lost()) return;
    const bool relative = file.size() < 2 || file[1] != u':';
    const Text full =
        relative ? currentDirectory_ + (currentDirectory_.back() == u'\\' ? u"" : u"\\") + file
                 : file;
    if (fileExists(*this, full)) {
        started_.push_back(full);
        say("[program] " + toUtf8(verb) + " " + toUtf8(full));
    } else {
        say("[program] cannot " + toUtf8(verb) + " " + toUtf8(full) + ": no such file");
    }
}

}  // namespace qel::image
