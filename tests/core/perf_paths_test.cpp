// SPDX-License-Identifier: MIT
// The streams and their fast paths: the kernel copy and its fallback, reads through the cache,
// early writeback and the background flush, a FLAC writer that streams its blocks, and a driver
// that opens the original once and still flushes before it replaces.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <tuple>

#include "core/formats/flac.h"
#include "core/io/binary_io.h"
#include "core/tag_error.h"
#include "core/write/audio_tagger.h"
#include "driver_fixtures.h"
#include "support/flac_builder.h"

using namespace pelorix;
using namespace pelorix::test;
using namespace pelorix::test::driver;
namespace fs = std::filesystem;
using sys::Op;

TEST(CopyPathsTest, EveryPathPutsEachByteWhereThePositionSays) {
    // Two kernel pieces and a bit, from an odd offset, behind bytes still in the gather buffer.
    TempDir dir;
    const Bytes data = audioBytes((9 << 20) + 4099, 3);
    const std::uint64_t from = 7, count = data.size() - from - 1001;
    writeFile(dir / "in", data);
    const Bytes expected =
        concat({bytesOf("head!"), slice(data, from, count), bytesOf("tail"), slice(data, 3, 10)});
    // The kernel copy refused from the first call or from the second one on, or failing outright.
    for (const auto& [err, failFrom] : std::vector<std::pair<int, int>>{{0, 0},
                                                                        {EXDEV, 0},
                                                                        {ENOSYS, 0},
                                                                        {EINVAL, 0},
                                                                        {EOPNOTSUPP, 0},
                                                                        {EXDEV, 1},
                                                                        {ENOSPC, 1}}) {
        SCOPED_TRACE(std::to_string(err) + " from call " + std::to_string(failFrom));
        fs::remove(dir / "out");
        const FileIn in(dir / "in");
        Seam seam([&](const Seam::Call& c) {
            return c.op == Op::copyRange && c.nth >= failFrom ? err : 0;
        });
        const std::string error = errorOf([&] {
            FileOut out(dir / "out");
            out.write(bytesOf("head!"));
            in.copy(from, count, out);
            EXPECT_EQ(out.position(), 5 + count);
            out.write(bytesOf("tail"));
            in.copy(3, 10, out);
            out.close();
        });
        if (err == ENOSPC) {
            EXPECT_EQ(error, platformText(ENOSPC));
            continue;
        }
        EXPECT_EQ(error, "");
        EXPECT_GE(seam.count[Op::copyRange], err ? 1 : 2);
        EXPECT_TRUE(readFile(dir / "out") == expected);
    }
}

TEST(CopyPathsTest, AnInputThatEndsEarlyFailsAfterWritingWhatThereIs) {
    TempDir dir;
    const Bytes data = audioBytes(300000);
    writeFile(dir / "in", data);
    FileOut out(dir / "out");
    const FileIn in(dir / "in");
    const auto ended = [&](std::uint64_t from, std::uint64_t count) {
        try {
            in.copy(from, count, out);
        } catch (const TagError& e) {
            return e.kind() == TagError::Kind::malformed ? std::string(e.what()) : "another kind";
        }
        return std::string("no error");
    };
    EXPECT_NO_THROW(in.copy(0, 0, out));
    // Past the end of the file as it was opened, through the gather buffer and in the kernel;
    // then past the end of what is left of it: the kernel copies nothing more, read(2) confirms.
    EXPECT_EQ(ended(data.size() - 2, 4), msg::fileEnded);
    EXPECT_EQ(out.position(), 2u);
    EXPECT_EQ(ended(data.size() - 100, 200000), msg::fileEnded);
    EXPECT_EQ(out.position(), 102u);
    ASSERT_EQ(::truncate((dir / "in").c_str(), 100000), 0);
    EXPECT_EQ(ended(0, data.size()), msg::fileEnded);
    EXPECT_EQ(out.position(), 102u + 100000u);
    out.close();
    EXPECT_TRUE(readFile(dir / "out") ==
                concat({slice(data, data.size() - 2, 2), slice(data, data.size() - 100, 100),
                        slice(data, 0, 100000)}));
}

TEST(ReadCacheTest, SmallReadsReturnTheFileBytesWithFewReadsAndNothingStale) {
    TempDir dir;
    const Bytes data = audioBytes(20000, 5);
    writeFile(dir / "f", data);
    const FileIn in(dir / "f");
    // Inside, across and beyond the cached stretch, backwards, up to and past the end: {offset,
    // count asked, count the file has}.
    using Read = std::tuple<std::uint64_t, std::int64_t, std::size_t>;
    for (const auto& [at, n, has] : std::vector<Read>{{0, 12, 12},
                                                      {12, 8, 8},
                                                      {4090, 12, 12},
                                                      {4096, 4096, 4096},
                                                      {100, 4000, 4000},
                                                      {8191, 2, 2},
                                                      {19990, 16, 10},
                                                      {3, 4096, 4096},
                                                      {12000, 1, 1},
                                                      {11999, 3, 3},
                                                      {0, 20000, 20000},
                                                      {19999, 1, 1},
                                                      {20000, 4, 0},
                                                      {30000, 4, 0},
                                                      {0, 0, 0},
                                                      {0, -5, 0}}) {
        EXPECT_TRUE(in.read(at, n) == (has ? slice(data, at, has) : Bytes{})) << at << " " << n;
    }
    {
        Seam seam;  // a walk over 8-byte headers within 4 KiB costs one read
        for (std::uint64_t at = 200; at + 8 <= 4296; at += 8) {
            ASSERT_TRUE(in.read(at, 8) == slice(data, at, 8));
        }
        EXPECT_EQ(seam.count[Op::read], 1);
    }
    {
        Seam seam([](const Seam::Call& c) { return c.op == Op::read ? EIO : 0; });
        EXPECT_THROW(in.read(10000, 16), std::system_error);
    }
    EXPECT_TRUE(in.read(10000, 16) == slice(data, 10000, 16));  // not what was cached before
}

