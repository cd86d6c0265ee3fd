// SPDX-License-Identifier: MIT
#include "core/lists/code_list.h"

#include <csv.h>
#include <sys/stat.h>
#include <functional>

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "core/io/text.h"
#include "core/recordings/grouping.h"

namespace pelorix::lists {

namespace fs = std::filesystem;

namespace {

// Text in UTF-8 without a byte-order mark; none when a UTF-16 list does not decode.
std::optional<std::string> asUTF8(std::string_view bytes) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    auto starts = [&](std::string_view mark) { return bytes.starts_with(mark); };
    if (starts("\xEF\xBB\xBF")) return std::string(bytes.substr(3));
    if (starts("\xFF\xFE"))
        return text::decode(data + 2, bytes.size() - 2, text::Encoding::utf16le);
    if (starts("\xFE\xFF"))
        return text::decode(data + 2, bytes.size() - 2, text::Encoding::utf16be);
    return std::string(bytes);
}

// Tab, semicolon or comma: whichever the first line that holds anything has most of outside
// quotes; on a tie the rarer one in names (tab, then semicolon) wins. Comma when there is none.
unsigned char detectDelimiter(std::string_view text) {
    std::array<std::size_t, 3> counts{};
    constexpr std::array<char, 3> kCandidates = {'\t', ';', ','};
    bool quoted = false;
    bool content = false;
    for (char c : text) {
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (c == '\n' || c == '\r') {
            if (content) break;
            continue;
        }
        if (c != ' ') content = true;
        for (std::size_t i = 0; i < kCandidates.size(); ++i) counts[i] += c == kCandidates[i];
    }
    const auto best = std::max_element(counts.begin(), counts.end());  // the first of equals
    return *best == 0 ? ',' : static_cast<unsigned char>(kCandidates[best - counts.begin()]);
}

struct RawRow {
    std::size_t line = 0;
    std::vector<std::string> cells;
    bool wide = false;  // more than kMaxColumns cells; the rest were dropped
};

constexpr std::size_t kMaxColumns = 256;

// Each row goes to `use` as soon as it ends; it returns false to stop the reading.
using RowUse = std::function<bool(RawRow&)>;

struct Collector {
    std::vector<std::string> cells;
    bool wide = false;
    std::size_t rowLine = 0;
    const RowUse* use = nullptr;
    std::size_t rows = 0;  // ended so far
    bool more = true;
};

void onField(void* data, std::size_t size, void* context) {
    auto* c = static_cast<Collector*>(context);
    if (c->cells.size() == kMaxColumns) {
        c->wide = true;
        return;
    }
    c->cells.emplace_back(data ? static_cast<const char*>(data) : "", data ? size : 0);
}

void onRowEnd(int, void* context) {
    auto* c = static_cast<Collector*>(context);
    RawRow row{c->rowLine, std::move(c->cells), c->wide};
    c->cells.clear();
    c->wide = false;
    ++c->rows;
    if (c->more) c->more = (*c->use)(row);
}

// The rows of the text, each with the line it begins on, one by one to `use`. The bytes go to
// the parser one at a time so that every row knows its line, also when a quoted field spans
// lines.
void splitRows(std::string_view text, unsigned char delimiter, std::vector<ListProblem>& problems,
               const RowUse& use) {
    csv_parser parser{};
    if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI) != 0) throw std::bad_alloc();
    const std::unique_ptr<csv_parser, void (*)(csv_parser*)> owner(&parser, csv_free);
    csv_set_delim(&parser, delimiter);

    Collector collector;
    collector.use = &use;
    std::size_t line = 1;
    bool awaitingRow = true;  // the parser skips line breaks and spaces before a row
    for (std::size_t at = 0; at < text.size() && collector.more; ++at) {
        const char c = text[at];
        const bool blank = c == '\r' || c == '\n' || ((c == ' ' || c == '\t') && c != delimiter);
        if (awaitingRow && !blank) {
            collector.rowLine = line;
            awaitingRow = false;
        }
        const std::size_t rowsBefore = collector.rows;
        if (csv_parse(&parser, &c, 1, onField, onRowEnd, &collector) != 1) {
            problems.push_back({line,
                                "A quote on this line is out of place; quote a whole "
                                "field, and double a quote inside one."});
            return;
        }
        if (collector.rows != rowsBefore) awaitingRow = true;
        if (c == '\n' || (c == '\r' && (at + 1 == text.size() || text[at + 1] != '\n'))) ++line;
    }
    if (collector.more && csv_fini(&parser, onField, onRowEnd, &collector) != 0) {
        problems.push_back({collector.rowLine,
                            "A quoted field that begins on this line is "
                            "never closed."});
    }
}

