// SPDX-License-Identifier: MIT
#include "core/formats/carriers.h"

#include <set>

#include "core/io/text.h"
#include "core/isrc.h"

namespace pelorix::formats {

std::string codeOf(const Carrier& carrier) {
    std::string text = text::trimWhitespaceAndNewlines(carrier.text);
    if (carrier.place == "MP4 xid") {
        const std::string upper = text::toUpper(text);
        if (const auto at = upper.rfind(":ISRC:"); at != std::string::npos) {
            text = text.substr(at + 6);
        }
    }
    if (const auto code = ISRC::parse(text)) return code->code();
    return text;
}

Verdict verdictOf(const Carriers& carriers) {
    std::set<std::string> codes;
    std::size_t places = 0;
    for (const Carrier& c : carriers) {
        if (c.reportOnly) continue;
        std::string code = codeOf(c);
        if (code.empty()) continue;
        codes.insert(std::move(code));
        ++places;
    }
    if (codes.empty()) return Verdict::none;
    if (codes.size() > 1) return Verdict::conflict;
    return places == 1 ? Verdict::one : Verdict::same;
}

std::string_view label(Verdict verdict) {
    switch (verdict) {
        case Verdict::none:
            return "none";
        case Verdict::one:
            return "one code";
        case Verdict::same:
            return "same code";
        case Verdict::conflict:
            return "conflict";
    }
    return "";
}

}  // namespace pelorix::formats
