// SPDX-License-Identifier: MIT
#pragma once
// How a stored text or a path is printed: as plain text for a terminal, or as a
// JSON string. Both are reversible, so two different names never print the same, and no name
// can draw a line of its own, steer the terminal or turn the text around it.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace pelorix {

// For a terminal: `\` becomes `\\`; line feed, tab and carriage return `\n`, `\t`, `\r`; other
// C0 controls and DEL `\xHH`; C1 controls and the bidirectional controls (U+061C, U+200E/F,
// U+202A–202E, U+2066–2069) `\uHHHH`; a byte that is not part of UTF-8 `\xHH` (80–ff).
// Everything else stays as it is.
std::string escapeControls(std::string_view text);

// A quoted JSON string of ASCII only: `"` and `\` escaped, controls as `\n`, `\t`, `\r`, `\b`,
// `\f` or `\u00hh`, every other non-ASCII character as `\uhhhh` (a surrogate pair above
// U+FFFF), and a byte that is not part of UTF-8 as the lone surrogate `\udc80`–`\udcff` (the
// byte plus DC00), which no UTF-8 text can hold: Python's os.fsencode gives the bytes back.
std::string jsonString(std::string_view text);

// One JSON object on one line, its members in the order added.
class JsonObject {
  public:
    JsonObject& text(std::string_view key, std::string_view value);
    JsonObject& textOrNull(std::string_view key, const std::optional<std::string>& value);
    JsonObject& number(std::string_view key, std::size_t value);
    JsonObject& boolean(std::string_view key, bool value);
    // `json`: a value already in JSON.
    JsonObject& raw(std::string_view key, std::string_view json);
    std::string str() const { return body_.empty() ? "{}" : body_ + "}"; }

  private:
    std::string body_;
};

}  // namespace pelorix
