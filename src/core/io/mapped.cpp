// SPDX-License-Identifier: MIT
#include "core/io/mapped.h"

#include <setjmp.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "core/io/sys.h"

namespace pelorix::mapped {

namespace {

// A mapping that reaches past the end of a file that shrank raises SIGBUS on access. While a
// comparison runs, the handler returns to it, which gives up on mapping; any other SIGBUS
// gets the disposition it had before.
thread_local sigjmp_buf* tComparing = nullptr;
struct sigaction gPrevious {};

void onBus(int signal, siginfo_t*, void*) {
    if (sigjmp_buf* back = tComparing) siglongjmp(*back, 1);
    ::sigaction(signal, &gPrevious, nullptr);  // the fault recurs and takes that course
}

bool handlerInstalled() {
    static const bool installed = [] {
        if (::sigaction(SIGBUS, nullptr, &gPrevious) != 0 || gPrevious.sa_handler != SIG_DFL) {
            return false;
        }
        struct sigaction action {};
        action.sa_sigaction = onBus;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        return ::sigaction(SIGBUS, &action, nullptr) == 0;
    }();
    return installed;
}

// Small windows keep the process's resident size bounded: mapped pages count towards it. The
// size matters little for the time: the pages' first touch and the comparison itself dominate.
constexpr std::uint64_t kWindow = 4 << 20;

}  // namespace

std::optional<bool> sameBytes(int fdA, std::uint64_t offsetA, int fdB, std::uint64_t offsetB,
                              std::uint64_t length) {
    static const std::uint64_t page = std::uint64_t(::sysconf(_SC_PAGESIZE));
    if (!handlerInstalled()) return std::nullopt;
    // No object with a destructor lives between here and the mappings' use: a jump back from
    // the handler skips nothing that needs undoing but the two mappings themselves.
    const void* volatile mapA = nullptr;
    const void* volatile mapB = nullptr;
    volatile std::size_t lengthA = 0, lengthB = 0;
    volatile bool same = true, answered = false;
    sigjmp_buf back;
    if (sigsetjmp(back, 0) == 0) {
        tComparing = &back;
        for (std::uint64_t done = 0; same && done < length;) {
            const std::uint64_t n = std::min(kWindow, length - done);
            const std::uint64_t atA = offsetA + done, atB = offsetB + done;
            const std::uint64_t skipA = atA % page, skipB = atB % page;
            lengthA = std::size_t(n + skipA);
            lengthB = std::size_t(n + skipB);
            mapA = sys::mapRead(fdA, atA - skipA, lengthA);
            mapB = mapA ? sys::mapRead(fdB, atB - skipB, lengthB) : nullptr;
            if (!mapA || !mapB) break;  // unanswered
            same = std::memcmp(static_cast<const std::uint8_t*>(mapA) + skipA,
                               static_cast<const std::uint8_t*>(mapB) + skipB, n) == 0;
            sys::unmap(mapA, lengthA);
            sys::unmap(mapB, lengthB);
            mapA = nullptr;
            mapB = nullptr;
            done += n;
            answered = !same || done == length;
        }
        if (length == 0) answered = true;
    }
    tComparing = nullptr;
    // Still mapped after a fault, or after one of the two mappings failed.
    if (mapA) sys::unmap(mapA, lengthA);
    if (mapB) sys::unmap(mapB, lengthB);
    if (!answered) return std::nullopt;
    return bool(same);
}

}  // namespace pelorix::mapped
