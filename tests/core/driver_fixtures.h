// SPDX-License-Identifier: MIT
#pragma once
// Tiny WAV and MP3 files built from bytes, file-system probes and a tap on the system-call seam,
// for the driver, command-line, fast-path and fault tests.

#include <sys/stat.h>

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "core/io/sys.h"
#include "support/chunk_builder.h"
#include "support/files.h"
#include "support/id3_builder.h"

namespace pelorix::test::driver {

inline const std::string kCode = "FIABC2600001";

// Deterministic bytes of every value, so a changed byte is never a coincidence.
inline Bytes audioBytes(std::size_t n, std::uint32_t seed = 1) {
    return chunks::audio(n, seed);
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// "RIFF" size "WAVE" and the chunks in the order given, odd sizes padded.
inline Bytes wav(const std::vector<chunks::ChunkLayout>& list) {
    return chunks::file({.chunks = list});
}
inline Bytes wav(const Bytes& audio) {
    return wav({chunks::wavFormat(), {"data", audio}});
}

// An ID3v2.3 tag of ISO-8859-1 text frames, then `padding` zero bytes.
inline Bytes id3Tag(const std::vector<std::pair<std::string, std::string>>& frames,
                    std::size_t padding = 0) {
    id3::TagLayout tag{.padding = padding};
    for (const auto& [id, text] : frames) tag.frames.push_back(id3::textFrame(id, text));
    return id3::tag(tag);
}

// A WAV whose "id3 " chunk stores `code` as its TSRC text.
inline Bytes wavWithCode(const std::string& code, const Bytes& audio) {
    return wav({chunks::wavFormat(), {"data", audio}, {"id3 ", id3Tag({{"TSRC", code}})}});
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

// What f throws, as its what() text; "" when it returns.
inline std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

// The platform's text for an errno value, as the messages quote it.
inline std::string platformText(int err) {
    return std::generic_category().message(err);
}

// Sees every call through the system-call seam while it lives: keeps them in order, counts them
// per kind, and fails the ones `fail` picks by returning an errno value (0 lets a call through).
class Seam {
  public:
    struct Call {
        sys::Op op;
        std::string path;   // for the calls that name a file
        std::size_t index;  // among all calls
        int nth;            // among the calls of its kind
    };
    using Fail = std::function<int(const Call&)>;

    explicit Seam(Fail fail = nullptr) {
        sys::setFaultHook([this, fail = std::move(fail)](sys::Op op, const std::string& path) {
            calls.push_back({op, path, calls.size(), count[op]++});
            return fail ? fail(calls.back()) : 0;
        });
    }
    ~Seam() { sys::setFaultHook(nullptr); }
    Seam(const Seam&) = delete;
    Seam& operator=(const Seam&) = delete;

    std::vector<Call> calls;
    std::map<sys::Op, int> count;
};

}  // namespace pelorix::test::driver
