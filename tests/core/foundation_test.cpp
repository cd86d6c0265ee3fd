// The code value, the byte codecs, the file streams, the messages and the text services.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <system_error>

#include "core/binary_io.h"
#include "core/isrc.h"
#include "core/sha256.h"
#include "core/sys.h"
#include "core/tag_error.h"
#include "core/text.h"
#include "support/files.h"

using namespace pelorix;
using pelorix::test::TempDir;

// ---- ISRC ----------------------------------------------------------------------------------

TEST(ISRCTest, AcceptsEveryWayOfTypingTheSameCode) {
    const char* inputs[] = {
        "fi-abc-26-00001", "FIABC2600001", "FI ABC 26 00001", "FI_ABC_26_00001",
        "FI.ABC.26.00001", "FI/ABC/26/00001", "FI\u2013ABC\u201326\u201300001",
        "FI\u2014ABC\u201426\u201400001", "FI\tABC\t26\t00001", "--FI--ABC 26 00001..",
        " fiabc2600001 ", "fIaBc2600001"};
    for (const char* in : inputs) {
        auto c = ISRC::parse(in);
        ASSERT_TRUE(c) << in;
        EXPECT_EQ(c->code(), "FIABC2600001") << in;
    }
}

TEST(ISRCTest, RejectsWhatIsNotACode) {
    const char* inputs[] = {
        "FIABC260000",           // 11 characters
        "FIABC26000011",         // 13 characters
        "1IABC2600001",          // digit in the country part
        "FIABC26A0001",          // letter in the year/designation part
        "FI\u00A0ABC2600001",    // no-break space is not a separator
        "FIABC26\n00001",        // neither is a newline
        "\u00C9IABC2600001",     // accented letter
        "FIABC26\uFF10\uFF10001",  // full-width digits
        "FIABC26\u0660\u0661001",  // Arabic-Indic digits
        "FIA\u0301BC2600001",    // a combining mark joins its letter: still not ASCII
        "", "-", "FI-ABC-26-0000\xff"};
    for (const char* in : inputs) EXPECT_FALSE(ISRC::parse(in)) << in;
}

TEST(ISRCTest, UpperCasesWithTheFullUnicodeMapping) {
    // ß becomes SS and the ligature ﬁ becomes FI, so these spell valid codes.
    auto a = ISRC::parse("\u00dfEABC2600001");  // "SSEABC..." is 13 characters: invalid
    EXPECT_FALSE(a);
    auto b = ISRC::parse("\u00dfABC2600001");  // SS + ABC...
    ASSERT_TRUE(b);
    EXPECT_EQ(b->code(), "SSABC2600001");
    auto c = ISRC::parse("\ufb01ABC2600001");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->code(), "FIABC2600001");
    // A dotless i upper-cases to a plain I.
    auto d = ISRC::parse("f\u0131abc2600001");
    ASSERT_TRUE(d);
    EXPECT_EQ(d->code(), "FIABC2600001");
    EXPECT_EQ(ISRC::parse("fia1b2600001")->code(), "FIA1B2600001");
    EXPECT_FALSE(ISRC::parse("A1B2C2600001"));
    EXPECT_FALSE(ISRC::parse("AB1C2600001"));
    EXPECT_TRUE(ISRC::parse("AA1B22600001"));
}

TEST(ISRCTest, FormattedDesignationAndAdvance) {
    auto c = *ISRC::parse("FIABC2600001");
    EXPECT_EQ(c.formatted(), "FI-ABC-26-00001");
    EXPECT_EQ(c.designation(), 1);
    EXPECT_EQ(c.advanced(9)->formatted(), "FI-ABC-26-00010");
    EXPECT_EQ(c.advanced(0), c);
    auto last = *ISRC::parse("FIABC2699998");
    EXPECT_EQ(last.advanced(1)->designation(), 99999);
    EXPECT_FALSE(last.advanced(2));
    EXPECT_FALSE(ISRC::parse("FIABC2699999")->advanced(1));
    EXPECT_FALSE(c.advanced(-1));
    EXPECT_EQ(ISRC::parse("FIABC2600000")->advanced(99999)->code(), "FIABC2699999");
}

// ---- byte codecs ---------------------------------------------------------------------------

TEST(ByteCodecsTest, KnownValues) {
    Bytes b{0x00, 0x00, 0x01, 0x00};
    EXPECT_EQ(be32(b, 0), 256u);
    EXPECT_EQ(le32(b, 0), 65536u);
    EXPECT_EQ(synchsafeDecode(Bytes{0, 0, 2, 1}, 0), 257u);
    EXPECT_EQ(synchsafeEncode(257), (Bytes{0, 0, 2, 1}));
    EXPECT_EQ(synchsafeDecode(Bytes{0xFF, 0xFF, 0xFF, 0xFF}, 0), 268435455u);
    EXPECT_EQ(synchsafeEncode(268435455 + 1), (Bytes{0, 0, 0, 0}));  // bits above 27 dropped
    EXPECT_EQ(bytes32BE(0x0102030405ull), (Bytes{2, 3, 4, 5}));
    EXPECT_EQ(bytes32LE(0x01020304), (Bytes{4, 3, 2, 1}));
    Bytes flac{0x66, 0x4C, 0x61, 0x43};
    EXPECT_EQ(fourCC(flac, 0), "fLaC");
    EXPECT_EQ(fourCCBytes("fLaC"), flac);
    Bytes high{0xE9, 'a', 0xFF, 0x00};
    EXPECT_EQ(fourCC(high, 0), std::string("\u00e9a\u00ff\0", 6));
    EXPECT_EQ(fourCC(high, 0).size(), 6u);  // UTF-8 of é, a, ÿ and NUL
    EXPECT_EQ(fourCCBytes(fourCC(high, 0)), high);
}

