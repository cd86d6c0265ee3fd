// SPDX-License-Identifier: MIT
// The code value, the byte codecs, the file streams, the messages and the text services.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/io/binary_io.h"
#include "core/io/sha256.h"
#include "core/io/text.h"
#include "core/isrc.h"
#include "core/tag_error.h"
#include "support/files.h"

using namespace pelorix;
using pelorix::test::TempDir;

// ---- ISRC ----------------------------------------------------------------------------------

TEST(ISRCTest, ParsesEveryWayOfTypingACodeAndNothingElse) {
    const std::pair<const char*, const char*> cases[] = {
        // input, code ("" when refused)
        {"fi-abc-26-00001", "FIABC2600001"},
        {"FIABC2600001", "FIABC2600001"},
        {"FI ABC 26 00001", "FIABC2600001"},
        {"FI_ABC_26_00001", "FIABC2600001"},
        {"FI.ABC.26.00001", "FIABC2600001"},
        {"FI/ABC/26/00001", "FIABC2600001"},
        {"FI\u2013ABC\u201326\u201300001", "FIABC2600001"},  // en dash
        {"FI\u2014ABC\u201426\u201400001", "FIABC2600001"},  // em dash
        {"FI\tABC\t26\t00001", "FIABC2600001"},
        {"--FI--ABC 26 00001..", "FIABC2600001"},
        {" fiabc2600001 ", "FIABC2600001"},
        {"fIaBc2600001", "FIABC2600001"},
        // The full Unicode upper-case mapping: ß is SS, the ligature ﬁ is FI, a dotless i is I.
        {"\u00dfABC2600001", "SSABC2600001"},
        {"\u00dfEABC2600001", ""},  // 13 characters
        {"\ufb01ABC2600001", "FIABC2600001"},
        {"f\u0131abc2600001", "FIABC2600001"},
        {"fia1b2600001", "FIA1B2600001"},
        {"AA1B22600001", "AA1B22600001"},
        {"A1B2C2600001", ""},
        {"AB1C2600001", ""},
        {"FIABC260000", ""},
        {"FIABC26000011", ""},  // 11 and 13 characters
        {"1IABC2600001", ""},
        {"FIABC26A0001", ""},  // a digit, a letter in the wrong part
        {"FI\u00A0ABC2600001", ""},
        {"FIABC26\n00001", ""},     // no-break space, newline
        {"\u00C9IABC2600001", ""},  // an accented letter
        {"FIABC26\uFF10\uFF10001", ""},
        {"FIABC26\u0660\u0661001", ""},  // other digits
        {"FIA\u0301BC2600001", ""},      // a combining mark joins its letter: still not ASCII
        {"", ""},
        {"-", ""},
        {"FI-ABC-26-0000\xff", ""},
    };
    for (const auto& [input, code] : cases) {
        const auto parsed = ISRC::parse(input);
        EXPECT_EQ(parsed ? parsed->code() : "", code) << input;
    }
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

TEST(ByteCodecsTest, TheReaderAndWriterAgreeAndNeverPassTheEnd) {
    Bytes b;
    ByteWriter(b)
        .u8(1)
        .u24BE(0x020304)
        .u32BE(0x0506070809ull)  // bits above 31 dropped
        .u32LE(0x0A0B0C0D)
        .u64BE(0x0E0F101112131415ull)
        .synchsafe32(268435455 + 258)  // bits above 27 dropped
        .fourCC(std::string("\u00e9a\u00ff\0", 6));
    EXPECT_EQ(b,
              (Bytes{1,    2,    3,    4,    6,    7,    8, 9, 0x0D, 0x0C, 0x0B, 0x0A, 0x0E, 0x0F,
                     0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0, 0, 2,    1,    0xE9, 'a',  0xFF, 0}));
    ByteReader r(b);
    EXPECT_EQ(r.readU8(), 1u);
    EXPECT_EQ(r.readU24BE(), 0x020304u);
    EXPECT_EQ(r.readU32BE(), 0x06070809u);
    EXPECT_EQ(r.readU32LE(), 0x0A0B0C0Du);
    EXPECT_EQ(r.readU64BE(), 0x0E0F101112131415ull);
    EXPECT_EQ(r.readSynchsafe32(), 257u);
    EXPECT_EQ(r.readFourCC(), std::string("\u00e9a\u00ff\0", 6));  // ISO-8859-1 as UTF-8
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.readU16BE(), 0u);
    EXPECT_FALSE(r.ok());
    ByteReader near(b, b.size() - 2);
    EXPECT_TRUE(near.readBytes(3).empty());
    EXPECT_EQ(near.readU8(), 0u);  // once past the end, always past it
    EXPECT_FALSE(ByteReader(b, b.size() + 1).ok());
    ByteWriter(b).putU32BE(0, 0xA1A2A3A4);
    EXPECT_EQ(be32(b, 0), 0xA1A2A3A4u);
    EXPECT_EQ(asciiLower("ID3 \u00c9"), "id3 \u00c9");
}

