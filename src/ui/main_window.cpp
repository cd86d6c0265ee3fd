// SPDX-License-Identifier: MIT
#include "ui/main_window.h"

#include "ui/adapters.h"
#include "ui/brand.h"
#include "ui/drop_zone.h"
#include "ui/file_table.h"
#include "ui/file_table_model.h"
#include "ui/import_dialog.h"
#include "ui/ledger_view.h"
#include "ui/sequence_dialog.h"
#include "ui/symbols.h"
#include "ui/widgets.h"

#include "core/formats/format.h"
#include "core/isrc.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QShortcut>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace pelorix::ui {

namespace {

const char* const kShownColumnsKey = "shownColumns";
const char* const kImportMatchKey = "importMatchBy";
const char* const kImportCodeColumnKey = "importCodeColumn";

// The most files a confirmation names one by one.
constexpr int kListedFiles = 5;

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
    if (count == 0) return tr("No files");
    return tr("%n file(s)", "", count);
}

QString MainWindow::writeButtonTitle(bool busy, int writableCount) {
    if (busy) return tr("Writing\u2026");
    if (writableCount >= 1) return tr("Write ISRC (%1)").arg(writableCount);
    return tr("Write ISRC");
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
    table_->setAccessibleName(tr("Files"));
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

    buildMenus();
    connect(dropZone_, &DropZone::addFilesClicked, this, &MainWindow::addFiles);
    connect(table_, &FileTable::contextMenuWanted, this,
            [this](const QSet<QUuid>& ids, const QPoint& at) { contextMenu(ids)->popup(at); });

    connect(&model_, &Model::itemsChanged, this, &MainWindow::refresh);
    connect(&model_, &Model::selectionChanged, this, &MainWindow::refresh);
    connect(&model_, &Model::busyChanged, this, &MainWindow::refresh);
    connect(&model_, &Model::noticeChanged, this, &MainWindow::refreshNotice);
    connect(&model_, &Model::progressChanged, this, &MainWindow::refreshProgress);
    connect(&model_, &Model::historyChanged, this, &MainWindow::refresh);
    connect(tableModel_, &QAbstractItemModel::layoutChanged, this, &MainWindow::applyFilter);
    connect(&model_, &Model::busyChanged, this, [this](bool busy) {
        if (busy) return;
        // A batch with failures shows the first of them.
        for (int row = 0; row < tableModel_->rowCount(); ++row) {
            if (model_.items()[row].status.kind == Model::Status::Kind::failed) {
                table_->scrollTo(tableModel_->index(row, FileTableModel::statusColumn));
                break;
            }
        }
    });
    connect(&model_, &Model::busyChanged, this, [this](bool busy) {
        if (busy || !closeAfterWrite_) return;
        closeAfterWrite_ = false;
        // Closed once everything asked for is in the files; failures keep the window open.
        if (tableModel_->readyCount() + tableModel_->replaceCount() == 0) {
            closeConfirmed_ = true;
            close();
        }
    });
    connect(&model_, &Model::backupChanged, this, [this](bool on) {
        if (backup_->isChecked() != on) backup_->setChecked(on);
    });

    // The window's default content size; the menu bar comes on top of it.
    resize(980, 600 + menuBar()->sizeHint().height());
    applyLook();
    refresh();
    refreshNotice();
    refreshProgress();
}

MainWindow::~MainWindow() = default;

QAction* MainWindow::action(const QString& name) const {
    return actions_.value(name);
}

