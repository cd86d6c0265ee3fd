// SPDX-License-Identifier: MIT
#include "core/lists/code_list.h"

#include <csv.h>

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <optional>

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
};

struct Collector {
    std::vector<std::string> cells;
    std::size_t rowLine = 0;
    std::vector<RawRow> rows;
};

void onField(void* data, std::size_t size, void* context) {
    auto* c = static_cast<Collector*>(context);
    c->cells.emplace_back(data ? static_cast<const char*>(data) : "", data ? size : 0);
}

void onRowEnd(int, void* context) {
    auto* c = static_cast<Collector*>(context);
    c->rows.push_back({c->rowLine, std::move(c->cells)});
    c->cells.clear();
}

// The rows of the text, each with the line it begins on. The bytes go to the parser one at a
// time so that every row knows its line, also when a quoted field spans lines.
std::vector<RawRow> splitRows(std::string_view text, unsigned char delimiter,
                              std::vector<ListProblem>& problems) {
    csv_parser parser{};
    if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI) != 0) throw std::bad_alloc();
    const std::unique_ptr<csv_parser, void (*)(csv_parser*)> owner(&parser, csv_free);
    csv_set_delim(&parser, delimiter);

    Collector collector;
    std::size_t line = 1;
    bool awaitingRow = true;  // the parser skips line breaks and spaces before a row
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        const bool blank = c == '\r' || c == '\n' || ((c == ' ' || c == '\t') && c != delimiter);
        if (awaitingRow && !blank) {
            collector.rowLine = line;
            awaitingRow = false;
        }
        const std::size_t rowsBefore = collector.rows.size();
        if (csv_parse(&parser, &c, 1, onField, onRowEnd, &collector) != 1) {
            problems.push_back({line,
                                "A quote on this line is out of place; quote a whole "
                                "field, and double a quote inside one."});
            return collector.rows;
        }
        if (collector.rows.size() != rowsBefore) awaitingRow = true;
        if (c == '\n' || (c == '\r' && (at + 1 == text.size() || text[at + 1] != '\n'))) ++line;
    }
    if (csv_fini(&parser, onField, onRowEnd, &collector) != 0) {
        problems.push_back({collector.rowLine,
                            "A quoted field that begins on this line is "
                            "never closed."});
    }
    return collector.rows;
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

// How surely a column name means the file: 2 for file/path names, 1 for names of a track.
int fileNameRank(std::string_view cell) {
    static const std::array<std::string_view, 4> sure = {"file", "filename", "path", "filepath"};
    static const std::array<std::string_view, 4> likely = {"name", "track", "title", "recording"};
    const std::string key = columnKey(cell);
    if (std::find(sure.begin(), sure.end(), key) != sure.end()) return 2;
    return std::find(likely.begin(), likely.end(), key) != likely.end() ? 1 : 0;
}

bool namesCode(std::string_view cell) {
    static const std::array<std::string_view, 3> names = {"isrc", "code", "isrccode"};
    return std::find(names.begin(), names.end(), columnKey(cell)) != names.end();
}

struct Columns {
    std::size_t file = 0;
    std::size_t code = 1;
    bool header = false;
};

// The columns a header row names, or none when the row is data.
std::optional<Columns> headerColumns(const std::vector<std::string>& cells) {
    if (std::any_of(cells.begin(), cells.end(), [](auto& c) { return ISRC::parse(c); })) {
        return std::nullopt;
    }
    const auto code =
        std::find_if(cells.begin(), cells.end(), [](auto& c) { return namesCode(c); });
    if (code == cells.end()) return std::nullopt;
    Columns columns{
        .file = cells.size(), .code = std::size_t(code - cells.begin()), .header = true};
    int best = 0;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (const int rank = fileNameRank(cells[i]); rank > best) best = rank, columns.file = i;
    }
    return columns;
}

}  // namespace

ParsedList parseCodeList(std::string_view bytes) {
    ParsedList list;
    const std::optional<std::string> text = asUTF8(bytes);
    if (!text) {
        list.problems.push_back({0, "The list is marked as UTF-16 but is not valid UTF-16."});
        return list;
    }
    std::vector<RawRow> rows = splitRows(*text, detectDelimiter(*text), list.problems);

    Columns columns;
    bool first = true;
    for (RawRow& row : rows) {
        for (std::string& cell : row.cells) cell = text::trimWhitespaceAndNewlines(cell);
        while (!row.cells.empty() && row.cells.back().empty()) row.cells.pop_back();
        if (row.cells.empty()) continue;  // a blank line, or one of delimiters only
        if (std::any_of(row.cells.begin(), row.cells.end(),
                        [](auto& c) { return !text::isValidUTF8(c); })) {
            list.problems.push_back(
                {row.line, "This line is not UTF-8 text; save the list as UTF-8."});
            first = false;
            continue;
        }
        if (first) {
            first = false;
            if (auto named = headerColumns(row.cells)) {
                columns = *named;
                if (columns.file == row.cells.size()) {
                    list.problems.push_back({row.line,
                                             "The header names no file column (file, "
                                             "path or filename)."});
                    return list;
                }
                continue;
            }
        }
        if (!columns.header && row.cells.size() != 2) {
            list.problems.push_back(
                {row.line, "This line has " + std::to_string(row.cells.size()) +
                               " columns; a list without a header row has two: file and code."});
            continue;
        }
        auto cell = [&](std::size_t i) { return i < row.cells.size() ? row.cells[i] : ""; };
        ListRow out{row.line, cell(columns.file), cell(columns.code)};
        if (out.target.empty()) {
            list.problems.push_back({row.line, "This line names no file."});
        } else if (out.code.empty()) {
            list.problems.push_back({row.line, "This line has no code."});
        } else {
            list.rows.push_back(std::move(out));
        }
    }
    return list;
}

fs::path recordingOf(const fs::path& file) {
    return recordings::nameKey(file);
}

std::vector<ListProblem> conflicts(const std::vector<Assignment>& assignments) {
    struct Seen {
        const Assignment* first;
        fs::path key;
    };
    std::map<fs::path, const Assignment*> byFile;
    std::map<std::string, Seen> byCode;
    std::vector<ListProblem> problems;
    for (const Assignment& a : assignments) {
        std::error_code ec;
        fs::path key = fs::absolute(a.file, ec).lexically_normal();
        if (ec) key = a.file.lexically_normal();
        if (auto [it, fresh] = byFile.try_emplace(key, &a); !fresh) {
            if (!(it->second->code == a.code)) {
                problems.push_back({a.line, a.file.string() + " is given " + a.code.formatted() +
                                                " here and " + it->second->code.formatted() +
                                                " on line " + std::to_string(it->second->line) +
                                                "."});
            }
            continue;
        }
        const fs::path recording = recordingOf(key);
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
