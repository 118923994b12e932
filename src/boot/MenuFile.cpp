#include "boot/MenuFile.h"

#include <algorithm>

namespace qel {

namespace {

constexpr TextView kMenuFile = u"\\QEL\\Menu\\Others.cfg";
constexpr TextView kHotkeyCandidates = u"s123456789abdijmnpqtwxyz";
constexpr TextView kEntryStart = u"menuentry ";
constexpr TextView kHotkeyOption = u"--hotkey=";
constexpr TextView kLineEnd = u"\r\n";
constexpr TextView kPcOnlyCondition = u"if [ \"$pc\" -a -z \"$cd\" ]; then";

struct MenuFile {
    Text path;
    MenuText content;  // empty when the file does not exist yet
    std::vector<Text> lines;
};

MenuFile readMenuFile(Platform& sys, const Text& root) {
    MenuFile file;
    file.path = root + Text(kMenuFile);
    if (!fileExists(sys, file.path)) return file;
    const auto bytes = readWholeFile(sys, file.path);
    if (!bytes) throw IoError(u"Cannot open file \"" + file.path + u"\".");
    file.content = decodeMenuText(sys, *bytes);
    file.lines = splitLines(file.content.text);
    return file;
}

bool containsLine(const MenuFile& file, TextView line) {
    return std::find(file.lines.begin(), file.lines.end(), line) != file.lines.end();
}

// A last line without its line break would be continued by the block's first line.
bool endsInsideLine(TextView text) {
    return !text.empty() && text.back() != u'\r' && text.back() != u'\n';
}

// Appends the block at the end of the file, in the file's own encoding; creates the file when
// it does not exist.
void appendBlock(Platform& sys, const MenuFile& file, const std::vector<Text>& block) {
    Text addition;
    if (endsInsideLine(file.content.text)) addition += kLineEnd;
    for (const auto& line : block) addition += line + Text(kLineEnd);
    Bytes bytes = encodeMenuText(sys, addition, file.content.encoding);
    if (file.content.lastUnitIncomplete) bytes.insert(bytes.begin(), 0);

    const Handle out = sys.createFile(file.path, win::GENERIC_WRITE, win::FILE_SHARE_READ,
                                      win::OPEN_ALWAYS, win::FILE_ATTRIBUTE_NORMAL);
    if (!out.valid()) throw IoError(u"Cannot create file \"" + file.path + u"\".");
    std::int64_t end = 0;
    std::uint32_t written = 0;
    if (!sys.setFilePointer(out, 0, win::FILE_END, end) || !sys.writeFile(out, bytes, written) ||
        written != bytes.size())
        throw IoError(u"Error writing file \"" + file.path + u"\".");
}

Text joinLines(const std::vector<Text>& lines) {
    Text text;
    for (const auto& line : lines) text += line + Text(kLineEnd);
    return text;
}

Bytes byteOrderMark(MenuEncoding encoding) {
    switch (encoding) {
        case MenuEncoding::Utf8:
            return {0xEF, 0xBB, 0xBF};
        case MenuEncoding::Utf16Le:
            return {0xFF, 0xFE};
        case MenuEncoding::Utf16Be:
            return {0xFE, 0xFF};
        case MenuEncoding::Ansi:
            break;
    }
    return {};
}

// The text without what an append of the block, cut off by a power loss, left at its end: room
// the file system gave the file whose content never arrived, which reads as NUL characters, and
// before it the block's first lines, the last perhaps in part. Without that room the block's
// start is taken as it stands, as a block edited by hand.
template <typename MakeBlock>
Text withoutTornAppend(const Text& text, MakeBlock makeBlock) {
    Text kept = text;
    while (!kept.empty() && kept.back() == u'\0') kept.pop_back();
    if (kept.size() == text.size()) return kept;
    const Text marker = makeBlock(std::vector<Text>{}).front();
    const auto at = kept.rfind(marker);
    if (at == Text::npos || (at > 0 && kept[at - 1] != u'\n' && kept[at - 1] != u'\r')) return kept;
    const Text before = kept.substr(0, at);
    const Text block = joinLines(makeBlock(splitLines(before)));
    const TextView tail = TextView(kept).substr(at);
    return tail.size() < block.size() && block.starts_with(tail) ? before : kept;
}

// Writes the file again with its kept text and the block.
void rewriteWithBlock(Platform& sys, const MenuFile& file, const std::vector<Text>& block) {
    Text text = file.content.text;
    if (endsInsideLine(text)) text += kLineEnd;
    Bytes bytes = byteOrderMark(file.content.encoding);
    const Bytes encoded = encodeMenuText(sys, text + joinLines(block), file.content.encoding);
    bytes.insert(bytes.end(), encoded.begin(), encoded.end());
    writeWholeFile(sys, file.path, bytes);
}

// Adds a block opened by its first line, the marker, unless the file already holds the marker.
// A file whose end a cut-off append left torn is written again without it.
template <typename MakeBlock>
bool addMenuBlock(Platform& sys, const Text& root, MakeBlock makeBlock) {
    MenuFile file = readMenuFile(sys, root);
    const Text kept = withoutTornAppend(file.content.text, makeBlock);
    const bool torn = kept.size() != file.content.text.size();
    if (torn) {
        file.content.text = kept;
        file.lines = splitLines(kept);
    }
    const std::vector<Text> block = makeBlock(file.lines);
    const bool present = containsLine(file, block.front());
    if (torn)
        rewriteWithBlock(sys, file, present ? std::vector<Text>{} : block);
    else if (!present)
        appendBlock(sys, file, block);
    return true;
}

std::vector<Text> syslinuxBlock(const std::vector<Text>& existingLines) {
    const auto hotkey = chooseHotkey(existingLines);
    Text entry = u"menuentry \"Syslinux\" {";
    if (hotkey) {
        const Text key(1, *hotkey);
        entry = u"menuentry \"[" + key + u"] Syslinux\" --hotkey=" + key + u" {";
    }
    return {u"### Start Syslinux Legacy",
            Text(kPcOnlyCondition),
            entry,
            u"\tchainloader /QEL/Tools/syslinux/syslinux/syslinux.bin",
            u"}",
            u"fi",
            u"### End Syslinux Legacy"};
}

std::vector<Text> cloverBlock(const std::vector<Text>&) {
    return {u"### Start Clover Legacy",
            Text(kPcOnlyCondition),
            u"menuentry \"[l] Clover\" --hotkey=l {",
            u"\tsearch --file --no-floppy --set=root /EFI/CLOVER/CloverLegacy",
            u"\tchainloader /EFI/CLOVER/CloverLegacy",
            u"}",
            u"fi",
            u"### End Clover Legacy"};
}

bool startsWithBytes(ByteSpan bytes, std::initializer_list<std::uint8_t> prefix) {
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

MenuText decodeUtf16(ByteSpan bytes, bool bigEndian) {
    MenuText decoded{bigEndian ? MenuEncoding::Utf16Be : MenuEncoding::Utf16Le, {}, false};
    decoded.text.reserve(bytes.size() / 2 + 1);
    for (std::size_t at = 0; at < bytes.size(); at += 2) {
        const unsigned first = bytes[at];
        const unsigned second = at + 1 < bytes.size() ? bytes[at + 1] : 0;
        const unsigned high = bigEndian ? first : second;
        const unsigned low = bigEndian ? second : first;
        decoded.text.push_back(static_cast<char16_t>((high << 8) | low));
    }
    decoded.lastUnitIncomplete = bytes.size() % 2 != 0;
    return decoded;
}

Bytes encodeUtf16(TextView text, bool bigEndian) {
    Bytes bytes;
    bytes.reserve(text.size() * 2);
    for (const char16_t unit : text) {
        const auto high = static_cast<std::uint8_t>(unit >> 8);
        const auto low = static_cast<std::uint8_t>(unit & 0xFF);
        bytes.push_back(bigEndian ? high : low);
        bytes.push_back(bigEndian ? low : high);
    }
    return bytes;
}

}  // namespace

MenuText decodeMenuText(Platform& sys, ByteSpan bytes) {
    if (startsWithBytes(bytes, {0xEF, 0xBB, 0xBF})) {
        const auto rest = bytes.subspan(3);
        return {MenuEncoding::Utf8, fromUtf8(std::string_view(
                                        reinterpret_cast<const char*>(rest.data()), rest.size()))};
    }
    if (startsWithBytes(bytes, {0xFF, 0xFE})) return decodeUtf16(bytes.subspan(2), false);
    if (startsWithBytes(bytes, {0xFE, 0xFF})) return decodeUtf16(bytes.subspan(2), true);
    return {MenuEncoding::Ansi, sys.fromAnsi(std::string(bytes.begin(), bytes.end())), false};
}

Bytes encodeMenuText(Platform& sys, TextView text, MenuEncoding encoding) {
    switch (encoding) {
        case MenuEncoding::Utf8: {
            const std::string utf8 = toUtf8(text);
            return Bytes(utf8.begin(), utf8.end());
        }
        case MenuEncoding::Utf16Le:
            return encodeUtf16(text, false);
        case MenuEncoding::Utf16Be:
            return encodeUtf16(text, true);
        case MenuEncoding::Ansi:
            break;
    }
    const std::string ansi = sys.toAnsi(Text(text));
    return Bytes(ansi.begin(), ansi.end());
}

std::vector<Text> splitLines(TextView text) {
    std::vector<Text> lines;
    std::size_t start = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] != u'\r' && text[at] != u'\n') continue;
        lines.emplace_back(text.substr(start, at - start));
        if (text[at] == u'\r' && at + 1 < text.size() && text[at + 1] == u'\n') ++at;
        start = at + 1;
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

std::optional<char16_t> chooseHotkey(const std::vector<Text>& lines) {
    Text candidates(kHotkeyCandidates);
    for (const TextView line : lines) {
        if (!line.starts_with(kEntryStart)) continue;
        const auto option = line.find(kHotkeyOption);
        if (option == TextView::npos || option + kHotkeyOption.size() >= line.size()) continue;
        std::erase(candidates, line[option + kHotkeyOption.size()]);
    }
    if (candidates.empty()) return std::nullopt;
    return candidates.front();
}

bool AddSyslinuxMenuEntry(Platform& sys, const Text& root) {
    return addMenuBlock(sys, root, syslinuxBlock);
}

bool AddCloverMenuEntry(Platform& sys, const Text& root) {
    return addMenuBlock(sys, root, cloverBlock);
}

}  // namespace qel
