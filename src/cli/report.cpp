// SPDX-License-Identifier: MIT
#include "cli/report.h"

#include <chrono>
#include <nlohmann/json.hpp>

#include "cli/about_json.h"
#include "cli/cli.h"
#include "core/isrc.h"

namespace pelorix::cli {

namespace {

using Json = nlohmann::ordered_json;

// A stored text as people read it: the formatted code, the text itself made safe, or "-".
std::string shown(const std::optional<std::string>& stored) {
    if (!stored) return "-";
    if (auto code = ISRC::parse(*stored)) return code->formatted();
    return escapeControls(*stored);
}

Json orNull(const std::optional<std::string>& s) {
    return s ? Json(*s) : Json(nullptr);
}

// The 12-character code of a stored text, or the text itself when it is not a valid one.
Json canonical(const std::optional<std::string>& stored) {
    if (!stored) return nullptr;
    if (auto code = ISRC::parse(*stored)) return code->code();
    return *stored;
}

const char* resultName(Outcome::Result r) {
    switch (r) {
        case Outcome::Result::kept:
            return "kept";
        case Outcome::Result::failed:
            return "error";
        default:
            return "ok";
    }
}

// Non-ASCII as \u escapes: the line stays valid JSON whatever the bytes, and no C1 control
// reaches a terminal; bytes that are not UTF-8 become U+FFFD.
std::string dump(const Json& j) {
    return j.dump(-1, ' ', true, Json::error_handler_t::replace);
}

}  // namespace

Report::Report(std::ostream& out, bool json, Style style) : out_(out), json_(json), style_(style) {}

void Report::line(const std::string& text) {
    out_ << text << '\n';
    // A read takes microseconds, so flushing each line would cost more than the read; lines
    // still appear at least every tenth of a second for whoever watches a long list.
    const auto now = std::chrono::steady_clock::now();
    if (style_ != Style::read || now - flushed_ >= std::chrono::milliseconds(100)) {
        out_.flush();
        flushed_ = now;
    }
}

void Report::file(const Outcome& o) {
    using R = Outcome::Result;
    if (json_) {
        Json j;
        j["path"] = o.path;
        j["format"] = orNull(o.format);
        if (style_ == Style::read) {
            const auto code = o.previous ? ISRC::parse(*o.previous) : std::nullopt;
            j["code"] = code ? Json(code->code()) : Json(nullptr);
            if (o.previous && !code) j["stored"] = *o.previous;
            if (o.about) addAbout(j, *o.about);
        } else {
            j["previous"] = canonical(o.previous);
            j["code"] = orNull(o.code);
        }
        j["result"] = resultName(o.result);
        if (!o.message.empty()) j["message"] = o.message;
        if (style_ == Style::dryRun) j["dry_run"] = true;
        line(dump(j));
        return;
    }
    const std::string path = escapeControls(o.path);
    const std::string message = escapeControls(o.message);
    const bool tabbed = style_ == Style::read || style_ == Style::dryRun;
    switch (o.result) {
        case R::read:
            return line(path + '\t' + shown(o.previous));
        case R::planned:
            return line(path + '\t' + shown(o.previous) + " -> " + shown(o.code));
        case R::done:
            return line("OK " + path + (style_ == Style::writeCode ? ": " + shown(o.code) : ""));
        case R::kept:
            if (tabbed) {
                return line(path + '\t' + shown(o.previous) +
                            " (kept: a different code; --replace replaces it)");
            }
            return line("KEPT " + path + ": it carries " + shown(o.previous) +
                        "; --replace replaces it");
        case R::failed:
            if (tabbed) return line(path + "\tERROR: " + message);
            return line("ERROR " + path + ": " + message);
    }
}

void Report::refusal(std::string_view where, std::size_t line_, std::string_view message) {
    if (json_) {
        Json j;
        j["path"] = std::string(where);
        if (line_ != 0) j["line"] = line_;
        j["result"] = "refused";
        j["message"] = std::string(message);
        return line(dump(j));
    }
    std::string text = escapeControls(where);
    if (line_ != 0) text += ":" + std::to_string(line_);
    line(text + ": " + escapeControls(message));
}

void Report::nothingChanged(std::size_t problems) {
    if (json_) return;
    line("No file was changed (" + std::to_string(problems) +
         (problems == 1 ? " problem)." : " problems)."));
}

void Report::invalidCode() {
    if (json_) {
        Json j;
        j["result"] = "refused";
        j["message"] = "Invalid ISRC";
        return line(dump(j));
    }
    line("Invalid ISRC");
}

void Report::flush() {
    out_.flush();
}

}  // namespace pelorix::cli
