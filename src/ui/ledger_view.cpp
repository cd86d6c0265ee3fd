// SPDX-License-Identifier: MIT
#include "ui/ledger_view.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <sstream>

#include "core/ledger/export.h"
#include "ui/adapters.h"

namespace pelorix::ui {

namespace {

QString fromStd(const std::string& text) {
    return QString::fromStdString(text);
}

// A time of the ledger (UTC) in the user's time zone, to the second.
QString localTime(const std::string& utc) {
    const QDateTime t = QDateTime::fromString(fromStd(utc), Qt::ISODate);
    return t.isValid() ? t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                       : fromStd(utc);
}

}  // namespace

LedgerCodesModel::LedgerCodesModel(QObject* parent) : QAbstractTableModel(parent) {}

void LedgerCodesModel::show(ledger::Ledger* ledger, const QString& search) {
    beginResetModel();
    ledger_ = ledger;
    search_ = search.trimmed().toStdString();
    rows_.clear();
    total_ = 0;
    if (ledger_) {
        total_ = ledger_->countCodes(search_);
        rows_ = ledger_->findCodes(search_, {}, kPage);
    }
    endResetModel();
}

QString LedgerCodesModel::codeAt(int row) const {
    return row >= 0 && std::size_t(row) < rows_.size() ? fromStd(rows_[std::size_t(row)].code)
                                                       : QString();
}

int LedgerCodesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int LedgerCodesModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(Column::columns);
}

QVariant LedgerCodesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || std::size_t(index.row()) >= rows_.size()) return {};
    const ledger::CodeSummary& c = rows_[std::size_t(index.row())];
    if (role == Qt::TextAlignmentRole && index.column() == filesColumn)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    switch (index.column()) {
        case codeColumn:
            return formattedISRC(fromStd(c.code));
        case titleColumn:
            return fromStd(c.title);
        case artistColumn:
            return fromStd(c.artist);
        case filesColumn:
            return QString::number(c.files);
        case lastColumn:
            return localTime(c.lastWritten);
        default:
            return {};
    }
}

QVariant LedgerCodesModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case codeColumn:
            return tr("ISRC");
        case titleColumn:
            return tr("Title");
        case artistColumn:
            return tr("Artist");
        case filesColumn:
            return tr("Files");
        case lastColumn:
            return tr("Last Written");
        default:
            return {};
    }
}

bool LedgerCodesModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && ledger_ && rows_.size() < total_;
}

void LedgerCodesModel::fetchMore(const QModelIndex& parent) {
    if (!canFetchMore(parent)) return;
    // The page after the last code shown: an index walk, however far down the list.
    std::vector<ledger::CodeSummary> page;
    try {
        page = ledger_->findCodes(search_, rows_.back().code, kPage);
    } catch (const ledger::LedgerError&) {
        page.clear();
    }
    if (page.empty()) {
        total_ = rows_.size();  // the ledger changed meanwhile; what is shown is all there is
        return;
    }
    beginInsertRows({}, int(rows_.size()), int(rows_.size() + page.size()) - 1);
    rows_.insert(rows_.end(), std::make_move_iterator(page.begin()),
                 std::make_move_iterator(page.end()));
    endInsertRows();
}

