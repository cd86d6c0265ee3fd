// SPDX-License-Identifier: MIT
#include "cli/arguments.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <optional>
#include <string_view>

namespace pelorix::cli {

namespace {

// What a mode takes after its word.
enum class Operands {
    none,            // --help
    paths,           // --read FILE...
    codeAndPaths,    // --write CODE FILE...
    listAndFolders,  // --write-list LIST [FOLDER...]
    code,            // --next CC-XXX-YY
};

// Every word the command line knows. A mode picks what the run does; a flag sets a member;
// a value option sets a member to the next word, one of `values` when they are given.
struct Word {
    std::string_view word;
    std::optional<Mode> mode = std::nullopt;
    Operands operands = Operands::none;
    std::string_view needs = "";  // the usage error of a mode without its operands
    bool Arguments::*flag = nullptr;
    std::string Arguments::*value = nullptr;
    std::string_view values = "";  // "a|b|c", or "" for any text
};

constexpr std::array kWords = {
    Word{"--selftest", Mode::selfCheck},
    Word{"--read", Mode::read, Operands::paths, "--read takes files or folders"},
    Word{"--audit", Mode::audit, Operands::paths, "--audit takes files or folders"},
    Word{"--write", Mode::write, Operands::codeAndPaths, "--write takes a code and files"},
    Word{"--remove", Mode::remove, Operands::paths, "--remove takes files or folders"},
    Word{"--write-list", Mode::writeList, Operands::listAndFolders,
         "--write-list takes a list file, then folders if its lines name no paths"},
    Word{"--sequence", Mode::sequence, Operands::codeAndPaths,
         "--sequence takes a first code and files or folders"},
    Word{"--next", Mode::next, Operands::code,
         "--next takes a country, registrant and year, such as FI-ABC-26"},
    Word{"--ledger-add", Mode::ledgerAdd, Operands::paths, "--ledger-add takes files or folders"},
    Word{"--ledger-export", Mode::ledgerExport},
    Word{"--help", Mode::help},
    Word{"-h", Mode::help},
    Word{"--version", Mode::version},
    Word{"--json", {}, {}, "", &Arguments::json},
    Word{"--dry-run", {}, {}, "", &Arguments::dryRun},
    Word{"--replace", {}, {}, "", &Arguments::replace},
    Word{"--axml", {}, {}, "", &Arguments::axml},
    Word{"--reuse-code", {}, {}, "", &Arguments::reuseCode},
    Word{"--match", {}, {}, "", nullptr, &Arguments::match, "title|track|name|path"},
    Word{"--ledger", {}, {}, "--ledger takes the ledger's file", nullptr, &Arguments::ledger},
};

const Word* lookUp(std::string_view text) {
    const auto it =
        std::find_if(kWords.begin(), kWords.end(), [&](const Word& w) { return w.word == text; });
    return it == kWords.end() ? nullptr : &*it;
}

bool allowed(std::string_view values, std::string_view text) {
    if (values.empty()) return true;
    for (std::size_t at = 0; at <= values.size();) {
        const std::size_t bar = std::min(values.find('|', at), values.size());
        if (values.substr(at, bar - at) == text) return true;
        at = bar + 1;
    }
    return false;
}

std::string spelled(std::string_view values) {
    std::string out(values);
    std::replace(out.begin(), out.end(), '|', ',');
    return out;
}

// An operand as typed; `zone`: before the first "--", where it may be an option.
struct Operand {
    std::string text;
    bool zone;
};

Arguments usageError(std::string problem) {
    Arguments a;
    a.mode = Mode::usageError;
    a.problem = std::move(problem);
    return a;
}

// Why a word in the option zone cannot be a file, or "" when it can.
std::string notAFile(const Operand& w, std::string_view mode) {
    if (!w.zone || w.text.size() < 2 || w.text.front() != '-') return "";
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(w.text, ec))) return "";
    const Word* known = lookUp(w.text);
    if (known && known->mode && !mode.empty()) {
        return w.text + " after " + std::string(mode) + ": one mode at a time";
    }
    return "unknown option " + w.text;
}

}  // namespace

Arguments parseArguments(const std::vector<std::string>& args) {
    Arguments result;
    std::vector<Operand> words;
    bool zone = true;
    bool optionGiven = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (zone && arg == "--") {
            zone = false;
            continue;
        }
        const Word* known = zone ? lookUp(arg) : nullptr;
        if (!known || known->mode) {
            words.push_back({arg, zone});
            continue;
        }
        optionGiven = true;
        if (known->flag) {
            result.*known->flag = true;
            continue;
        }
        const std::string takes =
            known->values.empty()
                ? std::string(known->needs)
                : std::string(known->word) + " takes one of " + spelled(known->values);
        if (i + 1 == args.size() || args[i + 1] == "--") return usageError(takes);
        if (!allowed(known->values, args[++i]) || args[i].empty()) return usageError(takes);
        result.*known->value = args[i];
    }

    const auto mode = std::find_if(words.begin(), words.end(), [](const Operand& w) {
        const Word* known = w.zone ? lookUp(w.text) : nullptr;
        return known && known->mode;
    });
    if (mode == words.end()) {
        for (const Operand& w : words) {
            if (std::string why = notAFile(w, ""); !why.empty()) return usageError(why);
        }
        if (optionGiven) {
            return usageError(
                "--json, --dry-run, --replace, --axml, --reuse-code, --match and --ledger go with "
                "a mode");
        }
        return result;  // the window
    }
    const Word& picked = *lookUp(mode->text);
    if (mode != words.begin()) {
        return usageError(words.front().text + " before " + mode->text +
                          ": files go after the mode");
    }
    std::size_t next = 1;
    if (picked.operands == Operands::codeAndPaths || picked.operands == Operands::listAndFolders ||
        picked.operands == Operands::code) {
        if (words.size() < 2) return usageError(std::string(picked.needs));
        result.first = words[next++].text;
    }
    for (; next < words.size(); ++next) {
        if (std::string why = notAFile(words[next], picked.word); !why.empty()) {
            return usageError(why);
        }
        if (picked.operands == Operands::none || picked.operands == Operands::code) {
            return usageError(std::string(picked.word) + " takes no file: " + words[next].text);
        }
        result.paths.push_back(words[next].text);
    }
    const bool needsPaths =
        picked.operands == Operands::paths || picked.operands == Operands::codeAndPaths;
    if (needsPaths && result.paths.empty()) return usageError(std::string(picked.needs));
    result.mode = *picked.mode;
    return result;
}

}  // namespace pelorix::cli
