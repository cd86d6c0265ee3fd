// SPDX-License-Identifier: MIT
// The axml carrier: codes found in EBU Core XML, replaced where they stand, removed, added.
#include "core/formats/axml.h"

#include <gtest/gtest.h>

#include "core/tag_error.h"

namespace pelorix {
namespace {

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ebucore:ebuCoreMain "
    "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
    "xmlns:ebucore=\"urn:ebu:metadata-schema:ebucore\">\n  <ebucore:coreMetadata>\n";
const std::string kTail = "  </ebucore:coreMetadata>\n</ebucore:ebuCoreMain>\n";
std::string identifier(const std::string& text, const std::string& label = "ISRC") {
    return "    <ebucore:identifier typeLabel=\"GUID\" formatLabel=\"" + label +
           "\"><dc:identifier>" + text + "</dc:identifier></ebucore:identifier>\n";
}
// Other metadata that must come through every edit: a title, an ADM-like block, a comment.
const std::string kOther =
    "    <ebucore:title><dc:title>Take &amp; 5</dc:title></ebucore:title>\n"
    "    <!-- mastered 2026 -->\n    <audioFormatExtended version='ITU-R_BS.2076-2'/>\n";

TEST(Axml, FindsEveryCodeAndNothingElse) {
    const struct {
        std::string xml;
        std::vector<std::string> codes;
    } cases[] = {
        {kHead + identifier("ISRC:GBAYE2600077") + kOther + kTail, {"GBAYE2600077"}},
        {kHead + identifier(" isrc:GBAYE2600077 ") + identifier("FIABC2600001") + kTail,
         {"GBAYE2600077", "FIABC2600001"}},
        {kHead + identifier("ISRC:GBAYE2600077", "UMID") + kTail, {}},
        {kHead + identifier("ISRC:GBAYE2600077") + kTail + std::string(5, '\0'), {"GBAYE2600077"}},
        {kHead + identifier("ISRC:<![CDATA[GBAYE2600077]]>") + kTail, {"GBAYE2600077"}},
        {"<not xml", {}},
        {"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(formats::axml::isrcs(c.xml), c.codes) << c.xml;
}

TEST(Axml, EditsKeepTheRestOfTheDocument) {
    const std::string one = kHead + identifier("ISRC:GBAYE2600077") + kOther + kTail;
    const std::string two =
        kHead + kOther + identifier("ISRC:GBAYE2600077") + identifier("ISRC:DEXYZ2600002") + kTail;
    const std::string none = kHead + kOther + kTail;
    const std::string code = "FIABC2600001";
    // Replaced in place: the same bytes but for the values.
    EXPECT_EQ(formats::axml::withISRC(one, code, false),
              kHead + identifier("ISRC:FIABC2600001") + kOther + kTail);
    EXPECT_EQ(
        formats::axml::withISRC(two, code, false),
        kHead + kOther + identifier("ISRC:FIABC2600001") + identifier("ISRC:FIABC2600001") + kTail);
    // Without a carrier, nothing changes unless one is to be added.
    EXPECT_EQ(formats::axml::withISRC(none, code, false), none);
    EXPECT_EQ(formats::axml::withISRC(none, std::nullopt, true), none);
    EXPECT_EQ(formats::axml::isrcs(formats::axml::withISRC("", code, true)), std::vector{code});
    // Every other byte stays as it was, whatever the edit: the title with its entity, the
    // comment, the ADM part, the white space around a removed or added element.
    const std::string added =
        "<ebucore:identifier typeLabel=\"GUID\" typeDefinition=\"Globally Unique Identifier\" "
        "formatLabel=\"ISRC\" formatDefinition=\"International Standard Recording "
        "Code\"><dc:identifier>ISRC:FIABC2600001</dc:identifier></ebucore:identifier>";
    const struct {
        std::string xml;
        std::optional<std::string> code;
        std::string out;
    } spliced[] = {
        {none, code, kHead + kOther + "  " + added + kTail.substr(2)},
        {one, std::nullopt, kHead + "    \n" + kOther + kTail},
        {two, std::nullopt, kHead + kOther + "    \n    \n" + kTail},
        {kHead + identifier("ISRC:<![CDATA[GBAYE2600077]]>") + kOther + kTail, code,
         kHead + identifier("ISRC:" + code) + kOther + kTail},
        {kHead +
             "    <ebucore:identifier formatLabel=\"ISRC\"><dc:identifier/></ebucore:identifier>" +
             kTail,
         code,
         kHead + "    <ebucore:identifier formatLabel=\"ISRC\"><dc:identifier>ISRC:" + code +
             "</dc:identifier></ebucore:identifier>" + kTail},
    };
    for (const auto& c : spliced) {
        EXPECT_EQ(formats::axml::withISRC(c.xml, c.code, true), c.out) << c.xml;
    }
    EXPECT_THROW(formats::axml::withISRC("<a><b></a>", code, false), TagError);
}

}  // namespace
}  // namespace pelorix
