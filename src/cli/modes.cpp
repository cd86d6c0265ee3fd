// SPDX-License-Identifier: MIT
#include "cli/modes.h"

#include <cerrno>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <system_error>

#include "cli/dry_run.h"
#include "cli/in_order.h"
#include "cli/report.h"
#include "core/formats/format.h"
#include "core/io/text.h"
#include "core/isrc.h"
#include "core/ledger/guard.h"
#include "core/ledger/ledger.h"
#include "core/lists/code_list.h"
#include "core/lists/folder_walk.h"
#include "core/read/read.h"
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

// The audio files of a folder, and the folders within it that could not be read.
void addFolder(const std::string& folder, std::vector<Job>& jobs) {
    const lists::FolderWalk walk = lists::audioFilesIn(folder);
    for (std::size_t i = 0; i < walk.unread.size(); ++i) {
        jobs.push_back({walk.unread[i].string(), walk.unread[i], std::nullopt,
                        "Cannot open the folder: " + walk.reasons[i]});
    }
    for (const fs::path& file : walk.files) jobs.push_back({file.string(), file, {}, ""});
}

// The operands in order, folders replaced by their audio files when `folders` is set.
std::vector<Job> expand(const std::vector<std::string>& operands, bool folders) {
    std::vector<Job> jobs;
    for (const std::string& op : operands) {
        std::error_code ec;
        if (folders && fs::is_directory(op, ec)) {
            addFolder(op, jobs);
        } else {
            jobs.push_back({op, op, std::nullopt, ""});
        }
    }
    return jobs;
}

// True for a stored text that is not empty and is not `code`.
bool carriesOther(const std::optional<std::string>& stored, const ISRC& code) {
    if (!stored || text::trimWhitespaceAndNewlines(*stored).empty()) return false;
    const auto current = ISRC::parse(*stored);
    return !current || !(*current == code);
}

// Writes (or rehearses) every job, printing each file's line in order once its result is known
// (a write's: once it is on the disk). `guarded`: a file that carries a different code is left
// alone unless --replace was given. `written`: which jobs changed their file.
int runJobs(const std::vector<Job>& jobs, const Arguments& args, Report& report, bool guarded,
            std::vector<bool>* written = nullptr) {
    if (written) written->assign(jobs.size(), false);
    int status = 0;
    std::vector<Outcome> outcomes(jobs.size());
    std::vector<bool> known(jobs.size(), false);
    std::size_t printed = 0;
    const auto finish = [&](std::size_t i) {
        Outcome& o = outcomes[i];
        if (o.result == Outcome::Result::kept) {
            const auto held = ISRC::parse(*o.previous);
            o.code = held ? held->code() : *o.previous;
            o.message = "The file carries a different code; --replace replaces it.";
        }
        if (o.result == Outcome::Result::failed || o.result == Outcome::Result::kept) status = 1;
        known[i] = true;
        for (; printed < jobs.size() && known[printed]; ++printed) report.file(outcomes[printed]);
    };
    std::vector<write::BatchJob> writes;
    std::vector<std::size_t> writeOf;  // the job of each write
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
        auto kept = [&] {
            return job.keep || (guarded && !args.replace && carriesOther(o.previous, *job.code));
        };
        if (args.dryRun) {
            const Rehearsal r = rehearseWrite(job.path, isrc, args.axml);
            o.format = r.format;
            o.previous = r.stored;
            o.message = r.error;
            if (r.error.empty() && !job.refused.empty()) o.message = job.refused;
            o.result = !o.message.empty() ? Outcome::Result::failed
                       : kept()           ? Outcome::Result::kept
                                          : Outcome::Result::planned;
            finish(i);
            continue;
        }
        if (args.json || guarded) {
            try {
                o.format = std::string(formats::AudioFormat::detect(job.path).label());
                o.previous = read::readISRC(job.path);
            } catch (const std::exception&) {
                // The write meets the same trouble and reports it.
            }
        }
        if (kept()) {
            o.result = Outcome::Result::kept;
            finish(i);
            continue;
        }
        writes.push_back({job.path, isrc, args.axml});
        writeOf.push_back(i);
    }
    write::writeBatch(writes, false, [&](std::size_t w, std::exception_ptr error) {
        Outcome& o = outcomes[writeOf[w]];
        try {
            if (error) std::rethrow_exception(error);
            o.result = Outcome::Result::done;
            if (written) (*written)[writeOf[w]] = true;
        } catch (const std::exception& e) {
            o.message = e.what();
        }
        finish(writeOf[w]);
    });
    report.flush();
    return status;
}

