// SPDX-License-Identifier: MIT
#include "core/formats/chunk_file.h"

#include <algorithm>

#include "core/tag_error.h"

namespace pelorix::ChunkFile {

namespace {

constexpr std::uint64_t kHeadSize = 12;
constexpr std::uint64_t kChunkHeaderSize = 8;
constexpr std::uint64_t kID3Min = 10;
constexpr std::uint64_t kID3Max = (std::uint64_t(1) << 28) - 1;
constexpr std::uint64_t kFormSizeMax = 0xFFFFFFFFu;
// Chunk headers are read through a window of this size, so a file of many tiny chunks costs one
// read per window rather than one per chunk. Small enough to come from FileIn's cache, so the
// header after a large chunk does not drag in the start of its audio.
constexpr std::uint64_t kWindow = 4 * 1024;

bool headIs(const Bytes& head, std::size_t at, const char* fourcc) {
    return std::equal(fourcc, fourcc + 4, head.begin() + std::ptrdiff_t(at));
}

bool isID3Chunk(const std::string& id) {
    if (id.size() != 4) return false;  // a non-ASCII byte makes the text longer than 4
    std::string lower = id;
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    }
    return lower == "id3 ";
}

// Caches one window of the input for the chunk walk.
class HeaderReader {
  public:
    explicit HeaderReader(const FileIn& in) : in_(in) {}

    // Up to `count` (at most kWindow) bytes from `offset`; fewer only at the end of the file.
    Bytes read(std::uint64_t offset, std::uint64_t count) {
        if (offset < start_ || offset - start_ > window_.size() ||
            window_.size() - (offset - start_) < count) {
            start_ = offset;
            window_ = in_.read(offset, std::int64_t(kWindow));
        }
        auto from = window_.begin() + std::ptrdiff_t(offset - start_);
        auto n = std::min<std::uint64_t>(count, std::uint64_t(window_.end() - from));
        return Bytes(from, from + std::ptrdiff_t(n));
    }

  private:
    const FileIn& in_;
    std::uint64_t start_ = 0;
    Bytes window_;
};

bool printable(std::uint8_t c) {
    return c >= 0x20 && c <= 0x7E;
}

// Four printable ASCII characters at `offset` with room for a whole header after them.
bool plausibleHeaderAt(HeaderReader& reader, std::uint64_t offset, std::uint64_t fileSize) {
    if (offset > fileSize || fileSize - offset < kChunkHeaderSize) return false;
    Bytes id = reader.read(offset, 4);
    return id.size() == 4 && std::all_of(id.begin(), id.end(), printable);
}

std::uint64_t paddedSize(std::uint64_t size) {
    return size + (size & 1);
}

}  // namespace

Parsed parse(const FileIn& in, bool little) {
    Parsed parsed;
    parsed.head = in.read(0, std::int64_t(kHeadSize));
    const Bytes& head = parsed.head;
    if (head.size() < kHeadSize) throw TagError::malformed(msg::tooShort);
    if (little) {
        if (headIs(head, 0, "RF64") || headIs(head, 0, "BW64")) {
            throw TagError::unsupported(msg::rf64);
        }
        if (!headIs(head, 0, "RIFF") || !headIs(head, 8, "WAVE")) {
            throw TagError::malformed(msg::notWAV);
        }
    } else if (!headIs(head, 0, "FORM") || !(headIs(head, 8, "AIFF") || headIs(head, 8, "AIFC"))) {
        throw TagError::malformed(msg::notAIFF);
    }

    // The walk follows the real file length; the form size is never trusted.
    const std::uint64_t fileSize = in.size();
    HeaderReader reader(in);
    std::uint64_t pos = kHeadSize;
    while (pos < fileSize && fileSize - pos >= kChunkHeaderSize) {
        Bytes header = reader.read(pos, kChunkHeaderSize);
        if (header.size() < kChunkHeaderSize) break;
        std::uint64_t declared = little ? le32(header, 4) : be32(header, 4);
        std::uint64_t available = fileSize - pos - kChunkHeaderSize;
        std::uint64_t size = std::min(declared, available);  // an overlong chunk is cut to the file
        parsed.chunks.push_back(Chunk{fourCC(header, 0), pos, size});

        std::uint64_t end = pos + kChunkHeaderSize + size;
        std::uint64_t next = end + (size & 1);
        // Some writers leave out the pad byte after an odd chunk. Reading the next header one
        // byte late would turn that chunk into garbage, so follow the unpadded position when
        // only it looks like a chunk header.
        if ((size & 1) && !plausibleHeaderAt(reader, next, fileSize) &&
            plausibleHeaderAt(reader, end, fileSize)) {
            next = end;
        }
        pos = next;
    }
    return parsed;
}

std::optional<ID3v2::Tag> existingTag(const FileIn& in, const std::vector<Chunk>& chunks) {
    auto it =
        std::find_if(chunks.begin(), chunks.end(), [](const Chunk& c) { return isID3Chunk(c.id); });
    if (it == chunks.end()) return std::nullopt;
    // Outside these bounds the body cannot hold a whole tag header or a synchsafe size.
    if (it->size < kID3Min || it->size > kID3Max) return std::nullopt;
    Bytes body = in.read(it->headerOffset + kChunkHeaderSize, std::int64_t(it->size));
    return ID3v2::parse(body);
}

void write(const FileIn& in, FileOut& out, bool little, const std::optional<std::string>& isrc) {
    Parsed parsed = parse(in, little);
    std::optional<ID3v2::Tag> tag = existingTag(in, parsed.chunks);
    std::optional<Bytes> newTag = ID3v2::settingISRC(tag, isrc);

    // The form size must describe the whole output; refuse before any audio is streamed rather
    // than write a wrapped size that later checks cannot notice.
    std::uint64_t total = kHeadSize;
    for (const Chunk& c : parsed.chunks) {
        if (!isID3Chunk(c.id)) total += kChunkHeaderSize + paddedSize(c.size);
    }
    if (newTag) total += kChunkHeaderSize + paddedSize(newTag->size());
    if (total - 8 > kFormSizeMax) throw TagError::unsupported(msg::chunkFileTooLarge);

    auto sizeBytes = [little](std::uint64_t v) { return little ? bytes32LE(v) : bytes32BE(v); };
    const Bytes& head = parsed.head;
    out.write(Bytes(head.begin(), head.begin() + 4));
    out.write(Bytes(4, 0));
    out.write(Bytes(head.begin() + 8, head.begin() + 12));

    const Bytes pad{0};
    for (const Chunk& c : parsed.chunks) {
        if (isID3Chunk(c.id)) continue;
        out.write(fourCCBytes(c.id));
        out.write(sizeBytes(c.size));
        in.copy(c.headerOffset + kChunkHeaderSize, c.size, out);
        if (c.size & 1) out.write(pad);
    }

    if (newTag) {
        out.write(fourCCBytes(little ? "id3 " : "ID3 "));
        out.write(sizeBytes(newTag->size()));
        out.write(*newTag);
        if (newTag->size() & 1) out.write(pad);
    }

    out.patch(4, sizeBytes(out.position() - 8));
}

}  // namespace pelorix::ChunkFile
