// SPDX-License-Identifier: MIT
// The code value, the byte codecs, the file streams, the messages and the text services.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <system_error>

#include "core/io/binary_io.h"
#include "core/io/same_bytes.h"
#include "core/io/sha256.h"
#include "core/io/sys.h"
#include "core/io/text.h"
#include "core/isrc.h"
#include "core/tag_error.h"
#include "support/codec_harness.h"

using namespace pelorix;
using pelorix::test::TempDir;

// ---- ISRC ----------------------------------------------------------------------------------

// The typed forms a code is read from are stored cases: fuzz/corpus/isrc.tsv.
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

// The codec tests check the values the codecs read and write; here, four-character codes and
// the bounds.
TEST(ByteCodecsTest, TheReaderAndWriterAgreeAndNeverPassTheEnd) {
    Bytes b;
    ByteWriter(b)
        .u32BE(0xA1A2A3A4)
        .u32LE(0x15141312)
        .u16LE(0x1716)
        .fourCC(std::string("\u00e9a\u00ff\0", 6));
    EXPECT_EQ(
        b, (Bytes{0xA1, 0xA2, 0xA3, 0xA4, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0xE9, 'a', 0xFF, 0}));
    EXPECT_EQ(be32(b, 0), 0xA1A2A3A4u);
    ByteReader r(b, 10);
    EXPECT_EQ(r.readFourCC(), std::string("\u00e9a\u00ff\0", 6));  // ISO-8859-1 as UTF-8
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.readU16BE(), 0u);
    EXPECT_FALSE(r.ok());
    ByteReader near(b, b.size() - 2);
    EXPECT_TRUE(near.readBytes(3).empty());
    EXPECT_EQ(near.readU8(), 0u);  // once past the end, always past it
    EXPECT_FALSE(ByteReader(b, b.size() + 1).ok());
    EXPECT_EQ(asciiLower("AZaz@[\u00c9"), "azaz@[\u00c9");  // chunk IDs, extensions
}

// ---- streams (exclusive creation is in driver_test) -------------------------------------

TEST(StreamsTest, OpenFailuresCarryThePlatformText) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);  // opening it must not hang
    std::filesystem::create_directory(dir / "folder");
    for (const auto& [name, reason] :
         {std::pair("missing.wav", "No such file or directory"),
          std::pair("folder", "Is a directory"), std::pair("fifo", "Not a regular file")}) {
        EXPECT_EQ(test::errorOf([&] { FileIn in(dir / name); }),
                  std::string("Cannot open the file: ") + reason);
    }
    EXPECT_EQ(test::errorOf([&] { FileOut out(dir / "no-such-folder" / "x"); }),
              "Cannot write next to the file: No such file or directory");
}

// The comparison in pieces: its verdict (a difference in the last byte, an offset one off), no
// verdict when a file shrinks under it (the caller reads instead), and a read error passed on.
TEST(StreamsTest, ComparisonInPieces) {
    TempDir dir;
    Bytes data(5 << 20);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = std::uint8_t(i * 7 + i / 4099);
    Bytes shifted(3 + data.size());
    std::copy(data.begin(), data.end(), shifted.begin() + 3);
    Bytes changed = shifted;
    changed.back() ^= 1;
    enum class Fault { none, readFails, shrinks };
    const struct {
        const Bytes& other;
        std::uint64_t at;
        Fault fault;
        std::optional<bool> verdict;
    } cases[] = {{shifted, 3, Fault::none, true},
                 {changed, 3, Fault::none, false},
                 {shifted, 2, Fault::none, false},
                 {shifted, 3, Fault::readFails, std::nullopt},
                 {shifted, 3, Fault::shrinks, std::nullopt}};
    for (const auto& c : cases) {
        test::writeFile(dir / "a", data);
        test::writeFile(dir / "b", c.other);
        const FileIn a(dir / "a"), b(dir / "b");
        int reads = 0;
        sys::setFaultHook([&](sys::Op op, const std::string&) {
            if (op != sys::Op::read || ++reads != 3) return 0;
            if (c.fault == Fault::shrinks) {
                EXPECT_EQ(::truncate((dir / "a").c_str(), 1 << 20), 0);
            }
            return c.fault == Fault::readFails ? EIO : 0;
        });
        std::optional<bool> verdict;
        bool failed = false;
        try {
            verdict = sameBytes(a, 0, b, c.at, data.size());
        } catch (const std::system_error& e) {
            failed = e.code().value() == EIO;
        }
        sys::setFaultHook(nullptr);
        EXPECT_EQ(verdict, c.verdict);
        EXPECT_EQ(failed, c.fault == Fault::readFails);
    }
}

// ---- text services -------------------------------------------------------------------------

// Tag texts in every encoding, strict and lossy, are stored cases (fuzz/corpus, text-*).
TEST(TextTest, PairsTrimUpperCaseScalarsEquivalence) {
    using text::Encoding;
    EXPECT_EQ(*text::decode(Bytes{'A', 0, 0x3D, 0xD8, 0x00, 0xDE}, Encoding::utf16le),
              "A\U0001F600");
    EXPECT_EQ(text::decodeLossy(Bytes{0x00, 0xD8, 'A', 0}, Encoding::utf16le), "\uFFFDA");
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