LedgerView::LedgerView(const QString& ledgerFile, SaveChooser chooseSaveFile, QWidget* parent)
    : QDialog(parent), file_(ledgerFile), chooseSaveFile_(std::move(chooseSaveFile)) {
    setWindowTitle(tr("Code Ledger"));
    try {
        ledger_ = std::make_unique<ledger::Ledger>(fsPath(file_), ledger::Ledger::Access::readOnly);
    } catch (const ledger::LedgerError& e) {
        problem_ = QFileInfo::exists(file_)
                       ? fromStd(e.what())
                       : tr("No code has been recorded yet: there is no ledger at %1.")
                             .arg(QDir::toNativeSeparators(file_));
    }

    auto* column = new QVBoxLayout(this);
    summary_ = new QLabel(this);
    summary_->setWordWrap(true);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(summary_);

    auto* searchRow = new QHBoxLayout;
    auto* searchLabel = new QLabel(tr("&Search:"), this);
    search_ = new QLineEdit(this);
    search_->setPlaceholderText(tr("Code, title or file"));
    search_->setAccessibleName(tr("Search the ledger"));
    search_->setAccessibleDescription(
        tr("Shows the codes whose code, title or file holds the text"));
    search_->setClearButtonEnabled(true);
    search_->setEnabled(ledger_ != nullptr);
    searchLabel->setBuddy(search_);
    searchRow->addWidget(searchLabel);
    searchRow->addWidget(search_, 1);
    column->addLayout(searchRow);
    typing_ = new QTimer(this);
    typing_->setSingleShot(true);
    typing_->setInterval(250);
    connect(search_, &QLineEdit::textChanged, typing_, qOverload<>(&QTimer::start));
    connect(typing_, &QTimer::timeout, this, &LedgerView::searchNow);
    connect(search_, &QLineEdit::returnPressed, this, &LedgerView::searchNow);

    auto* split = new QSplitter(Qt::Vertical, this);
    codes_ = new QTableView(split);
    model_ = new LedgerCodesModel(this);
    codes_->setModel(model_);
    codes_->setAccessibleName(tr("Codes"));
    codes_->setSelectionBehavior(QAbstractItemView::SelectRows);
    codes_->setSelectionMode(QAbstractItemView::SingleSelection);
    codes_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    codes_->setAlternatingRowColors(true);
    codes_->verticalHeader()->hide();
    codes_->horizontalHeader()->setStretchLastSection(true);
    const QFontMetrics fm(font());
    codes_->setColumnWidth(LedgerCodesModel::codeColumn,
                           fm.horizontalAdvance(QStringLiteral("MM-MMM-00-000000")));
    codes_->setColumnWidth(LedgerCodesModel::titleColumn, fm.averageCharWidth() * 28);
    codes_->setColumnWidth(LedgerCodesModel::artistColumn, fm.averageCharWidth() * 20);
    codes_->setColumnWidth(LedgerCodesModel::filesColumn, fm.averageCharWidth() * 7);
    connect(codes_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { showHistory(model_->codeAt(current.row())); });

    auto* lower = new QWidget(split);
    auto* lowerColumn = new QVBoxLayout(lower);
    lowerColumn->setContentsMargins(0, 0, 0, 0);
    historyLabel_ = new QLabel(tr("Select a code to see its history."), lower);
    lowerColumn->addWidget(historyLabel_);
    history_ = new QTableWidget(0, 6, lower);
    history_->setHorizontalHeaderLabels(
        {tr("Time"), tr("Action"), tr("File"), tr("Previous ISRC"), tr("User"), tr("Host")});
    history_->setAccessibleName(tr("History of the code"));
    history_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    history_->setSelectionBehavior(QAbstractItemView::SelectRows);
    history_->verticalHeader()->hide();
    history_->horizontalHeader()->setStretchLastSection(true);
    historyLabel_->setBuddy(history_);
    lowerColumn->addWidget(history_);
    split->addWidget(codes_);
    split->addWidget(lower);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    column->addWidget(split, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    export_ = buttons->addButton(tr("&Export\u2026"), QDialogButtonBox::ActionRole);
    export_->setToolTip(tr("Save every code with its recording and files as CSV or JSON"));
    export_->setEnabled(ledger_ != nullptr);
    connect(export_, &QPushButton::clicked, this, &LedgerView::exportCodes);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);

    searchNow();
    resize(std::max(760, fm.averageCharWidth() * 110), 560);
}

LedgerView::~LedgerView() {
    if (exporting_) exporting_->wait();  // its answer is dropped with the view
}

void LedgerView::searchNow() {
    typing_->stop();
    try {
        model_->show(ledger_.get(), search_->text());
        if (ledger_) problem_.clear();
    } catch (const ledger::LedgerError& e) {
        problem_ = fromStd(e.what());
        model_->show(nullptr, {});
    }
    showHistory({});
    refreshSummary();
}

