// SPDX-License-Identifier: MIT
#include "core/ledger/ledger.h"

#include <pwd.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <map>
#include <set>
#include <system_error>

#include "core/ledger/rule.h"
#include "core/ledger/statement.h"

namespace pelorix::ledger {

namespace fs = std::filesystem;

namespace {

// How long a process waits for another one's transaction before it gives up.
constexpr int kBusyMilliseconds = 30000;

// Each step brings the schema from its index to the next version; user_version counts them.
// A step is never changed once released: a new one is appended.
constexpr const char* kMigrations[] = {
    R"(CREATE TABLE entries(
         id INTEGER PRIMARY KEY,
         action TEXT NOT NULL CHECK (action IN ('write', 'removal', 'found')),
         code TEXT CHECK (code IS NULL OR length(code) = 12),
         previous TEXT,
         path TEXT NOT NULL,
         format TEXT NOT NULL,
         digest TEXT,
         fingerprint BLOB,
         seconds REAL NOT NULL,
         title TEXT NOT NULL,
         artist TEXT NOT NULL,
         album TEXT NOT NULL,
         track TEXT NOT NULL,
         disc TEXT NOT NULL,
         user TEXT NOT NULL,
         host TEXT NOT NULL,
         time TEXT NOT NULL,
         pending INTEGER NOT NULL DEFAULT 0) STRICT;
       CREATE INDEX entries_code ON entries(code);
       CREATE INDEX entries_previous ON entries(previous);
       CREATE INDEX entries_digest ON entries(digest);
       CREATE INDEX entries_path ON entries(path);
       CREATE INDEX entries_seconds ON entries(seconds);
       CREATE TABLE codes(
         code TEXT PRIMARY KEY,
         prefix TEXT NOT NULL,
         designation INTEGER NOT NULL) STRICT, WITHOUT ROWID;
       CREATE INDEX codes_prefix ON codes(prefix, designation);)",
    // The XXH3-128 of a WAV's or AIFF's samples, kept instead of their MD5 (`digest`), which is
    // taken only where a file with the MD5 alone may hold the same samples.
    R"(ALTER TABLE entries ADD COLUMN hash TEXT;
       CREATE INDEX entries_hash ON entries(hash);)",
};
constexpr int kVersion = int(std::size(kMigrations));

// Schema 1 had no `hash`: read as none where such a ledger is only read.
constexpr const char* kColumns =
    "id, action, code, previous, path, format, digest, fingerprint, seconds, title, artist, "
    "album, track, disc, user, host, time, pending, ";

// Filesystems whose locks or shared memory do not reach every client: write-ahead logging
// needs memory shared by every process that opens the file, so it is not used on them.
bool onNetworkFilesystem(const fs::path& folder) {
    struct statfs st {};
    if (::statfs(folder.c_str(), &st) != 0) return false;
    switch (static_cast<unsigned long>(st.f_type)) {
        case 0x6969UL:      // NFS
        case 0x517BUL:      // SMB
        case 0xFF534D42UL:  // CIFS
        case 0xFE534D42UL:  // SMB2
        case 0x65735546UL:  // FUSE (sshfs and others)
        case 0x01021997UL:  // 9P
        case 0x00C36400UL:  // Ceph
        case 0x5346414FUL:  // AFS
        case 0x47504653UL:  // GPFS
        case 0x0BD00BD0UL:  // Lustre
            return true;
        default:
            return false;
    }
}

const char* actionName(Action a) {
    switch (a) {
        case Action::write:
            return "write";
        case Action::removal:
            return "removal";
        case Action::found:
            return "found";
    }
    return "write";
}

Action actionOf(std::string_view name) {
    if (name == "removal") return Action::removal;
    if (name == "found") return Action::found;
    return Action::write;
}

std::string blobOf(const std::vector<std::uint32_t>& v) {
    std::string b;
    b.reserve(v.size() * 4);
    for (std::uint32_t x : v) {
        for (int k = 0; k < 4; ++k) b.push_back(char((x >> (8 * k)) & 0xFF));
    }
    return b;
}

