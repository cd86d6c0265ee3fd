// SPDX-License-Identifier: MIT
#include "core/formats/id3v2.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include <zlib.h>

#include "core/io/text.h"
#include "core/tag_error.h"

namespace pelorix::formats::id3v2 {

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

// A TXXX frame larger than this is first read only this far, to see its description.
constexpr std::uint64_t kTextPreview = 64 * 1024;
// A code field (TSRC, TXXX "ISRC") larger than this holds no code and is never loaded.
constexpr std::uint64_t kMaxCodeField = 1 << 20;

// An unsynchronised stretch of a file read with unsynchronisation undone (the 0x00 after each
// 0xFF dropped), front to back through one window of at most kPieceSize bytes.
class Unsynced {
  public:
    Unsynced(const FileIn& in, std::uint64_t offset, std::uint64_t size)
        : in_(&in), offset_(offset), size_(size) {}

    // Where the next byte is stored, counted from `offset`; only a value it returned may be set.
    std::uint64_t stored() const { return stored_; }
    void setStored(std::uint64_t at) { stored_ = at; }

    // The next byte; the 0x00 after a 0xFF goes with it. Past the end throws.
    std::uint8_t next() {
        const std::uint8_t c = byteAt(stored_++);
        if (c == 0xFF && stored_ < size_ && byteAt(stored_) == 0x00) ++stored_;
        return c;
    }

    // Skips up to `n` bytes as next() would, a run without 0xFF at once; returns how many.
    std::uint64_t advance(std::uint64_t n) {
        std::uint64_t done = 0;
        while (done < n && stored_ < size_) {
            byteAt(stored_);  // loads the window
            const std::uint8_t* from = window_.data() + (stored_ - windowStart_);
            const std::size_t length = std::size_t(
                std::min<std::uint64_t>(n - done, window_.size() - (stored_ - windowStart_)));
            const void* ff = std::memchr(from, 0xFF, length);
            const std::size_t plain =
                ff ? std::size_t(static_cast<const std::uint8_t*>(ff) - from) : length;
            stored_ += plain;
            done += plain;
            if (ff) {
                next();
                ++done;
            }
        }
        return done;
    }

  private:
    std::uint8_t byteAt(std::uint64_t at) {
        if (at < windowStart_ || at - windowStart_ >= window_.size()) {
            const std::uint64_t n =
                at < size_ ? std::min<std::uint64_t>(kPieceSize, size_ - at) : 0;
            window_ = in_->read(offset_ + at, std::int64_t(n));
            windowStart_ = at;
            if (window_.empty()) throw TagError::malformed(msg::id3Truncated);
        }
        return window_[at - windowStart_];
    }

    const FileIn* in_;
    std::uint64_t offset_ = 0;
    std::uint64_t size_ = 0;
    std::uint64_t stored_ = 0;
    Bytes window_;
    std::uint64_t windowStart_ = 0;
};

// True when the file holds only zero bytes from `from` to `to`, read piece by piece.
bool zerosIn(const FileIn& in, std::uint64_t from, std::uint64_t to) {
    for (; from < to; from += kPieceSize) {
        const Bytes piece =
            in.read(from, std::int64_t(std::min<std::uint64_t>(kPieceSize, to - from)));
        if (piece.size() < std::min<std::uint64_t>(kPieceSize, to - from)) {
            throw TagError::malformed(msg::id3Truncated);  // the file shrank
        }
        if (std::any_of(piece.begin(), piece.end(), [](std::uint8_t b) { return b != 0; })) {
            return false;
        }
    }
    return true;
}

// The tag's body, after its 10-byte header: bytes in memory, or a stretch of a file read as the
// walk needs it, so that frames that cannot hold a code are never loaded. Positions count the
// bytes after unsynchronisation is undone, as a version 3 tag's frame sizes do; where such a
// position lies in the file is found by reading on from the last one asked for.
class Body {
  public:
    explicit Body(std::span<const std::uint8_t> bytes) : bytes_(bytes), size_(bytes.size()) {}
    Body(const FileIn& in, std::uint64_t offset, std::uint64_t size, bool unsynchronised)
        : in_(&in), offset_(offset), size_(size), storedSize_(size) {
        if (unsynchronised) {
            unsynced_.emplace(in, offset, size);
            size_ = unsynced_->advance(size);
            unsynced_.emplace(in, offset, size);
        }
    }

