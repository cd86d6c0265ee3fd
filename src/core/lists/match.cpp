// SPDX-License-Identifier: MIT
#include "core/lists/match.h"

#include <algorithm>
#include <map>
#include <string_view>

#include "core/io/text.h"

namespace pelorix::lists {

namespace fs = std::filesystem;

namespace {

// Upper case, trimmed, runs of spaces as one: the form two names are compared in.
std::string folded(std::string_view s) {
    const std::string upper = text::toUpper(text::trimWhitespaceAndNewlines(s));
    std::string out;
    for (char c : upper) {
        const bool space = c == ' ' || c == '\t';
        if (space && (out.empty() || out.back() == ' ')) continue;
        out += space ? ' ' : c;
    }
    return out;
}

bool digit(char c) {
    return c >= '0' && c <= '9';
}

// The number at `at`, moving past it; none when no digit is there.
std::optional<int> number(std::string_view s, std::size_t& at) {
    const std::size_t from = at;
    int value = 0;
    while (at < s.size() && digit(s[at]) && at - from < 6) value = value * 10 + (s[at++] - '0');
    return at == from ? std::nullopt : std::optional(value);
}

struct Numbered {
    std::optional<int> disc, track;
    std::string_view rest;  // what follows the numbers and their separators
};

// "1-01. Opening" → disc 1, track 1, "Opening"; "01 Opening" → track 1; "Opening" → no numbers.
Numbered leadingNumbers(std::string_view s) {
    Numbered n;
    std::size_t at = 0;
    n.track = number(s, at);
    if (n.track && at + 1 < s.size() && s[at] == '-' && digit(s[at + 1])) {
        n.disc = n.track;
        ++at;
        n.track = number(s, at);
    }
    if (n.track && at < s.size() &&
        std::string_view(" .-_").find(s[at]) == std::string_view::npos) {
        return {std::nullopt, std::nullopt, s};  // "2Pac" is a name, not a number
    }
    while (at < s.size() && std::string_view(" .-_").find(s[at]) != std::string_view::npos) ++at;
    n.rest = s.substr(at);
    return n;
}

// The disc a name gives: "CD1", "Disc 2", "disk3", "2" → its number.
std::optional<int> discNamed(std::string_view s) {
    const std::string f = folded(s);
    std::size_t at = 0;
    for (std::string_view word : {"DISC", "DISK", "CD"}) {
        if (std::string_view(f).starts_with(word)) {
            at = word.size();
            break;
        }
    }
    if (at < f.size() && f[at] == ' ') ++at;
    const auto n = number(f, at);
    return at == f.size() ? n : std::nullopt;
}

// A track cell: "1-01" and "CD1/01" give a disc, "01" only a track.
Numbered trackCell(std::string_view s) {
    if (const auto slash = s.find('/'); slash != std::string_view::npos) {
        std::size_t at = 0;
        const std::string_view after = s.substr(slash + 1);
        Numbered n{discNamed(s.substr(0, slash)), number(after, at), {}};
        return n.disc && at == after.size() ? n : Numbered{};
    }
    Numbered n = leadingNumbers(s);
    return n.rest.empty() ? n : Numbered{};
}

// What a candidate says about itself, tags first, names where a tag is missing.
struct Known {
    std::string name, stem, title, bare;  // bare: the stem without its leading numbers
    std::optional<int> disc, track;
};

Known knownOf(const Candidate& c) {
    const std::string stem = c.path.stem().string();
    const Numbered n = leadingNumbers(stem);
    Known k{folded(c.path.filename().string()),
            folded(stem),
            c.title ? folded(*c.title) : "",
            folded(n.rest),
            c.disc,
            c.track};
    if (!k.track) k.track = n.track;
    if (!k.disc) k.disc = n.disc ? n.disc : discNamed(c.path.parent_path().filename().string());
    return k;
}

}  // namespace

std::vector<LineMatch> match(const Sheet& sheet, const ColumnChoice& columns, MatchBy by,
                             const std::vector<Candidate>& candidates) {
    // Each candidate under every key it answers to: a line looks its key up, never a scan.
    std::multimap<std::string, std::size_t> byName, byTitle;
    std::multimap<int, std::size_t> byTrack;
    std::vector<Known> known;
    known.reserve(candidates.size());
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const Known& k = known.emplace_back(knownOf(candidates[i]));
        byName.emplace(k.name, i);
        if (k.stem != k.name) byName.emplace(k.stem, i);
        if (!k.title.empty()) byTitle.emplace(k.title, i);
        if (k.bare != k.title) byTitle.emplace(k.bare, i);
        if (k.track) byTrack.emplace(*k.track, i);
    }
    const auto column = finderColumn(columns, by);
    const auto disc = columns.finders.find(Role::disc);
    std::vector<LineMatch> out;
    for (const SheetRow& row : sheet.rows) {
        const auto cell = [&](std::optional<std::size_t> i) {
            return i && *i < row.cells.size() ? row.cells[*i] : std::string();
        };
        LineMatch m{row.line, cell(columns.code), {}, ""};
        const std::string key = cell(column);
        if (key.empty()) {
            m.problem = "This line names no file.";
            out.push_back(std::move(m));
            continue;
        }
        Numbered wanted;
        if (by == MatchBy::track) {
            wanted = trackCell(key);
            if (disc != columns.finders.end() && !cell(disc->second).empty()) {
                wanted.disc = discNamed(cell(disc->second));
            }
            if (!wanted.track) m.problem = "\"" + key + "\" is not a track number.";
        }
        const auto take = [&](auto range, auto wanted) {
            for (auto it = range.first; it != range.second; ++it) {
                if (wanted(it->second)) m.files.push_back(it->second);
            }
        };
        const auto any = [](std::size_t) { return true; };
        if (!m.problem.empty()) {
            // not a track number: nothing to look up
        } else if (by == MatchBy::name) {
            take(byName.equal_range(folded(fs::path(key).filename().string())), any);
        } else if (by == MatchBy::title) {
            take(byTitle.equal_range(folded(key)), any);
        } else if (by == MatchBy::track) {
            take(byTrack.equal_range(*wanted.track),
                 [&](std::size_t i) { return !wanted.disc || known[i].disc == wanted.disc; });
        }
        std::sort(m.files.begin(), m.files.end());
        m.files.erase(std::unique(m.files.begin(), m.files.end()), m.files.end());
        if (m.problem.empty() && m.files.empty()) {
            m.problem = "No file matches \"" + key + "\".";
        } else if (m.files.size() > 1) {
            // Several files: one recording (master and copies) or a mistake; the caller knows
            // by the recording rule.
            m.several =
                "\"" + key + "\" matches " + std::to_string(m.files.size()) +
                " files of more than one recording: " + candidates[m.files[0]].path.string() +
                ", " + candidates[m.files[1]].path.string() + (m.files.size() > 2 ? ", …" : "") +
                ".";
        }
        out.push_back(std::move(m));
    }
    return out;
}

}  // namespace pelorix::lists
