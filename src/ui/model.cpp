// SPDX-License-Identifier: MIT
#include "ui/model.h"
#include "ui/adapters.h"
#include "ui/model_parts.h"

#include <QChar>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/formats/carriers.h"
#include "core/formats/format.h"
#include "core/isrc.h"
#include "core/lists/code_list.h"
#include "core/lists/folder_walk.h"
#include "core/read/read.h"
#include "core/recordings/about.h"
#include "core/recordings/grouping.h"

namespace pelorix::ui {

namespace {

const char* const kBackupKey = "backupOriginals";
const char* const kAxmlKey = "addAxmlCarrier";

// The files one worker job reads before it hands its results back: large enough that a big
// folder arrives in a few groups, small enough that the first rows show at once.
constexpr int kReadChunk = 256;
constexpr qint64 kReadChunkMs = 40;

std::optional<ISRC> parseCode(const QString& text) {
    return ISRC::parse(text.toStdString());
}

// The local path a URL names, or empty for URLs that cannot name a local file. A URL without a
// scheme is taken as a plain path, which is what callers holding paths tend to hand over.
QString localPathOf(const QUrl& url) {
    if (url.isLocalFile()) return url.toLocalFile();
    if (url.scheme().isEmpty()) return url.path();
    return {};
}

// Absolute, with "." and ".." resolved by name only: symbolic links are kept as they are.
QUrl standardized(const QString& path) {
    return QUrl::fromLocalFile(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
}

// Folder, then file name, both in natural order.
int compareLocations(const QString& a, const QString& b) {
    const QFileInfo fa(a), fb(b);
    if (int c = naturalCompare(fa.path(), fb.path())) return c;
    return naturalCompare(fa.fileName(), fb.fileName());
}

// Space separators (Unicode Zs) and the tab; line breaks do not count.
bool isBlank(const QString& text) {
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return c == u'\t' || c.category() == QChar::Separator_Space;
    });
}

struct Reading {
    bool readable = false;  // the container was recognised
    QString format;
    std::optional<QString> code;
    QString error;  // the code could not be read
    QString named;  // the format of the extension, when it differs
    QString conflict;
    recordings::About about;
};

// Runs on a worker thread: touches nothing but the file.
Reading readFile(const QString& path) {
    const auto p = fsPath(path);
    Reading result;
    try {
        result.format = QString::fromUtf8(formats::AudioFormat::detect(p).label());
        result.readable = true;
    } catch (...) {
        return result;
    }
    const auto named = formats::labelForExtension(QFileInfo(path).suffix().toStdString());
    if (named && QString::fromUtf8(named->data(), qsizetype(named->size())) != result.format)
        result.named = QString::fromUtf8(named->data(), qsizetype(named->size()));
    try {
        if (auto text = read::readISRC(p)) {
            if (auto isrc = ISRC::parse(*text)) result.code = QString::fromStdString(isrc->code());
        }
        const formats::Carriers carriers = read::carriers(p);
        if (formats::verdictOf(carriers) == formats::Verdict::conflict) {
            for (const formats::Carrier& c : carriers) {
                result.conflict += QString::fromStdString(c.place + ": " + c.text) + '\n';
            }
            result.conflict.chop(1);
        }
    } catch (...) {
        result.error = messageOf(std::current_exception());
    }
    try {
        result.about = recordings::about(p);
    } catch (...) {
        // What the file says about itself is shown when it can be read; nothing depends on it.
    }
    return result;
}

void describe(Model::Item& item, const recordings::About& about) {
    item.title = QString::fromStdString(about.title.value_or(std::string()));
    item.artist = QString::fromStdString(about.artist.value_or(std::string()));
    item.seconds = about.seconds;
    item.track = about.track ? std::optional(int(*about.track)) : std::nullopt;
    item.disc = about.disc ? std::optional(int(*about.disc)) : std::nullopt;
}

// A row shows what a read of its file found.
void takeReading(Model::Item& item, const Reading& r) {
    item.format = r.format;
    item.current = r.code;
    item.readError = r.error;
    item.named = r.named;
    item.conflict = r.conflict;
    describe(item, r.about);
}

}  // namespace

