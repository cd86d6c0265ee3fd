// SPDX-License-Identifier: MIT
#include "core/ledger/export.h"

#include <cmath>
#include <cstdio>

#include "core/escape.h"

namespace pelorix::ledger {

namespace {

// A field of a CSV line, quoted when it has to be.
std::string csvField(const std::string& text) {
    if (text.empty()) return text;
    if (text.find_first_of(",;\t\"\r\n") == std::string::npos && text.front() != ' ' &&
        text.back() != ' ') {
        return text;
    }
    std::string q = "\"";
    for (char c : text) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

// 3:25, 1:02:03; "" when unknown.
std::string minutes(double seconds) {
    if (seconds <= 0) return "";
    const long s = std::lround(seconds);
    char text[32];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    }
    return text;
}

}  // namespace

void exportCodes(const std::vector<CodeRecord>& codes, ExportFormat format, std::ostream& out) {
    const bool json = format == ExportFormat::json;
    if (!json) {
        out << "isrc,file,title,artist,duration,year,format,first_written,last_written,removed\n";
    }
    for (const CodeRecord& r : codes) {
        const std::string year = r.code.substr(5, 2);
        if (json) {
            std::string files;
            for (const auto& f : r.files) {
                JsonObject j;
                j.text("path", f.path).text("format", f.format);
                j.text("first_written", f.firstWritten).text("last_written", f.lastWritten);
                if (!f.removed.empty()) j.text("removed", f.removed);
                files += (files.empty() ? "" : ",") + j.str();
            }
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
            JsonObject j;
            j.text("isrc", r.code).text("title", r.title).text("artist", r.artist);
            j.raw("seconds", seconds).text("year", year);
            j.text("first_written", r.firstWritten).text("last_written", r.lastWritten);
            out << j.raw("files", "[" + files + "]").str() << '\n';
            continue;
        }
        for (const auto& f : r.files) {
            out << r.code << ',' << csvField(f.path) << ',' << csvField(r.title) << ','
                << csvField(r.artist) << ',' << minutes(r.seconds) << ',' << year << ','
                << csvField(f.format) << ',' << f.firstWritten << ',' << f.lastWritten << ','
                << f.removed << '\n';
        }
    }
    out.flush();
}

}  // namespace pelorix::ledger
