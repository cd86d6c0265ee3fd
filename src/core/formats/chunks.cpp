// SPDX-License-Identifier: MIT
#include "core/formats/chunks.h"

#include <algorithm>
#include <exception>
#include <unordered_map>

#include "core/formats/axml.h"
#include "core/io/text.h"
#include "core/isrc.h"
#include "core/tag_error.h"

namespace pelorix::formats::chunks {

namespace {

constexpr std::uint64_t kHeadSize = 12;
constexpr std::uint64_t kChunkHeaderSize = 8;
constexpr std::uint64_t kID3Min = 10;
constexpr std::uint64_t kID3Max = (std::uint64_t(1) << 28) - 1;
constexpr std::uint64_t kFormSizeMax = 0xFFFFFFFFu;
// What recorders write while they do not know the length yet.
constexpr std::uint64_t kUnknownSize = 0xFFFFFFFFu;
// An INFO list is a few short texts; a larger LIST chunk is something else.
constexpr std::uint64_t kMaxInfoList = 1 << 20;
// No real file has this many chunks; a crafted one must not make the walk's memory grow with it.
constexpr std::size_t kMaxPositions = std::size_t(1) << 20;
bool headIs(const Bytes& head, std::size_t at, const char* fourcc) {
    return std::equal(fourcc, fourcc + 4, head.begin() + std::ptrdiff_t(at));
}

bool printable(std::uint8_t c) {
    return c >= 0x20 && c <= 0x7E;
}

std::uint64_t paddedSize(std::uint64_t size) {
    return size + (size & 1);
}

// How a walk from some position ends, best last: on something that is not a chunk, with a last
// chunk cut to the end of the file (it would swallow whatever a better reading finds there), on
// fewer than 8 stray bytes, or exactly at the end.
enum class Ending { dirty, cut, stray, exact };

struct Step {
    Ending ending = Ending::dirty;
    bool ambiguous = false;  // two ways of reading the pad bytes end equally well
    std::uint64_t next = 0;  // the next chunk's header
    std::uint64_t size = 0;  // this chunk's data bytes
    std::string id;
    bool last = false;  // nothing follows: the end, stray bytes, or a cut chunk
    // Audio that runs past the end, or a size still unknown: a recording in progress or cut
    // short. Where its audio ends is a guess, so such a file is left alone.
    bool open = false;
    // An ID that is no text: taken for a chunk only in a walk that ends exactly at the end.
    bool foreign = false;
};

// What a walk accepts at the end besides chunks that end exactly there.
struct Tolerance {
    bool stray = false;  // fewer than 8 bytes that cannot be a chunk
    bool cut = false;    // a last chunk that declares more than there is
};

// A chunk's size: the declared one, or for 0xFFFFFFFF in an RF64/BW64 file the `ds64` one.
std::uint64_t sizeOf(const Sizes64& sizes, const std::string& id, std::uint64_t declared) {
    if (declared != kUnknownSize) return declared;
    if (id == "data") return sizes.data;
    for (const auto& [tableID, size] : sizes.table) {
        if (tableID == id) return size;
    }
    return declared;
}

std::uint64_t le64(const Bytes& b, std::size_t at) {
    return std::uint64_t(le32(b, at)) | (std::uint64_t(le32(b, at + 4)) << 32);
}

// The `ds64` chunk of an RF64/BW64 file, or none for a RIFF file.
std::optional<Sizes64> sizes64(const FileIn& in, const Bytes& head) {
    if (!headIs(head, 0, "RF64") && !headIs(head, 0, "BW64")) return std::nullopt;
    if (!headIs(head, 8, "WAVE")) throw TagError::malformed(msg::notWAV);
    const Bytes h = in.read(kHeadSize, 8);
    if (h.size() < 8 || fourCC(h, 0) != "ds64" || le32(h, 4) < 28 || le32(h, 4) > 1 << 20) {
        throw TagError::malformed(msg::chunksDamaged);
    }
    const Bytes d = in.read(kHeadSize + 8, le32(h, 4));
    if (d.size() < le32(h, 4)) throw TagError::malformed(msg::chunksDamaged);
    Sizes64 sizes{le64(d, 0), le64(d, 8), {}};
    const std::uint64_t entries = le32(d, 24);
    if (entries > (d.size() - 28) / 12) throw TagError::malformed(msg::chunksDamaged);
    for (std::size_t i = 0; i < entries; ++i) {
        sizes.table.emplace_back(fourCC(d, 28 + 12 * i), le64(d, 28 + 12 * i + 4));
    }
    return sizes;
}

// The chunk walk from one position to `end`. An odd chunk whose pad byte is missing is common
// enough that both readings are followed: the one that ends well is kept, and a tie is refused.
class Walk {
  public:
    Walk(const FileIn& reader, bool little, std::uint64_t end, Tolerance tolerance,
         std::string audioID, const std::optional<Sizes64>& sizes)
        : reader_(reader),
          little_(little),
          end_(end),
          tolerance_(tolerance),
          audioID_(std::move(audioID)),
          sizes_(sizes) {}

