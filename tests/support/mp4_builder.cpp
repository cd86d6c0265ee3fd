// SPDX-License-Identifier: MIT
#include "support/mp4_builder.h"

#include <algorithm>
#include <stdexcept>

namespace pelorix::test::mp4 {

Bytes u32(std::uint32_t v) {
    return {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
}

Bytes u64(std::uint64_t v) {
    return join({u32(std::uint32_t(v >> 32)), u32(std::uint32_t(v))});
}

Bytes text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

static Bytes typeBytes(std::string_view type) {
    if (type.size() != 4) throw std::invalid_argument("box type must be 4 bytes");
    return text(type);
}

Bytes box(std::string_view type, const Bytes& payload) {
    return join({u32(std::uint32_t(payload.size() + 8)), typeBytes(type), payload});
}

Bytes box64(std::string_view type, const Bytes& payload) {
    return join({u32(1), typeBytes(type), u64(payload.size() + 16), payload});
}

Bytes fullBox(std::string_view type, std::uint8_t version, std::uint32_t flags,
              const Bytes& payload) {
    return box(type, join({u32((std::uint32_t(version) << 24) | (flags & 0xFFFFFF)), payload}));
}

// A 33-byte `hdlr` with an empty name.
static Bytes hdlr(std::string_view handler) {
    return fullBox("hdlr", 0, 0, join({u32(0), text(handler), Bytes(13, 0)}));
}

Bytes item(std::string_view mean, std::string_view name, std::string_view value,
           const Bytes& more) {
    const Bytes data = box("data", join({u32(1), u32(0), text(value)}));
    if (mean.empty()) return box(name, data);
    return box("----", join({fullBox("mean", 0, 0, text(mean)), fullBox("name", 0, 0, text(name)),
                             data, more}));
}

Bytes meta(const Bytes& items) {
    return fullBox("meta", 0, 0, join({hdlr("mdir"), box("ilst", items)}));
}

Bytes stco(const std::vector<std::uint32_t>& offsets) {
    Bytes p = u32(std::uint32_t(offsets.size()));
    for (auto o : offsets) p = join({p, u32(o)});
    return fullBox("stco", 0, 0, p);
}

Bytes co64(const std::vector<std::uint64_t>& offsets) {
    Bytes p = u32(std::uint32_t(offsets.size()));
    for (auto o : offsets) p = join({p, u64(o)});
    return fullBox("co64", 0, 0, p);
}

Bytes tfhd(std::uint32_t trackId, std::optional<std::uint64_t> baseDataOffset) {
    return fullBox("tfhd", 0, baseDataOffset ? 0x000001 : 0x020000,
                   join({u32(trackId), baseDataOffset ? u64(*baseDataOffset) : Bytes{}}));
}

Bytes tfra(std::uint8_t version, const std::vector<std::uint64_t>& moofOffsets) {
    // traf, trun and sample numbers of 1, 2 and 3 bytes.
    Bytes p = join({u32(1), u32(0b00'01'10), u32(std::uint32_t(moofOffsets.size()))});
    std::uint64_t time = 0;
    for (auto o : moofOffsets) {
        const Bytes fields = version == 1 ? join({u64(time), u64(o)})
                                          : join({u32(std::uint32_t(time)), u32(std::uint32_t(o))});
        p = join({p, fields, Bytes{1, 0, 1, 0, 0, 1}});
        time += 1024;
    }
    return fullBox("tfra", version, 0, p);
}

static Bytes soundTrak(const Bytes& offsetTable, std::uint32_t chunks, std::uint32_t chunkSize) {
    const Bytes esds = fullBox("esds", 0, 0, Bytes{0x03, 0x80, 0x80, 0x80, 0x00});
    const Bytes mp4a = box("mp4a", join({Bytes(6, 0), Bytes{0, 1}, Bytes(8, 0), Bytes{0, 2, 0, 16},
                                         Bytes(4, 0), u32(44100u << 16), esds}));
    const Bytes stbl = box(
        "stbl", join({fullBox("stsd", 0, 0, join({u32(1), mp4a})),
                      fullBox("stts", 0, 0, join({u32(1), u32(chunks), u32(1024)})),
                      fullBox("stsc", 0, 0, join({u32(1), u32(1), u32(1), u32(1)})),
                      fullBox("stsz", 0, 0, join({u32(chunkSize), u32(chunks)})), offsetTable}));
    const Bytes dinf =
        box("dinf", fullBox("dref", 0, 0, join({u32(1), fullBox("url ", 0, 1, {})})));
    const Bytes mdhd = fullBox(
        "mdhd", 0, 0, join({u32(0), u32(0), u32(44100), u32(chunks * 1024), u32(0x55C40000)}));
    const Bytes minf = box("minf", join({fullBox("smhd", 0, 0, u32(0)), dinf, stbl}));
    const Bytes tkhd = fullBox("tkhd", 0, 7, Bytes(80, 0));
    return box("trak", join({tkhd, box("mdia", join({mdhd, hdlr("soun"), minf}))}));
}

Movie movie(const MovieOptions& o) {
    const Bytes ftyp = box("ftyp", join({text("M4A "), u32(0), text("M4A isommp42")}));
    Bytes payload;
    for (std::size_t c = 0; c < o.chunks; ++c)
        for (std::size_t i = 0; i < o.chunkSize; ++i) payload.push_back(std::uint8_t(c * 37 + i));
    const Bytes mdat = box("mdat", payload);
    Movie m;
    auto moovFor = [&](std::uint64_t firstChunk) {
        std::vector<std::uint64_t> offsets;
        for (std::size_t c = 0; c < o.chunks; ++c) offsets.push_back(firstChunk + c * o.chunkSize);
        const std::vector<std::uint32_t> narrow(offsets.begin(), offsets.end());
        const Bytes table = o.co64 ? co64(offsets) : stco(narrow);
        const Bytes trak = soundTrak(table, std::uint32_t(o.chunks), std::uint32_t(o.chunkSize));
        const Bytes body = join({fullBox("mvhd", 0, 0, Bytes(96, 0)), trak, o.moovTail});
        return box("moov", body);
    };
    m.moovSize = moovFor(0).size();
    m.moovStart = o.moovFirst ? ftyp.size() : ftyp.size() + mdat.size();
    const Bytes moov = moovFor(o.moovFirst ? ftyp.size() + m.moovSize + 8 : ftyp.size() + 8);
    m.file = o.moovFirst ? join({ftyp, moov, mdat}) : join({ftyp, mdat, moov});
    return m;
}

}  // namespace pelorix::test::mp4
