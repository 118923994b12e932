// Text as the program handles it: UTF-16 code units, as Windows stores them.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qel {

using Text = std::u16string;
using TextView = std::u16string_view;

// UTF-8 (source literals, Linux paths) to UTF-16 and back. Invalid sequences become U+FFFD.
Text fromUtf8(std::string_view utf8);
std::string toUtf8(TextView text);

// Plain ASCII text to UTF-16; used for names and numbers that are ASCII by construction.
Text ascii(std::string_view text);

// Decimal text of an integer.
Text decimal(std::int64_t value);
Text decimal(std::uint64_t value);
inline Text decimal(std::uint32_t value) { return decimal(static_cast<std::uint64_t>(value)); }
inline Text decimal(std::int32_t value) { return decimal(static_cast<std::int64_t>(value)); }

// Replaces the first "%s" with the argument (the message texts carry exactly one).
Text formatText(TextView pattern, TextView argument);

// Case-insensitive comparison for ASCII letters, as Windows compares paths and resource names.
bool equalsIgnoreAsciiCase(TextView a, TextView b);
Text asciiUpper(TextView text);

// An error that unwinds through the caller's clean-up to the handler boundary of a window event,
// where it is shown to the user (failed file writes, a missing system function).
class UnexpectedError : public std::runtime_error {
public:
    explicit UnexpectedError(Text message);
    const Text& message() const { return message_; }

private:
    Text message_;
};

// Input/output failure of a file the program writes or reads.
class IoError : public UnexpectedError {
public:
    using UnexpectedError::UnexpectedError;
};

}  // namespace qel
