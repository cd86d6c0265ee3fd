// SPDX-License-Identifier: MIT
#include "ui/file_table.h"

#include "ui/brand.h"
#include "ui/symbols.h"

#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QTextLayout>

#include <cmath>

namespace pelorix::ui {

namespace {

// Close to where the style puts the text of plain cells and headers.
constexpr int kCellPadding = 4;
constexpr int kSymbolSize = 14;
constexpr int kSpinnerSteps = 12;

QColor cellTextColor(const QStyleOptionViewItem& opt, const QModelIndex& index) {
    if (opt.state & QStyle::State_Selected) return opt.palette.color(QPalette::HighlightedText);
    const QVariant fg = index.data(Qt::ForegroundRole);
    return fg.isValid() ? fg.value<QColor>() : opt.palette.color(QPalette::Text);
}

// Lays `text` out in `width`, at most `maxLines` lines; the last line shown is elided.
QStringList wrapLines(const QString& text, const QFont& font, int width, int maxLines) {
    QStringList lines;
    if (width <= 0) return {text};
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QFontMetrics fm(font);
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(width);
        if (lines.size() == maxLines - 1) {
            lines << fm.elidedText(text.mid(line.textStart()).simplified(), Qt::ElideRight, width);
            break;
        }
        lines << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return lines;
}

void drawSpinner(QPainter& p, const QRectF& box, int phase, const QColor& color) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(box.center());
    const qreal r = box.width() / 2;
    for (int i = 0; i < kSpinnerSteps; ++i) {
        QColor c = color;
        // The brightest spoke is the current phase; the others fade behind it.
        const int age = (phase - i + kSpinnerSteps) % kSpinnerSteps;
        c.setAlphaF(std::max(0.15, 1.0 - age / qreal(kSpinnerSteps)));
        p.setPen(QPen(c, std::max(1.2, r / 4), Qt::SolidLine, Qt::RoundCap));
        const qreal a = 2 * M_PI * i / kSpinnerSteps;
        p.drawLine(QPointF(std::cos(a) * r * 0.45, std::sin(a) * r * 0.45),
                   QPointF(std::cos(a) * r, std::sin(a) * r));
    }
    p.restore();
}

}  // namespace

// ---------------------------------------------------------------------------------------------

NewCodeDelegate::NewCodeDelegate(FileTableModel& table, QObject* parent)
    : CellDelegate(parent), table_(table) {}

QWidget* NewCodeDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                       const QModelIndex& index) const {
    auto* edit = new QLineEdit(parent);
    edit->setFrame(false);
    edit->setFont(index.data(Qt::FontRole).value<QFont>());
    edit->setPlaceholderText(index.data(FileTableModel::PlaceholderRole).toString());
    // Read out by what it is for; the placeholder is an example, not a description.
    edit->setAccessibleName(
        tr("New ISRC of %1")
            .arg(index.siblingAtColumn(FileTableModel::fileColumn).data().toString()));
    edit->setAccessibleDescription(
        tr("2 letters, 3 letters or digits, 2 digits of the year and a 5-digit number"));
    const QUuid id = index.data(FileTableModel::IdRole).toUuid();
    Model* model = &table_.model();
    // Every keystroke goes to the model as the whole text; Return tidies it. Focus changes do
    // nothing, so leaving the field keeps the text as typed.
    model->beginTyping(id);
    connect(edit, &QLineEdit::textEdited, model,
            [model, id](const QString& text) { model->setPending(id, text); });
    connect(edit, &QLineEdit::returnPressed, model, [model, id] { model->commitFormat(id); });
    editor_ = edit;
    return edit;
}

void NewCodeDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    auto* edit = qobject_cast<QLineEdit*>(editor);
    if (!edit) return;
    const QString text = index.data(Qt::EditRole).toString();
    if (edit->text() != text) edit->setText(text);
    QPalette pal = edit->palette();
    pal.setColor(QPalette::Text, index.data(Qt::ForegroundRole).value<QColor>());
    edit->setPalette(pal);
}

void NewCodeDelegate::destroyEditor(QWidget* editor, const QModelIndex& index) const {
    if (editor == editor_) editor_ = nullptr;
    QStyledItemDelegate::destroyEditor(editor, index);
}

void NewCodeDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                           const QModelIndex&) const {
    editor->setGeometry(option.rect.adjusted(2, 1, -2, -1));
}

QStyleOptionViewItem CellDelegate::paintBackground(QPainter* painter,
                                                   const QStyleOptionViewItem& option,
                                                   const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);
    return opt;
}

void NewCodeDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    const QStyleOptionViewItem opt = paintBackground(painter, option, index);

    QString text = index.data(Qt::DisplayRole).toString();
    QColor color = cellTextColor(opt, index);
    if (text.isEmpty()) {
        text = index.data(FileTableModel::PlaceholderRole).toString();
        // On a selected row the placeholder takes the selection's text colour, dimmed.
        color = (opt.state & QStyle::State_Selected) ? opt.palette.color(QPalette::HighlightedText)
                                                     : look::secondary(opt.palette);
        color.setAlphaF(color.alphaF() * 0.7F);
    } else if (!(index.flags() & Qt::ItemIsEditable)) {
        // While a batch runs the field is disabled.
        color = opt.palette.color(QPalette::Disabled, QPalette::Text);
    }
    painter->save();
    painter->setFont(opt.font);
    painter->setPen(color);
    const QRect r = opt.rect.adjusted(kCellPadding, 0, -kCellPadding, 0);
    painter->drawText(r, Qt::AlignVCenter | Qt::AlignLeft,
                      QFontMetrics(opt.font).elidedText(text, Qt::ElideRight, r.width()));
    painter->restore();
}

// ---------------------------------------------------------------------------------------------

void StatusDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const {
    const QStyleOptionViewItem opt = paintBackground(painter, option, index);

    const auto kind = Model::Status::Kind(index.data(FileTableModel::StatusKindRole).toInt());
    const QString text = index.data(Qt::DisplayRole).toString();
    const QString symbol = index.data(FileTableModel::SymbolRole).toString();
    const QColor color = cellTextColor(opt, index);
    QRect r = opt.rect.adjusted(kCellPadding, 0, -kCellPadding, 0);

    painter->save();
    painter->setFont(opt.font);
    const QFontMetrics fm(opt.font);
    if (kind == Model::Status::Kind::writing) {
        const QRectF box(r.left(), r.center().y() - 6.0, 12, 12);
        drawSpinner(*painter, box, phase_, color);
        r.setLeft(r.left() + 12 + 6);
    } else if (!symbol.isEmpty()) {
        const QRectF box(r.left(), r.center().y() - kSymbolSize / 2.0 + 0.5, kSymbolSize,
                         kSymbolSize);
        symbols::draw(*painter, symbol, box, color);
        r.setLeft(r.left() + kSymbolSize + 5);
    }
    painter->setPen(color);
    const int maxLines = kind == Model::Status::Kind::failed ? 2 : 1;
    const QStringList lines = wrapLines(text, opt.font, r.width(), maxLines);
    const int total = int(lines.size()) * fm.lineSpacing();
    int y = r.center().y() - total / 2;
    for (const QString& line : lines) {
        painter->drawText(QRect(r.left(), y, r.width(), fm.lineSpacing()),
                          Qt::AlignLeft | Qt::AlignVCenter, line);
        y += fm.lineSpacing();
    }
    painter->restore();
}

int StatusDelegate::failedHeight(const QString& text, const QFont& font, int cellWidth) {
    const int width = cellWidth - 2 * kCellPadding - kSymbolSize - 5;
    const auto lines = wrapLines(text, font, width, 2);
    return int(lines.size()) * QFontMetrics(font).lineSpacing() + 8;
}

QSize StatusDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const auto kind = Model::Status::Kind(index.data(FileTableModel::StatusKindRole).toInt());
    if (kind == Model::Status::Kind::failed && option.rect.width() > 0)
        size.setHeight(std::max(size.height(), failedHeight(index.data().toString(), option.font,
                                                            option.rect.width())));
    return size;
}

// ---------------------------------------------------------------------------------------------

