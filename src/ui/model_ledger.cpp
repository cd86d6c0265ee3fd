// SPDX-License-Identifier: MIT
// The model and the code ledger: where the ledger is, the rule it checks before a batch writes
// anything (the same check as the command line's, one file refused at a time while the others
// go on), what it is told when the batch is done, and sequences that never give a number twice.
#include "ui/model_parts.h"

#include <QHash>

#include <algorithm>
#include <map>
#include <utility>

#include "core/isrc.h"
#include "core/ledger/guard.h"
#include "core/ledger/ledger.h"
#include "ui/adapters.h"

namespace pelorix::ui {

namespace {

const char* const kLedgerKey = "ledgerFile";

// Recording numbers from here up stand for files that are a recording of their own.
constexpr std::size_t kAlone = std::size_t(1) << 40;

std::optional<ISRC> codeIn(const QString& text) {
    return text.trimmed().isEmpty() ? std::nullopt : ISRC::parse(text.toStdString());
}

QString cannotOpen(const std::filesystem::path& path, const std::exception& e) {
    return Model::tr("the code ledger %1 cannot be used: %2")
        .arg(fromPath(path), QString::fromStdString(e.what()));
}

}  // namespace

QString Model::ledgerChoice() {
    return settings().value(QLatin1String(kLedgerKey)).toString();
}

void Model::setLedgerChoice(const QString& path) {
    QSettings s = settings();
    if (path.isEmpty()) {
        s.remove(QLatin1String(kLedgerKey));
    } else {
        s.setValue(QLatin1String(kLedgerKey), path);
    }
}

QString Model::ledgerPath() {
    const QString chosen = ledgerChoice();
    return fromPath(
        ledger::locate(chosen.isEmpty() ? std::nullopt : std::optional(fsPath(chosen))));
}

bool Model::checking() const {
    return !batch_.empty() && !batch_.front().ledger;
}

bool Model::recording() const {
    return !batch_.empty() && batch_.front().recording;
}

std::optional<QString> Model::givenDesignations(const std::string& prefix, std::set<int>& given) {
    const std::filesystem::path path = fsPath(ledgerPath());
    try {
        ledger::Ledger book(path);
        for (int d : book.designations(prefix)) given.insert(d);
    } catch (const std::exception& e) {
        return cannotOpen(path, e);
    }
    return std::nullopt;
}

// ---- the rule before a batch ----

void Model::guardBatch() {
    Batch& b = batch_.front();
    refused_.clear();
    auto run = std::make_shared<LedgerRun>();
    run->path = fsPath(ledgerPath());
    // The files to check: each target with its recording, and beside them the rows that keep
    // the code they carry where it bears on a target (its recording or its code).
    struct File {
        std::filesystem::path path;
        std::optional<ISRC> code;
        std::size_t recording = 0;
        qsizetype target = -1;  // -1: a kept row
    };
    std::vector<File> files;
    QHash<QString, std::size_t> recordingOf;
    const auto recording = [&](const Item& item) {
        const QString key = recordingKey(item);
        if (const auto at = recordingOf.constFind(key); at != recordingOf.cend()) return *at;
        const std::size_t fresh = recordingOf.size();
        recordingOf.insert(key, fresh);
        return fresh;
    };
    QSet<QString> targeted;
    QSet<std::size_t> recordings;
    QSet<QString> codes;
    for (qsizetype i = 0; i < b.targets.size(); ++i) {
        const Batch::Target& t = b.targets[i];
        targeted.insert(t.path);
        const int row = indexOf(t.id);
        // A row removed meanwhile is a recording of its own.
        const std::size_t r = row >= 0 ? recording(items_[row]) : recordingOf.size() + kAlone + i;
        File f{fsPath(t.path), t.code ? ISRC::parse(*t.code) : std::nullopt, r, i};
        recordings.insert(f.recording);
        if (f.code) codes.insert(QString::fromStdString(f.code->code()));
        files.push_back(std::move(f));
    }
    if (!b.removing) {
        for (const Item& item : items_) {
            if (targeted.contains(item.path()) || !item.current) continue;
            const auto carried = ISRC::parse(item.current->toStdString());
            if (!carried) continue;
            const std::size_t r = recording(item);
            if (!recordings.contains(r) && !codes.contains(*item.current)) continue;
            files.push_back({fsPath(item.path()), carried, r, -1});
        }
    }
    pool_.start([this, run, files = std::move(files), removing = b.removing, reuse = b.reuse,
                 count = b.targets.size()] {
        run->claimed.assign(std::size_t(count), 0);
        run->before.resize(std::size_t(count));
        run->refusal.resize(std::size_t(count));
        try {
            run->book = std::make_unique<ledger::Ledger>(run->path);
        } catch (const std::exception& e) {
            run->error = cannotOpen(run->path, e);
        }
        // What each file is; a file that cannot be read is left to its write, which says why.
        std::vector<std::optional<ledger::FileFacts>> facts(files.size());
        for (std::size_t i = 0; run->book && i < files.size(); ++i) {
            try {
                recordings::Identity id;
                id.path = files[i].path;
                facts[i] = ledger::factsOf(std::move(id));
            } catch (const std::exception&) {
            }
        }
        if (run->book && removing) {
            for (std::size_t i = 0; i < files.size(); ++i) run->before[i] = std::move(facts[i]);
        } else if (run->book) {
            // The command line refuses a whole batch at the first refusal; here a refused file
            // is left out and the others are checked again without it, until none is refused.
            std::vector<ledger::Planned> batch;
            std::vector<qsizetype> targetOf;
            for (std::size_t i = 0; i < files.size(); ++i) {
                if (!facts[i] || !files[i].code) continue;
                batch.push_back(
                    {*facts[i], *files[i].code, files[i].recording, files[i].target < 0});
                targetOf.push_back(files[i].target);
            }
            try {
                std::vector<std::int64_t> claimed;
                for (;;) {
                    const auto refusals = ledger::guard(*run->book, batch, reuse, true, claimed);
                    if (refusals.empty() || reuse) break;
                    std::vector<bool> out(batch.size(), false);
                    for (const ledger::Refusal& r : refusals) {
                        out[r.index] = true;
                        run->refusal[std::size_t(targetOf[r.index])] =
                            QString::fromStdString(r.message);
                    }
                    std::size_t k = 0;
                    for (std::size_t i = 0; i < batch.size(); ++i) {
                        if (out[i]) continue;
                        // Never moved onto itself: that would empty the code it holds.
                        if (k != i) batch[k] = std::move(batch[i]);
                        targetOf[k++] = targetOf[i];
                    }
                    batch.erase(batch.begin() + std::ptrdiff_t(k), batch.end());
                    targetOf.resize(k);
                }
                for (std::size_t k = 0; k < batch.size(); ++k) {
                    if (targetOf[k] >= 0) run->claimed[std::size_t(targetOf[k])] = claimed[k];
                }
            } catch (const std::exception& e) {
                run->error = cannotOpen(run->path, e);
                run->book.reset();
            }
        }
        QMetaObject::invokeMethod(
            this, [this, run] { takeVerdicts(run); }, Qt::QueuedConnection);
    });
    emit progressChanged();  // the batch is under way
}

void Model::takeVerdicts(const std::shared_ptr<LedgerRun>& run) {
    if (batch_.empty()) return;
    Batch& b = batch_.front();
    b.ledger = run;
    if (!run->error.isEmpty()) {
        for (auto& r : run->refusal) r = run->error;
    }
    // Refused files are not written: their rows and the report say why.
    QList<Batch::Target> kept;
    std::vector<std::int64_t> claimed;
    std::vector<std::optional<ledger::FileFacts>> before;
    for (qsizetype i = 0; i < b.targets.size(); ++i) {
        const Batch::Target& t = b.targets[i];
        const std::optional<QString>& why = run->refusal[std::size_t(i)];
        if (!why) {
            kept.append(t);
            claimed.push_back(run->claimed[std::size_t(i)]);
            before.push_back(std::move(run->before[std::size_t(i)]));
            continue;
        }
        ++b.refused;
        if (run->error.isEmpty()) refused_.append({t.id, *why});
        addToReport({t.path, t.shown, t.shown, tr("Refused"), *why});
        if (const int row = indexOf(t.id); row >= 0) {
            Item item = items_[row];
            item.status = Status::failed(tr("Not written: %1").arg(*why));
            changeItem(row, item);
        }
    }
    b.targets = std::move(kept);
    run->claimed = std::move(claimed);
    run->before = std::move(before);
    // The first file is under way as soon as the batch starts, checked or not: a Stop pressed
    // while the ledger was asked is heard before the second.
    const std::shared_ptr<std::atomic_bool> stopping = b.stopping;
    const bool stop = stopping->exchange(false);
    batchStep();
    if (stop) *stopping = true;
}

void Model::giveAnyway(const QSet<QUuid>& ids) {
    if (busy_) return;
    const QSet<QString> dups = duplicateCodes();
    Batch batch;
    batch.reuse = true;
    for (const Item& item : items_) {
        const Readiness r = readiness(item, dups);
        if (!ids.contains(item.id) || (r != Readiness::ready && r != Readiness::replaces)) continue;
        batch.targets.append(
            {item.id, item.path(), item.current, ISRC::parse(item.pending.toStdString())->code()});
    }
    if (!batch.targets.isEmpty()) startBatch(std::move(batch));
}

void Model::settleBatch(QString notice) {
    Batch& b = batch_.front();
    if (b.ledger && !b.ledger->error.isEmpty()) {
        notice = (b.removing ? tr("No code was removed: %1.") : tr("Nothing was written: %1."))
                     .arg(b.ledger->error);
        endBatch(notice);
        return;
    }
    if (b.refused > 0) {
        const QString refused =
            tr("The code ledger refused %n file(s): see the Status column.", "", b.refused);
        // Nothing else happened: the refusal is all there is to say.
        const bool alone = b.succeeded + b.failed + b.changed + b.unchanged == 0;
        notice = alone ? refused : notice + QLatin1Char(' ') + refused;
    }
    if (!b.ledger || !b.ledger->book) {
        endBatch(notice);
        return;
    }
    std::shared_ptr<LedgerRun> run = b.ledger;
    std::vector<ledger::Entry> removals;
    std::vector<std::int64_t> done, failed;
    for (qsizetype i = 0; i < b.targets.size(); ++i) {
        if (b.removing) {
            auto& facts = run->before[std::size_t(i)];
            if (!b.targets[i].done || !facts || !facts->carried) continue;
            ledger::Entry e;
            e.action = ledger::Action::removal;
            e.file = std::move(*facts);
            removals.push_back(std::move(e));
        } else if (const std::int64_t id = run->claimed[std::size_t(i)]; id != 0) {
            (b.targets[i].done ? done : failed).push_back(id);
        }
    }
    // Recorded on a worker: a shared ledger that another program holds busy keeps the batch
    // waiting (the rows already show their results), never the window.
    b.recording = true;
    emit progressChanged();
    pool_.start([this, run, removing = b.removing, removals = std::move(removals),
                 done = std::move(done), failed = std::move(failed), notice]() mutable {
        try {
            if (removing) {
                run->book->record(removals);
            } else {
                run->book->settle(done, failed);
            }
        } catch (const std::exception& e) {
            // The files stay as they are now; the user learns what the ledger is missing.
            const QString why = QString::fromStdString(e.what());
            notice += QLatin1Char(' ');
            if (removing) {
                notice += tr("The codes are out of the files, but the code ledger could not "
                             "record their removal: %1.")
                              .arg(why);
            } else if (!done.empty()) {
                notice += tr("The files were written, but the code ledger could not record "
                             "them: %1. Record them with pelorix --ledger-add and the files "
                             "written.")
                              .arg(why);
            } else {
                notice += tr("The code ledger could not be updated: %1.").arg(why);
            }
        }
        run->book.reset();
        QMetaObject::invokeMethod(
            this, [this, notice] { endBatch(notice); }, Qt::QueuedConnection);
    });
}

// ---- sequences ----

QList<int> Model::sequenceRows(SequenceTargets targets) const {
    QList<int> rows;
    for (qsizetype i = 0; i < items_.size(); ++i) {
        const Item& item = items_[i];
        if (targets.onlySelected && !selection_.contains(item.id)) continue;
        if (targets.skipCoded && item.current) continue;
        if (!item.readError.isEmpty()) continue;
        rows.append(static_cast<int>(i));
    }
    return rows;
}

std::optional<QString> Model::planSequence(const QString& country, const QString& registrant,
                                           const QString& year, int start, SequenceTargets targets,
                                           QList<QPair<int, QString>>& codes) const {
    codes.clear();
    const QList<int> rows = sequenceRows(targets);
    if (rows.isEmpty()) return tr("There are no files to assign.");
    const auto first =
        ISRC::fromParts(country.toStdString(), registrant.toStdString(), year.toStdString(), start);
    if (!first) {
        return tr("That is not a valid ISRC start. Use 2 letters, 3 letters or digits, 2 digits "
                  "and a number from 0 to %1.")
            .arg(ISRC::kLastDesignation);
    }
    const std::string prefix = first->code().substr(0, 7);
    // Every number ever given is skipped: the ledger's, and those the rows carry or are about
    // to get, except a number the very recording being numbered carries.
    std::set<int> given;
    if (auto why = givenDesignations(prefix, given)) return why;
    std::map<int, QSet<QString>> carriedBy;
    QSet<int> numbered(rows.cbegin(), rows.cend());
    // A recording one of whose files keeps its code has that code; it uses up no number.
    QHash<QString, QString> byRecording;
    for (qsizetype i = 0; i < items_.size(); ++i) {
        const Item& item = items_[i];
        const QString key = recordingKey(item);
        // A numbered row's own new code is about to be replaced: it gives nothing away.
        const bool kept = !numbered.contains(int(i));
        for (const auto& code : {item.current ? codeIn(*item.current) : std::nullopt,
                                 kept ? codeIn(item.pending) : std::nullopt}) {
            if (!code) continue;
            if (code->code().starts_with(prefix)) {
                given.insert(code->designation());
                carriedBy[code->designation()].insert(key);
            }
            if (kept && !byRecording.contains(key))
                byRecording.insert(key, QString::fromStdString(code->formatted()));
        }
    }
    int next = start;
    for (int row : rows) {
        const QString key = recordingKey(items_[row]);
        if (!byRecording.contains(key)) {
            while (given.contains(next) && !carriedBy[next].contains(key)) ++next;
            const auto code = first->advanced(next - start);
            if (!code || next > ISRC::kLastDesignation) {
                codes.clear();
                return tr("The sequence would go past %1.").arg(ISRC::kLastDesignation);
            }
            byRecording.insert(key, QString::fromStdString(code->formatted()));
            ++next;
        }
        codes.append({row, byRecording.value(key)});
    }
    return std::nullopt;
}

std::optional<QString> Model::assignSequence(const QString& country, const QString& registrant,
                                             const QString& year, int start,
                                             SequenceTargets targets) {
    QList<QPair<int, QString>> codes;
    if (auto why = planSequence(country, registrant, year, start, targets, codes)) return why;
    Step step;
    step.name = tr("Sequence of %n Code(s)", "", int(codes.size()));
    for (const auto& [row, code] : codes) {
        Item item = items_[row];
        step.texts.append({item.id, item.pending, code});
        item.pending = code;
        item.status = Status::idle();
        changeItem(row, item);
    }
    record(std::move(step));
    emit itemsChanged();
    return std::nullopt;
}

}  // namespace pelorix::ui
