// SPDX-License-Identifier: MIT
#include "core/formats/id3v2.h"

#include <algorithm>

#include "core/io/text.h"
#include "core/tag_error.h"

namespace pelorix::ID3v2 {

namespace {

constexpr std::size_t kHeaderSize = 10;
constexpr std::size_t kPadding = 1024;
// Synchsafe size fields hold 28 bits.
constexpr std::uint64_t kSynchsafeLimit = std::uint64_t(1) << 28;

constexpr std::uint8_t kFlagUnsync = 0x80;
constexpr std::uint8_t kFlagExtended = 0x40;
constexpr std::uint8_t kFlagFooter = 0x10;

// Frame format flags of version 4.
constexpr std::uint8_t kV4FrameUnsync = 0x02;
constexpr std::uint8_t kV4DataLength = 0x01;
constexpr std::uint8_t kV4Encrypted = 0x04;
constexpr std::uint8_t kV4Compressed = 0x08;

bool isFrameIDByte(std::uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z');
}

// Frame sizes: synchsafe in version 4 unless the tag is read with plain sizes; plain in 3.
enum class Sizes { synchsafe, plain };

// The frame header at `pos`: its declared body size, or none when its identifier is not one or
// the size does not fit what follows it.
std::optional<std::size_t> frameAt(const Bytes& body, std::size_t pos, Sizes sizes) {
    ByteReader r(body, pos);
    const auto id = r.readSpan(4);
    const std::uint32_t declared = sizes == Sizes::synchsafe ? r.readSynchsafe32() : r.readU32BE();
    if (!r.has(2) || !std::all_of(id.begin(), id.end(), isFrameIDByte)) return std::nullopt;
    if (declared > r.remaining() - 2) return std::nullopt;
    return declared;
}

// Where the frame walk starts: after the extended header when there is a believable one.
std::size_t framesStart(const Bytes& body, std::uint8_t version, std::uint8_t flags) {
    if (!(flags & kFlagExtended)) return 0;
    if (body.size() < 4) throw TagError::malformed(msg::id3Damaged);
    std::uint64_t length;
    bool plausible;
    ByteReader r(body);
    if (version == 4) {
        length = r.readSynchsafe32();  // counts the whole extended header
        plausible = length >= 6 && length <= body.size();
    } else {
        std::uint64_t declared = r.readU32BE();  // excludes its own 4 bytes
        length = declared + 4;
        plausible = declared == 6 || declared == 10;
    }
    // Some writers set the flag without writing an extended header; skipping a garbage length
    // would lose every frame, so a frame standing at the start of the body wins.
    const Sizes sizes = version == 4 ? Sizes::synchsafe : Sizes::plain;
    if (!plausible && frameAt(body, 0, sizes)) return 0;
    return std::size_t(std::min<std::uint64_t>(length, body.size()));
}

// The frames from `pos` on, until padding, the end, or something that is not a frame. `damaged`
// tells whether anything but zero bytes remains after them.
Tag walkFrames(const Bytes& body, std::size_t pos, std::uint8_t version, Sizes sizes,
               bool tagUnsync) {
    Tag tag;
    tag.version = version;
    while (body.size() - pos >= kHeaderSize && body[pos] != 0x00) {
        const auto declared = frameAt(body, pos, sizes);
        if (!declared) break;
        Frame frame;
        frame.id = fourCC(body, pos);
        frame.flags = {body[pos + 8], body[pos + 9]};
        const auto begin = body.begin() + std::ptrdiff_t(pos + kHeaderSize);
        frame.body.assign(begin, begin + std::ptrdiff_t(*declared));
        if (version == 4 && (tagUnsync || (frame.flags[1] & kV4FrameUnsync))) {
            frame.body = removeUnsync(frame.body);
            frame.flags[1] &= std::uint8_t(~kV4FrameUnsync);  // the rebuilt tag stores it plain
        }
        tag.frames.push_back(std::move(frame));
        pos += kHeaderSize + *declared;
    }
    tag.damaged = std::any_of(body.begin() + std::ptrdiff_t(pos), body.end(),
                              [](std::uint8_t b) { return b != 0x00; });
    return tag;
}

std::optional<std::string> decodeText(const std::uint8_t* data, std::size_t size,
                                      std::uint8_t encoding) {
    using text::Encoding;
    switch (encoding) {
        case 0:
            return text::decode(data, size, Encoding::latin1);
        case 1:
            if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
                return text::decode(data + 2, size - 2, Encoding::utf16le);
            }
            if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF) {
                return text::decode(data + 2, size - 2, Encoding::utf16be);
            }
            return text::decode(data, size, Encoding::utf16le);
        case 2:
            return text::decode(data, size, Encoding::utf16be);
        case 3:
            return text::decode(data, size, Encoding::utf8);
        default:
            return std::nullopt;
    }
}

