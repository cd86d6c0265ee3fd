// SPDX-License-Identifier: MIT
#pragma once
// The Code Ledger: every code the ledger knows, found by code, title or file, each with its
// history (every write, removal and find: when, which file, by whom, and the code the file
// carried before), and the registrant's record exported as the command line writes it. It
// opens the ledger read-only and never changes it. The list is read a page at a time as it
// scrolls, so a ledger of any size opens at once.

#include <QAbstractTableModel>
#include <QDialog>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

#include "core/ledger/ledger.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTableWidget;
class QThread;
class QTimer;

namespace pelorix::ui {

// The codes that a search finds, fetched a page at a time in code order.
class LedgerCodesModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { codeColumn, titleColumn, artistColumn, filesColumn, lastColumn, columns };
    static constexpr std::size_t kPage = 200;

    explicit LedgerCodesModel(QObject* parent = nullptr);
    // The ledger to read (none: nothing to show) and what to search for.
    void show(ledger::Ledger* ledger, const QString& search);
    // Every code the search finds, fetched or not.
    std::size_t total() const { return total_; }
    QString codeAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

  private:
    ledger::Ledger* ledger_ = nullptr;
    std::string search_;
    std::vector<ledger::CodeSummary> rows_;
    std::size_t total_ = 0;
};

class LedgerView : public QDialog {
    Q_OBJECT
  public:
    // `chooseSaveFile` asks where an export goes (the window's platform service).
    using SaveChooser = std::function<QString(QWidget* parent, const QString& title,
                                              const QString& name, const QString& filter)>;
    LedgerView(const QString& ledgerFile, SaveChooser chooseSaveFile, QWidget* parent = nullptr);
    ~LedgerView() override;

    QLabel* summaryLabel() const { return summary_; }
    QLineEdit* searchField() const { return search_; }
    QTableView* codesTable() const { return codes_; }
    LedgerCodesModel* codesModel() const { return model_; }
    QTableWidget* historyTable() const { return history_; }
    // Saves on a thread of its own; the summary says when it is done.
    QPushButton* exportButton() const { return export_; }
    // Runs the search typed so far at once rather than after the pause that follows typing.
    void searchNow();

  private:
    void showHistory(const QString& code);
    void refreshSummary();
    void exportCodes();
    void exported(const QString& problem, std::size_t count, const QString& path);

    QString file_;
    SaveChooser chooseSaveFile_;
    std::unique_ptr<ledger::Ledger> ledger_;
    QString problem_;  // why there is nothing to show
    QLabel* summary_;
    QLineEdit* search_;
    QTimer* typing_;
    QTableView* codes_;
    LedgerCodesModel* model_;
    QLabel* historyLabel_;
    QTableWidget* history_;
    QPushButton* export_;
    QPointer<QThread> exporting_;
};

}  // namespace pelorix::ui