struct Model::AddRun {
    QList<QUrl> urls;
    qsizetype next = 0;  // the first URL not yet read, or urls.size() when all are handled
    QStringList skipped;
    int added = 0;
    int reread = 0;
    bool announce = false;
    bool reload = false;
};

Model::Model(QObject* parent) : QObject(parent) {
    backup_ = settings().value(QLatin1String(kBackupKey), false).toBool();
    addAxml_ = settings().value(QLatin1String(kAxmlKey), false).toBool();
}

Model::~Model() {
    // Jobs hold `this` to post their results; those posts are discarded with the object.
    pool_.waitForDone();
}

int Model::indexOf(const QUuid& id) const {
    for (qsizetype i = 0; i < items_.size(); ++i) {
        if (items_[i].id == id) return static_cast<int>(i);
    }
    return -1;
}

QPair<int, int> Model::addProgress() const {
    int done = 0;
    int total = 0;
    for (const AddRun& run : addRuns_) {
        done += int(run.next);
        total += int(run.urls.size());
    }
    return {done, total};
}

QPair<int, int> Model::batchProgress() const {
    if (batch_.empty()) return {0, 0};
    return {int(batch_.front().next), int(batch_.front().targets.size())};
}

// ---- published fields ----

void Model::setNotice(std::optional<QString> text) {
    notice_ = std::move(text);
    emit noticeChanged();
}

void Model::setBusy(bool on) {
    busy_ = on;
    emit busyChanged(on);
}

void Model::setAddAxml(bool on) {
    addAxml_ = on;
    QSettings s = settings();
    s.setValue(QLatin1String(kAxmlKey), on);
    s.sync();
}

void Model::setBackup(bool on) {
    backup_ = on;
    QSettings s = settings();
    s.setValue(QLatin1String(kBackupKey), on);
    s.sync();
    emit backupChanged(on);
}

void Model::setSelection(const QSet<QUuid>& ids) {
    // Only real changes are announced, so a view that mirrors the set cannot loop.
    if (ids == selection_) return;
    selection_ = ids;
    emit selectionChanged();
}

void Model::changeItem(int row, const Item& item) {
    items_[row] = item;
    emit itemChanged(row);
}

void Model::insertItems(QList<Item> items) {
    if (items.isEmpty()) return;
    const int first = static_cast<int>(items_.size());
    const int last = first + static_cast<int>(items.size()) - 1;
    emit itemsAboutToBeInserted(first, last);
    items_.append(std::move(items));
    emit itemsInserted(first, last);
    sortItems();
    emit itemsChanged();
}

void Model::removeRows(const QList<int>& rows) {
    // Contiguous blocks from the end, so the row numbers of earlier blocks stay valid.
    qsizetype end = rows.size();
    while (end > 0) {
        qsizetype begin = end - 1;
        while (begin > 0 && rows[begin - 1] == rows[begin] - 1) --begin;
        const int first = rows[begin];
        const int last = rows[end - 1];
        emit itemsAboutToBeRemoved(first, last);
        items_.remove(first, last - first + 1);
        emit itemsRemoved(first, last);
        end = begin;
    }
}

void Model::sort(SortKey key, Qt::SortOrder order) {
    sortKey_ = key;
    sortOrder_ = order;
    sortItems();
}

