// SPDX-License-Identifier: MIT
#pragma once
// What a file says about itself, as the fields of a JSON line (title, artist, album, track,
// disc, seconds; null where it says nothing), and as one line of text.

#include <string>

#include "cli/escape.h"
#include "core/recordings/about.h"

namespace pelorix::cli {

void addAbout(JsonObject& j, const recordings::About& a);
// title "…", artist "…", album "…", track 3, disc 2, 3:05 — the fields known; empty for none.
std::string aboutLine(const recordings::About& a);

}  // namespace pelorix::cli
