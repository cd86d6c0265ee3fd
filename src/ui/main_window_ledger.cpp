// SPDX-License-Identifier: MIT
// The window's choice of code ledger: a file shared with others (on a shared folder), picked in
// the File menu and remembered, or the user's own.
#include "ui/main_window.h"

#include <QAction>
#include <QDir>
#include <QMenu>

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
}

}  // namespace pelorix::ui
