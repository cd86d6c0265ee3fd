// SPDX-License-Identifier: MIT
#include "ui/file_table_model.h"

#include "core/isrc.h"
#include "ui/adapters.h"
#include "ui/brand.h"
#include "ui/symbols.h"

#include <QFileInfo>
#include <QGuiApplication>

#include <algorithm>

namespace pelorix::ui {

namespace {
const QString kDash = QStringLiteral("\u2014");
}  // namespace

FileTableModel::FileTableModel(Model& model, QObject* parent)
    : QAbstractTableModel(parent), model_(model), palette_(QGuiApplication::palette()) {
    dark_ = isDarkPalette(palette_);
    connect(&model_, &Model::itemsAboutToBeInserted, this, [this](int first, int last) {
        restructuring_ = true;
        beginInsertRows({}, first, last);
    });
    connect(&model_, &Model::itemsInserted, this, [this](int first, int last) {
        // New rows normally have no code typed yet and then change neither the duplicates
        // nor the ready count.
        for (int row = first; row <= last; ++row) {
            if (!model_.items()[row].pending.isEmpty()) markCodesChanged();
        }
        namesValid_ = false;
        endInsertRows();
        restructuring_ = false;
    });
    connect(&model_, &Model::itemsAboutToBeReordered, this, [this] {
        restructuring_ = true;
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        reordering_ = persistentIndexList();
        reorderingIds_.clear();
        for (const QModelIndex& index : reordering_) reorderingIds_ << idAt(index.row());
    });
    connect(&model_, &Model::itemsReordered, this, [this] {
        QHash<QUuid, int> rows;
        for (int row = 0; row < rowCount(); ++row) rows.insert(idAt(row), row);
        QModelIndexList to;
        for (qsizetype i = 0; i < reordering_.size(); ++i)
            to << index(rows.value(reorderingIds_[i]), reordering_[i].column());
        changePersistentIndexList(reordering_, to);
        reordering_.clear();
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
        restructuring_ = false;
    });
    connect(&model_, &Model::itemsAboutToBeRemoved, this, [this](int first, int last) {
        restructuring_ = true;
        beginRemoveRows({}, first, last);
    });
    connect(&model_, &Model::itemsRemoved, this, [this](int, int) {
        markCodesChanged();
        namesValid_ = false;
        endRemoveRows();
        restructuring_ = false;
    });
    connect(&model_, &Model::itemChanged, this, [this](int row) {
        markCodesChanged();
        emit dataChanged(index(row, 0), index(row, columnCount_ - 1));
    });
    // Sent once after a group of row changes (a sequence touches many rows at once).
    connect(&model_, &Model::itemsChanged, this, &FileTableModel::refreshDuplicates);
    // Busy changes whether the code fields can be edited.
    connect(&model_, &Model::busyChanged, this, [this] {
        if (rowCount() > 0) emit dataChanged(index(0, newColumn), index(rowCount() - 1, newColumn));
    });
}

int FileTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(model_.items().size());
}

int FileTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columnCount_;
}

QUuid FileTableModel::idAt(int row) const {
    const auto& items = model_.items();
    return row >= 0 && row < items.size() ? items[row].id : QUuid();
}

void FileTableModel::setPalette(const QPalette& palette) {
    palette_ = palette;
    dark_ = isDarkPalette(palette);
    if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount_ - 1));
}

const QSet<QString>& FileTableModel::dups() const {
    if (!dupsValid_) {
        dups_ = model_.duplicateCodes();
        dupsValid_ = true;
    }
    return dups_;
}

int FileTableModel::readyCount() const {
    if (!readyValid_) {
        const QSet<QString>& dupSet = dups();
        readyCount_ = 0;
        replaceCount_ = 0;
        for (const Model::Item& item : model_.items()) {
            const auto r = Model::readiness(item, dupSet);
            readyCount_ += r == Model::Readiness::ready;
            replaceCount_ += r == Model::Readiness::replaces;
        }
        readyValid_ = true;
    }
    return readyCount_;
}

int FileTableModel::replaceCount() const {
    readyCount();
    return replaceCount_;
}

QString FileTableModel::displayName(int row) const {
    const auto& items = model_.items();
    folderName(row);  // counts the names
    const Model::Item& item = items[row];
    if (nameCounts_.value(item.fileName()) < 2) return item.fileName();
    // Folders are put in front, nearest first, until no other row with the same name ends the
    // same way.
    const QStringList parts = item.path().split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (qsizetype n = 2; n <= parts.size(); ++n) {
        const QString tail = parts.mid(parts.size() - n).join(QLatin1Char('/'));
        const bool unique = std::none_of(items.begin(), items.end(), [&](const Model::Item& o) {
            return o.id != item.id && o.fileName() == item.fileName() &&
                   (o.path() == tail || o.path().endsWith(QLatin1Char('/') + tail));
        });
        if (unique) return tail;
    }
    return item.path();
}

