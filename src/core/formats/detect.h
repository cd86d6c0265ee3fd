// SPDX-License-Identifier: MIT
#pragma once
// The five containers and the detection of a file's container from its first bytes.

#include <filesystem>
#include <string>
#include <string_view>

namespace pelorix {
class FileIn;
}  // namespace pelorix

namespace pelorix::formats {

class AudioFormat {
  public:
    enum Kind { mp3, wav, aiff, flac, m4a };

    constexpr AudioFormat(Kind k) : kind_(k) {}  // NOLINT: implicit by design
    constexpr Kind kind() const { return kind_; }
    constexpr operator Kind() const { return kind_; }  // NOLINT: allows switch and ==

    // "MP3", "WAV", "AIFF", "FLAC", "M4A".
    std::string_view label() const;

    // Decides the container from the content; the name's extension only as a last resort for
    // MP3 streams. Throws TagError (or a platform error).
    static AudioFormat detect(const std::filesystem::path& path);
    // The same for a file already open, so that a caller reading it next opens it only once.
    static AudioFormat detect(const FileIn& in);

  private:
    Kind kind_;
};

}  // namespace pelorix::formats
