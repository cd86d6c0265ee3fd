// SPDX-License-Identifier: MIT
#pragma once
// One code, one recording: the check every front end makes before it writes a code. A code
// given to one recording is never given to another; a recording that has a code gets no other;
// within one batch the files of one recording share one code.

#include <optional>
#include <string>
#include <vector>

#include "core/ledger/ledger.h"

namespace pelorix::ledger {

enum class Kinship { same, different, unknown };

// Whether two files hold one recording: what `compare` says, and where it cannot tell, the
// names: one path, or one folder and one name apart from the extension (Song.wav, Song.flac).
Kinship kinship(const recordings::Identity& a, const recordings::Identity& b,
                const Compare& compare);

// The refusals within one batch, by the recordings its files were grouped into: two
// recordings with one code, one recording with two codes. Each later file is refused, naming
// the earlier one (a kept file is never refused: the files beside it are).
std::vector<Refusal> batchRefusals(const std::vector<Planned>& batch);

// The refusal of `planned` against what the ledger holds: `ofCode`, the entries that gave
// its code; `nearby`, entries with another code that may be its recording (same digest,
// path or length). None when the rule lets it pass.
std::optional<Refusal> ledgerRefusal(const Planned& planned, const std::vector<Entry>& ofCode,
                                     const std::vector<Entry>& nearby, const Compare& compare);

// "'Opening' (CD1/01 Opening.wav) on 2026-03-02": the file an entry names, for a message.
std::string describe(const Entry& entry);

}  // namespace pelorix::ledger