TEST(WritebackTest, LargeOutputsGoToTheDiskAsWrittenAndTheFlushCoversEverything) {
    TempDir dir;
    const Bytes piece = audioBytes(1 << 20, 8);
    // Unsupported: the write goes on without it. Any other error is a write error.
    for (const int err : {0, EINVAL, EIO}) {
        SCOPED_TRACE(err);
        fs::remove(dir / "out");
        Seam seam([&](const Seam::Call& c) { return c.op == Op::startWriteback ? err : 0; });
        const std::string error = errorOf([&] {
            FileOut out(dir / "out");
            for (int i = 0; i < 20; ++i) out.write(piece);
            out.close();
        });
        EXPECT_EQ(error.empty(), err != EIO) << error;
        EXPECT_EQ(seam.count[Op::startWriteback], err ? 1 : 2);
        if (err != EIO) {
            EXPECT_EQ(fs::file_size(dir / "out"), 20u * piece.size());
        }
    }

    {
        FileOut out(dir / "a");
        out.write(bytesOf("abc"));  // still in the gather buffer when the flush starts
        out.startFlush();
        EXPECT_THROW(out.write(bytesOf("d")), std::logic_error);
        Seam seam;
        out.close();
        EXPECT_EQ(seam.count[Op::write], 0);  // nothing reached the file after the flush began
    }
    EXPECT_EQ(readFile(dir / "a"), bytesOf("abc"));
    FileOut out(dir / "b");
    {
        Seam seam([](const Seam::Call& c) { return c.op == Op::fsync ? EIO : 0; });
        out.startFlush();
    }
    EXPECT_EQ(errorOf([&] { out.close(); }), platformText(EIO));
}

TEST(FlacStreamingTest, BlocksAroundTheCommentsAreCopiedUnchanged) {
    TempDir dir;
    const Bytes picture = audioBytes(300001, 9);
    const Bytes audio = audioBytes(100000, 10);
    writeFile(dir / "in.flac", flac::file({id3Tag({{"TIT2", "t"}}),
                                           {flac::streamInfo(),
                                            {6, picture},
                                            flac::comments("v", {"TITLE=x", "ISRC=OLD"}),
                                            flac::padding(1001)},
                                           audio}));
    {
        const FileIn in(dir / "in.flac");
        EXPECT_EQ(FLACTagger::audioOffset(in), FLACTagger::layout(in).audioOffset);
        FileOut out(dir / "out.flac");
        FLACTagger::write(in, out, std::string("NEW"));
        out.close();
    }
    const FileIn out(dir / "out.flac");
    const FLACTagger::Layout l = FLACTagger::layout(out);
    ASSERT_EQ(l.blocks.size(), 4u);
    EXPECT_TRUE(l.blocks[1].data == picture);
    EXPECT_TRUE(l.blocks[2].data == flac::commentData("v", {"TITLE=x", "ISRC=NEW"}));
    EXPECT_EQ(l.blocks[3].data.size(), 1001u);
    EXPECT_EQ(FLACTagger::audioOffset(out), l.audioOffset);
    EXPECT_TRUE(out.read(l.audioOffset, 200000) == audio);

    // A block that runs past the end is refused even when the comments come before it.
    writeFile(dir / "cut.flac", flac::file({{},
                                            {flac::streamInfo(),
                                             flac::comments("v", {"ISRC=A"}),
                                             {6, Bytes(10), std::nullopt, 5000}},
                                            {}}));
    const FileIn cut(dir / "cut.flac");
    EXPECT_EQ(errorOf([&] { FLACTagger::readISRC(cut); }), msg::flacTruncated);
    EXPECT_EQ(errorOf([&] { FLACTagger::audioOffset(cut); }), msg::flacTruncated);
}

TEST(DriverPathsTest, AWriteOpensTheOriginalOnceAndFlushesBeforeTheReplace) {
    TempDir dir;
    const fs::path file = dir / "Song.wav";
    // Audio over several kernel pieces, at an odd offset that moves when the tag grows.
    writeFile(file, wav({chunks::wavFormat(),
                         {"LIST", Bytes(5, 'x')},
                         {"data", audioBytes((9 << 20) + 3, 11)},
                         {"id3 ", id3Tag({{"TIT2", "t"}})}}));
    const std::string before = AudioTagger::fingerprint(file, AudioFormat::wav);
    const auto opensOf = [&](const Seam& s) {
        return std::count_if(s.calls.begin(), s.calls.end(), [&](const Seam::Call& c) {
            return c.op == Op::open && c.path == file.string();
        });
    };
    {
        Seam seam;
        AudioTagger::writeISRC(file, kCode, false);
        EXPECT_EQ(opensOf(seam), 1);
        // The first flush after the last write to the file comes before the replace.
        std::vector<Op> ops;
        for (const auto& c : seam.calls) ops.push_back(c.op);
        auto lastWrite = std::find_if(ops.rbegin(), ops.rend(), [](Op op) {
                             return op == Op::write || op == Op::copyRange;
                         }).base();
        auto flush = std::find(lastWrite, ops.end(), Op::fsync);
        EXPECT_NE(flush, ops.end());
        EXPECT_LT(flush, std::find(ops.begin(), ops.end(), Op::rename));
    }
    EXPECT_EQ(AudioTagger::fingerprint(file, AudioFormat::wav), before);
    Seam seam;
    EXPECT_EQ(AudioTagger::readISRC(file), kCode);
    EXPECT_EQ(opensOf(seam), 1);
}