    std::uint64_t size() const { return size_; }
    bool inFile() const { return in_ != nullptr; }
    bool unsynchronised() const { return unsynced_.has_value(); }
    // Where the `n` bytes from `pos` lie: stored from this offset on (unsynchronised, when so).
    ByteRange range(std::uint64_t pos, std::uint64_t n) const { return {storedAt(pos), n}; }

    // Up to `n` bytes from `pos`, fewer only at the end.
    Bytes read(std::uint64_t pos, std::uint64_t n) const {
        n = std::min(n, size_ - std::min(pos, size_));
        if (unsynced_) {
            storedAt(pos);
            const std::uint64_t back = unsynced_->stored();
            Bytes b(n);
            for (std::uint8_t& c : b) c = unsynced_->next();
            unsynced_->setStored(back);
            return b;
        }
        if (in_) {
            Bytes b = in_->read(offset_ + pos, std::int64_t(n));
            if (b.size() < n) throw TagError::malformed(msg::id3Truncated);  // the file shrank
            return b;
        }
        const auto from = bytes_.begin() + std::ptrdiff_t(pos);
        return Bytes(from, from + std::ptrdiff_t(n));
    }

    // True when every byte from `pos` to the end is zero; a file is scanned piece by piece.
    bool zerosFrom(std::uint64_t pos) const {
        if (in_) return pos >= size_ || zerosIn(*in_, storedAt(pos), offset_ + storedSize_);
        return std::all_of(bytes_.begin() + std::ptrdiff_t(std::min(pos, size_)), bytes_.end(),
                           [](std::uint8_t b) { return b == 0; });
    }

  private:
    // The file offset of the byte at `pos`.
    std::uint64_t storedAt(std::uint64_t pos) const {
        if (!unsynced_) return offset_ + pos;
        if (pos < position_) {
            unsynced_.emplace(*in_, offset_, storedSize_);
            position_ = 0;
        }
        if (unsynced_->advance(pos - position_) < pos - position_) {
            throw TagError::malformed(msg::id3Truncated);
        }
        position_ = pos;
        return offset_ + unsynced_->stored();
    }

