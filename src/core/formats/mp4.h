// SPDX-License-Identifier: MIT
#pragma once
// MP4/M4A: the freeform ISRC item in moov/udta/meta/ilst, read by walking box headers where they
// lie, and written from one buffer that holds the `moov`. The box tree below is a whole `moov`
// parsed, for checks that compare every box (the fuzz harness).

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/formats/carrier.h"
#include "core/io/binary_io.h"

namespace pelorix::formats::mp4 {

// The messages of this unit's refusals.
namespace msg {
inline constexpr std::string_view mp4Layout = "This MP4 file has an unrecognised metadata layout.";
inline constexpr std::string_view mp4Damaged = "The MP4 structure is damaged.";
inline constexpr std::string_view mp4NoMoov = "The MP4 file has no 'moov' atom.";
inline constexpr std::string_view mp4HeaderLarge = "The MP4 header is unusually large.";
inline constexpr std::string_view mp4OffsetsDamaged = "The MP4 chunk offset table is damaged.";
inline constexpr std::string_view mp4TooLarge = "This MP4 file is too large for the edit.";
}  // namespace msg

struct Box;
using BoxPtr = std::shared_ptr<Box>;

// A node of the `moov` tree. A container has `children` (possibly empty); a leaf has `raw`.
struct Box {
    std::string type;
    Bytes raw;
    std::optional<std::vector<BoxPtr>> children;
    Bytes prefix;   // the 4 version/flags bytes of an ISO-style `meta`, otherwise empty
    Bytes trailer;  // fewer than 8 bytes after the last child

    Box(std::string type, Bytes raw = {},
        std::optional<std::vector<BoxPtr>> children = std::nullopt, Bytes prefix = {})
        : type(std::move(type)),
          raw(std::move(raw)),
          children(std::move(children)),
          prefix(std::move(prefix)) {}
};

struct TopLevelEntry {
    std::string type;
    std::uint64_t start = 0;
    std::uint64_t size = 0;
};

struct ParsedBoxes {
    std::vector<BoxPtr> boxes;
    Bytes trailer;
};

struct LoadedMoov {
    BoxPtr box;
    std::uint64_t start = 0;
    std::uint64_t size = 0;
};

// "ftyp" as the first box.
bool matches(const FileIn& in, const Bytes& head);

// "moov", "trak", "mdia", "minf", "stbl", "udta", "dinf", "edts".
const std::set<std::string>& containers();

std::vector<TopLevelEntry> topLevel(const FileIn& in);
ParsedBoxes parseBoxes(const Bytes& bytes, std::size_t start, std::size_t end);
LoadedMoov loadMoov(const FileIn& in);
// The audio: the payload of every top-level `mdat`, in file order.
std::vector<ByteRange> audioRanges(const FileIn& in);

std::optional<std::string> readISRC(const FileIn& in);
// Every freeform ISRC item however its name and mean are cased ("MP4 ----:com.apple.iTunes:ISRC")
// and the store's `xid ` item (report only).
Carriers carriers(const FileIn& in);
void write(const FileIn& in, FileOut& out, const std::optional<std::string>& isrc);

}  // namespace pelorix::formats::mp4
