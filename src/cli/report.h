// SPDX-License-Identifier: MIT
#pragma once
// What the command-line modes print: one line per file, as plain text for people or as one
// JSON object for programs. Every path and every stored text is printed so that no file name
// can draw a line of its own or steer the terminal (see escape.h).

#include <chrono>
#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "core/recordings/about.h"

namespace pelorix::cli {

// One file's outcome.
struct Outcome {
    enum class Result {
        read,       // read mode: `previous` is what the file holds
        done,       // written or removed; `code` is what it holds now
        unchanged,  // it already carries `code` in every place: not touched
        planned,    // dry run: the write would succeed and leave `code`
        kept,       // left alone: it carries `previous`, not the `code` asked for
        failed      // `message` says why
    };
    std::string path;                     // as typed, or folder / name
    std::optional<std::string> format;    // "WAV", … when known
    std::optional<std::string> previous;  // the stored text before (read: the stored text)
    std::optional<std::string> code;      // the 12-character code asked for, none for no code
    Result result = Result::failed;
    std::string message;
    std::optional<recordings::About> about;  // read mode, JSON: what the file says about itself
};

// A reason the whole run was refused, before any file was touched.
struct Refusal {
    std::string list = {};                           // the list concerned, if any
    std::size_t line = 0;                            // its line, 0 for the list as a whole
    std::optional<std::string> path = std::nullopt;  // the file or folder concerned, if any
    std::string message = {};
};

// Thrown when the output can no longer take a line: the run stops before it changes a file
// it could not report.
struct OutputClosed {};

class Report {
  public:
    enum class Style {
        read,       // PATH<tab>CODE, PATH<tab>ERROR: …
        write,      // OK PATH, ERROR PATH: …
        writeCode,  // OK PATH: CODE, as lists and sequences give each file its own code
        dryRun      // PATH<tab>NOW -> AFTER, PATH<tab>ERROR: …
    };
    Report(std::ostream& out, std::ostream& err, bool json, Style style);

    // Throws OutputClosed when the line could not be written.
    void file(const Outcome& outcome);
    void refusal(const Refusal& refusal);
    // The closing line of a refused run (plain text only).
    void nothingChanged(std::size_t problems);
    // A code that is not one: "Invalid ISRC", the text given and why, on standard error (as a
    // JSON object on the output with --json).
    void invalidCode(std::string_view input);
    // A remark on standard error, such as a file left out: "pelorix: TEXT".
    void remark(std::string_view text);
    // The counts of a batch on standard error: "Wrote 30, kept 2, unchanged 1, failed 1."
    // ("Removed …" for removals). Nothing once the output has closed.
    void summary(bool removal = false);
    void flush();
    // False once the output has closed: a line failed, or (standard output) the reader is
    // gone or the terminal hung up, seen without writing.
    bool open();

  private:
    void line(const std::string& text);

    std::ostream& out_;
    std::ostream& err_;
    bool json_;
    Style style_;
    bool closed_ = false;
    int fd_ = -1;  // the descriptor behind out_, when known
    std::size_t done_ = 0, kept_ = 0, unchanged_ = 0, failed_ = 0;
    std::chrono::steady_clock::time_point flushed_ = std::chrono::steady_clock::now();
};

// Why a text is not a code, in a few words ("it has 10 letters and digits; a code has 12").
std::string whyNotACode(std::string_view text);

}  // namespace pelorix::cli
