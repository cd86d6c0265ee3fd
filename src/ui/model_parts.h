// SPDX-License-Identifier: MIT
#pragma once
// The model's private parts its units share: the running batch (the files it writes or
// clears, the results its worker hands back) and the steps of the undo history.

#include <QElapsedTimer>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/ledger/ledger.h"
#include "ui/model.h"

namespace pelorix::ui {

struct Model::WriteResult {
    qsizetype index = 0;
    std::optional<QString> failure;
    bool unchanged = false;        // the file already held what was asked: not a byte changed
    bool stopped = false;          // Stop came before its replace: not written
    bool changed = false;          // the file's code was not the one shown: nothing written
    std::optional<QString> found;  // the code the file carries, when it was not the one shown
};

struct Model::Batch {
    struct Target {
        QUuid id;
        QString path;
        std::optional<QString> shown;     // the current code the row showed
        std::optional<std::string> code;  // none removes the stored code
        bool done = false;                // written, or it already held what was asked
    };
    QList<Target> targets;
    qsizetype next = 0;    // files with a result: written, unchanged, changed or failed
    QList<bool> answered;  // by target: it has such a result
    bool sent = false;     // the files went to the engine (in one call)
    qsizetype marked = 0;  // the rows before this one were shown as being written
    bool removing = false;
    bool backup = false;
    bool addAxml = false;
    // Set by Stop, read by the worker before each replace.
    std::shared_ptr<std::atomic_bool> stopping = std::make_shared<std::atomic_bool>(false);
    // Results the worker has posted and the model not yet taken, in order.
    struct Inbox {
        std::mutex mutex;
        std::vector<WriteResult> results;
    };
    std::shared_ptr<Inbox> inbox = std::make_shared<Inbox>();
    QElapsedTimer announced;  // since the list last announced its change
    int succeeded = 0;
    int unchanged = 0;
    int failed = 0;
    int changed = 0;
    int refused = 0;     // by the ledger's rule, or because the ledger could not be opened
    bool reuse = false;  // the rule's refusals are let through
    std::shared_ptr<LedgerRun> ledger;
    bool recording = false;  // the files are done; the ledger records what they became
};

// What the ledger made of a batch, one entry per target. Filled on a worker, then read by the
// model's thread only.
struct Model::LedgerRun {
    std::filesystem::path path;
    std::unique_ptr<ledger::Ledger> book;
    std::vector<std::int64_t> claimed;  // the pending entry of each target's code, 0 for none
    std::vector<std::optional<ledger::FileFacts>> before;  // a removal's files as they were
    std::vector<std::optional<QString>> refusal;           // why a target may not be written
    QString error;  // the ledger cannot be used: nothing is written
};

// One step of the undo history: new codes of rows, and rows taken out of the list.
struct Model::Step {
    struct Text {
        QUuid id;
        QString before;
        QString after;
    };
    QList<Text> texts;
    QList<QPair<int, Item>> removed;  // ascending rows, as they were before the removal
    QString name;                     // what the step did, as the Edit menu says it
};

}  // namespace pelorix::ui
