// SPDX-License-Identifier: MIT
#include "ui/model.h"

#include <QChar>
#include <QCollator>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSettings>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include "core/formats/detect.h"
#include "core/isrc.h"
#include "core/tag_error.h"
#include "core/write/audio_tagger.h"

namespace pelorix::ui {

namespace {

const char* const kBackupKey = "backupOriginals";

const char* const kNothingFound = "No supported audio files found (WAV, AIFF, MP3, FLAC, M4A).";
const char* const kNoneHasCode = "None of the selected files has an ISRC.";
const char* const kNoTargets = "There are no files to assign.";
const char* const kBadStart =
    "That is not a valid ISRC start. Use 2 letters, 3 letters or digits, 2 digits and a number "
    "from 0 to 99999.";
const char* const kPast99999 = "The sequence would go past 99999.";

QSettings userDefaults() {
    return QSettings(QStringLiteral("PELORIX"), QStringLiteral("PELORIX"));
}

std::filesystem::path fsPath(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

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

bool hasAudioExtension(const QString& path) {
    const auto& exts = AudioFormat::extensions();
    return exts.count(QFileInfo(path).suffix().toLower().toStdString()) != 0;
}

// Finder-like name order: case-insensitive, digit runs by value. Qt's collator ignores the
// numeric mode in the C locale, which is what a bare environment gives, so fall back to a real
// locale there.
QCollator nameCollator() {
    QLocale locale;
    if (locale.language() == QLocale::C) locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

// Space separators (Unicode Zs) and the tab; line breaks do not count.
bool isBlank(const QString& text) {
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return c == u'\t' || c.category() == QChar::Separator_Space;
    });
}

struct Probe {
    bool readable = false;
    QString format;
    std::optional<QString> code;
};

// Runs on a worker thread: touches nothing but the file.
Probe probe(const QString& path) {
    const auto p = fsPath(path);
    Probe result;
    try {
        result.format = QString::fromUtf8(AudioFormat::detect(p).label());
        result.readable = true;
    } catch (...) {
        return result;
    }
    try {
        if (auto text = AudioTagger::readISRC(p)) {
            if (auto isrc = ISRC::parse(*text)) result.code = QString::fromStdString(isrc->code());
        }
    } catch (...) {
        // An unreadable code is the same as no code: the row still lists the file.
    }
    return result;
}

// Runs on a worker thread. None on success, else the text to show in the row.
std::optional<QString> writeFile(const QString& path, const std::optional<std::string>& code,
                                 bool backup) {
    try {
        AudioTagger::writeISRC(fsPath(path), code, backup);
        return std::nullopt;
    } catch (const TagError& e) {
        return QString::fromStdString(e.message());
    } catch (const std::system_error& e) {
        return QString::fromStdString(e.code().message());
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("An unexpected error occurred.");
    }
}

QString plural(int n, const char* word) {
    return QString::number(n) + QLatin1Char(' ') + QLatin1String(word) +
           (n == 1 ? QString() : QStringLiteral("s"));
}

}  // namespace

struct Model::AddRun {
    QList<QUrl> urls;
    qsizetype next = 0;  // the URL being probed, or urls.size() when all are handled
    QStringList skipped;
};

struct Model::Batch {
    struct Target {
        QUuid id;
        QString path;
        std::optional<std::string> code;  // none removes the stored code
    };
    QList<Target> targets;
    qsizetype next = 0;
    bool removing = false;
    bool backup = false;
    int succeeded = 0;
    int failed = 0;
};

Model::Model(QObject* parent) : QObject(parent) {
    backup_ = userDefaults().value(QLatin1String(kBackupKey), false).toBool();
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

// ---- published fields ----

void Model::setNotice(std::optional<QString> text) {
    notice_ = std::move(text);
    emit noticeChanged();
}

void Model::setBusy(bool on) {
    busy_ = on;
    emit busyChanged(on);
}

void Model::setBackup(bool on) {
    backup_ = on;
    QSettings settings = userDefaults();
    settings.setValue(QLatin1String(kBackupKey), on);
    settings.sync();
    emit backupChanged(on);
}

void Model::setSelection(const QSet<QUuid>& ids) {
    // Only real changes are announced, so a view that mirrors the set cannot loop.
    if (ids == selection_) return;
    selection_ = ids;
    emit selectionChanged();
}

void Model::appendItem(Item item) {
    const int row = static_cast<int>(items_.size());
    emit itemAboutToBeInserted(row);
    items_.append(std::move(item));
    emit itemInserted(row);
    emit itemsChanged();
}

void Model::changeItem(int row, const Item& item) {
    items_[row] = item;
    emit itemChanged(row);
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

// ---- list ----

void Model::add(const QList<QUrl>& urls) {
    QList<QUrl> candidates;
    for (const QUrl& url : urls) {
        const QString path = localPathOf(url);
        if (path.isEmpty()) continue;
        const QFileInfo info(path);
        if (!info.exists()) continue;
        if (info.isDir()) {
            // Without QDir::Hidden the iterator neither lists nor enters hidden entries, and
            // it does not follow links to folders.
            QDirIterator it(path, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString entry = it.next();
                if (hasAudioExtension(entry)) candidates.append(standardized(entry));
            }
        } else if (hasAudioExtension(path)) {
            candidates.append(standardized(path));
        }
    }

    // Files already listed or still waiting in a running add sequence are left out, so the
    // same file added twice in quick succession is listed once.
    QSet<QUrl> known;
    for (const Item& item : items_) known.insert(item.url);
    for (const AddRun& run : addRuns_) {
        for (qsizetype i = run.next; i < run.urls.size(); ++i) known.insert(run.urls[i]);
    }
    QList<QUrl> fresh;
    for (const QUrl& url : candidates) {
        if (known.contains(url)) continue;
        known.insert(url);
        fresh.append(url);
    }

    const QCollator collator = nameCollator();
    std::stable_sort(fresh.begin(), fresh.end(), [&](const QUrl& a, const QUrl& b) {
        return collator.compare(a.fileName(), b.fileName()) < 0;
    });

    if (fresh.isEmpty()) {
        if (!urls.isEmpty()) setNotice(QString::fromUtf8(kNothingFound));
        return;
    }
    addRuns_.push_back(AddRun{std::move(fresh), 0, {}});
    probeNext(&addRuns_.back());
}

void Model::probeNext(AddRun* run) {
    if (run->next >= run->urls.size()) {
        finishAdd(run);
        return;
    }
    const QUrl url = run->urls[run->next];
    pool_.start([this, run, url] {
        const Probe result = probe(url.toLocalFile());
        QMetaObject::invokeMethod(
            this,
            [this, run, url, result] {
                if (!result.readable) {
                    run->skipped.append(url.fileName());
                } else if (std::none_of(items_.cbegin(), items_.cend(),
                                        [&](const Item& i) { return i.url == url; })) {
                    appendItem(Item{
                        QUuid::createUuid(), url, result.format, result.code, {}, Status::idle()});
                }
                ++run->next;
                probeNext(run);
            },
            Qt::QueuedConnection);
    });
}

void Model::finishAdd(AddRun* run) {
    if (!run->skipped.isEmpty()) {
        const auto n = run->skipped.size();
        QString text = QStringLiteral("Skipped ") + QString::number(n) +
                       QStringLiteral(" file(s) that are not readable audio: ") +
                       run->skipped.mid(0, 3).join(QStringLiteral(", "));
        if (n > 3) text += QChar(0x2026);
        setNotice(text);
    }
    addRuns_.remove_if([run](const AddRun& r) { return &r == run; });
    emit addFinished();
}

void Model::remove(const QSet<QUuid>& ids) {
    QList<int> rows;
    for (qsizetype i = 0; i < items_.size(); ++i) {
        if (ids.contains(items_[i].id)) rows.append(static_cast<int>(i));
    }
    if (!rows.isEmpty()) {
        removeRows(rows);
        emit itemsChanged();
    }
    if (selection_.intersects(ids)) {
        selection_.subtract(ids);
        emit selectionChanged();
    }
}

void Model::clear() {
    if (!items_.isEmpty()) {
        emit itemsAboutToBeRemoved(0, static_cast<int>(items_.size()) - 1);
        const int last = static_cast<int>(items_.size()) - 1;
        items_.clear();
        emit itemsRemoved(0, last);
        emit itemsChanged();
    }
    if (!selection_.isEmpty()) {
        selection_.clear();
        emit selectionChanged();
    }
    setNotice(std::nullopt);
}

// ---- code entry and readiness ----

void Model::setPending(const QUuid& id, const QString& text) {
    const int row = indexOf(id);
    if (row < 0) return;
    Item item = items_[row];
    item.pending = text;
    if (item.status.isFinished()) item.status = Status::idle();
    changeItem(row, item);
    emit itemsChanged();
}

void Model::commitFormat(const QUuid& id) {
    const int row = indexOf(id);
    if (row < 0) return;
    const auto isrc = parseCode(items_[row].pending);
    if (!isrc) return;
    Item item = items_[row];
    item.pending = QString::fromStdString(isrc->formatted());
    changeItem(row, item);
    emit itemsChanged();
}

QSet<QString> Model::duplicateCodes() const {
    QSet<QString> seen;
    QSet<QString> repeated;
    for (const Item& item : items_) {
        const auto isrc = parseCode(item.pending);
        if (!isrc) continue;
        const QString code = QString::fromStdString(isrc->code());
        if (seen.contains(code)) {
            repeated.insert(code);
        } else {
            seen.insert(code);
        }
    }
    return repeated;
}

Model::Readiness Model::readiness(const Item& item, const QSet<QString>& dups) {
    if (isBlank(item.pending)) return Readiness::empty;
    const auto isrc = parseCode(item.pending);
    if (!isrc) return Readiness::invalid;
    const QString code = QString::fromStdString(isrc->code());
    if (dups.contains(code)) return Readiness::duplicate;
    if (item.current && *item.current == code) return Readiness::upToDate;
    return Readiness::ready;
}

int Model::readyCount() const {
    const QSet<QString> dups = duplicateCodes();
    return static_cast<int>(std::count_if(items_.cbegin(), items_.cend(), [&](const Item& item) {
        return readiness(item, dups) == Readiness::ready;
    }));
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

void Model::writeAll() {
    if (busy_) return;
    const QSet<QString> dups = duplicateCodes();
    Batch batch;
    for (const Item& item : items_) {
        if (readiness(item, dups) != Readiness::ready) continue;
        batch.targets.append({item.id, item.path(), parseCode(item.pending)->code()});
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
            batch.targets.append({item.id, item.path(), std::nullopt});
        }
    }
    if (batch.targets.isEmpty()) {
        setNotice(QString::fromUtf8(kNoneHasCode));
        return;
    }
    startBatch(std::move(batch));
}

void Model::startBatch(Batch batch) {
    // The setting is read once: changing it mid-batch affects only the next batch.
    batch.backup = backup_;
    batch_.clear();
    batch_.push_back(std::move(batch));
    setBusy(true);
    setNotice(std::nullopt);
    batchStep();
}

void Model::batchStep() {
    Batch& batch = batch_.front();
    if (batch.next >= batch.targets.size()) {
        QString text;
        if (batch.removing) {
            text = batch.failed == 0 ? QStringLiteral("Removed the ISRC from ") +
                                           plural(batch.succeeded, "file") + QLatin1Char('.')
                                     : QStringLiteral("Removed %1, failed %2.")
                                           .arg(batch.succeeded)
                                           .arg(batch.failed);
        } else {
            text = batch.failed == 0 ? QStringLiteral("Wrote ") +
                                           plural(batch.succeeded, "ISRC code") + QLatin1Char('.')
                                     : QStringLiteral("Wrote %1, failed %2. See the Status column.")
                                           .arg(batch.succeeded)
                                           .arg(batch.failed);
        }
        batch_.clear();
        setBusy(false);
        setNotice(text);
        return;
    }

    const Batch::Target target = batch.targets[batch.next];
    setStatus(target.id, Status::writing());
    const bool backup = batch.backup;
    pool_.start([this, target, backup] {
        const std::optional<QString> failure = writeFile(target.path, target.code, backup);
        QMetaObject::invokeMethod(
            this,
            [this, target, failure] {
                Batch& b = batch_.front();
                if (failure) {
                    ++b.failed;
                    setStatus(target.id, Status::failed(*failure));
                } else {
                    ++b.succeeded;
                    // Rows removed meanwhile are not brought back; the file still counts.
                    const int row = indexOf(target.id);
                    if (row >= 0) {
                        Item item = items_[row];
                        if (target.code) {
                            const auto isrc = ISRC::parse(*target.code);
                            item.current = QString::fromStdString(isrc->code());
                            item.pending = QString::fromStdString(isrc->formatted());
                            item.status = Status::done(QStringLiteral("Written"));
                        } else {
                            item.current.reset();
                            item.pending.clear();
                            item.status = Status::done(QStringLiteral("Removed"));
                        }
                        changeItem(row, item);
                        emit itemsChanged();
                    }
                }
                ++b.next;
                batchStep();
            },
            Qt::QueuedConnection);
    });
}

// ---- sequences ----

std::optional<QString> Model::assignSequence(const QString& country, const QString& registrant,
                                             const QString& year, int start, bool onlySelected) {
    QList<int> rows;
    for (qsizetype i = 0; i < items_.size(); ++i) {
        if (!onlySelected || selection_.contains(items_[i].id)) rows.append(static_cast<int>(i));
    }
    if (rows.isEmpty()) return QString::fromUtf8(kNoTargets);
    if (start < 0 || start > 99999) return QString::fromUtf8(kBadStart);

    // Only the joined text must form a code, so "F" + "IABC" is as good as "FI" + "ABC".
    const QString text = country.toUpper() + registrant.toUpper() + year +
                         QStringLiteral("%1").arg(start, 5, 10, QLatin1Char('0'));
    const auto first = parseCode(text);
    if (!first) return QString::fromUtf8(kBadStart);
    if (static_cast<qint64>(first->designation()) + rows.size() - 1 > 99999) {
        return QString::fromUtf8(kPast99999);
    }

    for (qsizetype i = 0; i < rows.size(); ++i) {
        const auto isrc = first->advanced(static_cast<int>(i));
        Item item = items_[rows[i]];
        item.pending = QString::fromStdString(isrc->formatted());
        item.status = Status::idle();
        changeItem(rows[i], item);
    }
    emit itemsChanged();
    return std::nullopt;
}

}  // namespace pelorix::ui
