// SPDX-License-Identifier: MIT
#include "ui/code_lists.h"

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

// The file name without its last extension, as Model's rule for one recording has it.
QString stemOf(const QString& name) {
    const auto dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
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

std::filesystem::path fsPath(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

QString formattedOrNone(const std::optional<QString>& code) {
    if (!code) return {};
    const auto isrc = ISRC::parse(code->toStdString());
    return isrc ? fromStd(isrc->formatted()) : *code;
}

}  // namespace

ImportPlan planImport(const QList<Model::Item>& rows, const QByteArray& list,
                      const QString& listFolder) {
    ImportPlan plan;
    const std::string_view bytes(list.constData(), std::size_t(list.size()));
    lists::ParsedList parsed = lists::parseCodeList(bytes);
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
    for (const lists::ListRow& r : parsed.rows) {
        ImportLine line{int(r.line),
                        plan.byOrder ? QString() : fromStd(r.target),
                        fromStd(r.code),
                        ImportLine::Result::matched,
                        {},
                        {}};
        const auto isrc = ISRC::parse(r.code);
        QList<int> hits;
        if (plan.byOrder) {
            if (nextRow < rows.size()) hits << int(nextRow++);
        } else {
            hits = matchRows(rows, line.entry, listFolder);
        }
        QSet<QString> recordings;
        for (int h : hits) {
            recordings.insert(QFileInfo(rows[h].path()).path() + QLatin1Char('/') +
                              stemOf(rows[h].fileName()));
        }
        if (!isrc) {
            line.result = ImportLine::Result::invalidCode;
            line.message = CodeLists::tr("Not a valid ISRC.");
        } else if (hits.isEmpty()) {
            line.code = fromStd(isrc->formatted());
            line.result = ImportLine::Result::noRow;
            line.message = plan.byOrder ? CodeLists::tr("More codes than rows.")
                                        : CodeLists::tr("No row matches.");
        } else if (recordings.size() > 1) {
            line.code = fromStd(isrc->formatted());
            line.result = ImportLine::Result::ambiguous;
            line.message = CodeLists::tr("Matches %n rows in different folders; give the path.", "",
                                         int(hits.size()));
        } else {
            line.code = fromStd(isrc->formatted());
            for (int h : hits) {
                line.rows << rows[h].id;
                assignments.push_back({r.line, fsPath(rows[h].path()), *isrc});
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
    QList<QStringList> lines{{QStringLiteral("Folder"), QStringLiteral("File"),
                              QStringLiteral("Format"), QStringLiteral("Current ISRC"),
                              QStringLiteral("ISRC"), QStringLiteral("Status")}};
    for (const Model::Item& row : rows) {
        lines.append({QDir::toNativeSeparators(QFileInfo(row.path()).path()), row.fileName(),
                      row.format, formattedOrNone(row.current), row.pending, statusOf(row)});
    }
    return csvText(lines);
}

QByteArray exportReport(const QList<Model::ReportEntry>& report) {
    QList<QStringList> lines{{QStringLiteral("Path"), QStringLiteral("Previous ISRC"),
                              QStringLiteral("ISRC"), QStringLiteral("Result"),
                              QStringLiteral("Message")}};
    for (const Model::ReportEntry& e : report) {
        lines.append(
            {e.path, formattedOrNone(e.before), formattedOrNone(e.after), e.result, e.message});
    }
    return csvText(lines);
}

}  // namespace pelorix::ui
