// Byte buffers for the boot installers' tests: recognisable contents, slices, and comparisons
// that name the first differing offset instead of printing whole sectors.
#pragma once

#include <gtest/gtest.h>

#include "platform/Platform.h"

namespace qel::boottest {

// Bytes that differ from their neighbours and from other seeds' bytes at the same offsets.
inline Bytes pattern(std::size_t size, unsigned seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 7 + seed) % 251);
    return bytes;
}

inline Bytes slice(const Bytes& bytes, std::size_t from, std::size_t to) {
    return Bytes(bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(to));
}

inline testing::AssertionResult sameBytes(const Bytes& actual, const Bytes& expected) {
    if (actual.size() != expected.size())
        return testing::AssertionFailure()
               << actual.size() << " bytes where " << expected.size() << " were expected";
    const auto [a, e] = std::mismatch(actual.begin(), actual.end(), expected.begin());
    if (a == actual.end()) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "first difference at offset " << (a - actual.begin())
                                       << ": " << int(*a) << " instead of " << int(*e);
}

}  // namespace qel::boottest
