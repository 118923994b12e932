// qel-headless: runs the program's own runs on a disk image, with the image machine standing in
// for Windows, and prints what the window would show (dialogs, captions, progress, programs).
//
//   qel-headless --image FILE|DEVICE [--run extract|autopartition] [--format] [--no-bootloader]
//                [--layout 1|2] [--fat32-size N] [--fat32-unit MB|GB] [--clean-disk] [--english]
//                [--payload FILE] [--resource NAME=FILE]... [--answer CAPTION]...
//                [--default-answer CAPTION] [--host-folder DIR] [--fat32format PROGRAM]
//                [--windows-build N] [--32-bit-windows]
//                [--list-writes FILE]
//                [--cut-at-write N [--cut-keep-sectors K | --cut-drop-sectors K]]
//
// --list-writes numbers every write that reaches the image and lists it in the file, one line
// each: number, kind, target and bytes, separated by tabs. --cut-at-write cuts the power during
// write N: only the first K sectors it changes (in address order, 0 by default), or all but the
// last K, reach the image, and nothing after them.
//
// The image may be a block device (a stick's whole disk, /dev/sdX); one that the running system
// uses (mounted, swap, the root file system, device mapper or RAID) is refused before anything is
// written. Exit code 0 when the run ended by starting the companion application (and, on a block
// device, everything written has reached it), 1 when it ended otherwise or was refused, 2 for a
// wrong command line, 3 when the power was cut; --help prints the usage.
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "BlockDevices.h"
#include "ImageMachine.h"
#include "app/MainWindow.h"

namespace {

using qel::Text;
using qel::image::ImageMachine;
using qel::image::ImageMachineOptions;

struct Request {
    ImageMachineOptions machine;
    bool help = false;
    std::string run = "extract";
    bool format = false;
    bool bootloader = true;
    bool english = false;
    int layout = 1;                 // AutoPartition: 1 one FAT32 partition, 2 NTFS + FAT32
    std::string fat32Size = "512";  // AutoPartition, layout 2: the FAT32 partition's size
    std::string fat32Unit = "MB";
    bool cleanDisk = false;
    std::string writeListing;  // --list-writes
};

void printUsage(std::ostream& out) {
    out << "usage: qel-headless --image FILE|DEVICE [--run extract|autopartition] [--format]\n"
           "       [--no-bootloader] [--layout 1|2] [--fat32-size N] [--fat32-unit MB|GB]\n"
           "       [--clean-disk] [--english] [--payload FILE] [--resource NAME=FILE]...\n"
           "       [--answer CAPTION]... [--default-answer CAPTION] [--host-folder DIR]\n"
           "       [--fat32format PROGRAM] [--windows-build N] [--32-bit-windows]\n"
           "       [--list-writes FILE]\n"
           "       [--cut-at-write N [--cut-keep-sectors K | --cut-drop-sectors K]]\n"
           "Runs the program's extraction (\"OK\") or AutoPartition run on a disk image file or\n"
           "on a stick's whole block device, which must not be mounted or in use by the system.\n";
}

int usage(const std::string& problem) {
    std::cerr << "qel-headless: " << problem << "\n";
    printUsage(std::cerr);
    return 2;
}

bool parse(int argc, char** argv, Request& request, std::string& problem) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                problem = arg + " needs a value";
                return {};
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            request.help = true;
            return true;
        } else if (arg == "--image") {
            request.machine.imagePath = value();
        } else if (arg == "--run") {
            request.run = value();
        } else if (arg == "--format") {
            request.format = true;
        } else if (arg == "--no-bootloader") {
            request.bootloader = false;
        } else if (arg == "--layout") {
            request.layout = value() == "2" ? 2 : 1;
        } else if (arg == "--fat32-size") {
            request.fat32Size = value();
        } else if (arg == "--fat32-unit") {
            request.fat32Unit = value();
        } else if (arg == "--clean-disk") {
            request.cleanDisk = true;
        } else if (arg == "--english") {
            request.english = true;
        } else if (arg == "--payload") {
            request.machine.resources["QEL7z"] = value();
        } else if (arg == "--resource") {
            const std::string pair = value();
            const auto eq = pair.find('=');
            if (eq == std::string::npos) problem = "--resource wants NAME=FILE";
            request.machine.resources[pair.substr(0, eq)] = pair.substr(eq + 1);
        } else if (arg == "--answer") {
            request.machine.answers.push_back(value());
        } else if (arg == "--default-answer") {
            request.machine.defaultAnswer = value();
        } else if (arg == "--host-folder") {
            request.machine.hostFolder = value();
        } else if (arg == "--fat32format") {
            request.machine.fat32formatProgram = value();
        } else if (arg == "--windows-build") {
            request.machine.version.build = static_cast<std::uint32_t>(std::stoul(value()));
        } else if (arg == "--list-writes") {
            request.writeListing = value();
        } else if (arg == "--cut-at-write" || arg == "--cut-keep-sectors" ||
                   arg == "--cut-drop-sectors") {
            const std::string number = value();
            const bool digits = !number.empty() && number.size() < 16 &&
                                number.find_first_not_of("0123456789") == std::string::npos;
            if (!digits) problem = arg + " wants a number";
            auto& cut = request.machine.powerCut;
            auto& field = arg == "--cut-at-write"       ? cut.cutAt
                          : arg == "--cut-keep-sectors" ? cut.keepSectors
                                                        : cut.dropSectors;
            field = digits ? std::stoll(number) : 0;
        } else if (arg == "--32-bit-windows") {
            request.machine.wow64 = false;
        } else {
            problem = "unknown option " + arg;
        }
        if (!problem.empty()) return false;
    }
    if (request.machine.imagePath.empty()) problem = "--image is required";
    return problem.empty();
}

