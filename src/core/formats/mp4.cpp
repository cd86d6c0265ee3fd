// SPDX-License-Identifier: MIT
// MP4/M4A: the `moov` box is walked by its box headers where it lies, in the file for a read and in
// one buffer for a write; only the items of moov/udta/meta/ilst are read. A write holds the `moov`
// once: it is rewritten straight from that buffer, its chunk offsets patched in place, and
// everything else is streamed from the input, except top-level `moof`/`mfra` boxes whose absolute
// offsets must follow a `moov` that changes size (they are small and loaded one at a time).

#include "core/formats/mp4.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <span>

#include "core/io/text.h"
#include "core/tag_error.h"

namespace pelorix::formats::mp4 {

namespace {

constexpr std::uint64_t kMaxMoovSize = 536'870'911;  // 2^29 - 1
// Real files nest a handful of levels; a crafted `moov` could nest hundreds of thousands and
// exhaust the stack in every recursive walk.
constexpr int kMaxDepth = 64;
// A real `moov` has hundreds of boxes; a crafted one of 8-byte boxes would cost ~20x its size
// in tree nodes.
constexpr std::size_t kMaxBoxes = std::size_t(1) << 20;
constexpr std::size_t kMaxTopLevelBoxes = std::size_t(1) << 20;
// A fragment header or random-access table beyond this is not something we rewrite.
constexpr std::uint64_t kMaxFragmentBox = std::uint64_t(64) << 20;
// An item's `mean` or `name` longer than this cannot spell the ones we look for in any case.
constexpr std::uint64_t kMaxItemLabel = 4096;

constexpr std::string_view kMean = "com.apple.iTunes";
constexpr std::string_view kName = "ISRC";

[[noreturn]] void damaged() {
    throw TagError::malformed(msg::mp4Damaged);
}

// Bytes of the `moov` where they lie: in the file (a read) or in one buffer (a write).
class FileSource {
  public:
    explicit FileSource(const FileIn& in) : in_(in) {}
    Bytes read(std::uint64_t at, std::uint64_t count) const {
        Bytes bytes = in_.read(at, std::int64_t(count));
        if (bytes.size() != count) throw TagError::malformed(pelorix::msg::fileEnded);
        return bytes;
    }

  private:
    const FileIn& in_;
};

class BufferSource {
  public:
    explicit BufferSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    Bytes read(std::uint64_t at, std::uint64_t count) const {  // always inside the buffer
        const auto part = bytes_.subspan(std::size_t(at), std::size_t(count));
        return Bytes(part.begin(), part.end());
    }

