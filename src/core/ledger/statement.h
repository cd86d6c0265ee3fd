// SPDX-License-Identifier: MIT
#pragma once
// Inside the ledger: SQLite statements as the ledger's units use them.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>

#include "core/ledger/ledger.h"

namespace pelorix::ledger {

// A prepared statement that finalizes itself, or one of the ledger's kept statements, reset
// for its next use.
class Statement {
  public:
    Statement(sqlite3* db, const std::string& sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st_, nullptr) != SQLITE_OK) fail();
    }
    Statement(sqlite3* db, sqlite3_stmt* kept) : db_(db), st_(kept), kept_(true) {}
    ~Statement() {
        if (!kept_) {
            sqlite3_finalize(st_);
            return;
        }
        sqlite3_reset(st_);
        sqlite3_clear_bindings(st_);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* get() { return st_; }

    Statement& text(int i, const std::string& s) {
        check(sqlite3_bind_text(st_, i, s.data(), int(s.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Statement& text(int i, const std::optional<std::string>& s) {
        return s ? text(i, *s) : null(i);
    }
    Statement& null(int i) {
        check(sqlite3_bind_null(st_, i));
        return *this;
    }
    Statement& integer(int i, std::int64_t v) {
        check(sqlite3_bind_int64(st_, i, v));
        return *this;
    }
    Statement& real(int i, double v) {
        check(sqlite3_bind_double(st_, i, v));
        return *this;
    }
    Statement& blob(int i, const std::string& b) {
        if (b.empty()) return null(i);
        check(sqlite3_bind_blob(st_, i, b.data(), int(b.size()), SQLITE_TRANSIENT));
        return *this;
    }
    // True while there is a row.
    bool step() {
        const int rc = sqlite3_step(st_);
        if (rc == SQLITE_ROW) return true;
        if (rc != SQLITE_DONE) fail();
        return false;
    }
    void run() {
        while (step()) {
        }
        sqlite3_reset(st_);
    }
    std::string column(int i) {
        const auto* t = sqlite3_column_text(st_, i);
        return t ? std::string(reinterpret_cast<const char*>(t), sqlite3_column_bytes(st_, i))
                 : std::string();
    }
    std::optional<std::string> optionalColumn(int i) {
        if (sqlite3_column_type(st_, i) == SQLITE_NULL) return std::nullopt;
        return column(i);
    }

  private:
    void check(int rc) {
        if (rc != SQLITE_OK) fail();
    }
    [[noreturn]] void fail() { throw LedgerError(std::string("Ledger: ") + sqlite3_errmsg(db_)); }

    sqlite3* db_;
    sqlite3_stmt* st_ = nullptr;
    bool kept_ = false;
};

}  // namespace pelorix::ledger
