// SPDX-License-Identifier: MIT
#include "cli/cli.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>

#include "core/isrc.h"
#include "core/write/audio_tagger.h"

#if __has_include("cli/self_test.h")
#include "cli/self_test.h"
#define PELORIX_HAVE_SELF_TEST 1
#endif

namespace pelorix::cli {

namespace {

using Args = std::vector<std::string>;

std::optional<std::size_t> indexOf(const Args& args, std::string_view word) {
    auto it = std::find(args.begin(), args.end(), word);
    if (it == args.end()) return std::nullopt;
    return std::size_t(it - args.begin());
}

bool has(const Args& args, std::string_view word) {
    return indexOf(args, word).has_value();
}

std::string hex2(unsigned v) {
    static const char digits[] = "0123456789abcdef";
    return {digits[(v >> 4) & 0xF], digits[v & 0xF]};
}

// Length of the valid UTF-8 sequence at `at` and its code point, or 0 when it is not valid.
std::size_t utf8At(std::string_view s, std::size_t at, char32_t& cp) {
    const auto b0 = std::uint8_t(s[at]);
    std::size_t len;
    char32_t min;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2, min = 0x80, cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, min = 0x800, cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, min = 0x10000, cp = b0 & 0x07;
    } else {
        return 0;
    }
    if (s.size() - at < len) return 0;
    for (std::size_t i = 1; i < len; ++i) {
        const auto b = std::uint8_t(s[at + i]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

// A file's code text as read mode prints it.
std::string shownCode(const std::optional<std::string>& stored) {
    if (!stored) return "-";
    if (auto code = ISRC::parse(*stored)) return code->formatted();
    return escapeControls(*stored);
}

int readFiles(const Args& args, std::size_t first, std::ostream& out) {
    // A read takes microseconds, so flushing each line would cost more than the read; lines
    // still appear at least every tenth of a second for whoever watches a long list.
    using Clock = std::chrono::steady_clock;
    constexpr auto kFlushEvery = std::chrono::milliseconds(100);
    auto flushed = Clock::now();
    int status = 0;
    for (std::size_t i = first; i < args.size(); ++i) {
        const std::string& path = args[i];
        try {
            const std::string shown = shownCode(AudioTagger::readISRC(std::filesystem::path(path)));
            out << path << '\t' << shown << '\n';
        } catch (const std::exception& e) {
            out << path << "\tERROR: " << e.what() << '\n';
            status = 1;
        }
        if (const auto now = Clock::now(); now - flushed >= kFlushEvery) {
            out.flush();
            flushed = now;
        }
    }
    out.flush();
    return status;
}

int writeFiles(const Args& args, std::size_t first, const std::optional<std::string>& code,
               std::ostream& out) {
    int status = 0;
    for (std::size_t i = first; i < args.size(); ++i) {
        const std::string& path = args[i];
        try {
            AudioTagger::writeISRC(std::filesystem::path(path), code, false);
            out << "OK " << path << '\n';
        } catch (const std::exception& e) {
            out << "ERROR " << path << ": " << e.what() << '\n';
            status = 1;
        }
        out.flush();
    }
    return status;
}

int runSelfTest(std::ostream& out) {
#ifdef PELORIX_HAVE_SELF_TEST
    out.flush();
    return SelfTest::run();
#else
    out << "The self test is not part of this build.\n";
    return 1;
#endif
}

}  // namespace

Mode chooseMode(const Args& args) {
    if (has(args, "--selftest")) return Mode::selfTest;
    if (has(args, "--read")) return Mode::read;
    // "--write" needs a code and at least one file after its first occurrence.
    if (auto j = indexOf(args, "--write"); j && args.size() > *j + 2) return Mode::write;
    if (has(args, "--remove")) return Mode::remove;
    if (has(args, "--help") || has(args, "-h")) return Mode::help;
    if (has(args, "--version")) return Mode::version;
    return Mode::window;
}

std::optional<int> run(const Args& args, std::ostream& out) {
    switch (chooseMode(args)) {
        case Mode::selfTest:
            return runSelfTest(out);
        case Mode::read:
            return readFiles(args, *indexOf(args, "--read") + 1, out);
        case Mode::write: {
            const std::size_t j = *indexOf(args, "--write");
            const auto code = ISRC::parse(args[j + 1]);
            if (!code) {
                out << "Invalid ISRC\n";
                return 2;
            }
            return writeFiles(args, j + 2, code->code(), out);
        }
        case Mode::remove:
            return writeFiles(args, *indexOf(args, "--remove") + 1, std::nullopt, out);
        case Mode::help:
            out << usage();
            return 0;
        case Mode::version:
            out << "pelorix " << PELORIX_VERSION << '\n';
            return 0;
        case Mode::window:
            return std::nullopt;
    }
    return std::nullopt;
}

std::string escapeControls(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        char32_t cp = 0;
        const std::size_t len = utf8At(text, at, cp);
        if (len == 0) {
            shown += "\\x" + hex2(std::uint8_t(text[at]));
            at += 1;
            continue;
        }
        if (cp == '\n')
            shown += "\\n";
        else if (cp == '\t')
            shown += "\\t";
        else if (cp == '\r')
            shown += "\\r";
        else if (cp < 0x20 || cp == 0x7F)
            shown += "\\x" + hex2(unsigned(cp));
        else if (cp >= 0x80 && cp <= 0x9F)
            shown += "\\u00" + hex2(unsigned(cp));
        else
            shown.append(text.substr(at, len));
        at += len;
    }
    return shown;
}

std::string usage() {
    return "Usage: pelorix --read FILE...          print the ISRC stored in each file\n"
           "       pelorix --write CODE FILE...    store CODE in each file\n"
           "       pelorix --remove FILE...        remove the ISRC from each file\n"
           "       pelorix --selftest              run the built-in self test\n"
           "       pelorix --help | --version\n"
           "       pelorix [FILE...]               open the window\n"
           "Handles WAV, AIFF, MP3, FLAC and M4A; the audio is never changed.\n"
           "Exit status: 0 when every file succeeded, 1 when a file failed, 2 for an invalid "
           "code.\n";
}

}  // namespace pelorix::cli
