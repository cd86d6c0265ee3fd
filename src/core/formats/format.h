// SPDX-License-Identifier: MIT
#pragma once
// The one table of the supported containers. A row holds everything the program knows about a
// format: its name, its file name extensions, the check of its first bytes, and the codec that
// reads, writes and lists its codes and says where its audio lies. Adding a format is one new
// unit under formats/ (with the five functions a row points at) and one row in format.cpp.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/formats/carrier.h"
#include "core/io/binary_io.h"

namespace pelorix::formats {

class AudioFormat {
  public:
    enum Kind { mp3, wav, aiff, flac, m4a };

    constexpr AudioFormat(Kind k) : kind_(k) {}  // NOLINT: implicit by design
    constexpr Kind kind() const { return kind_; }
    constexpr operator Kind() const { return kind_; }  // NOLINT: allows switch and ==

    // The table's label: "MP3", "WAV", "AIFF", "FLAC", "M4A".
    std::string_view label() const;

    // Decides the container from the content: the first format in the table whose content
    // check holds, else the first whose guess does (the name's extension only as a last resort
    // for MP3 streams). Throws TagError (or a platform error).
    static AudioFormat detect(const std::filesystem::path& path);
    // The same for a file already open, so that a caller reading it next opens it only once.
    static AudioFormat detect(const FileIn& in);

  private:
    Kind kind_;
};

// One row of the table.
struct Format {
    AudioFormat::Kind kind;
    std::string_view label;                        // "WAV", "AIFF", "MP3", "FLAC", "M4A"
    std::span<const std::string_view> extensions;  // lower case, no dot; the usual one first
    // Whether the file's first bytes (`head`, 12 to 16 of them) mark the format; the checks of
    // all rows exclude one another.
    bool (*matches)(const FileIn& in, const Bytes& head);
    // A weaker check, tried only when no row's `matches` holds (a stream with no mark of its
    // own); none for most formats.
    bool (*guess)(const FileIn& in, const Bytes& head);
    // The code the file is read as: its main carrier's, or none. Throws TagError.
    std::optional<std::string> (*read)(const FileIn& in);
    // Writes the whole new file with the code in every carrier that holds one (or removed from
    // each). `addAxml`: a WAV without an `axml` chunk gains one; other formats pass it by.
    void (*write)(const FileIn& in, FileOut& out, const std::optional<std::string>& isrc,
                  bool addAxml);
    // Every place the file holds a code, in file order. Throws TagError.
    Carriers (*carriers)(const FileIn& in);
    // Where the audio lies: the bytes no write may change.
    std::vector<ByteRange> (*audioRanges)(const FileIn& in);
};

// Every format, in the order the program names them (WAV, AIFF, MP3, FLAC, M4A).
std::span<const Format> formats();
// The row of a format.
const Format& format(AudioFormat kind);

// "WAV, AIFF, MP3, FLAC, M4A" with the given separator between the names, and `last` (when
// given) before the last one: labels(", ", " and ") is "WAV, AIFF, MP3, FLAC and M4A".
std::string labels(std::string_view separator = ", ",
                   std::optional<std::string_view> last = std::nullopt);

// The label of the format an extension (no dot, any case) names, or none.
std::optional<std::string_view> labelForExtension(std::string_view extension);

// Whether a file name ends in one of the extensions (any case) after its last dot.
bool hasAudioExtension(std::string_view fileName);

}  // namespace pelorix::formats
