// SPDX-License-Identifier: MIT
// The ledger's own modes: the next code never given, and the registrant's record of every code.
#include "cli/cli.h"
#include "cli/escape.h"
#include "cli/modes.h"
#include "cli/report.h"
#include "core/isrc.h"
#include "core/ledger/export.h"
#include "core/ledger/guard.h"
#include "core/ledger/ledger.h"
#include "core/lists/folder_walk.h"
#include "core/recordings/grouping.h"

namespace pelorix::cli {

namespace {

std::optional<ledger::Ledger> openLedger(const Arguments& args, std::ostream& err) {
    const std::optional<std::filesystem::path> chosen =
        args.ledger.empty() ? std::nullopt : std::optional<std::filesystem::path>(args.ledger);
    try {
        return std::optional<ledger::Ledger>(std::in_place, ledger::locate(chosen));
    } catch (const ledger::LedgerError& e) {
        err << "pelorix: " << escapeControls(e.what()) << '\n';
        err.flush();
        return std::nullopt;
    }
}

}  // namespace

int nextMode(const Arguments& args, std::ostream& out, std::ostream& err) {
    // Any form of a code's first seven characters: FI-ABC-26, FIABC26, fi abc 26.
    const auto base = ISRC::parse(args.first + "00000");
    if (!base) {
        err << "pelorix: \"" << escapeControls(args.first)
            << "\" is not a country, registrant and year such as FI-ABC-26\n";
        return 2;
    }
    auto l = openLedger(args, err);
    if (!l) return 2;
    const std::string prefix = base->code().substr(0, 7);
    const auto next = l->nextDesignation(prefix);
    if (!next) {
        err << "pelorix: " << base->formatted().substr(0, 9)
            << " has no code left: " << base->advanced(ISRC::kLastDesignation)->formatted()
            << " was given\n";
        return 1;
    }
    const ISRC code = *base->advanced(*next);
    if (args.json) {
        out << JsonObject().text("next", code.code()).str() << '\n';
    } else {
        out << code.formatted() << '\n';
    }
    return 0;
}

int ledgerAddMode(const Arguments& args, std::ostream& out, std::ostream& err) {
    auto l = openLedger(args, err);
    if (!l) return 2;
    Report report(out, err, args.json, Report::Style::writeCode);
    int status = 0;
    std::vector<std::filesystem::path> files;
    for (const std::string& op : args.paths) {
        std::error_code ec;
        if (!std::filesystem::is_directory(op, ec)) {
            files.push_back(op);
            continue;
        }
        const lists::FolderWalk walk = lists::audioFilesIn(op);
        for (std::size_t i = 0; i < walk.unread.size(); ++i) {
            Outcome o;
            o.path = walk.unread[i].string();
            o.message = "Cannot open the folder: " + walk.reasons[i];
            report.file(o);
            status = 1;
        }
        files.insert(files.end(), walk.files.begin(), walk.files.end());
    }
    const recordings::Grouping grouping = recordings::group(files, true);
    std::vector<ledger::Planned> batch;
    std::vector<Outcome> outcomes(files.size());
    std::vector<std::size_t> fileOf;
    for (std::size_t i = 0; i < files.size(); ++i) {
        Outcome& o = outcomes[i];
        o.path = files[i].string();
        try {
            if (!grouping.members[i].error.empty())
                throw std::runtime_error(grouping.members[i].error);
            ledger::FileFacts f = ledger::factsOf(grouping.members[i].identity);
            o.format = f.format;
            o.previous = f.carried;
            const auto code = f.carried ? ISRC::parse(*f.carried) : std::nullopt;
            if (!code) {
                o.result = Outcome::Result::read;  // nothing to take in
                continue;
            }
            o.code = code->code();
            o.result = Outcome::Result::done;
            batch.push_back({std::move(f), *code, grouping.members[i].recording, false});
            fileOf.push_back(i);
        } catch (const std::exception& e) {
            o.message = e.what();
            status = 1;
        }
    }
    try {
        std::vector<std::int64_t> none;
        const auto conflicts = ledger::guard(*l, batch, false, false, none);
        std::vector<ledger::Entry> found;
        for (const ledger::Planned& p : batch) {
            if (l->codeAt(p.file.identity.path) == p.code.code()) continue;  // known already
            ledger::Entry e;
            e.action = ledger::Action::found;
            e.code = p.code.code();
            e.file = p.file;
            found.push_back(std::move(e));
        }
        l->record(found);
        for (const ledger::Refusal& r : conflicts) {
            outcomes[fileOf[r.index]].message = r.message;
            status = 1;
        }
    } catch (const std::exception& e) {
        err << "pelorix: " << escapeControls(e.what()) << '\n';
        return 2;
    }
    for (const Outcome& o : outcomes) {
        if (o.result == Outcome::Result::read) continue;  // no code
        report.file(o);
        if (o.result == Outcome::Result::done && !o.message.empty()) {
            report.refusal({.path = o.path, .message = "conflict: " + o.message});
        }
    }
    report.flush();
    return status;
}

int ledgerExportMode(const Arguments& args, std::ostream& out, std::ostream& err) {
    auto l = openLedger(args, err);
    if (!l) return 2;
    ledger::exportCodes(l->codes(),
                        args.json ? ledger::ExportFormat::json : ledger::ExportFormat::csv, out);
    return 0;
}

}  // namespace pelorix::cli
