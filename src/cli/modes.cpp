// SPDX-License-Identifier: MIT
#include "cli/modes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <system_error>

#include "cli/dry_run.h"
#include "cli/in_order.h"
#include "cli/report.h"
#include "core/formats/format.h"
#include "core/io/sys.h"
#include "core/io/text.h"
#include "core/isrc.h"
#include "core/ledger/guard.h"
#include "core/ledger/ledger.h"
#include "core/lists/code_list.h"
#include "core/lists/folder_walk.h"
#include "core/lists/match.h"
#include "core/read/read.h"
#include "core/recordings/about.h"
#include "core/recordings/grouping.h"
#include "core/recordings/recording.h"
#include "core/write/write.h"

namespace pelorix::cli {

namespace fs = std::filesystem;

namespace {

// One file to act on: the path as printed and as opened, and the code it is to carry (none:
// no code). `error` set: the file could not even be found, say why and go on. `refused`: the
// rule refuses its code (shown by a dry run). `keep`: it keeps the code it carries.
struct Job {
    std::string shown;
    fs::path path;
    std::optional<ISRC> code;
    std::string error;
    std::string refused = {};
    bool keep = false;
    std::size_t line = 0;  // of the list that names it
};

// The audio files of a folder, the folders within it that could not be read, and a remark for
// each backup copy left out.
lists::FolderWalk walkFolder(const std::string& folder, Report& report) {
    lists::FolderWalk walk = lists::audioFilesIn(folder);
    for (const fs::path& b : walk.backups) {
        report.remark("left out " + b.string() + ", a backup copy of " +
                      lists::originalOf(b.filename().string()));
    }
    return walk;
}

void addFolder(const std::string& folder, std::vector<Job>& jobs, Report& report) {
    const lists::FolderWalk walk = walkFolder(folder, report);
    for (std::size_t i = 0; i < walk.unread.size(); ++i) {
        jobs.push_back({walk.unread[i].string(), walk.unread[i], std::nullopt,
                        "Cannot open the folder: " + walk.reasons[i]});
    }
    for (const fs::path& file : walk.files) jobs.push_back({file.string(), file, {}, ""});
}

// The operands in order, folders replaced by their audio files when `folders` is set.
std::vector<Job> expand(const std::vector<std::string>& operands, bool folders, Report& report) {
    std::vector<Job> jobs;
    for (const std::string& op : operands) {
        std::error_code ec;
        if (folders && fs::is_directory(op, ec)) {
            addFolder(op, jobs, report);
        } else {
            jobs.push_back({op, op, std::nullopt, ""});
        }
    }
    return jobs;
}

// The 12 characters of a stored text that is a code, else none.
std::optional<std::string> codeOf(const std::optional<std::string>& stored) {
    const auto code = stored ? ISRC::parse(*stored) : std::nullopt;
    return code ? std::optional(code->code()) : std::nullopt;
}

// True for a stored text that is not empty and is not `code`.
bool carriesOther(const std::optional<std::string>& stored, const ISRC& code) {
    if (!stored || text::trimWhitespaceAndNewlines(*stored).empty()) return false;
    return codeOf(stored) != code.code();
}

// True when every place the file counts holds `code`: a write would change no byte.
bool carriesOnly(const fs::path& path, const ISRC& code) {
    try {
        for (const formats::Carrier& c : read::carriers(path)) {
            if (!c.reportOnly && codeOf(c.text) != code.code()) return false;
        }
        return true;
    } catch (const std::exception&) {
        return false;  // the write meets the same trouble and says so
    }
}

// Writes (or rehearses) every job, printing each file's line in order once its result is known
// (a write's: once it is on the disk). `guarded` (lists and sequences): a file that carries a
// different code is left alone unless --replace was given, also when that code was written
// after the first look (checked under the write's own lock); one that already carries its code
// is not touched at all. `written`: which jobs changed their file.
// `claimStored`: waits until the ledger holds the claim of the codes, or throws; no file is
// replaced before it returns.
int runJobs(const std::vector<Job>& jobs, const Arguments& args, Report& report, bool guarded,
            std::vector<bool>* written = nullptr, const std::function<void()>& claimStored = {}) {
    if (written) written->assign(jobs.size(), false);
    int status = 0;
    std::vector<Outcome> outcomes(jobs.size());
    std::vector<write::BatchJob> writes;
    std::vector<std::size_t> writeOf;  // the job of each write
    bool writing = false;              // the batch has begun
    std::vector<bool> known(jobs.size(), false);
    std::size_t printed = 0;
    bool closed = false;  // the output took no more lines: the rest is told on standard error
    const auto finish = [&](std::size_t i) {
        Outcome& o = outcomes[i];
        if (o.result == Outcome::Result::kept) {
            o.message = "The file carries a different code; --replace replaces it.";
        }
        if (o.result == Outcome::Result::failed || o.result == Outcome::Result::kept) status = 1;
        known[i] = true;
        while (!closed && printed < jobs.size() && known[printed]) {
            try {
                report.file(outcomes[printed]);
                ++printed;
            } catch (const OutputClosed&) {
                closed = true;
                if (!writing) throw;  // still deciding: nothing was changed
            }
        }
    };
    try {
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            const Job& job = jobs[i];
            Outcome& o = outcomes[i];
            o.path = job.shown;
            if (job.code) o.code = job.code->code();
            if (!job.error.empty()) {
                o.message = job.error;
                finish(i);
                continue;
            }
            const std::optional<std::string> isrc = o.code;
            bool looked = false;
            auto kept = [&] {
                return job.keep ||
                       (guarded && !args.replace && carriesOther(o.previous, *job.code));
            };
            auto unchanged = [&] {
                return guarded && codeOf(o.previous) == o.code && carriesOnly(job.path, *job.code);
            };
            if (args.dryRun) {
                const Rehearsal r = rehearseWrite(job.path, isrc, args.axml);
                o.format = r.format;
                o.previous = r.stored;
                o.message = r.error.empty() ? job.refused : r.error;
                o.result = !o.message.empty() ? Outcome::Result::failed
                           : kept()           ? Outcome::Result::kept
                           : unchanged()      ? Outcome::Result::unchanged
                                              : Outcome::Result::planned;
                finish(i);
                continue;
            }
            if (args.json || guarded) {
                try {
                    o.format = std::string(formats::AudioFormat::detect(job.path).label());
                    o.previous = read::readISRC(job.path);
                    looked = true;
                } catch (const std::exception&) {
                    // The write meets the same trouble and reports it.
                }
            }
            if (kept() || unchanged()) {
                o.result = kept() ? Outcome::Result::kept : Outcome::Result::unchanged;
                finish(i);
                continue;
            }
            writes.push_back({job.path, isrc, args.axml});
            if (guarded && looked) writes.back().expected = codeOf(o.previous);
            writeOf.push_back(i);
        }
        writing = true;
        std::string unclaimed;  // why the ledger could not store the claim
        write::writeBatch(
            writes, false,
            [&](std::size_t w, std::exception_ptr error, write::Outcome outcome) {
                Outcome& o = outcomes[writeOf[w]];
                try {
                    if (error) std::rethrow_exception(error);
                    o.result = outcome == write::Outcome::written     ? Outcome::Result::done
                               : outcome == write::Outcome::unchanged ? Outcome::Result::unchanged
                                                                      : Outcome::Result::failed;
                    if (written && outcome != write::Outcome::notWritten) {
                        (*written)[writeOf[w]] = true;
                    }
                    if (outcome == write::Outcome::notWritten) {
                        o.message = "Not written: " +
                                    (unclaimed.empty() ? "the output was closed." : unclaimed);
                    }
                } catch (const write::CodeChanged& e) {
                    o.previous = e.found();
                    o.result = Outcome::Result::kept;
                } catch (const std::exception& e) {
                    o.message = e.what();
                }
                finish(writeOf[w]);
            },
            // A file is replaced only while its line can still be printed, and once the ledger
            // holds the claim of its code.
            [&] {
                if (!unclaimed.empty()) return false;
                try {
                    if (claimStored) claimStored();
                } catch (const std::exception& e) {
                    unclaimed = e.what();
                    return false;
                }
                return !closed && report.open();
            });
        if (!closed) report.flush();
        // Nothing was replaced: the claim is waited for before the first replace.
        if (!unclaimed.empty()) status = 2;
    } catch (const OutputClosed&) {
        closed = true;
    }
    if (!closed) return status;
    report.remark("the output was closed after " + std::to_string(printed) + " of " +
                  std::to_string(jobs.size()) + " lines; the run stopped before the next change");
    // Files replaced while the output was still open whose lines it no longer took.
    for (std::size_t i = printed; i < jobs.size(); ++i) {
        if (known[i] && outcomes[i].result == Outcome::Result::done) {
            report.remark(outcomes[i].path + " was changed; its line could not be printed");
        }
    }
    return 1;
}

Report::Style styleFor(const Arguments& args, Report::Style plain) {
    return args.dryRun ? Report::Style::dryRun : plain;
}

// Prints every refusal and the closing line; the exit status of a refused run.
int refuse(Report& report, const std::vector<Refusal>& found) {
    try {
        for (const Refusal& r : found) report.refusal(r);
        report.nothingChanged(found.size());
        report.flush();
    } catch (const OutputClosed&) {
        // Nothing was changed; the status says the run was refused.
    }
    return 2;
}

// A list's bytes, and the folder its relative paths start at: the list's own for a list file,
// the current one for a list from a pipe, a terminal or a descriptor ("-" is standard input,
// /dev/stdin, /dev/fd/N).
struct ListText {
    std::string bytes;
    fs::path base;
    std::string error;
};

ListText readList(const std::string& name) {
    ListText list;
    sys::Fd opened;
    int fd = 0;
    if (name != "-") {
        opened = sys::Fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
        if (!opened) {
            list.error = "Cannot open the list: " + std::generic_category().message(errno);
            return list;
        }
        fd = opened.get();
    }
    struct stat st {};
    const bool descriptor = name.starts_with("/dev/") || name.starts_with("/proc/");
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && !descriptor) {
        list.base = fs::path(name).parent_path();
    }
    if (S_ISDIR(st.st_mode)) {
        list.error = "This is a folder, not a list.";
        return list;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            list.error = "Cannot read the list: " + std::generic_category().message(errno);
            return list;
        }
        if (n == 0) return list;
        if (list.bytes.size() + std::size_t(n) > lists::kMaxListBytes) {
            list.error = "The list is larger than " + std::to_string(lists::kMaxListBytes >> 20) +
                         " MiB; split it into smaller lists.";
            list.bytes.clear();
            return list;
        }
        list.bytes.append(buffer, std::size_t(n));
    }
}

