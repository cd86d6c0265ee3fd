// SPDX-License-Identifier: MIT
#include "ui/model.h"
#include "ui/adapters.h"

#include <QChar>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
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
#include "core/tag_error.h"
#include "core/write/write.h"

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

QString messageOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const TagError& e) {
        return QString::fromStdString(e.message());
    } catch (const std::system_error& e) {
        return QString::fromStdString(e.code().message());
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return Model::tr("An unexpected error occurred.");
    }
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

// A batch goes to the engine's batch commit in one call, as the command line's does: the
// engine writes its next group while the last one is flushed and asks before every replace
// whether Stop was pressed. Only the first file goes alone, so that its row shows its result
// at once. Rows show "writing" this many files ahead of the last result.
constexpr qsizetype kWritingAhead = 64;

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

struct Model::WriteResult {
    qsizetype index = 0;
    std::optional<QString> failure;
    bool unchanged = false;        // the file already held what was asked: not a byte changed
    bool stopped = false;          // Stop came before its replace: not written
    bool changed = false;          // the file's code was not the one shown: nothing written
    std::optional<QString> found;  // the code the file carries, when it was not the one shown
};

struct Model::Batch {
    struct Target {
        QUuid id;
        QString path;
        std::optional<QString> shown;     // the current code the row showed
        std::optional<std::string> code;  // none removes the stored code
    };
    QList<Target> targets;
    qsizetype next = 0;
    qsizetype marked = 0;  // the rows before this one were shown as being written
    bool removing = false;
    bool backup = false;
    bool addAxml = false;
    // Set by Stop, read by the worker before each replace.
    std::shared_ptr<std::atomic_bool> stopping = std::make_shared<std::atomic_bool>(false);
    // Results the worker has posted and the model not yet taken, in order.
    struct Inbox {
        std::mutex mutex;
        std::vector<WriteResult> results;
    };
    std::shared_ptr<Inbox> inbox = std::make_shared<Inbox>();
    QElapsedTimer announced;  // since the list last announced its change
    int succeeded = 0;
    int unchanged = 0;
    int failed = 0;
    int changed = 0;
};

// One step of the undo history: new codes of rows, and rows taken out of the list.
struct Model::Step {
    struct Text {
        QUuid id;
        QString before;
        QString after;
    };
    QList<Text> texts;
    QList<QPair<int, Item>> removed;  // ascending rows, as they were before the removal
    QString name;                     // what the step did, as the Edit menu says it
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
                            item.format = r.format;
                            item.current = r.code;
                            item.readError = r.error;
                            item.named = r.named;
                            item.conflict = r.conflict;
                            describe(item, r.about);
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
                        item.format = r.format;
                        item.current = r.code;
                        item.readError = r.error;
                        item.named = r.named;
                        item.conflict = r.conflict;
                        describe(item, r.about);
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

// ---- batches ----

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
        batch.targets.append({item.id, item.path(), item.current, parseCode(item.pending)->code()});
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
    batchStep();
}

void Model::batchStep() {
    Batch& batch = batch_.front();
    if (batch.next >= batch.targets.size() || *batch.stopping) {
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
        for (qsizetype i = batch.next; i < batch.targets.size(); ++i) {
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
        batch_.clear();
        setBusy(false);
        setNotice(text);
        emit itemsChanged();
        emit progressChanged();
        return;
    }

    // The first file alone, then all the others in one call. A file's code is checked under
    // the write's own claim on it: a file whose code is no longer the one the row showed is
    // not written.
    const qsizetype first = batch.next;
    const qsizetype end = first == 0 ? 1 : batch.targets.size();
    std::vector<write::BatchJob> jobs;
    for (qsizetype i = first; i < end; ++i) {
        const Batch::Target& t = batch.targets[i];
        const auto shown = t.shown ? std::optional(t.shown->toStdString()) : std::nullopt;
        jobs.push_back({fsPath(t.path), t.code, batch.addAxml, shown});
    }
    markWriting();
    batch.announced.start();
    emit itemsChanged();
    emit progressChanged();
    pool_.start([this, jobs = std::move(jobs), first, backup = batch.backup,
                 stopping = batch.stopping, inbox = batch.inbox] {
        // Results are handed over in order as their files reach the disk; one queued call
        // takes all that arrived until it runs.
        std::size_t reported = 0;
        const auto post = [&](std::size_t i, const std::exception_ptr& error,
                              write::Outcome outcome) {
            WriteResult result;
            result.index = first + qsizetype(i);
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
            // The first file is under way as soon as the batch starts; Stop is heard from the
            // second on.
            write::writeBatch(jobs, backup, post,
                              first == 0 ? write::MayCommit()
                                         : write::MayCommit([&stopping] { return !*stopping; }));
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

std::optional<QString> Model::assignSequence(const QString& country, const QString& registrant,
                                             const QString& year, int start,
                                             SequenceTargets targets) {
    const QList<int> rows = sequenceRows(targets);
    if (rows.isEmpty()) return tr("There are no files to assign.");
    const auto first =
        ISRC::fromParts(country.toStdString(), registrant.toStdString(), year.toStdString(), start);
    if (!first) {
        return tr("That is not a valid ISRC start. Use 2 letters, 3 letters or digits, 2 digits "
                  "and a number from 0 to %1.")
            .arg(ISRC::kLastDesignation);
    }
    if (!first->fits(rows.size()))
        return tr("The sequence would go past %1.").arg(ISRC::kLastDesignation);

    Step step;
    step.name = tr("Sequence of %n Code(s)", "", int(rows.size()));
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const auto isrc = first->advanced(static_cast<int>(i));
        Item item = items_[rows[i]];
        step.texts.append({item.id, item.pending, QString::fromStdString(isrc->formatted())});
        item.pending = step.texts.back().after;
        item.status = Status::idle();
        changeItem(rows[i], item);
    }
    record(std::move(step));
    emit itemsChanged();
    return std::nullopt;
}

}  // namespace pelorix::ui
