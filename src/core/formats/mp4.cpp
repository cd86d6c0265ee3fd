// SPDX-License-Identifier: MIT
// MP4/M4A: only the `moov` box is loaded and rebuilt; everything else is streamed from the input,
// except top-level `moof`/`mfra` boxes whose absolute offsets must follow a `moov` that changes
// size (they are small and loaded one at a time).

#include "core/formats/mp4.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "core/io/text.h"
#include "core/tag_error.h"

namespace pelorix::MP4Tagger {

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

constexpr std::string_view kMean = "com.apple.iTunes";
constexpr std::string_view kName = "ISRC";

[[noreturn]] void damaged() {
    throw TagError::malformed(msg::mp4Damaged);
}

bool typeIs(const Bytes& b, std::size_t at, const char (&type)[5]) {
    return std::memcmp(b.data() + at, type, 4) == 0;
}

// One box header inside bytes[pos ..< end], at least 8 bytes available. Throws on every size
// that cannot describe a box inside the range.
struct Header {
    std::size_t headerSize = 8;
    std::size_t end = 0;  // index just past the box
};

Header readHeader(const Bytes& b, std::size_t pos, std::size_t end) {
    const std::size_t remaining = end - pos;
    const std::uint32_t size32 = be32(b, pos);
    Header h;
    std::uint64_t size = size32;
    if (size32 == 0) {
        size = remaining;
    } else if (size32 == 1) {
        if (remaining < 16) damaged();
        size = ByteReader(b, pos + 8).readU64BE();
        if (size < 16) damaged();
        h.headerSize = 16;
    } else if (size32 < 8) {
        damaged();
    }
    if (size > remaining) damaged();
    h.end = pos + std::size_t(size);
    return h;
}

// Calls fn(type bytes index, payload start, payload end) for each box in bytes[start ..< end];
// fewer than 8 stray bytes at the end are skipped.
template <typename Fn>
void forEachBox(const Bytes& b, std::size_t start, std::size_t end, Fn fn) {
    std::size_t pos = start;
    while (end - pos >= 8) {
        const Header h = readHeader(b, pos, end);
        fn(pos + 4, pos + h.headerSize, h.end);
        pos = h.end;
    }
}

struct ParseBudget {
    std::size_t boxes = 0;
};

ParsedBoxes parseLevel(const Bytes& bytes, std::size_t start, std::size_t end, int depth,
                       ParseBudget& budget) {
    if (depth > kMaxDepth) damaged();
    ParsedBoxes out;
    std::size_t pos = start;
    while (end - pos >= 8) {
        const Header h = readHeader(bytes, pos, end);
        if (++budget.boxes > kMaxBoxes) damaged();
        std::string type = fourCC(bytes, pos + 4);
        const std::size_t ps = pos + h.headerSize;
        const std::size_t pe = h.end;
        const std::size_t payload = pe - ps;

        auto container = [&](std::size_t childStart, Bytes prefix) {
            ParsedBoxes sub = parseLevel(bytes, childStart, pe, depth + 1, budget);
            auto box = std::make_shared<Box>(std::move(type), Bytes{}, std::move(sub.boxes),
                                             std::move(prefix));
            box->trailer = std::move(sub.trailer);
            return box;
        };

        BoxPtr box;
        if (containers().count(type) != 0 || type == "ilst") {
            box = container(ps, {});
        } else if (type == "meta" && payload >= 12 && typeIs(bytes, ps + 8, "hdlr")) {
            box = container(ps + 4, Bytes(bytes.begin() + ps, bytes.begin() + ps + 4));
        } else if (type == "meta" && payload >= 8 && typeIs(bytes, ps + 4, "hdlr")) {
            box = container(ps, {});
        } else {
            box = std::make_shared<Box>(std::move(type),
                                        Bytes(bytes.begin() + ps, bytes.begin() + pe));
        }
        out.boxes.push_back(std::move(box));
        pos = pe;
    }
    out.trailer.assign(bytes.begin() + pos, bytes.begin() + end);
    return out;
}

void serializeInto(const Box& box, Bytes& out) {
    const std::size_t at = out.size();
    out.resize(at + 4);
    append(out, fourCCBytes(box.type));
    if (box.children) {
        append(out, box.prefix);
        for (const auto& child : *box.children) serializeInto(*child, out);
        append(out, box.trailer);
    } else {
        append(out, box.raw);
    }
    // Sizes past 32 bits wrap; the writer refuses a `moov` that large before it gets here.
    ByteWriter(out).putU32BE(at, std::uint32_t(out.size() - at));
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

void adjustTable(Box& box, std::uint64_t threshold, std::int64_t delta) {
    const bool wide = box.type == "co64";
    Bytes& raw = box.raw;
    if (raw.size() < 8) return;
    const std::uint64_t width = wide ? 8 : 4;
    const std::uint64_t count = be32(raw, 4);
    if (count > (raw.size() - 8) / width) throw TagError::malformed(msg::mp4OffsetsDamaged);
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::size_t at = std::size_t(8 + i * width);
        const std::uint64_t value = wide ? ByteReader(raw, at).readU64BE() : be32(raw, at);
        if (value < threshold) continue;
        if (wide) {
            ByteWriter(raw).putU64BE(
                at, shifted(value, delta, std::uint64_t(std::numeric_limits<std::int64_t>::max())));
        } else {
            ByteWriter(raw).putU32BE(at, std::uint32_t(shifted(value, delta, 0xFFFF'FFFFu)));
        }
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
        const std::uint64_t now = shifted(value, delta, max);
        if (wide) {
            ByteWriter(b).putU64BE(at, now);
        } else {
            ByteWriter(b).putU32BE(at, std::uint32_t(now));
        }
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

LoadedMoov loadMoovFrom(const FileIn& in, const std::vector<TopLevelEntry>& entries) {
    auto it = std::find_if(entries.begin(), entries.end(),
                           [](const TopLevelEntry& e) { return e.type == "moov"; });
    if (it == entries.end()) throw TagError::malformed(msg::mp4NoMoov);
    if (it->size > kMaxMoovSize) throw TagError::unsupported(msg::mp4HeaderLarge);
    const Bytes bytes = in.read(it->start, std::int64_t(it->size));
    if (bytes.size() != it->size) throw TagError::malformed(msg::fileEnded);
    ParsedBoxes parsed = parseBoxes(bytes, 0, bytes.size());
    if (parsed.boxes.empty() || parsed.boxes.front()->type != "moov" ||
        !parsed.boxes.front()->children) {
        damaged();
    }
    return {parsed.boxes.front(), it->start, it->size};
}

Box* firstChild(const Box& box, std::string_view type) {
    if (!box.children) return nullptr;
    for (const auto& child : *box.children) {
        if (child->type == type) return child.get();
    }
    return nullptr;
}

std::optional<Bytes> subBox(const Box& item, std::string_view type) {
    if (item.type != "----") return std::nullopt;
    try {
        ParsedBoxes parsed = parseBoxes(item.raw, 0, item.raw.size());
        for (const auto& box : parsed.boxes) {
            if (box->type != type) continue;
            if (!box->children) return box->raw;
            // A sub-box whose type makes it a container: give back its payload all the same.
            Bytes whole = serialize(*box);
            return Bytes(whole.begin() + 8, whole.end());
        }
    } catch (const TagError&) {
    }
    return std::nullopt;
}

std::optional<std::string> textOf(const Box& item, std::string_view type) {
    auto payload = sub(item, type);
    if (!payload) return std::nullopt;
    const std::size_t skip = std::min<std::size_t>(4, payload->size());
    return text::decodeLossy(payload->data() + skip, payload->size() - skip, text::Encoding::utf8);
}

const Box* itemList(const Box& moov) {
    const Box* udta = firstChild(moov, "udta");
    const Box* meta = udta ? firstChild(*udta, "meta") : nullptr;
    return meta && meta->children ? firstChild(*meta, "ilst") : nullptr;
}

// The text of an item's `data` box, or none without one.
std::optional<std::string> dataText(const Box& item) {
    std::optional<Bytes> data = subBox(item, "data");
    if (item.type != "----") {  // a plain item such as `xid `: its data box alone
        try {
            for (const auto& box : parseBoxes(item.raw, 0, item.raw.size()).boxes) {
                if (box->type == "data" && !box->children) data = box->raw;
            }
        } catch (const TagError&) {
        }
    }
    if (!data) return std::nullopt;
    const std::size_t skip = std::min<std::size_t>(8, data->size());
    return text::trimWhitespaceAndNewlines(
        text::decodeLossy(data->data() + skip, data->size() - skip, text::Encoding::utf8));
}

bool matches(const Box& item) {
    auto name = itemName(item);
    if (!name || text::toUpper(*name) != kName) return false;
    auto mean = itemMean(item);
    return mean && text::toUpper(*mean) == text::toUpper(kMean);
}

Bytes leafBytes(std::string_view type, const Bytes& payload) {
    Bytes out = bytes32BE(payload.size() + 8);
    append(out, type);
    append(out, payload);
    return out;
}

BoxPtr newHdlr() {
    Bytes raw(8, 0);
    append(raw, "mdir");
    raw.resize(raw.size() + 13, 0);  // three reserved words and an empty name
    return std::make_shared<Box>("hdlr", std::move(raw));
}

// The first child of that type, appended as a new last child when missing and `create` is set.
Box* child(Box& parent, std::string_view type, bool create, auto make) {
    if (Box* found = firstChild(parent, type)) return found;
    if (!create) return nullptr;
    parent.children->push_back(make());
    return parent.children->back().get();
}

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

Bytes serialize(const Box& box) {
    Bytes out;
    serializeInto(box, out);
    return out;
}

LoadedMoov loadMoov(const FileIn& in) {
    return loadMoovFrom(in, topLevel(in));
}

void adjustOffsets(Box& box, std::uint64_t threshold, std::int64_t delta) {
    // Depth-first in document order without recursion, so no tree can exhaust the stack.
    std::vector<Box*> stack{&box};
    while (!stack.empty()) {
        Box* b = stack.back();
        stack.pop_back();
        if (!b->children && (b->type == "stco" || b->type == "co64")) {
            adjustTable(*b, threshold, delta);
        }
        if (b->children) {
            for (auto it = b->children->rbegin(); it != b->children->rend(); ++it) {
                stack.push_back(it->get());
            }
        }
    }
}

std::vector<ByteRange> mediaRanges(const FileIn& in) {
    std::vector<ByteRange> ranges;
    for (const auto& e : topLevel(in)) {
        if (e.type == "mdat") ranges.push_back({e.start + 8, e.size - 8});
    }
    return ranges;
}

std::optional<std::string> itemName(const Box& item) {
    return textOf(item, "name");
}
std::optional<std::string> itemMean(const Box& item) {
    return textOf(item, "mean");
}
std::optional<Bytes> sub(const Box& item, std::string_view type) {
    return subBox(item, type);
}

BoxPtr makeItem(const std::string& code) {
    const Bytes zero4(4, 0);
    Bytes mean = zero4;
    append(mean, kMean);
    Bytes name = zero4;
    append(name, kName);
    Bytes data = {0, 0, 0, 1, 0, 0, 0, 0};
    append(data, code);

    Bytes raw = leafBytes("mean", mean);
    append(raw, leafBytes("name", name));
    append(raw, leafBytes("data", data));
    return std::make_shared<Box>("----", std::move(raw));
}

std::optional<std::string> readISRC(const FileIn& in) {
    const LoadedMoov moov = loadMoov(in);
    const Box* ilst = itemList(*moov.box);
    if (!ilst) return std::nullopt;
    for (const auto& item : *ilst->children) {
        if (matches(*item)) return dataText(*item);
    }
    return std::nullopt;
}

Carriers carriers(const FileIn& in) {
    const LoadedMoov moov = loadMoov(in);
    const Box* ilst = itemList(*moov.box);
    Carriers out;
    if (!ilst) return out;
    for (const auto& item : *ilst->children) {
        if (matches(*item)) {
            if (auto text = dataText(*item)) {
                out.push_back({"MP4 ----:" + *itemMean(*item) + ":" + *itemName(*item), *text});
            }
        } else if (item->type == "xid ") {
            if (auto text = dataText(*item)) out.push_back({"MP4 xid", *text, true});
        }
    }
    return out;
}

void write(const FileIn& in, FileOut& out, const std::optional<std::string>& isrc) {
    const std::vector<TopLevelEntry> entries = topLevel(in);
    const LoadedMoov loaded = loadMoovFrom(in, entries);
    Box& moov = *loaded.box;
    const bool create = isrc.has_value();

    Box* udta = child(moov, "udta", create,
                      [] { return std::make_shared<Box>("udta", Bytes{}, std::vector<BoxPtr>{}); });
    Box* meta = udta ? child(*udta, "meta", create,
                             [] {
                                 return std::make_shared<Box>(
                                     "meta", Bytes{}, std::vector<BoxPtr>{newHdlr()}, Bytes(4, 0));
                             })
                     : nullptr;
    if (meta && !meta->children) throw TagError::unsupported(msg::mp4Layout);
    Box* ilst =
        meta ? child(*meta, "ilst", create,
                     [] { return std::make_shared<Box>("ilst", Bytes{}, std::vector<BoxPtr>{}); })
             : nullptr;
    if (ilst) {
        std::erase_if(*ilst->children, [](const BoxPtr& item) { return matches(*item); });
        if (isrc) ilst->children->push_back(makeItem(*isrc));
    }

    Bytes bytes = serialize(moov);
    if (bytes.size() > 0xFFFF'FFFFu) throw TagError::unsupported(msg::mp4TooLarge);
    const std::uint64_t threshold = loaded.start + loaded.size;
    const std::int64_t delta = std::int64_t(bytes.size()) - std::int64_t(loaded.size);
    if (delta != 0) {
        adjustOffsets(moov, threshold, delta);
        bytes = serialize(moov);
    }

    std::uint64_t pos = 0;
    auto copyUpTo = [&](std::uint64_t end) {
        if (end > pos) in.copy(pos, end - pos, out);
        pos = end;
    };
    for (const TopLevelEntry& e : entries) {
        if (e.start == loaded.start) {
            copyUpTo(e.start);
            out.write(bytes);
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
        if (box.size() != e.size) throw TagError::malformed(msg::fileEnded);
        if (adjustFragmentBox(box, threshold, delta)) {
            copyUpTo(e.start);
            out.write(box);
            pos = e.start + e.size;
        }
    }
    copyUpTo(in.size());
}

}  // namespace pelorix::MP4Tagger
