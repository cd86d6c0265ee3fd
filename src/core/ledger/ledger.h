// SPDX-License-Identifier: MIT
#pragma once
// The ledger: every code PELORIX ever gave, found or removed, with the recording it went to, in
// one SQLite file that several processes (several people's command lines and windows) use at
// once. Every change is one transaction; a batch checks the rule and claims its codes in one
// step, so no other process can give one of them to another recording in between.

#include <sqlite3.h>

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/isrc.h"
#include "core/recordings/recording.h"

namespace pelorix::ledger {

// Where the ledger is: `chosen` when given (the command line's --ledger, the window's
// setting), else $PELORIX_LEDGER when set and not empty, else
// $XDG_DATA_HOME/pelorix/ledger.sqlite3 ($HOME/.local/share when XDG_DATA_HOME is unset or
// not absolute).
std::filesystem::path locate(const std::optional<std::filesystem::path>& chosen = std::nullopt);

// What a file says about itself, kept with each entry.
struct Description {
    std::string title, artist, album, track, disc;
};

// A file as a write or a look at it finds it.
struct FileFacts {
    recordings::Identity identity;  // path: absolute
    std::string format;             // "WAV", …
    Description description;
    std::optional<std::string> carried;  // the code text it holds, before any change
};

enum class Action { write, removal, found };

// One recorded fact: a code written to a file, removed from it, or found in it.
struct Entry {
    std::int64_t id = 0;
    Action action = Action::write;
    std::optional<std::string> code;  // 12 characters; none for a removal
    FileFacts file;
    std::string user, host, time;  // time: UTC, 2026-03-02T10:11:12Z
    bool pending = false;          // claimed, its write not yet finished
};

// How two files compare; recordings::compare in the program.
using Compare =
    std::function<recordings::Comparison(const recordings::Identity&, const recordings::Identity&)>;

// A file of a batch and the code it is to get.
// `recording`: which recording of the batch the file holds (files numbered alike hold one).
// `kept`: a file left as it is, with the code it carries as `code`; it takes part in the
// rule (its recording has that code) but is neither written nor claimed.
struct Planned {
    FileFacts file;
    ISRC code;
    std::size_t recording = 0;
    bool kept = false;
    std::string name = {};  // how messages name the file; empty: its folder and name
};

// Why the rule refuses one file of a batch.
struct Refusal {
    std::size_t index = 0;  // in the batch
    std::string message;
    // Only because it could not be told whether the file holds the recording an entry of the
    // ledger names (`other`, that entry's file): fingerprints may decide.
    bool unsure = false;
    std::filesystem::path other = {};
};

// Thrown when the ledger cannot be opened, read or changed.
class LedgerError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A code with everything known of it, for the registrant's record.
struct CodeRecord {
    std::string code;
    std::string title, artist;
    double seconds = 0;
    std::string firstWritten, lastWritten;
    struct File {
        std::string path, format, firstWritten, lastWritten;
        std::string removed;  // when the code was last removed from it, "" if it still holds it
    };
    std::vector<File> files;
};

// One code as a list of codes shows it.
struct CodeSummary {
    std::string code;
    std::string title, artist;  // the latest the code's files gave
    std::size_t files = 0;      // files it was written to or found in
    std::string firstWritten, lastWritten;
};

class Ledger {
  public:
    // readWrite: opens (creating it and its folder when missing) and brings the schema up to
    // date. readOnly: opens an existing ledger of this schema and never changes it; any change
    // asked of it fails.
    enum class Access { readWrite, readOnly };
    explicit Ledger(const std::filesystem::path& file, Access access = Access::readWrite);
    ~Ledger();
    Ledger(const Ledger&) = delete;
    Ledger& operator=(const Ledger&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // "wal", or "delete" where write-ahead logging cannot be used (network filesystems).
    const std::string& journal() const { return journal_; }

    // The rule checked against the ledger and within the batch; unless something is refused
    // and `reuse` is false, every file's entry is stored as pending in the same transaction
    // (`claim` true), which reserves the codes. The ids of the pending entries go to `claimed`,
    // one per file of the batch (0 for a kept one).
    std::vector<Refusal> check(const std::vector<Planned>& batch, const Compare& compare,
                               bool reuse, bool claim,
                               std::vector<std::int64_t>* claimed = nullptr);
    // For a caller that asks claimStored() before it replaces any file: check() then stores
    // its claim (the commit and its flush) on a helper thread, while the files are written.
    void storeClaimsMeanwhile() { meanwhile_ = true; }
    // Waits until the claim of the last check() is stored; throws LedgerError when it could not
    // be (then nothing of it is kept). Every other call waits for it as well.
    void claimStored();
    // After the writes: the pending entries that were written become facts; the others go.
    void settle(const std::vector<std::int64_t>& written, const std::vector<std::int64_t>& failed);
    // Stores finished entries (removals, codes found) in one transaction.
    void record(const std::vector<Entry>& entries);

    // The lowest designation above every one ever given, written, found or carried for the
    // country, registrant and year of `prefix` (7 characters, e.g. FIABC26); none past 99999.
    std::optional<int> nextDesignation(std::string_view prefix);
    // Every designation ever given for `prefix`, in order.
    std::vector<int> designations(std::string_view prefix);
    // Keeps the fingerprint of a file heard later in the entries of its path that have none
    // and whose digest and length it still matches.
    void learn(const recordings::Identity& heard);
    // Which digest of `id`'s samples, missing now, an entry of a code may be compared by: one of
    // the same length that keeps only the other (a FLAC's MD5 beside a WAV's XXH3, an entry
    // older than the XXH3). Taking only these keeps the MD5 of a WAV or AIFF off most writes.
    struct Wanted {
        bool pcmDigest = false, sampleHash = false;
    };
    Wanted digestsWanted(const recordings::Identity& id);
    // The code the ledger last saw in the file at `path` (none: removed, or never seen).
    std::optional<std::string> codeAt(const std::filesystem::path& path);
    // Every entry, oldest first (code: only those of that code).
    std::vector<Entry> entries(const std::optional<std::string>& code = std::nullopt);
    // Every code in code order, with its files.
    std::vector<CodeRecord> codes();

    // For a view of many codes, a page at a time: the codes after `after` (none: from the
    // first) in code order whose code, title or any file's path holds `search` (any case; a
    // code also written with hyphens or spaces), at most `limit` of them.
    std::vector<CodeSummary> findCodes(std::string_view search, std::string_view after,
                                       std::size_t limit);
    // How many codes findCodes finds in all.
    std::size_t countCodes(std::string_view search);

  private:
    void openToRead();
    void exec(const char* sql);
    void begin();
    void commit();
    void rollback() noexcept;
    std::int64_t insert(const Entry& e, bool pending);
    std::vector<Entry> select(const std::string& where,
                              const std::function<void(sqlite3_stmt*)>& bind);
    // The statement of `sql`, prepared once for the ledger's life.
    sqlite3_stmt* kept(const std::string& sql);

    std::filesystem::path path_;
    std::string journal_;
    int schema_ = 0;  // the file's version; older than this build's only when opened to read
    sqlite3* db_ = nullptr;
    std::map<std::string, sqlite3_stmt*> kept_;
    void awaitClaim() noexcept;
    bool meanwhile_ = false;
    std::thread storing_;  // the claim's commit, when it is stored meanwhile
    std::exception_ptr storeError_;
};

// Who and where: the user's login name and the host name, for the entries of this process.
std::string currentUser();
std::string currentHost();
std::string now();  // UTC, ISO 8601 to the second

}  // namespace pelorix::ledger
