// An 8 MiB stick E: on a fake machine with the main window over it, for runs of "OK" with the
// options: a payload with the boot files, and scripted formatters and Syslinux installers.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "app/MainWindow.h"
#include "boot/Grub2Mbr.h"
#include "fake/FakeMachine.h"
#include "texts/Dialogs.h"

namespace qel::options_test {

using fake::ChildOutcome;
using fake::FakeMachine;

inline const Text kWorkFolder = u"C:\\Users\\user\\AppData\\Local\\Temp\\qelextract";
inline const Text kSyslinuxBin = u"E:\\QEL\\Tools\\syslinux\\syslinux\\syslinux.bin";
inline constexpr std::int64_t kStickBytes = 8 << 20;

inline Bytes filled(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
    return bytes;
}

struct Stick {
    std::uint32_t firstSector = 2048;  // of its one partition
    Text fileSystem = u"FAT32";
    std::string style = {};          // "GPT" forces it; otherwise read from sector 0
    std::int64_t volumeLength = -1;  // as the device reports it; -1: the partition's
};

// How a scripted child program ends.
struct Outcome {
    bool starts = true;
    std::uint32_t exitCode = 0;
    bool exitCodeReadable = true;
    bool succeeds() const { return starts && exitCode == 0 && exitCodeReadable; }
};

struct Bench {
    explicit Bench(const Stick& stick = {}) {
        for (const char16_t* name : {u"QEL7z", u"7zG", u"7zDLL", u"7zVI", u"f32"})
            machine.setResource(name, Bytes{'M', 'Z'});
        fake::FakeDisk disk = fake::FakeDisk::ofSize(kStickBytes);
        disk.forcedStyle = stick.style;
        const auto sectors = static_cast<std::uint32_t>(kStickBytes / 512) - stick.firstSector;
        fake::writeMbrEntry(disk.bytes, 0, 0x0C, stick.firstSector, sectors);
        fake::FakeVolume volume;
        volume.letter = 'E';
        volume.disk = machine.addDisk(std::move(disk));
        volume.offset = std::int64_t{stick.firstSector} * 512;
        volume.length = stick.volumeLength >= 0 ? stick.volumeLength : std::int64_t{sectors} * 512;
        volume.totalBytes = std::uint64_t{sectors} * 512;
        volume.fileSystem = stick.fileSystem;
        machine.addVolume(volume);
        const auto format = [this](FakeMachine& m) {
            formatCaption = m.caption(window.CheckBox1);
            if (formatter.succeeds()) m.volumeByLetter('E')->fileSystem = u"FAT32";
        };
        script(u"\"" + kWorkFolder + u"\\7zG.exe\"", extraction, putPayload);
        script(u"\"" + kWorkFolder + u"\\fat32format.exe\"", formatter, format);
        script(u"\"C:\\Windows\\", formatter, format);  // format.com
        script(u"\"E:\\QEL\\Tools\\syslinux\\syslinux\\syslinux", syslinux, [this](FakeMachine& m) {
            syslinuxCaption = m.caption(window.CheckBox2);
            oldBootSectorThere = m.hasFile(kSyslinuxBin);
            if (syslinux.succeeds()) m.putFile(kSyslinuxBin, filled(512, 9));
        });
    }

    // Opens the window in English with the options as given.
    void openWindow(bool format, bool bootloader) {
        window.create();
        window.Label3Click();
        window.setTickedSilently(window.CheckBox1, format);
        window.setTickedSilently(window.CheckBox2, bootloader);
        machine.clearRecords();
    }
    void clickOk() { machine.userClick(window.Button1); }

    const fake::ProcessRecord* ran(const Text& program) const {
        for (const auto& process : machine.processes())
            if (process.commandLine.find(program) != Text::npos) return &process;
        return nullptr;
    }
    std::string menu() {
        const Text file = u"E:\\QEL\\Menu\\Others.cfg";
        return machine.hasFile(file) ? machine.fileText(file) : "";
    }
    bool menuHas(const char* block) { return menu().find(block) != std::string::npos; }
    // The disk carries Grub2's boot code and exactly this core image.
    bool grub2Installed(const char16_t* coreImage, std::int32_t bytesPerSector = 512) {
        return CheckGrub2Mbr(machine, u"\\\\.\\PHYSICALDRIVE0", u"E:",
                             u"E:\\QEL\\grub\\i386-pc\\" + Text(coreImage),
                             bytesPerSector) == kGrub2Installed;
    }
    bool cloverInstalled() { return machine.hasFile(u"E:\\EFI\\CLOVER\\CloverLegacy"); }

    // The run ended: the work folder is gone, the window usable and nothing left open.
    void expectEnded(bool completed) {
        EXPECT_FALSE(machine.hasDirectory(kWorkFolder));
        EXPECT_EQ(machine.quitRequests(), 1);
        EXPECT_EQ(machine.shellExecutes().size(), completed ? 1u : 0u);
        EXPECT_TRUE(machine.enabled(window.Button1) && machine.windowEnabled(window.Form1));
        EXPECT_EQ(machine.openHandles() + machine.openProcesses(), 0);
    }
    // The run returned before staging: nothing created or written, the program runs on.
    void expectStayed() {
        EXPECT_FALSE(machine.hasDirectory(kWorkFolder));
        EXPECT_EQ(machine.quitRequests(), 0);
        EXPECT_TRUE(machine.processes().empty());
        EXPECT_EQ(machine.disk(0).writeCount, 0u);
        EXPECT_TRUE(machine.enabled(window.Button1));
    }

    FakeMachine machine;
    MainWindow window{machine};
    Outcome formatter;
    Outcome syslinux;
    Text formatCaption;               // of "Format to FAT32" while the formatter ran
    Text syslinuxCaption;             // of "Auto install bootloader" while Syslinux ran
    bool oldBootSectorThere = false;  // when Syslinux started

private:
    // A child program that does its part when started and ends as its outcome then says.
    void script(const Text& prefix, const Outcome& outcome,
                std::function<void(FakeMachine&)> effect) {
        machine.onProcess(prefix, [&outcome, effect](FakeMachine& m, const Text&) {
            effect(m);
            return ChildOutcome{outcome.starts, outcome.exitCode, outcome.exitCodeReadable, 1};
        });
    }
    // 7-Zip's part: the payload tree with the boot files.
    static void putPayload(FakeMachine& m) {
        const Text grub = u"E:\\QEL\\grub\\i386-pc\\";
        m.putFile(grub + u"boot.img", filled(512, 1));
        m.putFile(grub + u"uncore.img", filled(30000, 2));
        m.putFile(grub + u"msdos_fat.img", filled(20000, 3));
        m.putFile(grub + u"msdos_exfat.img", filled(25000, 4));
        m.putFile(u"E:\\QEL\\Tools\\Clover\\boot1f32", filled(512, 5));
        m.putFile(u"E:\\QEL\\Tools\\Clover\\boot7", filled(1000, 6));
        m.putDirectory(u"E:\\EFI\\CLOVER");
        m.putDirectory(u"E:\\QEL\\Tools\\syslinux\\syslinux");
        m.putFile(u"E:\\QEL\\razevor.ico", std::string("icon"));
    }
    Outcome extraction;
};

}  // namespace qel::options_test
