#include "core/isrc.h"

#include <array>
#include <cstdio>

#include "core/text.h"

namespace pelorix {

namespace {

// Space, hyphen-minus, en dash, em dash, low line, full stop, solidus, tab.
constexpr std::array<std::string_view, 8> kSeparators = {
    " ", "-", "\u2013", "\u2014", "_", ".", "/", "\t"};

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

bool asciiLetter(const std::string& g) { return g.size() == 1 && g[0] >= 'A' && g[0] <= 'Z'; }
bool asciiDigit(const std::string& g) { return g.size() == 1 && g[0] >= '0' && g[0] <= '9'; }

}  // namespace

std::optional<ISRC> ISRC::parse(std::string_view text) {
    if (!text::isValidUTF8(text)) return std::nullopt;
    std::string stripped = removeSeparators(text::toUpper(text));
    // Each accepted character is a single ASCII byte, so a long input can be refused early.
    if (stripped.size() > 64) return std::nullopt;
    auto chars = text::graphemes(stripped);
    if (chars.size() != 12) return std::nullopt;
    for (std::size_t i = 0; i < 12; ++i) {
        const auto& c = chars[i];
        bool ok = i < 2 ? asciiLetter(c) : i < 5 ? (asciiLetter(c) || asciiDigit(c)) : asciiDigit(c);
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

}  // namespace pelorix
