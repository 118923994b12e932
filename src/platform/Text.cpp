#include "platform/Text.h"

namespace qel {

namespace {

void appendUtf16(Text& out, char32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

// Length of the UTF-8 sequence led by byte b, or 0 when b cannot lead one.
int sequenceLength(unsigned char b) {
    if (b < 0x80) return 1;
    if ((b & 0xE0) == 0xC0) return 2;
    if ((b & 0xF0) == 0xE0) return 3;
    if ((b & 0xF8) == 0xF0) return 4;
    return 0;
}

}  // namespace

Text fromUtf8(std::string_view utf8) {
    Text out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int len = sequenceLength(lead);
        if (len == 0 || i + static_cast<std::size_t>(len) > utf8.size()) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        char32_t cp = len == 1 ? lead : (lead & (0x7F >> len));
        bool ok = true;
        for (int k = 1; k < len; ++k) {
            const auto c = static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]);
            if ((c & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        if (!ok || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        appendUtf16(out, cp);
        i += static_cast<std::size_t>(len);
    }
    return out;
}

std::string toUtf8(TextView text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

Text ascii(std::string_view text) { return Text(text.begin(), text.end()); }

Text decimal(std::int64_t value) { return ascii(std::to_string(value)); }
Text decimal(std::uint64_t value) { return ascii(std::to_string(value)); }

Text formatText(TextView pattern, TextView argument) {
    Text out(pattern);
    const auto at = out.find(u"%s");
    if (at != Text::npos) out.replace(at, 2, argument);
    return out;
}

namespace {
char16_t upperAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }
}  // namespace

bool equalsIgnoreAsciiCase(TextView a, TextView b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upperAscii(a[i]) != upperAscii(b[i])) return false;
    return true;
}

Text asciiUpper(TextView text) {
    Text out(text);
    for (auto& c : out) c = upperAscii(c);
    return out;
}

UnexpectedError::UnexpectedError(Text message)
    : std::runtime_error(toUtf8(message)), message_(std::move(message)) {}

}  // namespace qel