// ---- streams (their fast paths are in perf_paths_test) --------------------------------------

TEST(StreamsTest, PatchKeepsThePosition) {
    TempDir dir;
    {
        FileOut out(dir / "out");
        out.write(Bytes(100, 0x11));
        out.patch(4, Bytes{0xAA, 0xBB});
        EXPECT_EQ(out.position(), 100u);
        out.write(Bytes{0xCC});
        out.close();
    }
    Bytes expected(101, 0x11);
    expected[4] = 0xAA, expected[5] = 0xBB, expected[100] = 0xCC;
    EXPECT_EQ(test::readFile(dir / "out"), expected);
}

TEST(StreamsTest, OpenFailuresCarryThePlatformText) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);  // opening it must not hang
    std::filesystem::create_directory(dir / "folder");
    for (const auto& [name, reason] :
         {std::pair("missing.wav", "No such file or directory"),
          std::pair("folder", "Is a directory"), std::pair("fifo", "Not a regular file")}) {
        try {
            FileIn in(dir / name);
            ADD_FAILURE() << name << " opened";
        } catch (const TagError& e) {
            EXPECT_EQ(std::string(e.what()), std::string("Cannot open the file: ") + reason);
            EXPECT_EQ(e.kind(), TagError::Kind::io);
        }
    }
    try {
        FileOut out(dir / "no-such-folder" / "x");
        ADD_FAILURE() << "created";
    } catch (const TagError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot write next to the file: No such file or directory");
    }
}

TEST(StreamsTest, ExclusiveOutputNeverFollowsOrReusesWhatIsThere) {
    TempDir dir;
    test::writeFile(dir / "target", Bytes{1, 2, 3});
    std::filesystem::create_symlink(dir / "target", dir / "link");
    EXPECT_THROW(FileOut(dir / "link"), TagError);
    EXPECT_THROW(FileOut(dir / "target"), TagError);
    EXPECT_EQ(test::readFile(dir / "target"), (Bytes{1, 2, 3}));
    FileOut fresh(dir / "fresh");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "fresh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
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
    EXPECT_FALSE(text::decode(Bytes{0x00, 0xD8}, Encoding::utf16le));   // lone surrogate
    EXPECT_FALSE(text::decode(Bytes{'A', 0, 'B'}, Encoding::utf16le));  // odd length
    EXPECT_EQ(text::decodeLossy(Bytes{0x00, 0xD8, 'A', 0}, Encoding::utf16le), "\uFFFDA");
}

TEST(TextTest, TrimUpperCaseScalarsEquivalence) {
    EXPECT_EQ(text::trimWhitespaceAndNewlines(" \t\n\u00a0\u2003 code \r\n\u0085"), "code");
    EXPECT_EQ(text::trimWhitespaceAndNewlines("   "), "");
    EXPECT_EQ(text::trimWhitespaceAndNewlines("a b"), "a b");
    EXPECT_EQ(text::toUpper("stra\u00dfe \ufb01 \u0131"), "STRASSE FI I");
    EXPECT_EQ(text::scalars("e\u0301\U0001F600\xFF"), U"e\u0301\U0001F600\u00FF");
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
