#pragma once
// Tiny WAV and MP3 files built from bytes, and file-system probes, for the driver, command-line
// and fault tests.

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/files.h"

namespace pelorix::test::driver {

using Chunks = std::vector<std::pair<std::string, Bytes>>;

inline void putLE32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(std::uint8_t(v >> (8 * i)));
}

inline void putBE32(Bytes& b, std::uint32_t v) {
    for (int i = 3; i >= 0; --i) b.push_back(std::uint8_t(v >> (8 * i)));
}

// Deterministic bytes of every value, so a changed byte is never a coincidence.
inline Bytes audioBytes(std::size_t n, std::uint32_t seed = 1) {
    Bytes b(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& v : b) {
        x = x * 1664525u + 1013904223u;
        v = std::uint8_t(x >> 24);
    }
    return b;
}

inline Bytes wavFmt() {
    Bytes f;
    f.insert(f.end(), {1, 0, 2, 0});  // PCM, stereo
    putLE32(f, 44100);
    putLE32(f, 44100 * 4);
    f.insert(f.end(), {4, 0, 16, 0});
    return f;
}

// "RIFF" size "WAVE" and the chunks in the order given, odd sizes padded.
inline Bytes wav(const Chunks& chunks) {
    Bytes body = bytesOf("WAVE");
    for (const auto& [id, data] : chunks) {
        body.insert(body.end(), id.begin(), id.end());
        putLE32(body, std::uint32_t(data.size()));
        body.insert(body.end(), data.begin(), data.end());
        if (data.size() % 2) body.push_back(0);
    }
    Bytes file = bytesOf("RIFF");
    putLE32(file, std::uint32_t(body.size()));
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

inline Bytes wav(const Bytes& audio) { return wav({{"fmt ", wavFmt()}, {"data", audio}}); }

// An ID3v2.3 tag holding the given frames (id, body), with `padding` zero bytes.
inline Bytes id3Frames(const std::vector<std::pair<std::string, Bytes>>& frames,
                       std::size_t padding = 0) {
    Bytes body;
    for (const auto& [id, content] : frames) {
        body.insert(body.end(), id.begin(), id.end());
        putBE32(body, std::uint32_t(content.size()));
        body.insert(body.end(), {0, 0});  // flags
        body.insert(body.end(), content.begin(), content.end());
    }
    body.resize(body.size() + padding, 0);
    Bytes tag = bytesOf("ID3");
    tag.insert(tag.end(), {3, 0, 0});
    const auto n = std::uint32_t(body.size());
    tag.insert(tag.end(), {std::uint8_t((n >> 21) & 0x7F), std::uint8_t((n >> 14) & 0x7F),
                           std::uint8_t((n >> 7) & 0x7F), std::uint8_t(n & 0x7F)});
    tag.insert(tag.end(), body.begin(), body.end());
    return tag;
}

// An ID3v2.3 tag holding the given text frames in ISO-8859-1.
inline Bytes id3(const std::vector<std::pair<std::string, std::string>>& frames,
                 std::size_t padding = 0) {
    std::vector<std::pair<std::string, Bytes>> raw;
    for (const auto& [id, text] : frames) {
        Bytes content{0};
        content.insert(content.end(), text.begin(), text.end());
        raw.emplace_back(id, content);
    }
    return id3Frames(raw, padding);
}

// A WAV whose "id3 " chunk stores `code` as its TSRC text.
inline Bytes wavWithCode(const std::string& code, const Bytes& audio) {
    return wav({{"fmt ", wavFmt()}, {"data", audio}, {"id3 ", id3({{"TSRC", code}})}});
}

// MPEG-looking audio: starts with a frame sync.
inline Bytes mpegAudio(std::size_t n, std::uint32_t seed = 2) {
    Bytes b = audioBytes(n, seed);
    if (n >= 2) b[0] = 0xFF, b[1] = 0xFB;
    return b;
}

inline struct stat lstatOf(const std::filesystem::path& p) {
    struct stat st {};
    ::lstat(p.c_str(), &st);
    return st;
}

// Names in the folder that look like a temporary file of a write.
inline std::vector<std::string> tempFiles(const TempDir& dir) {
    std::vector<std::string> found;
    for (const auto& name : dir.list()) {
        if (name.find(".pelorix-tmp") != std::string::npos) found.push_back(name);
    }
    return found;
}

}  // namespace pelorix::test::driver