// The chooser's item of the image's first volume, or -1.
int firstVolumeItem(ImageMachine& machine, qel::MainWindow& window) {
    if (machine.volumes().empty()) return -1;
    const auto letter = machine.letterOf(machine.volumes().front().guid);
    if (!letter) return -1;
    const auto items = machine.items(window.ComboBox1);
    for (std::size_t i = 0; i < items.size(); ++i)
        if (!items[i].empty() && items[i][0] == static_cast<char16_t>(*letter))
            return static_cast<int>(i);
    return -1;
}

// Reports how a run ended; 0 when it started the companion application and every file it
// wrote is on the image.
int ending(ImageMachine& machine) {
    if (machine.power().lost()) {
        std::cout << "[headless] the run was cut: " << machine.power().cutReport() << "\n";
        return 3;
    }
    const bool written = machine.flushStores();
    if (!written) std::cout << "[headless] files the run wrote could not all be put on the image\n";
    const bool companionStarted = !machine.startedPrograms().empty();
    std::cout << "[headless] run ended; companion application "
              << (companionStarted ? "started" : "not started") << "; program "
              << (machine.quitRequests() > 0 ? "ends" : "keeps running") << "\n";
    return companionStarted && written ? 0 : 1;
}

// The extraction run as a user starts it: the image's first volume chosen, the options set as
// asked (their handlers run and ask what they ask), then "OK".
int runExtraction(ImageMachine& machine, const Request& request) {
    qel::MainWindow window(machine);
    window.create();
    if (request.english) window.guarded([&] { window.Label3Click(); });
    const int item = firstVolumeItem(machine, window);
    if (item < 0) {
        std::cout << "[headless] the image has no volume with a drive letter to choose\n";
        return 1;
    }
    machine.setSelectedIndex(window.ComboBox1, item);
    std::cout << "[headless] chosen: " << qel::toUtf8(machine.items(window.ComboBox1)[item])
              << "\n";
    window.guarded([&] { window.ComboBox1Change(); });
    if (request.format != window.ticked(window.CheckBox1))
        window.guarded([&] { window.setTicked(window.CheckBox1, request.format); });
    if (request.bootloader != window.ticked(window.CheckBox2))
        window.guarded([&] { window.setTicked(window.CheckBox2, request.bootloader); });
    std::cout << "[headless] OK pressed\n";
    machine.eventSink()->onClick(window.Button1);
    return ending(machine);
}

