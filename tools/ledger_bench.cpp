// SPDX-License-Identifier: MIT
// What the ledger adds to a batch write (bench/ledger.sh runs it):
//   pelorix_ledger_bench FOLDER SCRATCH [ROUNDS]
// Each round copies FOLDER twice into SCRATCH (outside the timing) and writes one code per
// recording to every file of the copies, in turn: once as the bare batch write, once as the
// command line does with the ledger (open it, gather each file's facts, check the rule and claim
// the codes, write, settle), paired so that both meet the same machine. The recordings are found
// once, by the grouping without fingerprints (their cost is the same-recording rule's, measured by
// bench/recordings.sh). Prints the medians and the ledger's share; with a ledger that is new, and
// with one that already holds ENTRIES (default 100,000) entries of other codes; and what the
// window's Code Ledger view costs over that one (ROUNDS 0: only that).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "core/isrc.h"
#include "core/ledger/export.h"
#include "core/ledger/guard.h"
#include "core/ledger/ledger.h"
#include "core/lists/folder_walk.h"
#include "core/recordings/grouping.h"
#include "core/write/write.h"

namespace fs = std::filesystem;
using namespace pelorix;
using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void fresh(const fs::path& from, const fs::path& to) {
    fs::remove_all(to);
    fs::copy(from, to, fs::copy_options::recursive);
    std::system(("sync -f '" + to.string() + "'").c_str());
}

// The files of `folder` as they are in `copy`.
std::vector<fs::path> under(const std::vector<fs::path>& files, const fs::path& folder,
                            const fs::path& copy) {
    std::vector<fs::path> out;
    for (const fs::path& f : files) out.push_back(copy / fs::relative(f, folder));
    return out;
}

void writeAll(const std::vector<fs::path>& files, const std::vector<ISRC>& codes) {
    std::vector<write::BatchJob> jobs;
    for (std::size_t i = 0; i < files.size(); ++i) jobs.push_back({files[i], codes[i].code()});
    write::writeBatch(jobs, false, [](std::size_t, std::exception_ptr e) {
        if (e) std::rethrow_exception(e);
    });
}

// Seconds spent in the ledger's own steps of the last run: facts, check and claim, settle.
double factsSeconds = 0, checkSeconds = 0, settleSeconds = 0;

// The command line's way: facts, the rule and the claim, the writes, the settlement.
void writeWithLedger(const fs::path& ledgerFile, const std::vector<fs::path>& files,
                     const recordings::Grouping& grouping, const std::vector<ISRC>& codes) {
    auto t = Clock::now();
    ledger::Ledger book(ledgerFile);
    std::vector<ledger::Planned> batch;
    for (std::size_t i = 0; i < files.size(); ++i) {
        recordings::Identity id = grouping.members[i].identity;
        id.path = files[i];
        batch.push_back({ledger::factsOf(id), codes[i], grouping.members[i].recording, false});
    }
    factsSeconds = since(t);
    t = Clock::now();
    std::vector<std::int64_t> claimed;
    if (!ledger::guard(book, batch, false, true, claimed).empty()) {
        std::fprintf(stderr, "the rule refused the batch\n");
        std::exit(1);
    }
    checkSeconds = since(t);
    writeAll(files, codes);
    t = Clock::now();
    book.settle(claimed, {});
    settleSeconds = since(t);
}

// `n` entries of other codes, lengths and digests, as a catalogue leaves them.
void fill(const fs::path& ledgerFile, int n) {
    ledger::Ledger book(ledgerFile);
    std::vector<ledger::Entry> entries;
    for (int i = 0; i < n; ++i) {
        ledger::Entry e;
        e.action = ledger::Action::found;
        e.code =
            ISRC::fromParts("GB", "OLD", std::to_string(10 + i / 99999), 1 + i % 99999)->code();
        e.file.identity.path =
            "/catalogue/" + std::to_string(i / 100) + "/" + std::to_string(i) + ".wav";
        e.file.identity.pcmDigest = std::to_string(1000000 + i);
        e.file.identity.seconds = 60 + (i * 7919 % 54000) / 100.0;
        e.file.format = "WAV";
        e.file.description.title = "Take " + std::to_string(i);
        entries.push_back(std::move(e));
    }
    book.record(entries);
}

