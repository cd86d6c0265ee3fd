// SPDX-License-Identifier: MIT
#pragma once
// Runs the codecs on real files in a private folder: inputs written from bytes, outputs read back,
// refusals as their message.

#include <functional>
#include <string>

#include "core/io/binary_io.h"
#include "core/tag_error.h"
#include "support/files.h"

namespace pelorix::test {

// The message of the TagError that fn throws, or "" for none.
inline std::string errorOf(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const TagError& e) {
        return e.what();
    }
    return "";
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

}  // namespace pelorix::test