  private:
    std::span<const std::uint8_t> bytes_;
};

// One box as its header describes it.
struct BoxAt {
    std::uint64_t start = 0;
    std::uint64_t payload = 0;   // just past the header
    std::uint64_t children = 0;  // a container's first child (after the version/flags of a `meta`)
    std::uint64_t end = 0;       // just past the box
    std::string type;            // the four bytes as they are
    bool container = false;
};

// The box at `pos` inside [pos, end), at least 8 bytes. Throws on every size that cannot
// describe a box inside the range. A container is one of containers(), `ilst`, or a `meta` with
// its `hdlr` first (after 4 version/flags bytes, or straight away as QuickTime writes it).
template <typename Source>
BoxAt classify(const Source& src, std::uint64_t pos, std::uint64_t end) {
    const std::uint64_t remaining = end - pos;
    const Bytes h = src.read(pos, std::min<std::uint64_t>(16, remaining));
    const std::uint32_t size32 = be32(h, 0);
    BoxAt box;
    box.start = pos;
    box.payload = pos + 8;
    box.type.assign(h.begin() + 4, h.begin() + 8);
    std::uint64_t size = size32;
    if (size32 == 0) {
        size = remaining;
    } else if (size32 == 1) {
        if (remaining < 16) damaged();
        size = ByteReader(h, 8).readU64BE();
        if (size < 16) damaged();
        box.payload = pos + 16;
    } else if (size32 < 8) {
        damaged();
    }
    if (size > remaining) damaged();
    box.end = pos + size;
    box.children = box.payload;
    const std::uint64_t payload = box.end - box.payload;
    if (containers().count(box.type) != 0 || box.type == "ilst") {
        box.container = true;
    } else if (box.type == "meta" && payload >= 8) {
        const Bytes m = src.read(box.payload, std::min<std::uint64_t>(12, payload));
        if (payload >= 12 && std::memcmp(m.data() + 8, "hdlr", 4) == 0) {
            box.container = true;
            box.children += 4;
        } else if (std::memcmp(m.data() + 4, "hdlr", 4) == 0) {
            box.container = true;
        }
    }
    return box;
}

struct ParseBudget {
    std::size_t boxes = 0;
};

// fn(box, depth) for every box in [start, end) and inside its containers, in document order;
// fewer than 8 stray bytes at the end of a level are skipped. Refuses what parseBoxes refuses.
template <typename Source, typename Fn>
void walk(const Source& src, std::uint64_t start, std::uint64_t end, int depth, ParseBudget& budget,
          Fn& fn) {
    if (depth > kMaxDepth) damaged();
    std::uint64_t pos = start;
    while (end - pos >= 8) {
        const BoxAt box = classify(src, pos, end);
        if (++budget.boxes > kMaxBoxes) damaged();
        fn(box, depth);
        if (box.container) walk(src, box.children, box.end, depth + 1, budget, fn);
        pos = box.end;
    }
}

template <typename Source, typename Fn>
void walkAll(const Source& src, std::uint64_t start, std::uint64_t end, Fn fn) {
    ParseBudget budget;
    walk(src, start, end, 0, budget, fn);
}

// fn(child) for each child of a container that has been walked, until fn returns true.
template <typename Source, typename Fn>
void forEachChild(const Source& src, const BoxAt& parent, Fn fn) {
    std::uint64_t pos = parent.children;
    while (parent.end - pos >= 8) {
        const BoxAt box = classify(src, pos, parent.end);
        if (fn(box)) return;
        pos = box.end;
    }
}

template <typename Source>
std::optional<BoxAt> firstChild(const Source& src, const BoxAt& parent, std::string_view type) {
    std::optional<BoxAt> found;
    forEachChild(src, parent, [&](const BoxAt& box) {
        if (box.type == type) found = box;
        return found.has_value();
    });
    return found;
}

// Calls fn(type bytes index, payload start, payload end) for each box in bytes[start ..< end];
// fewer than 8 stray bytes at the end are skipped.
template <typename Fn>
void forEachBox(const Bytes& b, std::size_t start, std::size_t end, Fn fn) {
    const BufferSource src(b);
    std::size_t pos = start;
    while (end - pos >= 8) {
        const BoxAt box = classify(src, pos, end);
        fn(pos + 4, std::size_t(box.payload), std::size_t(box.end));
        pos = std::size_t(box.end);
    }
}

bool typeIs(const Bytes& b, std::size_t at, const char (&type)[5]) {
    return std::memcmp(b.data() + at, type, 4) == 0;
}

ParsedBoxes parseLevel(const Bytes& bytes, std::size_t start, std::size_t end, int depth,
                       ParseBudget& budget) {
    if (depth > kMaxDepth) damaged();
    const BufferSource src(bytes);
    ParsedBoxes out;
    std::size_t pos = start;
    while (end - pos >= 8) {
        const BoxAt at = classify(src, pos, end);
        if (++budget.boxes > kMaxBoxes) damaged();
        const auto from = [&](std::uint64_t i) { return bytes.begin() + std::ptrdiff_t(i); };
        BoxPtr box;
        if (at.container) {
            ParsedBoxes sub = parseLevel(bytes, at.children, at.end, depth + 1, budget);
            box = std::make_shared<Box>(fourCC(bytes, pos + 4), Bytes{}, std::move(sub.boxes),
                                        Bytes(from(at.payload), from(at.children)));
            box->trailer = std::move(sub.trailer);
        } else {
            box = std::make_shared<Box>(fourCC(bytes, pos + 4),
                                        Bytes(from(at.payload), from(at.end)));
        }
        out.boxes.push_back(std::move(box));
        pos = std::size_t(at.end);
    }
    out.trailer.assign(bytes.begin() + std::ptrdiff_t(pos), bytes.begin() + std::ptrdiff_t(end));
    return out;
}

// value + delta, refused when it leaves 0 ... max.
std::uint64_t shifted(std::uint64_t value, std::int64_t delta, std::uint64_t max) {
    constexpr auto kInt64Max = std::uint64_t(std::numeric_limits<std::int64_t>::max());
    std::int64_t result = 0;
    if (value > kInt64Max || __builtin_add_overflow(std::int64_t(value), delta, &result) ||
        result < 0 || std::uint64_t(result) > max) {
        throw TagError::unsupported(msg::mp4TooLarge);
    }
    return std::uint64_t(result);
}

void putBE(std::span<std::uint8_t> b, std::size_t at, std::uint64_t value, std::size_t width) {
    for (std::size_t i = width; i-- > 0; value >>= 8) b[at + i] = std::uint8_t(value);
}

// The payload of a `stco` (or, when `wide`, `co64`) table, its entries moved in place.
void adjustTable(std::span<std::uint8_t> raw, bool wide, std::uint64_t threshold,
                 std::int64_t delta) {
    if (raw.size() < 8) return;
    const std::uint64_t width = wide ? 8 : 4;
    const std::uint64_t count = be32(raw, 4);
    if (count > (raw.size() - 8) / width) throw TagError::malformed(msg::mp4OffsetsDamaged);
    const std::uint64_t max =
        wide ? std::uint64_t(std::numeric_limits<std::int64_t>::max()) : 0xFFFF'FFFFu;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::size_t at = std::size_t(8 + i * width);
        const std::uint64_t value = wide ? ByteReader(raw, at).readU64BE() : be32(raw, at);
        if (value >= threshold) putBE(raw, at, shifted(value, delta, max), width);
    }
}

// Rewrites the absolute offsets in a loaded top-level `moof` (tfhd base data offsets) or `mfra`
// (tfra moof offsets) in place. Returns whether any byte changed.
bool adjustFragmentBox(Bytes& b, std::uint64_t threshold, std::int64_t delta) {
    bool changed = false;
    auto patch = [&](std::size_t at, bool wide) {
        const std::uint64_t value = wide ? ByteReader(b, at).readU64BE() : be32(b, at);
        if (value < threshold) return;
        const std::uint64_t max =
            wide ? std::uint64_t(std::numeric_limits<std::int64_t>::max()) : 0xFFFF'FFFFu;
        putBE(b, at, shifted(value, delta, max), wide ? 8 : 4);
        changed = true;
    };

    forEachBox(b, 0, b.size(), [&](std::size_t type, std::size_t ps, std::size_t pe) {
        if (typeIs(b, type, "moof")) {
            forEachBox(b, ps, pe, [&](std::size_t t2, std::size_t ps2, std::size_t pe2) {
                if (!typeIs(b, t2, "traf")) return;
                forEachBox(b, ps2, pe2, [&](std::size_t t3, std::size_t ps3, std::size_t pe3) {
                    if (!typeIs(b, t3, "tfhd") || pe3 - ps3 < 4) return;
                    const bool hasBase = (b[ps3 + 3] & 0x01) != 0;
                    if (!hasBase) return;
                    if (pe3 - ps3 < 16) damaged();
                    patch(ps3 + 8, true);
                });
            });
        } else if (typeIs(b, type, "mfra")) {
            forEachBox(b, ps, pe, [&](std::size_t t2, std::size_t ps2, std::size_t pe2) {
                if (!typeIs(b, t2, "tfra")) return;
                const std::size_t len = pe2 - ps2;
                if (len < 16) throw TagError::malformed(msg::mp4OffsetsDamaged);
                const bool v1 = b[ps2] == 1;
                const std::uint32_t sizes = be32(b, ps2 + 8);
                const std::uint64_t entry = (v1 ? 16 : 8) + ((sizes >> 4) & 3) + 1 +
                                            ((sizes >> 2) & 3) + 1 + (sizes & 3) + 1;
                const std::uint64_t count = be32(b, ps2 + 12);
                if (count > (len - 16) / entry) throw TagError::malformed(msg::mp4OffsetsDamaged);
                for (std::uint64_t i = 0; i < count; ++i) {
                    const std::size_t at = ps2 + 16 + std::size_t(i * entry) + (v1 ? 8 : 4);
                    patch(at, v1);
                }
            });
        }
    });
    return changed;
}

const TopLevelEntry& moovEntry(const std::vector<TopLevelEntry>& entries) {
    auto it = std::find_if(entries.begin(), entries.end(),
                           [](const TopLevelEntry& e) { return e.type == "moov"; });
    if (it == entries.end()) throw TagError::malformed(msg::mp4NoMoov);
    if (it->size > kMaxMoovSize) throw TagError::unsupported(msg::mp4HeaderLarge);
    return *it;
}

// The `moov` at [start, start + size) once every box in it has been walked.
template <typename Source>
BoxAt checkedMoov(const Source& src, std::uint64_t start, std::uint64_t size) {
    walkAll(src, start, start + size, [](const BoxAt&, int) {});
    const BoxAt moov = classify(src, start, start + size);
    if (moov.type != "moov") damaged();
    return moov;
}

struct ItemParts;
template <typename Source>
std::optional<ItemParts> itemParts(const Source& src, const BoxAt& item);

// The handler a `meta` names: "mdir" for iTunes items, "mdta" for items keyed by name.
template <typename Source>
std::string handlerOf(const Source& src, const BoxAt& meta) {
    const auto hdlr = meta.container ? firstChild(src, meta, "hdlr") : std::nullopt;
    if (!hdlr || hdlr->end - hdlr->payload < 12) return {};
    const Bytes b = src.read(hdlr->payload + 8, 4);
    return std::string(b.begin(), b.end());
}

// The `meta` of the iTunes items in `udta`: the first one, as every other reader takes it, even
// one of `mdta` keys (ffmpeg reads a `----` item there by its name, mutagen and kid3 as usual).
template <typename Source>
std::optional<BoxAt> itemMeta(const Source& src, const BoxAt& udta) {
    return firstChild(src, udta, "meta");
}

template <typename Source>
std::optional<BoxAt> itemList(const Source& src, const BoxAt& moov) {
    const auto udta = firstChild(src, moov, "udta");
    const auto meta = udta ? itemMeta(src, *udta) : std::nullopt;
    return meta && meta->container ? firstChild(src, *meta, "ilst") : std::nullopt;
}

// QuickTime's own text atom for the code (`\xA9isr`, in `udta`): length, language, text.
constexpr std::string_view kQuickTimeISRC = "\xA9isr";

// A code in a place other tools use: the `\xA9isr` atom, or an item of an `mdta` meta whose key
// is "ISRC". `box` is the atom or the item; `text` starts `skip` bytes into `data` (the atom
// itself, or the item's `data` box).
struct OtherPlace {
    std::string place;
    BoxAt box;
    BoxAt data;
    std::uint64_t skip = 0;
};

// Every such place under `moov`, in file order: in `udta` and in a `meta` of `mdta` keys (in
// `udta` or straight in `moov`, where ffmpeg puts it).
template <typename Source>
std::vector<OtherPlace> otherPlaces(const Source& src, const BoxAt& moov) {
    std::vector<OtherPlace> out;
    const auto keyed = [&](const BoxAt& meta) {
        const auto keys = firstChild(src, meta, "keys");
        const auto ilst = firstChild(src, meta, "ilst");
        if (!keys || !ilst || keys->end - keys->payload < 8) return;
        const Bytes k =
            src.read(keys->payload, std::min<std::uint64_t>(keys->end - keys->payload, 1 << 20));
        std::set<std::uint32_t> isrc;  // the numbers of the keys named ISRC
        std::size_t at = 8;
        for (std::uint32_t i = 1; i <= be32(k, 4) && k.size() - at >= 8; ++i) {
            const std::size_t size = be32(k, at);
            if (size < 8 || size > k.size() - at) break;
            const std::string name(k.begin() + std::ptrdiff_t(at + 8),
                                   k.begin() + std::ptrdiff_t(at + size));
            if (fourCC(k, at + 4) == "mdta" && text::toUpper(name) == kName) isrc.insert(i);
            at += size;
        }
        forEachChild(src, *ilst, [&](const BoxAt& item) {
            const Bytes t = src.read(item.start + 4, 4);
            if (item.container || !isrc.count(be32(t, 0))) return false;
            const auto parts = itemParts(src, item);
            if (parts && parts->firstData)
                out.push_back({"MP4 mdta ISRC", item, *parts->firstData, 8});
            return false;
        });
    };
    forEachChild(src, moov, [&](const BoxAt& box) {
        if (box.type == "meta" && handlerOf(src, box) == "mdta") keyed(box);
        if (box.type != "udta") return false;
        forEachChild(src, box, [&](const BoxAt& child) {
            if (child.type == kQuickTimeISRC && !child.container &&
                child.end - child.payload >= 4) {
                out.push_back({"MP4 \xC2\xA9isr", child, child, 4});
            } else if (child.type == "meta" && handlerOf(src, child) == "mdta") {
                keyed(child);
            }
            return false;
        });
        return false;
    });
    return out;
}

// The boxes an item's payload starts with that say what it holds; none when they do not parse.
struct ItemParts {
    std::optional<BoxAt> mean, name, firstData, lastData;
    std::vector<BoxAt> data;  // every value, in order
};

template <typename Source>
std::optional<ItemParts> itemParts(const Source& src, const BoxAt& item) {
    ItemParts parts;
    try {
        walkAll(src, item.payload, item.end, [&](const BoxAt& box, int depth) {
            if (depth != 0) return;
            if (box.type == "mean" && !parts.mean) parts.mean = box;
            if (box.type == "name" && !parts.name) parts.name = box;
            if (box.type == "data") {
                if (!parts.firstData) parts.firstData = box;
                parts.lastData = box;
                parts.data.push_back(box);
            }
        });
    } catch (const TagError&) {
        return std::nullopt;
    }
    return parts;
}

// The text of a leaf's payload after `skip` bytes (at most that many), none beyond `limit`.
template <typename Source>
std::optional<std::string> leafText(
    const Source& src, const BoxAt& leaf, std::uint64_t skip,
    std::uint64_t limit = std::numeric_limits<std::uint64_t>::max()) {
    const std::uint64_t size = leaf.end - leaf.payload;
    if (size > limit) return std::nullopt;
    skip = std::min(skip, size);
    const Bytes bytes = src.read(leaf.payload + skip, size - skip);
    return text::decodeLossy(bytes.data(), bytes.size(), text::Encoding::utf8);
}

// The text of an item's `data` box, or none without one.
template <typename Source>
std::optional<std::string> dataText(const Source& src, const std::optional<BoxAt>& data) {
    if (!data) return std::nullopt;
    return text::trimWhitespaceAndNewlines(*leafText(src, *data, 8));
}

struct FreeformItem {
    std::string mean, name;
    std::optional<BoxAt> data;
    std::vector<BoxAt> values;
};

// A `----` item named ISRC in the iTunes space, however its name and mean are cased.
template <typename Source>
std::optional<FreeformItem> isrcItem(const Source& src, const BoxAt& box) {
    if (box.type != "----" || box.container) return std::nullopt;
    const auto parts = itemParts(src, box);
    if (!parts || !parts->name || !parts->mean) return std::nullopt;
    auto name = leafText(src, *parts->name, 4, kMaxItemLabel);
    if (!name || text::toUpper(*name) != kName) return std::nullopt;
    auto mean = leafText(src, *parts->mean, 4, kMaxItemLabel);
    if (!mean || text::toUpper(*mean) != text::toUpper(kMean)) return std::nullopt;
    return FreeformItem{std::move(*mean), std::move(*name), parts->firstData, parts->data};
}

Bytes boxBytes(std::string_view type, const Bytes& payload) {
    Bytes out = bytes32BE(payload.size() + 8);
    append(out, type);
    append(out, payload);
    return out;
}

Bytes makeItem(const std::string& code) {
    const Bytes zero4(4, 0);
    Bytes mean = zero4;
    append(mean, kMean);
    Bytes name = zero4;
    append(name, kName);
    Bytes data = {0, 0, 0, 1, 0, 0, 0, 0};
    append(data, code);

    Bytes raw = boxBytes("mean", mean);
    append(raw, boxBytes("name", name));
    append(raw, boxBytes("data", data));
    return boxBytes("----", raw);
}

// An ISO-style `meta` (version/flags, a `hdlr` for iTunes metadata) whose `ilst` holds `items`.
Bytes newMeta(const Bytes& items) {
    Bytes hdlr(8, 0);
    append(hdlr, "mdir");
    hdlr.resize(hdlr.size() + 13, 0);  // three reserved words and an empty name
    Bytes payload(4, 0);
    append(payload, boxBytes("hdlr", hdlr));
    append(payload, boxBytes("ilst", items));
    return boxBytes("meta", payload);
}

// What a write changes in the `moov`: the ISRC items it drops, and the box it adds as the last
// child of the first container on the way to the item list that exists (or of the list).
struct MoovEdit {
    std::vector<std::uint64_t> dropped;  // where the dropped items start, ascending
    std::uint64_t parent = 0;
    Bytes added;                              // empty: nothing added
    std::map<std::uint64_t, Bytes> replaced;  // leaves written anew, by where they start
};

template <typename Source>
MoovEdit planEdit(const Source& src, const BoxAt& moov, const std::optional<std::string>& isrc) {
    MoovEdit edit;
    const Bytes item = isrc ? makeItem(*isrc) : Bytes{};
    auto add = [&](const BoxAt& parent, Bytes box) {
        if (!isrc) return;
        edit.parent = parent.start;
        edit.added = std::move(box);
    };
    // The places other tools use get the code in their own form, or go.
    for (const OtherPlace& p : otherPlaces(src, moov)) {
        if (!isrc) {
            edit.dropped.push_back(p.box.start);
            continue;
        }
        Bytes payload = src.read(p.data.payload, p.skip);
        if (p.box.start == p.data.start) {  // the atom: length, then its language
            payload[0] = std::uint8_t(isrc->size() >> 8);
            payload[1] = std::uint8_t(isrc->size());
            append(payload, *isrc);
            edit.replaced[p.box.start] = boxBytes(p.box.type, payload);
        } else {
            append(payload, *isrc);
            edit.replaced[p.box.start] = boxBytes(p.box.type, boxBytes("data", payload));
        }
    }
    std::sort(edit.dropped.begin(), edit.dropped.end());
    const auto udta = firstChild(src, moov, "udta");
    if (!udta) {
        add(moov, boxBytes("udta", newMeta(item)));
        return edit;
    }
    const auto meta = itemMeta(src, *udta);
    if (meta && !meta->container) throw TagError::unsupported(msg::mp4Layout);
    if (meta && !meta->container) throw TagError::unsupported(msg::mp4Layout);
    if (!meta) {
        add(*udta, newMeta(item));
        return edit;
    }
    const auto ilst = firstChild(src, *meta, "ilst");
    if (!ilst) {
        add(*meta, boxBytes("ilst", item));
        return edit;
    }
    forEachChild(src, *ilst, [&](const BoxAt& box) {
        if (isrcItem(src, box)) edit.dropped.push_back(box.start);
        return false;
    });
    std::sort(edit.dropped.begin(), edit.dropped.end());
    add(*ilst, item);
    return edit;
}

// Writes the edited `moov` from the one buffer that holds it. Every header comes out with a
// 32-bit size; version/flags, leaves and stray bytes after the last child as they are.
class MoovWriter {
  public:
    MoovWriter(const Bytes& bytes, const MoovEdit& edit)
        : bytes_(bytes), src_(bytes), edit_(edit) {}

