// SPDX-License-Identifier: MIT
#pragma once
// One place in a file that holds a code: where it is, in words a person reads ("ID3 TSRC",
// "axml", "Vorbis ISRC"), and the text stored there.

#include <string>
#include <string_view>
#include <vector>

namespace pelorix::formats {

struct Carrier {
    std::string place;
    std::string text;
    // A field that some tools fill with a code though it means something else (the RIFF INFO
    // source field) or one no write touches (an MP4 store's `xid `): shown, never counted as
    // the file's code, never written.
    bool reportOnly = false;
    friend bool operator==(const Carrier&, const Carrier&) = default;
};

using Carriers = std::vector<Carrier>;

// The name of the index-th of several like places: `first` for the first, "second " + `later`
// for the next, `later` + " 3" and on after it.
inline std::string nthPlace(std::size_t index, std::string_view first, std::string_view later) {
    if (index == 0) return std::string(first);
    if (index == 1) return "second " + std::string(later);
    return std::string(later) + " " + std::to_string(index + 1);
}

}  // namespace pelorix::formats
