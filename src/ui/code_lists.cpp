// SPDX-License-Identifier: MIT
#include "ui/code_lists.h"
#include "ui/adapters.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <optional>
#include <string>
#include <string_view>

#include "core/formats/format.h"
#include "core/isrc.h"
#include "core/lists/code_list.h"
#include "core/lists/match.h"

namespace pelorix::ui {

namespace {

struct CodeLists {
    Q_DECLARE_TR_FUNCTIONS(pelorix::ui::CodeLists)
};

QString fromStd(const std::string& text) {
    return QString::fromStdString(text);
}

// True when no line holds a comma, semicolon or tab outside quotes: a list of codes only.
bool codesOnly(std::string_view text) {
    bool quoted = false;
    for (char c : text) {
        if (c == '"') quoted = !quoted;
        if (!quoted && (c == ',' || c == ';' || c == '\t')) return false;
    }
    return true;
}

// A list of codes as a two-column list the parser reads, line for line so that every line
// keeps its number: a placeholder file column before each code, "file" on the first line so
// that a header such as "ISRC" is still taken as one.
std::string asTwoColumns(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    std::string out;
    bool first = true;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find_first_of("\r\n", at);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(at, end - at);
        if (line.find_first_not_of(" ") != std::string_view::npos) {
            out += first ? "file\t" : "-\t";
            out += line;
            first = false;
        }
        out += '\n';
        at = end + (text.substr(end).starts_with("\r\n") ? 2 : 1);
    }
    return out;
}

// The file name without its last extension.
QString stemOf(const QString& name) {
    return fromPath(fsPath(name).stem());
}

// The rows an entry names: by path, else by file name, else by name without the extension
// (the entry's own extension dropped only when it is one of an audio file). An entry that names
// a folder finds rows by name only in a folder of that name ("CD1/01.wav" never gives its code
// to CD2/01.wav); a list made on another machine still finds its files.
QList<int> matchRows(const QList<Model::Item>& rows, const QString& entry, const QString& folder) {
    QList<int> hits;
    auto collect = [&](auto&& test) {
        for (qsizetype i = 0; i < rows.size(); ++i) {
            if (test(rows[i])) hits << int(i);
        }
        return !hits.isEmpty();
    };
    QString slashed = entry;
    slashed.replace(QLatin1Char('\\'), QLatin1Char('/'));
    slashed = QDir::cleanPath(slashed);
    const QString path = QDir::cleanPath(QDir(folder).absoluteFilePath(slashed));
    if (collect([&](const Model::Item& r) { return r.path() == path; })) return hits;
    const QString name = slashed.section(QLatin1Char('/'), -1);
    const QString parent = slashed.section(QLatin1Char('/'), -2, -2);
    auto inFolder = [&](const Model::Item& r) {
        return parent.isEmpty() || QFileInfo(r.path()).dir().dirName() == parent;
    };
    if (collect([&](const Model::Item& r) { return inFolder(r) && r.fileName() == name; }))
        return hits;
    const QString stem = formats::hasAudioExtension(name.toStdString()) ? stemOf(name) : name;
    collect([&](const Model::Item& r) { return inFolder(r) && stemOf(r.fileName()) == stem; });
    return hits;
}

QString formattedOrNone(const std::optional<QString>& code) {
    return code ? formattedISRC(*code) : QString();
}

}  // namespace