    // The size of the written box; remembers the containers whose size changes.
    std::uint64_t measure(const BoxAt& moov) {
        resized_.clear();
        const std::uint64_t size = measureBox(moov);
        std::sort(resized_.begin(), resized_.end());
        return size;
    }

    void emit(const BoxAt& box, FileOut& out) const {
        if (dropped(box)) return;
        if (const auto it = edit_.replaced.find(box.start); it != edit_.replaced.end()) {
            out.write(it->second);
            return;
        }
        std::uint64_t size = 8 + box.end - box.payload;
        if (box.container) {
            const auto it = std::lower_bound(resized_.begin(), resized_.end(),
                                             std::pair{box.start, std::uint64_t(0)});
            const bool resized = it != resized_.end() && it->first == box.start;
            size = resized ? it->second : box.end - box.start;
        }
        Bytes header = bytes32BE(size);
        append(header, box.type);
        out.write(header);
        if (!box.container) {
            put(box.payload, box.end, out);
            return;
        }
        put(box.payload, box.children, out);
        std::uint64_t pos = box.children;
        forEachChild(src_, box, [&](const BoxAt& child) {
            emit(child, out);
            pos = child.end;
            return false;
        });
        if (adds(box)) out.write(edit_.added);
        put(pos, box.end, out);
    }

