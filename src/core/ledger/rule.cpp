// SPDX-License-Identifier: MIT
#include "core/ledger/rule.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>

#include "core/lists/code_list.h"

namespace pelorix::ledger {

namespace {

using recordings::Identity;

// Two lengths farther apart than this are not one recording, whatever else they share: a
// lossy copy differs from its master by its encoder's padding, a fraction of a second.
constexpr double kLengthSlack = 2.0;

bool lengthsRuleOut(const Identity& a, const Identity& b) {
    return a.seconds > 0 && b.seconds > 0 && std::abs(a.seconds - b.seconds) > kLengthSlack;
}

std::string formatted(const std::string& code) {
    const auto c = ISRC::parse(code);
    return c ? c->formatted() : code;
}

// The file as a message names it: its folder and its name ("CD1/01 Opening.wav").
std::string shownPath(const std::filesystem::path& p) {
    return p.has_parent_path() && p.parent_path().has_filename()
               ? (p.parent_path().filename() / p.filename()).string()
               : p.filename().string();
}

std::string nameOf(const Planned& p) {
    return p.name.empty() ? shownPath(p.file.identity.path) : p.name;
}

}  // namespace

Kinship kinship(const Identity& a, const Identity& b, const Compare& compare) {
    switch (compare(a, b).verdict) {
        case recordings::Verdict::same:
            return Kinship::same;
        case recordings::Verdict::different:
            return Kinship::different;
        case recordings::Verdict::unknown:
            break;
    }
    if (lengthsRuleOut(a, b)) return Kinship::different;
    const auto key = [](const std::filesystem::path& p) { return p.lexically_normal(); };
    if (key(a.path) == key(b.path)) return Kinship::same;
    if (lists::recordingOf(key(a.path)) == lists::recordingOf(key(b.path))) return Kinship::same;
    return Kinship::unknown;
}

std::vector<Refusal> batchRefusals(const std::vector<Planned>& batch) {
    // Kept files first: what they carry stands, the files written beside them must agree.
    std::vector<std::size_t> order(batch.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_partition(order.begin(), order.end(), [&](std::size_t i) { return batch[i].kept; });
    std::vector<Refusal> refusals;
    std::map<std::size_t, std::size_t> firstOfRecording;
    std::map<std::string, std::size_t> firstOfCode;
    for (std::size_t i : order) {
        const Planned& p = batch[i];
        const Planned& byRecording =
            batch[firstOfRecording.try_emplace(p.recording, i).first->second];
        const Planned& byCode = batch[firstOfCode.try_emplace(p.code.code(), i).first->second];
        if (p.kept) continue;
        if (!(p.code == byRecording.code)) {
            refusals.push_back({i, nameOf(p) + " is the same recording as " + nameOf(byRecording) +
                                       ", which " + (byRecording.kept ? "carries " : "gets ") +
                                       byRecording.code.formatted() + " in this batch."});
        } else if (p.recording != byCode.recording) {
            refusals.push_back({i, p.code.formatted() + " is also given to " + nameOf(byCode) +
                                       " in this batch, a different recording."});
        }
    }
    std::stable_sort(refusals.begin(), refusals.end(),
                     [](const Refusal& a, const Refusal& b) { return a.index < b.index; });
    return refusals;
}

std::optional<Refusal> ledgerRefusal(const Planned& planned, const std::vector<Entry>& ofCode,
                                     const std::vector<Entry>& nearby, const Compare& compare) {
    const Identity& me = planned.file.identity;
    // The code: it must have gone to this recording, or to nothing yet.
    const Entry* other = nullptr;
    bool unsure = false;
    bool kin = ofCode.empty();
    for (const Entry& e : ofCode) {
        const Kinship k = kinship(me, e.file.identity, compare);
        if (k == Kinship::same) {
            kin = true;
            break;
        }
        if (!other || (unsure && k == Kinship::different)) {
            other = &e;
            unsure = k == Kinship::unknown;
        }
    }
    if (!kin && other) {
        return Refusal{0,
                       planned.code.formatted() + " was given to " + describe(*other) +
                           (unsure ? ", which may be a different recording." : "."),
                       unsure, other->file.identity.path};
    }
    // The recording: it must have no other code.
    for (const Entry& e : nearby) {
        if (!e.code || *e.code == planned.code.code()) continue;
        if (kinship(me, e.file.identity, compare) != Kinship::same) continue;
        return Refusal{
            0,
            "This recording already has " + formatted(*e.code) + ", given to " + describe(e) + ".",
            false};
    }
    return std::nullopt;
}

std::string describe(const Entry& entry) {
    std::string text;
    if (!entry.file.description.title.empty()) text = "'" + entry.file.description.title + "' ";
    text += "(" + shownPath(entry.file.identity.path) + ")";
    if (entry.time.size() >= 10) text += " on " + entry.time.substr(0, 10);
    return text;
}

}  // namespace pelorix::ledger
