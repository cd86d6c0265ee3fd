// SPDX-License-Identifier: MIT
#include "ui/main_window.h"

#include "ui/brand.h"
#include "ui/drop_zone.h"
#include "ui/file_table.h"
#include "ui/file_table_model.h"
#include "ui/sequence_sheet.h"
#include "ui/symbols.h"
#include "ui/widgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace pelorix::ui {

namespace {

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1);
    return line;
}

void setTextColor(QWidget* w, const QColor& c, QPalette::ColorRole role = QPalette::WindowText) {
    QPalette pal = w->palette();
    pal.setColor(role, c);
    w->setPalette(pal);
}

}  // namespace

QString MainWindow::summaryText(int count) {
    if (count == 0) return QStringLiteral("No files");
    return QStringLiteral("%1 file%2").arg(count).arg(count == 1 ? "" : "s");
}

QString MainWindow::writeButtonTitle(bool busy, int readyCount) {
    if (busy) return QStringLiteral("Writing\u2026");
    if (readyCount >= 1) return QStringLiteral("Write ISRC (%1)").arg(readyCount);
    return QStringLiteral("Write ISRC");
}

MainWindow::MainWindow(Model& model, PlatformServices services, QStringList markLocations,
                       QWidget* parent)
    : QMainWindow(parent),
      model_(model),
      services_(std::move(services)),
      markLocations_(std::move(markLocations)),
      tableModel_(new FileTableModel(model, this)) {
    setWindowTitle(QStringLiteral("PELORIX"));
    setObjectName(QStringLiteral("main"));
    setAcceptDrops(true);

    QMenu* fileMenu = menuBar()->addMenu(QStringLiteral("&File"));
    addFilesAction_ = fileMenu->addAction(QStringLiteral("Add Files\u2026"));
    addFilesAction_->setShortcut(QKeySequence::Open);
    connect(addFilesAction_, &QAction::triggered, this, &MainWindow::addFilesCommand);
    fileMenu->addSeparator();
    QAction* quit = fileMenu->addAction(QStringLiteral("Quit"));
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, this, &QWidget::close);

    auto* central = new QWidget(this);
    central->setMinimumSize(820, 480);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildHeader());
    dividers_ << divider(central);
    column->addWidget(dividers_.back());

    body_ = new QStackedWidget(central);
    dropZone_ = new DropZone(body_);
    table_ = new FileTable(*tableModel_, body_);
    body_->addWidget(dropZone_);
    body_->addWidget(table_);
    column->addWidget(body_, 1);
    dividers_ << divider(central);
    column->addWidget(dividers_.back());
    column->addWidget(buildFooter());
    setCentralWidget(central);

    highlight_ = new DropHighlight(central);
    highlight_->setGeometry(central->rect());
    highlight_->raise();
    central->installEventFilter(this);

    connect(dropZone_, &DropZone::addFilesClicked, this, &MainWindow::openPanel);
    connect(table_, &FileTable::contextMenuWanted, this,
            [this](const QSet<QUuid>& ids, const QPoint& at) { contextMenu(ids)->popup(at); });

    connect(&model_, &Model::itemsChanged, this, &MainWindow::refresh);
    connect(&model_, &Model::selectionChanged, this, &MainWindow::refresh);
    connect(&model_, &Model::busyChanged, this, &MainWindow::refresh);
    connect(&model_, &Model::noticeChanged, this, &MainWindow::refreshNotice);
    connect(&model_, &Model::backupChanged, this, [this](bool on) {
        if (backup_->isChecked() != on) backup_->setChecked(on);
    });

    // The window's default content size; the menu bar comes on top of it.
    resize(980, 600 + menuBar()->sizeHint().height());
    applyLook();
    refresh();
    refreshNotice();
}

MainWindow::~MainWindow() = default;

QWidget* MainWindow::buildHeader() {
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(16, 10, 16, 10);
    row->setSpacing(12);

    markLabel_ = new QLabel(header);
    markLabel_->setFixedSize(34, 31);
    markLabel_->setAlignment(Qt::AlignCenter);
    row->addWidget(markLabel_, 0, Qt::AlignVCenter);

    auto* titleBlock = new QVBoxLayout;
    titleBlock->setSpacing(1);
    titleBlock->setContentsMargins(0, 0, 0, 0);
    title_ = new BrandTitle(header);
    titleBlock->addWidget(title_, 0, Qt::AlignLeft);
    tagline_ = new QLabel(QStringLiteral("RARO DODA ZIDIRO"), header);
    titleBlock->addWidget(tagline_, 0, Qt::AlignLeft);
    row->addLayout(titleBlock);
    row->addStretch(1);

    auto button = [header, row](const QString& title) {
        auto* b = new QPushButton(title, header);
        b->setFocusPolicy(Qt::TabFocus);
        row->addWidget(b);
        return b;
    };
    addButton_ = button(QStringLiteral("Add Files\u2026"));
    sequenceButton_ = button(QStringLiteral("Sequence\u2026"));
    removeButton_ = button(QStringLiteral("Remove ISRC"));
    clearButton_ = button(QStringLiteral("Clear"));
    connect(addButton_, &QPushButton::clicked, this, &MainWindow::openPanel);
    connect(sequenceButton_, &QPushButton::clicked, this, &MainWindow::showSequenceSheet);
    connect(removeButton_, &QPushButton::clicked, this, &MainWindow::confirmRemoval);
    connect(clearButton_, &QPushButton::clicked, &model_, &Model::clear);
    return header;
}