std::vector<std::uint32_t> fingerprintOf(const void* data, int size) {
    const auto* p = static_cast<const unsigned char*>(data);
    std::vector<std::uint32_t> v(std::size_t(size) / 4);
    for (std::size_t i = 0; i < v.size(); ++i) {
        v[i] = std::uint32_t(p[4 * i]) | std::uint32_t(p[4 * i + 1]) << 8 |
               std::uint32_t(p[4 * i + 2]) << 16 | std::uint32_t(p[4 * i + 3]) << 24;
    }
    return v;
}

std::string envText(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

}  // namespace

fs::path locate(const std::optional<fs::path>& chosen) {
    if (chosen && !chosen->empty()) return *chosen;
    if (const std::string env = envText("PELORIX_LEDGER"); !env.empty()) return env;
    fs::path data = envText("XDG_DATA_HOME");
    if (data.empty() || !data.is_absolute()) {
        std::string home = envText("HOME");
        if (home.empty()) {
            if (const passwd* pw = ::getpwuid(::getuid())) home = pw->pw_dir;
        }
        data = fs::path(home) / ".local" / "share";
    }
    return data / "pelorix" / "ledger.sqlite3";
}

std::string currentUser() {
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_name) return pw->pw_name;
    if (std::string u = envText("USER"); !u.empty()) return u;
    return std::to_string(::getuid());
}

std::string currentHost() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return "";
    return name;
}

std::string now() {
    const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    ::gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

Ledger::Ledger(const fs::path& file, Access access) : path_(file) {
    if (access == Access::readOnly) {
        openToRead();
        return;
    }
    std::error_code ec;
    // A device, a pipe or a folder is no ledger: SQLite would make a journal beside it and, as
    // root, even set the mode of an empty device it opened (/dev/null).
    if (fs::exists(path_, ec) && !fs::is_regular_file(path_, ec)) {
        throw LedgerError("Cannot open the ledger " + path_.string() + ": it is not a file.");
    }
    if (path_.has_parent_path()) fs::create_directories(path_.parent_path(), ec);
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        throw LedgerError("Cannot open the ledger " + path_.string() + ": " + why);
    }
    try {
        sqlite3_busy_timeout(db_, kBusyMilliseconds);
        exec("PRAGMA foreign_keys = ON");
        const fs::path folder = path_.has_parent_path() ? path_.parent_path() : fs::path(".");
        const char* wanted = onNetworkFilesystem(folder) ? "DELETE" : "WAL";
        {
            // Another process switching the mode at this moment makes this one fail: then the
            // mode the file has is taken as it is.
            sqlite3_stmt* st = nullptr;
            const std::string sql = std::string("PRAGMA journal_mode = ") + wanted;
            if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
                sqlite3_step(st) == SQLITE_ROW) {
                journal_ = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
            }
            sqlite3_finalize(st);
        }
        if (journal_.empty()) {
            Statement st(db_, "PRAGMA journal_mode");
            if (st.step()) journal_ = st.column(0);
        }
        std::transform(journal_.begin(), journal_.end(), journal_.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        begin();
        Statement version(db_, "PRAGMA user_version");
        int v = version.step() ? sqlite3_column_int(version.get(), 0) : 0;
        if (v > kVersion) {
            throw LedgerError("The ledger " + path_.string() +
                              " was made by a newer PELORIX (schema " + std::to_string(v) +
                              "); this one knows schema " + std::to_string(kVersion) + ".");
        }
        // A ledger already up to date is left as it is: its commit then writes nothing and
        // waits for no flush.
        if (v < kVersion) {
            for (; v < kVersion; ++v) exec(kMigrations[v]);
            exec(("PRAGMA user_version = " + std::to_string(kVersion)).c_str());
        }
        commit();
        schema_ = kVersion;
    } catch (...) {
        rollback();
        sqlite3_close(db_);
        throw;
    }
}