void MainWindow::buildMenus() {
    auto add = [this](QMenu* menu, const QString& name, const QString& text, QKeySequence keys,
                      auto slot) {
        QAction* a = menu->addAction(text);
        a->setShortcut(keys);
        a->setShortcutContext(Qt::WindowShortcut);
        connect(a, &QAction::triggered, this, slot);
        actions_.insert(name, a);
        return a;
    };
    QMenu* file = menuBar()->addMenu(tr("&File"));
    addFilesAction_ = add(file, QStringLiteral("add"), tr("&Add Files\u2026"), QKeySequence::Open,
                          [this] { addFilesCommand(); });
    add(file, QStringLiteral("reload"), tr("&Reload"), QKeySequence::Refresh,
        [this] { model_.reload(); });
    file->addSeparator();
    add(file, QStringLiteral("sequence"), tr("&Sequence\u2026"), QKeySequence(tr("Ctrl+Shift+N")),
        [this] { showSequenceDialog(); });
    add(file, QStringLiteral("removeISRC"), tr("Remove IS&RC\u2026"),
        QKeySequence(tr("Ctrl+Shift+Del")), [this] { confirmRemoval(); });
    file->addSeparator();
    add(file, QStringLiteral("import"), tr("&Import Codes\u2026"), QKeySequence(tr("Ctrl+I")),
        [this] { importCodes(); });
    add(file, QStringLiteral("exportList"), tr("&Export List\u2026"), QKeySequence(),
        [this] { exportList(); });
    add(file, QStringLiteral("exportReport"), tr("Export Re&port\u2026"), QKeySequence(),
        [this] { exportReport(); });
    add(file, QStringLiteral("ledger"), tr("&Code Ledger\u2026"), QKeySequence(),
        [this] { showLedger(); });
    file->addSeparator();
    addLedgerActions(file);
    file->addSeparator();
    QAction* axml = file->addAction(tr("Add an axml Carrier to WAV Files"));
    axml->setCheckable(true);
    axml->setChecked(model_.addAxml());
    axml->setToolTip(tr("Also store the code in the EBU Core XML (axml) of a WAV that has none"));
    connect(axml, &QAction::toggled, &model_, &Model::setAddAxml);
    actions_.insert(QStringLiteral("addAxml"), axml);
    file->addSeparator();
    QAction* quit =
        add(file, QStringLiteral("quit"), tr("&Quit"), QKeySequence::Quit, [this] { close(); });
    // Some platform themes give Quit no keys at all; Ctrl+Q works under every one.
    QList<QKeySequence> quitKeys = QKeySequence::keyBindings(QKeySequence::Quit);
    if (!quitKeys.contains(QKeySequence(Qt::CTRL | Qt::Key_Q)))
        quitKeys.prepend(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setShortcuts(quitKeys);

    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    add(edit, QStringLiteral("undo"), tr("&Undo"), QKeySequence::Undo, [this] { model_.undo(); });
    add(edit, QStringLiteral("redo"), tr("&Redo"), QKeySequence(tr("Ctrl+Shift+Z")),
        [this] { model_.redo(); });
    edit->addSeparator();
    add(edit, QStringLiteral("cut"), tr("Cu&t"), QKeySequence::Cut, [this] {
        QGuiApplication::clipboard()->setText(copyText());
        clearNewCodes(model_.selection());
    });
    add(edit, QStringLiteral("copy"), tr("&Copy"), QKeySequence::Copy,
        [this] { QGuiApplication::clipboard()->setText(copyText()); });
    add(edit, QStringLiteral("paste"), tr("&Paste"), QKeySequence::Paste,
        [this] { pasteText(QGuiApplication::clipboard()->text()); });
    add(edit, QStringLiteral("delete"), tr("&Delete New ISRC"), QKeySequence::Delete,
        [this] { clearNewCodes(model_.selection()); });
    edit->addSeparator();
    add(edit, QStringLiteral("selectAll"), tr("Select &All"), QKeySequence::SelectAll,
        [this] { table_->selectAll(); });

    QMenu* view = menuBar()->addMenu(tr("&View"));
    QAction* problems =
        add(view, QStringLiteral("problems"), tr("Show Only Rows That Need &Attention"),
            QKeySequence(tr("Ctrl+Shift+A")), [this] { applyFilter(); });
    problems->setCheckable(true);
    add(view, QStringLiteral("nextProblem"), tr("&Next Problem"), QKeySequence(Qt::Key_F8),
        [this] { showNextProblem(); });
    // What the files say about themselves, in columns of their own when asked for (remembered).
    view->addSeparator();
    const QStringList shown = settings().value(QLatin1String(kShownColumnsKey)).toStringList();
    for (const auto& [name, column, text] :
         {std::tuple(QStringLiteral("title"), int(FileTableModel::titleColumn),
                     tr("&Title Column")),
          {QStringLiteral("artist"), int(FileTableModel::artistColumn), tr("A&rtist Column")},
          {QStringLiteral("duration"), int(FileTableModel::durationColumn),
           tr("D&uration Column")}}) {
        QAction* a = view->addAction(text);
        a->setCheckable(true);
        a->setChecked(shown.contains(name));
        table_->setColumnHidden(column, !a->isChecked());
        connect(a, &QAction::toggled, this, [this, name, column](bool on) {
            table_->setColumnHidden(column, !on);
            QSettings s = settings();
            QStringList names = s.value(QLatin1String(kShownColumnsKey)).toStringList();
            names.removeAll(name);
            if (on) names << name;
            s.setValue(QLatin1String(kShownColumnsKey), names);
        });
        actions_.insert(name + QStringLiteral("Column"), a);
    }
}

QWidget* MainWindow::buildHeader() {
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(16, 10, 16, 10);
    row->setSpacing(12);

    markLabel_ = new QLabel(header);
    markLabel_->setAccessibleName(tr("%1 logo").arg(QStringLiteral("PELORIX")));
    markLabel_->setFixedSize(34, 31);
    markLabel_->setAlignment(Qt::AlignCenter);
    row->addWidget(markLabel_, 0, Qt::AlignVCenter);

    auto* titleBlock = new QVBoxLayout;
    titleBlock->setSpacing(1);
    titleBlock->setContentsMargins(0, 0, 0, 0);
    title_ = new BrandTitle(header);
    titleBlock->addWidget(title_, 0, Qt::AlignLeft);
    tagline_ = new QLabel(QStringLiteral("RARO DODA ZIDIRO"), header);  // the brand's, untranslated
    titleBlock->addWidget(tagline_, 0, Qt::AlignLeft);
    row->addLayout(titleBlock);
    row->addStretch(1);

    auto button = [header, row](const QString& title) {
        auto* b = new QPushButton(title, header);
        b->setFocusPolicy(Qt::StrongFocus);
        row->addWidget(b);
        return b;
    };
    addButton_ = button(tr("Add Files\u2026"));
    sequenceButton_ = button(tr("Sequence\u2026"));
    removeButton_ = button(tr("Remove ISRC"));
    clearButton_ = button(tr("Clear"));
    connect(addButton_, &QPushButton::clicked, this, &MainWindow::addFiles);
    connect(sequenceButton_, &QPushButton::clicked, this, &MainWindow::showSequenceDialog);
    connect(removeButton_, &QPushButton::clicked, this, &MainWindow::confirmRemoval);
    connect(clearButton_, &QPushButton::clicked, &model_, &Model::clear);
    return header;
}

QWidget* MainWindow::buildFooter() {
    auto* footer = new QWidget(this);
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(16, 10, 16, 10);
    row->setSpacing(14);
    const QFont small = look::font(look::FontRole::small, font());

    summary_ = new QLabel(footer);
    summary_->setFont(small);
    row->addWidget(summary_);
    notice_ = new QLabel(footer);
    notice_->setFont(small);
    notice_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The notice takes the flexible space, so a long one cannot push the controls out of the
    // window; without a notice the label stays, empty.
    notice_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    notice_->setMinimumWidth(0);
    row->addWidget(notice_, 1);
    // While a batch or an add runs, its progress takes the notice's place.
    progress_ = new QProgressBar(footer);
    progress_->setAccessibleName(tr("Progress"));
    progress_->setFont(small);
    progress_->setTextVisible(true);
    progress_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    progress_->hide();
    row->addWidget(progress_, 1);
    stopButton_ = new QPushButton(tr("Stop"), footer);
    stopButton_->setToolTip(tr("Stop after the files being written"));
    stopButton_->hide();
    connect(stopButton_, &QPushButton::clicked, &model_, &Model::stop);
    row->addWidget(stopButton_);

    backup_ = new QCheckBox(tr("Keep a backup copy of each file"), footer);
    backup_->setFont(small);
    backup_->setChecked(model_.backup());
    connect(backup_, &QCheckBox::toggled, this, [this](bool on) {
        if (model_.backup() != on) model_.setBackup(on);
    });
    row->addWidget(backup_);

    writeButton_ = new QPushButton(footer);
    writeButton_->setMinimumWidth(130);
    writeButton_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    row->addWidget(writeButton_);
    connect(writeButton_, &QPushButton::clicked, this, &MainWindow::write);
    // The same as pressing the button, and like the button only while it is enabled.
    auto shortcut = [this](QKeySequence keys) {
        auto* s = new QShortcut(keys, this);
        s->setContext(Qt::WindowShortcut);
        connect(s, &QShortcut::activated, this, [this] {
            if (writeButton_->isEnabled()) write();
        });
        return s;
    };
    writeShortcut_ = shortcut(QKeySequence(Qt::CTRL | Qt::Key_Return));
    writeShortcutEnter_ = shortcut(QKeySequence(Qt::CTRL | Qt::Key_Enter));
    return footer;
}

void MainWindow::applyFilter() {
    const bool only = actions_.contains(QStringLiteral("problems")) &&
                      actions_[QStringLiteral("problems")]->isChecked();
    int shown = 0;
    for (int row = 0; row < tableModel_->rowCount(); ++row) {
        const bool show = !only || tableModel_->needsAttention(row);
        if (table_->isRowHidden(row) == show) table_->setRowHidden(row, !show);
        shown += show;
    }
    const int count = tableModel_->rowCount();
    summary_->setText(only ? tr("%1 of %2 shown").arg(shown).arg(summaryText(count))
                           : summaryText(count));
}

void MainWindow::showNextProblem() {
    const int count = tableModel_->rowCount();
    const int from = table_->currentIndex().isValid() ? table_->currentIndex().row() : -1;
    for (int step = 1; step <= count; ++step) {
        const int row = (from + step) % count;
        if (table_->isRowHidden(row) || !tableModel_->needsAttention(row)) continue;
        showRow(row);
        return;
    }
    model_.setNotice(tr("No row needs attention."));
}

void MainWindow::showRow(int row) {
    const QModelIndex index = tableModel_->index(row, FileTableModel::fileColumn);
    table_->setCurrentIndex(index);
    model_.setSelection({tableModel_->idAt(row)});
    table_->scrollTo(index);
}

void MainWindow::refresh() {
    const int count = int(model_.items().size());
    const bool busy = model_.busy();
    const int writable = tableModel_->readyCount() + tableModel_->replaceCount();
    body_->setCurrentWidget(count == 0 ? static_cast<QWidget*>(dropZone_) : table_);
    sequenceButton_->setEnabled(count > 0);
    removeButton_->setEnabled(!model_.selection().isEmpty() && !busy);
    clearButton_->setEnabled(count > 0 && !busy);
    applyFilter();
    writeButton_->setText(writeButtonTitle(busy, writable));
    writeButton_->setEnabled(writable >= 1 && !busy);
    if (actions_.isEmpty()) return;
    actions_[QStringLiteral("sequence")]->setEnabled(count > 0);
    actions_[QStringLiteral("removeISRC")]->setEnabled(removeButton_->isEnabled());
    actions_[QStringLiteral("reload")]->setEnabled(count > 0 && !busy);
    actions_[QStringLiteral("import")]->setEnabled(count > 0 && !busy);
    actions_[QStringLiteral("exportList")]->setEnabled(count > 0);
    actions_[QStringLiteral("exportReport")]->setEnabled(
        (count > 0 || !model_.report().isEmpty()) && !busy);
    // The Edit menu names the step: "Undo Paste of 11 Codes".
    QAction* undo = actions_[QStringLiteral("undo")];
    QAction* redo = actions_[QStringLiteral("redo")];
    undo->setEnabled(model_.canUndo() && !busy);
    redo->setEnabled(model_.canRedo() && !busy);
    undo->setText(model_.canUndo() ? tr("&Undo %1").arg(model_.undoName()) : tr("&Undo"));
    redo->setText(model_.canRedo() ? tr("&Redo %1").arg(model_.redoName()) : tr("&Redo"));
    for (const char* name : {"cut", "paste", "delete"})
        actions_[QLatin1String(name)]->setEnabled(count > 0 && !busy);
}

void MainWindow::refreshProgress() {
    const auto [written, targets] = model_.batchProgress();
    const auto [read, files] = model_.addProgress();
    const bool writing = targets > 0;
    const bool showing = writing || files > 0;
    if (writing) {
        progress_->setRange(0, targets);
        progress_->setValue(written);
        progress_->setFormat(
            model_.checking() ? tr("Checking %n file(s) with the code ledger\u2026", "", targets)
            : model_.recording()
                ? tr("Recording the results in the code ledger\u2026")
                : tr("Writing %1 of %2").arg(std::min(written + 1, targets)).arg(targets));
    } else if (files > 0) {
        progress_->setRange(0, files);
        progress_->setValue(read);
        progress_->setFormat(tr("Reading %1 of %2 files").arg(read).arg(files));
    }
    progress_->setAccessibleDescription(showing ? progress_->text() : QString());
    progress_->setVisible(showing);
    notice_->setVisible(!showing);
    stopButton_->setVisible(writing && !model_.recording());  // nothing left to stop
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
    addButton_->setIcon(symbols::icon(QStringLiteral("list-add"), primary, disabled));
    sequenceButton_->setIcon(symbols::icon(QStringLiteral("sequence"), primary, disabled));
    clearButton_->setIcon(symbols::icon(QStringLiteral("edit-clear"), primary, disabled));
    const QColor red = look::red(dark);
    // Disabled, the red stays readable on either palette.
    QColor redDisabled = red;
    redDisabled.setAlphaF(dark ? 0.6F : 0.5F);
    removeButton_->setIcon(symbols::icon(QStringLiteral("list-remove"), red, redDisabled));
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

void MainWindow::addFiles() {
    const QList<QUrl> urls = services_.chooseFiles(
        this,
        tr("Choose audio files (%1) or folders").arg(QString::fromStdString(formats::labels())));
    if (!urls.isEmpty()) model_.add(urls);
}

void MainWindow::addFilesCommand() {
    const QList<QUrl> urls = services_.chooseFiles(this, QString());
    if (!urls.isEmpty()) model_.add(urls);
}

void MainWindow::showSequenceDialog() {
    if (sequence_ || model_.items().isEmpty()) return;
    sequence_ = new SequenceDialog(model_, this);
    sequence_->setAttribute(Qt::WA_DeleteOnClose);
    sequence_->open();
}

void MainWindow::showLedger() {
    if (ledger_) return ledger_->raise();
    ledger_ = new LedgerView(Model::ledgerPath(), services_.chooseSaveFile, this);
    ledger_->setAttribute(Qt::WA_DeleteOnClose);
    ledger_->show();
}

LedgerView* MainWindow::ledgerView() const {
    return ledger_;
}

ImportDialog* MainWindow::importDialog() const {
    return import_;
}

bool MainWindow::isCodeList(const QUrl& url) {
    const QString suffix = QFileInfo(url.toLocalFile()).suffix().toLower();
    return suffix == QLatin1String("csv") || suffix == QLatin1String("tsv") ||
           suffix == QLatin1String("txt");
}

void MainWindow::importCodes() {
    const QString path =
        QFileDialog::getOpenFileName(this, tr("Import Codes"), QString(),
                                     tr("Lists of codes (*.csv *.tsv *.txt);;All files (*)"));
    if (!path.isEmpty()) importList(path);
}

void MainWindow::importList(const QString& path) {
    if ((import_ && import_->isVisible()) || model_.busy()) return;
    if (model_.items().isEmpty()) {
        QMessageBox::information(this, tr("Import Codes"),
                                 tr("Add the audio files first; the list's codes go to them."));
        return;
    }
    constexpr qint64 kLargestList = 16 << 20;  // far beyond any catalogue
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kLargestList) {
        QMessageBox::warning(this, tr("Import Codes"),
                             file.size() > kLargestList
                                 ? tr("%1 is too large for a list of codes.").arg(path)
                                 : tr("%1 cannot be read: %2").arg(path, file.errorString()));
        return;
    }
    // The way the last sheet found its files and the column its codes came from are
    // remembered, for a sheet that allows them.
    const QVariant stored = settings().value(QLatin1String(kImportMatchKey));
    const ImportPlan plan =
        planImport(model_.items(), file.readAll(), QFileInfo(path).absolutePath(),
                   stored.isValid() ? std::optional(lists::MatchBy(stored.toInt())) : std::nullopt,
                   settings().value(QLatin1String(kImportCodeColumnKey)).toString());
    import_ = new ImportDialog(plan, model_.items(), QFileInfo(path).fileName(), this);
    import_->setAttribute(Qt::WA_DeleteOnClose);
    connect(import_, &ImportDialog::matchChosen, this, [this, path](lists::MatchBy by) {
        settings().setValue(QLatin1String(kImportMatchKey), int(by));
        import_->reject();  // deleted once back in the event loop; the new preview opens then
        QMetaObject::invokeMethod(
            this, [this, path] { importList(path); }, Qt::QueuedConnection);
    });
    connect(import_, &ImportDialog::codeColumnChosen, this, [this, path](const QString& column) {
        settings().setValue(QLatin1String(kImportCodeColumnKey), column);
        import_->reject();
        QMetaObject::invokeMethod(
            this, [this, path] { importList(path); }, Qt::QueuedConnection);
    });
    connect(import_, &QDialog::accepted, this, [this, codes = plan.codes] {
        if (!model_.busy())
            model_.setPendings(codes, tr("Import of %n Code(s)", "", int(codes.size())));
    });
    import_->open();
}

void MainWindow::importWhenAdded(const QString& path) {
    if (!model_.adding()) {
        importList(path);
        return;
    }
    connect(
        &model_, &Model::addFinished, this, [this, path] { importWhenAdded(path); },
        Qt::SingleShotConnection);
}

namespace {}  // namespace

void MainWindow::saveExport(const QString& title, const QString& name, const QByteArray& bytes,
                            const QString& saved) {
    // Asks where to save and writes the bytes whole (a temporary file renamed over the
    // target); the status line confirms it.
    const QString filter = tr("CSV files (*.csv);;All files (*)");
    const QString path = services_.chooseSaveFile(this, title, name, filter);
    if (path.isEmpty()) return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        QMessageBox::warning(this, title,
                             tr("%1 could not be saved: %2").arg(path, file.errorString()));
        return;
    }
    model_.setNotice(saved.arg(QDir::toNativeSeparators(path)));
}