// Why a path from a list or a sequence cannot be written, or "" when it names a file.
std::string missing(const fs::path& path) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (!fs::exists(st)) {
        return ec && ec != std::errc::no_such_file_or_directory
                   ? "Cannot reach the file: " + ec.message()
                   : "No such file.";
    }
    if (fs::is_directory(st)) return "This is a folder; name its files.";
    return "";
}

// How the lines find their files: as --match says, else as the columns suggest.
std::optional<lists::MatchBy> matchBy(const std::string& given, const lists::ColumnChoice& c) {
    using enum lists::MatchBy;
    if (given.empty()) return lists::defaultMatch(c);
    return given == "title" ? title : given == "track" ? track : given == "name" ? name : path;
}

// What the file says about itself; nothing when that cannot be read (the code could be).
recordings::About aboutOf(const fs::path& path) {
    try {
        return recordings::about(path);
    } catch (const std::exception&) {
        return {};
    }
}

// The facts of each job's file for the ledger, by the grouping's identities; none for a file
// that cannot be read (its write meets the same trouble and reports it).
std::vector<std::optional<ledger::FileFacts>> factsOf(const std::vector<Job>& jobs,
                                                      const recordings::Grouping& grouping) {
    std::vector<std::optional<ledger::FileFacts>> facts(jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (!jobs[i].error.empty() || !grouping.members[i].error.empty()) continue;
        try {
            facts[i] = ledger::factsOf(grouping.members[i].identity);
        } catch (const std::exception&) {
        }
    }
    return facts;
}

