// The fast paths: the kernel copy and its fallback, the read cache, early writeback and the
// background flush, a FLAC writer that streams its blocks, and a driver that opens the original
// once and still flushes before it replaces.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <map>
#include <stdexcept>
#include <system_error>

#include "core/audio_tagger.h"
#include "core/binary_io.h"
#include "core/flac_tagger.h"
#include "core/sys.h"
#include "core/tag_error.h"
#include "driver_fixtures.h"
#include "support/files.h"
#include "support/flac_builder.h"

using namespace pelorix;
using namespace pelorix::test;
using namespace pelorix::test::driver;
namespace fs = std::filesystem;
using sys::Op;

namespace {

// Records every call through the seam; `fail` gets each call and how many of its kind came
// before it, and returns the errno to fail it with (0: let it through).
struct Calls {
    using Fail = std::function<int(Op, int nth)>;
    explicit Calls(Fail fail = nullptr) {
        sys::setFaultHook([this, fail](Op op, const std::string& path) {
            order.push_back({op, path});
            const int nth = count[op]++;
            return fail ? fail(op, nth) : 0;
        });
    }
    ~Calls() { sys::setFaultHook(nullptr); }
    std::map<Op, int> count;
    std::vector<std::pair<Op, std::string>> order;
};

Bytes slice(const Bytes& b, std::size_t from, std::size_t n) {
    return Bytes(b.begin() + std::ptrdiff_t(from), b.begin() + std::ptrdiff_t(from + n));
}

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(CopyPathsTest, EveryPathPutsEachByteWhereThePositionSays) {
    // Two kernel pieces and a bit, from an odd offset, behind bytes still in the gather buffer.
    TempDir dir;
    const Bytes data = audioBytes((9 << 20) + 4099, 3);
    const std::uint64_t from = 7, count = data.size() - from - 1001;
    writeFile(dir / "in", data);
    Bytes expected = bytesOf("head!");
    for (Bytes part : {slice(data, from, count), bytesOf("tail"), slice(data, 3, 10)}) {
        expected.insert(expected.end(), part.begin(), part.end());
    }
    // The kernel copy refused from the first call or from the second one on, or failing outright.
    for (const auto& [err, failFrom] : std::vector<std::pair<int, int>>{
             {0, 0}, {EXDEV, 0}, {ENOSYS, 0}, {EINVAL, 0}, {EOPNOTSUPP, 0}, {EXDEV, 1}, {ENOSPC, 1}}) {
        SCOPED_TRACE(std::to_string(err) + " from call " + std::to_string(failFrom));
        fs::remove(dir / "out");
        const FileIn in(dir / "in");
        Calls calls([&](Op op, int nth) { return op == Op::copyRange && nth >= failFrom ? err : 0; });
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
            EXPECT_EQ(error, std::generic_category().message(ENOSPC));
            continue;
        }
        EXPECT_EQ(error, "");
        EXPECT_GE(calls.count[Op::copyRange], err ? 1 : 2);
        EXPECT_TRUE(readFile(dir / "out") == expected);
    }
}

TEST(CopyPathsTest, AnInputThatEndsEarlyFailsAfterWritingWhatThereIs) {
    TempDir dir;
    const Bytes data = audioBytes(300000);
    writeFile(dir / "in", data);
    FileOut out(dir / "out");
    const FileIn in(dir / "in");
    // Past the end of the file as it was opened, then past the end of what is left of it: the
    // kernel copies nothing more, read(2) confirms.
    EXPECT_EQ(errorOf([&] { in.copy(data.size() - 100, 200000, out); }), msg::fileEnded);
    EXPECT_EQ(out.position(), 100u);
    ASSERT_EQ(::truncate((dir / "in").c_str(), 100000), 0);
    EXPECT_EQ(errorOf([&] { in.copy(0, data.size(), out); }), msg::fileEnded);
    EXPECT_EQ(out.position(), 100u + 100000u);
    out.close();
    Bytes expected = slice(data, data.size() - 100, 100);
    const Bytes head = slice(data, 0, 100000);
    expected.insert(expected.end(), head.begin(), head.end());
    EXPECT_TRUE(readFile(dir / "out") == expected);
}