void MainWindow::exportList() {
    if (model_.items().isEmpty()) return;
    const QSet<QString> dups = model_.duplicateCodes();
    saveExport(tr("Export List"), tr("ISRC list.csv"),
               pelorix::ui::exportList(model_.items(),
                                       [&](const Model::Item& item) {
                                           return tableModel_->statusLook(item, dups).text;
                                       }),
               tr("Saved the list of %n file(s) to %1.", "", int(model_.items().size())));
}

void MainWindow::exportReport() {
    if (model_.report().isEmpty() && model_.items().isEmpty()) return;
    const QSet<QString> dups = model_.duplicateCodes();
    const QList<Model::Item>& rows = model_.items();
    QSet<QString> files;
    for (const auto& e : model_.report()) files.insert(e.path);
    for (const auto& row : rows) files.insert(row.path());
    saveExport(tr("Export Report"), tr("ISRC report.csv"),
               pelorix::ui::exportReport(model_.report(), rows,
                                         [&](const Model::Item& item) {
                                             return tableModel_->statusLook(item, dups).text;
                                         }),
               tr("Saved the report of %n file(s) to %1.", "", int(files.size())));
}

QPair<QMessageBox*, QPushButton*> MainWindow::confirmation(QMessageBox::Icon icon,
                                                           const QString& text,
                                                           const QString& details,
                                                           const QString& action,
                                                           QMessageBox::ButtonRole role) {
    // Every question looks and answers alike: the action and Cancel, placed by their roles,
    // and Cancel as the default, so that Return never does what the user did not choose.
    auto* box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(icon);
    box->setWindowTitle(QStringLiteral("PELORIX"));
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    // Rich text only so that no line of the details breaks, least of all inside a code.
    QStringList paragraphs;
    for (const QString& line : details.split(QLatin1Char('\n')))
        paragraphs << QStringLiteral("<p style=\"white-space:pre; margin:0\">%1</p>")
                          .arg(line.toHtmlEscaped());
    box->setInformativeText(paragraphs.join(QString()));
    QPushButton* button = box->addButton(action, role);
    QPushButton* cancel = box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    return {box, button};
}

