// SPDX-License-Identifier: MIT
#include "core/formats/detect.h"

#include "core/formats/id3v2.h"
#include "core/io/binary_io.h"
#include "core/tag_error.h"

namespace pelorix {

std::string_view AudioFormat::label() const {
    switch (kind_) {
        case mp3:
            return "MP3";
        case wav:
            return "WAV";
        case aiff:
            return "AIFF";
        case flac:
            return "FLAC";
        case m4a:
            return "M4A";
    }
    return "";
}

const std::set<std::string>& AudioFormat::extensions() {
    static const std::set<std::string> set = {"mp3",  "wav",  "wave", "aif", "aiff",
                                              "aifc", "flac", "m4a",  "mp4"};
    return set;
}

namespace {

bool extensionIsMP3(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    if (ext.size() != 4) return false;  // ".mp3"
    for (char& c : ext) {
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    }
    return ext == ".mp3";
}

}  // namespace

AudioFormat AudioFormat::detect(const std::filesystem::path& path) {
    const FileIn in(path);
    return detect(in);
}

AudioFormat AudioFormat::detect(const FileIn& in) {
    const Bytes head = in.read(0, 16);
    if (head.size() < 12) throw TagError::malformed(msg::tooShortForAudio);

    // A leading ID3v2 tag decides alone: FLAC when "fLaC" follows it, MP3 otherwise.
    if (auto total = ID3v2::totalSize(head)) {
        const Bytes after = in.read(*total, 4);
        if (after.size() == 4 && fourCC(after, 0) == "fLaC") return flac;
        return mp3;
    }

    const std::string id = fourCC(head, 0);
    const std::string form = fourCC(head, 8);
    if (id == "RIFF" && form == "WAVE") return wav;
    if (id == "RF64" || id == "BW64") throw TagError::unsupported(msg::rf64);
    if (id == "FORM" && (form == "AIFF" || form == "AIFC")) return aiff;
    if (id == "fLaC") return flac;
    if (fourCC(head, 4) == "ftyp") return m4a;
    if (head[0] == 0xFF && head[1] >= 0xE0) return mp3;  // MPEG frame sync
    if (extensionIsMP3(in.path())) return mp3;
    throw TagError::unsupported(msg::unsupportedType);
}

}  // namespace pelorix
