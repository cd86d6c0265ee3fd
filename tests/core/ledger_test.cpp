// SPDX-License-Identifier: MIT
// The ledger of codes given, a real SQLite file in a temporary folder: where it lives, the rule
// it enforces, the numbers it hands out, and two processes using it at once.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <set>

#include "core/ledger/ledger.h"
#include "core/ledger/rule.h"
#include "core/read/read.h"
#include "core/tag_error.h"
#include "e2e_support.h"
#include "support/files.h"

using namespace pelorix;
using namespace pelorix::ledger;
using pelorix::test::TempDir;
namespace e2e = pelorix::test::e2e;
namespace fs = std::filesystem;

namespace {

// Two files hold one recording when their sample digests agree; without a digest on both
// sides nothing can be told (lossy copies without a fingerprint).
recordings::Comparison byDigest(const recordings::Identity& a, const recordings::Identity& b) {
    if (!a.pcmDigest || !b.pcmDigest) return {recordings::Verdict::unknown, ""};
    return {
        *a.pcmDigest == *b.pcmDigest ? recordings::Verdict::same : recordings::Verdict::different,
        ""};
}

FileFacts facts(const std::string& path, std::optional<std::string> digest, double seconds = 200,
                std::string title = "") {
    FileFacts f;
    f.identity.path = path;
    f.identity.pcmDigest = std::move(digest);
    f.identity.seconds = seconds;
    f.format = "WAV";
    f.description.title = std::move(title);
    return f;
}

ISRC code(const std::string& text) {
    return *ISRC::parse(text);
}

// Writes the batch as a front end does: check, claim, settle every file as written.
std::vector<Refusal> give(Ledger& l, const std::vector<Planned>& batch, bool reuse = false) {
    std::vector<std::int64_t> ids;
    auto refusals = l.check(batch, byDigest, reuse, true, &ids);
    l.settle(ids, {});
    return refusals;
}

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* v = std::getenv(name)) old_ = v;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace

TEST(LedgerTest, LivesWhereTheUserSaysElseInTheDataFolder) {
    struct Case {
        const char* chosen;
        const char* env;
        const char* xdg;
        const char* expected;
    } cases[] = {
        {"/srv/shared.sqlite3", "/env.sqlite3", "/xdg", "/srv/shared.sqlite3"},
        {nullptr, "/env.sqlite3", "/xdg", "/env.sqlite3"},
        {nullptr, "", "/xdg", "/xdg/pelorix/ledger.sqlite3"},
        {nullptr, nullptr, "relative", "/home/u/.local/share/pelorix/ledger.sqlite3"},
        {nullptr, nullptr, nullptr, "/home/u/.local/share/pelorix/ledger.sqlite3"},
    };
    ScopedEnv home("HOME", "/home/u");
    for (const Case& c : cases) {
        ScopedEnv env("PELORIX_LEDGER", c.env), xdg("XDG_DATA_HOME", c.xdg);
        const auto chosen =
            c.chosen ? std::optional<std::filesystem::path>(c.chosen) : std::nullopt;
        EXPECT_EQ(locate(chosen), c.expected) << (c.chosen ? c.chosen : "-");
    }
}

