// Runs of qel-headless on a test image, with a small payload of the layout the program relies on
// and stand-ins for the other resources.
#pragma once

#include <fstream>
#include <iterator>

#include "ImageTestSupport.h"

#ifdef QEL_HEADLESS_PROGRAM

namespace qel::image::test {

class HeadlessTest : public ImageTest {
protected:
    std::string driveC = folder.path() + "/drive-c";
    std::string resources = folder.path() + "/resources";
    std::string tree = resources + "/tree";

    // The payload: the companion program and icon, Grub2's boot code and core image, the
    // Syslinux installers' files and folder, Clover's boot sector and loader, the EFI folders.
    // The binary files hold random bytes, so that what lands on the disk can be traced to them;
    // Clover's boot sector keeps a jump to its code and the boot signature.
    void SetUp() override {
        ok("mkdir -p " + driveC + " " + tree + "/QEL/grub/i386-pc " + tree +
           "/QEL/Tools/syslinux/syslinux " + tree + "/QEL/Tools/Clover " + tree + "/EFI/BOOT " +
           tree + "/EFI/CLOVER");
        ok("cd " + tree +
           " && echo icon > QEL/razevor.ico && echo companion > QELCreator.exe"
           " && head -c 512 /dev/urandom > QEL/grub/i386-pc/boot.img"
           " && head -c 20000 /dev/urandom > QEL/grub/i386-pc/uncore.img"
           " && echo installer > QEL/Tools/syslinux/syslinux/syslinux.exe"
           " && echo installer > QEL/Tools/syslinux/syslinux/syslinux64.exe"
           " && { printf '\\353\\130\\220'; head -c 507 /dev/urandom; printf '\\125\\252'; }"
           " > QEL/Tools/Clover/boot1f32"
           " && echo loader > QEL/Tools/Clover/boot7"
           " && 7zz a -ptubrisk ../RAZEvor.7z QEL EFI QELCreator.exe >/dev/null");
        for (const char* name : {"7zG", "7zDLL", "7zVI", "f32"})
            ok("echo " + std::string(name) + " > " + resources + "/" + name);
    }

    HostResult headless(const std::string& extra) { return headlessOn(image, extra); }
    HostResult headlessOn(const std::string& target, const std::string& extra) {
        std::string line = std::string(QEL_HEADLESS_PROGRAM) + " --image " + target +
                           " --host-folder " + driveC + " --payload " + resources + "/RAZEvor.7z";
        for (const char* name : {"7zG", "7zDLL", "7zVI", "f32"})
            line += " --resource " + std::string(name) + "=" + resources + "/" + name;
        return sh(line + " " + extra);
    }

    // A file of the payload tree, as put into the archive.
    Bytes payloadFile(const std::string& path) { return fileBytes(tree + "/" + path); }

    static Bytes fileBytes(const std::string& path, std::int64_t offset = 0,
                           std::size_t count = static_cast<std::size_t>(-1)) {
        std::ifstream in(path, std::ios::binary);
        in.seekg(offset);
        Bytes bytes;
        for (std::istreambuf_iterator<char> it(in), end; it != end && bytes.size() < count; ++it)
            bytes.push_back(static_cast<std::uint8_t>(*it));
        return bytes;
    }
};

}  // namespace qel::image::test

#endif
