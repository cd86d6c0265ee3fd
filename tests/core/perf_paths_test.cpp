// SPDX-License-Identifier: MIT
// The copy paths of the streams: the kernel copy, its fallback when the kernel gives up at any
// point, and a copy whose input ends early.
#include <gtest/gtest.h>
#include <unistd.h>

#include "core/io/binary_io.h"
#include "core/tag_error.h"
#include "driver_fixtures.h"
#include "support/mp4_builder.h"

using namespace pelorix;
using namespace pelorix::test;
using namespace pelorix::test::driver;
namespace fs = std::filesystem;
using sys::Op;

namespace {
Bytes slice(const Bytes& b, std::size_t from, std::size_t n) {
    return Bytes(b.begin() + std::ptrdiff_t(from), b.begin() + std::ptrdiff_t(from + n));
}
}  // namespace

TEST(CopyPathsTest, EveryPathPutsEachByteWhereThePositionSays) {
    // Two kernel pieces and a bit, from an odd offset, behind bytes still in the gather buffer.
    TempDir dir;
    const Bytes data = audioBytes((9 << 20) + 4099, 3);
    const std::uint64_t from = 7, count = data.size() - from - 1001;
    writeFile(dir / "in", data);
    const Bytes expected =
        mp4::cat({bytesOf("head!"), slice(data, from, count), bytesOf("tail"), slice(data, 3, 10)});
    // The kernel copy refused from the first call or from the second one on, or failing outright.
    const std::pair<int, int> cases[] = {{0, 0},          {EXDEV, 0}, {ENOSYS, 0}, {EINVAL, 0},
                                         {EOPNOTSUPP, 0}, {EXDEV, 1}, {ENOSPC, 1}};
    for (const auto& [err, failFrom] : cases) {
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
        EXPECT_EQ(error, err == ENOSPC ? platformText(ENOSPC) : "");
        EXPECT_TRUE(err == ENOSPC || readFile(dir / "out") == expected);
    }
}

TEST(CopyPathsTest, AnInputThatEndsEarlyFailsAfterWritingWhatThereIs) {
    TempDir dir;
    const Bytes data = audioBytes(300000);
    writeFile(dir / "in", data);
    FileOut out(dir / "out");
    const FileIn in(dir / "in");
    // Past the end of the file as it was opened, through the gather buffer and in the kernel;
    // then past the end of what is left of it: the kernel copies nothing more, read(2) confirms.
    EXPECT_EQ(errorOf([&] { in.copy(data.size() - 2, 4, out); }), msg::fileEnded);
    EXPECT_EQ(errorOf([&] { in.copy(data.size() - 100, 200000, out); }), msg::fileEnded);
    ASSERT_EQ(::truncate((dir / "in").c_str(), 100000), 0);
    EXPECT_EQ(errorOf([&] { in.copy(0, data.size(), out); }), msg::fileEnded);
    out.close();
    EXPECT_TRUE(readFile(dir / "out") ==
                mp4::cat({slice(data, data.size() - 2, 2), slice(data, data.size() - 100, 100),
                          slice(data, 0, 100000)}));
}