ImportPlan planImport(const QList<Model::Item>& rows, const QByteArray& list,
                      const QString& listFolder, std::optional<lists::MatchBy> by,
                      const QString& codeColumn) {
    ImportPlan plan;
    const std::string_view bytes(list.constData(), std::size_t(list.size()));
    // A sheet with a header: its columns say how lines find their files, or the user does.
    QHash<int, lists::LineMatch> matched;  // list line -> the engine's match by title or track
    const lists::Sheet sheet = lists::readSheet(bytes);
    lists::ColumnChoice choice = lists::guessColumns(sheet);
    if (!sheet.header.empty()) {
        for (const std::string& name : sheet.header) plan.header << fromStd(name);
        for (std::size_t c : lists::codeColumns(sheet)) {
            plan.codeColumns << plan.header[qsizetype(c)];
            if (plan.header[qsizetype(c)] == codeColumn) choice.code = c;
        }
        if (choice.code) plan.codeColumn = plan.header.value(qsizetype(*choice.code));
        for (auto way : {lists::MatchBy::path, lists::MatchBy::name, lists::MatchBy::title,
                         lists::MatchBy::track}) {
            if (lists::finderColumn(choice, way)) plan.ways << way;
        }
        plan.by = by && plan.ways.contains(*by) ? by : lists::defaultMatch(choice);
        if (plan.by == lists::MatchBy::title || plan.by == lists::MatchBy::track) {
            std::vector<lists::Candidate> candidates;
            for (const Model::Item& row : rows)
                candidates.push_back(
                    {fsPath(row.path()),
                     row.title.isEmpty() ? std::nullopt : std::optional(row.title.toStdString()),
                     row.track, row.disc});
            for (lists::LineMatch& m : lists::match(sheet, choice, *plan.by, candidates))
                matched.insert(int(m.line), std::move(m));
        }
    }
    lists::ParsedList parsed =
        sheet.header.empty() ? lists::parseCodeList(bytes) : lists::rowsOf(sheet, choice);
    if (parsed.rows.empty() && codesOnly(bytes) && !bytes.starts_with("\xFF\xFE") &&
        !bytes.starts_with("\xFE\xFF")) {
        plan.byOrder = true;
        parsed = lists::parseCodeList(asTwoColumns(bytes));
        // A first line with no digit is a name for the column ("Codes"), not a code: a code
        // always has digits.
        if (!parsed.rows.empty() && !ISRC::parse(parsed.rows.front().code) &&
            parsed.rows.front().code.find_first_of("0123456789") == std::string::npos) {
            parsed.rows.erase(parsed.rows.begin());
        }
    }

    std::vector<lists::Assignment> assignments;
    QHash<int, qsizetype> lineIndex;  // list line -> index in plan.lines
    for (const lists::ListProblem& p : parsed.problems) {
        plan.lines.append(
            {int(p.line), {}, {}, ImportLine::Result::problem, fromStd(p.message), {}});
    }
    qsizetype nextRow = 0;
    QHash<QString, QPair<int, QString>> given;  // recording -> the first line and its code
    for (const lists::ListRow& r : parsed.rows) {
        ImportLine line{int(r.line),
                        plan.byOrder ? QString() : fromStd(r.target),
                        fromStd(r.code),
                        ImportLine::Result::matched,
                        {},
                        {}};
        const auto isrc = ISRC::parse(r.code);
        QList<int> hits;
        QString problem;
        if (plan.byOrder) {
            if (nextRow < rows.size()) hits << int(nextRow++);
        } else if (const auto m = matched.constFind(int(r.line)); m != matched.cend()) {
            for (std::size_t f : m->files) hits << int(f);
            problem = fromStd(m->problem);
        } else {
            hits = matchRows(rows, line.entry, listFolder);
        }
        QSet<QString> recordings;
        for (int h : hits) recordings.insert(Model::recordingKey(rows[h]));
        if (!isrc) {
            line.result = ImportLine::Result::invalidCode;
            line.message = CodeLists::tr("Not a valid ISRC.");
        } else if (hits.isEmpty()) {
            line.code = fromStd(isrc->formatted());
            line.result = ImportLine::Result::noRow;
            line.message = !problem.isEmpty() ? problem
                           : plan.byOrder     ? CodeLists::tr("More codes than rows.")
                                              : CodeLists::tr("No row matches.");
        } else if (recordings.size() > 1) {
            line.code = fromStd(isrc->formatted());
            line.result = ImportLine::Result::ambiguous;
            line.message = CodeLists::tr("Matches %n rows in different folders; give the path.", "",
                                         int(hits.size()));
        } else {
            line.code = fromStd(isrc->formatted());
            // The engine checks the recording the line names once; the line then reaches every
            // copy of it (master, shop copies, wherever they sit). One recording, one code: a
            // later line with another code for it gives none.
            const QString recording = *recordings.cbegin();
            const auto earlier = given.constFind(recording);
            if (earlier != given.cend() && earlier->second != line.code) {
                line.result = ImportLine::Result::conflict;
                line.message = CodeLists::tr("Line %1 gives this recording %2.")
                                   .arg(earlier->first)
                                   .arg(earlier->second);
            } else {
                given.insert(recording, {line.line, line.code});
                assignments.push_back({r.line, fsPath(rows[hits.front()].path()), *isrc});
                for (const Model::Item& row : rows) {
                    if (Model::recordingKey(row) == recording) line.rows << row.id;
                }
            }
        }
        lineIndex.insert(line.line, plan.lines.size());
        plan.lines.append(line);
    }
    for (const lists::ListProblem& p : lists::conflicts(assignments)) {
        ImportLine& line = plan.lines[lineIndex.value(int(p.line))];
        line.result = ImportLine::Result::conflict;
        line.message = fromStd(p.message);
        line.rows.clear();
    }
    std::stable_sort(plan.lines.begin(), plan.lines.end(),
                     [](const ImportLine& a, const ImportLine& b) { return a.line < b.line; });

    QSet<QUuid> coded;
    for (const ImportLine& line : plan.lines) {
        for (const QUuid& id : line.rows) {
            if (coded.contains(id)) continue;  // the same code again: conflicts() let it pass
            coded.insert(id);
            plan.codes.append({id, line.code});
        }
    }
    for (const Model::Item& row : rows) {
        if (!coded.contains(row.id)) plan.rowsWithoutCode << row.id;
    }
    return plan;
}

