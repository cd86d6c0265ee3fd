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

std::string shownPath(const std::filesystem::path& p) {
    return p.string();
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

std::vector<std::vector<std::size_t>> groupRecordings(const std::vector<Identity>& files,
                                                      const Compare& compare) {
    // Union of every pair found to be one recording; lengths rule most pairs out cheaply.
    std::vector<std::size_t> root(files.size());
    std::iota(root.begin(), root.end(), std::size_t{0});
    const auto find = [&](std::size_t i) {
        while (root[i] != i) i = root[i] = root[root[i]];
        return i;
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (find(i) == find(j) || lengthsRuleOut(files[i], files[j])) continue;
            if (kinship(files[i], files[j], compare) == Kinship::same) {
                const std::size_t a = find(i), b = find(j);
                root[std::max(a, b)] = std::min(a, b);
            }
        }
    }
    std::map<std::size_t, std::size_t> groupOf;
    std::vector<std::vector<std::size_t>> groups;
    for (std::size_t i = 0; i < files.size(); ++i) {
        auto [it, fresh] = groupOf.try_emplace(find(i), groups.size());
        if (fresh) groups.emplace_back();
        groups[it->second].push_back(i);
    }
    return groups;
}

std::vector<Refusal> batchRefusals(const std::vector<Planned>& batch, const Compare& compare) {
    // Kept files first: what they carry stands, the files written beside them must agree.
    std::vector<std::size_t> order(batch.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_partition(order.begin(), order.end(), [&](std::size_t i) { return batch[i].kept; });
    std::vector<Identity> ids;
    ids.reserve(batch.size());
    for (std::size_t i : order) ids.push_back(batch[i].file.identity);
    std::vector<Refusal> refusals;
    const auto refuse = [&](std::size_t i, std::string message) {
        if (!batch[i].kept) refusals.push_back({i, std::move(message)});
    };
    for (const std::vector<std::size_t>& group : groupRecordings(ids, compare)) {
        // One recording: every file takes the code of its first.
        const Planned& first = batch[order[group.front()]];
        for (std::size_t k = 1; k < group.size(); ++k) {
            const Planned& p = batch[order[group[k]]];
            if (p.code == first.code) continue;
            refuse(order[group[k]], shownPath(p.file.identity.path) + " is the same recording as " +
                                        shownPath(first.file.identity.path) + ", which " +
                                        (first.kept ? "carries " : "gets ") +
                                        first.code.formatted() + " in this batch.");
        }
    }
    // One code: every file that gets it holds one recording, that of the first file.
    std::map<std::string, std::vector<std::size_t>> byCode;  // positions in `order`
    for (std::size_t k = 0; k < order.size(); ++k) byCode[batch[order[k]].code.code()].push_back(k);
    for (const auto& [code, files] : byCode) {
        for (std::size_t k = 1; k < files.size(); ++k) {
            bool kin = false;
            for (std::size_t m = 0; m < k && !kin; ++m) {
                kin = kinship(ids[files[k]], ids[files[m]], compare) == Kinship::same;
            }
            if (kin) continue;
            const Identity& a = ids[files[0]];
            const bool unsure = kinship(ids[files[k]], a, compare) == Kinship::unknown;
            refuse(
                order[files[k]],
                formatted(code) + " is also given to " + shownPath(a.path) + " in this batch, " +
                    (unsure ? "which may hold a different recording." : "a different recording."));
        }
    }
    std::stable_sort(refusals.begin(), refusals.end(),
                     [](const Refusal& a, const Refusal& b) { return a.index < b.index; });
    return refusals;
}

std::optional<std::string> ledgerRefusal(const Planned& planned, const std::vector<Entry>& ofCode,
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
        return planned.code.formatted() + " was given to " + describe(*other) +
               (unsure ? ", which may be a different recording." : ".");
    }
    // The recording: it must have no other code.
    for (const Entry& e : nearby) {
        if (!e.code || *e.code == planned.code.code()) continue;
        if (kinship(me, e.file.identity, compare) != Kinship::same) continue;
        return "This recording already has " + formatted(*e.code) + ", given to " + describe(e) +
               ".";
    }
    return std::nullopt;
}

std::string describe(const Entry& entry) {
    const std::filesystem::path& p = entry.file.identity.path;
    std::string shown = p.has_parent_path() && p.parent_path().has_filename()
                            ? (p.parent_path().filename() / p.filename()).string()
                            : p.filename().string();
    std::string text;
    if (!entry.file.description.title.empty()) text = "'" + entry.file.description.title + "' ";
    text += "(" + shown + ")";
    if (entry.time.size() >= 10) text += " on " + entry.time.substr(0, 10);
    return text;
}

}  // namespace pelorix::ledger
