// The Grub2 menu file "\QEL\Menu\Others.cfg" on the target drive and the blocks the boot
// installers add to it. Blocks are only ever appended, never rewritten or removed; a block whose
// opening marker line is already in the file is not added again.
#pragma once

#include <optional>
#include <vector>

#include "platform/Platform.h"

namespace qel {

// Appends the "Syslinux Legacy" block (an entry that chain-loads Syslinux's boot sector file, with
// the first hotkey no other entry declares). root is "E:" or "\\?\Volume{…}", without a trailing
// backslash. True once the block is in the file; failures to read or write raise IoError.
bool AddSyslinuxMenuEntry(Platform& sys, const Text& root);

// Appends the "Clover Legacy" block (hotkey l), with the same rules.
bool AddCloverMenuEntry(Platform& sys, const Text& root);

// ---- The pieces both blocks share -------------------------------------------------------------

enum class MenuEncoding { Ansi, Utf8, Utf16Le, Utf16Be };

struct MenuText {
    MenuEncoding encoding = MenuEncoding::Ansi;
    Text text;  // the content without its byte-order mark
    // UTF-16 content of an odd number of bytes: its last unit is the lone byte completed by a
    // zero, and appending starts with that zero so that the appended units stay aligned.
    bool lastUnitIncomplete = false;
};

// Decodes a menu file: a byte-order mark selects UTF-8 or UTF-16 (LE or BE), otherwise the bytes
// are text in the system's ANSI code page.
MenuText decodeMenuText(Platform& sys, ByteSpan bytes);

// Encodes text for appending to a file in the given encoding (no byte-order mark).
Bytes encodeMenuText(Platform& sys, TextView text, MenuEncoding encoding);

// Splits text into lines ending at CR, LF or CR LF.
std::vector<Text> splitLines(TextView text);

// The first of "s123456789abdijmnpqtwxyz" that no line beginning with "menuentry " declares
// with its first "--hotkey="; nullopt when all are taken.
std::optional<char16_t> chooseHotkey(const std::vector<Text>& lines);

}  // namespace qel