// The recordings of the jobs' files, each taken by its real path: "d/../b.wav" through a link
// is the b.wav the link's target folder sits beside, not the one beside d.
recordings::Grouping groupingOf(const std::vector<Job>& jobs) {
    std::vector<fs::path> paths;
    paths.reserve(jobs.size());
    for (const Job& job : jobs) {
        std::error_code ec;
        const fs::path real = fs::canonical(job.path, ec);
        paths.push_back(ec ? job.path : real);
    }
    return recordings::group(paths, true);
}

// The batch the rule checks: every job whose file could be read, a kept one with the code it
// carries. `jobOf`: the job of each.
struct Plan {
    std::vector<ledger::Planned> batch;
    std::vector<std::size_t> jobOf;
};

Plan planOf(const std::vector<Job>& jobs, const Arguments& args, bool guarded,
            const recordings::Grouping& grouping,
            const std::vector<std::optional<ledger::FileFacts>>& facts) {
    Plan plan;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (!facts[i] || !jobs[i].code) continue;
        const ledger::FileFacts& f = *facts[i];
        const std::size_t recording = grouping.members[i].recording;
        if (jobs[i].keep || (guarded && !args.replace && carriesOther(f.carried, *jobs[i].code))) {
            if (const auto carried = f.carried ? ISRC::parse(*f.carried) : std::nullopt) {
                plan.batch.push_back({f, *carried, recording, true, jobs[i].shown});
                plan.jobOf.push_back(i);
            }
            continue;
        }
        plan.batch.push_back({f, *jobs[i].code, recording, false, jobs[i].shown});
        plan.jobOf.push_back(i);
    }
    return plan;
}