  private:
    std::uint64_t measureBox(const BoxAt& box) {
        if (const auto it = edit_.replaced.find(box.start); it != edit_.replaced.end()) {
            return it->second.size();
        }
        if (!box.container) return 8 + box.end - box.payload;
        std::uint64_t size = 8 + box.children - box.payload;
        std::uint64_t pos = box.children;
        forEachChild(src_, box, [&](const BoxAt& child) {
            if (!dropped(child)) size += measureBox(child);
            pos = child.end;
            return false;
        });
        if (adds(box)) size += edit_.added.size();
        size += box.end - pos;
        if (size != box.end - box.start) resized_.emplace_back(box.start, size);
        return size;
    }

    bool dropped(const BoxAt& box) const {
        return std::binary_search(edit_.dropped.begin(), edit_.dropped.end(), box.start);
    }
    bool adds(const BoxAt& box) const { return !edit_.added.empty() && box.start == edit_.parent; }
    void put(std::uint64_t from, std::uint64_t to, FileOut& out) const {
        out.write(bytes_.data() + from, std::size_t(to - from));
    }

    const Bytes& bytes_;
    BufferSource src_;
    const MoovEdit& edit_;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> resized_;  // start, new size
};

}  // namespace

const std::set<std::string>& containers() {
    static const std::set<std::string> set = {"moov", "trak", "mdia", "minf",
                                              "stbl", "udta", "dinf", "edts"};
    return set;
}