// Lower-case ASCII without spaces, hyphens and low lines: "File Name" -> "filename".
std::string columnKey(std::string_view cell) {
    std::string key;
    for (char c : cell) {
        if (c == ' ' || c == '-' || c == '_') continue;
        key += (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    }
    return key;
}

// What a header cell names.
Role roleNamed(std::string_view cell) {
    static const std::array<std::pair<std::string_view, Role>, 14> kNames = {{
        {"isrc", Role::code},
        {"code", Role::code},
        {"isrccode", Role::code},
        {"path", Role::path},
        {"filepath", Role::path},
        {"file", Role::path},
        {"filename", Role::path},
        {"name", Role::name},
        {"recording", Role::title},
        {"title", Role::title},
        {"tracktitle", Role::title},
        {"track", Role::track},
        {"tracknumber", Role::track},
        {"disc", Role::disc},
    }};
    const std::string key = columnKey(cell);
    for (const auto& [name, role] : kNames) {
        if (name == key) return role;
    }
    return key == "disk" || key == "cd" || key == "discnumber" ? Role::disc : Role::none;
}

}  // namespace

Sheet readSheet(std::string_view bytes) {
    Sheet sheet;
    const std::optional<std::string> text = asUTF8(bytes);
    if (!text) {
        sheet.problems.push_back({0, "The list is marked as UTF-16 but is not valid UTF-16."});
        return sheet;
    }
    bool first = true;
    // Each row as it ends: false stops the reading.
    const RowUse use = [&](RawRow& row) {
        for (std::string& cell : row.cells) cell = text::trimWhitespaceAndNewlines(cell);
        while (!row.cells.empty() && row.cells.back().empty()) row.cells.pop_back();
        if (row.cells.empty()) return true;  // a blank line, or one of delimiters only
        if (sheet.problems.size() >= kMaxListProblems) {
            sheet.problems.push_back({row.line, "Too many problems; reading stopped here."});
            return false;
        }
        const bool wasFirst = std::exchange(first, false);
        if (row.wide) {
            sheet.problems.push_back(
                {row.line, "This line has more than " + std::to_string(kMaxColumns) + " columns."});
        } else if (std::any_of(row.cells.begin(), row.cells.end(),
                               [](auto& c) { return !text::isValidUTF8(c); })) {
            sheet.problems.push_back(
                {row.line, "This line is not UTF-8 text; save the list as UTF-8."});
        } else if (std::any_of(row.cells.begin(), row.cells.end(),
                               [](auto& c) { return c.find('\0') != std::string::npos; })) {
            sheet.problems.push_back({row.line, "This line holds a NUL character."});
        } else if (wasFirst &&
                   std::none_of(row.cells.begin(), row.cells.end(),
                                [](auto& c) { return ISRC::parse(c).has_value(); }) &&
                   std::any_of(row.cells.begin(), row.cells.end(),
                               [](auto& c) { return roleNamed(c) != Role::none; })) {
            sheet.header = std::move(row.cells);
            sheet.headerLine = row.line;
        } else if (sheet.header.empty() && row.cells.size() != 2) {
            sheet.problems.push_back(
                {row.line, "This line has " + std::to_string(row.cells.size()) +
                               " columns; a list without a header row has two: file and code."});
        } else {
            sheet.rows.push_back({row.line, std::move(row.cells)});
        }
        return true;
    };
    splitRows(*text, detectDelimiter(*text), sheet.problems, use);
    return sheet;
}

ColumnChoice guessColumns(const Sheet& sheet) {
    ColumnChoice choice;
    if (sheet.header.empty()) {
        // file, code: the first column finds the file however it is matched.
        choice.code = 1;
        for (Role r : {Role::path, Role::name, Role::title, Role::track}) choice.finders[r] = 0;
        return choice;
    }
    for (std::size_t i = 0; i < sheet.header.size(); ++i) {
        const Role role = roleNamed(sheet.header[i]);
        if (role == Role::code && !choice.code) choice.code = i;
        if (role != Role::code && role != Role::none) choice.finders.try_emplace(role, i);
    }
    if (!choice.code) {
        // The column whose values are codes: the one with the most.
        std::vector<std::size_t> codes(sheet.header.size());
        for (const SheetRow& row : sheet.rows) {
            for (std::size_t i = 0; i < std::min(row.cells.size(), codes.size()); ++i) {
                codes[i] += ISRC::parse(row.cells[i]).has_value();
            }
        }
        const auto most = std::max_element(codes.begin(), codes.end());
        if (most != codes.end() && *most > 0) choice.code = std::size_t(most - codes.begin());
    }
    return choice;
}