TEST(LedgerTest, SchemaIsVersionedAndANewerOneIsRefused) {
    TempDir dir;
    const auto file = dir / "a/b/ledger.sqlite3";
    {
        Ledger l(file);  // the folders are made
        EXPECT_EQ(l.journal(), "wal");
        give(l, {{facts("/m/01.wav", "d1"), code("FIABC2600001")}});
    }
    Ledger again(file);
    ASSERT_EQ(again.entries().size(), 1u);
    EXPECT_EQ(again.entries()[0].code, "FIABC2600001");
    EXPECT_FALSE(again.entries()[0].user.empty());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    const auto sql = [&](const char* text) {
        ASSERT_EQ(sqlite3_exec(db, text, nullptr, nullptr, nullptr), SQLITE_OK) << text;
    };
    // A ledger of the first schema (no XXH3 of samples) is read as it is, and brought up to date
    // by the first process that may change it.
    sql("DROP INDEX entries_hash; ALTER TABLE entries DROP COLUMN hash; PRAGMA user_version = 1");
    EXPECT_EQ(Ledger(file, Ledger::Access::readOnly).entries().size(), 1u);
    EXPECT_EQ(Ledger(file).entries().size(), 1u);
    sql("PRAGMA user_version = 99");
    sqlite3_close(db);
    try {
        Ledger newer(file);
        ADD_FAILURE() << "a ledger of a newer schema was opened";
    } catch (const LedgerError& e) {
        EXPECT_NE(std::string(e.what()).find("newer"), std::string::npos) << e.what();
    }
    // A pipe or a folder named as the ledger is refused, and nothing is made beside it.
    std::filesystem::create_directory(dir / "folder");
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0666), 0);
    for (const char* name : {"folder", "pipe"}) {
        try {
            Ledger odd(dir / name);
            ADD_FAILURE() << name << " was opened as a ledger";
        } catch (const LedgerError& e) {
            EXPECT_NE(std::string(e.what()).find("not a file"), std::string::npos) << e.what();
        }
        EXPECT_FALSE(std::filesystem::exists(dir / (std::string(name) + "-journal"))) << name;
    }
}