void Ledger::openToRead() {
    std::error_code ec;
    if (!fs::is_regular_file(path_, ec))
        throw LedgerError("There is no ledger at " + path_.string() + ".");
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        throw LedgerError("Cannot open the ledger " + path_.string() + ": " + why);
    }
    try {
        sqlite3_busy_timeout(db_, kBusyMilliseconds);
        Statement mode(db_, "PRAGMA journal_mode");
        if (mode.step()) journal_ = mode.column(0);
        Statement version(db_, "PRAGMA user_version");
        const int v = version.step() ? sqlite3_column_int(version.get(), 0) : 0;
        schema_ = v;
        if (v < 1 || v > kVersion) {
            throw LedgerError(
                "The ledger " + path_.string() + " has schema " + std::to_string(v) +
                "; this PELORIX reads schema " + std::to_string(kVersion) +
                (v < kVersion ? " (its next write of a code brings it up to date)." : "."));
        }
    } catch (...) {
        sqlite3_close(db_);
        throw;
    }
}

Ledger::~Ledger() {
    awaitClaim();
    for (auto& [sql, st] : kept_) sqlite3_finalize(st);
    sqlite3_close(db_);
}

sqlite3_stmt* Ledger::kept(const std::string& sql) {
    auto [it, fresh] = kept_.try_emplace(sql, nullptr);
    if (fresh && sqlite3_prepare_v2(db_, sql.c_str(), -1, &it->second, nullptr) != SQLITE_OK) {
        kept_.erase(it);
        throw LedgerError(std::string("Ledger: ") + sqlite3_errmsg(db_));
    }
    return it->second;
}

void Ledger::exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::string why = error ? error : sqlite3_errmsg(db_);
        sqlite3_free(error);
        throw LedgerError("Ledger " + path_.string() + ": " + why);
    }
}

void Ledger::awaitClaim() noexcept {
    if (storing_.joinable()) storing_.join();
}

void Ledger::claimStored() {
    awaitClaim();
    if (storeError_) std::rethrow_exception(storeError_);
}

void Ledger::begin() {
    exec("BEGIN IMMEDIATE");
}

void Ledger::commit() {
    exec("COMMIT");
}

