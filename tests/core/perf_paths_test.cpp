// The fast paths: the kernel copy and its fallback, the read cache, early writeback, a FLAC
// writer that streams its blocks, and a driver that opens the original once and still flushes
// before it replaces.
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

const std::string kCode = "FIABC2600001";

// Records every call through the seam; `fail` may fail one, given how many of its kind came
// before it.
class Calls {
public:
    using Fail = std::function<int(Op, const std::string& path, int nth)>;
    explicit Calls(Fail fail = nullptr) : fail_(std::move(fail)) {
        sys::setFaultHook([this](Op op, const std::string& path) {
            const int nth = count[op]++;
            order.push_back({op, path});
            return fail_ ? fail_(op, path, nth) : 0;
        });
    }
    ~Calls() { sys::setFaultHook(nullptr); }
    Calls(const Calls&) = delete;
    Calls& operator=(const Calls&) = delete;

    int opens(const fs::path& p) const {
        return int(std::count_if(order.begin(), order.end(), [&](const auto& c) {
            return c.first == Op::open && c.second == p.string();
        }));
    }
    std::map<Op, int> count;
    std::vector<std::pair<Op, std::string>> order;

private:
    Fail fail_;
};

Bytes slice(const Bytes& b, std::size_t from, std::size_t n) {
    return Bytes(b.begin() + std::ptrdiff_t(from), b.begin() + std::ptrdiff_t(from + n));
}

void add(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

}  // namespace

// ---- copy ----------------------------------------------------------------------------------

TEST(CopyPathsTest, EveryPathPutsEachByteWhereThePositionSays) {
    // Two kernel pieces and a bit, from an odd offset, behind bytes still in the gather buffer.
    const Bytes data = audioBytes((9 << 20) + 4099, 3);
    const std::uint64_t from = 7;
    const std::uint64_t count = data.size() - from - 1001;
    struct Case {
        std::string name;
        int err;      // the error the kernel copy fails with, 0 for none
        int failFrom; // the first copy_file_range call that fails
    };
    const Case cases[] = {{"in the kernel", 0, 0},    {"other filesystem", EXDEV, 0},
                          {"old kernel", ENOSYS, 0},  {"not here", EINVAL, 0},
                          {"unsupported", EOPNOTSUPP, 0}, {"kernel, then buffer", EXDEV, 1}};
    TempDir dir;
    writeFile(dir / "in", data);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(dir / "out");
        const FileIn in(dir / "in");
        {
            Calls calls([&](Op op, const std::string&, int nth) {
                return op == Op::copyRange && c.err && nth >= c.failFrom ? c.err : 0;
            });
            FileOut out(dir / "out");
            out.write(bytesOf("head!"));
            in.copy(from, count, out);
            EXPECT_EQ(out.position(), 5 + count);
            out.write(bytesOf("tail"));
            in.copy(3, 10, out);
            out.close();
            if (!c.err) {
                EXPECT_GE(calls.count[Op::copyRange], 2);
            }
        }
        Bytes expected = bytesOf("head!");
        add(expected, slice(data, from, count));
        add(expected, bytesOf("tail"));
        add(expected, slice(data, 3, 10));
        EXPECT_TRUE(readFile(dir / "out") == expected);
    }
}

TEST(CopyPathsTest, OtherKernelCopyErrorsAreReported) {
    TempDir dir;
    writeFile(dir / "in", audioBytes(300000));
    const FileIn in(dir / "in");
    for (int err : {ENOSPC, EIO}) {
        fs::remove(dir / "out");
        FileOut out(dir / "out");
        Calls calls([err](Op op, const std::string&, int) { return op == Op::copyRange ? err : 0; });
        try {
            in.copy(0, in.size(), out);
            FAIL() << "no error";
        } catch (const std::system_error& e) {
            EXPECT_EQ(e.code().value(), err);
        }
    }
}

