// SPDX-License-Identifier: MIT
// Platform code: the self check's converter on macOS, where afconvert and afinfo come with the
// system, and the CAF container (Apple's Core Audio Format) every converter decodes to, which
// afconvert writes natively and ffmpeg writes too. Built on every platform; chosen at run time
// when both tools are there, so elsewhere ffmpeg serves.
#include <unistd.h>

#include "cli/self_check.h"

namespace pelorix::cli::self_check {

namespace fs = std::filesystem;

namespace {

class Afconvert : public Converter {
  public:
    std::string name() const override { return "afconvert"; }
    std::string inspectorName() const override { return "afinfo"; }

    ProcessResult convert(const Target& t, const fs::path& source,
                          const fs::path& destination) const override {
        const std::string file = toolName(
            {{"aiff", "AIFF"}, {"flac", "flac"}, {"m4a", "m4af"}, {"caf", "caff"}}, t.container);
        const std::string data = toolName({{"pcm16be", "BEI16"},
                                           {"pcm16le", "LEI16"},
                                           {"flac", "flac"},
                                           {"aac", "aac"},
                                           {"alac", "alac"}},
                                          t.codec);
        if (file.empty() || data.empty()) return noOptions(t);
        return runProcess(kAfconvert,
                          {"-f", file, "-d", data, source.string(), destination.string()});
    }

    ProcessResult inspect(const fs::path& file) const override {
        return runProcess(kAfinfo, {file.string()});
    }

    static constexpr const char* kAfconvert = "/usr/bin/afconvert";
    static constexpr const char* kAfinfo = "/usr/bin/afinfo";
};

}  // namespace

std::unique_ptr<Converter> platformConverter() {
    if (::access(Afconvert::kAfconvert, X_OK) == 0 && ::access(Afconvert::kAfinfo, X_OK) == 0) {
        return std::make_unique<Afconvert>();
    }
    return ffmpegConverter();
}

// 16-bit little-endian PCM in a CAF file.
const Target& decodeTarget() {
    static const Target target{"caf", "pcm16le"};
    return target;
}

}  // namespace pelorix::cli::self_check