std::vector<TopLevelEntry> topLevel(const FileIn& in) {
    std::vector<TopLevelEntry> list;
    const std::uint64_t fileSize = in.size();
    std::uint64_t pos = 0;
    while (fileSize - pos >= 8) {
        const Bytes h = in.read(pos, 16);
        if (h.size() < 8) break;
        const std::uint32_t size32 = be32(h, 0);
        std::uint64_t size = size32;
        if (size32 == 0) {
            size = fileSize - pos;
        } else if (size32 == 1) {
            if (h.size() < 16) break;  // a header cut short by the end of the file
            size = ByteReader(h, 8).readU64BE();
            if (size < 16) damaged();
        }
        if (size < 8 || size > fileSize - pos) damaged();
        if (list.size() >= kMaxTopLevelBoxes) damaged();
        list.push_back({fourCC(h, 4), pos, size});
        pos += size;
    }
    return list;
}

ParsedBoxes parseBoxes(const Bytes& bytes, std::size_t start, std::size_t end) {
    if (end > bytes.size() || start > end) damaged();
    ParseBudget budget;
    return parseLevel(bytes, start, end, 0, budget);
}

LoadedMoov loadMoov(const FileIn& in) {
    const TopLevelEntry at = moovEntry(topLevel(in));  // a copy: the list is a temporary
    const Bytes bytes = in.read(at.start, std::int64_t(at.size));
    if (bytes.size() != at.size) throw TagError::malformed(pelorix::msg::fileEnded);
    ParsedBoxes parsed = parseBoxes(bytes, 0, bytes.size());
    if (parsed.boxes.empty() || parsed.boxes.front()->type != "moov" ||
        !parsed.boxes.front()->children) {
        damaged();
    }
    return {parsed.boxes.front(), at.start, at.size};
}