FileTable::FileTable(FileTableModel& table, QWidget* parent)
    : QTableView(parent),
      table_(table),
      codeDelegate_(new NewCodeDelegate(table, this)),
      statusDelegate_(new StatusDelegate(this)) {
    setModel(&table_);
    setItemDelegateForColumn(FileTableModel::newColumn, codeDelegate_);
    setItemDelegateForColumn(FileTableModel::statusColumn, statusDelegate_);
    setSelectionBehavior(SelectRows);
    setSelectionMode(ExtendedSelection);
    // A header click sorts the Model's list; it starts in folder-then-name order.
    horizontalHeader()->setSortIndicator(FileTableModel::fileColumn, Qt::AscendingOrder);
    setSortingEnabled(true);
    // Tab moves on to the window's buttons instead of from cell to cell.
    setTabKeyNavigation(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideMiddle);
    setShowGrid(false);
    setAlternatingRowColors(true);
    // Not on a click of the selected cell: its editing would begin only after the double-click
    // interval, and keys typed before that went elsewhere.
    setEditTriggers(EditTriggers(AllEditTriggers) & ~EditTriggers(SelectedClicked));
    setFrameShape(QFrame::NoFrame);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setVerticalScrollMode(ScrollPerPixel);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(std::max(24, fontMetrics().height() + 10));

    QHeaderView* header = horizontalHeader();
    header->setHighlightSections(false);
    header->setSectionsMovable(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setMinimumSectionSize(kMinimumWidths[FileTableModel::formatColumn]);
    for (int c = 0; c < FileTableModel::columnCount_; ++c)
        header->resizeSection(c, kIdealWidths[c]);
    // The file names take the spare width.
    header->setSectionResizeMode(FileTableModel::fileColumn, QHeaderView::Stretch);
    header->setStretchLastSection(false);
    fitHeaders();
    // QHeaderView knows one minimum for all sections; hold each column to its own.
    connect(header, &QHeaderView::sectionResized, this, [this, header](int col, int, int size) {
        if (col >= 0 && col < FileTableModel::columnCount_ && size < minimumWidths_[col]) {
            header->resizeSection(col, minimumWidths_[col]);
            return;
        }
        if (col == FileTableModel::statusColumn) fitRows(0, table_.rowCount() - 1);
    });

    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &FileTable::pushSelectionToModel);
    connect(&table_.model(), &Model::selectionChanged, this, &FileTable::pullSelectionFromModel);
    connect(&table_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { fitRows(first, last); });
    connect(&table_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& tl, const QModelIndex& br) {
                if (br.column() >= FileTableModel::statusColumn) fitRows(tl.row(), br.row());
            });
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        const QModelIndex index = indexAt(pos);
        emit contextMenuWanted(contextIds(index.isValid() ? index.row() : -1),
                               viewport()->mapToGlobal(pos));
    });

    spinner_.setInterval(80);
    connect(&spinner_, &QTimer::timeout, this, [this] {
        phase_ = (phase_ + 1) % kSpinnerSteps;
        statusDelegate_->setSpinnerPhase(phase_);
        const int x = columnViewportPosition(FileTableModel::statusColumn);
        viewport()->update(
            QRect(x, 0, columnWidth(FileTableModel::statusColumn), viewport()->height()));
    });
    connect(&table_.model(), &Model::busyChanged, this, [this](bool busy) {
        if (busy) {
            closeCodeEditor();
            spinner_.start();
        } else {
            spinner_.stop();
        }
    });
}

QSet<QUuid> FileTable::contextIds(int row) const {
    if (row < 0 || row >= table_.rowCount()) return {};
    if (selectionModel()->isRowSelected(row, {})) return table_.model().selection();
    return {table_.idAt(row)};
}

void FileTable::closeCodeEditor() {
    if (QLineEdit* editor = codeDelegate_->openEditor())
        closeEditor(editor, QAbstractItemDelegate::NoHint);
}

void FileTable::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        verticalHeader()->setDefaultSectionSize(std::max(24, fontMetrics().height() + 10));
        fitHeaders();
    }
}