// The rule's refusal of a job as the report prints it: with the list's line for a list.
Refusal refusalOf(const Job& job, const std::string& list, const std::string& message) {
    if (list.empty()) return {.path = job.shown, .message = message};
    return {.list = list, .line = job.line, .path = job.shown, .message = message};
}

// Writes the jobs' codes under the rule of one code, one recording: the batch is checked
// against the ledger and within itself, and its codes are claimed, before any file is
// touched; the ledger learns what was written once the writes are done. `grouping` and
// `facts`: one per job.
int writeCodes(std::vector<Job>& jobs, const Arguments& args, Report& report, bool guarded,
               ledger::Ledger& book, const recordings::Grouping& grouping,
               const std::vector<std::optional<ledger::FileFacts>>& facts,
               const std::string& list = "") {
    Plan plan = planOf(jobs, args, guarded, grouping, facts);
    std::vector<std::int64_t> claimed;
    std::vector<ledger::Refusal> refusals;
    // The claim is stored while the files are written; none is replaced before it is.
    book.storeClaimsMeanwhile();
    try {
        refusals = ledger::guard(book, plan.batch, args.reuseCode, !args.dryRun, claimed);
    } catch (const std::exception& e) {
        return refuse(report, {{.path = book.path().string(), .message = e.what()}});
    }
    if (!refusals.empty() && !args.reuseCode) {
        if (args.dryRun) {
            for (const auto& r : refusals) jobs[plan.jobOf[r.index]].refused = r.message;
            runJobs(jobs, args, report, guarded);
            return 2;
        }
        std::vector<Refusal> found;
        for (const auto& r : refusals)
            found.push_back(refusalOf(jobs[plan.jobOf[r.index]], list, r.message));
        return refuse(report, found);
    }
    std::vector<bool> written;
    int status = runJobs(jobs, args, report, guarded, &written, [&] { book.claimStored(); });
    if (args.dryRun) return status;
    try {
        book.claimStored();
    } catch (const std::exception& e) {
        // No file was replaced, and the ledger kept nothing of the claim.
        report.remark(std::string("the ledger could not store the codes: ") + e.what());
        return std::max(status, 1);
    }
    std::vector<std::int64_t> done, failed;
    for (std::size_t k = 0; k < plan.batch.size(); ++k) {
        if (claimed[k] != 0) (written[plan.jobOf[k]] ? done : failed).push_back(claimed[k]);
    }
    try {
        book.settle(done, failed);
    } catch (const std::exception& e) {
        report.remark(std::string("the files are written, but the ledger was not told: ") +
                      e.what());
        status = 1;
    }
    return status;
}

