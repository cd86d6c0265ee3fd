// SPDX-License-Identifier: MIT
#pragma once
// Work on many files at once, results in the order the files were named: reading thousands of
// small files is mostly waiting for the kernel, which a second core halves.

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <vector>

namespace pelorix::cli {

// Runs work(i) for every i below `count` on up to `threads` threads and calls use(i, result) on
// the calling thread for each, strictly in order of i, as soon as it and every one before it are
// done. At most `ahead` results wait to be used, so memory stays bounded at any count. An
// exception from work(i) is rethrown from here in its turn; one from use stops the rest.
template <typename Work, typename Use>
void inOrder(std::size_t count, unsigned threads, Work work, Use use, std::size_t ahead = 64) {
    using Result = std::invoke_result_t<Work&, std::size_t>;
    threads = unsigned(std::min<std::size_t>(threads, count));
    if (threads <= 1) {
        for (std::size_t i = 0; i < count; ++i) use(i, work(i));
        return;
    }
    struct Slot {
        std::optional<Result> result;
        std::exception_ptr error;
        bool done = false;
    };
    // Workers take a few indices at a time, so that they seldom meet at the lock.
    const std::size_t step = std::max<std::size_t>(1, ahead / (4 * threads));
    std::vector<Slot> slots(ahead);
    std::mutex m;
    std::condition_variable space, ready;  // workers wait for room ahead, the caller for a result
    std::size_t claimed = 0, used = 0;
    bool stop = false;
    const auto worker = [&] {
        std::unique_lock lock(m);
        for (;;) {
            space.wait(lock,
                       [&] { return stop || claimed == count || claimed + step <= used + ahead; });
            if (stop || claimed == count) return;
            const std::size_t first = claimed, last = std::min(count, claimed + step);
            claimed = last;
            lock.unlock();
            for (std::size_t i = first; i < last; ++i) {
                Slot slot;
                try {
                    slot.result.emplace(work(i));
                } catch (...) {
                    slot.error = std::current_exception();
                }
                slot.done = true;
                lock.lock();
                slots[i % ahead] = std::move(slot);
                const bool awaited = i == used;
                lock.unlock();
                if (awaited) ready.notify_one();
            }
            lock.lock();
        }
    };
    std::vector<std::thread> pool;
    const auto finish = [&] {
        {
            std::lock_guard lock(m);
            stop = true;
        }
        space.notify_all();
        for (std::thread& t : pool) t.join();
    };
    try {
        for (unsigned t = 0; t < threads; ++t) pool.emplace_back(worker);
        for (std::size_t i = 0; i < count; ++i) {
            Slot slot;
            bool room = false;
            {
                std::unique_lock lock(m);
                ready.wait(lock, [&] { return slots[i % ahead].done; });
                slot = std::move(slots[i % ahead]);
                slots[i % ahead] = Slot{};
                ++used;
                room = claimed < count && claimed + step == used + ahead;
            }
            if (room) space.notify_all();
            if (slot.error) std::rethrow_exception(slot.error);
            use(i, std::move(*slot.result));
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

// The threads worth using for work that mostly waits on the kernel: one per core, at most four.
inline unsigned readerThreads() {
    return std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
}

}  // namespace pelorix::cli
