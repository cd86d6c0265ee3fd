// SPDX-License-Identifier: MIT
#pragma once
// Text services over ICU: strict and lossy decoding, Unicode trimming and upper-casing,
// scalars and canonical equivalence. All strings in and out are UTF-8.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelorix::text {

enum class Encoding { latin1, utf8, utf16le, utf16be };

// Strict: none when the bytes are not valid in the encoding (ISO-8859-1 always succeeds).
std::optional<std::string> decode(const std::uint8_t* data, std::size_t size, Encoding enc);
// Lossy: invalid sequences become U+FFFD.
std::string decodeLossy(const std::uint8_t* data, std::size_t size, Encoding enc);

inline std::optional<std::string> decode(const std::vector<std::uint8_t>& b, Encoding e) {
    return decode(b.data(), b.size(), e);
}
inline std::string decodeLossy(const std::vector<std::uint8_t>& b, Encoding e) {
    return decodeLossy(b.data(), b.size(), e);
}

// Removes white space and newline characters (the Unicode White_Space set) from both ends.
std::string trimWhitespaceAndNewlines(std::string_view s);

// Full Unicode upper-case mapping in the root locale (ß -> SS, ﬁ -> FI).
std::string toUpper(std::string_view s);

// The Unicode scalars of UTF-8 text; each byte of an ill-formed sequence
// stands for itself.
std::u32string scalars(std::string_view s);

// Unicode canonical equivalence (compared in NFC).
bool canonicallyEqual(std::string_view a, std::string_view b);

// True when the text is valid UTF-8.
bool isValidUTF8(std::string_view s);

}  // namespace pelorix::text
