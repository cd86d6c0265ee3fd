// SPDX-License-Identifier: MIT
#pragma once
// A sheet's lines matched to candidate files by name, title or track, as a label's sheet names
// its recordings ("Track;Title;ISRC").

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/lists/code_list.h"

namespace pelorix::lists {

// A file a line may find, and what it says about itself. The tags are none until a reader of
// them fills them in; then they are asked first, and names only where a tag is missing.
struct Candidate {
    std::filesystem::path path;
    std::optional<std::string> title;  // the title tag
    std::optional<int> track;          // the track number tag
    std::optional<int> disc;           // the disc number tag
};

// One line's files: the indices of the candidates it finds, or a problem. Several files are
// given to the caller, who keeps them when they are one recording (a master and its copies,
// wherever they sit) and else refuses the line with `several`.
struct LineMatch {
    std::size_t line = 0;
    std::string code;  // the code cell as written
    std::vector<std::size_t> files;
    std::string problem;       // empty when the line found its files
    std::string several = {};  // several files: the refusal when they are not one recording
};

// Matches every row of the sheet by `by` (name, title or track; a path is not matched here):
//  - name: the cell's last part against the file name, with or without its extension;
//  - title: against the title tag, or the file name without the extension and without its
//    leading track number ("01 Opening.wav", "1-01. Opening.wav" → "Opening");
//  - track: "1-01", "CD1/01", "01" (with a disc column beside it, or none) against the track
//    and disc tags, else the file name's leading number and the disc its folder names
//    ("CD1", "Disc 2"); a line without a disc finds a track on any disc.
// Case and the spacing of words do not count.
std::vector<LineMatch> match(const Sheet& sheet, const ColumnChoice& columns, MatchBy by,
                             const std::vector<Candidate>& candidates);

}  // namespace pelorix::lists