void Model::sortItems() {
    const QSet<QString> dups = duplicateCodes();
    auto compare = [&](const Item& a, const Item& b) -> int {
        switch (sortKey_) {
            case SortKey::location:
                break;
            case SortKey::title:
                if (int c = naturalCompare(a.title, b.title)) return c;
                break;
            case SortKey::artist:
                if (int c = naturalCompare(a.artist, b.artist)) return c;
                break;
            case SortKey::duration:
                if (a.seconds != b.seconds) return a.seconds < b.seconds ? -1 : 1;
                break;
            case SortKey::format:
                if (int c = naturalCompare(a.format, b.format)) return c;
                break;
            case SortKey::current:
                if (int c = naturalCompare(a.current.value_or(QString()),
                                           b.current.value_or(QString())))
                    return c;
                break;
            case SortKey::pending:
                if (int c = naturalCompare(a.pending, b.pending)) return c;
                break;
            case SortKey::status: {
                const int ra = int(readiness(a, dups)) + 10 * int(a.status.kind);
                const int rb = int(readiness(b, dups)) + 10 * int(b.status.kind);
                if (ra != rb) return ra < rb ? -1 : 1;
                break;
            }
        }
        return compareLocations(a.path(), b.path());
    };
    const bool ascending = sortOrder_ == Qt::AscendingOrder;
    auto less = [&](const Item& a, const Item& b) {
        const int c = compare(a, b);
        return ascending ? c < 0 : c > 0;
    };
    if (std::is_sorted(items_.cbegin(), items_.cend(), less)) return;
    emit itemsAboutToBeReordered();
    std::stable_sort(items_.begin(), items_.end(), less);
    emit itemsReordered();
}

// ---- list ----

void Model::add(const QList<QUrl>& urls, bool announce) {
    QList<QUrl> candidates;
    for (const QUrl& url : urls) {
        const QString path = localPathOf(url);
        if (path.isEmpty()) continue;
        const QFileInfo info(path);
        if (!info.exists()) continue;
        if (info.isDir()) {
            // The engine's walk: no hidden entries, no backup copies, no links to folders.
            for (const auto& file : lists::audioFilesIn(fsPath(path)).files)
                candidates.append(standardized(fromPath(file)));
        } else if (formats::hasAudioExtension(QFileInfo(path).fileName().toStdString())) {
            candidates.append(standardized(path));
        }
    }

    // Files still waiting in a running add are left out, so the same file added twice in quick
    // succession is listed once; files already listed are read again.
    QSet<QUrl> known;
    for (const AddRun& run : addRuns_) {
        for (qsizetype i = run.next; i < run.urls.size(); ++i) known.insert(run.urls[i]);
    }
    QList<QUrl> fresh;
    for (const QUrl& url : candidates) {
        if (known.contains(url)) continue;
        known.insert(url);
        fresh.append(url);
    }
    // Read in list order, so the first rows to appear are the first ones of the list.
    std::stable_sort(fresh.begin(), fresh.end(), [](const QUrl& a, const QUrl& b) {
        return compareLocations(a.toLocalFile(), b.toLocalFile()) < 0;
    });
    if (fresh.isEmpty()) {
        if (!urls.isEmpty()) {
            setNotice(tr("No supported audio files found (%1).")
                          .arg(QString::fromStdString(formats::labels())));
        }
        return;
    }
    startAdd(std::move(fresh), announce, false);
}

void Model::reload() {
    QList<QUrl> urls;
    for (const Item& item : items_) urls << item.url;
    if (!urls.isEmpty()) startAdd(std::move(urls), false, true);
}

void Model::startAdd(QList<QUrl> urls, bool announce, bool reload) {
    AddRun run;
    run.urls = std::move(urls);
    run.announce = announce;
    run.reload = reload;
    addRuns_.push_back(std::move(run));
    emit progressChanged();
    readNext(&addRuns_.back());
}