// One code, one recording: against the ledger (a master with its title, given earlier) and
// within the batch, with what --reuse-code lets through.
TEST(LedgerTest, TheRuleRefusesASecondRecordingForACodeAndASecondCodeForARecording) {
    const std::string opening = "FI-ABC-26-00007 was given to 'Opening' (CD1/01 Opening.wav) on ";
    struct Case {
        const char* name;
        std::vector<Planned> batch;
        std::vector<std::string> refused;  // message beginnings in batch order
    } cases[] = {
        {"the master's FLAC elsewhere", {{facts("/shop/01.flac", "dA"), code("FIABC2600007")}}, {}},
        {"another recording",
         {{facts("/CD2/01 Opening.wav", "dB"), code("FIABC2600007")}},
         {opening}},
        {"an MP3 beside another master, unknown",
         {{facts("/CD2/01 Opening.mp3", std::nullopt), code("FIABC2600007")}},
         {opening}},
        {"the MP3 beside the master, by its name",
         {{facts("/CD1/01 Opening.mp3", std::nullopt), code("FIABC2600007")}},
         {}},
        {"the recording, another code",
         {{facts("/shop/01.flac", "dA"), code("FIABC2600008")}},
         {"This recording already has FI-ABC-26-00007, given to 'Opening'"}},
        {"two recordings, one code in one batch",
         {{facts("/x/a.wav", "dX"), code("FIABC2600009"), 0},
          {facts("/y/b.wav", "dY"), code("FIABC2600009"), 1}},
         {"FI-ABC-26-00009 is also given to x/a.wav in this batch, a different recording."}},
        {"one recording, two codes in one batch",
         {{facts("/x/a.wav", "dX"), code("FIABC2600009")},
          {facts("/y/a.flac", "dX"), code("FIABC2600010")}},
         {"y/a.flac is the same recording as x/a.wav, which gets FI-ABC-26-00009"}},
        {"a file written beside a copy that keeps its code",
         {{facts("/y/a.flac", "dX"), code("FIABC2600010")},
          {facts("/x/a.wav", "dX"), code("FIABC2600009"), 0, true}},
         {"y/a.flac is the same recording as x/a.wav, which carries FI-ABC-26-00009"}},
        {"an edit beside the master, named alike",
         {{facts("/CD1/01 Opening.mp3", std::nullopt, 185), code("FIABC2600007")}},
         {opening}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Ledger l(dir / "ledger.sqlite3");
        ASSERT_TRUE(
            give(l, {{facts("/CD1/01 Opening.wav", "dA", 200, "Opening"), code("FIABC2600007")}})
                .empty());
        const auto before = l.entries().size();
        const auto refusals = give(l, c.batch);
        ASSERT_EQ(refusals.size(), c.refused.size());
        for (std::size_t i = 0; i < refusals.size(); ++i) {
            EXPECT_EQ(refusals[i].message.rfind(c.refused[i], 0), 0u) << refusals[i].message;
        }
        std::size_t written = 0;
        for (const Planned& p : c.batch) written += p.kept ? 0 : 1;
        // Refused: nothing is claimed, unless the user gives the code anyway.
        EXPECT_EQ(l.entries().size(), before + (refusals.empty() ? written : 0));
        if (!refusals.empty()) {
            EXPECT_EQ(give(l, c.batch, true).size(), refusals.size());
            EXPECT_EQ(l.entries().size(), before + written);
        }
    }
}

// Each step and the next designation after it: every code ever written, carried or found
// counts; a failed write gives its code back; other registrants and years do not count.
TEST(LedgerTest, TheNextNumberSkipsEveryCodeEverGiven) {
    TempDir dir;
    Ledger l(dir / "ledger.sqlite3");
    EXPECT_EQ(l.nextDesignation("FIABC26"), 1);
    give(l, {{facts("/a.wav", "a"), code("FIABC2600001")},
             {facts("/b.wav", "b"), code("FIABC2600003"), 1}});
    EXPECT_EQ(l.nextDesignation("FIABC26"), 4);
    FileFacts carried = facts("/c.wav", "c");
    carried.carried = "FI-ABC-26-00040";
    give(l, {{carried, code("FIABC2500041")}});
    EXPECT_EQ(l.nextDesignation("FIABC26"), 41);
    EXPECT_EQ(l.nextDesignation("FIABC25"), 42);
    EXPECT_EQ(l.nextDesignation("FIXYZ26"), 1);
    l.record({{0, Action::found, "FIABC2600050", facts("/d.wav", "d"), "", "", "", false}});
    EXPECT_EQ(l.nextDesignation("FIABC26"), 51);
    l.record({{0, Action::removal, std::nullopt, facts("/d.wav", "d"), "", "", "", false}});
    EXPECT_EQ(l.nextDesignation("FIABC26"), 51);
    std::vector<std::int64_t> ids;
    l.check({{facts("/e.wav", "e"), code("FIABC2600051")}}, byDigest, false, true, &ids);
    EXPECT_EQ(l.nextDesignation("FIABC26"), 52);  // claimed while it is written
    l.settle({}, ids);
    EXPECT_EQ(l.nextDesignation("FIABC26"), 51);
    give(l, {{facts("/f.wav", "f"), code("FIABC2699999")}});
    EXPECT_EQ(l.nextDesignation("FIABC26"), std::nullopt);
}

// A view of the ledger reads it a page at a time and finds codes by code, title or file,
// without changing a byte of it.
TEST(LedgerTest, ViewsFindCodesPageByPageAndNeverChangeTheLedger) {
    TempDir dir;
    const auto file = dir / "ledger.sqlite3";
    EXPECT_THROW(Ledger(file, Ledger::Access::readOnly), LedgerError);
    EXPECT_FALSE(fs::exists(file)) << "a look made the ledger";
    {
        Ledger l(file);
        const auto entry = [](Action a, const char* code, FileFacts f, const char* time) {
            return Entry{0,
                         a,
                         code ? std::optional<std::string>(code) : std::nullopt,
                         std::move(f),
                         "u",
                         "h",
                         time,
                         false};
        };
        l.record({entry(Action::write, "FIABC2600001",
                        facts("/CD1/01 Opening.wav", "a", 200, "Opening"), "2026-01-01T00:00:00Z"),
                  entry(Action::write, "FIABC2600001",
                        facts("/shop/01 Opening.flac", "a", 200, "Opening (Remaster)"),
                        "2026-02-01T00:00:00Z"),
                  entry(Action::found, "FIABC2600002", facts("/CD1/02 Dawn_1%.wav", "b", 180, ""),
                        "2026-03-01T00:00:00Z"),
                  entry(Action::removal, nullptr, facts("/CD1/02 Dawn_1%.wav", "b"),
                        "2026-04-01T00:00:00Z"),
                  entry(Action::write, "GBXYZ2500003", facts("/CD2/03 Dusk.mp3", "c", 90, "Dusk"),
                        "2026-05-01T00:00:00Z")});
        std::vector<std::int64_t> ids;  // claimed, never finished: not a code of the ledger yet
        l.check({{facts("/CD2/04 Pending.wav", "d"), code("FIABC2600004")}}, byDigest, false, true,
                &ids);
    }
    const std::string before = e2e::textOf(file);
    std::optional<Ledger> l(std::in_place, file, Ledger::Access::readOnly);
    Ledger& view = *l;
    struct Case {
        const char* search;
        std::vector<std::string> codes;
    } cases[] = {
        {"", {"FIABC2600001", "FIABC2600002", "GBXYZ2500003"}},
        {"fi-abc-26", {"FIABC2600001", "FIABC2600002"}},
        {"gb xyz 25 00003", {"GBXYZ2500003"}},
        {"remaster", {"FIABC2600001"}},  // an earlier title of the code counts too
        {"cd1/", {"FIABC2600001", "FIABC2600002"}},
        {"_1%", {"FIABC2600002"}},  // LIKE's own signs taken as they are
        {"1_", {}},
        {"pending", {}},
        {"\\", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.search);
        EXPECT_EQ(view.countCodes(c.search), c.codes.size());
        // Page by page, two at a time, each page after the last code of the one before.
        std::vector<std::string> found;
        for (std::string after;;) {
            const auto page = view.findCodes(c.search, after, 2);
            for (const auto& s : page) found.push_back(s.code);
            if (page.size() < 2) break;
            after = page.back().code;
        }
        EXPECT_EQ(found, c.codes);
    }
    const auto first = view.findCodes("", "", 1);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].title, "Opening (Remaster)");
    EXPECT_EQ(first[0].files, 2u);
    EXPECT_EQ(first[0].firstWritten, "2026-01-01T00:00:00Z");
    EXPECT_EQ(first[0].lastWritten, "2026-02-01T00:00:00Z");
    EXPECT_THROW(
        view.record({{0, Action::found, "FIABC2600009", facts("/x.wav", "x"), "", "", "", false}}),
        LedgerError);
    EXPECT_EQ(view.entries("FIABC2600002").size(), 1u);
    l.reset();  // what a connection changed reaches the file when the last one closes
    EXPECT_EQ(e2e::textOf(file), before);
}