void FileTable::fitHeaders() {
    // Each column at least as wide as its header's text with the sort indicator beside it.
    QHeaderView* header = horizontalHeader();
    const QFontMetrics fm(header->font());
    for (int c = 0; c < FileTableModel::columnCount_; ++c) {
        const QString title = table_.headerData(c, Qt::Horizontal).toString();
        minimumWidths_[c] = std::max(kMinimumWidths[c], fm.horizontalAdvance(title) + 36);
        if (header->sectionSize(c) < minimumWidths_[c]) header->resizeSection(c, minimumWidths_[c]);
    }
    header->setMinimumSectionSize(
        *std::min_element(std::begin(minimumWidths_), std::end(minimumWidths_)));
}

void FileTable::keyboardSearch(const QString& search) {
    if (currentIndex().column() == FileTableModel::newColumn) return;
    QTableView::keyboardSearch(search);
}

void FileTable::keyPressEvent(QKeyEvent* event) {
    const QModelIndex current = currentIndex();
    const bool plain =
        !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (state() != EditingState && plain && current.isValid()) {
        if ((event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace)) {
            QList<QPair<QUuid, QString>> texts;
            for (const QModelIndex& index : selectionModel()->selectedRows())
                texts.append({table_.idAt(index.row()), QString()});
            if (!table_.model().busy()) table_.model().setPendings(texts);
            event->accept();
            return;
        }
        const QString text = event->text();
        if (current.column() == FileTableModel::newColumn && !text.isEmpty() &&
            text.at(0).isPrint()) {
            // The key starts this row's field and is its first character.
            if (edit(current, AnyKeyPressed, event)) {
                event->accept();
                return;
            }
            if (QLineEdit* editor = codeDelegate_->openEditor()) {
                QApplication::sendEvent(editor, event);
                return;
            }
        }
    }
    QTableView::keyPressEvent(event);
}

void FileTable::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    const bool code = editor == codeDelegate_->openEditor();
    const QModelIndex at = currentIndex();
    if (code && hint == QAbstractItemDelegate::RevertModelCache) table_.model().revertTyping();
    QTableView::closeEditor(editor, code && hint == QAbstractItemDelegate::SubmitModelCache
                                        ? QAbstractItemDelegate::NoHint
                                        : hint);
    if (code && hint == QAbstractItemDelegate::SubmitModelCache &&
        at.row() + 1 < table_.rowCount()) {
        const QModelIndex next = table_.index(at.row() + 1, FileTableModel::newColumn);
        selectionModel()->setCurrentIndex(
            next, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
}

void FileTable::pushSelectionToModel() {
    if (syncing_ || table_.restructuring()) return;
    QSet<QUuid> ids;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        ids.insert(table_.idAt(index.row()));
    syncing_ = true;
    table_.model().setSelection(ids);
    syncing_ = false;
}

void FileTable::pullSelectionFromModel() {
    if (syncing_) return;
    const QSet<QUuid>& wanted = table_.model().selection();
    QItemSelection selection;
    const int rows = table_.rowCount();
    const int lastColumn = FileTableModel::columnCount_ - 1;
    for (int row = 0; row < rows;) {
        if (!wanted.contains(table_.idAt(row))) {
            ++row;
            continue;
        }
        int end = row;
        while (end + 1 < rows && wanted.contains(table_.idAt(end + 1))) ++end;
        selection.select(table_.index(row, 0), table_.index(end, lastColumn));
        row = end + 1;
    }
    syncing_ = true;
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    syncing_ = false;
}

void FileTable::fitRows(int first, int last) {
    // Rows are one line high; a failure message may take a second line.
    const int normal = verticalHeader()->defaultSectionSize();
    for (int row = std::max(0, first); row <= last && row < table_.rowCount(); ++row) {
        const auto kind = Model::Status::Kind(table_.index(row, FileTableModel::statusColumn)
                                                  .data(FileTableModel::StatusKindRole)
                                                  .toInt());
        if (kind == Model::Status::Kind::failed) {
            const QString text = table_.index(row, FileTableModel::statusColumn).data().toString();
            setRowHeight(row, std::max(normal, StatusDelegate::failedHeight(
                                                   text, font(),
                                                   columnWidth(FileTableModel::statusColumn))));
        } else if (rowHeight(row) != normal) {
            setRowHeight(row, normal);
        }
    }
}

}  // namespace pelorix::ui