void Model::readNext(AddRun* run) {
    if (run->next >= run->urls.size()) {
        finishAdd(run);
        return;
    }
    const QList<QUrl> urls = run->urls;
    const qsizetype from = run->next;
    pool_.start([this, run, urls, from] {
        QList<Reading> results;
        QElapsedTimer clock;
        clock.start();
        for (qsizetype i = from; i < urls.size() && results.size() < kReadChunk; ++i) {
            results << readFile(urls[i].toLocalFile());
            if (clock.elapsed() > kReadChunkMs) break;
        }
        QMetaObject::invokeMethod(
            this,
            [this, run, urls, from, results] {
                QHash<QUrl, int> rows;
                for (qsizetype i = 0; i < items_.size(); ++i) rows.insert(items_[i].url, int(i));
                QList<Item> fresh;
                for (qsizetype i = 0; i < results.size(); ++i) {
                    const QUrl& url = urls[from + i];
                    const Reading& r = results[i];
                    const int row = rows.value(url, -1);
                    if (row >= 0) {
                        // Listed already: show what the file holds now.
                        Item item = items_[row];
                        if (r.readable) {
                            takeReading(item, r);
                        } else {
                            item.readError = tr("Not readable audio any more.");
                        }
                        // What the row says is worked out again from what the file holds.
                        if (item.status.isFinished()) item.status = Status::idle();
                        if (item != items_[row]) changeItem(row, item);
                        ++run->reread;
                    } else if (run->reload) {
                        // Removed from the list meanwhile.
                    } else if (!r.readable) {
                        run->skipped.append(url.fileName());
                    } else {
                        Item item;
                        item.id = QUuid::createUuid();
                        item.url = url;
                        takeReading(item, r);
                        fresh.append(std::move(item));
                        rows.insert(url, -2);  // a second copy of the URL is not added
                        ++run->added;
                    }
                }
                run->next = from + results.size();
                if (!fresh.isEmpty()) {
                    insertItems(std::move(fresh));
                } else if (run->reread > 0) {
                    emit itemsChanged();
                }
                emit progressChanged();
                readNext(run);
            },
            Qt::QueuedConnection);
    });
}

void Model::finishAdd(AddRun* run) {
    QStringList parts;
    if (run->announce && run->added > 0) parts << tr("%n file(s) added.", "", run->added);
    if (!run->skipped.isEmpty()) {
        const auto n = int(run->skipped.size());
        QString text = tr("Skipped %n file(s) that are not readable audio: ", "", n) +
                       run->skipped.mid(0, 3).join(QStringLiteral(", "));
        if (n > 3) text += QChar(0x2026);
        parts << text;
    }
    if (!parts.isEmpty()) setNotice(parts.join(QLatin1Char(' ')));
    addRuns_.remove_if([run](const AddRun& r) { return &r == run; });
    emit progressChanged();
    // The add is finished once its rows are grouped into recordings.
    if (addRuns_.empty()) startGrouping();
}

void Model::startGrouping() {
    ++grouping_;
    std::vector<std::filesystem::path> paths;
    for (const Item& item : items_) paths.push_back(fsPath(item.path()));
    pool_.start([this, paths = std::move(paths)] {
        const recordings::Grouping grouping = recordings::group(paths, recordings::canListen());
        QMetaObject::invokeMethod(
            this,
            [this, paths, grouping] {
                QHash<QString, qsizetype> member;
                for (std::size_t i = 0; i < paths.size(); ++i)
                    member.insert(fromPath(paths[i]), qsizetype(i));
                bool changed = false;
                for (qsizetype row = 0; row < items_.size(); ++row) {
                    const auto at = member.constFind(items_[row].path());
                    if (at == member.cend()) continue;  // added since: grouped by the next run
                    const recordings::Member& m = grouping.members[std::size_t(*at)];
                    Item item = items_[row];
                    item.recording = int(m.recording);
                    item.recordingNote = QString::fromStdString(!m.undecided.empty() ? m.undecided
                                                                : !m.error.empty()   ? m.error
                                                                                     : m.reason);
                    if (item == items_[row]) continue;
                    changeItem(int(row), item);
                    changed = true;
                }
                if (changed) emit itemsChanged();
                --grouping_;
                emit progressChanged();
                // A later add started its own grouping; the last one to end finishes them all.
                if (grouping_ == 0 && addRuns_.empty()) emit addFinished();
            },
            Qt::QueuedConnection);
    });
}