TEST(ReadCacheTest, SmallReadsReturnTheFileBytesWithFewReadsAndNothingStale) {
    TempDir dir;
    const Bytes data = audioBytes(20000, 5);
    writeFile(dir / "f", data);
    const FileIn in(dir / "f");
    // Inside, across and beyond the cached stretch, backwards, up to and past the end.
    for (const auto& [at, n] : std::vector<std::pair<std::uint64_t, std::int64_t>>{
             {0, 12}, {12, 8}, {4090, 12}, {4096, 4096}, {100, 4000}, {8191, 2}, {19990, 16},
             {3, 4096}, {12000, 1}, {11999, 3}, {0, 20000}, {19999, 1}}) {
        const auto want = std::min<std::uint64_t>(std::uint64_t(n), data.size() - at);
        EXPECT_TRUE(in.read(at, n) == slice(data, at, want)) << at << " " << n;
    }
    {
        Calls calls;  // a walk over 8-byte headers within 4 KiB costs one read
        for (std::uint64_t at = 200; at + 8 <= 4296; at += 8) {
            ASSERT_TRUE(in.read(at, 8) == slice(data, at, 8));
        }
        EXPECT_EQ(calls.count[Op::read], 1);
    }
    {
        Calls calls([](Op op, int) { return op == Op::read ? EIO : 0; });
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
        Calls calls([&](Op op, int) { return op == Op::startWriteback ? err : 0; });
        const std::string error = errorOf([&] {
            FileOut out(dir / "out");
            for (int i = 0; i < 20; ++i) out.write(piece);
            out.close();
        });
        EXPECT_EQ(error.empty(), err != EIO) << error;
        EXPECT_EQ(calls.count[Op::startWriteback], err ? 1 : 2);
        if (err != EIO) {
            EXPECT_EQ(fs::file_size(dir / "out"), 20u * piece.size());
        }
    }

    {
        FileOut out(dir / "a");
        out.write(bytesOf("abc"));  // still in the gather buffer when the flush starts
        out.startFlush();
        EXPECT_THROW(out.write(bytesOf("d")), std::logic_error);
        Calls calls;
        out.close();
        EXPECT_EQ(calls.count[Op::write], 0);  // nothing reached the file after the flush began
    }
    EXPECT_EQ(readFile(dir / "a"), bytesOf("abc"));
    FileOut out(dir / "b");
    {
        Calls calls([](Op op, int) { return op == Op::fsync ? EIO : 0; });
        out.startFlush();
    }
    EXPECT_EQ(errorOf([&] { out.close(); }), std::generic_category().message(EIO));
}

TEST(FlacStreamingTest, BlocksAroundTheCommentsAreCopiedUnchanged) {
    TempDir dir;
    const Bytes picture = audioBytes(300001, 9);
    const Bytes audio = audioBytes(100000, 10);
    writeFile(dir / "in.flac",
              flac::file({id3({{"TIT2", "t"}}),
                          {flac::streamInfo(), {6, picture},
                           flac::comments("v", {"TITLE=x", "ISRC=OLD"}), flac::padding(1001)},
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
    writeFile(dir / "cut.flac", flac::file({{}, {flac::streamInfo(), flac::comments("v", {"ISRC=A"}),
                                                 {6, Bytes(10), std::nullopt, 5000}}, {}}));
    const FileIn cut(dir / "cut.flac");
    EXPECT_EQ(errorOf([&] { FLACTagger::readISRC(cut); }), msg::flacTruncated);
    EXPECT_EQ(errorOf([&] { FLACTagger::audioOffset(cut); }), msg::flacTruncated);
}

TEST(DriverPathsTest, AWriteOpensTheOriginalOnceAndFlushesBeforeTheReplace) {
    TempDir dir;
    const fs::path file = dir / "Song.wav";
    // Audio over several kernel pieces, at an odd offset that moves when the tag grows.
    writeFile(file, wav({{"fmt ", wavFmt()}, {"LIST", Bytes(5, 'x')},
                         {"data", audioBytes((9 << 20) + 3, 11)}, {"id3 ", id3({{"TIT2", "t"}})}}));
    const std::string before = AudioTagger::fingerprint(file, AudioFormat::wav);
    auto opensOf = [&](const Calls& c) {
        return std::count(c.order.begin(), c.order.end(), std::make_pair(Op::open, file.string()));
    };
    {
        Calls calls;
        AudioTagger::writeISRC(file, "FIABC2600001", false);
        EXPECT_EQ(opensOf(calls), 1);
        // The first flush after the last write to the file comes before the replace.
        std::vector<Op> ops;
        for (const auto& c : calls.order) ops.push_back(c.first);
        auto lastWrite = std::find_if(ops.rbegin(), ops.rend(), [](Op op) {
                             return op == Op::write || op == Op::copyRange;
                         }).base();
        auto flush = std::find(lastWrite, ops.end(), Op::fsync);
        auto rename = std::find(ops.begin(), ops.end(), Op::rename);
        EXPECT_NE(flush, ops.end());
        EXPECT_LT(flush, rename);
    }
    EXPECT_EQ(AudioTagger::fingerprint(file, AudioFormat::wav), before);
    Calls calls;
    EXPECT_EQ(AudioTagger::readISRC(file), "FIABC2600001");
    EXPECT_EQ(opensOf(calls), 1);
}