// The decoded text of a text frame (TSRC, TXXX), or none when it cannot be read.
std::optional<std::string> frameText(const Tag& tag, const Frame& frame) {
    const std::uint8_t format = frame.flags.size() > 1 ? frame.flags[1] : 0;
    std::size_t skip = 0;
    if (tag.version == 4) {
        if (format & (kV4Encrypted | kV4Compressed)) return std::nullopt;
        if (format & kV4DataLength) {
            if (frame.body.size() < 5) return std::nullopt;
            skip = 4;
        }
    } else if (format >= 0x40) {  // compressed or encrypted
        return std::nullopt;
    }
    if (frame.body.size() <= skip) return std::nullopt;
    const std::uint8_t encoding = frame.body[skip];
    return decodeText(frame.body.data() + skip + 1, frame.body.size() - skip - 1, encoding);
}

// The non-empty pieces between NULs, each trimmed (ID3v2.4 separates several values so).
std::vector<std::string> pieces(const std::string& s) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < s.size()) {
        std::size_t end = s.find('\0', start);
        if (end == std::string::npos) end = s.size();
        std::string_view piece = std::string_view(s).substr(start, end - start);
        // In UTF-16 with byte-order marks every string after the first brings its own.
        if (piece.starts_with("\xEF\xBB\xBF")) piece.remove_prefix(3);
        if (!piece.empty()) out.push_back(text::trimWhitespaceAndNewlines(piece));
        start = end + 1;
    }
    return out;
}

// A TXXX frame whose description is "ISRC" in any letter case: what ffmpeg writes for MP3.
bool isISRCText(const Tag& tag, const Frame& frame) {
    if (frame.id != "TXXX") return false;
    const auto t = frameText(tag, frame);
    if (!t) return false;
    const std::size_t nul = t->find('\0');
    if (nul == std::string::npos) return false;
    return text::toUpper(text::trimWhitespaceAndNewlines(std::string_view(*t).substr(0, nul))) ==
           "ISRC";
}

// A TXXX "ISRC" frame holding `code`, stored plain in ISO-8859-1 with its status flags kept.
Frame textFrameWith(const Frame& old, const std::string& code) {
    Frame f;
    f.id = "TXXX";
    f.flags = {old.flags.empty() ? std::uint8_t(0) : old.flags[0], 0x00};
    f.body.push_back(0x00);
    append(f.body, "ISRC");
    f.body.push_back(0x00);
    append(f.body, code);
    return f;
}

}  // namespace

std::optional<std::uint64_t> totalSize(std::span<const std::uint8_t> header) {
    if (header.size() < kHeaderSize) return std::nullopt;
    if (header[0] != 'I' || header[1] != 'D' || header[2] != '3') return std::nullopt;
    if (header[3] == 0xFF || header[4] == 0xFF) return std::nullopt;
    for (std::size_t i = 6; i < 10; ++i) {
        if (header[i] & 0x80) return std::nullopt;
    }
    std::uint64_t total = std::uint64_t(ByteReader(header, 6).readSynchsafe32()) + kHeaderSize;
    if (header[3] == 4 && (header[5] & kFlagFooter)) total += kHeaderSize;
    return total;
}

Bytes removeUnsync(std::span<const std::uint8_t> bytes) {
    Bytes out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out.push_back(bytes[i]);
        if (bytes[i] == 0xFF && i + 1 < bytes.size() && bytes[i + 1] == 0x00) ++i;
    }
    return out;
}

std::optional<Tag> parse(std::span<const std::uint8_t> tag) {
    if (!totalSize(tag)) return std::nullopt;
    const std::uint8_t version = tag[3];
    if (version != 3 && version != 4) throw TagError::unsupported(msg::id3Version(version));
    const std::uint8_t flags = tag[5];
    const std::uint64_t size = ByteReader(tag, 6).readSynchsafe32();
    if (size > tag.size() - kHeaderSize) throw TagError::malformed(msg::id3Truncated);

    Bytes body(tag.begin() + kHeaderSize, tag.begin() + kHeaderSize + std::ptrdiff_t(size));
    // Version 3 unsynchronises the whole body and counts frame sizes after undoing it. Version 4
    // does it per frame and counts the stored bytes, so there it is undone frame by frame below.
    if (version == 3 && (flags & kFlagUnsync)) body = removeUnsync(body);

    const std::size_t start = framesStart(body, version, flags);
    const bool unsync = (flags & kFlagUnsync) != 0;
    const Sizes sizes = version == 4 ? Sizes::synchsafe : Sizes::plain;
    Tag result = walkFrames(body, start, version, sizes, unsync);
    if (result.damaged && version == 4) {
        Tag plain = walkFrames(body, start, version, Sizes::plain, unsync);
        if (!plain.damaged) return plain;
    }
    return result;
}