// The AutoPartition run as a user starts it: "AutoPartition", the image's disk chosen, the
// layout, size and "Clean Disk" set as asked (their notices answered), then the window's "OK".
int runAutoPartition(ImageMachine& machine, const Request& request) {
    qel::MainWindow window(machine);
    window.create();
    if (request.english) window.guarded([&] { window.Label3Click(); });
    if (!request.bootloader) window.guarded([&] { window.setTicked(window.CheckBox2, false); });
    machine.eventSink()->onClick(window.Button3);
    if (!window.repartition.isOpen()) {
        std::cout << "[headless] the AutoPartition window did not open\n";
        return 1;
    }
    const qel::RepartitionControls form = window.repartition.controls();
    const auto disks = machine.items(form.ComboBox1F2);
    const Text wanted = u"RM" + qel::decimal(qel::image::kImageDiskNumber) + u" ";
    for (std::size_t i = 0; i < disks.size(); ++i)
        if (disks[i].rfind(wanted, 0) == 0)
            machine.setSelectedIndex(form.ComboBox1F2, static_cast<int>(i));
    const auto layoutBox = request.layout == 1 ? form.CheckBox1F2 : form.CheckBox2F2;
    window.guarded([&] { window.setTicked(layoutBox, true); });
    if (request.layout == 2) {
        machine.setCaption(form.Edit1V, qel::fromUtf8(request.fat32Size));
        machine.setSelectedIndex(form.ComboBox2F2, request.fat32Unit == "GB" ? 1 : 0);
    }
    if (request.cleanDisk != window.ticked(form.CheckBox3F2))
        window.guarded([&] { window.setTicked(form.CheckBox3F2, request.cleanDisk); });
    std::cout << "[headless] AutoPartition OK pressed\n";
    machine.eventSink()->onClick(form.Button1F2);
    return ending(machine);
}

// A block device is written only when nothing of the running system uses it.
bool mayWrite(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return true;
    const auto reason =
        qel::image::blockDeviceInUse(st.st_rdev, qel::image::SystemTables::current());
    if (!reason) return true;
    std::cerr << "qel-headless: refusing to write " << path << ": " << *reason << "\n";
    return false;
}

// The carried Windows programs never run here (Linux programs stand in for them): unless files
// are named for them, short placeholders are staged in their place.
void addPlaceholders(ImageMachineOptions& machine, const std::string& folder) {
    for (const std::string name : {"7zG", "7zDLL", "7zVI", "f32"}) {
        bool named = false;
        for (const auto& [given, file] : machine.resources)
            named = named || qel::equalsIgnoreAsciiCase(qel::fromUtf8(given), qel::fromUtf8(name));
        if (named) continue;
        const std::string file = folder + "/" + name;
        std::ofstream(file) << name << " placeholder\n";
        machine.resources[name] = file;
    }
}

}  // namespace

int main(int argc, char** argv) {
    Request request;
    std::string problem;
    if (!parse(argc, argv, request, problem)) return usage(problem);
    if (request.help) return printUsage(std::cout), 0;
    if (!mayWrite(request.machine.imagePath)) return 1;
#ifdef QEL_FAT32FORMAT_LINUX
    if (request.machine.fat32formatProgram.empty())
        request.machine.fat32formatProgram = QEL_FAT32FORMAT_LINUX;
#endif
    const qel::image::TemporaryFolder placeholders("qel-headless-");
    addPlaceholders(request.machine, placeholders.path());
    request.machine.log = &std::cout;
    std::ofstream listing;
    if (!request.writeListing.empty()) {
        listing.open(request.writeListing, std::ios::trunc);
        if (!listing) return usage("cannot write " + request.writeListing);
        request.machine.powerCut.listing = &listing;
    }
    try {
        ImageMachine machine(request.machine);
        if (request.run == "extract") return runExtraction(machine, request);
        if (request.run == "autopartition") return runAutoPartition(machine, request);
        return usage("unknown run " + request.run);
    } catch (const std::exception& error) {
        std::cerr << "qel-headless: " << error.what() << "\n";
        return 1;
    }
}
