// SPDX-License-Identifier: MIT
#include "core/recordings/grouping.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <functional>
#include <map>
#include <numeric>
#include <optional>
#include <set>
#include <thread>
#include <tuple>

#include "core/io/binary_io.h"
#include "core/recordings/about.h"
#include "core/recordings/digest.h"
#include "core/recordings/listen.h"

namespace pelorix::recordings {
namespace {

// Runs fn(0) … fn(n-1) on every core.
void parallelFor(std::size_t n, const std::function<void(std::size_t)>& fn) {
    const std::size_t workers =
        std::min<std::size_t>(n, std::max(1u, std::thread::hardware_concurrency()));
    std::atomic<std::size_t> next = 0;
    auto work = [&] {
        for (std::size_t i; (i = next++) < n;) fn(i);
    };
    std::vector<std::thread> threads;
    for (std::size_t t = 1; t < workers; ++t) threads.emplace_back(work);
    work();
    for (auto& t : threads) t.join();
}

std::string messageOf(std::exception_ptr e) {
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& x) {
        return x.what();
    } catch (...) {
        return "The file could not be read.";
    }
}

struct Edge {
    std::size_t a, b;
    std::string why;  // "the same samples as"
};

class Batch {
  public:
    explicit Batch(const std::vector<std::filesystem::path>& files)
        : files_(files), parent_(files.size()) {
        std::iota(parent_.begin(), parent_.end(), 0);
        out_.members.resize(files.size());
        formats_.resize(files.size(), formats::AudioFormat::mp3);
    }

    Grouping run(bool listen) {
        readHeaders();
        joinByName();
        digestWhereOpen();
        listenWhereOpen(listen);
        number();
        return std::move(out_);
    }

  private:
    Member& m(std::size_t i) { return out_.members[i]; }
    bool lossless(std::size_t i) const {
        return formats_[i] == formats::AudioFormat::wav ||
               formats_[i] == formats::AudioFormat::aiff ||
               formats_[i] == formats::AudioFormat::flac;
    }
    std::size_t find(std::size_t i) {
        while (parent_[i] != i) i = parent_[i] = parent_[parent_[i]];
        return i;
    }
    void join(std::size_t a, std::size_t b, std::string why) {
        if (find(a) == find(b)) return;
        parent_[find(b)] = find(a);
        edges_.push_back({a, b, std::move(why)});
    }

    // Lengths and FLAC's stored digest: headers only.
    void readHeaders() {
        std::vector<std::exception_ptr> errors(files_.size());
        parallelFor(files_.size(), [&](std::size_t i) {
            try {
                Identity& id = m(i).identity;
                id.path = std::filesystem::absolute(files_[i]).lexically_normal();
                const FileIn in(id.path);
                formats_[i] = formats::AudioFormat::detect(in);
                id.seconds = about(in, formats_[i]).seconds;
                if (formats_[i] == formats::AudioFormat::flac)
                    id.pcmDigest = sampleDigest(in, formats_[i]);
            } catch (...) {
                errors[i] = std::current_exception();
            }
        });
        for (std::size_t i = 0; i < files_.size(); ++i) {
            if (errors[i]) m(i).error = messageOf(errors[i]);
        }
    }

    void joinByName() {
        std::map<std::filesystem::path, std::vector<std::size_t>> byName;
        for (std::size_t i = 0; i < files_.size(); ++i) {
            if (!m(i).error.empty()) continue;
            auto& earlier = byName[nameKey(m(i).identity.path)];
            for (std::size_t e : earlier) {
                if (!lengthsDiffer(m(e).identity.seconds, m(i).identity.seconds)) {
                    join(e, i, "the same name and length as ");
                    break;
                }
            }
            earlier.push_back(i);
        }
    }

    // Pairs of groups (by a member of each) whose lengths do not tell them apart.
    std::vector<std::pair<std::size_t, std::size_t>> openPairs() {
        std::map<std::size_t, std::vector<std::size_t>> groups;
        for (std::size_t i = 0; i < files_.size(); ++i) {
            if (m(i).error.empty()) groups[find(i)].push_back(i);
        }
        std::vector<std::vector<std::size_t>> list;
        for (auto& [root, members] : groups) list.push_back(std::move(members));
        std::vector<std::pair<std::size_t, std::size_t>> pairs;
        for (std::size_t g = 0; g < list.size(); ++g) {
            for (std::size_t h = g + 1; h < list.size(); ++h) {
                const bool open = std::any_of(list[g].begin(), list[g].end(), [&](std::size_t a) {
                    return std::any_of(list[h].begin(), list[h].end(), [&](std::size_t b) {
                        return !lengthsDiffer(m(a).identity.seconds, m(b).identity.seconds);
                    });
                });
                if (open) pairs.emplace_back(list[g].front(), list[h].front());
            }
        }
        return pairs;
    }