void Model::remove(const QSet<QUuid>& ids) {
    QList<int> rows;
    Step step;
    for (qsizetype i = 0; i < items_.size(); ++i) {
        if (ids.contains(items_[i].id)) {
            rows.append(static_cast<int>(i));
            step.removed.append({int(i), items_[i]});
        }
    }
    if (!rows.isEmpty()) {
        step.name = tr("Removal of %n Row(s) from the List", "", int(rows.size()));
        removeRows(rows);
        record(std::move(step));
        emit itemsChanged();
    }
    if (selection_.intersects(ids)) {
        selection_.subtract(ids);
        emit selectionChanged();
    }
}

void Model::clear() {
    if (!items_.isEmpty()) {
        Step step;
        step.name = tr("Clear");
        for (qsizetype i = 0; i < items_.size(); ++i) step.removed.append({int(i), items_[i]});
        const int last = static_cast<int>(items_.size()) - 1;
        emit itemsAboutToBeRemoved(0, last);
        items_.clear();
        emit itemsRemoved(0, last);
        record(std::move(step));
        emit itemsChanged();
    }
    if (!selection_.isEmpty()) {
        selection_.clear();
        emit selectionChanged();
    }
    setNotice(std::nullopt);
}

// ---- code entry and readiness ----

void Model::beginTyping(const QUuid& id) {
    typingId_ = id;
    typingStepOpen_ = false;
}

void Model::revertTyping() {
    if (!typingStepOpen_) return;
    typingStepOpen_ = false;
    Step step = std::move(undo_.back());
    undo_.pop_back();
    apply(step, false);
    emit historyChanged();
}

void Model::setPending(const QUuid& id, const QString& text) {
    const int row = indexOf(id);
    if (row < 0) return;
    if (typingStepOpen_ && typingId_ == id) {
        // One step for the whole field: the first keystroke records it, later ones extend it.
        undo_.back().texts[0].after = text;
    } else if (items_[row].pending != text) {
        record(Step{{{id, items_[row].pending, text}}, {}, tr("Typing")});
        typingStepOpen_ = typingId_ == id;
    }
    Item item = items_[row];
    item.pending = text;
    if (item.status.isFinished()) item.status = Status::idle();
    changeItem(row, item);
    emit itemsChanged();
}

void Model::setPendings(const QList<QPair<QUuid, QString>>& texts, const QString& name) {
    Step step;
    step.name = name.isEmpty() ? tr("Change of %n Code(s)", "", int(texts.size())) : name;
    for (const auto& [id, text] : texts) {
        const int row = indexOf(id);
        if (row < 0) continue;
        Item item = items_[row];
        if (item.pending == text && !item.status.isFinished()) continue;
        step.texts.append({id, item.pending, text});
        item.pending = text;
        if (item.status.isFinished()) item.status = Status::idle();
        changeItem(row, item);
    }
    if (step.texts.isEmpty()) return;
    record(std::move(step));
    emit itemsChanged();
}

void Model::commitFormat(const QUuid& id) {
    const int row = indexOf(id);
    if (row < 0) return;
    const auto isrc = parseCode(items_[row].pending);
    if (!isrc) return;
    Item item = items_[row];
    item.pending = QString::fromStdString(isrc->formatted());
    if (item.pending == items_[row].pending) return;
    // Tidying belongs to the typing it ends: undo restores the text before it.
    if (typingStepOpen_ && typingId_ == id) {
        undo_.back().texts[0].after = item.pending;
    } else {
        record(Step{{{id, items_[row].pending, item.pending}}, {}, tr("Typing")});
    }
    changeItem(row, item);
    emit itemsChanged();
}

