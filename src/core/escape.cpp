// SPDX-License-Identifier: MIT
#include "core/escape.h"

#include <unicode/utf8.h>

#include <cstdint>

namespace pelorix {

namespace {

std::string hex(unsigned v, int digits) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out(std::size_t(digits), '0');
    for (int i = digits - 1; i >= 0; --i, v >>= 4) out[std::size_t(i)] = kDigits[v & 0xF];
    return out;
}

bool bidiControl(UChar32 cp) {
    return cp == 0x061C || cp == 0x200E || cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069);
}

// Calls each(code point, its bytes) in order; a byte that is not part of UTF-8 comes alone
// with the code point -1.
template <typename Each>
void forEachCharacter(std::string_view text, Each each) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t start = at;
        UChar32 cp = 0;
        U8_NEXT(text.data(), at, text.size(), cp);
        if (cp < 0) at = start + 1;
        each(cp, text.substr(start, at - start));
    }
}

}  // namespace

std::string escapeControls(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    forEachCharacter(text, [&](UChar32 cp, std::string_view bytes) {
        if (cp < 0)
            shown += "\\x" + hex(std::uint8_t(bytes[0]), 2);
        else if (cp == '\\')
            shown += "\\\\";
        else if (cp == '\n')
            shown += "\\n";
        else if (cp == '\t')
            shown += "\\t";
        else if (cp == '\r')
            shown += "\\r";
        else if (cp < 0x20 || cp == 0x7F)
            shown += "\\x" + hex(unsigned(cp), 2);
        else if ((cp >= 0x80 && cp <= 0x9F) || bidiControl(cp))
            shown += "\\u" + hex(unsigned(cp), 4);
        else
            shown += bytes;
    });
    return shown;
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    out.reserve(text.size() + 2);
    forEachCharacter(text, [&](UChar32 cp, std::string_view bytes) {
        switch (cp) {
            case '"':
                out += "\\\"";
                return;
            case '\\':
                out += "\\\\";
                return;
            case '\n':
                out += "\\n";
                return;
            case '\t':
                out += "\\t";
                return;
            case '\r':
                out += "\\r";
                return;
            case '\b':
                out += "\\b";
                return;
            case '\f':
                out += "\\f";
                return;
            default:
                break;
        }
        if (cp < 0) {
            out += "\\u" + hex(0xDC00u + std::uint8_t(bytes[0]), 4);
        } else if (cp >= 0x20 && cp < 0x7F) {
            out += char(cp);
        } else if (cp > 0xFFFF) {
            const unsigned v = unsigned(cp) - 0x10000;
            out += "\\u" + hex(0xD800 + (v >> 10), 4) + "\\u" + hex(0xDC00 + (v & 0x3FF), 4);
        } else {
            out += "\\u" + hex(unsigned(cp), 4);
        }
    });
    return out + "\"";
}

JsonObject& JsonObject::raw(std::string_view key, std::string_view json) {
    body_ += body_.empty() ? "{" : ",";
    body_ += jsonString(key);
    body_ += ':';
    body_ += json;
    return *this;
}

JsonObject& JsonObject::text(std::string_view key, std::string_view value) {
    return raw(key, jsonString(value));
}

JsonObject& JsonObject::textOrNull(std::string_view key, const std::optional<std::string>& value) {
    return value ? text(key, *value) : raw(key, "null");
}

JsonObject& JsonObject::number(std::string_view key, std::size_t value) {
    return raw(key, std::to_string(value));
}

JsonObject& JsonObject::boolean(std::string_view key, bool value) {
    return raw(key, value ? "true" : "false");
}

}  // namespace pelorix
