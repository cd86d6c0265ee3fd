// SPDX-License-Identifier: MIT
#include "cli/report.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <iostream>

#include <poll.h>
#include <unistd.h>

#include "cli/about_json.h"
#include "cli/escape.h"
#include "core/isrc.h"

namespace pelorix::cli {

namespace {

// A stored text as people read it: the formatted code, the text itself made safe, or "-".
std::string shown(const std::optional<std::string>& stored) {
    if (!stored) return "-";
    if (auto code = ISRC::parse(*stored)) return code->formatted();
    return escapeControls(*stored);
}

// The 12-character code of a stored text, or the text itself when it is not a valid one.
std::optional<std::string> canonical(const std::optional<std::string>& stored) {
    if (!stored) return std::nullopt;
    if (auto code = ISRC::parse(*stored)) return code->code();
    return stored;
}

const char* resultName(Outcome::Result r) {
    switch (r) {
        case Outcome::Result::kept:
            return "kept";
        case Outcome::Result::unchanged:
            return "unchanged";
        case Outcome::Result::failed:
            return "error";
        default:
            return "ok";
    }
}

}  // namespace

Report::Report(std::ostream& out, std::ostream& err, bool json, Style style)
    : out_(out),
      err_(err),
      json_(json),
      style_(style),
      fd_(&out == &std::cout ? STDOUT_FILENO : -1) {}

void Report::line(const std::string& text) {
    out_ << text << '\n';
    // A read takes microseconds, so flushing each line would cost more than the read; lines
    // still appear at least every tenth of a second for whoever watches a long list.
    const auto now = std::chrono::steady_clock::now();
    if (style_ != Style::read || now - flushed_ >= std::chrono::milliseconds(100)) {
        out_.flush();
        flushed_ = now;
    }
    if (!out_) {
        closed_ = true;
        throw OutputClosed{};
    }
}

void Report::file(const Outcome& o) {
    using R = Outcome::Result;
    (o.result == R::done || o.result == R::planned ? done_
     : o.result == R::kept                         ? kept_
     : o.result == R::unchanged                    ? unchanged_
                                                   : failed_)++;
    if (json_) {
        JsonObject j;
        j.text("path", o.path).textOrNull("format", o.format);
        if (style_ == Style::read) {
            const auto code = o.previous ? ISRC::parse(*o.previous) : std::nullopt;
            j.textOrNull("code", code ? std::optional(code->code()) : std::nullopt);
            if (o.previous && !code) j.text("stored", *o.previous);
            if (o.about) addAbout(j, *o.about);
        } else {
            j.textOrNull("previous", canonical(o.previous)).textOrNull("code", o.code);
        }
        j.text("result", resultName(o.result));
        if (!o.message.empty()) j.text("message", o.message);
        if (style_ == Style::dryRun) j.boolean("dry_run", true);
        return line(j.str());
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
        case R::unchanged:
            if (style_ == Style::dryRun)
                return line(path + '\t' + shown(o.previous) + " -> " + shown(o.code) +
                            " (unchanged)");
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

void Report::refusal(const Refusal& r) {
    if (json_) {
        JsonObject j;
        if (!r.list.empty()) j.text("list", r.list);
        if (r.line != 0) j.number("line", r.line);
        if (r.path) j.text("path", *r.path);
        j.text("result", "refused").text("message", r.message);
        return line(j.str());
    }
    std::string text;
    if (!r.list.empty()) {
        text = escapeControls(r.list) + (r.line != 0 ? ":" + std::to_string(r.line) : "") + ": ";
    }
    if (r.path) text += escapeControls(*r.path) + ": ";
    line(text + escapeControls(r.message));
}

void Report::nothingChanged(std::size_t problems) {
    if (json_) return;
    line("No file was changed (" + std::to_string(problems) +
         (problems == 1 ? " problem)." : " problems)."));
}

void Report::invalidCode(std::string_view input) {
    const std::string reason = whyNotACode(input);
    if (json_) {
        return line(JsonObject()
                        .text("result", "refused")
                        .text("message", "Invalid ISRC")
                        .text("input", input)
                        .text("reason", reason)
                        .str());
    }
    err_ << "Invalid ISRC \"" << escapeControls(input) << "\": " << reason << ".\n";
    err_.flush();
}

void Report::remark(std::string_view text) {
    err_ << "pelorix: " << escapeControls(text) << '\n';
}

void Report::summary(bool removal) {
    if (closed_) return;  // the counts would not say what happened
    err_ << (style_ == Style::dryRun ? (removal ? "Would remove " : "Would write ")
             : removal               ? "Removed "
                                     : "Wrote ")
         << done_ << ", kept " << kept_ << ", unchanged " << unchanged_ << ", failed " << failed_
         << ".\n";
    err_.flush();
}

void Report::flush() {
    out_.flush();
    if (!out_) {
        closed_ = true;
        throw OutputClosed{};
    }
}

bool Report::open() {
    if (closed_) return false;
    if (fd_ < 0) return true;
    pollfd p{fd_, 0, 0};
    if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        closed_ = true;
    }
    return !closed_;
}

std::string whyNotACode(std::string_view text) {
    std::string upper;
    for (std::size_t i = 0; i < text.size(); ++i) {
        // The separators a code may hold: space, tab, -, _, ., / and the en and em dashes.
        static constexpr std::array<std::string_view, 8> kSeparators = {
            " ", "\t", "-", "_", ".", "/", "\u2013", "\u2014"};
        const auto sep = std::find_if(kSeparators.begin(), kSeparators.end(),
                                      [&](auto s) { return text.substr(i).starts_with(s); });
        if (sep != kSeparators.end()) {
            i += sep->size() - 1;
            continue;
        }
        const char c = text[i];
        upper += c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
    }
    if (upper.size() != 12 && upper.starts_with("ISRC")) {
        upper.erase(0, upper.starts_with("ISRC:") ? 5 : 4);
    }
    const auto letter = [](char c) { return c >= 'A' && c <= 'Z'; };
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (upper.empty()) return "it is empty";
    if (const auto odd = std::find_if(upper.begin(), upper.end(),
                                      [&](char c) { return !letter(c) && !digit(c); });
        odd != upper.end()) {
        return "it holds characters other than letters, digits and separators";
    }
    if (upper.size() != 12) {
        return "it has " + std::to_string(upper.size()) +
               " letters and digits besides separators; a code has 12";
    }
    if (!letter(upper[0]) || !letter(upper[1])) return "the first two must be letters (country)";
    if (!digit(upper[5]) || !digit(upper[6])) return "the 6th and 7th must be digits (year)";
    return "the last five must be digits (designation)";
}

}  // namespace pelorix::cli