QWidget* MainWindow::buildFooter() {
    auto* footer = new QWidget(this);
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(16, 10, 16, 10);
    row->setSpacing(14);
    const QFont callout = look::font(look::TextStyle::callout, font());

    summary_ = new QLabel(footer);
    summary_->setFont(callout);
    row->addWidget(summary_);
    notice_ = new QLabel(footer);
    notice_->setFont(callout);
    notice_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The notice takes the flexible space, so a long one cannot push the controls out of the
    // window; without a notice the label stays, empty.
    notice_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    notice_->setMinimumWidth(0);
    row->addWidget(notice_, 1);

    backup_ = new QCheckBox(QStringLiteral("Keep a backup copy of each file"), footer);
    backup_->setFont(callout);
    backup_->setChecked(model_.backup());
    connect(backup_, &QCheckBox::toggled, this, [this](bool on) {
        if (model_.backup() != on) model_.setBackup(on);
    });
    row->addWidget(backup_);

    writeButton_ = new QPushButton(footer);
    writeButton_->setMinimumWidth(130);
    writeButton_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    row->addWidget(writeButton_);
    connect(writeButton_, &QPushButton::clicked, &model_, &Model::writeAll);
    // The same as pressing the button, and like the button only while it is enabled.
    auto shortcut = [this](QKeySequence keys) {
        auto* s = new QShortcut(keys, this);
        s->setContext(Qt::WindowShortcut);
        connect(s, &QShortcut::activated, this, [this] {
            if (writeButton_->isEnabled()) model_.writeAll();
        });
        return s;
    };
    writeShortcut_ = shortcut(QKeySequence(Qt::CTRL | Qt::Key_Return));
    writeShortcutEnter_ = shortcut(QKeySequence(Qt::CTRL | Qt::Key_Enter));
    return footer;
}

void MainWindow::refresh() {
    const int count = int(model_.items().size());
    const bool busy = model_.busy();
    const int ready = tableModel_->readyCount();
    body_->setCurrentWidget(count == 0 ? static_cast<QWidget*>(dropZone_) : table_);
    sequenceButton_->setEnabled(count > 0);
    removeButton_->setEnabled(!model_.selection().isEmpty() && !busy);
    clearButton_->setEnabled(count > 0 && !busy);
    summary_->setText(summaryText(count));
    writeButton_->setText(writeButtonTitle(busy, ready));
    writeButton_->setEnabled(ready >= 1 && !busy);
}

void MainWindow::refreshNotice() {
    const auto& notice = model_.notice();
    notice_->setText(notice.value_or(QString()));
    notice_->setToolTip(notice.value_or(QString()));
}

