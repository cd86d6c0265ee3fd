// SPDX-License-Identifier: MIT
// --audit: every place each file holds a code, and whether they agree.
#include <exception>
#include <filesystem>

#include "cli/about_json.h"
#include "cli/audit.h"
#include "cli/escape.h"
#include "core/formats/carriers.h"
#include "core/formats/format.h"
#include "core/isrc.h"
#include "core/lists/folder_walk.h"
#include "core/read/read.h"

namespace pelorix::cli {

namespace {

namespace fs = std::filesystem;

struct Audited {
    std::string path;
    std::optional<std::string> format;
    formats::Carriers carriers;
    std::string error;
    recordings::About about = {};
};

void print(std::ostream& out, bool json, const Audited& a) {
    const formats::Verdict verdict = formats::verdictOf(a.carriers);
    if (json) {
        JsonObject j;
        j.text("path", a.path).textOrNull("format", a.format);
        if (!a.error.empty()) {
            j.text("result", "error").text("message", a.error);
        } else {
            std::string carriers = "[";
            for (const formats::Carrier& c : a.carriers) {
                if (carriers.size() > 1) carriers += ',';
                carriers += JsonObject()
                                .text("place", c.place)
                                .text("text", c.text)
                                .boolean("counted", !c.reportOnly)
                                .str();
            }
            j.text("verdict", label(verdict)).raw("carriers", carriers + "]");
            addAbout(j, a.about);
        }
        out << j.str() << '\n';
        return;
    }
    const std::string path = escapeControls(a.path);
    if (!a.error.empty()) {
        out << path << "\tERROR: " << escapeControls(a.error) << '\n';
        return;
    }
    out << path << '\t' << label(verdict) << '\n';
    for (const formats::Carrier& c : a.carriers) {
        const auto code = ISRC::parse(c.text);
        out << '\t' << escapeControls(c.place) << (c.reportOnly ? ", report only" : "") << '\t'
            << (code ? code->formatted() : escapeControls(c.text)) << '\n';
    }
    if (const std::string about = aboutLine(a.about); !about.empty()) {
        out << "\tthe file says\t" << about << '\n';
    }
}

}  // namespace

int auditMode(const Arguments& args, std::ostream& out, std::ostream& err) {
    std::vector<Audited> files;
    for (const std::string& op : args.paths) {
        std::error_code ec;
        if (!fs::is_directory(op, ec)) {
            files.push_back({op, {}, {}, ""});
            continue;
        }
        const lists::FolderWalk walk = lists::audioFilesIn(op);
        for (const fs::path& b : walk.backups) {
            err << "pelorix: left out " << escapeControls(b.string()) << ", a backup copy of "
                << escapeControls(lists::originalOf(b.filename().string())) << '\n';
        }
        for (std::size_t i = 0; i < walk.unread.size(); ++i) {
            files.push_back(
                {walk.unread[i].string(), {}, {}, "Cannot open the folder: " + walk.reasons[i]});
        }
        for (const fs::path& f : walk.files) files.push_back({f.string(), {}, {}, ""});
    }
    int status = 0;
    for (Audited& a : files) {
        if (a.error.empty()) {
            try {
                a.format = std::string(formats::AudioFormat::detect(a.path).label());
                a.carriers = read::carriers(a.path);
                try {
                    a.about = recordings::about(a.path);
                } catch (const std::exception&) {
                    // Its codes were read; what else it says is not worth an error.
                }
            } catch (const std::exception& e) {
                a.error = e.what();
            }
        }
        if (!a.error.empty() || formats::verdictOf(a.carriers) == formats::Verdict::conflict)
            status = 1;
        print(out, args.json, a);
        if (!out.flush()) {
            err << "pelorix: the output was closed; the audit stopped\n";
            return 1;
        }
    }
    return status;
}

}  // namespace pelorix::cli
