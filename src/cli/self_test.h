// SPDX-License-Identifier: MIT
#pragma once
// The built-in self test: checks the code parser, then drives the real tagging driver through
// write, read back, replace, backup, rewrite and removal on generated files of every format,
// confirming after each change that the audio fingerprint and the decoded sound are unchanged.
// AIFF, FLAC and M4A samples come from a WAV through the platform's audio converter, whose
// decoding also serves as an independent check that the audio survived.

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/process.h"

namespace pelorix::SelfTest {

// The audio converter and the file inspector: the platform's own tools where they exist,
// otherwise ffmpeg and ffprobe found through PATH, given the same contract by an adapter.
struct Tools {
    std::string converter;      // program to run
    std::string converterName;  // the name the report uses
    std::string inspector;
    std::string inspectorName;
    bool native = false;  // the converter takes afconvert's own options

    static Tools platform();  // afconvert/afinfo when both exist, else ffmpeg/ffprobe
    static Tools ffmpeg();
};

// A converter output in afconvert's terms: file format ("-f") and data format ("-d").
struct Target {
    std::string fileFormat;
    std::string dataFormat;
    bool moovFirst = false;  // MP4 only: index before the media (ffmpeg's faststart)
};

struct Conversion {
    std::string label;
    std::string extension;
    Target target;
};

// AIFF, FLAC, M4A-AAC and M4A-ALAC, in the order the run makes them.
const std::vector<Conversion>& conversions();
// 16-bit little-endian PCM in a CAF file: what pcmHash decodes to.
const Target& decodeTarget();

// The arguments (without the program) that turn `source` into `destination`.
std::vector<std::string> converterArguments(const Tools& tools, const Target& target,
                                            const std::filesystem::path& source,
                                            const std::filesystem::path& destination);
// The inspector's arguments for opening `file`.
std::vector<std::string> inspectorArguments(const Tools& tools, const std::filesystem::path& file);
ProcessResult convert(const Tools& tools, const Target& target, const std::filesystem::path& source,
                      const std::filesystem::path& destination);

// The counters and the report of one run.
class Session {
  public:
    Session(std::ostream& out, Tools tools) : out_(out), tools_(std::move(tools)) {}

    // Counts a pass silently, or a failure with the line "  FAIL: " + message.
    void check(bool condition, const std::string& message);
    void line(const std::string& text);

    int passes() const { return passes_; }
    int failures() const { return failures_; }
    const Tools& tools() const { return tools_; }

  private:
    std::ostream& out_;
    Tools tools_;
    int passes_ = 0;
    int failures_ = 0;
};

// The whole run on standard output (or `out`): 0 when every check passed, else 1.
int run();
int run(std::ostream& out, const Tools& tools = Tools::platform());

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
std::optional<std::string> pcmHash(const Tools& tools, const std::filesystem::path& file,
                                   const std::filesystem::path& work);

}  // namespace pelorix::SelfTest
