// A fake machine with an 8 MiB stick E: and the main window over it, for runs of "OK" with the
// options "Format to FAT32" and "Auto install bootloader": a payload tree with the boot files, and
// scripted formatters and Syslinux installers that record what the window showed while they ran.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "boot/Grub2Mbr.h"
#include "fake/FakeMachine.h"
#include "texts/Dialogs.h"

namespace qel::options_test {

using fake::ChildOutcome;
using fake::FakeDisk;
using fake::FakeMachine;
using fake::FakeVolume;

inline const Text kTemp = u"C:\\Users\\user\\AppData\\Local\\Temp";
inline const Text kWorkFolder = kTemp + u"\\qelextract";
inline const Text kSyslinuxFolder = u"E:\\QEL\\Tools\\syslinux\\syslinux";
inline const Text kSyslinuxBin = kSyslinuxFolder + u"\\syslinux.bin";
inline const Text kMenuFile = u"E:\\QEL\\Menu\\Others.cfg";
inline const Text kDisk0 = u"\\\\.\\PHYSICALDRIVE0";
inline constexpr std::int64_t kStickBytes = 8 << 20;

inline Bytes filled(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
    return bytes;
}

// How the stick is laid out before the run.
struct Stick {
    std::uint32_t firstSector = 2048;  // of the one partition, in 512-byte sectors
    Text fileSystem = u"FAT32";
    std::string style = {};  // "" (MBR from sector 0) or "GPT"
    std::uint32_t sectorsPerCluster = 8;
    std::int64_t volumeLength = -1;  // as the device reports it; -1: the partition's length
};

// What a scripted child program does.
struct Outcome {
    bool starts = true;
    std::uint32_t exitCode = 0;
    bool exitCodeReadable = true;

    ChildOutcome child() const {
        return ChildOutcome{.starts = starts,
                            .exitCode = exitCode,
                            .exitCodeReadable = exitCodeReadable,
                            .waitsBeforeEnd = 1};
    }
};

struct Bench {
    explicit Bench(const Stick& stick = {}) {
        for (const char16_t* name : {u"QEL7z", u"7zG", u"7zDLL", u"7zVI", u"f32"})
            machine.setResource(name, Bytes{'M', 'Z'});
        FakeDisk disk = FakeDisk::ofSize(kStickBytes);
        disk.forcedStyle = stick.style;
        const std::uint32_t sectors =
            static_cast<std::uint32_t>(kStickBytes / 512) - stick.firstSector;
        fake::writeMbrEntry(disk.bytes, 0, 0x0C, stick.firstSector, sectors);
        FakeVolume volume;
        volume.letter = 'E';
        volume.disk = machine.addDisk(std::move(disk));
        volume.offset = std::int64_t{stick.firstSector} * 512;
        volume.length = stick.volumeLength >= 0 ? stick.volumeLength : std::int64_t{sectors} * 512;
        volume.totalBytes = std::uint64_t{sectors} * 512;
        volume.fileSystem = stick.fileSystem;
        volume.sectorsPerCluster = stick.sectorsPerCluster;
        machine.addVolume(volume);
        extractPayload();
        scriptFormatters();
        scriptSyslinux();
    }

    // Opens the window in English with the options as given.
    void openWindow(bool format, bool bootloader) {
        window.create();
        window.Label3Click();
        window.setTickedSilently(window.CheckBox1, format);
        window.setTickedSilently(window.CheckBox2, bootloader);
        machine.clearRecords();
    }

    // 7-Zip unpacks a payload tree with Grub2's images, Clover's files and Syslinux's folder.
    void extractPayload() {
        machine.onProcess(u"\"" + kWorkFolder + u"\\7zG.exe\"", [](FakeMachine& m, const Text&) {
            const Text grub = u"E:\\QEL\\grub\\i386-pc\\";
            m.putFile(grub + u"boot.img", filled(512, 1));
            m.putFile(grub + u"uncore.img", filled(30000, 2));
            m.putFile(grub + u"msdos_fat.img", filled(20000, 3));
            m.putFile(grub + u"msdos_exfat.img", filled(25000, 4));
            m.putFile(u"E:\\QEL\\Tools\\Clover\\boot1f32", filled(512, 5));
            m.putFile(u"E:\\QEL\\Tools\\Clover\\boot7", filled(1000, 6));
            m.putDirectory(u"E:\\EFI\\CLOVER");
            m.putDirectory(kSyslinuxFolder);
            m.putFile(u"E:\\QEL\\razevor.ico", std::string("icon"));
            m.putFile(u"E:\\QELCreator.exe", std::string("MZ"));
            return ChildOutcome{.waitsBeforeEnd = 1};
        });
    }

