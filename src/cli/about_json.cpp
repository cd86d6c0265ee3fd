// SPDX-License-Identifier: MIT
#include "cli/about_json.h"

#include <cmath>
#include <cstdio>

#include "cli/cli.h"

namespace pelorix::cli {

void addAbout(nlohmann::ordered_json& j, const recordings::About& a) {
    using Json = nlohmann::ordered_json;
    const auto text = [](const std::optional<std::string>& s) {
        return s ? Json(*s) : Json(nullptr);
    };
    const auto number = [](const std::optional<unsigned>& n) {
        return n ? Json(*n) : Json(nullptr);
    };
    j["title"] = text(a.title);
    j["artist"] = text(a.artist);
    j["album"] = text(a.album);
    j["track"] = number(a.track);
    j["disc"] = number(a.disc);
    j["seconds"] = a.seconds > 0 ? Json(std::round(a.seconds * 1000) / 1000) : Json(nullptr);
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