// Two processes give the same codes to different recordings at the same moment, and codes of
// their own besides: each contested code goes to one of them, and no entry is lost.
TEST(LedgerTest, TwoProcessesAtOnceLoseNoEntryAndShareNoCode) {
    TempDir dir;
    const auto file = dir / "ledger.sqlite3";
    Ledger(file).nextDesignation("FIABC26");  // created before the race
    constexpr int kCodes = 60;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        ASSERT_GE(children[c], 0);
        if (children[c] != 0) continue;
        int won = 0;
        try {
            Ledger l(file);
            for (int i = 0; i < kCodes; ++i) {
                const std::string rec = std::to_string(c) + "-" + std::to_string(i);
                const auto contested = ISRC::fromParts("FI", "ABC", "26", i);
                const auto own = ISRC::fromParts("FI", "ABC", "26", 1000 * (c + 1) + i);
                won += give(l, {{facts("/" + rec + ".wav", rec), *contested}}).empty();
                give(l, {{facts("/" + rec + ".flac", rec + "own"), *own}});
            }
        } catch (...) {
            ::_exit(255);
        }
        ::_exit(won);
    }
    int won = 0;
    for (pid_t child : children) {
        int st = 0;
        ASSERT_EQ(::waitpid(child, &st, 0), child);
        ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) != 255);
        won += WEXITSTATUS(st);
    }
    EXPECT_EQ(won, kCodes);
    Ledger l(file);
    const auto all = l.entries();
    EXPECT_EQ(all.size(), std::size_t(kCodes * 3));
    std::set<std::string> codes;
    for (const Entry& e : all) {
        EXPECT_FALSE(e.pending);
        EXPECT_TRUE(codes.insert(*e.code).second) << *e.code << " given twice";
    }
}

// ---- the command line over real music, with a ledger of the test's own ----------------------

