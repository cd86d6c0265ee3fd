// SPDX-License-Identifier: MIT
#pragma once
// The ISRC in a Broadcast WAV `axml` chunk: EBU Core XML, where an `identifier` element whose
// formatLabel is "ISRC" holds `<dc:identifier>ISRC:GBAYE2600077</dc:identifier>`. The chunk
// may hold much else (an ADM description of an immersive master, easily hundreds of
// megabytes), so it is read front to back in pieces of bounded size, never as a whole, and
// edited in place: only the identifier elements' bytes change.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/formats/id3v2.h"
#include "core/io/binary_io.h"

namespace pelorix::formats::axml {

// The messages of this unit's refusals.
namespace msg {
inline constexpr std::string_view axmlNotEdited =
    "The axml chunk holds an ISRC identifier in a form PELORIX does not change (markup inside "
    "the code, an identifier inside another, a document type declaration, or XML that is not "
    "well-formed after it).";
inline constexpr std::string_view axmlTooComplex =
    "The axml chunk's XML is nested too deeply, or holds a name, a label or a code too long "
    "for PELORIX to read.";
}  // namespace msg

// How much of the chunk is held at a time.
inline constexpr std::size_t kPiece = 64 * 1024;

// The stored texts of every ISRC identifier in the chunk's content at `chunk`, in document
// order, the "ISRC:" prefix dropped and white space trimmed. Empty for XML that holds none or is
// not well-formed. Throws TagError for XML beyond what PELORIX reads (msg::axmlTooComplex) or
// an identifier it would not change (msg::axmlNotEdited). `piece`: bytes read at a time.
std::vector<std::string> isrcs(const FileIn& in, const ByteRange& chunk,
                               std::size_t piece = kPiece);

// The chunk's new content with every ISRC identifier's code set to `code` (12 characters) or,
// for none, every ISRC identifier removed: the identifiers' bytes replaced, every other byte
// copied from `in` as it lies. None when the chunk holds no code (it is kept as it is). Throws
// as isrcs.
std::optional<id3v2::Pieces> edited(const FileIn& in, const ByteRange& chunk,
                                    const std::optional<std::string>& code,
                                    std::size_t piece = kPiece);

// A new document that holds `code` in its core metadata.
std::string document(const std::string& code);

}  // namespace pelorix::formats::axml
