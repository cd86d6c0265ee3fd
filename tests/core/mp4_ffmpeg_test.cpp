// Real MP4 files made by ffmpeg (AAC and ALAC, with the movie ahead of or after the media, and a
// fragmented one) keep decoding to the same PCM and the same packets after a write and a removal,
// and other readers find the code where we put it.
#include <gtest/gtest.h>

#include "core/binary_io.h"
#include "core/mp4_tagger.h"
#include "support/files.h"
#include "support/mp4_builder.h"

using namespace pelorix;
using pelorix::test::readFile;
using pelorix::test::runShell;
using pelorix::test::TempDir;

namespace {

const std::string kCode = "FIABC2600001";

bool haveFFmpeg() {
    return runShell("command -v ffmpeg && command -v ffprobe").status == 0;
}

std::string quoted(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

// ffmpeg's decoded output of the file in the given muxer format, as bytes.
test::Bytes decoded(const std::filesystem::path& file, const std::string& format,
                    const std::filesystem::path& to) {
    auto r = runShell("ffmpeg -nostdin -v error -y -i " + quoted(file) + " -f " + format + " " +
                      quoted(to));
    EXPECT_EQ(r.status, 0) << r.output;
    return readFile(to);
}

std::string probedISRC(const std::filesystem::path& file) {
    auto r = runShell("ffprobe -v error -show_entries format_tags=ISRC -of default=nw=1:nk=1 " +
                      quoted(file));
    EXPECT_EQ(r.status, 0) << r.output;
    while (!r.output.empty() && (r.output.back() == '\n' || r.output.back() == '\r')) {
        r.output.pop_back();
    }
    return r.output;
}

void tag(const std::filesystem::path& from, const std::filesystem::path& to,
         const std::optional<std::string>& code) {
    FileIn in(from);
    FileOut out(to);
    MP4Tagger::write(in, out, code);
    out.close();
}

struct Sample {
    const char* name;
    const char* encode;  // ffmpeg output options
    bool moovFirst;
    bool fragmented;
};

class MP4FFmpeg : public ::testing::TestWithParam<Sample> {};

}  // namespace

TEST_P(MP4FFmpeg, WriteAndRemoveKeepEveryPacket) {
    if (!haveFFmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const Sample& s = GetParam();
    TempDir dir;
    const auto original = dir / "original.m4a";
    auto made = runShell("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:duration=3 "
                         "-f lavfi -i sine=frequency=660:duration=3 -filter_complex amerge -ac 2 " +
                         std::string(s.encode) + " " + quoted(original));
    ASSERT_EQ(made.status, 0) << made.output;

    // The sample really has the layout this case is about.
    {
        FileIn in(original);
        auto top = MP4Tagger::topLevel(in);
        auto index = [&](const std::string& type) {
            for (std::size_t i = 0; i < top.size(); ++i) {
                if (top[i].type == type) return i;
            }
            return top.size();
        };
        ASSERT_LT(index("moov"), top.size());
        ASSERT_LT(index("mdat"), top.size());
        EXPECT_EQ(index("moov") < index("mdat"), s.moovFirst);
        EXPECT_EQ(index("moof") < top.size(), s.fragmented);
        EXPECT_EQ(MP4Tagger::readISRC(in), std::nullopt);
    }
    const test::Bytes bytes = readFile(original);
    if (s.fragmented) {  // a track fragment header with an absolute base data offset
        auto at = test::mp4::find(bytes, "tfhd");
        ASSERT_NE(at, std::string::npos);
        ASSERT_TRUE(bytes.at(at + 7) & 0x01);
    }

    const auto written = dir / "written.m4a";
    const auto removed = dir / "removed.m4a";
    tag(original, written, kCode);
    tag(written, removed, std::nullopt);
    {
        FileIn w(written), r(removed);
        EXPECT_EQ(MP4Tagger::readISRC(w), kCode);
        EXPECT_EQ(MP4Tagger::readISRC(r), std::nullopt);
        // ffmpeg always leaves an ilst (with its encoder item), so only the item comes and goes.
        EXPECT_EQ(w.size(), bytes.size() + 80);
    }
    EXPECT_EQ(readFile(removed), bytes);
    EXPECT_EQ(probedISRC(written), kCode);
    EXPECT_EQ(probedISRC(removed), "");

    const auto pcm = decoded(original, "s16le", dir / "original.pcm");
    const auto packets = decoded(original, "framemd5", dir / "original.md5");
    ASSERT_GT(pcm.size(), 100000u);
    for (const auto& file : {written, removed}) {
        EXPECT_EQ(decoded(file, "s16le", dir / "after.pcm"), pcm) << file;
        EXPECT_EQ(decoded(file, "framemd5", dir / "after.md5"), packets) << file;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Samples, MP4FFmpeg,
    ::testing::Values(Sample{"aac", "-c:a aac -b:a 96k", false, false},
                      Sample{"aac_faststart", "-c:a aac -b:a 96k -movflags +faststart", true, false},
                      Sample{"alac", "-c:a alac", false, false},
                      Sample{"alac_faststart", "-c:a alac -movflags +faststart", true, false},
                      Sample{"aac_fragmented",
                             "-c:a aac -b:a 96k -movflags +frag_keyframe+empty_moov "
                             "-frag_duration 500000",
                             true, true}),
    [](const ::testing::TestParamInfo<Sample>& info) { return std::string(info.param.name); });
