// Embedded in place of fat32format.exe when the FAT32 formatter was not built. It formats
// nothing: it says so and fails, so that the formatting stage reports a failure.
#include <cstdio>

int main() {
    std::fputs("fat32format.exe was not built into this program; nothing was formatted.\n", stderr);
    return 1;
}