void Ledger::rollback() noexcept {
    if (db_ && !sqlite3_get_autocommit(db_))
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

std::int64_t Ledger::insert(const Entry& e, bool pending) {
    static const std::string sql =
        "INSERT INTO entries(action, code, previous, path, format, digest, fingerprint, seconds, "
        "title, artist, album, track, disc, user, host, time, pending, hash) "
        "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
    Statement st(db_, kept(sql));
    const FileFacts& f = e.file;
    st.text(1, std::string(actionName(e.action)))
        .text(2, e.code)
        .text(3, f.carried)
        .text(4, f.identity.path.string())
        .text(5, f.format)
        .text(6, f.identity.pcmDigest)
        .blob(7, blobOf(f.identity.fingerprint))
        .real(8, f.identity.seconds)
        .text(9, f.description.title)
        .text(10, f.description.artist)
        .text(11, f.description.album)
        .text(12, f.description.track)
        .text(13, f.description.disc)
        .text(14, e.user.empty() ? currentUser() : e.user)
        .text(15, e.host.empty() ? currentHost() : e.host)
        .text(16, e.time.empty() ? now() : e.time)
        .integer(17, pending ? 1 : 0)
        .text(18, f.identity.sampleHash)
        .run();
    const std::int64_t id = sqlite3_last_insert_rowid(db_);
    // Every code that was ever in a file counts as given: numbering never reaches it again.
    Statement given(db_,
                    kept("INSERT OR IGNORE INTO codes(code, prefix, designation) VALUES(?, ?, ?)"));
    for (const auto& text : {e.code, f.carried}) {
        if (!text) continue;
        const auto code = ISRC::parse(*text);
        if (!code) continue;
        given.text(1, code->code()).text(2, code->code().substr(0, 7));
        given.integer(3, code->designation()).run();
    }
    return id;
}

std::vector<Entry> Ledger::select(const std::string& where,
                                  const std::function<void(sqlite3_stmt*)>& bind) {
    Statement st(db_, std::string("SELECT ") + kColumns + (schema_ >= 2 ? "hash" : "NULL") +
                          " FROM entries WHERE " + where + " ORDER BY id");
    bind(st.get());
    std::vector<Entry> out;
    while (st.step()) {
        Entry e;
        e.id = sqlite3_column_int64(st.get(), 0);
        e.action = actionOf(st.column(1));
        e.code = st.optionalColumn(2);
        e.file.carried = st.optionalColumn(3);
        e.file.identity.path = st.column(4);
        e.file.format = st.column(5);
        e.file.identity.pcmDigest = st.optionalColumn(6);
        e.file.identity.fingerprint =
            fingerprintOf(sqlite3_column_blob(st.get(), 7), sqlite3_column_bytes(st.get(), 7));
        e.file.identity.seconds = sqlite3_column_double(st.get(), 8);
        e.file.description = {st.column(9), st.column(10), st.column(11), st.column(12),
                              st.column(13)};
        e.user = st.column(14);
        e.host = st.column(15);
        e.time = st.column(16);
        e.pending = sqlite3_column_int(st.get(), 17) != 0;
        e.file.identity.sampleHash = st.optionalColumn(18);
        out.push_back(std::move(e));
    }
    return out;
}

std::vector<Refusal> Ledger::check(const std::vector<Planned>& batch, const Compare& compare,
                                   bool reuse, bool claim, std::vector<std::int64_t>* claimed) {
    awaitClaim();
    storeError_ = nullptr;
    std::vector<Refusal> refusals = batchRefusals(batch);
    begin();
    try {
        std::map<std::string, std::vector<Entry>> byCode;
        for (std::size_t i = 0; i < batch.size(); ++i) {
            const Planned& p = batch[i];
            if (p.kept) continue;
            auto it = byCode.find(p.code.code());
            if (it == byCode.end()) {
                it = byCode
                         .emplace(p.code.code(), select("code = ?1 AND action != 'removal'",
                                                        [&](sqlite3_stmt* st) {
                                                            sqlite3_bind_text(st, 1,
                                                                              p.code.code().c_str(),
                                                                              -1, SQLITE_TRANSIENT);
                                                        }))
                         .first;
            }
            // The entries of other codes that could be found the same recording: the same
            // file, the same samples, a name of one folder (a prefix range of paths), or, when
            // this file was heard, a heard one of about its length.
            const recordings::Identity& id = p.file.identity;
            const std::string path = id.path.string();
            const std::string name = (id.path.parent_path() / id.path.stem()).string();
            std::string where =
                "code IS NOT NULL AND code != ?1 AND action != 'removal' AND "
                "(path = ?2 OR (path >= ?6 AND path < ?7)";
            if (id.pcmDigest) where += " OR digest = ?3";
            if (id.sampleHash) where += " OR hash = ?8";
            if (!id.fingerprint.empty()) {
                where += " OR (fingerprint IS NOT NULL AND seconds BETWEEN ?4 AND ?5)";
            }
            where += ")";
            const std::vector<Entry> nearby = select(where, [&](sqlite3_stmt* st) {
                sqlite3_bind_text(st, 1, p.code.code().c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(st, 2, path.c_str(), -1, SQLITE_TRANSIENT);
                if (id.pcmDigest) {
                    sqlite3_bind_text(st, 3, id.pcmDigest->c_str(), -1, SQLITE_TRANSIENT);
                }
                sqlite3_bind_double(st, 4, id.seconds - 2.0);
                sqlite3_bind_double(st, 5, id.seconds + 2.0);
                sqlite3_bind_text(st, 6, (name + ".").c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(st, 7, (name + "/").c_str(), -1, SQLITE_TRANSIENT);
                if (id.sampleHash) {
                    sqlite3_bind_text(st, 8, id.sampleHash->c_str(), -1, SQLITE_TRANSIENT);
                }
            });
            if (auto refusal = ledgerRefusal(p, it->second, nearby, compare)) {
                refusal->index = i;
                refusals.push_back(std::move(*refusal));
            }
        }
        std::stable_sort(refusals.begin(), refusals.end(),
                         [](const Refusal& a, const Refusal& b) { return a.index < b.index; });
        bool claiming = false;
        if (claim && (refusals.empty() || reuse)) {
            const std::string user = currentUser(), host = currentHost(), time = now();
            for (const Planned& p : batch) {
                const std::int64_t id =
                    p.kept
                        ? 0
                        : insert({0, Action::write, p.code.code(), p.file, user, host, time, true},
                                 true);
                claiming = claiming || id != 0;
                if (claimed) claimed->push_back(id);
            }
        }
        if (claiming && meanwhile_) {
            // The connection is not touched again before the thread is joined.
            try {
                storing_ = std::thread([this] {
                    try {
                        commit();
                    } catch (...) {
                        rollback();
                        storeError_ = std::current_exception();
                    }
                });
                return refusals;
            } catch (const std::system_error&) {
                // No thread to be had: stored here and now.
            }
        }
        commit();
    } catch (...) {
        rollback();
        throw;
    }
    return refusals;
}

void Ledger::settle(const std::vector<std::int64_t>& written,
                    const std::vector<std::int64_t>& failed) {
    awaitClaim();
    if (written.empty() && failed.empty()) return;
    begin();
    try {
        Statement done(db_, "UPDATE entries SET pending = 0, time = ?2 WHERE id = ?1");
        const std::string time = now();
        for (std::int64_t id : written) done.integer(1, id).text(2, time).run();
        // A code no file ever held is given back, so that a failed write leaves no gap.
        Statement drop(db_, "DELETE FROM entries WHERE id = ?1 RETURNING code");
        Statement release(db_,
                          "DELETE FROM codes WHERE code = ?1 AND NOT EXISTS (SELECT 1 FROM "
                          "entries WHERE entries.code = ?1 OR entries.previous = ?1)");
        for (std::int64_t id : failed) {
            drop.integer(1, id);
            std::optional<std::string> code;
            if (drop.step()) code = drop.optionalColumn(0);
            drop.run();
            if (code) release.text(1, *code).run();
        }
        commit();
    } catch (...) {
        rollback();
        throw;
    }
}

void Ledger::record(const std::vector<Entry>& entries) {
    awaitClaim();
    if (entries.empty()) return;
    begin();
    try {
        for (const Entry& e : entries) insert(e, false);
        commit();
    } catch (...) {
        rollback();
        throw;
    }
}

std::optional<int> Ledger::nextDesignation(std::string_view prefix) {
    awaitClaim();
    Statement st(db_, "SELECT max(designation) FROM codes WHERE prefix = ?1");
    st.text(1, std::string(prefix));
    int next = 1;
    if (st.step() && sqlite3_column_type(st.get(), 0) != SQLITE_NULL) {
        next = sqlite3_column_int(st.get(), 0) + 1;
    }
    if (next > ISRC::kLastDesignation) return std::nullopt;
    return next;
}

void Ledger::learn(const recordings::Identity& heard) {
    awaitClaim();
    if (heard.fingerprint.empty()) return;
    begin();
    try {
        // The same samples by either digest; a file without one (lossy) by its length alone.
        Statement st(db_,
                     "UPDATE entries SET fingerprint = ?1 WHERE path = ?2 AND fingerprint IS NULL "
                     "AND abs(seconds - ?4) < 0.5 AND (digest = ?3 OR hash = ?5 OR "
                     "(digest IS ?3 AND hash IS ?5))");
        st.blob(1, blobOf(heard.fingerprint)).text(2, heard.path.string());
        st.text(3, heard.pcmDigest).real(4, heard.seconds).text(5, heard.sampleHash).run();
        commit();
    } catch (...) {
        rollback();
        throw;
    }
}

Ledger::Wanted Ledger::digestsWanted(const recordings::Identity& id) {
    awaitClaim();
    Wanted w;
    if (id.seconds <= 0 || (id.pcmDigest && id.sampleHash)) return w;
    // Files of one set of samples have one length to the sample; the headers give it alike.
    Statement st(db_,
                 "SELECT ifnull(max(digest IS NOT NULL AND hash IS NULL), 0), "
                 "ifnull(max(hash IS NOT NULL AND digest IS NULL), 0) FROM entries "
                 "WHERE code IS NOT NULL AND action != 'removal' AND seconds BETWEEN ?1 AND ?2");
    st.real(1, id.seconds - 0.001).real(2, id.seconds + 0.001);
    if (st.step()) {
        w.pcmDigest = !id.pcmDigest && sqlite3_column_int(st.get(), 0) != 0;
        w.sampleHash = !id.sampleHash && sqlite3_column_int(st.get(), 1) != 0;
    }
    return w;
}

std::optional<std::string> Ledger::codeAt(const fs::path& path) {
    awaitClaim();
    Statement st(
        db_, "SELECT code FROM entries WHERE path = ?1 AND pending = 0 ORDER BY id DESC LIMIT 1");
    st.text(1, path.string());
    return st.step() ? st.optionalColumn(0) : std::nullopt;
}

std::vector<int> Ledger::designations(std::string_view prefix) {
    awaitClaim();
    Statement st(db_, "SELECT designation FROM codes WHERE prefix = ?1 ORDER BY designation");
    st.text(1, std::string(prefix));
    std::vector<int> out;
    while (st.step()) out.push_back(sqlite3_column_int(st.get(), 0));
    return out;
}

std::vector<Entry> Ledger::entries(const std::optional<std::string>& code) {
    awaitClaim();
    if (!code) return select("1", [](sqlite3_stmt*) {});
    return select("code = ?1 OR previous = ?1", [&](sqlite3_stmt* st) {
        sqlite3_bind_text(st, 1, code->c_str(), -1, SQLITE_TRANSIENT);
    });
}

std::vector<CodeRecord> Ledger::codes() {
    awaitClaim();
    const std::vector<Entry> all = select("pending = 0", [](sqlite3_stmt*) {});
    // The last entry of each path says which code it holds now.
    std::map<std::string, const Entry*> lastOfPath;
    for (const Entry& e : all) lastOfPath[e.file.identity.path.string()] = &e;
    std::map<std::string, CodeRecord> byCode;
    std::map<std::pair<std::string, std::string>, std::size_t> fileIndex;
    for (const Entry& e : all) {
        if (!e.code) continue;
        CodeRecord& r = byCode[*e.code];
        r.code = *e.code;
        if (!e.file.description.title.empty()) r.title = e.file.description.title;
        if (!e.file.description.artist.empty()) r.artist = e.file.description.artist;
        if (e.file.identity.seconds > 0) r.seconds = e.file.identity.seconds;
        if (r.firstWritten.empty()) r.firstWritten = e.time;
        r.lastWritten = e.time;
        const std::string path = e.file.identity.path.string();
        auto [it, fresh] = fileIndex.try_emplace({r.code, path}, r.files.size());
        if (fresh) r.files.push_back({path, e.file.format, e.time, e.time, ""});
        CodeRecord::File& f = r.files[it->second];
        f.lastWritten = e.time;
        f.format = e.file.format;
    }
    std::vector<CodeRecord> out;
    for (auto& [code, r] : byCode) {
        for (CodeRecord::File& f : r.files) {
            const Entry* last = lastOfPath[f.path];
            if (last->code != std::optional<std::string>(code)) f.removed = last->time;
        }
        out.push_back(std::move(r));
    }
    return out;
}

}  // namespace pelorix::ledger
