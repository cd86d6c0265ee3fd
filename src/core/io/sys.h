// SPDX-License-Identifier: MIT
#pragma once
// Every POSIX call that touches the user's files goes through this seam, so tests can make any
// one of them fail on purpose and check that nothing was lost. In production the hook is empty
// and each function is a thin wrapper that retries on EINTR.

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>

namespace pelorix::sys {

enum class Op {
    open,
    read,
    write,
    fsync,
    close,
    rename,
    unlink,
    fchmod,
    fchown,
    link,
    mkdir,
    copyRange,
    setxattr,
    startWriteback
};

// A fault hook returns 0 to let the call through, or an errno value to fail it with.
using FaultHook = std::function<int(Op, const std::string& path)>;
void setFaultHook(FaultHook hook);  // not thread-safe: tests only

// Each returns what its POSIX namesake returns and sets errno the same way.
int open(const std::string& path, int flags, mode_t mode = 0);
ssize_t pread(int fd, void* buf, size_t count, off_t offset);
ssize_t write(int fd, const void* buf, size_t count);
ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset);
int fsync(int fd);
int close(int fd);
int rename(const std::string& from, const std::string& to);
int unlink(const std::string& path);
int fchmod(int fd, mode_t mode);
int fchown(int fd, uid_t uid, gid_t gid);
int fsetxattr(int fd, const std::string& name, const void* value, size_t size);
// copy_file_range(2) from an explicit input offset to fdOut's file offset, which advances by the
// count copied, as write(2) would move it; returns -1 with ENOSYS/EXDEV/EINVAL/EOPNOTSUPP when
// the kernel cannot copy between these files.
ssize_t copyFileRange(int fdIn, off_t offIn, int fdOut, size_t count);
// True for the errors with which copy_file_range says it cannot copy between these two files
// (another filesystem, an old kernel, no support); reading and writing will.
bool kernelCopyUnavailable(int err);
// write(2) until all `size` bytes are written; failures throw std::system_error (EIO for a
// write that stores nothing).
void writeAll(int fd, const std::uint8_t* data, std::size_t size);
// sync_file_range(2) with SYNC_FILE_RANGE_WRITE: starts writing the range to storage without
// waiting for it. Only fsync makes data durable; this lets the disk work while we go on.
int startWriteback(int fd, off_t offset, off_t count);

// fsync(2) on a helper thread, so the caller can go on while the disk flushes. The fault hook
// is consulted when it starts, so an injected failure keeps its place in the order of calls.
// The destructor waits; the descriptor must stay open until then.
class Fsync {
  public:
    explicit Fsync(int fd);
    ~Fsync();
    Fsync(const Fsync&) = delete;
    Fsync& operator=(const Fsync&) = delete;
    // Waits for the flush: 0, or -1 with errno set.
    int wait();
    // True once the flush has finished (without waiting for it).
    bool done() const { return done_.load(std::memory_order_acquire); }

  private:
    std::atomic<bool> done_{false};
    std::thread thread_;
    int result_ = 0;
    int error_ = 0;
};

// Throws std::system_error for the current errno (its what() is the platform's own text).
[[noreturn]] void throwErrno();
[[noreturn]] void throwErrno(int err);

}  // namespace pelorix::sys