QString FileTableModel::folderName(int row) const {
    const auto& items = model_.items();
    if (!namesValid_) {
        nameCounts_.clear();
        commonFolder_.clear();
        for (qsizetype i = 0; i < items.size(); ++i) {
            ++nameCounts_[items[i].fileName()];
            const QString folder = QFileInfo(items[i].path()).path();
            if (i == 0) {
                commonFolder_ = folder;
                continue;
            }
            while (commonFolder_.size() > 1 && folder != commonFolder_ &&
                   !folder.startsWith(commonFolder_ + QLatin1Char('/')))
                commonFolder_ = QFileInfo(commonFolder_).path();
        }
        namesValid_ = true;
    }
    const QString folder = QFileInfo(items[row].path()).path();
    if (folder == commonFolder_) return QFileInfo(folder).fileName();
    return folder.mid(commonFolder_.size() + (commonFolder_.endsWith(QLatin1Char('/')) ? 0 : 1));
}

bool FileTableModel::needsAttention(int row) const {
    return Model::needsAttention(model_.items()[row], dups());
}

void FileTableModel::sort(int column, Qt::SortOrder order) {
    using Key = Model::SortKey;
    static const Key keys[] = {Key::location, Key::location, Key::title,
                               Key::artist,   Key::duration, Key::format,
                               Key::current,  Key::pending,  Key::status};
    if (column >= 0 && column < columnCount_) model_.sort(keys[column], order);
}

void FileTableModel::markCodesChanged() {
    if (!codesChanged_) {
        codesChanged_ = true;
        dupsBefore_.reset();
        if (dupsValid_) dupsBefore_ = dups_;
    }
    dupsValid_ = false;
    readyValid_ = false;
}

void FileTableModel::refreshDuplicates() {
    if (!codesChanged_) return;
    codesChanged_ = false;
    if (dupsBefore_ && dups() == *dupsBefore_) return;
    if (rowCount() > 0) emit dataChanged(index(0, newColumn), index(rowCount() - 1, statusColumn));
}

FileTableModel::StatusLook FileTableModel::statusLook(const Model::Item& item,
                                                      const QSet<QString>& dupSet) const {
    using Kind = Model::Status::Kind;
    switch (item.status.kind) {
        case Kind::done:
            return {item.status.text, QStringLiteral("status-done"), look::green(dark_)};
        case Kind::failed:
            return {item.status.text, QStringLiteral("dialog-warning"), look::red(dark_)};
        case Kind::writing:
            return {tr("Writing\u2026"), QString(), QColor()};
        case Kind::idle:
            break;
    }
    switch (Model::readiness(item, dupSet)) {
        case Model::Readiness::empty:
            return {item.current ? tr("Has ISRC") : tr("No ISRC"), QString(),
                    look::secondary(palette_)};
        case Model::Readiness::ready:
            return {tr("Ready"), QStringLiteral("status-ready"), Brand::accent().resolve(dark_)};
        case Model::Readiness::replaces:
            return {tr("Replaces %1").arg(formattedISRC(*item.current)),
                    QStringLiteral("status-replaces"), look::orange(dark_)};
        case Model::Readiness::upToDate:
            return {tr("Up to date"), QStringLiteral("status-up-to-date"),
                    look::secondary(palette_)};
        case Model::Readiness::invalid:
            return {tr("Not a valid ISRC"), QStringLiteral("status-invalid"), look::red(dark_)};
        case Model::Readiness::duplicate:
            return {tr("Used twice in this list"), QStringLiteral("status-invalid"),
                    look::red(dark_)};
        case Model::Readiness::unreadable:
            return {tr("Cannot read this file"), QStringLiteral("dialog-warning"),
                    look::red(dark_)};
    }
    return {};
}

QVariant FileTableModel::data(const QModelIndex& index, int role) const {
    const QVariant value = cellData(index, role);
    // Every signal colour is held to a readable contrast with the table's background.
    if (role == Qt::ForegroundRole && value.canConvert<QColor>())
        return look::readable(value.value<QColor>(), palette_);
    return value;
}