std::vector<ByteRange> audioRanges(const FileIn& in) {
    std::vector<ByteRange> ranges;
    for (const auto& e : topLevel(in)) {
        if (e.type == "mdat") ranges.push_back({e.start + 8, e.size - 8});
    }
    return ranges;
}

std::optional<std::string> readISRC(const FileIn& in) {
    const FileSource src(in);
    const TopLevelEntry at = moovEntry(topLevel(in));  // a copy: the list is a temporary
    const auto ilst = itemList(src, checkedMoov(src, at.start, at.size));
    std::optional<std::string> code;
    if (ilst) {
        forEachChild(src, *ilst, [&](const BoxAt& box) {
            const auto item = isrcItem(src, box);
            if (item) code = dataText(src, item->data);
            return item.has_value();
        });
    }
    return code;
}

Carriers carriers(const FileIn& in) {
    const FileSource src(in);
    const TopLevelEntry at = moovEntry(topLevel(in));  // a copy: the list is a temporary
    const BoxAt moov = checkedMoov(src, at.start, at.size);
    std::vector<std::pair<std::uint64_t, Carrier>> found;  // by where they lie
    for (const OtherPlace& p : otherPlaces(src, moov)) {
        found.push_back(
            {p.box.start,
             {p.place, text::trimWhitespaceAndNewlines(*leafText(src, p.data, p.skip))}});
    }
    if (const auto ilst = itemList(src, moov)) {
        forEachChild(src, *ilst, [&](const BoxAt& box) {
            if (const auto item = isrcItem(src, box)) {
                const std::string place = "MP4 ----:" + item->mean + ":" + item->name;
                for (std::size_t i = 0; i < item->values.size(); ++i) {
                    found.push_back({box.start,
                                     {i == 0   ? place
                                      : i == 1 ? place + " (second value)"
                                               : place + " (value " + std::to_string(i + 1) + ")",
                                      *dataText(src, item->values[i])}});
                }
            } else if (box.type == "xid " && !box.container) {
                const auto parts = itemParts(src, box);
                if (auto text = dataText(src, parts ? parts->lastData : std::nullopt)) {
                    found.push_back({box.start, {"MP4 xid", *text, true}});
                }
            }
            return false;
        });
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    Carriers out;
    for (auto& f : found) out.push_back(std::move(f.second));
    return out;
}

void write(const FileIn& in, FileOut& out, const std::optional<std::string>& isrc) {
    const std::vector<TopLevelEntry> entries = topLevel(in);
    const TopLevelEntry& loaded = moovEntry(entries);
    Bytes bytes = in.read(loaded.start, std::int64_t(loaded.size));  // the only copy held
    if (bytes.size() != loaded.size) throw TagError::malformed(pelorix::msg::fileEnded);
    const BufferSource src(bytes);
    const BoxAt moov = checkedMoov(src, 0, bytes.size());
    const MoovEdit edit = planEdit(src, moov, isrc);
    MoovWriter writer(bytes, edit);
    const std::uint64_t size = writer.measure(moov);
    if (size > 0xFFFF'FFFFu) throw TagError::unsupported(msg::mp4TooLarge);
    const std::uint64_t threshold = loaded.start + loaded.size;
    const std::int64_t delta = std::int64_t(size) - std::int64_t(loaded.size);
    if (delta != 0) {
        walkAll(src, 0, bytes.size(), [&](const BoxAt& box, int) {
            if (box.container || (box.type != "stco" && box.type != "co64")) return;
            const auto payload = std::span(bytes).subspan(std::size_t(box.payload),
                                                          std::size_t(box.end - box.payload));
            adjustTable(payload, box.type == "co64", threshold, delta);
        });
    }

    std::uint64_t pos = 0;
    auto copyUpTo = [&](std::uint64_t end) {
        if (end > pos) in.copy(pos, end - pos, out);
        pos = end;
    };
    for (const TopLevelEntry& e : entries) {
        if (e.start == loaded.start) {
            copyUpTo(e.start);
            writer.emit(moov, out);
            pos = e.start + e.size;
            continue;
        }
        if (delta == 0) continue;
        if (e.type == "sidx" && e.start < loaded.start) {
            // Its references are relative to itself and would straddle the resized `moov`.
            throw TagError::unsupported(msg::mp4Layout);
        }
        if (e.type != "moof" && e.type != "mfra") continue;
        if (e.size > kMaxFragmentBox) throw TagError::unsupported(msg::mp4Layout);
        Bytes box = in.read(e.start, std::int64_t(e.size));
        if (box.size() != e.size) throw TagError::malformed(pelorix::msg::fileEnded);
        if (adjustFragmentBox(box, threshold, delta)) {
            copyUpTo(e.start);
            out.write(box);
            pos = e.start + e.size;
        }
    }
    copyUpTo(in.size());
}

bool matches(const FileIn&, const Bytes& head) {
    return fourCC(head, 4) == "ftyp";
}

}  // namespace pelorix::formats::mp4
