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
        // What costs least: a FLAC's stored MD5, the XXH3 of a WAV's or AIFF's samples.
        if (format == formats::AudioFormat::flac) {
            if (!identity.pcmDigest) identity.pcmDigest = recordings::sampleDigest(in, format);
        } else if (!identity.sampleHash) {
            identity.sampleHash = recordings::sampleHash(in, format);
        }
    }
    f.carried = read::readISRC(identity.path);
    f.identity = std::move(identity);
    return f;
}

namespace {

// The digest an entry of the same length kept instead of the one `id` has (the MD5 of a WAV
// beside a FLAC's, the XXH3 of a FLAC beside a WAV's): taken now, so that the same samples are
// found whichever digest each side kept.
void completeDigests(Ledger& ledger, recordings::Identity& id) {
    const Ledger::Wanted wanted = ledger.digestsWanted(id);
    if (!wanted.pcmDigest && !wanted.sampleHash) return;
    try {
        const FileIn in(id.path);
        const formats::AudioFormat format = formats::AudioFormat::detect(in);
        if (wanted.pcmDigest) id.pcmDigest = recordings::sampleDigest(in, format);
        if (wanted.sampleHash) id.sampleHash = recordings::sampleHash(in, format);
    } catch (const std::exception&) {
        // Not taken: the rule decides by what else it knows, as for a lossy file.
    }
}

}  // namespace

std::vector<Refusal> guard(Ledger& ledger, std::vector<Planned>& batch, bool reuse, bool claim,
                           std::vector<std::int64_t>& claimed) {
    for (Planned& p : batch) {
        if (!p.kept) completeDigests(ledger, p.file.identity);
    }
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
