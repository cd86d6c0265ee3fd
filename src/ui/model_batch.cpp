// SPDX-License-Identifier: MIT
// The model's batches: a write of every ready row or a removal of codes, through the engine's
// batch commit, each file's result shown in its row and kept in the report.
#include "ui/model_parts.h"

#include <QFileInfo>

#include <algorithm>
#include <utility>

#include "core/isrc.h"
#include "core/write/write.h"
#include "ui/adapters.h"

namespace pelorix::ui {

namespace {

// A batch goes to the engine's batch commit in one call, as the command line's does: the
// engine writes its next group while the last one is flushed and asks before every replace
// whether Stop was pressed. (A first file written alone, for an early result, cost a flush of
// the whole filesystem more for every batch.) Rows show "writing" this many files ahead of the
// last result.
constexpr qsizetype kWritingAhead = 64;

}  // namespace

void Model::setStatus(const QUuid& id, const Status& status) {
    const int row = indexOf(id);
    if (row < 0) return;
    Item item = items_[row];
    item.status = status;
    changeItem(row, item);
    emit itemsChanged();
}

void Model::writeAll(bool replace) {
    if (busy_) return;
    const QSet<QString> dups = duplicateCodes();
    Batch batch;
    for (const Item& item : items_) {
        const Readiness r = readiness(item, dups);
        if (r != Readiness::ready && !(replace && r == Readiness::replaces)) continue;
        batch.targets.append(
            {item.id, item.path(), item.current, ISRC::parse(item.pending.toStdString())->code()});
    }
    if (batch.targets.isEmpty()) return;
    startBatch(std::move(batch));
}

void Model::removeISRC(const QSet<QUuid>& ids) {
    if (busy_) return;
    Batch batch;
    batch.removing = true;
    for (const Item& item : items_) {
        if (ids.contains(item.id) && item.current) {
            batch.targets.append({item.id, item.path(), item.current, std::nullopt});
        }
    }
    if (batch.targets.isEmpty()) {
        setNotice(tr("None of the selected files has an ISRC."));
        return;
    }
    startBatch(std::move(batch));
}

void Model::addToReport(ReportEntry entry) {
    // One entry per file: the latest batch's word on it, in the place of its first.
    const auto at = reportIndex_.constFind(entry.path);
    if (at != reportIndex_.cend()) {
        report_[*at] = std::move(entry);
        return;
    }
    reportIndex_.insert(entry.path, report_.size());
    report_.append(std::move(entry));
}

void Model::stop() {
    if (!batch_.empty()) *batch_.front().stopping = true;
}

void Model::startBatch(Batch batch) {
    // The setting is read once: changing it mid-batch affects only the next batch.
    batch.backup = backup_;
    batch.addAxml = addAxml_;
    // The codes edited so far are in the files now (or failed there): undo starts afresh.
    typingStepOpen_ = false;
    if (!undo_.empty() || !redo_.empty()) {
        undo_.clear();
        redo_.clear();
        emit historyChanged();
    }
    batch_.clear();
    batch_.push_back(std::move(batch));
    setBusy(true);
    setNotice(std::nullopt);
    guardBatch();
}

void Model::batchStep() {
    Batch& batch = batch_.front();
    if (batch.sent || *batch.stopping) {
        QString text;
        const int failed = batch.failed + batch.changed;
        if (batch.removing) {
            text = failed == 0 ? tr("Removed the ISRC from %n file(s).", "", batch.succeeded)
                               : tr("Removed %1, failed %2.").arg(batch.succeeded).arg(failed);
        } else {
            text = failed == 0 ? tr("Wrote %n ISRC code(s).", "", batch.succeeded)
                               : tr("Wrote %1, failed %2. See the Status column.")
                                     .arg(batch.succeeded)
                                     .arg(failed);
        }
        if (batch.unchanged > 0) {
            text += QLatin1Char(' ') +
                    tr("%n file(s) already held what was asked and stayed as they were.", "",
                       batch.unchanged);
        }
        // The files Stop left out: not necessarily the last ones, as a file that failed
        // before its replace was reported although Stop held back an earlier one.
        for (qsizetype i = 0; i < batch.targets.size(); ++i) {
            if (batch.answered.value(i)) continue;
            const Batch::Target& t = batch.targets[i];
            addToReport(
                {t.path, t.shown, t.shown, tr("Not written"), tr("Stopped before this file.")});
            const int row = i < batch.marked ? indexOf(t.id) : -1;
            if (row >= 0 && items_[row].status == Status::writing()) {
                Item item = items_[row];
                item.status = Status::idle();
                changeItem(row, item);
            }
        }
        if (batch.next < batch.targets.size()) {
            text = tr("Stopped after %1 of %2 files.").arg(batch.next).arg(batch.targets.size()) +
                   QLatin1Char(' ') + text;
        }
        settleBatch(text);
        return;
    }

    // Every file in one call. A file's code is checked under the write's own claim on it: a
    // file whose code is no longer the one the row showed is not written.
    batch.sent = true;
    std::vector<write::BatchJob> jobs;
    for (qsizetype i = 0; i < batch.targets.size(); ++i) {
        const Batch::Target& t = batch.targets[i];
        const auto shown = t.shown ? std::optional(t.shown->toStdString()) : std::nullopt;
        jobs.push_back({fsPath(t.path), t.code, batch.addAxml, shown});
    }
    markWriting();
    batch.announced.start();
    emit itemsChanged();
    emit progressChanged();
    pool_.start([this, jobs = std::move(jobs), backup = batch.backup, stopping = batch.stopping,
                 inbox = batch.inbox] {
        // Results are handed over in order as their files reach the disk; one queued call
        // takes all that arrived until it runs.
        std::size_t reported = 0;
        const auto post = [&](std::size_t i, const std::exception_ptr& error,
                              write::Outcome outcome) {
            WriteResult result;
            result.index = qsizetype(i);
            result.unchanged = outcome == write::Outcome::unchanged;
            result.stopped = !error && outcome == write::Outcome::notWritten;
            try {
                if (error) std::rethrow_exception(error);
            } catch (const write::CodeChanged& changed) {
                result.changed = true;
                if (changed.found()) result.found = QString::fromStdString(*changed.found());
            } catch (...) {
                result.failure = messageOf(std::current_exception());
            }
            reported = i + 1;
            const std::lock_guard lock(inbox->mutex);
            inbox->results.push_back(std::move(result));
            if (inbox->results.size() == 1) {
                QMetaObject::invokeMethod(
                    this, [this] { takeResults(); }, Qt::QueuedConnection);
            }
        };
        try {
            // The first replace is under way as soon as the batch starts; Stop is heard from
            // the next one on.
            write::writeBatch(jobs, backup, post, [&stopping, asked = std::size_t(0)]() mutable {
                return asked++ == 0 || !*stopping;
            });
        } catch (...) {
            // The batch itself broke off: the files it did not report get its error.
            const std::exception_ptr error = std::current_exception();
            for (std::size_t i = reported; i < jobs.size(); ++i) {
                post(i, error, write::Outcome::notWritten);
            }
        }
        QMetaObject::invokeMethod(
            this,
            [this] {
                takeResults();
                batchStep();
            },
            Qt::QueuedConnection);
    });
}

void Model::endBatch(const QString& notice) {
    batch_.clear();
    setBusy(false);
    setNotice(notice);
    emit itemsChanged();
    emit progressChanged();
}

void Model::markWriting() {
    Batch& b = batch_.front();
    const qsizetype end = std::min(b.targets.size(), b.next + kWritingAhead);
    for (; b.marked < end; ++b.marked) {
        if (const int row = indexOf(b.targets[b.marked].id); row >= 0) {
            Item item = items_[row];
            item.status = Status::writing();
            changeItem(row, item);
        }
    }
}

void Model::takeResults() {
    if (batch_.empty()) return;
    Batch& b = batch_.front();
    std::vector<WriteResult> results;
    {
        const std::lock_guard lock(b.inbox->mutex);
        results.swap(b.inbox->results);
    }
    for (const WriteResult& result : results) fileWritten(result);
    if (results.empty()) return;
    markWriting();
    // The list's change, which recounts every row, at most ten times a second.
    if (b.announced.elapsed() >= 100) {
        b.announced.start();
        emit itemsChanged();
    }
    emit progressChanged();
}

void Model::fileWritten(const WriteResult& result) {
    Batch& b = batch_.front();
    if (result.stopped) return;  // left as it was; the batch's end reports it
    const Batch::Target& target = b.targets[result.index];
    // Rows removed meanwhile are not brought back; the file still counts.
    const int row = indexOf(target.id);
    const std::optional<QString> after =
        target.code ? std::optional(QString::fromStdString(*target.code)) : std::nullopt;
    ++b.next;
    if (b.answered.size() < b.targets.size()) b.answered.resize(b.targets.size());
    b.answered[result.index] = true;
    if (result.failure) {
        ++b.failed;
        addToReport({target.path, target.shown, target.shown, tr("Failed"), *result.failure});
        if (row >= 0) {
            Item item = items_[row];
            item.status = Status::failed(*result.failure);
            changeItem(row, item);
        }
        return;
    }
    if (result.changed) {
        ++b.changed;
        addToReport({target.path, result.found, result.found, tr("Not written"),
                     result.found ? tr("The file carries %1 now.").arg(formattedISRC(*result.found))
                                  : tr("The file carries no code now.")});
        if (row >= 0) {
            Item item = items_[row];
            item.current = result.found;
            item.status = Status::failed(
                result.found
                    ? tr("Not written: the file carries %1 now.").arg(formattedISRC(*result.found))
                    : tr("Not written: the file carries no code now."));
            changeItem(row, item);
        }
        return;
    }
    b.targets[result.index].done = true;
    if (result.unchanged) {
        ++b.unchanged;
        addToReport({target.path, target.shown, after, tr("Up to date"), QString()});
        if (row >= 0) {
            Item item = items_[row];
            item.conflict.clear();  // every carrier already held the text asked for
            item.status = Status::done(tr("Up to date"));
            changeItem(row, item);
        }
        return;
    }
    ++b.succeeded;
    addToReport({target.path, target.shown, after, target.code ? tr("Written") : tr("Removed"),
                 target.shown && target.code ? tr("Replaced %1").arg(formattedISRC(*target.shown))
                                             : QString()});
    if (row < 0) return;
    Item item = items_[row];
    item.conflict.clear();  // a write leaves every carrier in step
    if (target.code) {
        const auto isrc = ISRC::parse(*target.code);
        item.current = QString::fromStdString(isrc->code());
        item.pending = QString::fromStdString(isrc->formatted());
        // A replaced code stays on record in the row.
        item.status = Status::done(
            target.shown ? tr("Written, was %1").arg(formattedISRC(*target.shown)) : tr("Written"));
    } else {
        item.current.reset();
        item.pending.clear();
        item.status = Status::done(target.shown ? tr("Removed %1").arg(formattedISRC(*target.shown))
                                                : tr("Removed"));
    }
    changeItem(row, item);
}

}  // namespace pelorix::ui
