// SPDX-License-Identifier: MIT
// WAV and AIFF chunk files: the rewrite, byte for byte, of files with the quirks real writers
// leave behind, and the refusals. Damaged and unfinished files are stored cases in fuzz/corpus.
#include "core/formats/chunks.h"

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

Bytes tagWith(const std::string& id, const std::string& text, std::size_t padding = 0) {
    return id3::tag({.frames = {id3::textFrame(id, text)}, .padding = padding});
}

}  // namespace

TEST(Chunks, EveryChunkAndEveryByteAfterTheFormComesThroughAndEveryTagGetsTheCode) {
    const ChunkLayout fmt = chunks::wavFormat(), data{"data", chunks::audio(40)};
    const ChunkLayout comm = chunks::aiffCommon(10), ssnd{"SSND", chunks::audio(48)};
    // An odd LIST whose size byte is printable ("A"), so a skipped pad byte looks like a header.
    const ChunkLayout list{"LIST", join({bytesOf("INFOISFT"), {0x35, 0, 0, 0}, Bytes(0x35, 'x')})};
    const Bytes id3v1 = join({bytesOf("TAGTitle"), Bytes(117, 0), {0x0C}});
    const Bytes old = tagWith("TSRC", "USRC17607839"), old1 = join({old, Bytes(1, 0)});
    const ChunkLayout junk{"junk", Bytes(5, 1)}, unpadded{"junk", Bytes(5, 1), {}, false},
        noTag{"id3 ", Bytes(9, 0)};
    // The tag a write makes: the code, then 1024 bytes of padding.
    const ChunkLayout titled{"id3 ", tagWith("TIT2", "Song")},
        wavTag{"id3 ", tagWith("TSRC", kCode, 1024)}, second{"iD3 ", wavTag.data};
    const ChunkLayout titled2{"ID3 ", tagWith("TIT2", "Other")},
        titledCode{
            "id3 ",
            id3::tag({.frames = {id3::textFrame("TIT2", "Song"), id3::textFrame("TSRC", kCode)},
                      .padding = 1024})},
        foreign{"\x9FIST", bytesOf("INFOIART")};
    const struct {
        bool little;
        std::vector<ChunkLayout> in;
        Bytes after;  // bytes after the form
        Code code;
        std::vector<ChunkLayout> out;  // then the `after` bytes
    } cases[] = {
        // A new tag goes last; an old one is rewritten where it stands, under its own name.
        {true, {fmt, data}, {}, kCode, {fmt, data, wavTag}},
        {false, {{"ID3 ", old}, comm, ssnd}, {}, kCode, {{"ID3 ", wavTag.data}, comm, ssnd}},
        {true, {fmt, data, {"id3 ", old}}, {}, std::nullopt, {fmt, data}},
        // An ID3v1 tag or stray bytes after the form stay there.
        {true, {fmt, data}, id3v1, kCode, {fmt, data, wavTag}},
        {false, {comm, ssnd}, bytesOf("xyz"), kCode, {comm, ssnd, {"ID3 ", wavTag.data}}},
        // A pad byte left out before a chunk whose size looks like an ID: the chunk survives.
        {true, {fmt, unpadded, list, data}, {}, kCode, {fmt, junk, list, data, wavTag}},
        // The first tag gets the code, and a later one that holds a code gets it too.
        {true,
         {fmt, titled, data, {"ID3 ", old}},
         {},
         kCode,
         {fmt, titledCode, data, {"ID3 ", wavTag.data}}},
        {true, {fmt, titled, data, {"ID3 ", old}}, {}, std::nullopt, {fmt, titled, data}},
        // A second tag that holds a code gets the same code.
        {true, {{"id3 ", old}, fmt, {"iD3 ", old1}, data}, {}, kCode, {wavTag, fmt, second, data}},
        {true, {{"id3 ", old}, fmt, titled, data}, {}, kCode, {wavTag, fmt, titled, data}},
        // A body of zero bytes holds nothing and gets the tag; one that holds something else is
        // kept. A zero-size audio chunk followed by chunks is fine.
        {true, {fmt, noTag, data}, {}, kCode, {fmt, wavTag, data}},
        {true,
         {fmt, {"id3 ", bytesOf("junk")}, data},
         {},
         kCode,
         {fmt, {"id3 ", bytesOf("junk")}, data, wavTag}},
        {true, {fmt, {"data", {}}, list}, {}, kCode, {fmt, {"data", {}}, list, wavTag}},
        // Two tags: the first, which other readers read, gets the code where it stands; names
        // and order stay. An empty ID3 chunk is filled, so that readers find a tag in it.
        {true, {fmt, data, titled, titled2}, {}, kCode, {fmt, data, titledCode, titled2}},
        {true, {fmt, titled, data, titled2}, {}, kCode, {fmt, titledCode, data, titled2}},
        {false, {comm, {"ID3 ", {}}, ssnd}, {}, kCode, {comm, {"ID3 ", wavTag.data}, ssnd}},
        {true, {fmt, {"id3 ", {}}, data}, {}, kCode, {fmt, wavTag, data}},
        // A chunk whose ID is no text, in a walk that is clean to the end, is kept as it is.
        {true, {fmt, data, foreign}, {}, kCode, {fmt, data, foreign, wavTag}},
    };
    Scratch files;
    for (const auto& c : cases) {
        const Bytes input = join({chunks::file({.little = c.little, .chunks = c.in}), c.after});
        const Bytes out = files.written(input, [&](const FileIn& in, FileOut& o) {
            formats::chunks::write(in, o, c.little, c.code);
        });
        EXPECT_EQ(out, join({chunks::file({.little = c.little, .chunks = c.out}), c.after}))
            << &c - cases;
    }
}

TEST(Chunks, AnOutputItsFormSizeCannotDescribeIsRefusedBeforeStreaming) {
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
            EXPECT_EQ(errorOf([&] { formats::chunks::write(in, out, true, kCode); }),
                      formats::chunks::msg::chunkFileTooLarge);
            EXPECT_EQ(out.position(), 0u) << "streamed before the refusal";
        } else {
            EXPECT_THROW(formats::chunks::write(in, out, true, kCode), std::system_error);
        }
    }
    sys::setFaultHook(nullptr);
}