PastedCodes readPastedCodes(const QString& text) {
    PastedCodes out;
    QStringList lines = text.split(QRegularExpression(QStringLiteral("\r\n|\n|\r")));
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty()) lines.removeLast();
    if (lines.isEmpty()) return out;
    const auto fieldsOf = [](const QString& line) { return line.split(QLatin1Char('\t')); };
    qsizetype codeColumn = -1;
    qsizetype currentColumn = -1;
    const QStringList first = fieldsOf(lines.front());
    for (qsizetype i = 0; i < first.size(); ++i) {
        const QString name = first[i].trimmed().toLower();
        if (name == QLatin1String("current isrc")) currentColumn = i;
        if (codeColumn < 0 && (name == QLatin1String("new isrc") || name == QLatin1String("isrc") ||
                               name == QLatin1String("code")))
            codeColumn = i;
    }
    static const QRegularExpression digit(QStringLiteral("[0-9]"));
    if (codeColumn >= 0 || currentColumn >= 0 || !lines.front().contains(digit)) {
        out.headerLines = 1;
        lines.removeFirst();
    }
    for (const QString& line : lines) {
        const QStringList fields = fieldsOf(line);
        QString value;
        if (codeColumn >= 0 || currentColumn >= 0) {
            value = fields.value(codeColumn).trimmed();
            if (value.isEmpty()) value = fields.value(currentColumn).trimmed();
        } else if (fields.size() > 1) {
            value = fields.first().trimmed();
            for (const QString& field : fields) {
                if (ISRC::parse(field.toStdString())) {
                    value = field.trimmed();
                    break;
                }
            }
        } else {
            value = line.trimmed();
        }
        out.codes << value;
    }
    return out;
}

QString csvField(const QString& text) {
    static const QRegularExpression special(QStringLiteral(R"([",;\t\r\n]|^\s|\s$)"));
    if (!text.contains(special)) return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QByteArray csvText(const QList<QStringList>& lines) {
    QByteArray out("\xEF\xBB\xBF");
    for (const QStringList& fields : lines) {
        QStringList quoted;
        for (const QString& f : fields) quoted << csvField(f);
        out += quoted.join(QLatin1Char(',')).toUtf8() + "\r\n";
    }
    return out;
}

QByteArray exportList(const QList<Model::Item>& rows,
                      const std::function<QString(const Model::Item&)>& statusOf) {
    QList<QStringList> lines{{QStringLiteral("Path"), QStringLiteral("Folder"),
                              QStringLiteral("File"), QStringLiteral("Format"),
                              QStringLiteral("Current ISRC"), QStringLiteral("ISRC"),
                              QStringLiteral("Status")}};
    for (const Model::Item& row : rows) {
        lines.append({row.path(), QDir::toNativeSeparators(QFileInfo(row.path()).path()),
                      row.fileName(), row.format, formattedOrNone(row.current), row.pending,
                      statusOf(row)});
    }
    return csvText(lines);
}

QByteArray exportReport(const QList<Model::ReportEntry>& report, const QList<Model::Item>& rows,
                        const std::function<QString(const Model::Item&)>& statusOf) {
    QList<QStringList> lines{{QStringLiteral("Path"), QStringLiteral("Folder"),
                              QStringLiteral("File"), QStringLiteral("Title"),
                              QStringLiteral("Previous ISRC"), QStringLiteral("ISRC"),
                              QStringLiteral("Result"), QStringLiteral("Message")}};
    QSet<QString> handled;
    QHash<QString, QString> titles;  // what each listed file says its title is
    for (const Model::Item& row : rows) titles.insert(row.path(), row.title);
    const auto line = [&](const QString& path, const std::optional<QString>& before,
                          const std::optional<QString>& after, const QString& result,
                          const QString& message) {
        const QFileInfo file(path);
        lines.append({path, QDir::toNativeSeparators(file.path()), file.fileName(),
                      titles.value(path), formattedOrNone(before), formattedOrNone(after), result,
                      message});
    };
    for (const Model::ReportEntry& e : report) {
        handled.insert(e.path);
        line(e.path, e.before, e.after, e.result, e.message);
    }
    for (const Model::Item& row : rows) {
        if (handled.contains(row.path())) continue;
        const bool upToDate = Model::readiness(row, {}) == Model::Readiness::upToDate;
        const QString result = upToDate      ? CodeLists::tr("Up to date")
                               : row.current ? CodeLists::tr("Kept")
                                             : CodeLists::tr("No code");
        const QString status = statusOf(row);
        line(row.path(), row.current, row.current, result, status == result ? QString() : status);
    }
    return csvText(lines);
}

}  // namespace pelorix::ui
