// A fake machine with removable disk 1 (old volume E:) behind the AutoPartition window, for runs
// of the window's "OK", with scripted child programs that record what sector 0 listed while they
// ran. The shell writes its log file only when the scripted diskpart or format.com ends with 0.
//
// How Windows sees the disk: after every table change there is one volume for each partition
// sector 0 lists, in slot order. As with removable media, the first keeps the disk's volume name
// and drive letter, a second gets another name. A volume's bytes are a 64 KiB window of the disk's
// 2 MiB (enough for boot sectors), chosen by its partition's start; the geometry claims the size.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "fake/FakeMachine.h"
#include "repartition/RepartitionWindow.h"
#include "run/WorkFolder.h"

namespace qel::reprun_test {

using fake::ChildOutcome;
using fake::FakeDisk;
using fake::FakeMachine;
using fake::FakeVolume;

inline constexpr std::int64_t kMiB = 1 << 20;
inline constexpr std::int64_t kGiB = 1LL << 30;
inline constexpr int kDisk = 1;
inline const Text kVolumeA = u"Volume{5e1f0000-0000-4000-8000-00000000000a}";
inline const Text kVolumeB = u"Volume{5e1f0000-0000-4000-8000-00000000000b}";
inline const Text kRootA = u"\\\\?\\" + kVolumeA;

struct Outcome {
    bool starts = true;
    std::uint32_t exitCode = 0;
};

struct ChildRun {
    Text line;
    std::vector<std::uint32_t> listed;  // start sectors of the partitions sector 0 listed
};

inline Bytes pattern(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + 1);
    return bytes;
}

class Bench {
public:
    explicit Bench(std::int64_t diskBytes = 8 * kGiB, bool wow64 = true) {
        machine.setWow64(wow64);
        for (const char16_t* name : {u"QEL7z", u"7zG", u"7zDLL", u"7zVI", u"f32"})
            machine.setResource(name, Bytes{'M', 'Z'});
        auto& diskEnum = machine.registryKey(u"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum");
        diskEnum.strings[u"1"] = u"USBSTOR\\STICK";
        diskEnum.dwords[u"Count"] = 1;
        machine.registryKey(u"SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\STICK")
            .strings[u"FriendlyName"] = u"Stick";

        FakeDisk disk = FakeDisk::ofSize(2 * kMiB);
        disk.bytes = pattern(2 * kMiB, 9);  // old boot code and data everywhere
        disk.tracksPerCylinder = 1;
        disk.sectorsPerTrack = 1;
        disk.cylinders = diskBytes / 512;
        std::fill(disk.bytes.begin() + 446, disk.bytes.begin() + 510, 0);
        fake::writeMbrEntry(disk.bytes, 0, 0x0C, 2048, static_cast<std::uint32_t>(diskBytes / 512));
        machine.setDisk(kDisk, std::move(disk));
        machine.addVolume(volume('E', kVolumeA, kMiB, diskBytes - kMiB));
        machine.onLayoutChanged = [this](FakeMachine& m, int) { relist(m); };
        machine.onProcess(u"", [this](FakeMachine& m, const Text& line) { return child(m, line); });
        form.create();
        form.Label3Click();  // English
    }

    // Opens the window and picks a layout (its notice answered with OK) and the FAT32 size.
    void choose(bool fat32Only, const Text& size = u"160", const Text& unit = u"MB") {
        machine.userClick(form.Button3);
        w = form.repartition.controls();
        machine.userClick(fat32Only ? w.CheckBox1F2 : w.CheckBox2F2);
        machine.userType(w.Edit1V, size);
        machine.setSelectedIndex(w.ComboBox2F2, unit == u"GB" ? 1 : 0);
        machine.clearRecords();
    }
    void pressOk() { machine.userClick(w.Button1F2); }

    Text workFolder() { return WorkFolder(WorkBase(machine)); }
    std::vector<Text> lines() const {
        std::vector<Text> out;
        for (const auto& run : runs) out.push_back(run.line);
        return out;
    }
    std::vector<Text> messages() const {
        std::vector<Text> out;
        for (const auto& shown : machine.dialogs()) out.push_back(shown.params.message);
        return out;
    }
    std::vector<Text> progress() {
        return machine.captionHistory(form.repartition.controls().Label2F2);
    }
    std::vector<std::uint32_t> listed() {
        std::vector<std::uint32_t> starts;
        const Bytes& bytes = machine.disk(kDisk).bytes;
        for (std::size_t at = 446; at < 510; at += 16)
            if (bytes[at + 4] != 0) starts.push_back(fake::le32(bytes, at + 8));
        return starts;
    }

    // Nothing created, written or started; the window is usable again.
    void expectNothingStarted() {
        EXPECT_TRUE(machine.shellFileOps().empty());
        EXPECT_FALSE(machine.hasDirectory(workFolder()));
        EXPECT_EQ(machine.quitRequests(), 0);
        EXPECT_EQ(machine.disk(kDisk).writeCount, 0u);
        EXPECT_TRUE(machine.volumeByLetter('E'));
        EXPECT_TRUE(machine.windowEnabled(w.window));
        EXPECT_EQ(machine.openHandles(), 0);
    }
    // The run-ending rule: disk closed, work folder deleted, end requested, window enabled.
    void expectRunEnded() {
        EXPECT_EQ(machine.openHandles(), 0);
        EXPECT_EQ(machine.openProcesses(), 0);
        EXPECT_FALSE(machine.hasDirectory(workFolder()));
        EXPECT_EQ(machine.quitRequests(), 1);
        EXPECT_TRUE(machine.windowEnabled(w.window));
    }

