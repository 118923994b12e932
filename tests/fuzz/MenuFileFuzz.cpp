// Fuzz target for the Grub2 menu file: any file content, either block. The file must come out
// unchanged (the block was already there) or with exactly one block appended, after a CR LF when
// the last line had no line break, in the file's own encoding; a second run must add nothing.
// A file ending in NUL characters (an append cut off by a power loss) is written again: what
// came before the torn block is kept, the NULs are gone and the block is there.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "boot/MenuFile.h"
#include "fake/FakeMachine.h"

namespace {

using qel::Bytes;
using qel::Text;

const Text kMenu = u"E:\\QEL\\Menu\\Others.cfg";

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "menu file property broken: %s\n", what);
    std::abort();
}

std::vector<Text> linesOf(std::u16string_view text) {
    std::vector<Text> lines;
    while (!text.empty()) {
        const auto end = text.find_first_of(u"\r\n");
        lines.emplace_back(text.substr(0, end));
        if (end == std::u16string_view::npos) break;
        const bool crlf = text.substr(end, 2) == u"\r\n";
        text.remove_prefix(end + (crlf ? 2 : 1));
    }
    return lines;
}

bool hasLine(const std::vector<Text>& lines, std::u16string_view line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// True when an entry line of the file declares this key with its first "--hotkey=".
bool declared(const std::vector<Text>& lines, char16_t key) {
    for (const auto& line : lines) {
        if (line.rfind(u"menuentry ", 0) != 0) continue;
        const auto at = line.find(u"--hotkey=");
        if (at != Text::npos && at + 9 < line.size() && line[at + 9] == key) return true;
    }
    return false;
}

void checkSyslinuxEntry(const Text& entry, const std::vector<Text>& existing) {
    if (entry == u"menuentry \"Syslinux\" {") {
        for (const char16_t key : std::u16string_view(u"s123456789abdijmnpqtwxyz"))
            require(declared(existing, key), "entry without hotkey while one was free");
        return;
    }
    require(entry.size() > 12, "entry line");
    const char16_t key = entry[12];
    const Text expected =
        u"menuentry \"[" + Text(1, key) + u"] Syslinux\" --hotkey=" + Text(1, key) + u" {";
    require(entry == expected, "entry line text");
    require(Text(u"s123456789abdijmnpqtwxyz").find(key) != Text::npos, "hotkey not a candidate");
    require(!declared(existing, key), "hotkey already declared");
    const auto rank = Text(u"s123456789abdijmnpqtwxyz").find(key);
    for (std::size_t earlier = 0; earlier < rank; ++earlier)
        require(declared(existing, u"s123456789abdijmnpqtwxyz"[earlier]), "not the first free key");
}

void checkBlock(const std::vector<Text>& block, bool clover, const std::vector<Text>& existing) {
    const Text condition = u"if [ \"$pc\" -a -z \"$cd\" ]; then";
    if (clover) {
        const std::vector<Text> expected = {
            u"### Start Clover Legacy",
            condition,
            u"menuentry \"[l] Clover\" --hotkey=l {",
            u"\tsearch --file --no-floppy --set=root /EFI/CLOVER/CloverLegacy",
            u"\tchainloader /EFI/CLOVER/CloverLegacy",
            u"}",
            u"fi",
            u"### End Clover Legacy"};
        require(block == expected, "Clover block");
        return;
    }
    require(block.size() == 7, "Syslinux block length");
    const std::vector<Text> fixed = {u"### Start Syslinux Legacy",
                                     condition,
                                     block[2],
                                     u"\tchainloader /QEL/Tools/syslinux/syslinux/syslinux.bin",
                                     u"}",
                                     u"fi",
                                     u"### End Syslinux Legacy"};
    require(block == fixed, "Syslinux block");
    checkSyslinuxEntry(block[2], existing);
}

bool addBlock(qel::fake::FakeMachine& fm, bool clover) {
    return clover ? qel::AddCloverMenuEntry(fm, u"E:") : qel::AddSyslinuxMenuEntry(fm, u"E:");
}

void checkTornRewrite(qel::fake::FakeMachine& fm, const Text& before, const Bytes& after,
                      std::u16string_view marker) {
    const Text text = qel::decodeMenuText(fm, after).text;
    require(text.empty() || text.back() != u'\0', "NUL characters left at the end");
    require(hasLine(linesOf(text), marker), "no block after a torn append");
    Text kept = before;
    while (!kept.empty() && kept.back() == u'\0') kept.pop_back();
    const auto torn = kept.rfind(marker);
    if (torn != Text::npos) kept.erase(torn);
    require(text.starts_with(kept), "text before the torn append changed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool clover = (data[0] & 1) != 0;
    const Bytes before(data + 1, data + size);
    qel::fake::FakeMachine fm;
    fm.putDirectory(u"E:\\QEL\\Menu");
    fm.putFile(kMenu, before);

    require(addBlock(fm, clover), "result false");
    const Bytes after = fm.fileBytes(kMenu);
    const qel::MenuText existing = qel::decodeMenuText(fm, before);
    const std::u16string_view marker =
        clover ? u"### Start Clover Legacy" : u"### Start Syslinux Legacy";
    if (!existing.text.empty() && existing.text.back() == u'\0') {
        checkTornRewrite(fm, existing.text, after, marker);
        require(addBlock(fm, clover), "second result false");
        require(fm.fileBytes(kMenu) == after, "second run changed the file");
        return 0;
    }
    require(
        after.size() >= before.size() && std::equal(before.begin(), before.end(), after.begin()),
        "existing content changed");

    const std::vector<Text> existingLines = linesOf(existing.text);
    if (after.size() == before.size()) {
        require(hasLine(existingLines, marker), "nothing appended without a marker");
        return 0;
    }
    require(!hasLine(existingLines, marker), "block appended although present");

    Bytes added(after.begin() + static_cast<long>(before.size()), after.end());
    if (existing.lastUnitIncomplete) {
        require(added.front() == 0, "lone byte of a UTF-16 file not completed");
        added.erase(added.begin());
    }
    Text addition = qel::decodeMenuText(fm, added).text;
    if (existing.encoding != qel::MenuEncoding::Ansi) {
        // Decode the addition in the file's encoding (it carries no byte-order mark).
        Bytes marked = existing.encoding == qel::MenuEncoding::Utf8      ? Bytes{0xEF, 0xBB, 0xBF}
                       : existing.encoding == qel::MenuEncoding::Utf16Le ? Bytes{0xFF, 0xFE}
                                                                         : Bytes{0xFE, 0xFF};
        marked.insert(marked.end(), added.begin(), added.end());
        addition = qel::decodeMenuText(fm, marked).text;
    }
    require(addition.size() >= 2 && addition.substr(addition.size() - 2) == u"\r\n",
            "block not ended by CR LF");
    const bool lastLineOpen =
        !existing.text.empty() && existing.text.back() != u'\r' && existing.text.back() != u'\n';
    if (lastLineOpen) {
        require(addition.rfind(u"\r\n", 0) == 0, "open last line not ended");
        addition.erase(0, 2);
    }
    require(addition.find(u"\r\n\r\n") == Text::npos && addition.find(u'\n') != 0,
            "stray line break");
    require(std::count(addition.begin(), addition.end(), u'\r') ==
                std::count(addition.begin(), addition.end(), u'\n'),
            "line ends other than CR LF");
    checkBlock(linesOf(addition), clover, existingLines);

    require(addBlock(fm, clover), "second result false");
    require(fm.fileBytes(kMenu) == after, "second run changed the file");
    return 0;
}
