// SPDX-License-Identifier: MIT
#include "core/write/claim.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/tag_error.h"

namespace pelorix::write {

namespace fs = std::filesystem;

namespace {

// How long a write waits for another write of the same file to finish.
constexpr auto kLockWait = std::chrono::seconds(3);
constexpr auto kLockPoll = std::chrono::milliseconds(20);

// A program that opens a leased file for writing waits until the lease goes (or the kernel's
// lease-break time, 45 s by default). The handler lets it go at once; the write notices the
// lost lease and does not replace the file.
void onLeaseBreak(int, siginfo_t* info, void*) {
    const int saved = errno;
    ::fcntl(info->si_fd, F_SETLEASE, F_UNLCK);
    errno = saved;
}

// The signal that announces a lease break, or 0 when it cannot be ours (the program uses it).
int leaseSignal() {
    static const int signal = [] {
        const int s = SIGRTMIN + 3;
        struct sigaction old {};
        if (::sigaction(s, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) return 0;
        struct sigaction action {};
        action.sa_sigaction = onLeaseBreak;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&action.sa_mask);
        return ::sigaction(s, &action, nullptr) == 0 ? s : 0;
    }();
    return signal;
}

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

TagError cannotOpen(int err) {
    return TagError::io(msg::cannotOpen(std::generic_category().message(err)));
}

}  // namespace

Claim::Claim(const fs::path& target) : path_(target), name_(target.filename().string()) {
    // A write that held the lock may have replaced the file meanwhile; then the path names a
    // newer file, which is claimed in its turn. The file found by the folder's descriptor is
    // the one opened by path, so that every later step, made through that descriptor, acts on
    // the folder that holds it.
    const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
    for (int attempt = 0;; ++attempt) {
        in_ = std::make_unique<FileIn>(target);
        folder_ = sys::openFd(folder, O_RDONLY | O_DIRECTORY);
        if (!folder_) throw cannotOpen(errno);
        const bool canLease = lock();
        leased_ = canLease && takeLease();
        struct stat atName {};
        if (sys::statAt(folder_.get(), name_, atName) != 0) throw cannotOpen(errno);
        if (sys::fstat(in_->fd(), status_) != 0) sys::throwErrno();
        if (atName.st_dev == status_.st_dev && atName.st_ino == status_.st_ino &&
            std::uint64_t(status_.st_size) == in_->size()) {
            break;
        }
        if (attempt == 3) throw TagError::io(msg::changedDuringWrite);
        writeLock_.reset();
    }
    if (status_.st_nlink > 1) throw TagError::io(msg::hardLinks);
    // Flags that already forbid a replace (the file immutable or append-only, the folder
    // keeping every name it has) refuse the write before anything is made.
    unsigned flags = 0;
    if (sys::getFlags(in_->fd(), flags) == 0 && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL))) {
        throw TagError::io(msg::notWritable);
    }
    if (sys::getFlags(folder_.get(), flags) == 0 && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL))) {
        throw TagError::io(msg::folderKeepsNames);
    }
    // The replace is a rename, which only asks for the folder's permission: the file's own is
    // checked here.
    if (sys::accessEffective(target.string(), W_OK) != 0) {
        if (errno == EACCES || errno == EPERM) throw TagError::io(msg::notWritable);
        throw TagError::io(msg::cannotWrite(std::generic_category().message(errno)));
    }
}

// Locks the original against other PELORIX writes (and any program that takes the same
// lock). flock locks belong to the open file description, so two writes in one process
// exclude each other as well. Returns false when the lock needed a descriptor open for
// writing, which rules out a lease.
bool Claim::lock() {
    int fd = in_->fd();
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    for (;;) {
        if (sys::flock(fd, LOCK_EX | LOCK_NB) == 0) return !writeLock_;
        if (errno == EWOULDBLOCK) {
            if (std::chrono::steady_clock::now() >= deadline) {
                throw TagError::io(msg::writeInProgress);
            }
            std::this_thread::sleep_for(kLockPoll);
            continue;
        }
        // NFS emulates flock with a lock that needs write access.
        if ((errno == EBADF || errno == ENOLCK) && !writeLock_) {
            writeLock_ = sys::openFd(path_.string(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK);
            if (!writeLock_) throw TagError::io(msg::cannotLock);
            fd = writeLock_.get();
            continue;
        }
        if (errno == ENOLCK || errno == EOPNOTSUPP || errno == EINVAL || errno == EBADF) {
            throw TagError::io(msg::cannotLock);
        }
        sys::throwErrno();
    }
}

// A read lease can only be had while no one holds the file open for writing, and it breaks
// when someone opens it for writing. Without one (another owner's file without CAP_LEASE, a
// filesystem without leases, leases switched off) the change check stands alone.
bool Claim::takeLease() {
    const int signal = leaseSignal();
    if (signal == 0) return false;
    if (sys::setLease(in_->fd(), F_RDLCK, signal) == 0) return true;
    switch (errno) {
        case EAGAIN:
            throw TagError::io(msg::openElsewhere);
        case EACCES:
        case EINVAL:
        case ENOLCK:
        case ENOSYS:
        case EOPNOTSUPP:
            return false;
        default:
            sys::throwErrno();
    }
}

bool Claim::leaseHolds() const noexcept {
    // A lease that cannot be asked about counts as lost: the answer decides a replace.
    return !leased_ || sys::getLease(in_->fd()) == F_RDLCK;
}

std::string_view Claim::strangerAtName(const struct stat& st) const {
    if (st.st_dev != status_.st_dev || st.st_ino != status_.st_ino) return msg::replacedMeanwhile;
    if (st.st_nlink != 1) return msg::linkedMeanwhile;
    return {};
}

void Claim::checkUndisturbed() const {
    if (!leaseHolds()) throw TagError::io(msg::openElsewhere);
    // The path still leads to the claimed file (or its folder was moved, renamed or replaced:
    // told below, once the name in the folder is known to hold the file).
    struct stat now {
    }, atName{}, atPath{};
    const bool reached = sys::stat(path_.string(), atPath) == 0;
    if (!reached && errno != ENOENT && errno != ENOTDIR) sys::throwErrno();
    const bool leads =
        reached && atPath.st_dev == status_.st_dev && atPath.st_ino == status_.st_ino;
    // Nothing wrote to the file (a write moves ctime, which no user call can set back).
    if (sys::fstat(in_->fd(), now) != 0) sys::throwErrno();
    const bool same = now.st_size == status_.st_size && sameTime(now.st_mtim, status_.st_mtim) &&
                      sameTime(now.st_ctim, status_.st_ctim);
    if (!same) throw TagError::io(msg::changedDuringWrite);
    // Its name in the folder still holds it, with no other name: the last look, so that a plain
    // rename right after it leaves the least time for another program.
    if (sys::statAt(folder_.get(), name_, atName) != 0) {
        if (errno != ENOENT) sys::throwErrno();
        throw TagError::io(msg::replacedMeanwhile);
    }
    if (const auto refusal = strangerAtName(atName); !refusal.empty()) throw TagError::io(refusal);
    if (!leads) throw TagError::io(msg::folderMoved);
}

}  // namespace pelorix::write
