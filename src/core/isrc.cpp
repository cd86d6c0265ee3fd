// SPDX-License-Identifier: MIT
#include "core/isrc.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "core/io/text.h"

namespace pelorix {

namespace {

// Space, hyphen-minus, en dash, em dash, low line, full stop, solidus, tab.
constexpr std::array<std::string_view, 8> kSeparators = {" ", "-", "\u2013", "\u2014",
                                                         "_", ".", "/",      "\t"};

std::string removeSeparators(std::string_view s) {
    std::string out;
    std::size_t i = 0;
    while (i < s.size()) {
        bool matched = false;
        for (auto sep : kSeparators) {
            if (s.substr(i, sep.size()) == sep) {
                i += sep.size();
                matched = true;
                break;
            }
        }
        if (!matched) out += s[i++];
    }
    return out;
}

bool asciiLetter(char c) {
    return c >= 'A' && c <= 'Z';
}
bool asciiDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::optional<ISRC> ISRC::parse(std::string_view text) {
    if (!text::isValidUTF8(text)) return std::nullopt;
    // Plain ASCII input (nearly every call, e.g. on each redraw of the window's table) is
    // upper-cased without ICU; anything else takes the full Unicode mapping.
    bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
    std::string upper;
    if (ascii) {
        upper.assign(text);
        for (char& c : upper) c = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
    } else {
        upper = text::toUpper(text);
    }
    std::string stripped = removeSeparators(upper);
    // People paste codes as agencies print them, "ISRC FI-ABC-26-00001" or "ISRC:FIABC2600001":
    // a leading "ISRC" and its colon go. A code that itself begins with those letters (country
    // IS, registrant RC…) is 12 characters long and is taken as it is.
    if (stripped.size() != 12 && stripped.starts_with("ISRC")) {
        stripped.erase(0, stripped.starts_with("ISRC:") ? 5 : 4);
    }
    // Every accepted character is one ASCII letter or digit, so a valid code is exactly 12 bytes
    // and 12 user-perceived characters; a non-ASCII byte (an accented letter, a combining mark
    // on an ASCII letter, a full-width digit) can never be part of one.
    // So checking the 12 bytes one by one is the same as checking 12 grapheme clusters.
    if (stripped.size() != 12) return std::nullopt;
    for (std::size_t i = 0; i < 12; ++i) {
        char c = stripped[i];
        bool ok = i < 2   ? asciiLetter(c)
                  : i < 5 ? (asciiLetter(c) || asciiDigit(c))
                          : asciiDigit(c);
        if (!ok) return std::nullopt;
    }
    return ISRC(std::move(stripped));
}

std::string ISRC::formatted() const {
    return code_.substr(0, 2) + "-" + code_.substr(2, 3) + "-" + code_.substr(5, 2) + "-" +
           code_.substr(7, 5);
}

int ISRC::designation() const {
    int v = 0;
    for (char c : code_.substr(7, 5)) {
        if (c < '0' || c > '9') return 0;
        v = v * 10 + (c - '0');
    }
    return v;
}

std::optional<ISRC> ISRC::advanced(int n) const {
    if (n < 0) return std::nullopt;
    long long next = static_cast<long long>(designation()) + n;
    if (next >= 100000) return std::nullopt;
    char digits[24];
    std::snprintf(digits, sizeof digits, "%05lld", next);
    return parse(code_.substr(0, 7) + digits);
}

std::optional<ISRC> ISRC::fromParts(std::string_view country, std::string_view registrant,
                                    std::string_view year, int designation) {
    if (designation < 0 || designation > kLastDesignation) return std::nullopt;
    char digits[8];
    std::snprintf(digits, sizeof digits, "%05d", designation);
    std::string text;
    text.append(country).append(registrant).append(year).append(digits);
    return parse(text);
}

bool ISRC::validPart(Part part, std::string_view text) {
    const std::size_t size = part == Part::registrant ? 3 : 2;
    if (text.size() != size) return false;
    return std::all_of(text.begin(), text.end(), [part](char c) {
        const char upper = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
        switch (part) {
            case Part::country:
                return asciiLetter(upper);
            case Part::registrant:
                return asciiLetter(upper) || asciiDigit(upper);
            case Part::year:
                return asciiDigit(upper);
        }
        return false;
    });
}

}  // namespace pelorix
