// SPDX-License-Identifier: MIT
#pragma once
// The ISRC in a Broadcast WAV `axml` chunk: EBU Core XML, where an `identifier` element whose
// formatLabel is "ISRC" holds `<dc:identifier>ISRC:GBAYE2600077</dc:identifier>`. The chunk
// may hold much else (an ADM description of an immersive master), so it is edited in place,
// never replaced.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelorix::formats::axml {

// The messages of this unit's refusals.
namespace msg {
inline constexpr std::string_view axmlDamaged = "The axml chunk is not well-formed XML.";
}  // namespace msg

// The stored texts of every ISRC identifier, in document order, the "ISRC:" prefix dropped and
// white space trimmed. Empty for XML that holds none or cannot be parsed. Never fails.
std::vector<std::string> isrcs(std::string_view xml);

// The chunk's new text with every ISRC identifier set to `code` (12 characters) or, for none,
// removed. With `add`, a document without one gains one in its core metadata (a new document
// when `xml` is empty). The texts of existing identifiers are replaced where they stand, so
// every other byte stays as it was; removing or adding an element writes the document out
// again, the same XML in the same order. Throws TagError when `xml` is not well-formed.
std::string withISRC(std::string_view xml, const std::optional<std::string>& code, bool add);

}  // namespace pelorix::formats::axml
