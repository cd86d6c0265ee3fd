// SPDX-License-Identifier: MIT
#pragma once
// The built-in self test: checks the code parser, then drives the real tagging driver through
// write, read back, replace, backup, rewrite and removal on generated files of every format,
// confirming after each change that the audio fingerprint and the decoded sound are unchanged.
// AIFF, FLAC and M4A samples come from a WAV through an audio converter (ffmpeg, or the
// platform's own where it has one), whose decoding also serves as an independent check that the
// audio survived.

#include <filesystem>
#include <initializer_list>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "cli/process.h"

namespace pelorix::cli::self_check {

// A conversion in neutral terms: the container to write and the codec of its audio.
struct Target {
    std::string container;    // "aiff", "flac", "m4a", "caf"
    std::string codec;        // "pcm16be", "pcm16le", "flac", "aac", "alac"
    bool indexFirst = false;  // MP4 only: the index (`moov`) before the media
};

// The audio converter and file inspector the self test drives: converts files between
// containers and codecs, and opens a file to report what it finds. Adapters translate the
// neutral terms into one tool's options.
class Converter {
  public:
    virtual ~Converter() = default;
    virtual std::string name() const = 0;           // the converter, as the report names it
    virtual std::string inspectorName() const = 0;  // the inspector, likewise
    // Status -1 with a reason when the tool has no options for the target.
    virtual ProcessResult convert(const Target& target, const std::filesystem::path& source,
                                  const std::filesystem::path& destination) const = 0;
    virtual ProcessResult inspect(const std::filesystem::path& file) const = 0;
};

// For adapters: a neutral name looked up in a small table of a tool's own names ("" when it has
// none), and the result of a conversion the tool has no options for.
std::string toolName(std::initializer_list<std::pair<const char*, const char*>> table,
                     const std::string& key);
ProcessResult noOptions(const Target& target);

// ffmpeg and ffprobe, found through PATH.
std::unique_ptr<Converter> ffmpegConverter();
// The platform's own converter where it has one, else ffmpeg (cli/platform/).
std::unique_ptr<Converter> platformConverter();

struct Conversion {
    std::string label;
    std::string extension;
    Target target;
};

// AIFF, FLAC, M4A-AAC and M4A-ALAC, in the order the run makes them.
const std::vector<Conversion>& conversions();
// What pcmHash decodes to, with any converter (cli/platform/).
const Target& decodeTarget();

// The counters and the report of one run.
class Session {
  public:
    Session(std::ostream& out, const Converter& converter) : out_(out), converter_(converter) {}

    // Counts a pass silently, or a failure with the line "  FAIL: " + message.
    void check(bool condition, const std::string& message);
    void line(const std::string& text);

    int passes() const { return passes_; }
    int failures() const { return failures_; }
    const Converter& converter() const { return converter_; }

  private:
    std::ostream& out_;
    const Converter& converter_;
    int passes_ = 0;
    int failures_ = 0;
};

// The whole run on standard output (or `out`): 0 when every check passed, else 1.
int run();
int run(std::ostream& out, const Converter& converter);

// One second of a 440 Hz mono tone with a junk and a LIST chunk, and with `extraID3` an
// "id3 " chunk holding a title frame.
void makeWAV(const std::filesystem::path& path, bool extraID3);
// An ID3v2.4 tag (title, picture, padding), 60 silent MPEG frames and an ID3v1 tail.
void makeMP3(const std::filesystem::path& path);

// The per-file scenario; errors of detection, the driver and file reads propagate.
void exercise(Session& session, const std::string& label, const std::filesystem::path& file,
              const std::filesystem::path& work, bool expectTitle);

// SHA-256 of the decoded audio after the decoded file's first 4096 bytes, or none when the
// converter cannot decode the file.
std::optional<std::string> pcmHash(const Converter& converter, const std::filesystem::path& file,
                                   const std::filesystem::path& work);

}  // namespace pelorix::cli::self_check