void MainWindow::loadMark() {
    // Looked up afresh each time the header is dressed; the header works without it.
    const auto mark = Brand::brandMark(markLocations_, devicePixelRatioF());
    if (!mark) {
        markLabel_->clear();
        markLabel_->hide();
        return;
    }
    const QSize logical = (QSizeF(mark->size()) / mark->devicePixelRatio()).toSize();
    const QSize fitted = logical.scaled(QSize(34, 31), Qt::KeepAspectRatio);
    QPixmap scaled =
        mark->scaled(fitted * devicePixelRatioF(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(devicePixelRatioF());
    markLabel_->setPixmap(scaled);
    markLabel_->show();
}

void MainWindow::applyLook() {
    styling_ = true;
    const QPalette base = QApplication::palette();
    const bool dark = isDarkPalette(base);
    const QColor accent = Brand::accent().resolve(dark);
    const QColor secondary = look::secondary(base);

    // The accent tints every control of the window: selections, checks, focus.
    QPalette pal = palette();
    pal.setColor(QPalette::Highlight, accent);
    pal.setColor(QPalette::HighlightedText, dark ? QColor(0x0B, 0x1F, 0x23) : QColor(Qt::white));
    pal.setColor(QPalette::Link, accent);
    setPalette(pal);

    title_->setColors(Brand::text().resolve(dark), accent);
    QFont taglineFont = font();
    const qreal scale = bodyPixelSize(this) / 13.0;
    taglineFont.setPixelSize(std::max(7, int(std::lround(9.0 * scale))));
    taglineFont.setWeight(QFont::DemiBold);
    taglineFont.setLetterSpacing(QFont::AbsoluteSpacing, 2.2 * scale);
    tagline_->setFont(taglineFont);
    setTextColor(tagline_, Brand::tagline().resolve(dark));

    const QColor primary = look::primary(base);
    QColor disabled = primary;
    disabled.setAlphaF(0.3F);
    addButton_->setIcon(symbols::icon(QStringLiteral("plus"), primary, disabled));
    sequenceButton_->setIcon(symbols::icon(QStringLiteral("number"), primary, disabled));
    clearButton_->setIcon(symbols::icon(QStringLiteral("xmark"), primary, disabled));
    const QColor red = look::red(dark);
    QColor redDisabled = red;
    redDisabled.setAlphaF(0.35F);
    removeButton_->setIcon(symbols::icon(QStringLiteral("minus.circle"), red, redDisabled));
    // A destructive command reads in red.
    QPalette removePal = removeButton_->palette();
    removePal.setColor(QPalette::Active, QPalette::ButtonText, red);
    removePal.setColor(QPalette::Inactive, QPalette::ButtonText, red);
    removePal.setColor(QPalette::Disabled, QPalette::ButtonText, redDisabled);
    removeButton_->setPalette(removePal);

    setTextColor(summary_, secondary);
    setTextColor(notice_, accent);
    makeProminent(writeButton_, accent, dark, true);
    dropZone_->applyLook(accent, secondary, dark);
    highlight_->setColor(accent);
    QColor line = primary;
    line.setAlphaF(dark ? 0.18F : 0.14F);
    for (QWidget* d : dividers_) {
        d->setAutoFillBackground(true);
        setTextColor(d, line, QPalette::Window);
        setTextColor(d, line, QPalette::WindowText);
    }
    tableModel_->setPalette(pal);
    loadMark();
    styling_ = false;
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    const auto type = event->type();
    if (!styling_ && (type == QEvent::ApplicationPaletteChange || type == QEvent::PaletteChange ||
                      type == QEvent::FontChange)) {
        applyLook();
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == centralWidget() && event->type() == QEvent::Resize) {
        highlight_->setGeometry(centralWidget()->rect());
        highlight_->raise();
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- actions ----

void MainWindow::openPanel() {
    const QList<QUrl> urls = services_.openPanel(
        this, QStringLiteral("Choose audio files (WAV, AIFF, MP3, FLAC, M4A) or folders"));
    if (!urls.isEmpty()) model_.add(urls);
}

void MainWindow::addFilesCommand() {
    const QList<QUrl> urls = services_.openPanel(this, QString());
    if (!urls.isEmpty()) model_.add(urls);
}

void MainWindow::showSequenceSheet() {
    if (sheet_) return;
    showSequence_ = true;
    sheet_ = new SequenceSheet(model_, this);
    sheet_->setAttribute(Qt::WA_DeleteOnClose);
    connect(sheet_, &QDialog::finished, this, [this] { showSequence_ = false; });
    sheet_->open();
}

void MainWindow::confirmRemoval() {
    if (removal_) return;
    confirmRemove_ = true;
    auto* box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QStringLiteral("PELORIX"));
    box->setText(QStringLiteral("Remove the ISRC from the selected files?"));
    box->setInformativeText(
        QStringLiteral("The audio is not touched. Other tags stay as they are."));
    QPushButton* remove =
        box->addButton(QStringLiteral("Remove ISRC"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    connect(box, &QMessageBox::finished, this, [this, box, remove] {
        // The selection as it is when the choice is made.
        if (box->clickedButton() == remove) model_.removeISRC(model_.selection());
        confirmRemove_ = false;
    });
    removal_ = box;
    box->open();
}

QMenu* MainWindow::contextMenu(const QSet<QUuid>& ids) {
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    connect(menu->addAction(QStringLiteral("Remove from list")), &QAction::triggered, this,
            [this, ids] { model_.remove(ids); });
    connect(menu->addAction(QStringLiteral("Remove ISRC from file\u2026")), &QAction::triggered,
            this, [this, ids] {
                model_.setSelection(ids);
                confirmRemoval();
            });
    connect(menu->addAction(QStringLiteral("Show in File Manager")), &QAction::triggered, this,
            [this, ids] { revealFiles(ids); });
    return menu;
}

void MainWindow::revealFiles(const QSet<QUuid>& ids) {
    // In list order, whatever the order of the selection.
    QList<QUrl> urls;
    for (const Model::Item& item : model_.items()) {
        if (ids.contains(item.id)) urls << item.url;
    }
    if (!urls.isEmpty()) services_.revealFiles(urls);
}

// ---- drag and drop ----

bool MainWindow::targeted() const {
    return highlight_->targeted();
}

void MainWindow::setTargeted(bool on) {
    highlight_->setTargeted(on);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (droppedUrls(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    setTargeted(true);
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
    if (droppedUrls(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void MainWindow::dragLeaveEvent(QDragLeaveEvent* event) {
    setTargeted(false);
    event->accept();
}

void MainWindow::dropEvent(QDropEvent* event) {
    setTargeted(false);
    const QList<QUrl> urls = droppedUrls(event->mimeData());
    if (urls.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // The drop is reported handled at once; each dropped item is added by its own call, from
    // the event loop, after the drag has finished.
    for (const QUrl& url : urls) {
        QMetaObject::invokeMethod(
            &model_, [model = &model_, url] { model->add({url}); }, Qt::QueuedConnection);
    }
}

}  // namespace pelorix::ui
