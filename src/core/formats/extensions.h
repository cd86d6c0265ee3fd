// SPDX-License-Identifier: MIT
#pragma once
// The one list of the supported containers as users meet them: their names, in the order the
// program lists them, and the file name extensions that mark them. Everything that names the
// formats or picks files by name (the window's texts and file dialog, folder scans) reads it
// from here.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace pelorix::formats {

struct Supported {
    std::string_view label;                        // "WAV", "AIFF", "MP3", "FLAC", "M4A"
    std::span<const std::string_view> extensions;  // lower case, no dot; the usual one first
};

// The five containers in the order the program names them.
std::span<const Supported> supported();

// "WAV, AIFF, MP3, FLAC, M4A" with the given separator between the names.
std::string labels(std::string_view separator = ", ");

// The label of the container an extension (no dot, any case) names, or none.
std::optional<std::string_view> labelForExtension(std::string_view extension);

// Whether a file name ends in one of the extensions (any case) after its last dot.
bool hasAudioExtension(std::string_view fileName);

}  // namespace pelorix::formats