void MainWindow::confirmRemoval() {
    if (removal_ || model_.selection().isEmpty() || model_.busy()) return;
    // The files and the codes they lose are named: a removal cannot be undone.
    QStringList lines;
    int coded = 0;
    for (int row = 0; row < tableModel_->rowCount(); ++row) {
        const Model::Item& item = model_.items()[row];
        if (!model_.selection().contains(item.id) || !item.current) continue;
        if (++coded <= kListedFiles)
            lines << tr("%1: %2").arg(tableModel_->displayName(row), formattedISRC(*item.current));
    }
    if (coded == 0) {
        model_.setNotice(tr("None of the selected files has an ISRC."));
        return;
    }
    if (coded > kListedFiles) lines << tr("and %n more", "", coded - kListedFiles);
    lines << QString() << tr("The audio is not touched. Other tags stay as they are.")
          << tr("This cannot be undone; the codes are listed in the report.");
    auto [box, remove] = confirmation(
        QMessageBox::Warning, tr("Remove the ISRC from %n file(s)?", "", coded),
        lines.join(QLatin1Char('\n')), tr("Remove ISRC"), QMessageBox::DestructiveRole);
    connect(box, &QMessageBox::finished, this, [this, box, remove] {
        // The selection as it is when the choice is made.
        if (box->clickedButton() == remove) model_.removeISRC(model_.selection());
    });
    removal_ = box;
    box->open();
}