// The ledger the arguments name; its trouble is a refusal of the whole run.
std::optional<ledger::Ledger> openLedger(const Arguments& args, Report& report, int& status) {
    const fs::path where =
        ledger::locate(args.ledger.empty() ? std::nullopt : std::optional<fs::path>(args.ledger));
    try {
        return std::optional<ledger::Ledger>(std::in_place, where);
    } catch (const std::exception& e) {
        status = refuse(report, {{.path = where.string(), .message = e.what()}});
        return std::nullopt;
    }
}

}  // namespace

int readMode(const Arguments& args, std::ostream& out, std::ostream& err) {
    Report report(out, err, args.json, Report::Style::read);
    int status = 0;
    const auto read = [&](const Job& job) {
        Outcome o;
        o.path = job.shown;
        o.message = job.error;
        if (o.message.empty()) {
            try {
                read::Reading got = read::read(job.path);
                if (args.json) {
                    o.format = std::string(got.format.label());
                    o.about = aboutOf(job.path);
                }
                o.previous = std::move(got.code);
                o.result = Outcome::Result::read;
            } catch (const std::exception& e) {
                o.message = e.what();
            }
        }
        return o;
    };
    const auto show = [&](const Outcome& o) {
        if (o.result == Outcome::Result::failed) status = 1;
        report.file(o);
    };
    // Most operands are files: each is read without a look at the path first, and only one
    // that cannot be read is checked for a folder, whose files are then read in its place.
    struct Read {
        Outcome outcome;
        bool folder = false;
    };
    try {
        inOrder(
            args.paths.size(), readerThreads(),
            [&](std::size_t i) {
                const std::string& op = args.paths[i];
                Read r{read({op, op, std::nullopt, ""})};
                std::error_code ec;
                r.folder = r.outcome.result == Outcome::Result::failed && fs::is_directory(op, ec);
                return r;
            },
            [&](std::size_t i, const Read& r) {
                if (!r.folder) return show(r.outcome);
                std::vector<Job> inFolder;
                addFolder(args.paths[i], inFolder, report);
                inOrder(
                    inFolder.size(), readerThreads(),
                    [&](std::size_t k) { return read(inFolder[k]); },
                    [&](std::size_t, const Outcome& o) { show(o); });
            });
        report.flush();
    } catch (const OutputClosed&) {
        report.remark("the output was closed; reading stopped");
        return 1;
    }
    return status;
}

int writeMode(const Arguments& args, std::ostream& out, std::ostream& err) {
    Report report(out, err, args.json, styleFor(args, Report::Style::write));
    const auto code = ISRC::parse(args.first);
    if (!code) {
        report.invalidCode(args.first);
        return 2;
    }
    // One code for a whole folder is almost never meant: folders are not expanded here.
    std::vector<Job> jobs = expand(args.paths, false, report);
    for (Job& job : jobs) job.code = code;
    int status = 0;
    auto book = openLedger(args, report, status);
    if (!book) return status;
    const recordings::Grouping grouping = groupingOf(jobs);
    status = writeCodes(jobs, args, report, false, *book, grouping, factsOf(jobs, grouping));
    if (jobs.size() > 1 && status != 2) report.summary();  // one file's line says it all
    return status;
}