    // The outcome from `pos`; every position it depends on is settled first, without recursion.
    Step from(std::uint64_t pos) {
        if (pos == end_) return outcomeAt(pos);
        std::vector<std::uint64_t> pending{pos};
        while (!pending.empty()) {
            const std::uint64_t at = pending.back();
            if (steps_.count(at)) {
                pending.pop_back();
                continue;
            }
            Step step = header(at);
            std::vector<std::uint64_t> next = successors(at, step);
            const auto unsettled = std::find_if(next.begin(), next.end(), [&](std::uint64_t p) {
                return p != end_ && !steps_.count(p);
            });
            if (unsettled != next.end()) {
                if (steps_.size() + pending.size() > kMaxPositions) {
                    throw TagError::malformed(msg::chunksDamaged);
                }
                pending.push_back(*unsettled);
                continue;
            }
            settle(step, next);
            steps_[at] = step;
            pending.pop_back();
        }
        return steps_.at(pos);
    }

    // The chunks from `pos` on, along the chosen readings.
    // An empty audio chunk must be followed by whole chunks only: demuxers play everything after
    // it as audio, and what is not a chunk may well be that audio.
    std::vector<Chunk> chunks(std::uint64_t pos, std::uint64_t& stop) {
        std::vector<Chunk> out;
        bool emptyAudio = false;
        while (pos != end_) {
            const Step s = from(pos);
            if (s.ending == Ending::stray && s.id.empty()) break;
            if (s.open || (emptyAudio && s.last && s.ending == Ending::cut)) {
                throw TagError::malformed(msg::unfinishedRecording);
            }
            emptyAudio = emptyAudio || (s.id == audioID_ && s.size == 0);
            out.push_back({s.id, pos, s.size});
            pos = s.next;
            if (s.last) break;
        }
        stop = pos;
        return out;
    }

    bool sawOpenAudio() const { return sawOpenAudio_; }

  private:
    Step header(std::uint64_t at) {
        Step step;
        if (end_ - at < kChunkHeaderSize) {
            step.ending = tolerance_.stray ? Ending::stray : Ending::dirty;
            step.last = true;
            step.next = at;
            return step;
        }
        const Bytes h = reader_.read(at, std::int64_t(kChunkHeaderSize));
        ByteReader r(h);
        const auto id = r.readSpan(4);
        std::uint64_t declared = little_ ? r.readU32LE() : r.readU32BE();
        const std::uint64_t available = end_ - at - kChunkHeaderSize;
        if (!r.ok()) {
            step.last = true;
            return step;
        }
        step.foreign = !std::all_of(id.begin(), id.end(), printable);
        if (step.foreign && declared > available) {
            step.last = true;
            return step;
        }
        step.id = fourCC(h, 0);
        if (sizes_) declared = sizeOf(*sizes_, step.id, declared);
        if (step.id == audioID_ && (declared == 0 || declared == kUnknownSize)) {
            sawOpenAudio_ = true;
        }
        if (declared > available) {
            step.last = true;
            step.size = available;
            step.next = end_;
            step.ending = tolerance_.cut ? Ending::cut : Ending::dirty;
            step.open = step.id == audioID_ || declared == kUnknownSize;
            return step;
        }
        step.size = declared;
        return step;
    }

    std::vector<std::uint64_t> successors(std::uint64_t at, const Step& step) const {
        if (step.last) return {};
        const std::uint64_t after = at + kChunkHeaderSize + step.size;
        if (!(step.size & 1)) return {after};
        if (after == end_) return {after};  // the pad byte missing at the very end
        return {after + 1, after};          // padded first: the rule
    }