void MainWindow::write() {
    if (model_.busy() || replace_) return;
    const int replacing = tableModel_->replaceCount();
    if (replacing == 0) {
        startWrite(false);
        return;
    }
    // An ISRC, once given to a recording, should not change: replacing asks first, naming the
    // files.
    QStringList lines;
    const QSet<QString> dups = model_.duplicateCodes();
    for (const Model::Item& item : model_.items()) {
        if (Model::readiness(item, dups) != Model::Readiness::replaces) continue;
        if (lines.size() == kListedFiles) {
            lines << QStringLiteral("\u2026");
            break;
        }
        lines << tr("%1: %2 \u2192 %3")
                     .arg(item.fileName(), formattedISRC(*item.current),
                          formattedISRC(item.pending));
    }
    auto [box, replace] =
        confirmation(QMessageBox::Warning, tr("Replace the ISRC of %n file(s)?", "", replacing),
                     tr("These files already carry a different code:") + QLatin1Char('\n') +
                         lines.join(QLatin1Char('\n')),
                     tr("Replace"), QMessageBox::DestructiveRole);
    QPushButton* others = nullptr;
    if (tableModel_->readyCount() > 0)
        others = box->addButton(tr("Write Only the Others"), QMessageBox::AcceptRole);
    connect(box, &QMessageBox::finished, this, [this, box, replace, others] {
        if (box->clickedButton() == replace) {
            startWrite(true);
        } else if (others && box->clickedButton() == others) {
            startWrite(false);
        } else {
            closeAfterWrite_ = false;
        }
    });
    replace_ = box;
    box->open();
}