TEST(CopyPathsTest, AnInputThatEndsEarlyFailsAfterWritingWhatThereIs) {
    TempDir dir;
    const Bytes data = audioBytes(300000);
    writeFile(dir / "in", data);
    FileOut out(dir / "out");
    {
        const FileIn in(dir / "in");
        // Past the end of the file as it was opened.
        EXPECT_EQ(errorOf([&] { in.copy(data.size() - 100, 200000, out); }), msg::fileEnded);
        EXPECT_EQ(out.position(), 100u);
    }
    // Shorter than when it was opened: the kernel copies nothing more, read(2) confirms.
    const FileIn in(dir / "in");
    ASSERT_EQ(::truncate((dir / "in").c_str(), 100000), 0);
    EXPECT_EQ(errorOf([&] { in.copy(0, data.size(), out); }), msg::fileEnded);
    EXPECT_EQ(out.position(), 100u + 100000u);
    out.close();
    Bytes expected = slice(data, data.size() - 100, 100);
    add(expected, slice(data, 0, 100000));
    EXPECT_TRUE(readFile(dir / "out") == expected);
}

// ---- read cache ----------------------------------------------------------------------------

TEST(ReadCacheTest, SmallReadsAnywhereReturnTheFileBytes) {
    TempDir dir;
    const Bytes data = audioBytes(20000, 5);
    writeFile(dir / "f", data);
    const FileIn in(dir / "f");
    // Inside, across and beyond the cached stretch, backwards, up to and past the end.
    const std::pair<std::uint64_t, std::int64_t> reads[] = {
        {0, 12},     {12, 8},   {4090, 12},  {4096, 4096}, {100, 4000}, {8191, 2},
        {19990, 16}, {3, 4096}, {12000, 1},  {11999, 3},   {0, 20000},  {19999, 1}};
    for (const auto& [at, n] : reads) {
        const auto want = std::min<std::uint64_t>(std::uint64_t(n), data.size() - at);
        EXPECT_TRUE(in.read(at, n) == slice(data, at, want)) << at << " " << n;
    }
}

TEST(ReadCacheTest, AHeaderWalkCostsOneRead) {
    TempDir dir;
    const Bytes data = audioBytes(100000, 6);
    writeFile(dir / "f", data);
    const FileIn in(dir / "f");
    Calls calls;
    for (std::uint64_t at = 0; at + 8 <= 4096; at += 8) {
        ASSERT_TRUE(in.read(at, 8) == slice(data, at, 8));
    }
    EXPECT_EQ(calls.count[Op::read], 1);
}

TEST(ReadCacheTest, AFailedReadLeavesNothingStale) {
    TempDir dir;
    const Bytes data = audioBytes(20000, 7);
    writeFile(dir / "f", data);
    const FileIn in(dir / "f");
    ASSERT_TRUE(in.read(0, 16) == slice(data, 0, 16));
    {
        Calls calls([](Op op, const std::string&, int) { return op == Op::read ? EIO : 0; });
        EXPECT_THROW(in.read(10000, 16), std::system_error);
    }
    EXPECT_TRUE(in.read(10000, 16) == slice(data, 10000, 16));
    EXPECT_TRUE(in.read(0, 16) == slice(data, 0, 16));
}

// ---- early writeback -----------------------------------------------------------------------

TEST(WritebackTest, LargeOutputsGoToTheDiskAsTheyAreWritten) {
    TempDir dir;
    const Bytes piece = audioBytes(1 << 20, 8);
    struct Case {
        int err;
        int expectedCalls;  // -1: at least two
        bool fails;
    };
    // Unsupported: the write goes on without it. Any other error is a write error.
    for (const Case c : {Case{0, -1, false}, Case{EINVAL, 1, false}, Case{EIO, 1, true}}) {
        SCOPED_TRACE(c.err);
        fs::remove(dir / "out");
        Calls calls([&](Op op, const std::string&, int) {
            return op == Op::startWriteback ? c.err : 0;
        });
        const std::string error = errorOf([&] {
            FileOut out(dir / "out");
            for (int i = 0; i < 20; ++i) out.write(piece);
            out.close();
        });
        EXPECT_EQ(!error.empty(), c.fails) << error;
        if (c.expectedCalls < 0) {
            EXPECT_GE(calls.count[Op::startWriteback], 2);
        } else {
            EXPECT_EQ(calls.count[Op::startWriteback], c.expectedCalls);
        }
        if (!c.fails) {
            EXPECT_EQ(fs::file_size(dir / "out"), 20u * piece.size());
        }
    }
}

