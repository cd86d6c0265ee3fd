// SPDX-License-Identifier: MIT
#include "core/io/text.h"

#include <algorithm>

#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

namespace pelorix::text {

namespace {

// Appends one Unicode scalar value as UTF-8.
void appendUTF8(std::string& out, char32_t c) {
    std::uint8_t b[U8_MAX_LENGTH];
    int32_t n = 0;
    U8_APPEND_UNSAFE(b, n, UChar32(c));
    out.append(reinterpret_cast<const char*>(b), std::size_t(n));
}

// Decodes UTF-16 code units; strict fails on unpaired surrogates, lossy replaces them.
std::optional<std::string> decodeUTF16(const std::uint8_t* d, std::size_t n, bool little,
                                       bool lossy) {
    if (n % 2 != 0 && !lossy) return std::nullopt;
    std::size_t units = n / 2;
    std::string out;
    out.reserve(units);
    auto unit = [&](std::size_t i) -> char16_t {
        return little ? char16_t(d[2 * i] | (d[2 * i + 1] << 8))
                      : char16_t((d[2 * i] << 8) | d[2 * i + 1]);
    };
    for (std::size_t i = 0; i < units; ++i) {
        char16_t c = unit(i);
        if (U16_IS_LEAD(c) && i + 1 < units && U16_IS_TRAIL(unit(i + 1))) {
            appendUTF8(out, char32_t(U16_GET_SUPPLEMENTARY(c, unit(i + 1))));
            ++i;
        } else if (U16_IS_SURROGATE(c)) {
            if (!lossy) return std::nullopt;
            appendUTF8(out, 0xFFFD);
        } else {
            appendUTF8(out, c);
        }
    }
    if (n % 2 != 0) appendUTF8(out, 0xFFFD);  // a dangling byte, lossy mode only
    return out;
}

// The one UTF-8 decoding loop: calls fn(scalar, first byte, length), with a negative scalar for
// a byte that starts no valid sequence (its length is then that of the ill-formed part).
template <typename Fn>
void forEachUTF8(const std::uint8_t* d, std::size_t n, Fn fn) {
    int32_t i = 0;
    const auto len = int32_t(n);
    while (i < len) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(d, i, len, c);
        fn(c, start, i - start);
    }
}

std::optional<std::string> decodeUTF8(const std::uint8_t* d, std::size_t n, bool lossy) {
    if (std::all_of(d, d + n, [](std::uint8_t b) { return b < 0x80; })) {
        return std::string(reinterpret_cast<const char*>(d), n);
    }
    std::string out;
    out.reserve(n);
    bool valid = true;
    forEachUTF8(d, n, [&](UChar32 c, int32_t start, int32_t length) {
        if (c < 0) {
            valid = false;
            out += "\xEF\xBF\xBD";
        } else {
            out.append(reinterpret_cast<const char*>(d + start), std::size_t(length));
        }
    });
    if (!valid && !lossy) return std::nullopt;
    return out;
}

}  // namespace

std::optional<std::string> decode(const std::uint8_t* d, std::size_t n, Encoding enc) {
    switch (enc) {
        case Encoding::latin1: {
            std::string s;
            s.reserve(n);
            for (std::size_t i = 0; i < n; ++i) appendUTF8(s, d[i]);
            return s;
        }
        case Encoding::utf8:
            return decodeUTF8(d, n, false);
        case Encoding::utf16le:
            return decodeUTF16(d, n, true, false);
        case Encoding::utf16be:
            return decodeUTF16(d, n, false, false);
    }
    return std::nullopt;
}

std::string decodeLossy(const std::uint8_t* d, std::size_t n, Encoding enc) {
    switch (enc) {
        case Encoding::latin1:
            return *decode(d, n, enc);
        case Encoding::utf8:
            return *decodeUTF8(d, n, true);
        case Encoding::utf16le:
            return *decodeUTF16(d, n, true, true);
        case Encoding::utf16be:
            return *decodeUTF16(d, n, false, true);
    }
    return {};
}

std::string trimWhitespaceAndNewlines(std::string_view s) {
    const auto* d = reinterpret_cast<const std::uint8_t*>(s.data());
    const int32_t len = int32_t(s.size());
    // Find the first code point that is not white space.
    int32_t begin = 0;
    while (begin < len) {
        int32_t next = begin;
        UChar32 c;
        U8_NEXT(d, next, len, c);
        if (c < 0 || !u_isUWhiteSpace(c)) break;
        begin = next;
    }
    int32_t end = len;
    while (end > begin) {
        int32_t prev = end;
        UChar32 c;
        U8_PREV(d, 0, prev, c);
        if (c < 0 || !u_isUWhiteSpace(c)) break;
        end = prev;
    }
    return std::string(s.substr(std::size_t(begin), std::size_t(end - begin)));
}

std::string toUpper(std::string_view s) {
    if (std::all_of(s.begin(), s.end(), [](char c) { return (unsigned char)c < 0x80; })) {
        std::string out(s);
        for (char& c : out) {
            if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        }
        return out;
    }
    icu::UnicodeString u =
        icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), int32_t(s.size())));
    u.toUpper(icu::Locale::getRoot());
    std::string out;
    u.toUTF8String(out);
    return out;
}

std::u32string scalars(std::string_view s) {
    std::u32string out;
    const auto* d = reinterpret_cast<const std::uint8_t*>(s.data());
    forEachUTF8(d, s.size(), [&](UChar32 c, int32_t start, int32_t length) {
        if (c >= 0) {
            out += char32_t(c);
        } else {
            for (int32_t i = start; i < start + length; ++i) out += char32_t(d[i]);
        }
    });
    return out;
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
    if (a == b) return true;
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) return false;
    icu::UnicodeString ua =
        icu::UnicodeString::fromUTF8(icu::StringPiece(a.data(), int32_t(a.size())));
    icu::UnicodeString ub =
        icu::UnicodeString::fromUTF8(icu::StringPiece(b.data(), int32_t(b.size())));
    icu::UnicodeString na = nfc->normalize(ua, status);
    icu::UnicodeString nb = nfc->normalize(ub, status);
    return U_SUCCESS(status) && na == nb;
}

bool isValidUTF8(std::string_view s) {
    return decodeUTF8(reinterpret_cast<const std::uint8_t*>(s.data()), s.size(), false).has_value();
}

}  // namespace pelorix::text