void MainWindow::startWrite(bool replace) {
    model_.writeAll(replace);
    if (!model_.busy()) closeAfterWrite_ = false;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (closeConfirmed_) {
        event->accept();
        return;
    }
    if (model_.busy()) {
        // The window closes when the batch is done.
        closeAfterWrite_ = true;
        event->ignore();
        return;
    }
    const int unwritten = tableModel_->readyCount() + tableModel_->replaceCount();
    if (unwritten == 0) {
        event->accept();
        return;
    }
    event->ignore();
    if (closing_) return;
    auto [box, writeButton] = confirmation(
        QMessageBox::Question,
        tr("Write the new ISRC of %n file(s) before closing?", "", unwritten),
        tr("If you don't, the new codes are lost."), tr("Write"), QMessageBox::AcceptRole);
    QPushButton* discard = box->addButton(QMessageBox::Discard);
    connect(box, &QMessageBox::finished, this, [this, box, writeButton, discard] {
        if (box->clickedButton() == writeButton) {
            closeAfterWrite_ = true;
            write();
        } else if (box->clickedButton() == discard) {
            closeConfirmed_ = true;
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        }
    });
    closing_ = box;
    box->open();
}

QString MainWindow::copyText() const {
    // The column names come first, so that a paste takes each value by its name.
    QStringList lines;
    QStringList names;
    QList<int> columns;
    for (int c = 0; c < FileTableModel::columnCount_; ++c) {
        if (table_->isColumnHidden(c)) continue;
        columns << c;
        names << tableModel_->headerData(c, Qt::Horizontal).toString();
    }
    for (int row = 0; row < tableModel_->rowCount(); ++row) {
        if (!model_.selection().contains(tableModel_->idAt(row))) continue;
        QStringList fields;
        for (int c : columns) {
            QString text = tableModel_->index(row, c).data().toString();
            if (c == FileTableModel::currentColumn && text == QStringLiteral("\u2014"))
                text.clear();
            fields << text.replace(QLatin1Char('\t'), QLatin1Char(' '))
                          .replace(QLatin1Char('\n'), QLatin1Char(' '));
        }
        lines << fields.join(QLatin1Char('\t'));
    }
    if (lines.isEmpty()) return {};
    lines.prepend(names.join(QLatin1Char('\t')));
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

namespace {

// Row numbers as people count them, runs joined: "row 4", "rows 1–11", "rows 1, 3–5".
QString rowsText(const QList<int>& rows) {
    QStringList runs;
    for (qsizetype i = 0; i < rows.size();) {
        qsizetype j = i;
        while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1) ++j;
        runs << (i == j ? QString::number(rows[i] + 1)
                        : QStringLiteral("%1\u2013%2").arg(rows[i] + 1).arg(rows[j] + 1));
        i = j + 1;
    }
    return rows.size() == 1 ? MainWindow::tr("row %1").arg(runs.front())
                            : MainWindow::tr("rows %1").arg(runs.join(QStringLiteral(", ")));
}

}  // namespace