Report::Style styleFor(const Arguments& args, Report::Style plain) {
    return args.dryRun ? Report::Style::dryRun : plain;
}

// Prints every refusal and the closing line; the exit status of a refused run.
int refuse(Report& report, const std::vector<std::pair<std::string, lists::ListProblem>>& found) {
    for (const auto& [where, p] : found) report.refusal(where, p.line, p.message);
    report.nothingChanged(found.size());
    report.flush();
    return 2;
}

std::optional<std::string> readWhole(const fs::path& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "Cannot open the list: " + std::generic_category().message(errno);
        return std::nullopt;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) {
        error = "Cannot read the list.";
        return std::nullopt;
    }
    return bytes.str();
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

// What the file says about itself; nothing when that cannot be read (the code could be).
recordings::About aboutOf(const fs::path& path) {
    try {
        return recordings::about(path);
    } catch (const std::exception&) {
        return {};
    }
}

fs::path identity(const fs::path& path) {
    std::error_code ec;
    const fs::path p = fs::absolute(path, ec);
    return (ec ? path : p).lexically_normal();
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

recordings::Grouping groupingOf(const std::vector<Job>& jobs) {
    std::vector<fs::path> paths;
    paths.reserve(jobs.size());
    for (const Job& job : jobs) paths.push_back(job.path);
    return recordings::group(paths, true);
}

// Writes the jobs' codes under the rule of one code, one recording: the batch is checked
// against the ledger and within itself, and its codes are claimed, before any file is
// touched; the ledger learns what was written once the writes are done. `grouping` and
// `facts`: one per job.
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

int writeCodes(std::vector<Job>& jobs, const Arguments& args, Report& report, bool guarded,
               ledger::Ledger& book, const recordings::Grouping& grouping,
               const std::vector<std::optional<ledger::FileFacts>>& facts,
               const std::string& list = "") {
    Plan plan = planOf(jobs, args, guarded, grouping, facts);
    std::vector<ledger::Planned>& batch = plan.batch;
    const std::vector<std::size_t>& jobOf = plan.jobOf;
    std::vector<std::int64_t> claimed;
    std::vector<ledger::Refusal> refusals;
    try {
        refusals = ledger::guard(book, batch, args.reuseCode, !args.dryRun, claimed);
    } catch (const std::exception& e) {
        return refuse(report, {{book.path().string(), {0, e.what()}}});
    }
    if (!refusals.empty() && !args.reuseCode) {
        if (args.dryRun) {
            for (const ledger::Refusal& r : refusals) jobs[jobOf[r.index]].refused = r.message;
            runJobs(jobs, args, report, guarded);
            return 2;
        }
        std::vector<std::pair<std::string, lists::ListProblem>> found;
        for (const ledger::Refusal& r : refusals) {
            const Job& job = jobs[jobOf[r.index]];
            if (list.empty()) {
                found.push_back({job.shown, {0, r.message}});
            } else {
                found.push_back({list, {job.line, job.shown + ": " + r.message}});
            }
        }
        return refuse(report, found);
    }
    std::vector<bool> written;
    int status = runJobs(jobs, args, report, guarded, &written);
    if (args.dryRun) return status;
    std::vector<std::int64_t> done, failed;
    for (std::size_t k = 0; k < batch.size(); ++k) {
        if (claimed[k] != 0) (written[jobOf[k]] ? done : failed).push_back(claimed[k]);
    }
    try {
        book.settle(done, failed);
    } catch (const std::exception& e) {
        report.refusal(
            book.path().string(), 0,
            std::string("The files are written, but the ledger was not told: ") + e.what());
        report.flush();
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
        status = refuse(report, {{where.string(), {0, e.what()}}});
        return std::nullopt;
    }
}

}  // namespace

