// SPDX-License-Identifier: MIT
#pragma once
// Every place a file holds a code, whatever its format, and what they say together.

#include <string_view>

#include "core/formats/carrier.h"

namespace pelorix::formats {

// What the counted carriers (not report-only ones) say together: no code, one code in one
// place, the same code in several places, or different codes. Codes are compared as codes
// ("GB-AYE-26-00077" is "GBAYE2600077"); an empty text is no code.
enum class Verdict { none, one, same, conflict };
Verdict verdictOf(const Carriers& carriers);
// "none", "one code", "same code", "conflict".
std::string_view label(Verdict verdict);

// The code a carrier's text stands for: the canonical 12 characters when it is a code, the
// trimmed text otherwise; for an MP4 store `xid ` ("Label:isrc:CODE") the part after "isrc:".
std::string codeOf(const Carrier& carrier);

}  // namespace pelorix::formats
