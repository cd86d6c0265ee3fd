// SPDX-License-Identifier: MIT
// The window's choice of code ledger: a file shared with others (on a shared folder), picked in
// the File menu and remembered, or the user's own.
#include "ui/main_window.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include "core/ledger/ledger.h"
#include "ui/adapters.h"

namespace pelorix::ui {

void MainWindow::addLedgerActions(QMenu* menu) {
    QAction* choose = menu->addAction(tr("Code &Ledger File\u2026"));
    QAction* own = menu->addAction(tr("Use My &Own Code Ledger"));
    actions_.insert(QStringLiteral("ledgerFile"), choose);
    actions_.insert(QStringLiteral("ownLedger"), own);
    const auto show = [choose, own] {
        const QString where = tr("Codes are checked against the code ledger %1.")
                                  .arg(QDir::toNativeSeparators(Model::ledgerPath()));
        choose->setToolTip(where);
        choose->setStatusTip(where);
        own->setEnabled(!Model::ledgerChoice().isEmpty());
    };
    connect(choose, &QAction::triggered, this, [this, show] {
        const QString path = services_.chooseLedgerFile(this, Model::ledgerPath());
        if (path.isEmpty()) return;
        // A ledger that cannot be opened is not taken: the one in use stays.
        try {
            const ledger::Ledger check(fsPath(path));
        } catch (const std::exception& e) {
            model_.setNotice(tr("The code ledger %1 cannot be used: %2. Codes are still checked "
                                "against %3.")
                                 .arg(QDir::toNativeSeparators(path), QString::fromUtf8(e.what()),
                                      QDir::toNativeSeparators(Model::ledgerPath())));
            return;
        }
        Model::setLedgerChoice(path);
        show();
        model_.setNotice(tr("Codes are now checked against the code ledger %1.")
                             .arg(QDir::toNativeSeparators(Model::ledgerPath())));
    });
    connect(own, &QAction::triggered, this, [this, show] {
        Model::setLedgerChoice({});
        show();
        model_.setNotice(tr("Codes are now checked against your own code ledger %1.")
                             .arg(QDir::toNativeSeparators(Model::ledgerPath())));
    });
    show();
    // Codes the rule refused are given only when the user says so, file by file named.
    connect(&model_, &Model::busyChanged, this, [this](bool busy) {
        if (busy || model_.refused().isEmpty()) return;
        askToGiveAnyway();
    });
}

void MainWindow::askToGiveAnyway() {
    constexpr int kNamed = 5;
    QStringList lines;
    QSet<QUuid> ids;
    for (const auto& [id, why] : model_.refused()) {
        ids.insert(id);
        const int row = model_.indexOf(id);
        if (row < 0) continue;
        if (lines.size() == kNamed) {
            lines << QStringLiteral("\u2026");
        } else if (lines.size() < kNamed) {
            lines << tr("%1: %2").arg(model_.items()[row].fileName(), why);
        }
    }
    lines << QString() << tr("A code belongs to one recording for life.")
          << tr("Give it anyway only for a deliberate reissue or to put a mistake right;")
          << tr("the ledger records it like any write.");
    auto [box, give] = confirmation(
        QMessageBox::Warning,
        tr("The code ledger refused the code of %n file(s).", "", int(ids.size())),
        lines.join(QLatin1Char('\n')), tr("Give It Anyway"), QMessageBox::DestructiveRole);
    connect(box, &QMessageBox::finished, this, [this, box, give, ids] {
        if (box->clickedButton() == give) model_.giveAnyway(ids);
    });
    box->open();
}

}  // namespace pelorix::ui