namespace {

const fs::path kMusic = "/usr/share/games/asc/music";

// Two tracks as masters (A in CD1 with its FLAC and MP3 in shop, B in CD2), A's samples under
// another name and as a 16-bit FLAC and AIFF in other, and a third track: made once, copied for
// each test.
class LedgerCommandLine : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!fs::exists(kMusic / "time_to_strike.mp3") ||
            test::runShell("command -v ffmpeg").status != 0) {
            return;
        }
        made_ = new TempDir;
        const auto cut = [](const std::string& track, const std::string& to, const char* opts) {
            return "ffmpeg -nostdin -v error -y -t 20 -i " + (kMusic / track).string() + " " +
                   opts + " " + e2e::quoted((made_->path() / to).string()) + " && ";
        };
        fs::create_directories(made_->path() / "CD1");
        fs::create_directories(made_->path() / "CD2");
        fs::create_directories(made_->path() / "shop");
        fs::create_directories(made_->path() / "seq");
        fs::create_directories(made_->path() / "other");
        const auto r = test::runShell(
            cut("frontiers.mp3", "CD1/01 Opening.wav", "-metadata title=Opening") +
            cut("frontiers.mp3", "shop/01.flac", "") +
            cut("frontiers.mp3", "shop/01.mp3", "-b:a 192k") +
            cut("frontiers.mp3", "other/Take 1.flac", "-sample_fmt s16") +
            cut("frontiers.mp3", "other/Take 2.aiff", "") +
            cut("machine_wars.mp3", "CD2/01 Opening.wav", "") +
            cut("machine_wars.mp3", "seq/1.wav", "") + cut("time_to_strike.mp3", "seq/2.wav", "") +
            "cp " + e2e::quoted((made_->path() / "CD1/01 Opening.wav").string()) + " " +
            e2e::quoted((made_->path() / "shop/A copy.wav").string()));
        if (r.status != 0) ADD_FAILURE() << r.output;
    }
    static void TearDownTestSuite() {
        delete made_;
        made_ = nullptr;
    }
    void SetUp() override {
        if (!made_) GTEST_SKIP() << "needs asc-music and ffmpeg";
        fs::copy(made_->path(), dir_.path(), fs::copy_options::recursive);
    }
    e2e::Outcome run(const std::vector<std::string>& args) {
        return e2e::runPelorix(dir_.path(), args,
                               "PELORIX_LEDGER=" + e2e::quoted((dir_ / "ledger.sqlite3").string()));
    }
    std::optional<std::string> codeOf(const std::string& file) {
        return read::readISRC(dir_ / file);
    }

    static TempDir* made_;
    TempDir dir_;
};
TempDir* LedgerCommandLine::made_ = nullptr;

}  // namespace

// A master, its FLAC and MP3 in another folder share a code; another track is refused it, and a
// copy of the master another code, in every mode, with the verdict in a dry run; --reuse-code
// lets it through.
TEST_F(LedgerCommandLine, ACodeOfAnotherRecordingIsRefusedInEveryMode) {
    auto r =
        run({"--write", "FI-ABC-26-00007", "CD1/01 Opening.wav", "shop/01.flac", "shop/01.mp3"});
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string given = "FI-ABC-26-00007 was given to 'Opening' (CD1/01 Opening.wav) on ";
    const std::string has = "This recording already has FI-ABC-26-00007, given to 'Opening'";
    test::writeFile(dir_ / "other.csv", test::bytesOf("CD2/01 Opening.wav,FIABC2600007\n"));
    const struct {
        std::vector<std::string> args;
        std::string line;  // the first line begins so
    } cases[] = {
        {{"--write", "FIABC2600007", "CD2/01 Opening.wav"}, "CD2/01 Opening.wav: " + given},
        {{"--dry-run", "--write", "FIABC2600007", "CD2/01 Opening.wav"},
         "CD2/01 Opening.wav\tERROR: " + given},
        {{"--write-list", "other.csv"}, "other.csv:1: CD2/01 Opening.wav: " + given},
        {{"--write", "FIABC2600008", "shop/A copy.wav"}, "shop/A copy.wav: " + has},
        {{"--sequence", "FIABC2600001", "shop/A copy.wav"}, "shop/A copy.wav: " + has},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back());
        r = run(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out.rfind(c.line, 0), 0u) << r.out;
        EXPECT_EQ(codeOf("CD2/01 Opening.wav"), std::nullopt);
        EXPECT_EQ(codeOf("shop/A copy.wav"), std::nullopt);
    }
    r = run({"--reuse-code", "--write", "FIABC2600007", "CD2/01 Opening.wav"});
    EXPECT_EQ(r.out, "OK CD2/01 Opening.wav\n");
    // Taken in from the files, the two recordings with one code are a conflict.
    r = run({"--ledger", (dir_ / "fresh.sqlite3").string(), "--ledger-add", "CD1", "CD2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("CD2/01 Opening.wav: conflict: FI-ABC-26-00007 is also given to CD1/01 "
                         "Opening.wav in this batch, a different recording."),
              std::string::npos)
        << r.out;
}

