// SPDX-License-Identifier: MIT
#include "core/formats/format.h"

#include <array>

#include "core/formats/aiff.h"
#include "core/formats/carriers.h"
#include "core/formats/flac.h"
#include "core/formats/mp3.h"
#include "core/formats/mp4.h"
#include "core/formats/wav.h"
#include "core/tag_error.h"

namespace pelorix::formats {

namespace {

// A codec whose write takes no options, in a row.
template <void (*Write)(const FileIn&, FileOut&, const std::optional<std::string>&)>
void plainWrite(const FileIn& in, FileOut& out, const std::optional<std::string>& isrc, bool) {
    Write(in, out, isrc);
}

// What a file is read as: its main carrier's code, else the first counted carrier's in file
// order, so that a code another tool stored elsewhere (a TXXX "ISRC" frame, an INFO field) is the
// file's code to every mode, never replaced unasked.
template <std::optional<std::string> (*Main)(const FileIn&), Carriers (*All)(const FileIn&)>
std::optional<std::string> readCode(const FileIn& in) {
    if (auto code = Main(in)) return code;
    for (const Carrier& c : All(in)) {
        if (!c.reportOnly && !codeOf(c).empty()) return c.text;
    }
    return std::nullopt;
}

constexpr std::array<std::string_view, 2> kWav = {"wav", "wave"};
constexpr std::array<std::string_view, 3> kAiff = {"aiff", "aif", "aifc"};
constexpr std::array<std::string_view, 1> kMp3 = {"mp3"};
constexpr std::array<std::string_view, 1> kFlac = {"flac"};
constexpr std::array<std::string_view, 2> kM4a = {"m4a", "mp4"};

// The order is the one the program names them in, and the order detection tries them.
constexpr std::array<Format, 5> kFormats = {{
    {AudioFormat::wav, "WAV", kWav, wav::matches, nullptr, readCode<wav::readISRC, wav::carriers>,
     wav::write, wav::carriers, wav::audioRanges},
    {AudioFormat::aiff, "AIFF", kAiff, aiff::matches, nullptr,
     readCode<aiff::readISRC, aiff::carriers>, plainWrite<aiff::write>, aiff::carriers,
     aiff::audioRanges},
    {AudioFormat::mp3, "MP3", kMp3, mp3::matches, mp3::guess,
     readCode<mp3::readISRC, mp3::carriers>, plainWrite<mp3::write>, mp3::carriers,
     mp3::audioRanges},
    {AudioFormat::flac, "FLAC", kFlac, flac::matches, nullptr,
     readCode<flac::readISRC, flac::carriers>, plainWrite<flac::write>, flac::carriers,
     flac::audioRanges},
    {AudioFormat::m4a, "M4A", kM4a, mp4::matches, nullptr, readCode<mp4::readISRC, mp4::carriers>,
     plainWrite<mp4::write>, mp4::carriers, mp4::audioRanges},
}};

}  // namespace

std::span<const Format> formats() {
    return kFormats;
}

const Format& format(AudioFormat kind) {
    for (const Format& f : kFormats) {
        if (f.kind == kind.kind()) return f;
    }
    throw TagError::unsupported(msg::unsupportedType(labels(", ", " and ")));
}

std::string_view AudioFormat::label() const {
    return format(*this).label;
}

AudioFormat AudioFormat::detect(const std::filesystem::path& path) {
    const FileIn in(path);
    return detect(in);
}

AudioFormat AudioFormat::detect(const FileIn& in) {
    const Bytes head = in.read(0, 16);
    if (head.size() < 12) throw TagError::malformed(msg::tooShortForAudio);
    for (const Format& f : kFormats) {
        if (f.matches(in, head)) return f.kind;
    }
    for (const Format& f : kFormats) {
        if (f.guess && f.guess(in, head)) return f.kind;
    }
    throw TagError::unsupported(msg::unsupportedType(labels(", ", " and ")));
}

std::string labels(std::string_view separator, std::optional<std::string_view> last) {
    std::string out;
    for (std::size_t i = 0; i < kFormats.size(); ++i) {
        if (i > 0) out += i + 1 == kFormats.size() && last ? *last : separator;
        out += kFormats[i].label;
    }
    return out;
}

std::optional<std::string_view> labelForExtension(std::string_view extension) {
    const std::string ext = asciiLower(extension);
    for (const Format& f : kFormats) {
        for (std::string_view e : f.extensions) {
            if (e == ext) return f.label;
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
