// SPDX-License-Identifier: MIT
#include "cli/about_json.h"

#include <cmath>
#include <cstdio>

namespace pelorix::cli {

void addAbout(JsonObject& j, const recordings::About& a) {
    const auto number = [&](std::string_view key, const std::optional<unsigned>& n) {
        if (n) return j.number(key, *n);
        return j.raw(key, "null");
    };
    j.textOrNull("title", a.title).textOrNull("artist", a.artist).textOrNull("album", a.album);
    number("track", a.track);
    number("disc", a.disc);
    if (a.seconds > 0) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.15g", std::round(a.seconds * 1000) / 1000);
        j.raw("seconds", seconds);
    } else {
        j.raw("seconds", "null");
    }
}

std::string aboutLine(const recordings::About& a) {
    std::string line;
    const auto add = [&line](const std::string& part) {
        line += (line.empty() ? "" : ", ") + part;
    };
    if (a.title) add("title \"" + escapeControls(*a.title) + "\"");
    if (a.artist) add("artist \"" + escapeControls(*a.artist) + "\"");
    if (a.album) add("album \"" + escapeControls(*a.album) + "\"");
    if (a.track) add("track " + std::to_string(*a.track));
    if (a.disc) add("disc " + std::to_string(*a.disc));
    if (a.seconds > 0) {
        const long s = std::lround(a.seconds);
        char clock[32];
        std::snprintf(clock, sizeof clock, "%ld:%02ld", s / 60, s % 60);
        add(clock);
    }
    return line;
}

}  // namespace pelorix::cli
