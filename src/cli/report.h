// SPDX-License-Identifier: MIT
#pragma once
// What the command-line modes print: one line per file, as plain text for people or as one
// JSON object for programs. Every path and every stored text is printed so that no file name
// can draw a line of its own or steer the terminal.

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
        read,     // read mode: `previous` is what the file holds
        done,     // written or removed; `code` is what it holds now
        planned,  // dry run: the write would succeed and leave `code`
        kept,     // left alone: it carries a different code and --replace was not given
        failed    // `message` says why
    };
    std::string path;                     // as typed, or folder / name
    std::optional<std::string> format;    // "WAV", … when known
    std::optional<std::string> previous;  // the stored text before (read: the stored text)
    std::optional<std::string> code;      // the 12-character code after, none for no code
    Result result = Result::failed;
    std::string message;
    std::optional<recordings::About> about;  // read mode, JSON: what the file says about itself
};

class Report {
  public:
    enum class Style {
        read,       // PATH<tab>CODE, PATH<tab>ERROR: …
        write,      // OK PATH, ERROR PATH: …
        writeCode,  // OK PATH: CODE, as lists and sequences give each file its own code
        dryRun      // PATH<tab>NOW -> AFTER, PATH<tab>ERROR: …
    };
    Report(std::ostream& out, bool json, Style style);

    void file(const Outcome& outcome);
    // A reason the whole run was refused, before any file was touched: `where` is the list
    // or the path concerned, `line` the list line (0 for none).
    void refusal(std::string_view where, std::size_t line, std::string_view message);
    // The closing line of a refused run (plain text only).
    void nothingChanged(std::size_t problems);
    // "Invalid ISRC" in the words the write mode has always used.
    void invalidCode();
    void flush();

  private:
    void line(const std::string& text);

    std::ostream& out_;
    bool json_;
    Style style_;
    std::chrono::steady_clock::time_point flushed_ = std::chrono::steady_clock::now();
};

}  // namespace pelorix::cli
