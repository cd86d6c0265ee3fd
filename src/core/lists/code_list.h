// SPDX-License-Identifier: MIT
#pragma once
// Lists of codes as labels keep them: CSV or TSV text of file → code, read into rows that keep
// their line numbers, and the rule that one code names one recording.

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/isrc.h"

namespace pelorix::lists {

// One line of a list: the file (or name) and the code text, both as written, trimmed.
struct ListRow {
    std::size_t line = 0;  // 1-based, where the row begins
    std::string target;
    std::string code;
};

// Something wrong with one line (line 0: with the list as a whole).
struct ListProblem {
    std::size_t line = 0;
    std::string message;
    friend bool operator==(const ListProblem&, const ListProblem&) = default;
};

struct ParsedList {
    std::vector<ListRow> rows;
    std::vector<ListProblem> problems;
};

// The largest list read, and the most problems gathered before reading stops (the last one
// then says so): a list is text a person keeps, and memory stays bounded whatever it holds.
inline constexpr std::size_t kMaxListBytes = std::size_t(8) << 20;
inline constexpr std::size_t kMaxListProblems = 100;

// A list read as a sheet: its header row (empty when the first row is data) and the rows that
// hold anything, each with its line, cells trimmed. Problems as parseCodeList's.
struct SheetRow {
    std::size_t line = 0;
    std::vector<std::string> cells;
};
struct Sheet {
    std::vector<std::string> header;
    std::size_t headerLine = 0;
    std::vector<SheetRow> rows;
    std::vector<ListProblem> problems;
};
// Reads the bytes as parseCodeList does. The first row is a header when no cell is a code and
// one names a column (see Role); without one, a row of other than two cells is a problem.
Sheet readSheet(std::string_view bytes);

// What a column holds: codes (isrc, code), or something that finds the file: a path (path,
// file, filename), a file name (name), a title (title, recording), a track (track: `1-01`,
// `01`, `CD1/01`) or a disc (disc, cd). Header names count in any case, without spaces,
// hyphens and low lines.
enum class Role { none, code, path, name, title, track, disc };
// How a list's lines find their files.
enum class MatchBy { path, name, title, track };

// The columns a sheet's lines use: the one that holds codes and those that find files. A
// caller (a preview) may change it before matching.
struct ColumnChoice {
    std::optional<std::size_t> code;
    std::map<Role, std::size_t> finders;
};
// The header's choice; the code column found by its values when no header cell names it.
// Without a header: file (whatever finds it), code.
ColumnChoice guessColumns(const Sheet& sheet);
// The columns that may hold the codes, in order: those the header names so and those with a
// value that is a code. A preview lets the user pick one when there are several.
std::vector<std::size_t> codeColumns(const Sheet& sheet);
// The match a choice suggests: path (also for a name column), else title, else track; none
// when no column finds files.
std::optional<MatchBy> defaultMatch(const ColumnChoice& choice);
// The column that `by` reads (track: the track column; the disc column is read beside it).
std::optional<std::size_t> finderColumn(const ColumnChoice& choice, MatchBy by);

// Reads the bytes of a list: UTF-8 with or without a byte-order mark (UTF-16 with one is
// converted), CRLF or LF, quoted fields, comma, semicolon or tab (taken from the first line
// that holds anything). A header picks the columns (guessColumns; the target is the column
// of defaultMatch); without one, the rows are two columns: file, code. Blank lines are
// skipped; every malformed row is a problem and no row (a field holding a NUL character is
// one).
ParsedList parseCodeList(std::string_view bytes);
// The rows of a sheet as `choice` reads them (parseCodeList reads them as guessColumns chose).
ParsedList rowsOf(Sheet sheet, const ColumnChoice& choice);

// The recording a file holds, as far as names tell: its folder and its name without the
// extension. Song.wav and Song.flac in one folder are one recording.
std::filesystem::path recordingOf(const std::filesystem::path& file);

// A file as the system knows it, whatever name leads to it: its device and inode, after every
// link is followed. None when it cannot be reached.
struct FileId {
    unsigned long long device = 0, inode = 0;
    friend auto operator<=>(const FileId&, const FileId&) = default;
};
std::optional<FileId> fileIdOf(const std::filesystem::path& path);

// A code meant for a file, from the list line `line`.
struct Assignment {
    std::size_t line = 0;
    std::filesystem::path file;  // as the user will see it
    ISRC code;
};

// The assignments that contradict one another: the same code on two recordings, or one file
// given two different codes. One problem for each later line, naming the earlier one. Files
// are told apart by FileId (one that cannot be reached is left to the caller), recordings by
// recordingOf the file's real path.
std::vector<ListProblem> conflicts(const std::vector<Assignment>& assignments);

}  // namespace pelorix::lists
