// SPDX-License-Identifier: MIT
#include "core/formats/vorbis_comment.h"

#include <algorithm>

#include "core/io/text.h"
#include "core/tag_error.h"

namespace pelorix::formats::vorbis {

namespace {

// The entry's key is the bytes before its first "="; none when there is no "=".
bool keyIsISRC(std::span<const std::uint8_t> entry) {
    auto eq = std::find(entry.begin(), entry.end(), std::uint8_t('='));
    if (eq == entry.end()) return false;
    auto keyLength = std::size_t(eq - entry.begin());
    // Upper-casing never yields fewer code points, and every 4 bytes decode to at least one:
    // a key longer than 16 bytes cannot become the 4 letters "ISRC".
    if (keyLength > 16) return false;
    std::string key = text::decodeLossy(entry.data(), keyLength, text::Encoding::utf8);
    return text::toUpper(key) == "ISRC";
}

}  // namespace

namespace {

// The vendor string, then every entry, of a block's content, handed over where they lie; the
// damage parse describes throws.
template <typename Fn>
void walk(const Bytes& data, std::string_view damaged, Fn entry) {
    if (data.size() < 8) throw TagError::malformed(damaged);
    ByteReader r(data);
    std::uint32_t vendorLength = r.readU32LE();
    if (vendorLength > data.size() - 8) throw TagError::malformed(damaged);
    entry(std::span(data).subspan(4, vendorLength));
    r.skip(vendorLength);
    std::uint32_t count = r.readU32LE();
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!r.has(4) && std::all_of(data.begin() + std::ptrdiff_t(r.position()), data.end(),
                                     [](std::uint8_t b) { return b == 0; })) {
            break;  // a count larger than the entries, which end with the block: nothing lost
        }
        if (!r.has(4)) throw TagError::malformed(damaged);
        std::uint32_t length = r.readU32LE();
        if (!r.has(length)) throw TagError::malformed(damaged);
        entry(std::span(data).subspan(r.position(), length));
        r.skip(length);
    }
    // Entries other readers may find past the count would be lost by a rewrite; zero bytes are
    // only padding.
    const std::size_t rest = r.position();
    if (std::any_of(data.begin() + std::ptrdiff_t(rest), data.end(),
                    [](std::uint8_t b) { return b != 0; })) {
        throw TagError::malformed(damaged);
    }
}

std::string valueOf(std::span<const std::uint8_t> entry) {
    const auto value =
        std::size_t(std::find(entry.begin(), entry.end(), std::uint8_t('=')) - entry.begin()) + 1;
    return text::trimWhitespaceAndNewlines(
        text::decodeLossy(entry.data() + value, entry.size() - value, text::Encoding::utf8));
}

}  // namespace

Comments parse(const Bytes& data, std::string_view damaged) {
    Comments comments;
    bool vendor = true;
    walk(data, damaged, [&](std::span<const std::uint8_t> e) {
        if (vendor) {
            comments.vendor.assign(e.begin(), e.end());
            vendor = false;
        } else {
            comments.entries.emplace_back(e.begin(), e.end());
        }
    });
    return comments;
}

std::vector<std::string> codes(const Bytes& data, std::string_view damaged) {
    std::vector<std::string> out;
    bool vendor = true;
    walk(data, damaged, [&](std::span<const std::uint8_t> e) {
        if (!vendor && keyIsISRC(e)) out.push_back(valueOf(e));
        vendor = false;
    });
    return out;
}

std::vector<Entry> entries(const Bytes& data, std::string_view damaged) {
    std::vector<Entry> out;
    walk(data, damaged, [&](std::span<const std::uint8_t> e) {
        out.push_back(
            {std::size_t(e.data() - data.data()), e.size(), !out.empty() && keyIsISRC(e)});
    });
    return out;
}

Bytes build(const Comments& comments) {
    Bytes out;
    ByteWriter w(out);
    w.u32LE(comments.vendor.size()).bytes(comments.vendor).u32LE(comments.entries.size());
    for (const Bytes& entry : comments.entries) w.u32LE(entry.size()).bytes(entry);
    return out;
}

std::vector<std::string> codes(const Comments& comments) {
    std::vector<std::string> out;
    for (const Bytes& entry : comments.entries) {
        if (keyIsISRC(entry)) out.push_back(valueOf(entry));
    }
    return out;
}

std::optional<std::string> code(const Comments& comments) {
    std::vector<std::string> all = codes(comments);
    if (all.empty()) return std::nullopt;
    return std::move(all.front());
}

void setCode(Comments& comments, const std::optional<std::string>& isrc) {
    std::erase_if(comments.entries, [](const Bytes& e) { return keyIsISRC(e); });
    if (isrc) {
        Bytes entry;
        append(entry, "ISRC=");
        append(entry, *isrc);
        comments.entries.push_back(std::move(entry));
    }
}

}  // namespace pelorix::formats::vorbis
