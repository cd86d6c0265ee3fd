// SPDX-License-Identifier: MIT
#pragma once
// Runs the codecs on real files in a private folder: inputs written from bytes, outputs read
// back, refusals as "kind: message" text, and damaged copies of a good file.

#include <functional>
#include <string>

#include "core/io/binary_io.h"
#include "core/tag_error.h"
#include "support/files.h"

namespace pelorix::test {

inline std::string malformed(std::string_view m) {
    return "malformed: " + std::string(m);
}
inline std::string unsupported(std::string_view m) {
    return "unsupported: " + std::string(m);
}

// The TagError that fn throws, as malformed(...) or unsupported(...), or "" for none.
inline std::string errorOf(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const TagError& e) {
        const bool refused = e.kind() == TagError::Kind::unsupported;
        return refused ? unsupported(e.what()) : malformed(e.what());
    }
    return "";
}

inline Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct Scratch {
    TempDir dir;
    int serial = 0;
    std::filesystem::path put(const Bytes& bytes) {
        const auto p = dir / ("in" + std::to_string(++serial));
        writeFile(p, bytes);
        return p;
    }
    // What write(in, out) makes of `input`; flushed, not synced, as nothing here needs the disk.
    Bytes written(const Bytes& input, const std::function<void(const FileIn&, FileOut&)>& write) {
        const FileIn in(put(input));
        FileOut out(dir / ("out" + std::to_string(++serial)));
        write(in, out);
        out.flushBuffer();
        return readFile(out.path());
    }
    template <typename Read>
    auto read(const Bytes& input, Read read) {
        return read(FileIn(put(input)));
    }
};

// Calls fn with `rounds` damaged copies of `seed`: one to six bytes after the first `keep`
// overwritten (often with 0xFF, as in sizes), and every fifth copy or so cut short.
inline void forEachDamaged(const Bytes& seed, std::size_t keep, int rounds,
                           const std::function<void(const Bytes&)>& fn) {
    std::uint32_t x = 2463534242u;
    auto next = [&x] { return x ^= x << 13, x ^= x >> 17, x ^= x << 5; };
    for (int round = 0; round < rounds; ++round) {
        Bytes b = seed;
        for (std::uint32_t k = 0, n = 1 + next() % 6; k < n; ++k) {
            b[keep + next() % (b.size() - keep)] = next() % 4 == 0 ? 0xFF : std::uint8_t(next());
        }
        if (next() % 5 == 0) b.resize(keep + next() % (b.size() - keep));
        fn(b);
    }
}

}  // namespace pelorix::test
