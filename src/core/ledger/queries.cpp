// SPDX-License-Identifier: MIT
// The ledger read a page at a time, for a view that lists many codes: what is shown is
// fetched when it is needed, in code order, through the index of the entries' codes.
#include <cctype>

#include "core/ledger/ledger.h"
#include "core/ledger/statement.h"

namespace pelorix::ledger {

namespace {

// `text` as a LIKE pattern that finds it anywhere: %, _ and \ taken as themselves.
std::string containing(std::string_view text) {
    std::string pattern = "%";
    for (char c : text) {
        if (c == '%' || c == '_' || c == '\\') pattern += '\\';
        pattern += c;
    }
    return pattern + "%";
}

// A code as the ledger stores it: no hyphens or spaces, upper case.
std::string compact(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c != '-' && c != ' ') out += char(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

// The entries that count: finished ones with a code. With a search, only codes of which an
// entry's code, title or path holds it.
std::string matching(std::string_view search) {
    std::string where = "code IS NOT NULL AND pending = 0";
    if (!search.empty()) {
        where +=
            " AND code IN (SELECT code FROM entries WHERE code IS NOT NULL AND pending = 0 AND "
            "(code LIKE ?1 ESCAPE '\\' OR title LIKE ?2 ESCAPE '\\' OR path LIKE ?2 ESCAPE "
            "'\\'))";
    }
    return where;
}

void bindSearch(Statement& st, std::string_view search) {
    if (search.empty()) return;
    st.text(1, containing(compact(search))).text(2, containing(search));
}

}  // namespace

std::vector<CodeSummary> Ledger::findCodes(std::string_view search, std::string_view after,
                                           std::size_t limit) {
    awaitClaim();
    Statement st(db_,
                 "SELECT code, count(DISTINCT path), min(time), max(time), "
                 "(SELECT title FROM entries t WHERE t.code = e.code AND t.pending = 0 AND "
                 "t.title != '' ORDER BY t.id DESC LIMIT 1), "
                 "(SELECT artist FROM entries t WHERE t.code = e.code AND t.pending = 0 AND "
                 "t.artist != '' ORDER BY t.id DESC LIMIT 1) "
                 "FROM entries e WHERE " +
                     matching(search) + " AND code > ?3 GROUP BY code ORDER BY code LIMIT ?4");
    bindSearch(st, search);
    st.text(3, std::string(after)).integer(4, std::int64_t(limit));
    std::vector<CodeSummary> out;
    while (st.step()) {
        CodeSummary c;
        c.code = st.column(0);
        c.files = std::size_t(sqlite3_column_int64(st.get(), 1));
        c.firstWritten = st.column(2);
        c.lastWritten = st.column(3);
        c.title = st.column(4);
        c.artist = st.column(5);
        out.push_back(std::move(c));
    }
    return out;
}

std::size_t Ledger::countCodes(std::string_view search) {
    awaitClaim();
    Statement st(db_, "SELECT count(DISTINCT code) FROM entries WHERE " + matching(search));
    bindSearch(st, search);
    return st.step() ? std::size_t(sqlite3_column_int64(st.get(), 0)) : 0;
}

}  // namespace pelorix::ledger
