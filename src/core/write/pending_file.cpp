// SPDX-License-Identifier: MIT
#include "core/write/pending_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/random.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

#include "core/io/sha256.h"
#include "core/io/sys.h"

namespace pelorix::write {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kTempMark = ".pelorix-tmp";
constexpr std::size_t kRandomDigits = 16;
// The longest name a folder entry may have on Linux filesystems (NAME_MAX).
constexpr std::size_t kNameMax = 255;

// The paths the handler removes. A slot is claimed (`used`), filled, then `armed`; the handler
// reads only armed slots, and only through calls that are safe in a handler.
struct Slot {
    std::atomic<bool> used{false};
    std::atomic<bool> armed{false};
    std::atomic<int> folder{-1};
    char name[NAME_MAX + 1] = {};
};
// A batch holds two groups of up to 64 writes at once, each with a temporary file and maybe a
// backup.
std::array<Slot, 256> slots;

void removePendingAndDie(int signal) {
    for (Slot& s : slots) {
        if (s.armed.load()) ::unlinkat(s.folder.load(), s.name, 0);
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

// The part of a temporary name before its mark: "." and the name, or for a name too long to
// take the mark and the spare digits, its first bytes (never cutting a UTF-8 character) and
// "~" with 16 hexadecimal digits of its SHA-256.
std::string stemFor(const std::string& name) {
    const std::size_t room = kNameMax - kTempMark.size() - 1 - kRandomDigits;
    if (1 + name.size() <= room) return "." + name;
    constexpr std::size_t kHashDigits = 16;
    std::size_t keep = room - 1 - 1 - kHashDigits;
    while (keep > 0 && (std::uint8_t(name[keep]) & 0xC0) == 0x80) --keep;
    Sha256 hash;
    hash.update(reinterpret_cast<const std::uint8_t*>(name.data()), name.size());
    return "." + name.substr(0, keep) + "~" + hash.hexDigest().substr(0, kHashDigits);
}

}  // namespace

std::string tempNameFor(const std::string& name) {
    return stemFor(name) + std::string(kTempMark);
}

std::string spareTempNameFor(const std::string& name) {
    std::uint8_t random[kRandomDigits / 2] = {};
    for (std::size_t got = 0; got < sizeof random;) {
        const ssize_t n = ::getrandom(random + got, sizeof random - got, 0);
        if (n > 0) got += std::size_t(n);
    }
    std::string digits;
    for (const std::uint8_t b : random) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", b);
        digits += two;
    }
    return tempNameFor(name) + "-" + digits;
}

bool isSpareTempOf(const std::string& entry, const std::string& name) {
    const std::string prefix = tempNameFor(name) + "-";
    if (entry.size() != prefix.size() + kRandomDigits || !entry.starts_with(prefix)) return false;
    return entry.find_first_not_of("0123456789abcdef", prefix.size()) == std::string::npos;
}

PendingFile::PendingFile(int folder, std::string name, fs::path shown)
    : folder_(folder), name_(std::move(name)), shown_(std::move(shown)) {
    installHandlers();
    if (name_.size() > NAME_MAX) return;  // removed by the destructor alone
    for (std::size_t i = 0; i < slots.size(); ++i) {
        bool expected = false;
        if (slots[i].used.compare_exchange_strong(expected, true)) {
            std::memcpy(slots[i].name, name_.c_str(), name_.size() + 1);
            slots[i].folder = folder_;
            slot_ = int(i);
            return;
        }
    }
}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : folder_(other.folder_),
      name_(std::move(other.name_)),
      shown_(std::move(other.shown_)),
      slot_(std::exchange(other.slot_, -1)),
      armed_(std::exchange(other.armed_, false)) {}

PendingFile::~PendingFile() {
    // Removed before the handler forgets it, so a signal in between cannot leave it behind.
    if (armed_) (void)sys::unlinkAt(folder_, name_);
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