int removeMode(const Arguments& args, std::ostream& out, std::ostream& err) {
    Report report(out, err, args.json, styleFor(args, Report::Style::write));
    const std::vector<Job> jobs = expand(args.paths, true, report);
    if (args.dryRun) return runJobs(jobs, args, report, false);
    int status = 0;
    auto book = openLedger(args, report, status);
    if (!book) return status;
    // What each file was, for the ledger's record of the removal. A file without a code gets no
    // entry, so its samples are not read for one (a folder of untagged masters stays unread).
    std::vector<std::optional<ledger::FileFacts>> facts(jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (!jobs[i].error.empty()) continue;
        try {
            if (!read::readISRC(jobs[i].path)) continue;
            facts[i] = ledger::factsOf(recordings::identify(jobs[i].path, false));
        } catch (const std::exception&) {
        }
    }
    std::vector<bool> written;
    status = runJobs(jobs, args, report, false, &written);
    std::vector<ledger::Entry> removals;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (!written[i] || !facts[i] || !facts[i]->carried) continue;
        ledger::Entry e;
        e.action = ledger::Action::removal;
        e.file = std::move(*facts[i]);
        removals.push_back(std::move(e));
    }
    if (jobs.size() > 1) report.summary(true);
    try {
        book->record(removals);
    } catch (const std::exception& e) {
        report.remark(std::string("the codes are removed, but the ledger was not told: ") +
                      e.what());
        status = 1;
    }
    return status;
}

