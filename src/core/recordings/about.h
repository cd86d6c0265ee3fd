// SPDX-License-Identifier: MIT
#pragma once
// What a file says about itself: title, artist, album, track and disc numbers, and how long its
// audio plays by its headers. Read only, never written; only the few fields are loaded.

#include <filesystem>
#include <optional>
#include <string>

#include "core/formats/format.h"

namespace pelorix {
class FileIn;
}

namespace pelorix::recordings {

struct About {
    std::optional<std::string> title, artist, album;
    std::optional<unsigned> track, disc;  // the number, without a total ("3/12" is 3)
    double seconds = 0;                   // from the headers; 0 when they do not tell
    friend bool operator==(const About&, const About&) = default;
};

// ID3 (MP3, and the ID3 chunk of WAV and AIFF, before a WAV's LIST INFO), Vorbis comments
// (FLAC), the MP4 item list (M4A). A damaged or missing tag gives empty fields, never an error;
// a file that is no audio file of a known kind throws TagError.
About about(const FileIn& in, formats::AudioFormat format);
About about(const std::filesystem::path& path);

// "3", "03", "3/12" → 3; none for anything else.
std::optional<unsigned> leadingNumber(const std::string& text);

}  // namespace pelorix::recordings
