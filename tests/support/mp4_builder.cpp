#include "support/mp4_builder.h"

#include <algorithm>
#include <stdexcept>

namespace pelorix::test::mp4 {

Bytes u32(std::uint32_t v) {
    return {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
}

Bytes u64(std::uint64_t v) { return cat({u32(std::uint32_t(v >> 32)), u32(std::uint32_t(v))}); }

Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

static Bytes typeBytes(std::string_view type) {
    if (type.size() != 4) throw std::invalid_argument("box type must be 4 bytes");
    return text(type);
}

Bytes box(std::string_view type, const Bytes& payload) {
    return cat({u32(std::uint32_t(payload.size() + 8)), typeBytes(type), payload});
}

Bytes box64(std::string_view type, const Bytes& payload) {
    return cat({u32(1), typeBytes(type), u64(payload.size() + 16), payload});
}

Bytes box0(std::string_view type, const Bytes& payload) {
    return cat({u32(0), typeBytes(type), payload});
}

Bytes fullBox(std::string_view type, std::uint8_t version, std::uint32_t flags,
              const Bytes& payload) {
    Bytes vf = u32(flags & 0xFFFFFF);
    vf[0] = version;
    return box(type, cat({vf, payload}));
}

Bytes hdlr(std::string_view handler) {
    return fullBox("hdlr", 0, 0, cat({u32(0), text(handler), Bytes(12, 0), Bytes(1, 0)}));
}

Bytes metaISO(const Bytes& children) { return box("meta", cat({u32(0), hdlr(), children})); }

Bytes metaQuickTime(const Bytes& children) { return box("meta", cat({hdlr(), children})); }

Bytes freeform(std::string_view mean, std::string_view name, std::optional<std::string> data) {
    Bytes raw = cat({fullBox("mean", 0, 0, text(mean)), fullBox("name", 0, 0, text(name))});
    if (data) raw = cat({raw, box("data", cat({u32(1), u32(0), text(*data)}))});
    return box("----", raw);
}

Bytes textItem(std::string_view type, std::string_view value) {
    return box(type, box("data", cat({u32(1), u32(0), text(value)})));
}

Bytes udtaWithItems(const Bytes& items) { return box("udta", metaISO(box("ilst", items))); }

Bytes stco(const std::vector<std::uint32_t>& offsets) {
    Bytes p = u32(std::uint32_t(offsets.size()));
    for (auto o : offsets) p = cat({p, u32(o)});
    return fullBox("stco", 0, 0, p);
}

Bytes co64(const std::vector<std::uint64_t>& offsets) {
    Bytes p = u32(std::uint32_t(offsets.size()));
    for (auto o : offsets) p = cat({p, u64(o)});
    return fullBox("co64", 0, 0, p);
}

Bytes tfhd(std::uint32_t trackId, std::optional<std::uint64_t> baseDataOffset) {
    Bytes p = u32(trackId);
    if (baseDataOffset) p = cat({p, u64(*baseDataOffset)});
    return fullBox("tfhd", 0, baseDataOffset ? 0x000001 : 0x020000, p);
}

Bytes tfra(std::uint8_t version, const std::vector<std::uint64_t>& moofOffsets) {
    // length_size_of_traf_num = 0, trun_num = 1, sample_num = 2: entries of 1 + 2 + 3 bytes.
    Bytes p = cat({u32(1), u32(0b00'01'10), u32(std::uint32_t(moofOffsets.size()))});
    std::uint64_t time = 0;
    for (auto o : moofOffsets) {
        if (version == 1) {
            p = cat({p, u64(time), u64(o)});
        } else {
            p = cat({p, u32(std::uint32_t(time)), u32(std::uint32_t(o))});
        }
        p = cat({p, Bytes{1}, Bytes{0, 1}, Bytes{0, 0, 1}});
        time += 1024;
    }
    return fullBox("tfra", version, 0, p);
}

static Bytes soundTrak(const Bytes& offsetTable, std::size_t chunks, std::size_t chunkSize) {
    const Bytes esds = fullBox("esds", 0, 0, Bytes{0x03, 0x80, 0x80, 0x80, 0x00});
    const Bytes mp4a = box("mp4a", cat({Bytes(6, 0), Bytes{0, 1}, Bytes(8, 0), Bytes{0, 2, 0, 16},
                                        Bytes(4, 0), u32(44100u << 16), esds}));
    Bytes stsdBody = cat({u32(1), mp4a});
    Bytes stsc = fullBox("stsc", 0, 0, cat({u32(1), u32(1), u32(1), u32(1)}));
    Bytes stsz = fullBox("stsz", 0, 0, cat({u32(std::uint32_t(chunkSize)), u32(std::uint32_t(chunks))}));
    Bytes stts = fullBox("stts", 0, 0, cat({u32(1), u32(std::uint32_t(chunks)), u32(1024)}));
    Bytes stbl = box("stbl", cat({fullBox("stsd", 0, 0, stsdBody), stts, stsc, stsz, offsetTable}));
    Bytes dinf = box("dinf", fullBox("dref", 0, 0, cat({u32(1), fullBox("url ", 0, 1, {})})));
    Bytes minf = box("minf", cat({fullBox("smhd", 0, 0, u32(0)), dinf, stbl}));
    Bytes mdhd = fullBox("mdhd", 0, 0, cat({u32(0), u32(0), u32(44100),
                                            u32(std::uint32_t(chunks * 1024)), u32(0x55C40000)}));
    Bytes mdia = box("mdia", cat({mdhd, hdlr("soun"), minf}));
    Bytes tkhd = fullBox("tkhd", 0, 7, Bytes(80, 0));
    return box("trak", cat({tkhd, mdia}));
}

Movie movie(const MovieOptions& o) {
    const Bytes ftyp = box("ftyp", cat({text("M4A "), u32(0), text("M4A isommp42")}));
    Bytes payload;
    for (std::size_t c = 0; c < o.chunks; ++c) {
        for (std::size_t i = 0; i < o.chunkSize; ++i) payload.push_back(std::uint8_t(c * 37 + i));
    }
    const Bytes mdat = o.mdatSize0 ? box0("mdat", payload) : box("mdat", payload);

    auto buildMoov = [&](std::uint64_t firstChunk) {
        std::vector<std::uint64_t> offsets;
        for (std::size_t c = 0; c < o.chunks; ++c) offsets.push_back(firstChunk + c * o.chunkSize);
        std::vector<std::uint32_t> narrow(offsets.begin(), offsets.end());
        Bytes table = o.co64 ? co64(offsets) : stco(narrow);
        Bytes body = cat({fullBox("mvhd", 0, 0, Bytes(96, 0)), soundTrak(table, o.chunks, o.chunkSize),
                          o.moovTail});
        return std::make_pair(o.moovSize64 ? box64("moov", body) : box("moov", body), offsets);
    };

    Movie m;
    const std::uint64_t moovSize = buildMoov(0).first.size();
    if (o.moovFirst) {
        auto [moov, offsets] = buildMoov(ftyp.size() + moovSize + 8);
        m.file = cat({ftyp, moov, mdat});
        m.chunkOffsets = offsets;
        m.moovStart = ftyp.size();
    } else {
        auto [moov, offsets] = buildMoov(ftyp.size() + 8);
        m.file = cat({ftyp, mdat, moov});
        m.chunkOffsets = offsets;
        m.moovStart = ftyp.size() + mdat.size();
    }
    m.moovSize = moovSize;
    return m;
}

std::size_t find(const Bytes& file, std::string_view type, std::size_t from) {
    if (from >= file.size()) return std::string_view::npos;
    const Bytes needle = text(type);  // compared as bytes: a char above 0x7F is negative
    auto it = std::search(file.begin() + std::ptrdiff_t(from), file.end(), needle.begin(), needle.end());
    return it == file.end() ? std::string_view::npos : std::size_t(it - file.begin());
}

std::vector<std::uint64_t> chunkOffsets(const Bytes& file) {
    std::size_t at = find(file, "stco");
    const bool wide = at == std::string_view::npos;
    if (wide) at = find(file, "co64");
    if (at == std::string_view::npos) return {};
    auto rd = [&](std::size_t i, int n) {
        std::uint64_t v = 0;
        for (int k = 0; k < n; ++k) v = (v << 8) | file.at(i + std::size_t(k));
        return v;
    };
    const std::uint64_t count = rd(at + 8, 4);
    std::vector<std::uint64_t> out;
    for (std::uint64_t i = 0; i < count; ++i) {
        out.push_back(wide ? rd(at + 12 + 8 * i, 8) : rd(at + 12 + 4 * i, 4));
    }
    return out;
}

}  // namespace pelorix::test::mp4
