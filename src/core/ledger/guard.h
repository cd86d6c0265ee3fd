// SPDX-License-Identifier: MIT
#pragma once
// The check every front end makes before it writes codes (command line, lists, sequences, the
// window): the files' facts gathered, the rule applied against the ledger and within the batch,
// and the codes claimed for their recordings.

#include <cstdint>
#include <vector>

#include "core/ledger/ledger.h"

namespace pelorix::ledger {

// What the ledger keeps of a file: its format, what its tags say of it and the code it
// carries, with `identity` as the grouping found it and the digest that costs least added (a
// FLAC's stored MD5, the XXH3 of a WAV's or AIFF's samples). Throws TagError or
// std::system_error.
FileFacts factsOf(recordings::Identity identity);

// The rule for a batch about to be written, by the same-recording rule of the engine. A file
// whose samples the ledger may know under the other digest (MD5, XXH3) has that one taken too. A
// file refused only because it could not be told apart from a file in the ledger is heard (an
// acoustic fingerprint, where one can be taken) and checked again. When nothing is refused, or
// `reuse`, and `claim`, the codes are claimed: `claimed` gets one entry id per file (0 for a
// kept one), to be settled once the writes are done.
std::vector<Refusal> guard(Ledger& ledger, std::vector<Planned>& batch, bool reuse, bool claim,
                           std::vector<std::int64_t>& claimed);

}  // namespace pelorix::ledger
