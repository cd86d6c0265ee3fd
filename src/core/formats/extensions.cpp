// SPDX-License-Identifier: MIT
#include "core/formats/extensions.h"

#include <array>

#include "core/io/binary_io.h"

namespace pelorix::formats {

namespace {

constexpr std::array<std::string_view, 2> kWav = {"wav", "wave"};
constexpr std::array<std::string_view, 3> kAiff = {"aiff", "aif", "aifc"};
constexpr std::array<std::string_view, 1> kMp3 = {"mp3"};
constexpr std::array<std::string_view, 1> kFlac = {"flac"};
constexpr std::array<std::string_view, 2> kM4a = {"m4a", "mp4"};

constexpr std::array<Supported, 5> kSupported = {{
    {"WAV", kWav},
    {"AIFF", kAiff},
    {"MP3", kMp3},
    {"FLAC", kFlac},
    {"M4A", kM4a},
}};

}  // namespace

std::span<const Supported> supported() {
    return kSupported;
}

std::string labels(std::string_view separator) {
    std::string out;
    for (const Supported& s : kSupported) {
        if (!out.empty()) out += separator;
        out += s.label;
    }
    return out;
}

std::optional<std::string_view> labelForExtension(std::string_view extension) {
    const std::string ext = asciiLower(extension);
    for (const Supported& s : kSupported) {
        for (std::string_view e : s.extensions) {
            if (e == ext) return s.label;
        }
    }
    return std::nullopt;
}

bool hasAudioExtension(std::string_view fileName) {
    const auto dot = fileName.rfind('.');
    if (dot == std::string_view::npos) return false;
    return labelForExtension(fileName.substr(dot + 1)).has_value();
}

}  // namespace pelorix::formats
