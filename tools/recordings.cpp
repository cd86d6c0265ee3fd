// SPDX-License-Identifier: MIT
// The same-recording rule measured on a set made by scripts/recording-set.sh:
//   pelorix_recordings table DIR     every pair judged, as a table by kind of pair
//   pelorix_recordings speed FILE... fingerprints taken one after another, per second
//   pelorix_recordings group FILE... the batch grouped without listening, and what it cost
// In the set, t<N>/ holds one source track; master, its copies (master.flac, v0, b128, b320,
// aac) and louder.wav are one recording; radio, fade, remix are one each.
#include <sys/resource.h>

#include <algorithm>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/recordings/grouping.h"
#include "core/recordings/listen.h"
#include "core/recordings/recording.h"

namespace fs = std::filesystem;
using namespace pelorix::recordings;

namespace {

std::string variant(const fs::path& p) {
    const std::string stem = p.stem().string();
    if (stem == "radio" || stem == "fade" || stem == "remix" || stem == "refade") return stem;
    return "master";
}

int table(const fs::path& dir) {
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        if (e.is_regular_file()) files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    std::vector<Identity> ids(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) ids[i] = identify(files[i]);
    struct Row {
        int pairs = 0, same = 0, different = 0, unknown = 0;
        double lo = 1, hi = 0, window = 0;
    };
    std::map<std::string, Row> rows;
    int matched = 0, missed = 0, falseMatches = 0, apart = 0, undecided = 0, expectedSame = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        for (std::size_t j = i + 1; j < files.size(); ++j) {
            const bool sameTrack = files[i].parent_path() == files[j].parent_path();
            const bool expected = sameTrack && variant(files[i]) == variant(files[j]);
            std::string a = files[i].filename().string(), b = files[j].filename().string();
            if (a > b) std::swap(a, b);
            const std::string kind = sameTrack ? a + " ~ " + b : "other tracks";
            const Comparison c = compare(ids[i], ids[j]);
            Row& r = rows[(expected ? "same: " : "different: ") + kind];
            ++r.pairs;
            if (const auto s = similarity(ids[i].fingerprint, ids[j].fingerprint)) {
                r.lo = std::min(r.lo, s->errorRate);
                r.hi = std::max(r.hi, s->errorRate);
                r.window = std::max(r.window, s->worstWindow);
            }
            expectedSame += expected;
            switch (c.verdict) {
                case Verdict::same:
                    ++r.same;
                    ++(expected ? matched : falseMatches);
                    break;
                case Verdict::different:
                    ++r.different;
                    ++(expected ? missed : apart);
                    break;
                case Verdict::unknown:
                    ++r.unknown;
                    ++undecided;
                    break;
            }
        }
    }
    std::printf(
        "| pairs | n | judged same | judged different | undecided | bit errors | worst 5 s |\n");
    std::printf("|---|---:|---:|---:|---:|---|---:|\n");
    for (const auto& [kind, r] : rows) {
        std::printf("| %s | %d | %d | %d | %d | %.3f–%.3f | %.3f |\n", kind.c_str(), r.pairs,
                    r.same, r.different, r.unknown, r.lo, r.hi, r.window);
    }
    std::printf(
        "\n%zu files, %zu pairs: %d of %d same pairs matched, %d missed, %d false matches, "
        "%d told apart, %d undecided\n",
        files.size(), files.size() * (files.size() - 1) / 2, matched, expectedSame, missed,
        falseMatches, apart, undecided);
    return missed + falseMatches + undecided == 0 ? 0 : 1;
}

// Processor time (user and system) of this process and of the children it waited for: on a
// shared machine the clock also counts other people's work.
double processorSeconds() {
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage u{};
        ::getrusage(who, &u);
        total += double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                 double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

int speed(const std::vector<fs::path>& files) {
    if (!canListen()) {
        std::fprintf(stderr, "no fingerprints can be taken (neither fpcalc nor libchromaprint)\n");
        return 2;
    }
    (void)fingerprint(files.front());  // loads the library, if any, before the clock starts
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = processorSeconds();
    std::size_t items = 0, unheard = 0;
    for (const auto& f : files) {
        const Heard h = hear(f);
        items += h.items.size();
        unheard += h.items.empty();
    }
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double c = processorSeconds() - cpuStart;
    std::printf(
        "%zu fingerprints (%zu items, %zu not heard): %.2f s processor time, %.1f files per "
        "second per core (%.2f s on the clock)\n",
        files.size(), items, unheard, c, double(files.size()) / c, s);
    return unheard == 0 ? 0 : 1;
}

int grouped(const std::vector<fs::path>& files) {
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = processorSeconds();
    const Grouping g = group(files, false);
    const double c = processorSeconds() - cpuStart;
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::size_t digests = 0;
    for (const auto& m : g.members) digests += m.identity.pcmDigest.has_value();
    std::printf(
        "%zu files grouped into %zu recordings without listening (%zu sample digests known): "
        "%.2f s processor time (%.2f s on the clock)\n",
        files.size(), g.recordings, digests, c, s);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "table") return table(args[1]);
    if (args.size() >= 2 && args[0] == "speed") return speed({args.begin() + 1, args.end()});
    if (args.size() >= 2 && args[0] == "group") return grouped({args.begin() + 1, args.end()});
    std::fprintf(stderr, "usage: pelorix_recordings table DIR | speed FILE... | group FILE...\n");
    return 2;
}