int writeListMode(const Arguments& args, std::ostream& out, std::ostream& err) {
    Report report(out, err, args.json, styleFor(args, Report::Style::writeCode));
    const std::string& listName = args.first;
    const ListText text = readList(listName);
    if (!text.error.empty()) return refuse(report, {{.list = listName, .message = text.error}});
    int status = 0;
    auto book = openLedger(args, report, status);
    if (!book) return status;

    std::vector<Refusal> found;
    const auto refusal = [&](std::size_t line, std::string message) {
        found.push_back({.list = listName, .line = line, .message = std::move(message)});
    };
    const lists::Sheet sheet = lists::readSheet(text.bytes);
    for (const auto& p : sheet.problems) refusal(p.line, p.message);
    const lists::ColumnChoice columns = lists::guessColumns(sheet);
    const auto by = matchBy(args.match, columns);
    const auto finder = by ? lists::finderColumn(columns, *by) : std::nullopt;
    const std::size_t sheetProblems = found.size();
    if (!finder) {
        refusal(sheet.headerLine, args.match.empty()
                                      ? "The header names no column that finds the files (path, "
                                        "file name, title or track)."
                                      : "The list has no column for --match " + args.match + ".");
    } else if (!columns.code) {
        refusal(sheet.headerLine, "No column holds codes.");
    } else if (*by == lists::MatchBy::path && !args.paths.empty()) {
        refusal(0, "The list names paths; folders go with --match name, title or track.");
    }
    std::vector<lists::Assignment> assignments;
    std::map<std::size_t, std::string> several;  // lines that found several files
    const auto assign = [&](std::size_t line, const fs::path& file, const std::string& code) {
        const auto isrc = ISRC::parse(code);
        if (!isrc) refusal(line, "\"" + code + "\" is not a valid ISRC.");
        if (const std::string why = missing(file); !why.empty()) {
            found.push_back(
                {.list = listName, .line = line, .path = file.string(), .message = why});
        } else if (isrc) {
            assignments.push_back({line, file, *isrc});
        }
    };
    const bool usable = found.size() == sheetProblems;
    if (usable && *by == lists::MatchBy::path) {
        for (const lists::SheetRow& row : sheet.rows) {
            const auto cell = [&](std::size_t i) {
                return i < row.cells.size() ? row.cells[i] : std::string();
            };
            const std::string target = cell(*finder), code = cell(*columns.code);
            if (found.size() >= lists::kMaxListProblems) break;
            if (target.empty()) {
                refusal(row.line, "This line names no file.");
            } else if (code.empty()) {
                refusal(row.line, "This line has no code.");
            } else {
                assign(row.line,
                       fs::path(target).is_absolute() ? fs::path(target) : text.base / target,
                       code);
            }
        }
    } else if (usable) {
        // The files the lines may find: the folders given, else the list's own.
        std::vector<lists::Candidate> candidates;
        const std::vector<std::string> folders =
            args.paths.empty()
                ? std::vector{text.base.empty() ? std::string(".") : text.base.string()}
                : args.paths;
        for (const std::string& folder : folders) {
            for (const fs::path& f : walkFolder(folder, report).files) {
                // What the file says about itself first; its name where it says nothing.
                const recordings::About about = aboutOf(f);
                const auto number = [](std::optional<unsigned> n) {
                    return n ? std::optional<int>(int(*n)) : std::nullopt;
                };
                candidates.push_back({f, about.title, number(about.track), number(about.disc)});
            }
        }
        for (const lists::LineMatch& m : lists::match(sheet, columns, *by, candidates)) {
            if (found.size() >= lists::kMaxListProblems) break;
            if (!m.problem.empty()) refusal(m.line, m.problem);
            if (!m.several.empty()) several[m.line] = m.several;
            for (std::size_t f : m.files) assign(m.line, candidates[f].path, m.code);
        }
    }
    // One file, one code here; one code, one recording is the ledger's rule, by the files' sound.
    std::map<lists::FileId, const lists::Assignment*> byFile;
    for (const lists::Assignment& a : assignments) {
        const auto id = lists::fileIdOf(a.file);
        if (!id) continue;
        auto [it, fresh] = byFile.try_emplace(*id, &a);
        const lists::Assignment& earlier = *it->second;
        if (fresh || earlier.code == a.code) continue;
        const std::string also =
            earlier.file == a.file ? "" : " (" + earlier.file.string() + ", the same file)";
        found.push_back({.list = listName,
                         .line = a.line,
                         .message = a.file.string() + " is given " + a.code.formatted() +
                                    " here and " + earlier.code.formatted() + " on line " +
                                    std::to_string(earlier.line) + also + "."});
    }
    if (sheet.rows.empty() && found.empty()) {
        found.push_back({.list = listName, .message = "The list names no file and code."});
    }
    // A file named twice with the same code is written once, under the first name.
    std::map<lists::FileId, std::size_t> lineOf;
    std::vector<Job> jobs;
    for (const lists::Assignment& a : assignments) {
        const auto id = lists::fileIdOf(a.file);
        if (!id) continue;
        const auto [it, fresh] = lineOf.try_emplace(*id, a.line);
        if (!fresh) {
            if (found.empty()) {
                report.remark(listName + ":" + std::to_string(a.line) + ": " + a.file.string() +
                              " is the file of line " + std::to_string(it->second) +
                              "; it is written once");
            }
            continue;
        }
        jobs.push_back({a.file.string(), a.file, a.code, ""});
        jobs.back().line = a.line;
    }
    const recordings::Grouping grouping = groupingOf(jobs);
    // A line reaches every copy of its recording, and no other recording.
    std::set<std::size_t> mixed;
    for (const auto& [line, message] : several) {
        std::set<std::size_t> reached;
        for (std::size_t j = 0; j < jobs.size(); ++j) {
            if (jobs[j].line == line) reached.insert(grouping.members[j].recording);
        }
        if (reached.size() > 1) {
            refusal(line, message);
            mixed.insert(line);
        }
    }
    const auto facts = factsOf(jobs, grouping);
    if (!found.empty() && found.size() < lists::kMaxListProblems) {
        // Everything is reported at once: the rule's verdicts too.
        Plan plan = planOf(jobs, args, true, grouping, facts);
        std::vector<std::int64_t> none;
        try {
            const auto refusals = ledger::guard(*book, plan.batch, args.reuseCode, false, none);
            for (const auto& r : refusals) {
                if (args.reuseCode) break;
                if (mixed.count(jobs[plan.jobOf[r.index]].line)) continue;  // said already
                found.push_back(refusalOf(jobs[plan.jobOf[r.index]], listName, r.message));
            }
        } catch (const std::exception& e) {
            found.push_back({.path = book->path().string(), .message = e.what()});
        }
    }
    if (!found.empty()) {
        std::stable_sort(found.begin(), found.end(),
                         [](const Refusal& a, const Refusal& b) { return a.line < b.line; });
        if (found.size() > lists::kMaxListProblems + 1) {
            found.resize(lists::kMaxListProblems);
            found.push_back({.list = listName, .message = "Too many problems; checking stopped."});
        }
        return refuse(report, found);
    }

    status = writeCodes(jobs, args, report, true, *book, grouping, facts, listName);
    if (status != 2) report.summary();
    return status;
}