int readMode(const Arguments& args, std::ostream& out) {
    Report report(out, args.json, Report::Style::read);
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
            addFolder(args.paths[i], inFolder);
            inOrder(
                inFolder.size(), readerThreads(), [&](std::size_t k) { return read(inFolder[k]); },
                [&](std::size_t, const Outcome& o) { show(o); });
        });
    report.flush();
    return status;
}

int writeMode(const Arguments& args, std::ostream& out) {
    Report report(out, args.json, styleFor(args, Report::Style::write));
    const auto code = ISRC::parse(args.first);
    if (!code) {
        report.invalidCode();
        report.flush();
        return 2;
    }
    // One code for a whole folder is almost never meant: folders are not expanded here.
    std::vector<Job> jobs = expand(args.paths, false);
    for (Job& job : jobs) job.code = code;
    int status = 0;
    auto book = openLedger(args, report, status);
    if (!book) return status;
    const recordings::Grouping grouping = groupingOf(jobs);
    return writeCodes(jobs, args, report, false, *book, grouping, factsOf(jobs, grouping));
}

int removeMode(const Arguments& args, std::ostream& out) {
    Report report(out, args.json, styleFor(args, Report::Style::write));
    const std::vector<Job> jobs = expand(args.paths, true);
    if (args.dryRun) return runJobs(jobs, args, report, false);
    int status = 0;
    auto book = openLedger(args, report, status);
    if (!book) return status;
    // What each file was, for the ledger's record of the removal.
    std::vector<std::optional<ledger::FileFacts>> facts(jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (!jobs[i].error.empty()) continue;
        try {
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
    try {
        book->record(removals);
    } catch (const std::exception& e) {
        report.refusal(
            book->path().string(), 0,
            std::string("The codes are removed, but the ledger was not told: ") + e.what());
        report.flush();
        status = 1;
    }
    return status;
}

int writeListMode(const Arguments& args, std::ostream& out) {
    Report report(out, args.json, styleFor(args, Report::Style::writeCode));
    const std::string& listName = args.first;
    std::vector<std::pair<std::string, lists::ListProblem>> found;
    std::string error;
    const auto bytes = readWhole(listName, error);
    if (!bytes) return refuse(report, {{listName, {0, error}}});

    int status = 0;
    auto book = openLedger(args, report, status);
    if (!book) return status;
    const lists::ParsedList list = lists::parseCodeList(*bytes);
    for (const auto& p : list.problems) found.push_back({listName, p});
    const fs::path base = fs::path(listName).parent_path();
    std::vector<lists::Assignment> assignments;
    for (const lists::ListRow& row : list.rows) {
        const fs::path file =
            fs::path(row.target).is_absolute() ? fs::path(row.target) : base / row.target;
        const auto code = ISRC::parse(row.code);
        if (!code)
            found.push_back({listName, {row.line, "\"" + row.code + "\" is not a valid ISRC."}});
        if (const std::string why = missing(file); !why.empty()) {
            found.push_back({listName, {row.line, file.string() + ": " + why}});
        }
        if (code) assignments.push_back({row.line, file, *code});
    }
    // One file, one code; one code, one recording is the ledger's rule, by the files' sound.
    std::map<fs::path, const lists::Assignment*> byFile;
    for (const lists::Assignment& a : assignments) {
        auto [it, fresh] = byFile.try_emplace(identity(a.file), &a);
        if (fresh || it->second->code == a.code) continue;
        found.push_back({listName,
                         {a.line, a.file.string() + " is given " + a.code.formatted() +
                                      " here and " + it->second->code.formatted() + " on line " +
                                      std::to_string(it->second->line) + "."}});
    }
    if (list.rows.empty() && list.problems.empty()) {
        found.push_back({listName, {0, "The list names no file and code."}});
    }
    // A file listed twice with the same code is written once.
    std::set<fs::path> seen;
    std::vector<Job> jobs;
    for (const lists::Assignment& a : assignments) {
        if (!missing(a.file).empty() || !seen.insert(identity(a.file)).second) continue;
        jobs.push_back({a.file.string(), a.file, a.code, ""});
        jobs.back().line = a.line;
    }
    const recordings::Grouping grouping = groupingOf(jobs);
    const auto facts = factsOf(jobs, grouping);
    if (!found.empty()) {
        // Everything is reported at once: the rule's verdicts too.
        Plan plan = planOf(jobs, args, true, grouping, facts);
        std::vector<std::int64_t> none;
        try {
            for (const auto& r : ledger::guard(*book, plan.batch, args.reuseCode, false, none)) {
                if (args.reuseCode) break;
                const Job& job = jobs[plan.jobOf[r.index]];
                found.push_back({listName, {job.line, job.shown + ": " + r.message}});
            }
        } catch (const std::exception& e) {
            found.push_back({book->path().string(), {0, e.what()}});
        }
        std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
            return a.second.line < b.second.line;
        });
        return refuse(report, found);
    }
    return writeCodes(jobs, args, report, true, *book, grouping, facts, listName);
}