    // The samples of WAV and AIFF files, read where two open groups both hold lossless files.
    void digestWhereOpen() {
        std::map<std::size_t, std::vector<std::size_t>> losslessIn;  // by group
        for (std::size_t i = 0; i < files_.size(); ++i) {
            if (m(i).error.empty() && lossless(i)) losslessIn[find(i)].push_back(i);
        }
        std::vector<bool> wanted(files_.size(), false);
        for (auto [a, b] : openPairs()) {
            const auto ia = losslessIn.find(find(a)), ib = losslessIn.find(find(b));
            if (ia == losslessIn.end() || ib == losslessIn.end()) continue;
            for (std::size_t i : ia->second) wanted[i] = true;
            for (std::size_t i : ib->second) wanted[i] = true;
        }
        // A cheap look first (the length of the samples, a piece of their middle): only files
        // that still agree with another lossless file are read to the end.
        std::vector<std::optional<SampleKey>> keys(files_.size());
        std::vector<std::exception_ptr> errors(files_.size());
        parallelFor(files_.size(), [&](std::size_t i) {
            // Every FLAC that stored a digest: a WAV may equal it without their groups being open.
            const bool look = formats_[i] == formats::AudioFormat::flac
                                  ? m(i).identity.pcmDigest.has_value()
                                  : bool(wanted[i]);
            if (!look || !m(i).error.empty()) return;
            try {
                const FileIn in(m(i).identity.path);
                keys[i] = sampleKey(in, formats_[i], false);
            } catch (...) {
                errors[i] = std::current_exception();
            }
        });
        // A FLAC's middle is decoded only where a WAV or AIFF wanted has its exact length.
        std::set<std::uint64_t> lengths;
        for (std::size_t i = 0; i < files_.size(); ++i) {
            if (keys[i] && wanted[i] && formats_[i] != formats::AudioFormat::flac)
                lengths.insert(keys[i]->bytes);
        }
        parallelFor(files_.size(), [&](std::size_t i) {
            if (!keys[i] || formats_[i] != formats::AudioFormat::flac || keys[i]->bytes == 0 ||
                !lengths.contains(keys[i]->bytes)) {
                return;
            }
            try {
                const FileIn in(m(i).identity.path);
                keys[i] = sampleKey(in, formats_[i], true);
            } catch (...) {
                errors[i] = std::current_exception();
            }
        });
        std::vector<std::size_t> keyed;
        for (std::size_t i = 0; i < files_.size(); ++i) {
            if (keys[i]) keyed.push_back(i);
        }
        std::sort(keyed.begin(), keyed.end(),
                  [&](std::size_t a, std::size_t b) { return keys[a]->bytes < keys[b]->bytes; });
        std::vector<bool> full(files_.size(), false);
        // Files of unknown length (0) sort first and may match any.
        std::size_t unknownEnd = 0;
        while (unknownEnd < keyed.size() && keys[keyed[unknownEnd]]->bytes == 0) ++unknownEnd;
        for (std::size_t x = 0; x < keyed.size(); ++x) {
            const std::size_t i = keyed[x];
            if (!wanted[i] || formats_[i] == formats::AudioFormat::flac) continue;
            auto alike = [&](std::size_t y) {
                const std::size_t j = keyed[y];
                return j != i && keys[i]->mayMatch(*keys[j]);
            };
            bool any = false;
            for (std::size_t y = 0; y < unknownEnd && !any; ++y) any = alike(y);
            // The run of files whose samples take as many bytes.
            for (std::size_t y = x;
                 !any && y-- > unknownEnd && keys[keyed[y]]->bytes == keys[i]->bytes;) {
                any = alike(y);
            }
            for (std::size_t y = x + 1;
                 !any && y < keyed.size() && keys[keyed[y]]->bytes == keys[i]->bytes; ++y) {
                any = alike(y);
            }
            if (keys[i]->bytes == 0) {
                for (std::size_t y = unknownEnd; y < keyed.size() && !any; ++y) any = alike(y);
            }
            full[i] = any;
        }
        parallelFor(files_.size(), [&](std::size_t i) {
            if (!full[i] || errors[i]) return;
            try {
                const FileIn in(m(i).identity.path);
                m(i).identity.pcmDigest = sampleDigest(in, formats_[i]);
            } catch (...) {
                errors[i] = std::current_exception();
            }
        });
        std::map<std::string, std::size_t> byDigest;
        for (std::size_t i = 0; i < files_.size(); ++i) {
            if (errors[i]) m(i).error = messageOf(errors[i]);
            const auto& digest = m(i).identity.pcmDigest;
            if (!m(i).error.empty() || !digest) continue;
            if (auto [it, fresh] = byDigest.try_emplace(*digest, i); !fresh) {
                join(it->second, i, "the same samples as ");
            }
        }
    }