    Step outcomeAt(std::uint64_t pos) const {
        if (pos == end_) return Step{.ending = Ending::exact, .id = {}};
        return steps_.at(pos);
    }

    void settle(Step& step, const std::vector<std::uint64_t>& next) {
        if (step.last) {
            if (step.ending == Ending::dirty) step.id.clear();
            return;
        }
        const Step first = outcomeAt(next[0]);
        step.next = next[0];
        step.ending = first.ending;
        step.ambiguous = first.ambiguous;
        if (next.size() == 2) {
            const Step second = outcomeAt(next[1]);
            if (second.ending > first.ending && second.ending == Ending::cut) {
                // A guessed missing pad byte that only leads to a chunk cut short, which would
                // swallow whatever the padded reading found: unsure.
                step.ending = Ending::dirty;
            } else if (second.ending > first.ending) {
                step.next = next[1];
                step.ending = second.ending;
                step.ambiguous = second.ambiguous;
            } else if (second.ending == first.ending && first.ending != Ending::dirty) {
                // Two readings that end alike. Where both end in bytes kept as they are and the
                // pad byte is zero, they write the same bytes back; otherwise nobody can tell.
                const Bytes pad = reader_.read(next[1], 1);
                step.ambiguous = first.ending == Ending::exact || pad != Bytes{0};
            }
        }
        if (step.foreign && step.ending != Ending::exact) step.ending = Ending::dirty;
    }

