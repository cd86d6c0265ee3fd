// SPDX-License-Identifier: MIT
#include "core/write/pending_file.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <utility>

#include "core/io/sys.h"

namespace pelorix::write {

namespace fs = std::filesystem;

namespace {

// The paths the handler removes. A slot is claimed (`used`), filled, then `armed`; the handler
// reads only armed slots, and only through calls that are safe in a handler.
struct Slot {
    std::atomic<bool> used{false};
    std::atomic<bool> armed{false};
    char path[PATH_MAX] = {};
};
// A batch holds two groups of up to 64 writes at once, each with a temporary file and maybe a
// backup.
std::array<Slot, 256> slots;

void removePendingAndDie(int signal) {
    for (Slot& s : slots) {
        if (s.armed.load()) ::unlink(s.path);
    }
    // SA_RESETHAND put the default action back: the signal ends the process as it would have.
    ::raise(signal);
}

// Once per process, for each of the signals that still has its default action (one the
// program handles or ignores is left to it).
void installHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction old {};
            if (::sigaction(signal, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
            struct sigaction action {};
            action.sa_handler = removePendingAndDie;
            action.sa_flags = SA_RESETHAND;
            sigemptyset(&action.sa_mask);
            for (int other : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, other);
            ::sigaction(signal, &action, nullptr);
        }
    });
}

}  // namespace

fs::path tempPathFor(const fs::path& file) {
    std::string name = ".";  // appended step by step: GCC 12 misreports "." + s (-Wrestrict)
    name += file.filename().string();
    name += ".pelorix-tmp";
    return file.parent_path() / name;
}

PendingFile::PendingFile(fs::path path) : path_(std::move(path)) {
    installHandlers();
    const std::string& text = path_.native();
    if (text.size() >= PATH_MAX) return;  // removed by the destructor alone
    for (std::size_t i = 0; i < slots.size(); ++i) {
        bool expected = false;
        if (slots[i].used.compare_exchange_strong(expected, true)) {
            std::memcpy(slots[i].path, text.c_str(), text.size() + 1);
            slot_ = int(i);
            return;
        }
    }
}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : path_(std::move(other.path_)),
      slot_(std::exchange(other.slot_, -1)),
      armed_(std::exchange(other.armed_, false)) {}

PendingFile::~PendingFile() {
    // Removed before the handler forgets it, so a signal in between cannot leave it behind.
    if (armed_) (void)sys::unlink(path_.string());
    if (slot_ >= 0) {
        slots[std::size_t(slot_)].armed = false;
        slots[std::size_t(slot_)].used = false;
    }
}

void PendingFile::arm() {
    armed_ = true;
    if (slot_ >= 0) slots[std::size_t(slot_)].armed = true;
}

void PendingFile::keep() {
    if (slot_ >= 0) slots[std::size_t(slot_)].armed = false;
    armed_ = false;
}

}  // namespace pelorix::write