TEST(ByteCodecsTest, ReaderNeverReadsPastTheEnd) {
    Bytes b{1, 2, 3, 4, 5};
    ByteReader r(b);
    EXPECT_EQ(r.readU32BE(), 0x01020304u);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.readU32LE(), 0u);
    EXPECT_FALSE(r.ok());
    ByteReader r2(b);
    r2.skip(3);
    EXPECT_EQ(r2.readU16BE(), 0x0405);
    EXPECT_TRUE(r2.readBytes(1).empty());
    EXPECT_FALSE(r2.ok());
}

// ---- streams -------------------------------------------------------------------------------

namespace {
Bytes pattern(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = std::uint8_t((i * 31 + i / 251) & 0xFF);
    return b;
}
}  // namespace

TEST(StreamsTest, ReadIsClampedToTheFile) {
    TempDir dir;
    test::writeFile(dir / "f", pattern(100));
    FileIn in(dir / "f");
    EXPECT_EQ(in.size(), 100u);
    EXPECT_TRUE(in.read(100, 4).empty());
    EXPECT_TRUE(in.read(1000, 4).empty());
    EXPECT_TRUE(in.read(0, 0).empty());
    EXPECT_TRUE(in.read(0, -5).empty());
    Bytes all = pattern(100);
    EXPECT_EQ(in.read(97, 16), Bytes(all.begin() + 97, all.end()));
    EXPECT_EQ(in.read(0, 100), all);
}

TEST(StreamsTest, CopyReproducesLargeFilesInPieces) {
    TempDir dir;
    Bytes data = pattern(3 * kPieceSize + 12345);
    test::writeFile(dir / "in", data);
    FileIn in(dir / "in");
    {
        FileOut out(dir / "out");
        out.write(Bytes{'x'});
        in.copy(0, in.size(), out);
        EXPECT_EQ(out.position(), data.size() + 1);
        out.close();
    }
    Bytes got = test::readFile(dir / "out");
    ASSERT_EQ(got.size(), data.size() + 1);
    EXPECT_EQ(got[0], 'x');
    EXPECT_TRUE(std::equal(data.begin(), data.end(), got.begin() + 1));
}

TEST(StreamsTest, CopyPastTheEndWritesWhatThereIsThenFails) {
    TempDir dir;
    test::writeFile(dir / "in", pattern(10));
    FileIn in(dir / "in");
    FileOut out(dir / "out");
    try {
        in.copy(8, 4, out);
        FAIL() << "copy past the end succeeded";
    } catch (const TagError& e) {
        EXPECT_EQ(std::string(e.what()), "The file ended unexpectedly.");
        EXPECT_EQ(e.kind(), TagError::Kind::malformed);
    }
    EXPECT_EQ(out.position(), 2u);
    EXPECT_NO_THROW(in.copy(0, 0, out));
}

TEST(StreamsTest, PatchKeepsThePosition) {
    TempDir dir;
    {
        FileOut out(dir / "out");
        out.write(pattern(100));
        out.patch(4, Bytes{0xAA, 0xBB});
        EXPECT_EQ(out.position(), 100u);
        out.write(Bytes{0xCC});
        out.close();
    }
    Bytes got = test::readFile(dir / "out");
    ASSERT_EQ(got.size(), 101u);
    EXPECT_EQ(got[4], 0xAA);
    EXPECT_EQ(got[5], 0xBB);
    EXPECT_EQ(got[100], 0xCC);
    EXPECT_EQ(got[3], pattern(100)[3]);
}

TEST(StreamsTest, OpenFailuresCarryThePlatformText) {
    TempDir dir;
    try {
        FileIn in(dir / "missing.wav");
        FAIL();
    } catch (const TagError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open the file: No such file or directory");
        EXPECT_EQ(e.kind(), TagError::Kind::io);
    }
    try {
        FileOut out(dir / "no-such-folder" / "x");
        FAIL();
    } catch (const TagError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot write next to the file: No such file or directory");
    }
}

TEST(StreamsTest, OnlyRegularFilesAreOpenedForReading) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);  // opening it must not hang
    std::filesystem::create_directory(dir / "folder");
    for (const char* name : {"fifo", "folder"}) {
        try {
            FileIn in(dir / name);
            FAIL() << name;
        } catch (const TagError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Cannot open the file: ", 0), 0u) << e.what();
        }
    }
}