std::optional<MatchBy> defaultMatch(const ColumnChoice& choice) {
    if (choice.finders.count(Role::path) || choice.finders.count(Role::name)) return MatchBy::path;
    if (choice.finders.count(Role::title)) return MatchBy::title;
    if (choice.finders.count(Role::track)) return MatchBy::track;
    return std::nullopt;
}

std::optional<std::size_t> finderColumn(const ColumnChoice& choice, MatchBy by) {
    const auto column = [&](std::initializer_list<Role> roles) -> std::optional<std::size_t> {
        for (Role r : roles) {
            if (auto it = choice.finders.find(r); it != choice.finders.end()) return it->second;
        }
        return std::nullopt;
    };
    switch (by) {
        case MatchBy::path:
            return column({Role::path, Role::name});
        case MatchBy::name:
            return column({Role::name, Role::path});
        case MatchBy::title:
            return column({Role::title});
        case MatchBy::track:
            return column({Role::track});
    }
    return std::nullopt;
}

std::vector<std::size_t> codeColumns(const Sheet& sheet) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < sheet.header.size(); ++i) {
        bool codes = roleNamed(sheet.header[i]) == Role::code;
        for (std::size_t r = 0; !codes && r < sheet.rows.size(); ++r) {
            codes = i < sheet.rows[r].cells.size() && ISRC::parse(sheet.rows[r].cells[i]);
        }
        if (codes) out.push_back(i);
    }
    return out;
}

ParsedList parseCodeList(std::string_view bytes) {
    Sheet sheet = readSheet(bytes);
    const ColumnChoice choice = guessColumns(sheet);
    return rowsOf(std::move(sheet), choice);
}

ParsedList rowsOf(Sheet sheet, const ColumnChoice& choice) {
    ParsedList list;
    list.problems = std::move(sheet.problems);
    const auto by = defaultMatch(choice);
    const auto file = by ? finderColumn(choice, *by) : std::nullopt;
    if (!sheet.header.empty() && !file) {
        list.problems.push_back({sheet.headerLine,
                                 "The header names no column that finds the files (path, file "
                                 "name, title or track)."});
        return list;
    }
    if (!choice.code) {
        list.problems.push_back({sheet.headerLine, "No column holds codes."});
        return list;
    }
    for (SheetRow& row : sheet.rows) {
        auto cell = [&](std::size_t i) { return i < row.cells.size() ? row.cells[i] : ""; };
        ListRow out{row.line, cell(*file), cell(*choice.code)};
        if (out.target.empty()) {
            list.problems.push_back({row.line, "This line names no file."});
        } else if (out.code.empty()) {
            list.problems.push_back({row.line, "This line has no code."});
        } else {
            list.rows.push_back(std::move(out));
        }
    }
    std::stable_sort(list.problems.begin(), list.problems.end(),
                     [](const ListProblem& a, const ListProblem& b) { return a.line < b.line; });
    return list;
}

fs::path recordingOf(const fs::path& file) {
    return recordings::nameKey(file);
}

std::optional<FileId> fileIdOf(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

std::vector<ListProblem> conflicts(const std::vector<Assignment>& assignments) {
    struct Seen {
        const Assignment* first;
        fs::path key;
    };
    std::map<FileId, const Assignment*> byFile;
    std::map<std::string, Seen> byCode;
    std::vector<ListProblem> problems;
    for (const Assignment& a : assignments) {
        const auto id = fileIdOf(a.file);
        if (!id) continue;
        if (auto [it, fresh] = byFile.try_emplace(*id, &a); !fresh) {
            const Assignment& earlier = *it->second;
            if (!(earlier.code == a.code)) {
                const std::string also =
                    earlier.file == a.file ? "" : " (" + earlier.file.string() + ", the same file)";
                problems.push_back({a.line, a.file.string() + " is given " + a.code.formatted() +
                                                " here and " + earlier.code.formatted() +
                                                " on line " + std::to_string(earlier.line) + also +
                                                "."});
            }
            continue;
        }
        std::error_code ec;
        const fs::path recording = recordingOf(fs::canonical(a.file, ec));
        if (auto [it, fresh] = byCode.try_emplace(a.code.code(), Seen{&a, recording}); !fresh) {
            if (it->second.key != recording) {
                problems.push_back({a.line, a.code.formatted() + " is also given to " +
                                                it->second.first->file.string() + " on line " +
                                                std::to_string(it->second.first->line) +
                                                ", a different recording."});
            }
        }
    }
    return problems;
}

}  // namespace pelorix::lists