    FakeMachine machine;
    MainWindow form{machine};
    RepartitionControls w;
    Outcome sevenZip, formatCom, fat32format, diskpart, formatNtfs, syslinux, companion;
    std::optional<std::int64_t> volumeLength;  // reported instead of the partition's length
    std::uint32_t sectorsPerCluster = 8;
    std::function<void(FakeMachine&, int change)> afterLayoutChange;
    int layoutChanges = 0;
    std::function<void(FakeMachine&, const Text& line)> onChild;  // as each child starts
    bool grub2InPayload = true;
    std::vector<ChildRun> runs;

private:
    char letterA_ = 0;
    void relist(FakeMachine& m) {
        // The mount manager gives a volume that comes back its letter again.
        for (const auto& v : m.volumes())
            if (v.guid == kVolumeA) letterA_ = v.letter;
        const char letter = letterA_;
        std::erase_if(m.volumes(), [](const FakeVolume& v) { return v.disk == kDisk; });
        const Bytes& bytes = m.disk(kDisk).bytes;
        for (std::size_t at = 446; at < 510; at += 16) {
            if (bytes[at + 4] == 0) continue;
            const bool first = m.volumeByGuid(kVolumeA) == nullptr;
            const std::uint32_t start = fake::le32(bytes, at + 8);
            FakeVolume v =
                volume(first ? letter : '\0', first ? kVolumeA : kVolumeB,
                       start == 2048 ? kMiB : kMiB + 64 * 1024,
                       volumeLength.value_or(std::int64_t{fake::le32(bytes, at + 12)} * 512));
            v.sectorsPerCluster = sectorsPerCluster;
            m.addVolume(v);
        }
        if (afterLayoutChange) afterLayoutChange(m, ++layoutChanges);
    }

    static FakeVolume volume(char letter, const Text& guid, std::int64_t offset,
                             std::int64_t length) {
        FakeVolume v;
        v.letter = letter;
        v.guid = guid;
        v.disk = kDisk;
        v.offset = offset;
        v.length = length;
        return v;
    }

    Outcome* outcomeOf(FakeMachine& m, const Text& line) {
        const Text work = u"\"" + workFolder() + u"\\";
        const auto startsWith = [&](const Text& prefix) { return line.rfind(prefix, 0) == 0; };
        if (startsWith(work + u"7zG.exe\"")) return &sevenZip;
        if (startsWith(work + u"fat32format.exe\"")) return &fat32format;
        if (startsWith(u"\"" + form.context.formatPath + u"\"")) return &formatCom;
        if (startsWith(u"\"" + m.systemDirectory() + u"\\cmd.exe\" /S /C \""))
            return line.find(u"diskpart") != Text::npos ? &diskpart : &formatNtfs;
        if (line.find(u"\\syslinux") != Text::npos) return &syslinux;
        if (line.ends_with(u"\\QELCreator.exe")) return &companion;
        return nullptr;
    }

    ChildOutcome child(FakeMachine& m, const Text& line) {
        Outcome* outcome = outcomeOf(m, line);
        if (!outcome || !outcome->starts) return ChildOutcome{.starts = false};
        runs.push_back({line, listed()});
        if (onChild) onChild(m, line);
        if (outcome->exitCode == 0) {
            if (outcome == &sevenZip)
                putPayload(m, between(line, u"-o\"", u"\\\""), grub2InPayload);
            if (outcome == &diskpart || outcome == &formatNtfs)
                m.putFile(between(line, u"> \"", u"\""), std::string("0 \r\n"));
        }
        return ChildOutcome{.exitCode = outcome->exitCode};
    }

    static Text between(const Text& line, const Text& open, const Text& close) {
        const auto from = line.find(open) + open.size();
        return line.substr(from, line.find(close, from) - from);
    }

    static void putPayload(FakeMachine& m, const Text& root, bool withGrub2) {
        if (withGrub2) m.putFile(root + u"\\QEL\\grub\\i386-pc\\boot.img", pattern(512, 1));
        m.putFile(root + u"\\QEL\\grub\\i386-pc\\uncore.img", pattern(30000, 2));
        m.putFile(root + u"\\QEL\\Tools\\Clover\\boot1f32", pattern(512, 3));
        m.putFile(root + u"\\QEL\\Tools\\Clover\\boot7", pattern(100, 4));
        m.putDirectory(root + u"\\QEL\\Tools\\syslinux\\syslinux");
        m.putDirectory(root + u"\\EFI\\CLOVER");
        m.putDirectory(root + u"\\EFI\\BOOT");
        m.putFile(root + u"\\QEL\\razevor.ico", std::string("icon"));
        m.putFile(root + u"\\QELCreator.exe", std::string("MZ"));
    }
};

}  // namespace qel::reprun_test
