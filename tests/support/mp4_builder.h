// SPDX-License-Identifier: MIT
#pragma once
// Byte builders for MP4 box trees: boxes with every header form, the iTunes metadata path,
// chunk offset tables, fragment boxes, and a small but complete audio-only movie whose chunk
// offsets point at distinct bytes of its `mdat`.

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelorix::test::mp4 {

using Bytes = std::vector<std::uint8_t>;

Bytes u32(std::uint32_t v);
Bytes u64(std::uint64_t v);
Bytes text(std::string_view s);
Bytes cat(std::initializer_list<Bytes> parts);

// A box with a 32-bit size, with size field 1 and a 64-bit size, and with size field 0.
Bytes box(std::string_view type, const Bytes& payload = {});
Bytes box64(std::string_view type, const Bytes& payload);
Bytes box0(std::string_view type, const Bytes& payload);
// Version byte, 24-bit flags, payload.
Bytes fullBox(std::string_view type, std::uint8_t version, std::uint32_t flags,
              const Bytes& payload);

// `meta` with version/flags, an `mdir` hdlr, then the children (ISO style); or with the
// hdlr right at the start of its payload (QuickTime style).
Bytes metaISO(const Bytes& children);
Bytes metaQuickTime(const Bytes& children);
// A freeform `----` item; no `data` sub-box when `data` is absent.
Bytes freeform(std::string_view mean, std::string_view name, std::optional<std::string> data);
// A plain text item such as "\xA9nam" (the type as raw bytes).
Bytes textItem(std::string_view type, std::string_view value);
// udta/meta(ISO)/ilst holding the items.
Bytes udtaWithItems(const Bytes& items);

Bytes stco(const std::vector<std::uint32_t>& offsets);
Bytes co64(const std::vector<std::uint64_t>& offsets);
// A `tfhd` (flag 1 with a base data offset when given) and a `tfra` whose entries point at
// `moof` boxes (version 1: 64-bit fields).
Bytes tfhd(std::uint32_t trackId, std::optional<std::uint64_t> baseDataOffset);
Bytes tfra(std::uint8_t version, const std::vector<std::uint64_t>& moofOffsets);

struct MovieOptions {
    bool moovFirst = true;    // `moov` before `mdat` (faststart) or after it
    bool co64 = false;        // 64-bit chunk offsets
    bool moovSize64 = false;  // `moov` with size field 1
    bool mdatSize0 = false;   // `mdat` with size field 0
    Bytes moovTail = {};      // extra children of `moov` after the track
    std::size_t chunks = 4;
    std::size_t chunkSize = 48;
};

struct Movie {
    Bytes file;
    std::vector<std::uint64_t> chunkOffsets;
    std::uint64_t moovStart = 0;
    std::uint64_t moovSize = 0;
};

// ftyp, moov (mvhd, one sound trak with a full sample table), mdat. Every chunk holds
// different bytes, so a wrong offset reads the wrong data.
Movie movie(const MovieOptions& options = {});

// The entries of the first `stco` or `co64` table, found by a plain byte search.
std::vector<std::uint64_t> chunkOffsets(const Bytes& file);
// Index of the first occurrence of the 4 type bytes at or after `from`, or npos.
std::size_t find(const Bytes& file, std::string_view type, std::size_t from = 0);

}  // namespace pelorix::test::mp4
