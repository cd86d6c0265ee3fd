// SPDX-License-Identifier: MIT
// The axml carrier: codes found in EBU Core XML, replaced where they stand, removed, added;
// every case read in pieces of several sizes, so that each construct is also met split across
// two pieces.
#include "core/formats/axml.h"

#include <gtest/gtest.h>

#include "support/codec_harness.h"

namespace pelorix {
namespace {

using test::bytesOf;

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ebucore:ebuCoreMain "
    "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
    "xmlns:ebucore=\"urn:ebu:metadata-schema:ebucore\">\n  <ebucore:coreMetadata>\n";
const std::string kTail = "  </ebucore:coreMetadata>\n</ebucore:ebuCoreMain>\n";
std::string identifier(const std::string& text, const std::string& label = "ISRC") {
    return "    <ebucore:identifier typeLabel=\"GUID\" formatLabel=\"" + label +
           "\"><dc:identifier>" + text + "</dc:identifier></ebucore:identifier>\n";
}
// Other metadata that must come through every edit: a title with entities, a comment, an
// ADM-like block.
const std::string kOther =
    "    <ebucore:title><dc:title>Take &amp; 5 &org;</dc:title></ebucore:title>\n"
    "    <!-- mastered 2026 -->\n    <audioFormatExtended version='ITU-R_BS.2076-2'/>\n";
const std::string kCode = "FIABC2600001";

const std::size_t kPieces[] = {1, 3, 7, formats::axml::kPiece};

// The chunk lies between other bytes of the file, as it does in a WAV.
const std::string kBefore = "RIFF....WAVEaxml....";
const std::string kAfter = "data";
ByteRange chunkOf(const std::string& xml) {
    return {kBefore.size(), xml.size()};
}

TEST(Axml, FindsEveryCodeAndNothingElse) {
    using formats::axml::msg::axmlNotEdited;
    using formats::axml::msg::axmlTooComplex;
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "<a>";
    const struct {
        std::string xml;
        std::vector<std::string> codes;
        std::string_view error = {};
    } cases[] = {
        {kHead + identifier("ISRC:GBAYE2600077") + kOther + kTail, {"GBAYE2600077"}},
        {kHead + identifier(" isrc:GBAYE2600077 ") + identifier("FIABC2600001") + kTail,
         {"GBAYE2600077", "FIABC2600001"}},
        {kHead + identifier("ISRC:GBAYE2600077", "UMID") + kTail, {}},
        {kHead + identifier("ISRC:GBAYE2600077", "&#73;src") + kTail, {"GBAYE2600077"}},
        {kHead + identifier("ISRC:GBAYE2600077") + kTail + std::string(5, '\0'), {"GBAYE2600077"}},
        {kHead + identifier("ISRC:<![CDATA[GBAYE2600077]]>") + kTail, {"GBAYE2600077"}},
        // Escapes decoded; white space alone between two sections is no text.
        {kHead + identifier("ISRC:GB&#65;&#x59;E&lt;2600077") + kTail, {"GBAYE<2600077"}},
        {kHead + identifier("<![CDATA[GBAYE]]> <![CDATA[2600077]]>") + kTail, {"GBAYE2600077"}},
        // A comment inside is read past (and refused by an edit).
        {kHead + identifier("GBAYE<!-- x -->2600077") + kTail, {"GBAYE2600077"}},
        {"<!DOCTYPE a [<!ENTITY org \"x>\">]>" + kHead + identifier("GBAYE2600077") + kTail,
         {"GBAYE2600077"}},
        {kHead +
             "<ebucore:identifier note='a>\"b' formatLabel=\"ISRC\"><dc:identifier>"
             "GBAYE2600077</dc:identifier ></ebucore:identifier>" +
             kTail,
         {"GBAYE2600077"}},
        {"<not xml", {}},
        {"", {}},
        {std::string(9, '\0'), {}},
        {"<a></b>" + kHead + identifier("GBAYE2600077") + kTail, {}},
        // Refused: XML that breaks after a code, an identifier inside another, absurd sizes.
        {kHead + identifier("GBAYE2600077") + "<a></b>" + kTail, {}, axmlNotEdited},
        {kHead + identifier("GBAYE2600077") + "<![CDATA[x]]" + kTail, {}, axmlNotEdited},
        {kHead + "<ebucore:identifier formatLabel=\"ISRC\">" + identifier("GBAYE2600077") +
             "</ebucore:identifier>" + kTail,
         {},
         axmlNotEdited},
        {kHead + identifier(std::string(5000, 'x')) + kTail, {}, axmlTooComplex},
        {deep, {}, axmlTooComplex},
    };
    test::Scratch scratch;
    for (const auto& c : cases) {
        const auto path = scratch.put(bytesOf(kBefore + c.xml + kAfter));
        const FileIn in(path);
        for (const std::size_t piece : kPieces) {
            std::vector<std::string> codes;
            EXPECT_EQ(
                test::errorOf([&] { codes = formats::axml::isrcs(in, chunkOf(c.xml), piece); }),
                c.error)
                << c.xml << " in pieces of " << piece;
            EXPECT_EQ(codes, c.codes) << c.xml << " in pieces of " << piece;
        }
    }
}

TEST(Axml, EditsKeepTheRestOfTheDocument) {
    using formats::axml::msg::axmlNotEdited;
    const std::string one = kHead + identifier("ISRC:GBAYE2600077") + kOther + kTail;
    const std::string two =
        kHead + kOther + identifier("ISRC:GBAYE2600077") + identifier("ISRC:DEXYZ2600002") + kTail;
    const std::string none = kHead + kOther + kTail;
    const std::string bare = "    <ebucore:identifier formatLabel=\"ISRC\"/>\n";
    const struct {
        std::string xml;
        std::optional<std::string> code;
        std::string out;  // the same as `xml` for a chunk kept as it is
        std::string_view error = {};
    } cases[] = {
        // Replaced in place: the same bytes but for the values.
        {one, kCode, kHead + identifier("ISRC:" + kCode) + kOther + kTail},
        {two, kCode,
         kHead + kOther + identifier("ISRC:" + kCode) + identifier("ISRC:" + kCode) + kTail},
        // Without a carrier nothing changes.
        {none, kCode, none},
        {none, std::nullopt, none},
        // Every other byte stays as it was, whatever the edit: the title with its entities, the
        // comment, the ADM part, the white space around a removed element, the padding.
        {one, std::nullopt, kHead + "    \n" + kOther + kTail},
        {two, std::nullopt, kHead + kOther + "    \n    \n" + kTail},
        {one + std::string(3, '\0'), std::nullopt,
         kHead + "    \n" + kOther + kTail + std::string(3, '\0')},
        {kHead + identifier("ISRC:<![CDATA[GBAYE2600077]]>") + kOther + kTail, kCode,
         kHead + identifier("ISRC:" + kCode) + kOther + kTail},
        {kHead +
             "    <ebucore:identifier formatLabel=\"ISRC\"><dc:identifier/></ebucore:identifier>" +
             identifier("GBAYE2600077") + kTail,
         kCode,
         kHead + "    <ebucore:identifier formatLabel=\"ISRC\"><dc:identifier>ISRC:" + kCode +
             "</dc:identifier></ebucore:identifier>" + identifier("ISRC:" + kCode) + kTail},
        // An identifier without a code element gains one.
        {kHead + identifier("GBAYE2600077") + bare + kTail, kCode,
         kHead + identifier("ISRC:" + kCode) +
             "    <ebucore:identifier formatLabel=\"ISRC\"><dc:identifier>ISRC:" + kCode +
             "</dc:identifier></ebucore:identifier>\n" + kTail},
        // What an edit would lose or cannot be sure of is refused.
        {kHead + identifier("GBAYE<!-- x -->2600077") + kTail, kCode, {}, axmlNotEdited},
        {kHead + identifier("GBAYE<b/>2600077") + kTail, std::nullopt, {}, axmlNotEdited},
        {"<!DOCTYPE a>" + one, kCode, {}, axmlNotEdited},
    };
    test::Scratch scratch;
    for (const auto& c : cases) {
        for (const std::size_t piece : kPieces) {
            std::string error;
            const Bytes out = scratch.written(
                bytesOf(kBefore + c.xml + kAfter), [&](const FileIn& in, FileOut& o) {
                    error = test::errorOf([&] {
                        const auto pieces =
                            formats::axml::edited(in, chunkOf(c.xml), c.code, piece);
                        if (pieces) {
                            pieces->writeTo(in, o);
                        } else {
                            in.copy(kBefore.size(), c.xml.size(), o);
                        }
                    });
                });
            EXPECT_EQ(error, c.error) << c.xml << " in pieces of " << piece;
            if (!c.error.empty()) continue;
            EXPECT_EQ(std::string(out.begin(), out.end()), c.out)
                << c.xml << " in pieces of " << piece;
        }
    }
    // A new document holds the code and nothing else.
    const auto path = scratch.put(bytesOf(formats::axml::document(kCode)));
    EXPECT_EQ(formats::axml::isrcs(FileIn(path), {0, std::filesystem::file_size(path)}),
              std::vector{kCode});
}

}  // namespace
}  // namespace pelorix
