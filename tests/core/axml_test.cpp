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
    const struct {
        std::string xml;
        std::optional<std::string> code;
        std::vector<std::string> after;
    } rewritten[] = {
        {none, code, {code}},
        {"", code, {code}},
        {one, std::nullopt, {}},
        {two, std::nullopt, {}},
        {kHead + identifier("ISRC:<![CDATA[GBAYE2600077]]>") + kOther + kTail, code, {code}},
    };
    for (const auto& c : rewritten) {
        const std::string out = formats::axml::withISRC(c.xml, c.code, true);
        EXPECT_EQ(formats::axml::isrcs(out), c.after) << out;
        if (!c.xml.empty()) {
            // Everything else survives: the title with its entity, the comment, the ADM part.
            EXPECT_NE(out.find("<dc:title>Take &amp; 5</dc:title>"), std::string::npos) << out;
            EXPECT_NE(out.find("<!-- mastered 2026 -->"), std::string::npos) << out;
            EXPECT_NE(out.find("audioFormatExtended"), std::string::npos) << out;
        }
    }
    EXPECT_THROW(formats::axml::withISRC("<a><b></a>", code, false), TagError);
}

}  // namespace
}  // namespace pelorix
