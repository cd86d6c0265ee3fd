// SPDX-License-Identifier: MIT
#pragma once
// Lists of codes in and out of the window, without widgets: an imported list matched to the
// rows as a plan that changes nothing until it is applied, and the rows and the last batch
// written out as CSV.

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <functional>

#include "core/lists/code_list.h"
#include "ui/model.h"

namespace pelorix::ui {

// What became of one line of an imported list.
struct ImportLine {
    enum class Result { matched, invalidCode, noRow, ambiguous, conflict, problem };
    int line = 0;   // in the list, from 1; 0 for the list as a whole
    QString entry;  // the file or name as the list gives it (empty in a list of codes)
    QString code;   // formatted when valid, else as written
    Result result = Result::problem;
    QString message;    // why the line gives no code; empty when matched
    QList<QUuid> rows;  // the rows that take the code (matched lines only)
};

struct ImportPlan {
    bool byOrder = false;                // the list holds codes only: the rows take them in turn
    QStringList header;                  // the list's column names; empty without a header
    std::optional<lists::MatchBy> by;    // how its lines found their rows (with a header)
    QList<lists::MatchBy> ways;          // the ways its columns allow
    QStringList codeColumns;             // the columns that may hold its codes (with a header)
    QString codeColumn;                  // the one its codes were read from
    QList<ImportLine> lines;             // every line that holds anything, in list order
    QList<QUuid> rowsWithoutCode;        // in row order
    QList<QPair<QUuid, QString>> codes;  // the New ISRC each matched row takes
};

// Matches a list (the bytes of a CSV, TSV or text file, read by lists::parseCodeList) to the
// rows. An entry names a row by its path (relative paths from `listFolder`), else by its file
// name, else by its name without the extension; a list of codes only gives them to the rows in
// the order shown. Invalid codes, entries that match no row or rows of several recordings, and
// lines that contradict earlier ones give no code.
// With a header, `by` chooses how lines find rows (by default what the columns suggest: a path,
// else a title, else a track); by title or track the engine's sheet matching is used. A line
// reaches every row of the recording it names, master and copies wherever they sit.
// `codeColumn` names the column that holds the codes, when it is one that may (by default the
// column the header names so, else the one with the most codes).
ImportPlan planImport(const QList<Model::Item>& rows, const QByteArray& list,
                      const QString& listFolder, std::optional<lists::MatchBy> by = {},
                      const QString& codeColumn = {});

// The codes of text pasted into the New ISRC column, one per line. Of a table copied with its
// column names (rows of this window, a spreadsheet), the column named "New ISRC", "ISRC" or
// "Code" gives the code, and a row with none there gives its "Current ISRC". Of other lines with
// several tab-separated fields, the first field that is a code; else the line as it is. A first
// line that names columns, or holds no digit (every code has some), is a header.
struct PastedCodes {
    QStringList codes;
    int headerLines = 0;
};
PastedCodes readPastedCodes(const QString& text);

// One CSV field, quoted when it holds a quote, a delimiter, a line break or outer spaces.
QString csvField(const QString& text);
// Lines of fields, joined by CRLF, as UTF-8 with a byte-order mark (spreadsheets look for it).
QByteArray csvText(const QList<QStringList>& lines);

// The rows: path, folder, file, format, current ISRC, new ISRC and the status `statusOf` gives.
// The column names are fixed (not translated) so that the file can be imported again: "Path"
// (so that CD1/01 and CD2/01 stay apart) and "ISRC" (the new code) are the columns an import
// reads.
QByteArray exportList(const QList<Model::Item>& rows,
                      const std::function<QString(const Model::Item&)>& statusOf);
// The delivery record: every file a batch handled since the window opened (its title as the
// list shows it, its code before and after, the result and the message), then every other row of
// the list (up to date, kept, or without a code). "Path" and "ISRC" (the code the file carries)
// make it importable as it is.
QByteArray exportReport(const QList<Model::ReportEntry>& report, const QList<Model::Item>& rows,
                        const std::function<QString(const Model::Item&)>& statusOf);

}  // namespace pelorix::ui