int sequenceMode(const Arguments& args, std::ostream& out) {
    Report report(out, args.json, styleFor(args, Report::Style::writeCode));
    const auto first = ISRC::parse(args.first);
    if (!first) {
        report.invalidCode();
        report.flush();
        return 2;
    }
    std::vector<std::pair<std::string, lists::ListProblem>> found;
    std::vector<Job> jobs;
    std::set<fs::path> seen;
    for (const std::string& op : args.paths) {
        std::error_code ec;
        std::vector<fs::path> files;
        if (fs::is_directory(op, ec)) {
            const lists::FolderWalk walk = lists::audioFilesIn(op);
            for (std::size_t i = 0; i < walk.unread.size(); ++i) {
                found.push_back(
                    {walk.unread[i].string(), {0, "Cannot open the folder: " + walk.reasons[i]}});
            }
            files = walk.files;
        } else if (const std::string why = missing(op); !why.empty()) {
            found.push_back({op, {0, why}});
        } else {
            files.push_back(op);
        }
        for (const fs::path& f : files) {
            if (seen.insert(identity(f)).second) jobs.push_back({f.string(), f, {}, ""});
        }
    }
    if (!found.empty()) return refuse(report, found);
    if (jobs.empty()) return refuse(report, {{"--sequence", {0, "No audio file to number."}}});
    int status = 0;
    auto book = openLedger(args, report, status);
    if (!book) return status;

    // One code per recording, wherever its files sit and whatever their format. A recording
    // one of whose files keeps the code it carries has that code, and uses up no number.
    const recordings::Grouping grouping = groupingOf(jobs);
    const auto facts = factsOf(jobs, grouping);
    std::vector<std::optional<ISRC>> byRecording(grouping.recordings);
    // The numbers skip every code ever given for this country, registrant and year: in the
    // ledger, and in the files of the batch.
    const std::string prefix = first->code().substr(0, 7);
    std::set<int> given;
    try {
        for (int d : book->designations(prefix)) given.insert(d);
    } catch (const std::exception& e) {
        return refuse(report, {{book->path().string(), {0, e.what()}}});
    }
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (!grouping.members[i].error.empty()) jobs[i].error = grouping.members[i].error;
        const auto carried = facts[i] && facts[i]->carried
                                 ? std::optional<std::string>(*facts[i]->carried)
                                 : std::nullopt;
        if (!carried || text::trimWhitespaceAndNewlines(*carried).empty()) continue;
        const auto code = ISRC::parse(*carried);
        if (code && code->code().starts_with(prefix)) given.insert(code->designation());
        if (args.replace) continue;
        jobs[i].keep = true;
        jobs[i].code = code;
        auto& recording = byRecording[grouping.members[i].recording];
        if (code && !recording) recording = code;
    }
    int next = first->designation();
    for (Job& job : jobs) {
        if (!job.error.empty() || job.keep) continue;
        auto& recording = byRecording[grouping.members[&job - jobs.data()].recording];
        if (!recording) {
            while (given.contains(next)) ++next;
            recording = first->advanced(next - first->designation());
            ++next;
            if (!recording) {
                const std::string last = first->formatted().substr(0, 10) + "99999";
                return refuse(report,
                              {{"--sequence",
                                {0, "The sequence from " + first->formatted() + " would pass " +
                                        last + " at " + job.shown + "."}}});
            }
        }
        job.code = recording;
    }
    return writeCodes(jobs, args, report, true, *book, grouping, facts);
}

}  // namespace pelorix::cli
