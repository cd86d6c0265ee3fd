// SPDX-License-Identifier: MIT
#include "core/ledger/guard.h"

#include "core/formats/format.h"
#include "core/io/binary_io.h"
#include "core/read/read.h"
#include "core/recordings/about.h"
#include "core/recordings/digest.h"

namespace pelorix::ledger {

FileFacts factsOf(recordings::Identity identity) {
    FileFacts f;
    {
        const FileIn in(identity.path);
        const formats::AudioFormat format = formats::AudioFormat::detect(in);
        f.format = std::string(format.label());
        const recordings::About about = recordings::about(in, format);
        f.description = {about.title.value_or(""), about.artist.value_or(""),
                         about.album.value_or(""),
                         about.track ? std::to_string(*about.track) : std::string(),
                         about.disc ? std::to_string(*about.disc) : std::string()};
        if (identity.seconds <= 0) identity.seconds = about.seconds;
        if (!identity.pcmDigest) identity.pcmDigest = recordings::sampleDigest(in, format);
    }
    f.carried = read::readISRC(identity.path);
    f.identity = std::move(identity);
    return f;
}

std::vector<Refusal> guard(Ledger& ledger, std::vector<Planned>& batch, bool reuse, bool claim,
                           std::vector<std::int64_t>& claimed) {
    const Compare compare = [](const recordings::Identity& a, const recordings::Identity& b) {
        return recordings::compare(a, b);
    };
    claimed.clear();
    std::vector<Refusal> refusals = ledger.check(batch, compare, reuse, claim, &claimed);
    if (refusals.empty() || reuse || !recordings::canListen()) return refusals;
    // Both sides are heard: the file to be written, and the file the ledger names where it
    // is still there and unchanged, whose fingerprint the ledger keeps from then on.
    bool heard = false;
    for (const Refusal& r : refusals) {
        if (!r.unsure) continue;
        try {
            recordings::Identity& id = batch[r.index].file.identity;
            if (id.fingerprint.empty()) {
                id.fingerprint = recordings::identify(id.path, true).fingerprint;
                heard = heard || !id.fingerprint.empty();
            }
            std::error_code ec;
            if (!r.other.empty() && std::filesystem::is_regular_file(r.other, ec)) {
                const recordings::Identity other = recordings::identify(r.other, true);
                ledger.learn(other);
                heard = heard || !other.fingerprint.empty();
            }
        } catch (const std::exception&) {
            // Not heard: the refusal stands.
        }
    }
    if (!heard) return refusals;
    claimed.clear();
    return ledger.check(batch, compare, reuse, claim, &claimed);
}

}  // namespace pelorix::ledger
