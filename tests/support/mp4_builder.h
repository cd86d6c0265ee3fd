// SPDX-License-Identifier: MIT
#pragma once
// Byte builders for MP4 box trees: boxes with every header form, chunk offset tables, fragment
// boxes, and a small but complete audio-only movie whose chunk offsets point at distinct bytes
// of its `mdat`.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "support/files.h"

namespace pelorix::test::mp4 {

Bytes u32(std::uint32_t v);
Bytes u64(std::uint64_t v);
Bytes text(std::string_view s);

// A box with a 32-bit size, and with size field 1 and a 64-bit size.
Bytes box(std::string_view type, const Bytes& payload = {});
Bytes box64(std::string_view type, const Bytes& payload);
// Version byte, 24-bit flags, payload.
Bytes fullBox(std::string_view type, std::uint8_t version, std::uint32_t flags,
              const Bytes& payload);

Bytes stco(const std::vector<std::uint32_t>& offsets);
Bytes co64(const std::vector<std::uint64_t>& offsets);
// A `tfhd` (flag 1 with a base data offset when given) and a `tfra` whose entries point at
// `moof` boxes (version 1: 64-bit fields).
Bytes tfhd(std::uint32_t trackId, std::optional<std::uint64_t> baseDataOffset);
Bytes tfra(std::uint8_t version, const std::vector<std::uint64_t>& moofOffsets);

// An `ilst` item holding UTF-8 text: a freeform one (mean, name, data, then `more`) or, with an
// empty mean, a plain one of type `name`. A `meta` with an `mdir` handler and an `ilst`.
Bytes item(std::string_view mean, std::string_view name, std::string_view value,
           const Bytes& more = {});
Bytes meta(const Bytes& items);

struct MovieOptions {
    bool moovFirst = true;  // `moov` before `mdat` (faststart) or after it
    bool co64 = false;      // 64-bit chunk offsets
    Bytes moovTail = {};    // extra children of `moov` after the track
    std::size_t chunks = 4;
    std::size_t chunkSize = 48;
};

struct Movie {
    Bytes file;
    std::uint64_t moovStart = 0;
    std::uint64_t moovSize = 0;
};

// ftyp, moov (mvhd, one sound trak with a full sample table), mdat. Every chunk holds
// different bytes, so a wrong offset reads the wrong data.
Movie movie(const MovieOptions& options = {});

}  // namespace pelorix::test::mp4
