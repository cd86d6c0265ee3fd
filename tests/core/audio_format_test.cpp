// Format detection: every rule, in its order, from the file's first bytes.
#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "core/audio_format.h"
#include "core/binary_io.h"
#include "core/tag_error.h"
#include "support/files.h"
#include "support/id3_builder.h"

using namespace pelorix;
using namespace std::string_literals;
namespace id3 = pelorix::test::id3;
using pelorix::test::TempDir;

namespace {

Bytes bytes(const std::string& s, std::size_t padTo = 16) {
    Bytes b(s.begin(), s.end());
    if (b.size() < padTo) b.resize(padTo, 0x11);
    return b;
}

Bytes cat(const Bytes& a, const Bytes& b) {
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

// The detected label, or the message of the refusal.
std::string outcome(const std::filesystem::path& p) {
    try {
        return std::string(AudioFormat::detect(p).label());
    } catch (const TagError& e) {
        return e.what();
    }
}

}  // namespace

TEST(AudioFormatDetect, FollowsTheRulesInOrder) {
    const Bytes tag = id3::tag({.frames = {id3::textFrame("TIT2", "x")}, .padding = 10});
    const Bytes v22 = id3::tag({.version = 2, .padding = 3});
    const Bytes footed = id3::tag({.version = 4, .footer = true});
    const std::string unsupported(msg::unsupportedType);
    const std::string rf64(msg::rf64);
    struct Case {
        const char* name;
        Bytes content;
        std::string expected;
    };
    const Case cases[] = {
        // Length first.
        {"a.flac", bytes("fLaC"s, 11), std::string(msg::tooShortForAudio)},
        {"a.mp3", Bytes{0xFF, 0xFB, 0x90}, std::string(msg::tooShortForAudio)},
        {"a.flac", bytes("fLaC"s, 12), "FLAC"},
        // A leading ID3v2 tag decides alone.
        {"a.mp3", cat(tag, bytes("fLaC\0\0\0\x22"s, 8)), "FLAC"},
        {"a.wav", cat(tag, bytes("RIFF\0\0\0\0WAVE"s, 12)), "MP3"},
        {"a.bin", cat(tag, bytes("fLa"s, 3)), "MP3"},
        {"a.bin", tag, "MP3"},
        {"a.bin", cat(footed, bytes("fLaC"s, 4)), "FLAC"},
        {"a.bin", cat(Bytes(footed.begin(), footed.end() - 10), bytes("fLaC"s, 4)), "MP3"},
        {"a.wav", cat(v22, bytes(""s, 20)), "MP3"},
        {"a.bin", cat(bytes("ID3\x03\0\0\0\0\0\x7F"s, 10), bytes(""s, 2)), "MP3"},
        // Not a usable tag header: the later rules decide.
        {"a.bin", bytes("ID3\x03\0\0\0\0\0\x80"s, 16), unsupported},
        {"a.mp3", bytes("ID3\xFF\0\0\0\0\0\0"s, 16), "MP3"},
        // Containers.
        {"a.bin", bytes("RIFF\x24\0\0\0WAVEfmt "s), "WAV"},
        {"a.bin", bytes("RIFF\x24\0\0\0AVI LIST"s), unsupported},
        {"a.MP3", bytes("RIFF\x24\0\0\0AVI LIST"s), "MP3"},
        {"a.bin", bytes("riff\x24\0\0\0WAVEfmt "s), unsupported},
        {"a.wav", bytes("RF64\xFF\xFF\xFF\xFFWAVEds64"s), rf64},
        {"a.mp3", bytes("BW64\xFF\xFF\xFF\xFFWAVEds64"s), rf64},
        {"a.bin", bytes("FORM\0\0\0\x40" "AIFFCOMM"s), "AIFF"},
        {"a.bin", bytes("FORM\0\0\0\x40" "AIFCFVER"s), "AIFF"},
        {"a.bin", bytes("FORM\0\0\0\x40" "8SVXVHDR"s), unsupported},
        {"a.bin", bytes("FORMftypM4A "s), "M4A"},
        {"a.bin", bytes("fLaC\0\0\0\x22"s), "FLAC"},
        {"a.bin", bytes("flac\0\0\0\x22"s), unsupported},
        {"a.bin", bytes("\0\0\0\x20" "ftypM4A "s), "M4A"},
        {"a.bin", bytes("\0\0\0\x1C" "ftypisom"s), "M4A"},
        {"a.bin", bytes("\0\0\0\x1C" "FTYPisom"s), unsupported},
        // MPEG frame sync, then the name.
        {"a.bin", Bytes{0xFF, 0xFB, 0x90, 0x64, 0, 0, 0, 0, 0, 0, 0, 0}, "MP3"},
        {"a.bin", Bytes{0xFF, 0xE0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "MP3"},
        {"a.bin", Bytes{0xFF, 0xD0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, unsupported},
        {"a.Mp3", Bytes{0xFF, 0xD0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "MP3"},
        {"notes.mp3", bytes("just some text here"s), "MP3"},
        {"NOTES.MP3", bytes("just some text here"s), "MP3"},
        {"mp3", bytes("just some text here"s), unsupported},
        {"a.mp3.txt", bytes("just some text here"s), unsupported},
        {"a.mp33", bytes("just some text here"s), unsupported},
    };
    TempDir dir;
    int n = 0;
    for (const auto& c : cases) {
        // Each case in its own folder, so that names can repeat.
        auto folder = dir / std::to_string(n++);
        std::filesystem::create_directory(folder);
        test::writeFile(folder / c.name, c.content);
        EXPECT_EQ(outcome(folder / c.name), c.expected) << "case " << n - 1 << ": " << c.name;
    }
}

TEST(AudioFormatDetect, ReportsWhatCannotBeOpened) {
    TempDir dir;
    try {
        AudioFormat::detect(dir / "missing.mp3");
        FAIL() << "no error";
    } catch (const TagError& e) {
        EXPECT_EQ(e.kind(), TagError::Kind::io);
        EXPECT_EQ(std::string(e.what()).rfind("Cannot open the file: ", 0), 0u) << e.what();
        EXPECT_GT(std::string(e.what()).size(), std::string("Cannot open the file: ").size());
    }
}

TEST(AudioFormatDetect, KindsOfTheRefusals) {
    TempDir dir;
    test::writeFile(dir / "short.wav", bytes("RIFF", 4));
    test::writeFile(dir / "r.wav", bytes("RF64\0\0\0\0WAVE"s));
    test::writeFile(dir / "x.bin", bytes("hello world, this is text"));
    const std::pair<const char*, TagError::Kind> cases[] = {
        {"short.wav", TagError::Kind::malformed},
        {"r.wav", TagError::Kind::unsupported},
        {"x.bin", TagError::Kind::unsupported},
    };
    for (const auto& [name, kind] : cases) {
        try {
            AudioFormat::detect(dir / name);
            ADD_FAILURE() << name << ": no error";
        } catch (const TagError& e) {
            EXPECT_EQ(e.kind(), kind) << name;
        }
    }
}
