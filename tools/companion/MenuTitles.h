// Reads the titles of the Grub2 menu entries declared in a menu file's text.
//
// An entry is a line whose first word (after any indentation) is `menuentry`; its title is the
// next word, which Grub2 allows to be quoted with double quotes (backslash escapes honoured),
// single quotes (taken literally) or not quoted at all.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qel::companion {

inline bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// The title at the start of `rest`, or nothing when `rest` holds no complete word.
inline bool readGrubWord(std::string_view rest, std::string& word) {
    word.clear();
    std::size_t i = 0;
    if (rest.empty()) return false;
    if (rest[0] == '\'') {
        const std::size_t close = rest.find('\'', 1);
        if (close == std::string_view::npos) return false;
        word.assign(rest.substr(1, close - 1));
        return true;
    }
    if (rest[0] == '"') {
        for (i = 1; i < rest.size(); ++i) {
            if (rest[i] == '"') return true;
            if (rest[i] == '\\' && i + 1 < rest.size()) ++i;
            word.push_back(rest[i]);
        }
        return false;  // no closing quote on this line
    }
    while (i < rest.size() && !isBlank(rest[i]) && rest[i] != '{') word.push_back(rest[i++]);
    return !word.empty();
}

// The title of the entry declared on `line`, or an empty text when the line declares none.
inline std::string menuEntryTitle(std::string_view line) {
    constexpr std::string_view keyword = "menuentry";
    std::size_t start = 0;
    while (start < line.size() && isBlank(line[start])) ++start;
    line.remove_prefix(start);
    if (line.substr(0, keyword.size()) != keyword) return {};
    line.remove_prefix(keyword.size());
    if (line.empty() || !isBlank(line[0])) return {};
    while (!line.empty() && isBlank(line[0])) line.remove_prefix(1);
    std::string title;
    if (!readGrubWord(line, title)) return {};
    return title;
}

// The titles of all entries of a menu file's text, in file order. Lines end at LF, CR LF or CR.
inline std::vector<std::string> menuEntryTitles(std::string_view text) {
    std::vector<std::string> titles;
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        const std::string_view line = text.substr(0, end);
        std::string title = menuEntryTitle(line);
        if (!title.empty()) titles.push_back(std::move(title));
        if (end == std::string_view::npos) break;
        const bool crlf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
        text.remove_prefix(end + (crlf ? 2 : 1));
    }
    return titles;
}

}  // namespace qel::companion