TEST(StreamsTest, ExclusiveOutputNeverFollowsOrReusesWhatIsThere) {
    TempDir dir;
    test::writeFile(dir / "target", pattern(5));
    std::filesystem::create_symlink(dir / "target", dir / "link");
    EXPECT_THROW(FileOut(dir / "link"), TagError);
    EXPECT_THROW(FileOut(dir / "target"), TagError);
    EXPECT_EQ(test::readFile(dir / "target"), pattern(5));
    FileOut fresh(dir / "fresh");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "fresh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(StreamsTest, FailuresOfWriteFsyncAndClosePropagateAsPlatformErrors) {
    TempDir dir;
    for (auto op : {sys::Op::write, sys::Op::fsync, sys::Op::close}) {
        std::filesystem::remove(dir / "out");
        FileOut out(dir / "out");
        sys::setFaultHook([op](sys::Op o, const std::string&) { return o == op ? ENOSPC : 0; });
        try {
            out.write(pattern(10));
            out.close();
            sys::setFaultHook(nullptr);
            FAIL() << "no error";
        } catch (const std::system_error& e) {
            sys::setFaultHook(nullptr);
            EXPECT_EQ(e.code().value(), ENOSPC);
            EXPECT_EQ(std::string(e.what()), "No space left on device");
        }
    }
}

// ---- messages ------------------------------------------------------------------------------

TEST(TagErrorTest, MessagesAreTheFinishedSentences) {
    EXPECT_EQ(std::string(TagError::malformed(msg::id3Damaged).what()), "The ID3 tag is damaged.");
    EXPECT_EQ(msg::id3Version(5),
              "This file has an ID3v2.5 tag. PELORIX supports ID3v2.3 and ID3v2.4 only.");
    EXPECT_EQ(msg::id3Version(2),
              "This file has an ID3v2.2 tag. PELORIX supports ID3v2.3 and ID3v2.4 only.");
    EXPECT_EQ(msg::cannotOpen("Permission denied"), "Cannot open the file: Permission denied");
    EXPECT_EQ(TagError::unsupported(msg::rf64).kind(), TagError::Kind::unsupported);
}

// ---- text services -------------------------------------------------------------------------

TEST(TextTest, StrictAndLossyDecoding) {
    using text::Encoding;
    EXPECT_EQ(*text::decode(Bytes{0x41, 0xE9}, Encoding::latin1), "A\u00e9");
    EXPECT_EQ(*text::decode(Bytes{0xC3, 0xA9}, Encoding::utf8), "\u00e9");
    EXPECT_FALSE(text::decode(Bytes{0xC3}, Encoding::utf8));
    EXPECT_FALSE(text::decode(Bytes{0xED, 0xA0, 0x80}, Encoding::utf8));  // encoded surrogate
    EXPECT_FALSE(text::decode(Bytes{0xC0, 0xAF}, Encoding::utf8));        // overlong
    EXPECT_EQ(text::decodeLossy(Bytes{'a', 0xFF, 'b'}, Encoding::utf8), "a\uFFFDb");
    EXPECT_EQ(*text::decode(Bytes{'A', 0, 0x3D, 0xD8, 0x00, 0xDE}, Encoding::utf16le),
              "A\U0001F600");
    EXPECT_EQ(*text::decode(Bytes{0, 'A'}, Encoding::utf16be), "A");
    EXPECT_FALSE(text::decode(Bytes{0x00, 0xD8}, Encoding::utf16le));  // lone surrogate
    EXPECT_FALSE(text::decode(Bytes{'A', 0, 'B'}, Encoding::utf16le));  // odd length
    EXPECT_EQ(text::decodeLossy(Bytes{0x00, 0xD8, 'A', 0}, Encoding::utf16le), "\uFFFDA");
}

TEST(TextTest, TrimUpperCaseGraphemesEquivalence) {
    EXPECT_EQ(text::trimWhitespaceAndNewlines(" \t\n\u00a0\u2003 code \r\n\u0085"), "code");
    EXPECT_EQ(text::trimWhitespaceAndNewlines("   "), "");
    EXPECT_EQ(text::trimWhitespaceAndNewlines("a b"), "a b");
    EXPECT_EQ(text::toUpper("stra\u00dfe \ufb01 \u0131"), "STRASSE FI I");
    EXPECT_EQ(text::graphemes("e\u0301a").size(), 2u);
    EXPECT_EQ(text::graphemes("\U0001F1EB\U0001F1EE").size(), 1u);  // a flag is one character
    EXPECT_TRUE(text::canonicallyEqual("\u00e9", "e\u0301"));
    EXPECT_FALSE(text::canonicallyEqual("abc", "ABC"));
}

TEST(Sha256Test, KnownDigests) {
    EXPECT_EQ(sha256Hex({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    Sha256 h;
    h.update(Bytes{'a'});
    h.update(Bytes{'b', 'c'});
    EXPECT_EQ(h.hexDigest(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}
