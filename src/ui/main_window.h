// SPDX-License-Identifier: MIT
#pragma once
// The program's one window: header with the brand and the four commands, the drop zone or the
// file table, and the footer with the summary, the notice or the progress of a batch or an add,
// the backup setting and the write button; the File and Edit menus. It keeps no data beyond a
// few flags; everything shown is read from the Model and every action is a Model operation, the
// sequence dialog, a confirmation, or a desktop service.

#include "ui/brand.h"
#include "ui/code_lists.h"
#include "ui/model.h"
#include "ui/platform.h"
#include "ui/sequence_dialog.h"

#include <QHash>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QUuid>

class QCheckBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QShortcut;
class QStackedWidget;

namespace pelorix::ui {

class BrandTitle;
class DropHighlight;
class DropZone;
class ImportDialog;
class LedgerView;
class FileTable;
class FileTableModel;

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit MainWindow(Model& model, PlatformServices services = PlatformServices::system(),
                        QStringList markLocations = Brand::markLocations(),
                        QWidget* parent = nullptr);
    ~MainWindow() override;

    static QString summaryText(int count);
    static QString writeButtonTitle(bool busy, int writableCount);

    // Actions, as the buttons, menus and drops call them.
    void addFiles();
    void addFilesCommand();  // the menu command: the same dialog without a message
    void showSequenceDialog();
    void showLedger();  // the Code Ledger, opened read-only
    void confirmRemoval();
    // Writes the ready rows; when some rows would replace a code, asks first.
    void write();
    QString copyText() const;
    // Column names, then tab-separated lines of the selected rows.
    // Fills the New ISRC cells, one line each, as one undoable step: the selected rows when
    // several are selected (asking first when the counts differ), else from the selected or
    // current row down. The status line says what went where.
    void pasteText(const QString& text);
    void clearNewCodes(const QSet<QUuid>& ids);
    // The table's context menu for these ids; the caller pops it up (or triggers its actions).
    QMenu* contextMenu(const QSet<QUuid>& ids);
    void revealFiles(const QSet<QUuid>& ids);
    // Codes from a list file: asks for the file, then previews the match (importList).
    void importCodes();
    // Reads the list at `path` and opens the preview; accepting it sets the codes as one step.
    void importList(const QString& path);
    // Ask where to save, then write the rows, or the last batch's report, as CSV.
    void exportList();
    void exportReport();
    // True when `url` names a list of codes (.csv, .tsv, .txt) rather than audio.
    static bool isCodeList(const QUrl& url);

    bool targeted() const;

    // Parts, for checks and screenshots.
    FileTable* table() const { return table_; }
    FileTableModel* tableModel() const { return tableModel_; }
    DropZone* dropZone() const { return dropZone_; }
    QStackedWidget* body() const { return body_; }
    QPushButton* addButton() const { return addButton_; }
    QPushButton* sequenceButton() const { return sequenceButton_; }
    QPushButton* removeButton() const { return removeButton_; }
    QPushButton* clearButton() const { return clearButton_; }
    QLabel* summaryLabel() const { return summary_; }
    QLabel* noticeLabel() const { return notice_; }
    QCheckBox* backupBox() const { return backup_; }
    QPushButton* writeButton() const { return writeButton_; }
    QShortcut* writeShortcut() const { return writeShortcut_; }
    QAction* addFilesAction() const { return addFilesAction_; }
    SequenceDialog* sequenceDialog() const { return sequence_; }
    LedgerView* ledgerView() const;
    ImportDialog* importDialog() const;
    QMessageBox* removalDialog() const { return removal_; }
    QMessageBox* replaceDialog() const { return replace_; }
    QMessageBox* closeDialog() const { return closing_; }
    QMessageBox* pasteDialog() const { return paste_; }
    QProgressBar* progressBar() const { return progress_; }
    QPushButton* stopButton() const { return stopButton_; }
    QAction* action(const QString& name) const;

  protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* buildHeader();
    void importWhenAdded(const QString& path);
    QWidget* buildFooter();
    void refresh();
    void refreshNotice();
    void refreshProgress();
    void buildMenus();
    // The code ledger's place: a shared file the user picks, or their own.
    void addLedgerActions(QMenu* menu);
    // After a batch whose codes the ledger refused: asks whether to give them anyway.
    void askToGiveAnyway();
    void startWrite(bool replace);
    // Hides the rows that need no attention while the View menu's filter is on.
    void applyFilter();
    // Makes the next row that needs attention (after the current one, round) current.
    void showNextProblem();
    void showRow(int row);
    void applyPaste(const PastedCodes& pasted, const QList<int>& rows);
    // Asks where, saves the bytes whole and confirms on the status line with `saved` (%1: the
    // path).
    void saveExport(const QString& title, const QString& name, const QByteArray& bytes,
                    const QString& saved);
    // A window-modal question with one action and Cancel, the default; more buttons may be
    // added. Deletes itself when closed.
    QPair<QMessageBox*, QPushButton*> confirmation(QMessageBox::Icon icon, const QString& text,
                                                   const QString& details, const QString& action,
                                                   QMessageBox::ButtonRole role);
    void loadMark();
    void applyLook();
    void setTargeted(bool on);

    Model& model_;
    PlatformServices services_;
    QStringList markLocations_;
    bool styling_ = false;
    bool closeAfterWrite_ = false;
    bool closeConfirmed_ = false;

    FileTableModel* tableModel_;
    QLabel* markLabel_ = nullptr;
    BrandTitle* title_ = nullptr;
    QLabel* tagline_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QPushButton* sequenceButton_ = nullptr;
    QPushButton* removeButton_ = nullptr;
    QPushButton* clearButton_ = nullptr;
    QStackedWidget* body_ = nullptr;
    DropZone* dropZone_ = nullptr;
    FileTable* table_ = nullptr;
    QLabel* summary_ = nullptr;
    QLabel* notice_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QCheckBox* backup_ = nullptr;
    QPushButton* writeButton_ = nullptr;
    QShortcut* writeShortcut_ = nullptr;
    QShortcut* writeShortcutEnter_ = nullptr;
    QAction* addFilesAction_ = nullptr;
    QList<QWidget*> dividers_;
    DropHighlight* highlight_ = nullptr;
    QPointer<SequenceDialog> sequence_;
    QPointer<ImportDialog> import_;
    QPointer<LedgerView> ledger_;
    QPointer<QMessageBox> removal_;
    QPointer<QMessageBox> replace_;
    QPointer<QMessageBox> closing_;
    QPointer<QMessageBox> paste_;
    QHash<QString, QAction*> actions_;
};

}  // namespace pelorix::ui