    // Both formatters (format.com lives under C:\Windows): record the caption of "Format to
    // FAT32" and leave FAT32 on success.
    void scriptFormatters() {
        const auto script = [this](FakeMachine& m, const Text&) {
            formatCaption = m.caption(window.CheckBox1);
            if (formatter.starts && formatter.exitCode == 0)
                m.volumeByLetter('E')->fileSystem = u"FAT32";
            return formatter.child();
        };
        machine.onProcess(u"\"" + kWorkFolder + u"\\fat32format.exe\"", script);
        machine.onProcess(u"\"C:\\Windows\\", script);
    }

    // Both Syslinux installers: record the caption and write a fresh boot-sector file.
    void scriptSyslinux() {
        machine.onProcess(u"\"" + kSyslinuxFolder + u"\\syslinux",
                          [this](FakeMachine& m, const Text&) {
                              syslinuxCaption = m.caption(window.CheckBox2);
                              staleBootSectorThere = m.hasFile(kSyslinuxBin);
                              if (syslinux.starts && syslinux.exitCode == 0)
                                  m.putFile(kSyslinuxBin, filled(512, 9));
                              return syslinux.child();
                          });
    }

    void clickOk() { machine.userClick(window.Button1); }

    std::vector<Text> commandLines() const {
        std::vector<Text> lines;
        for (const auto& process : machine.processes())
            if (process.started) lines.push_back(process.commandLine);
        return lines;
    }
    bool ran(const Text& program) const {
        for (const auto& process : machine.processes())
            if (process.commandLine.find(program) != Text::npos) return true;
        return false;
    }
    std::vector<Text> dialogMessages() const {
        std::vector<Text> messages;
        for (const auto& shown : machine.dialogs()) messages.push_back(shown.spec.message);
        return messages;
    }
    std::string menu() { return machine.hasFile(kMenuFile) ? machine.fileText(kMenuFile) : ""; }
    bool menuHas(const std::string& block) { return menu().find(block) != std::string::npos; }
    // The disk carries Grub2's boot code and exactly this core image.
    bool grub2Installed(const char16_t* coreImage, std::int32_t bytesPerSector = 512) {
        return CheckGrub2Mbr(machine, kDisk0, u"E:", u"E:\\QEL\\grub\\i386-pc\\" + Text(coreImage),
                             bytesPerSector) == kGrub2Installed;
    }
    bool cloverInstalled() { return machine.hasFile(u"E:\\EFI\\CLOVER\\CloverLegacy"); }

    // The run stayed in the window: nothing created, nothing started, the program runs on.
    void expectStayed() {
        EXPECT_TRUE(machine.enabled(window.Button1));
        EXPECT_TRUE(machine.windowEnabled(window.Form1));
        EXPECT_FALSE(machine.hasDirectory(kWorkFolder));
        EXPECT_TRUE(machine.processes().empty());
        EXPECT_EQ(machine.quitRequests(), 0);
        EXPECT_EQ(machine.disk(0).writeCount, 0u);
        EXPECT_EQ(machine.openHandles(), 0);
    }

    // The run ended after staging without reaching the companion application.
    void expectEndedEarly() {
        EXPECT_TRUE(machine.enabled(window.Button1));
        EXPECT_TRUE(machine.windowEnabled(window.Form1));
        EXPECT_FALSE(machine.hasDirectory(kWorkFolder));
        EXPECT_EQ(machine.quitRequests(), 1);
        EXPECT_TRUE(machine.shellExecutes().empty());
        EXPECT_EQ(machine.openHandles(), 0);
        EXPECT_EQ(machine.openProcesses(), 0);
    }

    // The run went all the way to the companion application and the end.
    void expectCompleted() {
        EXPECT_TRUE(machine.hasFile(u"E:\\autorun.inf"));
        EXPECT_EQ(machine.shellExecutes().size(), 1u);
        EXPECT_FALSE(machine.hasDirectory(kWorkFolder));
        EXPECT_EQ(machine.quitRequests(), 1);
        EXPECT_EQ(machine.openHandles(), 0);
        EXPECT_EQ(machine.openProcesses(), 0);
    }

    FakeMachine machine;
    MainWindow window{machine};
    Outcome formatter;
    Outcome syslinux;
    Text formatCaption;
    Text syslinuxCaption;
    bool staleBootSectorThere = false;
};

}  // namespace qel::options_test