void MainWindow::pasteText(const QString& text) {
    if (model_.busy() || tableModel_->rowCount() == 0 || (paste_ && paste_->isVisible())) return;
    const PastedCodes pasted = readPastedCodes(text);
    if (pasted.codes.isEmpty() && pasted.headerLines == 0) return;
    QList<int> selected;
    for (int r = 0; r < tableModel_->rowCount(); ++r) {
        if (!table_->isRowHidden(r) && model_.selection().contains(tableModel_->idAt(r)))
            selected << r;
    }
    if (selected.size() > 1 && selected.size() != pasted.codes.size()) {
        // A count that differs from the selection is a sign of a wrong copy: asked, never
        // guessed.
        auto [box, paste] =
            confirmation(QMessageBox::Question,
                         tr("The clipboard holds %n code(s), but %1 rows are selected.", "",
                            int(pasted.codes.size()))
                             .arg(selected.size()),
                         pasted.codes.size() > selected.size()
                             ? tr("Pasting fills the selected rows in order and leaves "
                                  "the other codes out.")
                             : tr("Pasting fills the first selected rows in order; the "
                                  "others keep their New ISRC."),
                         tr("Paste Into Selected Rows"), QMessageBox::AcceptRole);
        connect(box, &QMessageBox::finished, this, [this, box, paste, pasted, selected] {
            if (box->clickedButton() == paste) applyPaste(pasted, selected);
        });
        paste_ = box;
        box->open();
        return;
    }
    QList<int> targets = selected;
    if (selected.size() <= 1) {
        // From the selected row down, or from the current one when none is selected.
        int row = !selected.isEmpty()                ? selected.front()
                  : table_->currentIndex().isValid() ? table_->currentIndex().row()
                                                     : 0;
        targets.clear();
        for (; row < tableModel_->rowCount() && targets.size() < pasted.codes.size(); ++row) {
            if (!table_->isRowHidden(row)) targets << row;
        }
    }
    applyPaste(pasted, targets);
}