// A WAV or AIFF keeps the XXH3 of its samples, a FLAC the MD5 it stores: the same samples are
// found in either order, whatever each file kept.
TEST_F(LedgerCommandLine, TheSameSamplesAreFoundWhicheverDigestEachKept) {
    const std::pair<const char*, const char*> cases[] = {
        {"CD1/01 Opening.wav", "other/Take 1.flac"},
        {"other/Take 1.flac", "CD1/01 Opening.wav"},
        {"CD1/01 Opening.wav", "other/Take 2.aiff"},
    };
    int n = 0;
    for (const auto& [first, second] : cases) {
        SCOPED_TRACE(std::string(first) + " then " + second);
        const std::string ledger = (dir_ / ("cross" + std::to_string(++n) + ".sqlite3")).string();
        ASSERT_EQ(run({"--ledger", ledger, "--write", "FIABC2600007", first}).status, 0);
        const auto r = run({"--ledger", ledger, "--write", "FIABC2600008", second});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(
            r.out.rfind(std::string(second) + ": This recording already has FI-ABC-26-00007", 0),
            0u)
            << r.out;
        ASSERT_EQ(run({"--ledger", ledger, "--remove", first}).status, 0);
    }
}

// The next number is above every code given; a file that keeps its code uses up none, and its
// recording's other files get that code; the export, written back through the list import, puts
// every code back in its files.
TEST_F(LedgerCommandLine, NumbersNeverRepeatAndTheExportIsAList) {
    ASSERT_EQ(run({"--write", "FI-ABC-26-00007", "CD1/01 Opening.wav", "shop/01.flac"}).status, 0);
    ASSERT_EQ(run({"--write", "GB-XYZ-26-00001", "seq/1.wav"}).status, 0);
    EXPECT_EQ(run({"--next", "fi abc 26"}).out, "FI-ABC-26-00008\n");
    auto r = run({"--sequence", "FI-ABC-26-00007", "seq", "CD2"});
    EXPECT_EQ(r.out,
              "KEPT seq/1.wav: it carries GB-XYZ-26-00001; --replace replaces it\n"
              "OK seq/2.wav: FI-ABC-26-00008\n"
              "OK CD2/01 Opening.wav: GB-XYZ-26-00001\n");
    EXPECT_EQ(run({"--next", "FI-ABC-26"}).out, "FI-ABC-26-00009\n");

    r = run({"--ledger-export"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(e2e::linesOf(r.out).size(), 6u) << r.out;  // a header, five files
    test::writeFile(dir_ / "export.csv", test::bytesOf(r.out));
    ASSERT_EQ(run({"--remove", "CD1", "CD2", "seq", "shop"}).status, 0);
    r = run({"--write-list", "export.csv"});
    EXPECT_EQ(r.status, 0) << r.out;
    for (const auto& [file, code] :
         std::map<std::string, std::string>{{"CD1/01 Opening.wav", "FIABC2600007"},
                                            {"shop/01.flac", "FIABC2600007"},
                                            {"seq/1.wav", "GBXYZ2600001"},
                                            {"seq/2.wav", "FIABC2600008"},
                                            {"CD2/01 Opening.wav", "GBXYZ2600001"}}) {
        EXPECT_EQ(codeOf(file), code) << file;
    }
    EXPECT_EQ(run({"--next", "FI-ABC-26"}).out, "FI-ABC-26-00009\n");
}