    // One file heard for each group still open: the cheapest to decode.
    void listenWhereOpen(bool listen) {
        const auto pairs = openPairs();
        if (pairs.empty()) return;
        auto cost = [this](std::size_t i) {
            switch (formats_[i]) {
                case formats::AudioFormat::wav:
                case formats::AudioFormat::aiff:
                    return 0;
                case formats::AudioFormat::flac:
                    return 1;
                case formats::AudioFormat::mp3:
                    return 2;
                case formats::AudioFormat::m4a:
                    break;
            }
            return 3;
        };
        std::map<std::size_t, std::size_t> heard;  // group root → member heard
        for (auto [a, b] : pairs) {
            for (std::size_t g : {a, b}) {
                const std::size_t root = find(g);
                auto [it, fresh] = heard.try_emplace(root, g);
                if (!fresh) continue;
                for (std::size_t i = 0; i < files_.size(); ++i) {
                    if (m(i).error.empty() && find(i) == root && cost(i) < cost(it->second))
                        it->second = i;
                }
            }
        }
        const bool canHear = listen && canListen();
        std::vector<std::string> problems(files_.size());  // why a file was not heard
        if (canHear) {
            std::vector<std::size_t> todo;
            for (auto [root, i] : heard) todo.push_back(i);
            parallelFor(todo.size(), [&](std::size_t k) {
                Identity& id = m(todo[k]).identity;
                try {
                    Heard h = hear(id.path);
                    id.fingerprint = std::move(h.items);
                    problems[todo[k]] = std::move(h.problem);
                } catch (const std::exception& e) {
                    id.fingerprint.clear();  // no process could be started: not heard
                    problems[todo[k]] = e.what();
                }
            });
        }
        // The files heard for each pair, fixed before any group joins another.
        std::vector<std::pair<std::size_t, std::size_t>> heardPairs;
        for (auto [a, b] : pairs) heardPairs.emplace_back(heard.at(find(a)), heard.at(find(b)));
        // Pairs left open, with their reason: one of a few texts, kept once.
        std::vector<std::tuple<std::size_t, std::size_t, std::size_t>> unknown;
        std::vector<std::string> reasons;
        std::map<std::string, std::size_t> reasonIndex;
        for (auto [ha, hb] : heardPairs) {
            if (find(ha) == find(hb)) continue;
            const Comparison c = compare(m(ha).identity, m(hb).identity);
            if (c.verdict == Verdict::same) {
                join(ha, hb, "sounds like ");
            } else if (c.verdict == Verdict::unknown) {
                std::string why = listen ? c.reason : "they were not compared by sound";
                for (std::size_t x : {ha, hb}) {
                    if (!problems[x].empty()) {
                        why = files_[x].string() + " could not be heard: " + problems[x];
                    }
                }
                const auto [it, fresh] = reasonIndex.try_emplace(std::move(why), reasons.size());
                if (fresh) reasons.push_back(it->first);
                unknown.emplace_back(ha, hb, it->second);
            }
        }
        // Each recording still open says so, naming the file of the first pair it is part of.
        std::map<std::size_t, std::string> doubt;  // by group
        for (const auto& [a, b, why] : unknown) {
            const std::size_t ra = find(a), rb = find(b);
            if (ra == rb) continue;
            if (!doubt.contains(ra)) {
                doubt[ra] =
                    "may be the same recording as " + files_[b].string() + ": " + reasons[why];
            }
            if (!doubt.contains(rb)) {
                doubt[rb] =
                    "may be the same recording as " + files_[a].string() + ": " + reasons[why];
            }
        }
        for (std::size_t i = 0; i < files_.size(); ++i) {
            const auto it = doubt.find(find(i));
            if (m(i).undecided.empty() && it != doubt.end()) m(i).undecided = it->second;
        }
    }

    void number() {
        std::map<std::size_t, std::size_t> index;
        std::vector<std::vector<std::pair<std::size_t, const Edge*>>> near(files_.size());
        for (const Edge& e : edges_) {
            near[e.a].push_back({e.b, &e});
            near[e.b].push_back({e.a, &e});
        }
        std::vector<bool> seen(files_.size(), false);
        for (std::size_t i = 0; i < files_.size(); ++i) {
            if (!m(i).error.empty()) {
                m(i).recording = out_.recordings++;
                m(i).undecided = "it could not be read";
                continue;
            }
            auto [it, fresh] = index.try_emplace(find(i), out_.recordings);
            m(i).recording = it->second;
            if (!fresh) continue;
            ++out_.recordings;
            // Each file's reason names the file it was found alike to, walking out from the first.
            std::vector<std::size_t> queue{i};
            seen[i] = true;
            for (std::size_t q = 0; q < queue.size(); ++q) {
                for (auto [next, edge] : near[queue[q]]) {
                    if (seen[next]) continue;
                    seen[next] = true;
                    m(next).reason = edge->why + files_[queue[q]].string();
                    queue.push_back(next);
                }
            }
        }
    }

    const std::vector<std::filesystem::path>& files_;
    std::vector<std::size_t> parent_;
    std::vector<formats::AudioFormat> formats_;
    std::vector<Edge> edges_;
    Grouping out_;
};

}  // namespace

Grouping group(const std::vector<std::filesystem::path>& files, bool listen) {
    return Batch(files).run(listen);
}

}  // namespace pelorix::recordings
