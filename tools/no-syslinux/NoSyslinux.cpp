// Carried in the payload as syslinux.exe and syslinux64.exe. The built-in payload has no
// Windows Syslinux installer, so this program says so and fails; the caller then treats
// Syslinux as not installed.
#include <cstdio>

int main() {
    std::fputs(
        "This payload carries no Syslinux installer for Windows; Syslinux was not installed.\n",
        stderr);
    return 1;
}
