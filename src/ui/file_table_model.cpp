// SPDX-License-Identifier: MIT
#include "ui/file_table_model.h"

#include "core/isrc.h"
#include "ui/brand.h"

#include <QGuiApplication>

#include <algorithm>

namespace pelorix::ui {

namespace {
const QString kDash = QStringLiteral("\u2014");
}

FileTableModel::FileTableModel(Model& model, QObject* parent)
    : QAbstractTableModel(parent), model_(model), palette_(QGuiApplication::palette()) {
    dark_ = isDarkPalette(palette_);
    connect(&model_, &Model::itemAboutToBeInserted, this, [this](int row) {
        restructuring_ = true;
        beginInsertRows({}, row, row);
    });
    connect(&model_, &Model::itemInserted, this, [this](int row) {
        // A new row normally has no code typed yet and then changes neither the duplicates
        // nor the ready count.
        if (!model_.items()[row].pending.isEmpty()) markCodesChanged();
        endInsertRows();
        restructuring_ = false;
    });
    connect(&model_, &Model::itemsAboutToBeRemoved, this, [this](int first, int last) {
        restructuring_ = true;
        beginRemoveRows({}, first, last);
    });
    connect(&model_, &Model::itemsRemoved, this, [this](int, int) {
        markCodesChanged();
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
        readyCount_ = int(std::count_if(
            model_.items().begin(), model_.items().end(), [&dupSet](const Model::Item& item) {
                return Model::readiness(item, dupSet) == Model::Readiness::ready;
            }));
        readyValid_ = true;
    }
    return readyCount_;
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
            return {item.status.text, QStringLiteral("checkmark.circle.fill"), look::green(dark_)};
        case Kind::failed:
            return {item.status.text, QStringLiteral("exclamationmark.triangle.fill"),
                    look::red(dark_)};
        case Kind::writing:
            return {QStringLiteral("Writing\u2026"), QString(), QColor()};
        case Kind::idle:
            break;
    }
    switch (Model::readiness(item, dupSet)) {
        case Model::Readiness::empty:
            return {item.current ? QStringLiteral("Has ISRC") : QStringLiteral("No ISRC"),
                    QString(), look::secondary(palette_)};
        case Model::Readiness::ready:
            return {QStringLiteral("Ready"), QStringLiteral("circle.dotted"),
                    Brand::accent().resolve(dark_)};
        case Model::Readiness::upToDate:
            return {QStringLiteral("Up to date"), QStringLiteral("checkmark.circle"),
                    look::secondary(palette_)};
        case Model::Readiness::invalid:
            return {QStringLiteral("Not a valid ISRC"), QStringLiteral("exclamationmark.circle"),
                    look::red(dark_)};
        case Model::Readiness::duplicate:
            return {QStringLiteral("Used twice in this list"),
                    QStringLiteral("exclamationmark.circle"), look::red(dark_)};
    }
    return {};
}

QVariant FileTableModel::data(const QModelIndex& index, int role) const {
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
            if (role == Qt::ToolTipRole) return item.path();
            break;
        case formatColumn:
            if (role == Qt::DisplayRole) return item.format;
            if (role == Qt::ForegroundRole) return look::secondary(palette_);
            break;
        case currentColumn:
            if (role == Qt::DisplayRole)
                return current ? QString::fromStdString(current->formatted()) : kDash;
            if (role == Qt::ForegroundRole)
                return current ? look::primary(palette_) : look::secondary(palette_);
            if (role == Qt::FontRole) return look::monospaced(QGuiApplication::font());
            break;
        case newColumn:
            if (role == Qt::DisplayRole || role == Qt::EditRole) return item.pending;
            if (role == PlaceholderRole) return QStringLiteral("CC-XXX-YY-NNNNN");
            if (role == Qt::FontRole) return look::monospaced(QGuiApplication::font());
            if (role == Qt::ForegroundRole) {
                const auto r = Model::readiness(item, dups());
                if (r == Model::Readiness::invalid || r == Model::Readiness::duplicate)
                    return look::red(dark_);
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
            return QStringLiteral("File");
        case formatColumn:
            return QStringLiteral("Format");
        case currentColumn:
            return QStringLiteral("Current ISRC");
        case newColumn:
            return QStringLiteral("New ISRC");
        case statusColumn:
            return QStringLiteral("Status");
        default:
            return {};
    }
}

Qt::ItemFlags FileTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == newColumn && !model_.busy()) f |= Qt::ItemIsEditable;
    return f;
}

bool FileTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || index.column() != newColumn || !(flags(index) & Qt::ItemIsEditable))
        return false;
    model_.setPending(idAt(index.row()), value.toString());
    return true;
}

}  // namespace pelorix::ui
