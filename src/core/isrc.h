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

    // The highest designation (the last five digits) a registrant can give in one year.
    static constexpr int kLastDesignation = 99999;
    // Whether n codes from this one (this one included) stay within kLastDesignation.
    bool fits(long long n) const { return n >= 1 && designation() + (n - 1) <= kLastDesignation; }
    // The parts of a code as a user enters them, joined and then parsed: only the joined text
    // must form a code, so "F" + "IABC" is as good as "FI" + "ABC". None when the designation
    // is outside 0...kLastDesignation or the joined text is not a code.
    static std::optional<ISRC> fromParts(std::string_view country, std::string_view registrant,
                                         std::string_view year, int designation);
    // The parts one by one, for telling a user which of them is wrong: country two letters,
    // registrant three letters or digits, year two digits (either case, no separators).
    enum class Part { country, registrant, year };
    static bool validPart(Part part, std::string_view text);

    friend bool operator==(const ISRC&, const ISRC&) = default;

  private:
    explicit ISRC(std::string code) : code_(std::move(code)) {}
    std::string code_;
};

}  // namespace pelorix
