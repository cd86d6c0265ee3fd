// SPDX-License-Identifier: MIT
#include "cli/arguments.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <optional>
#include <string_view>

namespace pelorix::cli {

namespace {

// A word after the option zone is never an option, whatever it looks like.
struct Word {
    std::string text;
    bool option;  // before the first "--"
};

constexpr std::array<std::string_view, 14> kKnown = {
    "--selftest", "--read", "--audit",   "--write", "--remove",  "--write-list", "--sequence",
    "--help",     "-h",     "--version", "--json",  "--dry-run", "--replace",    "--axml"};

bool known(std::string_view w) {
    return std::find(kKnown.begin(), kKnown.end(), w) != kKnown.end();
}

bool looksLikeOption(const Word& w) {
    return w.option && w.text.size() > 1 && w.text.front() == '-';
}

std::optional<std::size_t> find(const std::vector<Word>& words, std::string_view mode) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (words[i].option && words[i].text == mode) return i;
    }
    return std::nullopt;
}

Arguments usageError(std::string problem) {
    Arguments a;
    a.mode = Mode::usageError;
    a.problem = std::move(problem);
    return a;
}

std::vector<std::string> textsFrom(const std::vector<Word>& words, std::size_t from) {
    std::vector<std::string> out;
    for (std::size_t i = from; i < words.size(); ++i) out.push_back(words[i].text);
    return out;
}

// The operands of a new mode: nothing in them may look like an option.
std::optional<std::string> strayOption(const std::vector<Word>& words, std::size_t from) {
    for (std::size_t i = from; i < words.size(); ++i) {
        if (looksLikeOption(words[i])) return words[i].text;
    }
    return std::nullopt;
}

}  // namespace

Arguments parseArguments(const std::vector<std::string>& args) {
    Arguments result;
    std::vector<Word> words;
    bool options = true;
    for (const std::string& arg : args) {
        if (options && arg == "--") {
            options = false;
            continue;
        }
        if (options && arg == "--json") {
            result.json = true;
        } else if (options && arg == "--dry-run") {
            result.dryRun = true;
        } else if (options && arg == "--replace") {
            result.replace = true;
        } else if (options && arg == "--axml") {
            result.axml = true;
        } else {
            words.push_back({arg, options});
        }
    }

    auto modeWith = [&](Mode mode, std::string first, std::vector<std::string> paths) {
        result.mode = mode;
        result.first = std::move(first);
        result.paths = std::move(paths);
        return result;
    };

    if (find(words, "--selftest")) return modeWith(Mode::selfCheck, "", {});
    if (auto i = find(words, "--read")) return modeWith(Mode::read, "", textsFrom(words, *i + 1));
    if (auto i = find(words, "--audit")) {
        if (auto stray = strayOption(words, *i + 1)) {
            return usageError("unexpected option " + *stray + " after --audit");
        }
        if (words.size() < *i + 2) return usageError("--audit takes files or folders");
        return modeWith(Mode::audit, "", textsFrom(words, *i + 1));
    }
    if (auto j = find(words, "--write"); j && words.size() > *j + 2) {
        return modeWith(Mode::write, words[*j + 1].text, textsFrom(words, *j + 2));
    }
    if (auto i = find(words, "--remove")) {
        return modeWith(Mode::remove, "", textsFrom(words, *i + 1));
    }
    if (auto i = find(words, "--write-list")) {
        if (auto stray = strayOption(words, *i + 1)) {
            return usageError("unexpected option " + *stray + " after --write-list");
        }
        if (words.size() != *i + 2) return usageError("--write-list takes one list file");
        return modeWith(Mode::writeList, words[*i + 1].text, {});
    }
    if (auto i = find(words, "--sequence")) {
        if (auto stray = strayOption(words, *i + 1)) {
            return usageError("unexpected option " + *stray + " after --sequence");
        }
        if (words.size() < *i + 3) return usageError("--sequence takes a first code and files");
        return modeWith(Mode::sequence, words[*i + 1].text, textsFrom(words, *i + 2));
    }
    if (find(words, "--help") || find(words, "-h")) return modeWith(Mode::help, "", {});
    if (find(words, "--version")) return modeWith(Mode::version, "", {});

    // The window: the file arguments it gets must be files, not mistyped options.
    for (std::size_t i = 1; i < words.size(); ++i) {
        if (!looksLikeOption(words[i]) || known(words[i].text)) continue;
        std::error_code ec;
        if (std::filesystem::exists(std::filesystem::symlink_status(words[i].text, ec))) continue;
        return usageError("unknown option " + words[i].text);
    }
    if (result.json || result.dryRun || result.replace || result.axml) {
        return usageError("--json, --dry-run, --replace and --axml go with a mode such as --write");
    }
    return modeWith(Mode::window, "", {});
}

}  // namespace pelorix::cli
