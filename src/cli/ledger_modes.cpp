// SPDX-License-Identifier: MIT
// The ledger's own modes: the next code never given, and the registrant's record of every code.
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>

#include "cli/cli.h"
#include "cli/modes.h"
#include "core/isrc.h"
#include "core/ledger/ledger.h"

namespace pelorix::cli {

namespace {

using Json = nlohmann::json;

std::optional<ledger::Ledger> openLedger(const Arguments& args, std::ostream& err) {
    const std::optional<std::filesystem::path> chosen =
        args.ledger.empty() ? std::nullopt : std::optional<std::filesystem::path>(args.ledger);
    try {
        return std::optional<ledger::Ledger>(std::in_place, ledger::locate(chosen));
    } catch (const ledger::LedgerError& e) {
        err << "pelorix: " << escapeControls(e.what()) << '\n';
        err.flush();
        return std::nullopt;
    }
}

// A field of a CSV line, quoted when it has to be.
std::string csvField(const std::string& text) {
    if (text.find_first_of(",;\t\"\r\n") == std::string::npos && !text.empty() &&
        text.front() != ' ' && text.back() != ' ') {
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

int nextMode(const Arguments& args, std::ostream& out, std::ostream& err) {
    // Any form of a code's first seven characters: FI-ABC-26, FIABC26, fi abc 26.
    const auto base = ISRC::parse(args.first + "00000");
    if (!base) {
        err << "pelorix: \"" << escapeControls(args.first)
            << "\" is not a country, registrant and year such as FI-ABC-26\n";
        return 2;
    }
    auto l = openLedger(args, err);
    if (!l) return 2;
    const std::string prefix = base->code().substr(0, 7);
    const auto next = l->nextDesignation(prefix);
    if (!next) {
        err << "pelorix: " << base->formatted().substr(0, 9)
            << " has no code left: " << base->advanced(ISRC::kLastDesignation)->formatted()
            << " was given\n";
        return 1;
    }
    const ISRC code = *base->advanced(*next);
    if (args.json) {
        out << Json{{"next", code.code()}}.dump() << '\n';
    } else {
        out << code.formatted() << '\n';
    }
    return 0;
}

int ledgerExportMode(const Arguments& args, std::ostream& out, std::ostream& err) {
    auto l = openLedger(args, err);
    if (!l) return 2;
    if (!args.json) {
        out << "isrc,file,title,artist,duration,year,format,first_written,last_written,removed\n";
    }
    for (const ledger::CodeRecord& r : l->codes()) {
        const std::string year = r.code.substr(5, 2);
        if (args.json) {
            Json files = Json::array();
            for (const auto& f : r.files) {
                Json j{{"path", f.path},
                       {"format", f.format},
                       {"first_written", f.firstWritten},
                       {"last_written", f.lastWritten}};
                if (!f.removed.empty()) j["removed"] = f.removed;
                files.push_back(std::move(j));
            }
            Json j{{"isrc", r.code},
                   {"title", r.title},
                   {"artist", r.artist},
                   {"seconds", r.seconds},
                   {"year", year},
                   {"first_written", r.firstWritten},
                   {"last_written", r.lastWritten},
                   {"files", std::move(files)}};
            out << j.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
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
    return 0;
}

}  // namespace pelorix::cli