int sequenceMode(const Arguments& args, std::ostream& out, std::ostream& err) {
    Report report(out, err, args.json, styleFor(args, Report::Style::writeCode));
    const auto first = ISRC::parse(args.first);
    if (!first) {
        report.invalidCode(args.first);
        return 2;
    }
    std::vector<Refusal> found;
    std::vector<Job> jobs;
    std::map<lists::FileId, std::string> seen;
    for (const std::string& op : args.paths) {
        std::error_code ec;
        std::vector<fs::path> files;
        if (fs::is_directory(op, ec)) {
            const lists::FolderWalk walk = walkFolder(op, report);
            for (std::size_t i = 0; i < walk.unread.size(); ++i) {
                found.push_back({.path = walk.unread[i].string(),
                                 .message = "Cannot open the folder: " + walk.reasons[i]});
            }
            files = walk.files;
        } else if (const std::string why = missing(op); !why.empty()) {
            found.push_back({.path = op, .message = why});
        } else {
            files.push_back(op);
        }
        for (const fs::path& f : files) {
            const auto id = lists::fileIdOf(f);
            if (!id) {
                found.push_back({.path = f.string(), .message = missing(f)});
                continue;
            }
            if (const auto [it, fresh] = seen.try_emplace(*id, f.string()); !fresh) {
                report.remark(f.string() + " is " + it->second + "; it is numbered once");
                continue;
            }
            jobs.push_back({f.string(), f, {}, ""});
        }
    }
    if (!found.empty()) return refuse(report, found);
    if (jobs.empty()) return refuse(report, {{.message = "No audio file to number."}});
    int status = 0;
    auto book = openLedger(args, report, status);
    if (!book) return status;

    // One code per recording, wherever its files sit and whatever their format. A recording
    // one of whose files keeps the code it carries has that code, and uses up no number.
    const recordings::Grouping grouping = groupingOf(jobs);
    const auto facts = factsOf(jobs, grouping);
    std::vector<std::optional<ISRC>> byRecording(grouping.recordings);
    // The numbers skip every code ever given for this country, registrant and year (in the
    // ledger, and in the files of the batch) but the one a file of the recording carries.
    const std::string prefix = first->code().substr(0, 7);
    std::set<int> given;
    std::map<int, std::set<std::size_t>> carriedBy;  // designation → recordings
    try {
        for (int d : book->designations(prefix)) given.insert(d);
    } catch (const std::exception& e) {
        return refuse(report, {{.path = book->path().string(), .message = e.what()}});
    }
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (!grouping.members[i].error.empty()) jobs[i].error = grouping.members[i].error;
        const auto carried = facts[i] && facts[i]->carried
                                 ? std::optional<std::string>(*facts[i]->carried)
                                 : std::nullopt;
        if (!carried || text::trimWhitespaceAndNewlines(*carried).empty()) continue;
        const auto code = ISRC::parse(*carried);
        if (code && code->code().starts_with(prefix)) {
            given.insert(code->designation());
            carriedBy[code->designation()].insert(grouping.members[i].recording);
        }
        if (args.replace) continue;
        jobs[i].keep = true;
        jobs[i].code = code;
        auto& recording = byRecording[grouping.members[i].recording];
        if (code && !recording) recording = code;
    }
    int next = first->designation();
    for (Job& job : jobs) {
        if (!job.error.empty() || job.keep) continue;
        const std::size_t r = grouping.members[&job - jobs.data()].recording;
        auto& recording = byRecording[r];
        if (!recording) {
            while (given.contains(next) && !carriedBy[next].contains(r)) ++next;
            recording = first->advanced(next - first->designation());
            ++next;
            if (!recording) {
                return refuse(report,
                              {{.message = "The sequence from " + first->formatted() +
                                           " would pass " + first->formatted().substr(0, 10) +
                                           "99999 at " + job.shown + "."}});
            }
        }
        job.code = recording;
    }
    status = writeCodes(jobs, args, report, true, *book, grouping, facts);
    if (status != 2) report.summary();
    return status;
}

}  // namespace pelorix::cli