QVariant FileTableModel::cellData(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Model::Item& item = model_.items()[index.row()];
    if (role == IdRole) return item.id;
    if (role == ReadinessRole) return int(Model::readiness(item, dups()));

    // The stored code is normally valid; anything else shows as missing.
    std::optional<ISRC> current;
    if (item.current) current = ISRC::parse(item.current->toStdString());

    switch (index.column()) {
        case fileColumn:
            if (role == Qt::DisplayRole) return item.fileName();
            // With what the recording rule found, or could not check.
            if (role == Qt::ToolTipRole)
                return item.recordingNote.isEmpty()
                           ? item.path()
                           : item.path() + QLatin1Char('\n') + item.recordingNote;
            break;
        case titleColumn:
        case artistColumn:
            if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
                return index.column() == titleColumn ? item.title : item.artist;
            break;
        case durationColumn:
            if (role == Qt::DisplayRole && item.seconds > 0) {
                const int s = int(item.seconds + 0.5);
                return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
            }
            if (role == Qt::TextAlignmentRole)
                return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
            if (role == Qt::ForegroundRole) return look::secondary(palette_);
            break;
        case folderColumn:
            if (role == Qt::DisplayRole) return folderName(index.row());
            if (role == Qt::ToolTipRole) return QFileInfo(item.path()).path();
            if (role == Qt::ForegroundRole) return look::secondary(palette_);
            break;
        case formatColumn:
            // A content that does not match the name's extension is pointed out.
            if (role == Qt::DisplayRole)
                return item.named.isEmpty() ? item.format
                                            : tr("%1 (not %2)").arg(item.format, item.named);
            if (role == Qt::ToolTipRole && !item.named.isEmpty())
                return tr("The file holds %1 audio, though its name says %2.")
                    .arg(item.format, item.named);
            if (role == Qt::ForegroundRole)
                return item.named.isEmpty() ? look::secondary(palette_) : look::orange(dark_);
            break;
        case currentColumn:
            if (role == Qt::DisplayRole)
                return current ? QString::fromStdString(current->formatted()) : kDash;
            if (role == Qt::DecorationRole && !item.conflict.isEmpty()) {
                return symbols::icon(QStringLiteral("dialog-warning"), look::orange(dark_),
                                     look::orange(dark_));
            }
            if (role == Qt::ToolTipRole && !item.conflict.isEmpty()) {
                return tr("Places in this file hold different codes; writing puts the new code "
                          "in all of them.\n%1")
                    .arg(item.conflict);
            }
            if (role == Qt::ForegroundRole) {
                if (!item.conflict.isEmpty()) return look::orange(dark_);
                return current ? look::primary(palette_) : look::secondary(palette_);
            }
            if (role == Qt::FontRole) return look::monospaced(QGuiApplication::font());
            break;
        case newColumn:
            if (role == Qt::DisplayRole || role == Qt::EditRole) return item.pending;
            if (role == PlaceholderRole) return tr("CC-XXX-YY-NNNNN");
            if (role == Qt::FontRole) return look::monospaced(QGuiApplication::font());
            if (role == Qt::ForegroundRole) {
                const auto r = Model::readiness(item, dups());
                if (r == Model::Readiness::invalid || r == Model::Readiness::duplicate)
                    return look::red(dark_);
                if (r == Model::Readiness::replaces) return look::orange(dark_);
                return look::primary(palette_);
            }
            break;
        case statusColumn: {
            if (role != Qt::DisplayRole && role != Qt::ForegroundRole && role != SymbolRole &&
                role != StatusKindRole && role != Qt::ToolTipRole)
                break;
            if (role == StatusKindRole) return int(item.status.kind);
            if (role == Qt::ToolTipRole) {
                if (item.status.kind == Model::Status::Kind::failed) return item.status.text;
                if (!item.readError.isEmpty()) return item.readError;
                break;
            }
            const StatusLook look = statusLook(item, dups());
            if (role == Qt::DisplayRole) return look.text;
            if (role == SymbolRole) return look.symbol;
            if (role == Qt::ForegroundRole && look.color.isValid()) return look.color;
            break;
        }
        default:
            break;
    }
    return {};
}

QVariant FileTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case fileColumn:
            return tr("File");
        case folderColumn:
            return tr("Folder");
        case titleColumn:
            return tr("Title");
        case artistColumn:
            return tr("Artist");
        case durationColumn:
            return tr("Duration");
        case formatColumn:
            return tr("Format");
        case currentColumn:
            return tr("Current ISRC");
        case newColumn:
            return tr("New ISRC");
        case statusColumn:
            return tr("Status");
        default:
            return {};
    }
}

Qt::ItemFlags FileTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == newColumn && !model_.busy() &&
        model_.items()[index.row()].readError.isEmpty())
        f |= Qt::ItemIsEditable;
    return f;
}

bool FileTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || index.column() != newColumn || !(flags(index) & Qt::ItemIsEditable))
        return false;
    model_.setPending(idAt(index.row()), value.toString());
    return true;
}

}  // namespace pelorix::ui