    std::span<const std::uint8_t> bytes_;
    const FileIn* in_ = nullptr;
    std::uint64_t offset_ = 0;
    std::uint64_t size_ = 0;
    std::uint64_t storedSize_ = 0;
    mutable std::optional<Unsynced> unsynced_;  // at position_
    mutable std::uint64_t position_ = 0;
};

// The frame header at `pos`: its declared body size, or none when its identifier is not one or
// the size does not fit what follows it.
std::optional<std::uint64_t> frameAt(const Body& body, std::uint64_t pos, Sizes sizes) {
    if (body.size() - pos < kHeaderSize) return std::nullopt;
    const Bytes header = body.read(pos, kHeaderSize);
    ByteReader r(header);
    const auto id = r.readSpan(4);
    const std::uint32_t declared = sizes == Sizes::synchsafe ? r.readSynchsafe32() : r.readU32BE();
    if (!std::all_of(id.begin(), id.end(), isFrameIDByte)) return std::nullopt;
    if (declared > body.size() - pos - kHeaderSize) return std::nullopt;
    return declared;
}

// Where the frame walk starts: after the extended header when there is a believable one.
std::uint64_t framesStart(const Body& body, std::uint8_t version, std::uint8_t flags) {
    if (!(flags & kFlagExtended)) return 0;
    if (body.size() < 4) throw TagError::malformed(msg::id3Damaged);
    std::uint64_t length;
    bool plausible;
    const Bytes field = body.read(0, 4);
    ByteReader r(field);
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
    return std::min<std::uint64_t>(length, body.size());
}

std::optional<std::string> frameText(std::uint8_t version, const Frame& frame);
std::optional<bool> describesISRC(const std::string& text, bool whole);

// A TXXX frame whose description is "ISRC" in any letter case: what ffmpeg writes for MP3.
bool isISRCText(std::uint8_t version, const Frame& frame) {
    if (frame.id != "TXXX") return false;
    const auto t = frameText(version, frame);
    return t && *describesISRC(*t, true);
}

// True for a frame stored compressed or encrypted, whose content is no text to read.
bool opaque(std::uint8_t version, const Frame& frame) {
    const std::uint8_t format = frame.flags.size() > 1 ? frame.flags[1] : 0;
    return version == 4 ? (format & (kV4Encrypted | kV4Compressed)) != 0 : format >= 0x40;
}

// True for a version 4 frame stored compressed (not encrypted) with its data length, as zlib
// inflates it.
bool compressed(std::uint8_t version, const Frame& frame) {
    const std::uint8_t format = frame.flags.size() > 1 ? frame.flags[1] : 0;
    return version == 4 && (format & kV4Compressed) && (format & kV4DataLength) &&
           !(format & kV4Encrypted);
}

// A compressed text frame whose code is read: no more than this once inflated.
constexpr std::uint64_t kMaxInflated = 64 * 1024;

// The content of a compressed frame (its body after unsynchronisation is undone: the data
// length, then the zlib stream), or none when it does not inflate to exactly that length.
std::optional<Bytes> inflated(const Bytes& body) {
    if (body.size() < 5) return std::nullopt;
    const std::uint64_t length = ByteReader(body).readSynchsafe32();
    if (length > kMaxInflated) return std::nullopt;
    Bytes out(std::size_t(length) + 1);  // one more, to see a stream that runs longer
    uLongf produced = uLongf(out.size());
    const int status = ::uncompress(out.data(), &produced, body.data() + 4, uLong(body.size() - 4));
    if ((status != Z_OK && status != Z_BUF_ERROR) || produced != length) return std::nullopt;
    out.resize(std::size_t(length));
    return out;
}

// Whether a frame read from a file is loaded: TSRC always, TXXX while its description may be
// "ISRC" (a large one is read this far first; a compressed one is inflated to see). Loading it
// costs what it weighs; a frame that cannot hold a code is left in the file.
bool mustLoad(const Body& body, std::uint64_t at, const Frame& frame, std::uint64_t size,
              bool unsync, std::uint8_t version) {
    if (!body.inFile()) return true;
    // A code field of this size holds no code: refused, never loaded.
    if (frame.id == "TSRC" && size > kTextPreview)
        throw TagError::unsupported(msg::id3CodeTooLarge);
    if (frame.id == "TSRC") return true;
    if (frame.id == "TXXX" && compressed(version, frame)) return size <= kMaxInflated;
    if (frame.id != "TXXX" || opaque(version, frame)) return false;
    if (size <= kTextPreview) return true;
    Frame preview = frame;
    preview.body = body.read(at, kTextPreview);
    if (unsync) preview.body = removeUnsync(preview.body);
    // The preview may end inside a character, which takes at most 4 bytes.
    std::optional<std::string> text;
    for (int cut = 0; cut < 4 && !text; ++cut) {
        text = frameText(version, preview);
        preview.body.pop_back();
    }
    // Text that does not decode holds no code; a description that may be "ISRC" makes a code
    // field of this size, which is refused, never loaded.
    const bool mayBeCode = text && describesISRC(*text, false).value_or(true);
    if (mayBeCode && size > kMaxCodeField) throw TagError::unsupported(msg::id3CodeTooLarge);
    return mayBeCode;
}

// The frames from `pos` on, until padding, the end, or something that is not a frame. `damaged`
// tells whether anything but zero bytes remains after them.
Tag walkFrames(const Body& body, std::uint64_t pos, std::uint8_t version, Sizes sizes,
               bool tagUnsync) {
    Tag tag;
    tag.version = version;
    while (body.size() - pos >= kHeaderSize) {
        const Bytes header = body.read(pos, kHeaderSize);
        if (header[0] == 0x00) break;
        const auto declared = frameAt(body, pos, sizes);
        if (!declared) break;
        Frame frame;
        frame.id = fourCC(header, 0);
        frame.flags = {header[8], header[9]};
        const std::uint64_t at = pos + kHeaderSize;
        const bool unsync = version == 4 && (tagUnsync || (frame.flags[1] & kV4FrameUnsync));
        bool load = mustLoad(body, at, frame, *declared, unsync, version);
        if (load) {
            frame.body = body.read(at, *declared);
            if (unsync) {
                frame.body = removeUnsync(frame.body);
                frame.flags[1] &= std::uint8_t(~kV4FrameUnsync);  // the rebuilt tag stores it plain
            }
        }
        if (load && compressed(version, frame)) {
            // A code frame is read inflated and stored plain by a rewrite; any other stays as
            // it was stored.
            Frame plain = frame;
            if (auto content = inflated(frame.body)) plain.body = std::move(*content);
            plain.flags[1] &= std::uint8_t(~(kV4Compressed | kV4DataLength));
            if (plain.body != frame.body && (frame.id == "TSRC" || isISRCText(version, plain))) {
                frame = std::move(plain);
            } else if (frame.id == "TXXX" && body.inFile()) {
                frame.body.clear();
                frame.flags[1] = header[9];
                load = false;
            }
        }
        if (!load) {
            frame.stored = body.range(at, *declared);
            frame.storedUnsynchronised = body.unsynchronised();
            // Kept as stored, so it says so itself where the tag header said it for all.
            if (unsync) frame.flags[1] |= kV4FrameUnsync;
        }
        tag.frames.push_back(std::move(frame));
        pos = at + *declared;
    }
    tag.damaged = !body.zerosFrom(pos);
    return tag;
}

// The frames of a tag with this version and these header flags, whose body (unsynchronisation of
// a version 3 tag already undone) is `body`.
Tag walk(const Body& body, std::uint8_t version, std::uint8_t flags) {
    const std::uint64_t start = framesStart(body, version, flags);
    const bool unsync = (flags & kFlagUnsync) != 0;
    const Sizes sizes = version == 4 ? Sizes::synchsafe : Sizes::plain;
    Tag result = walkFrames(body, start, version, sizes, unsync);
    if (result.damaged && version == 4) {
        Tag plain = walkFrames(body, start, version, Sizes::plain, unsync);
        if (!plain.damaged) return plain;
    }
    return result;
}

// The tag's version, flags and body size from its header; none when it is no ID3v2 header.
struct Header {
    std::uint8_t version = 0;
    std::uint8_t flags = 0;
    std::uint64_t size = 0;
};
std::optional<Header> headerOf(std::span<const std::uint8_t> bytes, std::uint64_t available) {
    if (!totalSize(bytes)) return std::nullopt;
    const std::uint8_t version = bytes[3];
    if (version != 3 && version != 4) throw TagError::unsupported(msg::id3Version(version));
    const std::uint64_t size = ByteReader(bytes, 6).readSynchsafe32();
    if (size > available - kHeaderSize) throw TagError::malformed(msg::id3Truncated);
    return Header{version, bytes[5], size};
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
std::optional<std::string> frameText(std::uint8_t version, const Frame& frame) {
    const std::uint8_t format = frame.flags.size() > 1 ? frame.flags[1] : 0;
    if (opaque(version, frame)) return std::nullopt;
    std::size_t skip = 0;
    if (version == 4 && (format & kV4DataLength)) {
        if (frame.body.size() < 5) return std::nullopt;
        skip = 4;
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

// Whether a TXXX frame's decoded text is described "ISRC" in any letter case; none when `text`
// is only the start of it and its description runs on. A description of more than 4 characters
// cannot be "ISRC": upper-casing never yields fewer.
std::optional<bool> describesISRC(const std::string& text, bool whole) {
    const std::size_t nul = text.find('\0');
    if (nul == std::string::npos) {
        if (whole || text::scalars(text::trimWhitespaceAndNewlines(text)).size() > 4) return false;
        return std::nullopt;
    }
    return text::toUpper(text::trimWhitespaceAndNewlines(std::string_view(text).substr(0, nul))) ==
           "ISRC";
}

std::optional<std::string> frameText(const Tag& tag, const Frame& frame) {
    return frameText(tag.version, frame);
}

bool isISRCText(const Tag& tag, const Frame& frame) {
    return isISRCText(tag.version, frame);
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
    const auto header = headerOf(tag, tag.size());
    if (!header) return std::nullopt;
    Bytes body(tag.begin() + kHeaderSize, tag.begin() + kHeaderSize + std::ptrdiff_t(header->size));
    // Version 3 unsynchronises the whole body and counts frame sizes after undoing it. Version 4
    // does it per frame and counts the stored bytes, so there it is undone frame by frame.
    if (header->version == 3 && (header->flags & kFlagUnsync)) body = removeUnsync(body);
    return walk(Body(body), header->version, header->flags);
}

std::optional<Tag> read(const FileIn& in, std::uint64_t offset, std::uint64_t length) {
    const Bytes first = in.read(offset, std::int64_t(std::min<std::uint64_t>(length, kHeaderSize)));
    const auto header = headerOf(first, length);
    if (!header) return std::nullopt;
    const bool unsynchronised = header->version == 3 && (header->flags & kFlagUnsync);
    return walk(Body(in, offset + kHeaderSize, header->size, unsynchronised), header->version,
                header->flags);
}

std::optional<std::string> textFrame(const FileIn& in, const Tag& tag, std::string_view id) {
    constexpr std::uint64_t kTextLimit = 64 * 1024;
    auto it = std::find_if(tag.frames.begin(), tag.frames.end(),
                           [&](const Frame& f) { return f.id == id; });
    if (it == tag.frames.end()) return std::nullopt;
    Frame frame = *it;
    if (frame.stored) {
        const ByteRange range = *frame.stored;
        if (range.length > kTextLimit) return std::nullopt;
        // An unsynchronised range counts the bytes after undoing it: at most twice as many stored.
        frame.body = in.read(range.offset,
                             std::int64_t(range.length) * (frame.storedUnsynchronised ? 2 : 1));
        if (frame.storedUnsynchronised) frame.body = removeUnsync(frame.body);
        if (frame.body.size() < range.length) return std::nullopt;
        frame.body.resize(range.length);
        if (tag.version == 4 && (frame.flags[1] & kV4FrameUnsync)) {
            frame.body = removeUnsync(frame.body);
            frame.flags[1] &= std::uint8_t(~kV4FrameUnsync);
        }
        frame.stored.reset();
    }
    const auto decoded = frameText(tag.version, frame);
    if (!decoded) return std::nullopt;
    const std::vector<std::string> values = pieces(*decoded);
    if (values.empty() || values.front().empty()) return std::nullopt;
    return values.front();
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

void Pieces::add(std::span<const std::uint8_t> bytes) {
    if (pieces_.empty() || pieces_.back().copied) pieces_.emplace_back();
    append(pieces_.back().bytes, bytes);
    size_ += bytes.size();
}

void Pieces::add(const ByteRange& range, bool unsynchronised) {
    pieces_.push_back({{}, range, unsynchronised});
    size_ += range.length;
}

Bytes Pieces::bytes() const {
    Bytes out;
    for (const Piece& p : pieces_) {
        if (p.copied) throw std::logic_error("a tag that copies from a file has no bytes alone");
        append(out, p.bytes);
    }
    return out;
}

void Pieces::writeTo(const FileIn& in, FileOut& out) const {
    for (const Piece& p : pieces_) {
        if (p.copied && p.unsynchronised) {
            Unsynced from(in, p.copied->offset, in.size() - std::min(p.copied->offset, in.size()));
            Bytes piece;
            for (std::uint64_t left = p.copied->length; left > 0;) {
                piece.resize(std::size_t(std::min<std::uint64_t>(left, kPieceSize)));
                for (std::uint8_t& c : piece) c = from.next();
                out.write(piece);
                left -= piece.size();
            }
        } else if (p.copied) {
            in.copy(p.copied->offset, p.copied->length, out);
        } else {
            out.write(p.bytes);
        }
    }
}

std::optional<Pieces> rebuilt(const std::optional<Tag>& tag,
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
    auto contentSize = [](const Frame& f) { return f.stored ? f.stored->length : f.body.size(); };
    const std::uint64_t frameLimit = version == 4 ? kSynchsafeLimit : (std::uint64_t(1) << 32);
    std::uint64_t bodySize = kPadding;
    for (const Frame* f : kept) {
        if (contentSize(*f) >= frameLimit) throw TagError::unsupported(msg::id3TooLarge);
        bodySize += kHeaderSize + contentSize(*f);
        if (bodySize >= kSynchsafeLimit) throw TagError::unsupported(msg::id3TooLarge);
    }

    Pieces out;
    Bytes head;
    ByteWriter w(head);
    // No unsynchronisation, extended header or footer.
    w.ascii("ID3").u8(version).u8(0x00).u8(0x00).synchsafe32(bodySize);
    for (const Frame* f : kept) {
        Bytes id = fourCCBytes(f->id);
        id.resize(4, ' ');
        w.bytes(id);
        if (version == 4) {
            w.synchsafe32(contentSize(*f));
        } else {
            w.u32BE(contentSize(*f));
        }
        Bytes flags = f->flags;
        flags.resize(2, 0x00);
        w.bytes(flags).bytes(f->body);
        if (f->stored) {
            out.add(head);
            head.clear();
            out.add(*f->stored, f->storedUnsynchronised);
        }
    }
    w.zeros(kPadding);
    out.add(head);
    return out;
}

std::optional<Bytes> settingISRC(const std::optional<Tag>& tag,
                                 const std::optional<std::string>& isrc) {
    auto pieces = rebuilt(tag, isrc);
    if (!pieces) return std::nullopt;
    return pieces->bytes();
}

}  // namespace pelorix::formats::id3v2