void LedgerView::refreshSummary() {
    if (!problem_.isEmpty()) {
        summary_->setText(problem_);
        return;
    }
    const QString where = QDir::toNativeSeparators(file_);
    summary_->setText(
        search_->text().trimmed().isEmpty()
            ? tr("%n code(s) in %1. This view changes nothing.", "", int(model_->total()))
                  .arg(where)
            : tr("%n code(s) found in %1.", "", int(model_->total())).arg(where));
}

void LedgerView::showHistory(const QString& code) {
    history_->setRowCount(0);
    if (code.isEmpty() || !ledger_) {
        historyLabel_->setText(tr("Select a code to see its history."));
        return;
    }
    std::vector<ledger::Entry> entries;
    try {
        entries = ledger_->entries(code.toStdString());
    } catch (const ledger::LedgerError& e) {
        historyLabel_->setText(fromStd(e.what()));
        return;
    }
    const std::string wanted = code.toStdString();
    historyLabel_->setText(tr("History of %1:").arg(formattedISRC(code)));
    history_->setRowCount(int(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ledger::Entry& e = entries[i];
        QString action;
        if (e.action == ledger::Action::removal) {
            action = tr("Removed");
        } else if (e.code != wanted) {
            action = tr("Replaced by %1").arg(formattedISRC(fromStd(e.code.value_or(""))));
        } else if (e.action == ledger::Action::found) {
            action = tr("Found");
        } else {
            action = e.pending ? tr("Being written") : tr("Written");
        }
        const QString path = fromPath(e.file.identity.path);
        const QStringList cells{
            localTime(e.time),
            action,
            QDir::toNativeSeparators(path),
            e.file.carried ? formattedISRC(fromStd(*e.file.carried)) : QString(),
            fromStd(e.user),
            fromStd(e.host)};
        for (int c = 0; c < cells.size(); ++c) {
            auto* cell = new QTableWidgetItem(cells[c]);
            cell->setToolTip(cells[c]);
            history_->setItem(int(i), c, cell);
        }
    }
    history_->resizeColumnsToContents();
}

void LedgerView::exportCodes() {
    if (!ledger_ || exporting_) return;
    const QString path =
        chooseSaveFile_(this, tr("Export the Code Ledger"), tr("ISRC ledger.csv"),
                        tr("CSV files (*.csv);;JSON lines (*.json);;All files (*)"));
    if (path.isEmpty()) return;
    const auto format =
        QFileInfo(path).suffix().compare(QLatin1String("json"), Qt::CaseInsensitive) == 0
            ? ledger::ExportFormat::json
            : ledger::ExportFormat::csv;
    export_->setEnabled(false);
    summary_->setText(tr("Exporting the ledger to %1\u2026").arg(QDir::toNativeSeparators(path)));
    // The whole ledger is read for the record (seconds for a large one): on a thread of its
    // own, through a connection of its own, while the view goes on answering.
    exporting_ = QThread::create([this, file = fsPath(file_), path, format] {
        QString problem;
        std::size_t count = 0;
        try {
            ledger::Ledger own(file, ledger::Ledger::Access::readOnly);
            const std::vector<ledger::CodeRecord> codes = own.codes();
            count = codes.size();
            std::ostringstream out;
            ledger::exportCodes(codes, format, out);
            const std::string bytes = out.str();
            QSaveFile saved(path);
            if (!saved.open(QIODevice::WriteOnly) ||
                saved.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()) ||
                !saved.commit())
                problem = tr("%1 could not be saved: %2").arg(path, saved.errorString());
        } catch (const ledger::LedgerError& e) {
            problem = fromStd(e.what());
        }
        QMetaObject::invokeMethod(
            this, [this, problem, count, path] { exported(problem, count, path); },
            Qt::QueuedConnection);
    });
    connect(exporting_, &QThread::finished, exporting_, &QObject::deleteLater);
    exporting_->start();
}

void LedgerView::exported(const QString& problem, std::size_t count, const QString& path) {
    export_->setEnabled(true);
    if (!problem.isEmpty()) {
        refreshSummary();
        QMessageBox::warning(this, tr("Export the Code Ledger"), problem);
        return;
    }
    summary_->setText(
        tr("Exported %n code(s) to %1.", "", int(count)).arg(QDir::toNativeSeparators(path)));
}

}  // namespace pelorix::ui
