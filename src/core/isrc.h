// SPDX-License-Identifier: MIT
#pragma once
// The International Standard Recording Code as a value: built only from text that passes every
// check, so an ISRC object is always valid. `code` is the 12-character canonical form.

#include <optional>
#include <string>
#include <string_view>

namespace pelorix {

class ISRC {
  public:
    // Upper-cases (full Unicode mapping), drops the eight separators, then checks the grammar:
    // two of A-Z, three of A-Z/0-9, seven of 0-9, counted in user-perceived characters.
    static std::optional<ISRC> parse(std::string_view text);

    const std::string& code() const { return code_; }
    std::string formatted() const;  // CC-XXX-YY-NNNNN
    int designation() const;        // 0...99999
    // The code whose designation is n higher; none past 99999 (no wrap, no year carry).
    std::optional<ISRC> advanced(int n) const;

    friend bool operator==(const ISRC&, const ISRC&) = default;

  private:
    explicit ISRC(std::string code) : code_(std::move(code)) {}
    std::string code_;
};

}  // namespace pelorix
