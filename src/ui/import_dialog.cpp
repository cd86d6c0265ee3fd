// SPDX-License-Identifier: MIT
#include "ui/import_dialog.h"
#include "ui/adapters.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>

#include "core/isrc.h"

namespace pelorix::ui {

namespace {

// What the line does; a match says when a file carries another code, which a write replaces
// only after asking.
QString resultText(const ImportLine& line, const QHash<QUuid, Model::Item>& rows) {
    using Result = ImportLine::Result;
    switch (line.result) {
        case Result::matched: {
            const auto code = ISRC::parse(line.code.toStdString());
            for (const QUuid& id : line.rows) {
                const auto& current = rows.value(id).current;
                if (code && current && *current != QString::fromStdString(code->code())) {
                    return ImportDialog::tr("New ISRC; the file carries %1")
                        .arg(formattedISRC(*current));
                }
            }
            return ImportDialog::tr("New ISRC");
        }
        case Result::invalidCode:
        case Result::noRow:
        case Result::ambiguous:
        case Result::conflict:
        case Result::problem:
            return line.message;
    }
    return {};
}

// A row as the preview names it: its folder and file name, so that CD1/01 and CD2/01 differ.
QString placeOf(const Model::Item& row) {
    return QFileInfo(row.path()).dir().dirName() + QLatin1Char('/') + row.fileName();
}

}  // namespace

ImportDialog::ImportDialog(const ImportPlan& plan, const QList<Model::Item>& rows,
                           const QString& listName, QWidget* parent)
    : QDialog(parent), plan_(plan) {
    setWindowTitle(tr("Import Codes"));
    QHash<QUuid, Model::Item> byId;
    for (const Model::Item& row : rows) byId.insert(row.id, row);

    auto* column = new QVBoxLayout(this);
    const int given = int(plan.codes.size());
    const int idle = int(std::count_if(plan.lines.cbegin(), plan.lines.cend(), [](auto& l) {
        return l.result != ImportLine::Result::matched;
    }));
    QStringList parts{tr("%n row(s) take a New ISRC from %1.", "", given).arg(listName)};
    if (plan.byOrder)
        parts << tr("The list holds codes only: they go to the rows in the order shown.");
    if (idle > 0) parts << tr("%n line(s) of the list give no code.", "", idle);
    if (!plan.rowsWithoutCode.isEmpty())
        parts << tr("%n row(s) get no code.", "", int(plan.rowsWithoutCode.size()));
    parts << tr("Nothing is written to the files until you write them.");
    summary_ = new QLabel(parts.join(QLatin1Char(' ')), this);
    summary_->setWordWrap(true);
    column->addWidget(summary_);

    if (plan.codeColumns.size() > 1) {
        // Several columns may hold the codes (a catalogue number beside the ISRC, an old code
        // beside the new one): the user picks the one to read.
        auto* row = new QHBoxLayout;
        auto* label = new QLabel(tr("Codes from the column:"), this);
        codeColumn_ = new QComboBox(this);
        label->setBuddy(codeColumn_);
        codeColumn_->addItems(plan.codeColumns);
        codeColumn_->setCurrentIndex(int(plan.codeColumns.indexOf(plan.codeColumn)));
        connect(codeColumn_, &QComboBox::activated, this,
                [this](int index) { emit codeColumnChosen(codeColumn_->itemText(index)); });
        row->addWidget(label);
        row->addWidget(codeColumn_, 1);
        column->addLayout(row);
    }
    if (plan.ways.size() > 1) {
        // The sheet's columns allow several ways to find the files: the user picks one.
        auto* row = new QHBoxLayout;
        auto* label = new QLabel(tr("Find the files by:"), this);
        match_ = new QComboBox(this);
        label->setBuddy(match_);
        const QHash<lists::MatchBy, QString> names{
            {lists::MatchBy::path, tr("Path")},
            {lists::MatchBy::name, tr("File name")},
            {lists::MatchBy::title, tr("Title (tag, or the name without its track number)")},
            {lists::MatchBy::track, tr("Track and disc (tags, or the number and the folder)")}};
        for (lists::MatchBy way : plan.ways) {
            match_->addItem(names.value(way), int(way));
            if (plan.by == way) match_->setCurrentIndex(match_->count() - 1);
        }
        connect(match_, &QComboBox::activated, this, [this](int index) {
            emit matchChosen(lists::MatchBy(match_->itemData(index).toInt()));
        });
        row->addWidget(label);
        row->addWidget(match_, 1);
        column->addLayout(row);
    }

    lines_ = new QTableWidget(int(plan.lines.size()), 5, this);
    lines_->setHorizontalHeaderLabels(
        {tr("Line"), tr("In the list"), tr("Code"), tr("Row"), tr("Result")});
    lines_->verticalHeader()->hide();
    lines_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lines_->setSelectionBehavior(QAbstractItemView::SelectRows);
    for (qsizetype i = 0; i < plan.lines.size(); ++i) {
        const ImportLine& line = plan.lines[i];
        QStringList targets;
        for (const QUuid& id : line.rows) targets << placeOf(byId.value(id));
        const QStringList cells{line.line > 0 ? QString::number(line.line) : QString(), line.entry,
                                line.code, targets.join(QStringLiteral(", ")),
                                resultText(line, byId)};
        for (int c = 0; c < cells.size(); ++c) {
            auto* cell = new QTableWidgetItem(cells[c]);
            cell->setToolTip(cells[c]);
            if (line.result != ImportLine::Result::matched && c == 4)
                cell->setForeground(QColor(0xC0, 0x39, 0x2B));
            lines_->setItem(int(i), c, cell);
        }
    }
    lines_->resizeColumnsToContents();
    lines_->horizontalHeader()->setStretchLastSection(true);
    column->addWidget(lines_, 3);

    column->addWidget(new QLabel(tr("Rows that get no code:"), this));
    uncoded_ = new QListWidget(this);
    for (const QUuid& id : plan.rowsWithoutCode) uncoded_->addItem(placeOf(byId.value(id)));
    column->addWidget(uncoded_, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    apply_ = buttons->addButton(tr("Set %n Code(s)", "", given), QDialogButtonBox::AcceptRole);
    apply_->setEnabled(given > 0);
    apply_->setDefault(given > 0);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);
    // Large enough to read every line's reason without widening a column, within the screen.
    int width = 0;
    for (int c = 0; c < lines_->columnCount(); ++c) width += lines_->columnWidth(c);
    const QRect screen = this->screen()->availableGeometry();
    resize(std::clamp(width + 80, 720, std::max(720, screen.width() * 9 / 10)),
           std::clamp(int(plan.lines.size()) * lines_->verticalHeader()->defaultSectionSize() + 300,
                      480, std::max(480, screen.height() * 8 / 10)));
}

}  // namespace pelorix::ui