std::optional<std::string> isrc(const Tag& tag) {
    auto it = std::find_if(tag.frames.begin(), tag.frames.end(),
                           [](const Frame& f) { return f.id == "TSRC"; });
    if (it == tag.frames.end()) return std::nullopt;
    const auto decoded = frameText(tag, *it);
    if (!decoded) return std::nullopt;
    const std::vector<std::string> values = pieces(*decoded);
    if (values.empty()) return std::nullopt;
    return values.front();
}

bool holdsCode(const Tag& tag) {
    return std::any_of(tag.frames.begin(), tag.frames.end(),
                       [&](const Frame& f) { return f.id == "TSRC" || isISRCText(tag, f); });
}

void addCarriers(const Tag& tag, const std::string& where, Carriers& out) {
    std::size_t tsrc = 0;
    for (const Frame& f : tag.frames) {
        if (f.id == "TSRC") {
            const auto decoded = frameText(tag, f);
            for (const std::string& v : decoded ? pieces(*decoded) : std::vector<std::string>{}) {
                out.push_back({where + (tsrc++ ? " TSRC (second value)" : " TSRC"), v});
            }
        } else if (isISRCText(tag, f)) {
            const std::string t = *frameText(tag, f);
            const std::vector<std::string> values = pieces(t.substr(t.find('\0') + 1));
            out.push_back({where + " TXXX:ISRC", values.empty() ? "" : values.front()});
        }
    }
}

std::optional<Bytes> settingISRC(const std::optional<Tag>& tag,
                                 const std::optional<std::string>& isrc) {
    if (tag && tag->damaged) throw TagError::malformed(msg::id3Damaged);
    const std::uint8_t version = tag ? tag->version : 3;
    std::vector<Frame> texts;  // the TXXX "ISRC" frames with the new code
    if (tag && isrc) {
        for (const Frame& f : tag->frames) {
            if (isISRCText(*tag, f)) texts.push_back(textFrameWith(f, *isrc));
        }
    }
    std::vector<const Frame*> kept;
    if (tag) {
        std::size_t t = 0;
        for (const Frame& f : tag->frames) {
            if (isISRCText(*tag, f)) {
                if (isrc) kept.push_back(&texts[t++]);
            } else if (f.id != "TSRC") {
                kept.push_back(&f);
            }
        }
    }
    Frame added;
    if (isrc) {
        added.id = "TSRC";
        added.flags = {0x00, 0x00};
        added.body.push_back(0x00);  // ISO-8859-1
        append(added.body, *isrc);
        kept.push_back(&added);
    } else if (kept.empty()) {
        return std::nullopt;
    }

    // A size that wrapped in its field would make every reader lose the frames after it.
    const std::uint64_t frameLimit = version == 4 ? kSynchsafeLimit : (std::uint64_t(1) << 32);
    std::uint64_t bodySize = kPadding;
    for (const Frame* f : kept) {
        if (f->body.size() >= frameLimit) throw TagError::unsupported(msg::id3TooLarge);
        bodySize += kHeaderSize + f->body.size();
        if (bodySize >= kSynchsafeLimit) throw TagError::unsupported(msg::id3TooLarge);
    }

    Bytes out;
    out.reserve(kHeaderSize + bodySize);
    ByteWriter w(out);
    // No unsynchronisation, extended header or footer.
    w.ascii("ID3").u8(version).u8(0x00).u8(0x00).synchsafe32(bodySize);
    for (const Frame* f : kept) {
        Bytes id = fourCCBytes(f->id);
        id.resize(4, ' ');
        w.bytes(id);
        if (version == 4) {
            w.synchsafe32(f->body.size());
        } else {
            w.u32BE(f->body.size());
        }
        Bytes flags = f->flags;
        flags.resize(2, 0x00);
        w.bytes(flags).bytes(f->body);
    }
    w.zeros(kPadding);
    return out;
}

}  // namespace pelorix::ID3v2
