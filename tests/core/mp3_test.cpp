// The MP3 tagger: the leading tag is replaced, everything after it is copied unchanged.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "core/id3v2.h"
#include "core/tag_error.h"
#include "support/files.h"
#include "support/id3_builder.h"

using namespace pelorix;
namespace id3 = pelorix::test::id3;
using pelorix::test::TempDir;

namespace {

const std::string kCode = "FIABC2600001";

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

class MP3Test : public ::testing::Test {
protected:
    TempDir dir;
    int serial = 0;

    std::filesystem::path file(const Bytes& bytes) {
        auto p = dir / ("in" + std::to_string(serial++) + ".mp3");
        test::writeFile(p, bytes);
        return p;
    }

    std::optional<std::string> read(const Bytes& bytes) {
        FileIn in(file(bytes));
        return MP3Tagger::readISRC(in);
    }

    Bytes write(const Bytes& bytes, const std::optional<std::string>& code) {
        FileIn in(file(bytes));
        auto outPath = dir / ("out" + std::to_string(serial++) + ".mp3");
        FileOut out(outPath);
        MP3Tagger::write(in, out, code);
        out.close();
        return test::readFile(outPath);
    }

    // The message of the TagError that both reading and writing raise, or "" when either
    // does not raise one. A refused write must not have written anything.
    std::string refusal(const Bytes& bytes) {
        std::string readMessage, writeMessage;
        try {
            read(bytes);
        } catch (const TagError& e) {
            readMessage = e.what();
        }
        auto outPath = dir / ("refused" + std::to_string(serial++) + ".mp3");
        try {
            FileIn in(file(bytes));
            FileOut out(outPath);
            MP3Tagger::write(in, out, kCode);
            out.close();
        } catch (const TagError& e) {
            writeMessage = e.what();
        }
        EXPECT_EQ(test::readFile(outPath).size(), 0u);
        return readMessage == writeMessage ? readMessage : "read: " + readMessage + " write: " + writeMessage;
    }
};

}  // namespace

TEST_F(MP3Test, WithoutATagWritingPutsAFreshTagInFront) {
    const Bytes audio = id3::fakeAudio(5000);
    EXPECT_EQ(read(audio), std::nullopt);
    Bytes out = write(audio, kCode);
    const Bytes fresh = *ID3v2::settingISRC(std::nullopt, kCode);
    ASSERT_EQ(fresh.size(), 10u + 10 + 1 + 12 + 1024);
    EXPECT_EQ(out, cat({fresh, audio}));
    EXPECT_EQ(read(out), kCode);
    // Removing from a file without a tag changes nothing.
    EXPECT_EQ(write(audio, std::nullopt), audio);
}

TEST_F(MP3Test, EverythingAfterTheLeadingTagIsCopiedUnchanged) {
    const Bytes audio = id3::fakeAudio(3000, 7);
    Bytes v1 = test::bytesOf("TAG");
    v1.resize(128, 'x');
    const Bytes old3 = id3::tag({.version = 3,
                                 .frames = {id3::textFrame("TIT2", "Song"),
                                            id3::textFrame("TSRC", "GBAAA2600001")},
                                 .padding = 100});
    const Bytes old4 = id3::tag({.version = 4,
                                 .frames = {id3::textFrame("TSRC", "GBAAA2600001", 3)},
                                 .footer = true});
    const Bytes second = id3::tag({.version = 3, .frames = {id3::textFrame("TSRC", "USXXX2600009")}});
    struct Case {
        const char* name;
        Bytes leading;  // the tag that is replaced
        Bytes rest;     // everything that must follow the new tag, unchanged
    };
    const Case cases[] = {
        {"ID3v1 tail", old3, cat({audio, v1})},
        {"v4 footer dropped with the tag", old4, audio},
        {"second tag stays in front of the audio", old3, cat({second, audio})},
        {"nothing after the tag", old3, {}},
    };
    for (const auto& c : cases) {
        const Bytes input = cat({c.leading, c.rest});
        EXPECT_EQ(read(input), "GBAAA2600001") << c.name;
        Bytes out = write(input, kCode);
        const Bytes tag = *ID3v2::settingISRC(ID3v2::parse(c.leading), kCode);
        EXPECT_EQ(out, cat({tag, c.rest})) << c.name;
        EXPECT_EQ(read(out), kCode) << c.name;
    }
}

TEST_F(MP3Test, RemovingTheCode) {
    const Bytes audio = id3::fakeAudio(2000, 3);
    const Bytes onlyCode = id3::tag({.version = 4,
                                     .frames = {id3::textFrame("TSRC", "A"), id3::textFrame("TSRC", "B")},
                                     .padding = 64});
    EXPECT_EQ(write(cat({onlyCode, audio}), std::nullopt), audio);

    const Bytes withTitle = id3::tag({.version = 4,
                                      .frames = {id3::textFrame("TSRC", kCode), id3::textFrame("TIT2", "Song")}});
    Bytes out = write(cat({withTitle, audio}), std::nullopt);
    EXPECT_EQ(read(out), std::nullopt);
    auto tag = ID3v2::parse(out);
    ASSERT_TRUE(tag);
    EXPECT_EQ(tag->version, 4);
    ASSERT_EQ(tag->frames.size(), 1u);
    EXPECT_EQ(tag->frames[0].id, "TIT2");
    EXPECT_EQ(Bytes(out.end() - std::ptrdiff_t(audio.size()), out.end()), audio);
}