    const FileIn& reader_;  // headers come from its cache, not one system call each
    bool little_;
    std::uint64_t end_;
    Tolerance tolerance_;
    std::string audioID_;
    const std::optional<Sizes64>& sizes_;
    bool sawOpenAudio_ = false;
    std::unordered_map<std::uint64_t, Step> steps_;
};

std::optional<id3v2::Tag> tagIn(const FileIn& in, const Chunk& c) {
    // Outside these bounds the body cannot hold a whole tag header or a synchsafe size.
    if (!isID3Chunk(c.id) || c.size < kID3Min || c.size > kID3Max) return std::nullopt;
    return id3v2::read(in, c.headerOffset + kChunkHeaderSize, c.size);
}

// ID3 chunks after the first are read leniently: one that does not parse is kept as it is.
std::optional<id3v2::Tag> laterTagIn(const FileIn& in, const Chunk& c) {
    try {
        return tagIn(in, c);
    } catch (const TagError&) {
        return std::nullopt;
    }
}

ByteRange contentRange(const Chunk& c) {
    return {c.headerOffset + kChunkHeaderSize, c.size};
}

// The ISRC field of a LIST chunk that is an INFO list: where it lies in the list and its text.
struct InfoISRC {
    Bytes list;           // the whole list, "INFO" first
    std::size_t at = 0;   // the field's header in `list`
    std::size_t end = 0;  // past the field and its pad byte (when there is one)
    std::string text;
    bool isCode = false;  // the text is a valid code: a carrier, not the "source" it names
};
std::optional<InfoISRC> infoISRC(const FileIn& in, const Chunk& c) {
    if (c.id != "LIST" || c.size < 4 || c.size > kMaxInfoList) return std::nullopt;
    InfoISRC info;
    info.list = in.read(c.headerOffset + kChunkHeaderSize, std::int64_t(c.size));
    const Bytes& list = info.list;
    if (list.size() < 4 || fourCC(list, 0) != "INFO") return std::nullopt;
    std::size_t at = 4;
    // A last field of odd size without its pad byte leaves `at` one past the end.
    while (at <= list.size() && list.size() - at >= kChunkHeaderSize) {
        const std::uint64_t size = le32(list, at + 4);
        if (size > list.size() - at - kChunkHeaderSize) break;
        if (fourCC(list, at) == "ISRC") {
            std::size_t n = std::size_t(size);
            while (n > 0 && list[at + kChunkHeaderSize + n - 1] == 0) --n;
            info.at = at;
            info.end = std::min(list.size(), at + kChunkHeaderSize + std::size_t(paddedSize(size)));
            info.text = text::trimWhitespaceAndNewlines(
                text::decodeLossy(list.data() + at + kChunkHeaderSize, n, text::Encoding::latin1));
            info.isCode = ISRC::parse(info.text).has_value();
            return info;
        }
        at += kChunkHeaderSize + std::size_t(paddedSize(size));
    }
    return std::nullopt;
}

// The INFO list with its ISRC field holding `isrc` (NUL-terminated, as other writers store
// it), or without the field; every other field as it was.
Bytes infoWith(const InfoISRC& info, const std::optional<std::string>& isrc) {
    Bytes out(info.list.begin(), info.list.begin() + std::ptrdiff_t(info.at));
    if (isrc) {
        ByteWriter w(out);
        w.ascii("ISRC").u32LE(std::uint32_t(isrc->size() + 1)).ascii(*isrc).u8(0);
        if ((isrc->size() + 1) & 1) w.u8(0);
    }
    out.insert(out.end(), info.list.begin() + std::ptrdiff_t(info.end), info.list.end());
    return out;
}

// Whether a chunk's body holds nothing: no bytes, or only zero bytes (a tag a writer reserved and
// never filled). Only a small body is looked at.
bool emptyBody(const FileIn& in, const Chunk& c) {
    if (c.size > kID3Min * 1024) return false;
    const Bytes b = in.read(c.headerOffset + kChunkHeaderSize, std::int64_t(c.size));
    return b.size() == c.size &&
           std::all_of(b.begin(), b.end(), [](std::uint8_t x) { return x == 0; });
}

// The ID3 chunk a write puts the code in and a read reads first: the first that holds a tag, or
// whose body is empty (filled then, so that readers find the tag where they look). A chunk whose
// tag cannot be read (another version, cut short) is passed over while another one can be, and
// is kept as it is by a write.
const Chunk* primaryTagChunk(const FileIn& in, const std::vector<Chunk>& chunks,
                             std::optional<id3v2::Tag>* tag) {
    std::exception_ptr error;
    for (const Chunk& c : chunks) {
        if (!isID3Chunk(c.id)) continue;
        std::optional<id3v2::Tag> t;
        try {
            t = tagIn(in, c);
        } catch (const TagError&) {
            if (!error) error = std::current_exception();
            continue;
        }
        if (!t && !emptyBody(in, c)) continue;
        if (tag) *tag = std::move(t);
        return &c;
    }
    if (error) std::rethrow_exception(error);
    return nullptr;
}

}  // namespace

bool isID3Chunk(const std::string& id) {
    return asciiLower(id) == "id3 ";
}

Parsed parse(const FileIn& in, bool little) {
    Parsed parsed;
    parsed.head = in.read(0, std::int64_t(kHeadSize));
    const Bytes& head = parsed.head;
    if (head.size() < kHeadSize) throw TagError::malformed(msg::tooShort);
    parsed.sizes64 = little ? sizes64(in, head) : std::nullopt;
    if (little) {
        if (!parsed.sizes64 && (!headIs(head, 0, "RIFF") || !headIs(head, 8, "WAVE"))) {
            throw TagError::malformed(msg::notWAV);
        }
    } else if (!headIs(head, 0, "FORM") || !(headIs(head, 8, "AIFF") || headIs(head, 8, "AIFC"))) {
        throw TagError::malformed(msg::notAIFF);
    }

    const std::uint64_t fileSize = in.size();
    const std::uint64_t declaredForm = little ? le32(head, 4) : be32(head, 4);
    const std::uint64_t formEnd =
        8 + (parsed.sizes64 && declaredForm == kUnknownSize ? parsed.sizes64->riff : declaredForm);
    const std::string audioID = little ? "data" : "SSND";

    // The readings tried, in order: chunks exactly to the end of the file (the form size is often
    // wrong, so it does not count then); chunks exactly to the end of the form, with whatever
    // follows kept as it is; and, for a form that claims the whole file, chunks to its end with a
    // last chunk cut short or a few stray bytes.
    struct Attempt {
        std::uint64_t end;
        Tolerance tolerance;
    };
    std::vector<Attempt> attempts;
    if (formEnd >= fileSize) {
        attempts.push_back({fileSize, {.stray = true, .cut = true}});
    } else {
        // Bytes beyond the form are no chunk cut short: an appended ID3v1 tag would be one. A
        // form without a single chunk is a size nobody filled in, not a boundary to keep.
        attempts.push_back({fileSize, {}});
        if (formEnd > kHeadSize) attempts.push_back({formEnd, {}});
        attempts.push_back({fileSize, {.stray = true}});
    }
    bool openAudio = false;
    for (const Attempt& a : attempts) {
        Walk walk(in, little, a.end, a.tolerance, audioID, parsed.sizes64);
        const Step start = walk.from(kHeadSize);
        openAudio = openAudio || walk.sawOpenAudio();
        if (start.ending == Ending::dirty || start.ambiguous) continue;
        std::uint64_t stop = kHeadSize;
        parsed.chunks = walk.chunks(kHeadSize, stop);
        parsed.trailing = {stop, fileSize - stop};
        parsed.trailingInForm = stop < formEnd;
        // An empty audio chunk with bytes after the chunks: typically the recorder's first
        // header, never updated, and the audio after it.
        const bool emptyAudio =
            std::any_of(parsed.chunks.begin(), parsed.chunks.end(),
                        [&](const Chunk& c) { return c.id == audioID && c.size == 0; });
        if (emptyAudio && parsed.trailing.length > 0) {
            throw TagError::malformed(msg::unfinishedRecording);
        }
        return parsed;
    }
    // A recorder writes a zero size (or 0xFFFFFFFF) and patches it when it stops; here what
    // follows such an audio chunk is not chunks, so it is most likely the audio itself.
    throw TagError::malformed(openAudio ? msg::unfinishedRecording : msg::chunksDamaged);
}

std::vector<ByteRange> audioRanges(const FileIn& in, bool little) {
    const std::string id = little ? "data" : "SSND";
    for (const auto& chunk : parse(in, little).chunks) {
        if (chunk.id == id) return {{chunk.headerOffset + 8, chunk.size}};
    }
    return {};
}

std::optional<std::string> axmlCode(const FileIn& in, const std::vector<Chunk>& chunks) {
    for (const Chunk& c : chunks) {
        if (c.id != "axml") continue;
        const std::vector<std::string> codes = axml::isrcs(in, contentRange(c));
        if (!codes.empty()) return codes.front();
    }
    return std::nullopt;
}

Carriers carriers(const FileIn& in, bool little) {
    const Parsed parsed = parse(in, little);
    Carriers out;
    std::size_t id3 = 0;
    for (const Chunk& c : parsed.chunks) {
        if (isID3Chunk(c.id)) {
            const std::string where = nthPlace(id3, "ID3", "ID3 chunk");
            if (const auto tag = id3++ == 0 ? tagIn(in, c) : laterTagIn(in, c)) {
                id3v2::addCarriers(*tag, where, out);
            }
        } else if (little && c.id == "axml") {
            for (std::string& code : axml::isrcs(in, contentRange(c))) {
                out.push_back({"axml", std::move(code)});
            }
        } else if (little) {
            if (auto info = infoISRC(in, c)) {
                out.push_back({info->isCode ? "INFO ISRC" : "INFO ISRC (source)",
                               std::move(info->text), !info->isCode});
            }
        }
    }
    return out;
}

std::optional<id3v2::Tag> existingTag(const FileIn& in, const std::vector<Chunk>& chunks) {
    std::optional<id3v2::Tag> tag;
    primaryTagChunk(in, chunks, &tag);
    return tag;
}

void write(const FileIn& in, FileOut& out, bool little, const std::optional<std::string>& isrc,
           bool addAxml) {
    Parsed parsed = parse(in, little);
    std::optional<id3v2::Tag> tag;
    const Chunk* primary = primaryTagChunk(in, parsed.chunks, &tag);
    // The primary chunk gets the code where it stands; without one a new tag goes last.
    std::optional<id3v2::Pieces> newTag;
    if (!primary) newTag = id3v2::rebuilt(std::nullopt, isrc);

    // Every ID3 chunk that holds a code (and the primary one, for a code) is rebuilt in place,
    // and so is every INFO list and `axml` chunk holding a code; all else is kept.
    std::vector<std::optional<id3v2::Pieces>> rebuilt(parsed.chunks.size());
    std::vector<bool> dropped(parsed.chunks.size(), false);
    bool hasAxml = false;
    for (std::size_t i = 0; i < parsed.chunks.size(); ++i) {
        const Chunk& c = parsed.chunks[i];
        if (&c == primary) {
            if (isrc || (tag && id3v2::holdsCode(*tag))) {
                rebuilt[i] = id3v2::rebuilt(tag, isrc);
                dropped[i] = !rebuilt[i];
            }
            tag.reset();
            continue;
        }
        if (little) {
            if (const auto info = infoISRC(in, c); info && info->isCode) {
                rebuilt[i].emplace().add(infoWith(*info, isrc));
                continue;
            }
        }
        if (little && c.id == "axml") {
            hasAxml = true;
            rebuilt[i] = axml::edited(in, contentRange(c), isrc);
            continue;
        }
        if (!isID3Chunk(c.id)) continue;
        std::optional<id3v2::Tag> other = laterTagIn(in, c);
        if (!other || !id3v2::holdsCode(*other)) continue;
        rebuilt[i] = id3v2::rebuilt(other, isrc);
        dropped[i] = !rebuilt[i];
    }

    // The form size must describe the whole output; refuse before any audio is streamed rather
    // than write a wrapped size that later checks cannot notice.
    std::uint64_t total = kHeadSize;
    for (std::size_t i = 0; i < parsed.chunks.size(); ++i) {
        if (dropped[i]) continue;
        const std::uint64_t size = rebuilt[i] ? rebuilt[i]->size() : parsed.chunks[i].size;
        total += kChunkHeaderSize + paddedSize(size);
    }
    std::optional<Bytes> newAxml;
    if (little && addAxml && isrc && !hasAxml) {
        const std::string xml = axml::document(*isrc);
        newAxml = Bytes(xml.begin(), xml.end());
        total += kChunkHeaderSize + paddedSize(newAxml->size());
    }
    if (newTag) total += kChunkHeaderSize + paddedSize(newTag->size());
    if (parsed.trailingInForm) total += parsed.trailing.length;
    if (!parsed.sizes64 && total - 8 > kFormSizeMax) {
        throw TagError::unsupported(msg::chunkFileTooLarge);
    }

    Bytes header;
    ByteWriter w(header);
    auto size32 = [&](std::uint64_t v) -> ByteWriter& { return little ? w.u32LE(v) : w.u32BE(v); };
    const Bytes& head = parsed.head;
    w.bytes(std::span(head).first(4)).zeros(4).bytes(std::span(head).subspan(8, 4));
    out.write(header);

    auto chunk = [&](const std::string& id, std::uint64_t size) {
        header.clear();
        w.fourCC(id);
        size32(size);
        out.write(header);
    };
    const Bytes pad{0};
    auto writeAxml = [&] {  // before the ID3 chunk
        if (!newAxml) return;
        chunk("axml", newAxml->size());
        out.write(*newAxml);
        if (newAxml->size() & 1) out.write(pad);
        newAxml.reset();
    };
    for (std::size_t i = 0; i < parsed.chunks.size(); ++i) {
        const Chunk& c = parsed.chunks[i];
        if (&c == primary) writeAxml();
        if (dropped[i]) continue;
        const std::uint64_t size = rebuilt[i] ? rebuilt[i]->size() : c.size;
        if (parsed.sizes64 && !rebuilt[i]) {
            // The size field as it was: 0xFFFFFFFF where `ds64` holds the size.
            out.write(in.read(c.headerOffset, std::int64_t(kChunkHeaderSize)));
        } else {
            chunk(c.id, size);
        }
        if (rebuilt[i]) {
            rebuilt[i]->writeTo(in, out);
        } else {
            in.copy(c.headerOffset + kChunkHeaderSize, c.size, out);
        }
        if (size & 1) out.write(pad);
    }
    writeAxml();
    if (newTag) {
        chunk(little ? "id3 " : "ID3 ", newTag->size());
        newTag->writeTo(in, out);
        if (newTag->size() & 1) out.write(pad);
    }
    const ByteRange& rest = parsed.trailing;
    if (parsed.trailingInForm) in.copy(rest.offset, rest.length, out);
    header.clear();
    if (parsed.sizes64) {
        // The form's size goes to `ds64`, the first chunk, whose content starts at byte 20.
        const std::uint64_t form = out.position() - 8;
        w.u32LE(kUnknownSize);
        out.patch(4, header);
        header.clear();
        w.u32LE(form & 0xFFFFFFFFu).u32LE(form >> 32);
        out.patch(kHeadSize + kChunkHeaderSize, header);
    } else {
        size32(out.position() - 8);
        out.patch(4, header);
    }
    if (!parsed.trailingInForm) in.copy(rest.offset, rest.length, out);
}

}  // namespace pelorix::formats::chunks
