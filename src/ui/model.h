// SPDX-License-Identifier: MIT
#pragma once
// The work list behind the window: the files, their current and pending codes, readiness,
// background reading of added files, batch write and remove, sequence assignment and the undo
// history of code edits. Plain QObject code with no widgets. All state lives on the thread that
// owns the model; file I/O runs in worker jobs, and results come back through queued calls.

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QUrl>
#include <QUuid>

#include <atomic>
#include <list>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace pelorix::ui {

// Which rows a sequence numbers, in list order.
struct SequenceTargets {
    bool onlySelected = false;
    bool skipCoded = false;  // leave out rows whose file already carries a code
};

class Model : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(bool backup READ backup WRITE setBackup NOTIFY backupChanged)

  public:
    // Outcome of the last write or remove of a row. Only done and failed carry a text; build
    // values with the factories so that idle and writing always compare equal to themselves.
    struct Status {
        enum class Kind { idle, writing, done, failed };
        Kind kind = Kind::idle;
        QString text;

        static Status idle() { return {Kind::idle, {}}; }
        static Status writing() { return {Kind::writing, {}}; }
        static Status done(const QString& t) { return {Kind::done, t}; }
        static Status failed(const QString& t) { return {Kind::failed, t}; }

        bool isFinished() const { return kind == Kind::done || kind == Kind::failed; }
        friend bool operator==(const Status&, const Status&) = default;
    };

    // One row. A value: the list hands out copies, and changes go through Model operations.
    struct Item {
        QUuid id;                        // fresh when added, never changes
        QUrl url;                        // local file URL, absolute, "." and ".." resolved
        QString format;                  // "WAV", "AIFF", "MP3", "FLAC" or "M4A"
        std::optional<QString> current;  // 12-character code the file carries, if valid
        QString pending;                 // text as typed or assigned; any text allowed
        Status status;
        QString readError;  // why the file's code could not be read; such a row is not written
        QString named;      // the format the name's extension stands for, when it differs
        QString conflict;   // when places in the file hold different codes: each place and text
        // What the file says about itself (never written).
        QString title;
        QString artist;
        double seconds = 0;  // 0: unknown
        std::optional<int> track;
        std::optional<int> disc;
        // The recording the row holds, by the engine's rule over every row (-1 until the list is
        // grouped); how it was told, or what could not be checked.
        int recording = -1;
        QString recordingNote;

        QString path() const { return url.toLocalFile(); }
        QString fileName() const { return url.fileName(); }
        friend bool operator==(const Item&, const Item&) = default;
    };

    // What the last batch did to one file: the record a label keeps of what it delivered.
    struct ReportEntry {
        QString path;
        std::optional<QString> before;  // the code the file carried, 12 characters
        std::optional<QString> after;   // the code it carries now
        QString result;                 // Written, Removed, Failed or Not written
        QString message;
    };

    // `replaces`: a valid new code for a file that carries a different one.
    enum class Readiness { empty, ready, replaces, upToDate, invalid, duplicate, unreadable };
    // The orders the list can be sorted in. `location` is folder, then file name, both in
    // natural order (case-insensitive, digit runs by value).
    enum class SortKey { location, title, artist, duration, format, current, pending, status };

    using SequenceTargets = ui::SequenceTargets;

    explicit Model(QObject* parent = nullptr);
    ~Model() override;  // waits for running worker jobs; their results are dropped

    // ---- published fields ----
    const QList<Item>& items() const { return items_; }
    const QSet<QUuid>& selection() const { return selection_; }
    bool busy() const { return busy_; }
    const std::optional<QString>& notice() const { return notice_; }
    // The status line's text: what the last operation did, or none.
    void setNotice(std::optional<QString> text);
    bool backup() const { return backup_; }
    // Whether a write also gives a WAV without one an `axml` (EBU Core) carrier of its code.
    bool addAxml() const { return addAxml_; }

    // Row of the first item with this id, or -1.
    int indexOf(const QUuid& id) const;
    // True while at least one add or reload is still reading files, or the rows are being
    // grouped into recordings after it.
    bool adding() const { return !addRuns_.empty() || grouping_ > 0; }
    // Files read and files to read by the running adds; (0, 0) when none runs.
    QPair<int, int> addProgress() const;
    // Files handled and files targeted by the running batch; (0, 0) when none runs.
    QPair<int, int> batchProgress() const;
    // One entry per file any batch handled since the model was made (the latest batch's word
    // on it), in the order first handled: the record of a delivery.
    const QList<ReportEntry>& report() const { return report_; }

    // ---- list (adding is asynchronous: rows appear in groups) ----
    // Files already listed are read again. Folder scans leave out hidden files and the backup
    // copies that writes make ("NAME (original).EXT"). With `announce`, the finished add says
    // how many files it added.
    void add(const QList<QUrl>& urls, bool announce = false);
    // Reads every listed file again: current codes, formats and read failures.
    void reload();
    void remove(const QSet<QUuid>& ids);
    void clear();
    void setSelection(const QSet<QUuid>& ids);
    void sort(SortKey key, Qt::SortOrder order = Qt::AscendingOrder);

    // ---- code entry and readiness ----
    void setPending(const QUuid& id, const QString& text);
    // Several rows at once, as one step of the undo history; `name` says what the step is
    // ("Paste of 11 Codes").
    void setPendings(const QList<QPair<QUuid, QString>>& texts, const QString& name = {});
    void commitFormat(const QUuid& id);
    QSet<QString> duplicateCodes() const;
    // The recording of a row: its group by the engine's rule, or its name (folder and name
    // without extension) until the rows are grouped.
    static QString recordingKey(const Item& item);
    static Readiness readiness(const Item& item, const QSet<QString>& dups);
    // Rows to look at before a delivery: a code that is not valid, is used twice or would
    // replace another, a file that cannot be read or whose places disagree, a failed write.
    static bool needsAttention(const Item& item, const QSet<QString>& dups);
    int readyCount() const;    // rows a write takes without asking (ready)
    int replaceCount() const;  // rows whose write would replace another code

    // ---- undo history: code edits, pastes, sequences, clearing and removing rows ----
    // A write or a removal of codes starts the history afresh: the codes before it are in the
    // files, and no undo may bring them back as edits.
    bool canUndo() const { return !undo_.empty(); }
    bool canRedo() const { return !redo_.empty(); }
    // What undo and redo would do ("Paste of 11 Codes"); empty when there is nothing.
    QString undoName() const;
    QString redoName() const;
    void undo();
    void redo();
    // Typing in one field is one step: the text before the first keystroke is what undo
    // restores. The window marks where a field's editing begins.
    void beginTyping(const QUuid& id);
    // Escape in a field: its text goes back to what it was before the typing began.
    void revertTyping();

    // ---- batches (asynchronous; `busy` admits one at a time) ----
    // Writes the ready rows, and the rows that replace a code when `replace` is set, a chunk of
    // files at a time, each chunk made durable together. Each file's code is read again under
    // the write's own lock; a file whose code is no longer the one shown is not written.
    void writeAll(bool replace = false);
    void removeISRC(const QSet<QUuid>& ids);
    // Stops the running batch after the files being written (one batch of a few at most).
    void stop();
    void setStatus(const QUuid& id, const Status& status);
    void setBackup(bool on);   // also stored under "backupOriginals"
    void setAddAxml(bool on);  // also stored under "addAxmlCarrier"

    // ---- the code ledger: every code ever given, checked before any file is written ----
    // The ledger file the user chose (the "ledgerFile" setting; shared with others), or empty
    // for their own.
    static QString ledgerChoice();
    static void setLedgerChoice(const QString& path);
    // The ledger in use: the choice, else $PELORIX_LEDGER, else the user's own.
    static QString ledgerPath();
    // True while the running batch's files are checked against the ledger, before any write.
    bool checking() const;
    // True while the running batch's results are recorded in the ledger, after the last file.
    bool recording() const;
    // The rows whose codes the ledger's rule refused in the last batch, and why.
    const QList<QPair<QUuid, QString>>& refused() const { return refused_; }
    // Writes the new codes of these rows although the rule refused them (a deliberate reissue,
    // or a mistake put right); the ledger records them like any write.
    void giveAnyway(const QSet<QUuid>& ids);
    // Every designation the ledger has given for the country, registrant and year of `prefix`
    // (7 characters, "FIABC26") goes into `given`; the reason when the ledger cannot be read.
    static std::optional<QString> givenDesignations(const std::string& prefix,
                                                    std::set<int>& given);

    // ---- sequences: none on success, else the message for the user ----
    // The codes a sequence gives, row by row in list order: the numbers from `start` up, past
    // every one ever given (ledger or list), one per recording; a recording one of whose files
    // keeps its code gets that code. None of them when the message says why not.
    std::optional<QString> planSequence(const QString& country, const QString& registrant,
                                        const QString& year, int start, SequenceTargets targets,
                                        QList<QPair<int, QString>>& codes) const;
    std::optional<QString> assignSequence(const QString& country, const QString& registrant,
                                          const QString& year, int start,
                                          SequenceTargets targets = {});
    // The rows a sequence with these targets numbers, in list order.
    QList<int> sequenceRows(SequenceTargets targets) const;

  signals:
    // Fine-grained row signals for a table adapter, in the order a view needs them.
    void itemsAboutToBeInserted(int first, int last);
    void itemsInserted(int first, int last);
    void itemsAboutToBeRemoved(int first, int last);  // one contiguous block, highest first
    void itemsRemoved(int first, int last);
    void itemsAboutToBeReordered();
    void itemsReordered();
    void itemChanged(int row);
    // Emitted after every change of `items`, whatever its kind.
    void itemsChanged();

    void selectionChanged();
    void busyChanged(bool busy);
    void noticeChanged();
    void backupChanged(bool backup);
    void progressChanged();
    void historyChanged();
    // An add has handled its last file (and set its notice, if any).
    void addFinished();

  private:
    struct AddRun;
    struct Batch;
    struct Step;
    struct WriteResult;
    struct LedgerRun;

    void setBusy(bool on);
    void insertItems(QList<Item> items);      // placed in the current order
    void removeRows(const QList<int>& rows);  // ascending row numbers
    void changeItem(int row, const Item& item);
    void sortItems();
    void record(Step step);
    void apply(const Step& step, bool forward);

    void startAdd(QList<QUrl> urls, bool announce, bool reload);
    void readNext(AddRun* run);
    void finishAdd(AddRun* run);
    // Groups every row into recordings on a worker (names, lengths, sample digests, sound).
    void startGrouping();
    void startBatch(Batch batch);
    // The ledger's part of a batch: its rule checked and its codes claimed on a worker before
    // the first write (refused files are left out); told what was done at the end, which the
    // batch's notice then says.
    void guardBatch();
    void takeVerdicts(const std::shared_ptr<LedgerRun>& run);
    // Records the batch's results in the ledger, then ends the batch with `notice`.
    void settleBatch(QString notice);
    void endBatch(const QString& notice);
    void batchStep();
    // The results the worker posted: each file's row and report entry.
    void takeResults();
    void fileWritten(const WriteResult& result);
    void markWriting();  // the rows up to kWritingAhead past the last result
    void addToReport(ReportEntry entry);

    QList<Item> items_;
    QSet<QUuid> selection_;
    bool busy_ = false;
    std::optional<QString> notice_;
    bool backup_ = false;
    bool addAxml_ = false;
    SortKey sortKey_ = SortKey::location;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;

    std::list<Step> undo_;
    std::list<Step> redo_;
    QUuid typingId_;               // the field being typed in
    bool typingStepOpen_ = false;  // the last step is that field's typing: keystrokes extend it

    std::list<AddRun> addRuns_;
    int grouping_ = 0;        // grouping jobs running
    std::list<Batch> batch_;  // at most one
    QList<ReportEntry> report_;
    QList<QPair<QUuid, QString>> refused_;
    QHash<QString, qsizetype> reportIndex_;  // path -> entry
    // Declared last so that it is destroyed first: its destructor waits for the jobs.
    QThreadPool pool_;
};

}  // namespace pelorix::ui
