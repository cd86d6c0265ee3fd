// SPDX-License-Identifier: MIT
// WAV and AIFF chunk files: the rewrite, byte for byte, of files with the quirks real writers
// leave behind, and the refusals. Damaged and unfinished files are stored cases in fuzz/corpus.
#include "core/formats/chunk_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <system_error>

#include "core/io/sys.h"
#include "support/chunk_builder.h"
#include "support/codec_harness.h"
#include "support/id3_builder.h"

using namespace pelorix;
using namespace pelorix::test;
using chunks::ChunkLayout;
using Code = std::optional<std::string>;

namespace {

const std::string kCode = "GBAYE2400001";

Bytes tagWith(const std::vector<std::pair<std::string, std::string>>& frames) {
    id3::TagLayout tag;
    for (const auto& [id, text] : frames) tag.frames.push_back(id3::textFrame(id, text));
    return id3::tag(tag);
}

// The tag the rewrite makes: the old frames but TSRC, then the code, 1024 bytes of padding.
Bytes rebuilt(std::vector<std::pair<std::string, std::string>> frames, const Code& code) {
    std::erase_if(frames, [](const auto& f) { return f.first == "TSRC"; });
    if (code) frames.push_back({"TSRC", *code});
    id3::TagLayout tag{.padding = 1024};
    for (const auto& [id, text] : frames) tag.frames.push_back(id3::textFrame(id, text));
    return id3::tag(tag);
}

ChunkLayout unpadded(const char* id, Bytes data) {
    return {id, std::move(data), std::nullopt, false};
}

}  // namespace

TEST(ChunkFile, EveryChunkAndEveryByteAfterTheFormComesThroughAndEveryTagGetsTheCode) {
    const ChunkLayout fmt = chunks::wavFormat(), data{"data", chunks::audio(40)};
    const ChunkLayout comm = chunks::aiffCommon(10), ssnd{"SSND", chunks::audio(48)};
    // An odd LIST whose size byte is printable ("A"), so a skipped pad byte looks like a header.
    const ChunkLayout list{"LIST", join({bytesOf("INFOISFT"), {0x35, 0, 0, 0}, Bytes(0x35, 'x')})};
    const Bytes id3v1 = join({bytesOf("TAGTitle"), Bytes(117, 0), {0x0C}});
    const Bytes title = tagWith({{"TIT2", "Song"}}), old = tagWith({{"TSRC", "USRC17607839"}});
    const struct {
        bool little;
        std::vector<ChunkLayout> in;
        Bytes after;  // bytes after the form
        Code code;
        std::vector<ChunkLayout> out;  // then the `after` bytes
    } cases[] = {
        // A new tag goes last; an old one moves there.
        {true, {fmt, data}, {}, kCode, {fmt, data, {"id3 ", rebuilt({}, kCode)}}},
        {false, {{"ID3 ", old}, comm, ssnd}, {}, kCode, {comm, ssnd, {"ID3 ", rebuilt({}, kCode)}}},
        {true, {fmt, data, {"id3 ", old}}, {}, std::nullopt, {fmt, data}},
        // An ID3v1 tag or stray bytes after the form stay there.
        {true, {fmt, data}, id3v1, kCode, {fmt, data, {"id3 ", rebuilt({}, kCode)}}},
        {false, {comm, ssnd}, bytesOf("xyz"), kCode, {comm, ssnd, {"ID3 ", rebuilt({}, kCode)}}},
        // A pad byte left out before a chunk whose size looks like an ID: the chunk survives.
        {true,
         {fmt, unpadded("junk", Bytes(5, 1)), list, data},
         {},
         kCode,
         {fmt, {"junk", Bytes(5, 1)}, list, data, {"id3 ", rebuilt({}, kCode)}}},
        // The tag that holds the code is the one rewritten, wherever it is; others stay.
        {true,
         {fmt, {"id3 ", title}, data, {"ID3 ", old}},
         {},
         kCode,
         {fmt, {"id3 ", title}, data, {"id3 ", rebuilt({}, kCode)}}},
        {true,
         {fmt, {"id3 ", title}, data, {"ID3 ", old}},
         {},
         std::nullopt,
         {fmt, {"id3 ", title}, data}},
        // A second tag that holds a code gets the same code.
        {true,
         {{"id3 ", old}, fmt, {"iD3 ", join({old, Bytes(1, 0)})}, data},
         {},
         kCode,
         {fmt, {"iD3 ", rebuilt({}, kCode)}, data, {"id3 ", rebuilt({}, kCode)}}},
        {true,
         {{"id3 ", old}, fmt, {"id3 ", title}, data},
         {},
         kCode,
         {fmt, {"id3 ", title}, data, {"id3 ", rebuilt({}, kCode)}}},
        // A body that holds no tag is kept; a zero-size audio chunk followed by chunks is fine.
        {true,
         {fmt, {"id3 ", Bytes(9, 0)}, data},
         {},
         kCode,
         {fmt, {"id3 ", Bytes(9, 0)}, data, {"id3 ", rebuilt({}, kCode)}}},
        {true,
         {fmt, {"data", {}}, list},
         {},
         kCode,
         {fmt, {"data", {}}, list, {"id3 ", rebuilt({}, kCode)}}},
    };
    Scratch files;
    for (const auto& c : cases) {
        const Bytes input = join({chunks::file({.little = c.little, .chunks = c.in}), c.after});
        const Bytes out = files.written(input, [&](const FileIn& in, FileOut& o) {
            ChunkFile::write(in, o, c.little, c.code);
        });
        EXPECT_EQ(out, join({chunks::file({.little = c.little, .chunks = c.out}), c.after}))
            << &c - cases;
    }
}

TEST(ChunkFile, AnOutputItsFormSizeCannotDescribeIsRefusedBeforeStreaming) {
    // Output: 12 + 24 (fmt) + 8 + data + pad + 8 + 1057 + 1 (new tag) = data + pad + 1110 bytes;
    // 2^32 + 8 is the first length whose form size does not fit. Writes fail on purpose, so a
    // missing refusal cannot stream 4 GiB.
    const std::uint64_t limit = (std::uint64_t(1) << 32) + 8;
    sys::setFaultHook([](sys::Op op, const std::string&) {
        return op == sys::Op::write || op == sys::Op::copyRange ? ENOSPC : 0;
    });
    Scratch files;
    for (const auto& [dataSize, refused] : {std::pair{limit - 1110, true}, {limit - 1112, false}}) {
        const Bytes head =
            chunks::file({.chunks = {chunks::wavFormat(), {"data", {}, std::uint32_t(dataSize)}}});
        const auto p = files.put(head);
        ASSERT_EQ(::truncate(p.c_str(), off_t(head.size() + dataSize)), 0);
        const FileIn in(p);
        FileOut out(files.dir / ("big" + std::to_string(refused)));
        if (refused) {
            EXPECT_EQ(errorOf([&] { ChunkFile::write(in, out, true, kCode); }),
                      msg::chunkFileTooLarge);
            EXPECT_EQ(out.position(), 0u) << "streamed before the refusal";
        } else {
            EXPECT_THROW(ChunkFile::write(in, out, true, kCode), std::system_error);
        }
    }
    sys::setFaultHook(nullptr);
}