TEST_F(MP3Test, FilesShorterThanAHeader) {
    const Bytes cases[] = {{}, {0xFF, 0xFB}, test::bytesOf("ID3\x03"), {'I', 'D', '3', 3, 0, 0, 0, 0, 0}};
    for (const auto& bytes : cases) {
        EXPECT_EQ(read(bytes), std::nullopt) << bytes.size();
        EXPECT_EQ(write(bytes, kCode), cat({*ID3v2::settingISRC(std::nullopt, kCode), bytes}));
    }
}

TEST_F(MP3Test, RefusesTagsItCannotHandle) {
    const Bytes audio = id3::fakeAudio(600);
    const Bytes v22 = id3::tag({.version = 2, .padding = 20});
    const Bytes full = id3::tag({.frames = {id3::textFrame("TSRC", kCode)}, .padding = 40});
    const Bytes footed = id3::tag({.version = 4, .footer = true});
    struct Case {
        const char* name;
        Bytes input;
        std::string message;
    };
    const Case cases[] = {
        {"ID3v2.2", cat({v22, audio}), msg::id3Version(2)},
        {"tag longer than the file", Bytes(full.begin(), full.end() - 1), std::string(msg::id3Truncated)},
        {"size past any file", id3::tag({.declaredSize = 0x0FFFFFFF}), std::string(msg::id3Truncated)},
        {"v4 footer past the end", Bytes(footed.begin(), footed.end() - 4),
         std::string(msg::id3Truncated)},
    };
    for (const auto& c : cases) EXPECT_EQ(refusal(c.input), c.message) << c.name;
}

TEST_F(MP3Test, MemoryStaysBoundedWhateverTheFileSize) {
    // 48 MiB of audio behind a tag: the rewrite may hold the tag and one piece, not the file.
    const std::size_t pieces = 48;
    auto input = dir / "big.mp3";
    {
        FileOut out(input, FileOut::Mode::replace);
        out.write(id3::tag({.frames = {id3::textFrame("TSRC", "GBAAA2600001")}, .padding = 4000}));
        for (std::size_t i = 0; i < pieces; ++i) out.write(id3::fakeAudio(kPieceSize, std::uint32_t(i + 1)));
        out.close();
    }
    auto output = dir / "big-out.mp3";
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A fresh process, so its high-water mark starts from what it holds now.
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        int status = 2;
        try {
            FileIn in(input);
            FileOut out(output);
            MP3Tagger::write(in, out, kCode);
            out.close();
            getrusage(RUSAGE_SELF, &after);
            status = (after.ru_maxrss - before.ru_maxrss) < 12 * 1024 ? 0 : 1;  // KiB
        } catch (...) {
        }
        _exit(status);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: memory grew with the file, 2: the write failed";

    // The output holds the new tag and then exactly the same audio, piece for piece.
    FileIn in(input), out(output);
    const std::uint64_t oldTag = *ID3v2::totalSize(in.read(0, 10));
    const std::uint64_t newTag = *ID3v2::totalSize(out.read(0, 10));
    ASSERT_EQ(out.size() - newTag, in.size() - oldTag);
    EXPECT_EQ(MP3Tagger::readISRC(out), kCode);
    for (std::uint64_t at = 0; at < in.size() - oldTag; at += kPieceSize) {
        ASSERT_EQ(in.read(oldTag + at, kPieceSize), out.read(newTag + at, kPieceSize)) << at;
    }
}

TEST_F(MP3Test, FilesMadeByFFmpegKeepTheirOtherTagsAndAudio) {
    if (test::runShell("command -v ffmpeg && command -v ffprobe").status != 0) {
        GTEST_SKIP() << "ffmpeg not installed";
    }
    for (int version : {3, 4}) {
        auto path = dir / ("ff" + std::to_string(version) + ".mp3");
        auto made = test::runShell(
            "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=1 -c:a libmp3lame -b:a 64k "
            "-metadata TSRC=GBAAA2600001 -metadata title=Song -id3v2_version " +
            std::to_string(version) + " -write_id3v1 1 '" + path.string() + "'");
        ASSERT_EQ(made.status, 0) << made.output;
        const Bytes original = test::readFile(path);
        EXPECT_EQ(read(original), "GBAAA2600001");

        Bytes out = write(original, kCode);
        auto written = dir / ("ff" + std::to_string(version) + "-new.mp3");
        test::writeFile(written, out);
        auto probe = test::runShell("ffprobe -v error -show_entries format_tags=TSRC,title -of "
                                    "default=nw=1 '" + written.string() + "'");
        ASSERT_EQ(probe.status, 0) << probe.output;
        EXPECT_NE(probe.output.find("TAG:TSRC=" + kCode), std::string::npos) << probe.output;
        EXPECT_NE(probe.output.find("TAG:title=Song"), std::string::npos) << probe.output;
        EXPECT_EQ(out[3], version);

        const std::size_t oldTag = *ID3v2::totalSize(original);
        const std::size_t newTag = *ID3v2::totalSize(out);
        EXPECT_EQ(Bytes(out.begin() + std::ptrdiff_t(newTag), out.end()),
                  Bytes(original.begin() + std::ptrdiff_t(oldTag), original.end()));
    }
}