// What the window's Code Ledger view asks of a large ledger, medians of 5: opening it
// read-only with the count and the first page; a page half way down; a search by title with
// its count and first page; the whole export.
void viewTimes(const fs::path& ledgerFile, int entries) {
    std::vector<double> open, far, search, exported;
    for (int r = 0; r < 5; ++r) {
        auto t = Clock::now();
        ledger::Ledger view(ledgerFile, ledger::Ledger::Access::readOnly);
        const std::size_t total = view.countCodes("");
        const auto first = view.findCodes("", "", 200);
        open.push_back(since(t));
        t = Clock::now();
        const auto middle = view.findCodes("", "GBOLD1050000", 200);
        far.push_back(since(t));
        t = Clock::now();
        const std::size_t found = view.countCodes("take 7777");
        const auto hits = view.findCodes("take 7777", "", 200);
        search.push_back(since(t));
        t = Clock::now();
        std::ostringstream out;
        ledger::exportCodes(view.codes(), ledger::ExportFormat::csv, out);
        exported.push_back(since(t));
        if (total == 0 || first.empty() || middle.empty() || found != hits.size()) {
            std::fprintf(stderr, "the view found nothing in the ledger\n");
            std::exit(1);
        }
    }
    std::printf(
        "Code Ledger view over %d entries (medians of 5): open + count + first page "
        "%.3f s, a page half way down %.3f s, a search by title %.3f s, export %.3f s\n",
        entries, median(open), median(far), median(search), median(exported));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FOLDER SCRATCH [ROUNDS]\n", argv[0]);
        return 2;
    }
    const fs::path folder = fs::absolute(argv[1]), scratch = fs::absolute(argv[2]);
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
    const int catalogue = std::getenv("ENTRIES") ? std::atoi(std::getenv("ENTRIES")) : 100000;
    const std::vector<fs::path> files = lists::audioFilesIn(folder).files;
    auto t = Clock::now();
    const recordings::Grouping grouping = recordings::group(files, false);
    const double groupSeconds = since(t);
    std::vector<ISRC> codes;
    for (const auto& m : grouping.members) {
        codes.push_back(*ISRC::fromParts("FI", "BEN", "26", int(m.recording) + 1));
    }
    fs::create_directories(scratch);
    const fs::path big = scratch / "catalogue.sqlite3";
    fs::remove(big);
    fill(big, catalogue);
    viewTimes(big, catalogue);
    if (rounds <= 0) return 0;

    std::vector<double> bare, fresh1, full, facts, check, settle, checkFull;
    for (int r = 0; r < rounds; ++r) {
        const fs::path a = scratch / "a", b = scratch / "b", c = scratch / "c";
        fresh(folder, a);
        fresh(folder, b);
        fresh(folder, c);
        t = Clock::now();
        writeAll(under(files, folder, a), codes);
        bare.push_back(since(t));
        const fs::path newLedger = scratch / "new.sqlite3";
        for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(newLedger.string() + suffix);
        t = Clock::now();
        writeWithLedger(newLedger, under(files, folder, b), grouping, codes);
        fresh1.push_back(since(t));
        facts.push_back(factsSeconds);
        check.push_back(checkSeconds);
        settle.push_back(settleSeconds);
        const fs::path full1 = scratch / "full.sqlite3";
        for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(full1.string() + suffix);
        fs::copy_file(big, full1);
        t = Clock::now();
        writeWithLedger(full1, under(files, folder, c), grouping, codes);
        full.push_back(since(t));
        checkFull.push_back(checkSeconds);
    }
    const double w = median(bare), n = median(fresh1), f = median(full);
    std::printf("files %zu, recordings %zu, grouping without fingerprints %.3f s\n", files.size(),
                grouping.recordings, groupSeconds);
    std::printf("| batch of %zu files | median of %d | × bare write | ledger's share |\n",
                files.size(), rounds);
    std::printf("|---|---|---|---|\n");
    std::printf("| bare batch write | %.3f s | 1.00 | — |\n", w);
    std::printf("| with a new ledger | %.3f s | %.2f | %+.1f %% |\n", n, n / w, 100 * (n - w) / w);
    std::printf("| with a ledger of %d entries | %.3f s | %.2f | %+.1f %% |\n", catalogue, f, f / w,
                100 * (f - w) / w);
    std::printf(
        "\nthe ledger's steps (medians): opening and the files' facts %.3f s, check and "
        "claim %.3f s (%.3f s with %d entries), settling %.3f s\n",
        median(facts), median(check), median(checkFull), catalogue, median(settle));
    return 0;
}