TEST(WritebackTest, AFlushStartedEarlyCoversEverythingAndIsReportedByClose) {
    TempDir dir;
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
    out.write(bytesOf("abc"));
    {
        Calls calls([](Op op, const std::string&, int) { return op == Op::fsync ? EIO : 0; });
        out.startFlush();
    }
    try {
        out.close();
        FAIL() << "the failed flush was not reported";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), EIO);
    }
}

// ---- FLAC ----------------------------------------------------------------------------------

TEST(FlacStreamingTest, BlocksAroundTheCommentsAreCopiedUnchanged) {
    TempDir dir;
    const Bytes picture = audioBytes(300001, 9);
    const Bytes audio = audioBytes(100000, 10);
    const Bytes original = flac::file(
        {id3({{"TIT2", "t"}}),
         {flac::streamInfo(), {6, picture}, flac::comments("v", {"TITLE=x", "ISRC=OLD"}),
          flac::padding(1001)},
         audio});
    writeFile(dir / "in.flac", original);
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
    EXPECT_EQ(FLACTagger::readISRC(out), "NEW");

    // A block that runs past the end is refused even when the comments come before it.
    writeFile(dir / "cut.flac", flac::file({{}, {flac::streamInfo(), flac::comments("v", {"ISRC=A"}),
                                                 {6, Bytes(10), std::nullopt, 5000}}, {}}));
    const FileIn cut(dir / "cut.flac");
    EXPECT_EQ(errorOf([&] { FLACTagger::readISRC(cut); }), msg::flacTruncated);
    EXPECT_EQ(errorOf([&] { FLACTagger::audioOffset(cut); }), msg::flacTruncated);
}

// ---- driver --------------------------------------------------------------------------------

TEST(DriverPathsTest, AWriteOpensTheOriginalOnceAndFlushesBeforeTheReplace) {
    TempDir dir;
    const fs::path file = dir / "Song.wav";
    // Audio over several kernel pieces, at an odd offset that moves when the tag grows.
    const Bytes audio = audioBytes((9 << 20) + 3, 11);
    writeFile(file, wav({{"fmt ", wavFmt()}, {"LIST", Bytes(5, 'x')}, {"data", audio},
                         {"id3 ", id3({{"TIT2", "t"}})}}));
    const std::string before = AudioTagger::fingerprint(file, AudioFormat::wav);

    std::vector<std::pair<Op, std::string>> order;
    {
        Calls calls;
        AudioTagger::writeISRC(file, kCode, false);
        EXPECT_EQ(calls.opens(file), 1);
        order = calls.order;
    }
    auto last = [&](Op op) {
        for (std::size_t i = order.size(); i-- > 0;) {
            if (order[i].first == op) return std::ptrdiff_t(i);
        }
        return std::ptrdiff_t(-1);
    };
    auto first = [&](Op op, std::ptrdiff_t after) {
        for (std::size_t i = std::size_t(after + 1); i < order.size(); ++i) {
            if (order[i].first == op) return std::ptrdiff_t(i);
        }
        return std::ptrdiff_t(-1);
    };
    const std::ptrdiff_t lastWrite = std::max(last(Op::write), last(Op::copyRange));
    const std::ptrdiff_t flush = first(Op::fsync, lastWrite);
    ASSERT_GE(lastWrite, 0);
    ASSERT_GE(flush, 0);
    EXPECT_LT(flush, last(Op::rename));

    EXPECT_EQ(AudioTagger::fingerprint(file, AudioFormat::wav), before);
    Calls calls;
    EXPECT_EQ(AudioTagger::readISRC(file), kCode);
    EXPECT_EQ(calls.opens(file), 1);
}
