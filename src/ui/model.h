// SPDX-License-Identifier: MIT
#pragma once
// The work list behind the window: the files, their current and pending codes, readiness,
// background probing of added files, batch write and remove, and sequence assignment.
// Plain QObject code with no widgets. All state lives on the thread that owns the model; file
// I/O runs in worker jobs, one file at a time per add sequence and per batch, and results come
// back through queued calls.

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QUrl>
#include <QUuid>

#include <list>
#include <optional>

namespace pelorix::ui {

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

        QString path() const { return url.toLocalFile(); }
        QString fileName() const { return url.fileName(); }
        friend bool operator==(const Item&, const Item&) = default;
    };

    enum class Readiness { empty, ready, upToDate, invalid, duplicate };

    explicit Model(QObject* parent = nullptr);
    ~Model() override;  // waits for running worker jobs; their results are dropped

    // ---- published fields ----
    const QList<Item>& items() const { return items_; }
    const QSet<QUuid>& selection() const { return selection_; }
    bool busy() const { return busy_; }
    const std::optional<QString>& notice() const { return notice_; }
    bool backup() const { return backup_; }

    // Row of the first item with this id, or -1.
    int indexOf(const QUuid& id) const;
    // True while at least one add sequence is still probing files.
    bool adding() const { return !addRuns_.empty(); }

    // ---- list (adding is asynchronous: rows appear one by one) ----
    void add(const QList<QUrl>& urls);
    void remove(const QSet<QUuid>& ids);
    void clear();
    void setSelection(const QSet<QUuid>& ids);

    // ---- code entry and readiness ----
    void setPending(const QUuid& id, const QString& text);
    void commitFormat(const QUuid& id);
    QSet<QString> duplicateCodes() const;
    static Readiness readiness(const Item& item, const QSet<QString>& dups);
    int readyCount() const;

    // ---- batches (asynchronous; `busy` admits one at a time) ----
    void writeAll();
    void removeISRC(const QSet<QUuid>& ids);
    void setStatus(const QUuid& id, const Status& status);
    void setBackup(bool on);  // also stored under "backupOriginals"

    // ---- sequences: none on success, else the message for the user ----
    std::optional<QString> assignSequence(const QString& country, const QString& registrant,
                                          const QString& year, int start, bool onlySelected);

  signals:
    // Fine-grained row signals for a table adapter, in the order a view needs them.
    void itemAboutToBeInserted(int row);
    void itemInserted(int row);
    void itemsAboutToBeRemoved(int first, int last);  // one contiguous block, highest first
    void itemsRemoved(int first, int last);
    void itemChanged(int row);
    // Emitted after every change of `items`, whatever its kind.
    void itemsChanged();

    void selectionChanged();
    void busyChanged(bool busy);
    void noticeChanged();
    void backupChanged(bool backup);
    // An add sequence has handled its last file (and set its notice, if any).
    void addFinished();

  private:
    struct AddRun;
    struct Batch;

    void setNotice(std::optional<QString> text);
    void setBusy(bool on);
    void appendItem(Item item);
    void removeRows(const QList<int>& rows);  // ascending row numbers
    void changeItem(int row, const Item& item);

    void probeNext(AddRun* run);
    void finishAdd(AddRun* run);
    void startBatch(Batch batch);
    void batchStep();

    QList<Item> items_;
    QSet<QUuid> selection_;
    bool busy_ = false;
    std::optional<QString> notice_;
    bool backup_ = false;

    std::list<AddRun> addRuns_;
    std::list<Batch> batch_;  // at most one
    // Declared last so that it is destroyed first: its destructor waits for the jobs.
    QThreadPool pool_;
};

}  // namespace pelorix::ui