void MainWindow::applyPaste(const PastedCodes& pasted, const QList<int>& rows) {
    if (model_.busy()) return;
    const qsizetype n = std::min(pasted.codes.size(), rows.size());
    QList<QPair<QUuid, QString>> texts;
    for (qsizetype i = 0; i < n; ++i) texts.append({tableModel_->idAt(rows[i]), pasted.codes[i]});
    model_.setPendings(texts, tr("Paste of %n Code(s)", "", int(n)));
    QStringList parts;
    parts << (n == 0 ? tr("Pasted no code")
                     : tr("Pasted %n code(s) into %1", "", int(n)).arg(rowsText(rows.mid(0, n))));
    if (pasted.headerLines > 0) parts << tr("1 line was a header");
    if (pasted.codes.size() > n)
        parts << tr("%n line(s) left over", "", int(pasted.codes.size() - n));
    if (rows.size() > n)
        parts << tr("%n selected row(s) kept their code", "", int(rows.size() - n));
    model_.setNotice(parts.join(QStringLiteral("; ")) + QLatin1Char('.'));
}

void MainWindow::clearNewCodes(const QSet<QUuid>& ids) {
    if (model_.busy()) return;
    QList<QPair<QUuid, QString>> texts;
    for (const Model::Item& item : model_.items()) {
        if (ids.contains(item.id) && !item.pending.isEmpty()) texts.append({item.id, QString()});
    }
    model_.setPendings(texts, tr("Deletion of %n New Code(s)", "", int(texts.size())));
}

QMenu* MainWindow::contextMenu(const QSet<QUuid>& ids) {
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    connect(menu->addAction(tr("Remove from list")), &QAction::triggered, this,
            [this, ids] { model_.remove(ids); });
    connect(menu->addAction(tr("Remove ISRC from file\u2026")), &QAction::triggered, this,
            [this, ids] {
                model_.setSelection(ids);
                confirmRemoval();
            });
    connect(menu->addAction(tr("Show in File Manager")), &QAction::triggered, this,
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
        if (isCodeList(url)) continue;
        QMetaObject::invokeMethod(
            &model_, [model = &model_, url] { model->add({url}); }, Qt::QueuedConnection);
    }
    // A list comes after the audio files dropped with it, once they are read.
    for (const QUrl& url : urls) {
        if (isCodeList(url)) {
            QMetaObject::invokeMethod(
                this, [this, url] { importWhenAdded(url.toLocalFile()); }, Qt::QueuedConnection);
        }
    }
}

}  // namespace pelorix::ui