QSet<QString> Model::duplicateCodes() const {
    // A code is used twice when rows of two different recordings carry it; the same recording
    // in several formats (names that differ only by extension) rightly shares one code.
    QHash<QString, QString> firstName;
    QSet<QString> repeated;
    for (const Item& item : items_) {
        const auto isrc = parseCode(item.pending);
        if (!isrc) continue;
        const QString code = QString::fromStdString(isrc->code());
        const QString name = recordingKey(item);
        const auto seen = firstName.constFind(code);
        if (seen == firstName.cend()) {
            firstName.insert(code, name);
        } else if (*seen != name) {
            repeated.insert(code);
        }
    }
    return repeated;
}

QString Model::recordingKey(const Item& item) {
    if (item.recording >= 0) return QStringLiteral("#%1").arg(item.recording);
    return fromPath(recordings::nameKey(fsPath(item.path())));
}

Model::Readiness Model::readiness(const Item& item, const QSet<QString>& dups) {
    if (!item.readError.isEmpty()) return Readiness::unreadable;
    if (isBlank(item.pending)) return Readiness::empty;
    const auto isrc = parseCode(item.pending);
    if (!isrc) return Readiness::invalid;
    const QString code = QString::fromStdString(isrc->code());
    if (dups.contains(code)) return Readiness::duplicate;
    if (!item.current) return Readiness::ready;
    return *item.current == code ? Readiness::upToDate : Readiness::replaces;
}

bool Model::needsAttention(const Item& item, const QSet<QString>& dups) {
    if (item.status.kind == Status::Kind::failed || !item.conflict.isEmpty()) return true;
    if (item.status.kind == Status::Kind::done) return false;
    switch (readiness(item, dups)) {
        case Readiness::invalid:
        case Readiness::duplicate:
        case Readiness::unreadable:
        case Readiness::replaces:
            return true;
        case Readiness::empty:
        case Readiness::ready:
        case Readiness::upToDate:
            return false;
    }
    return false;
}

int Model::readyCount() const {
    const QSet<QString> dups = duplicateCodes();
    return static_cast<int>(std::count_if(items_.cbegin(), items_.cend(), [&](const Item& item) {
        return readiness(item, dups) == Readiness::ready;
    }));
}

int Model::replaceCount() const {
    const QSet<QString> dups = duplicateCodes();
    return static_cast<int>(std::count_if(items_.cbegin(), items_.cend(), [&](const Item& item) {
        return readiness(item, dups) == Readiness::replaces;
    }));
}

// ---- undo history ----

void Model::record(Step step) {
    typingStepOpen_ = false;
    undo_.push_back(std::move(step));
    redo_.clear();
    emit historyChanged();
}

void Model::apply(const Step& step, bool forward) {
    if (forward) {
        for (const auto& [row, item] : step.removed) {
            const int at = indexOf(item.id);
            if (at >= 0) removeRows({at});
        }
    } else {
        for (const auto& [row, item] : step.removed) {
            if (indexOf(item.id) >= 0) continue;
            const int at = std::min(row, int(items_.size()));
            emit itemsAboutToBeInserted(at, at);
            items_.insert(at, item);
            emit itemsInserted(at, at);
        }
    }
    for (const Step::Text& t : step.texts) {
        const int row = indexOf(t.id);
        if (row < 0) continue;
        Item item = items_[row];
        item.pending = forward ? t.after : t.before;
        if (item.status.isFinished()) item.status = Status::idle();
        changeItem(row, item);
    }
    emit itemsChanged();
}

QString Model::undoName() const {
    return undo_.empty() ? QString() : undo_.back().name;
}

QString Model::redoName() const {
    return redo_.empty() ? QString() : redo_.back().name;
}

void Model::undo() {
    if (undo_.empty() || busy_) return;
    typingStepOpen_ = false;
    Step step = std::move(undo_.back());
    undo_.pop_back();
    apply(step, false);
    redo_.push_back(std::move(step));
    emit historyChanged();
}

void Model::redo() {
    if (redo_.empty() || busy_) return;
    typingStepOpen_ = false;
    Step step = std::move(redo_.back());
    redo_.pop_back();
    apply(step, true);
    undo_.push_back(std::move(step));
    emit historyChanged();
}

}  // namespace pelorix::ui
