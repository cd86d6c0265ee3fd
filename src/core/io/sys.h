// SPDX-License-Identifier: MIT
#pragma once
// Every POSIX call that touches the user's files goes through this seam, so tests can make any
// one of them fail on purpose and check that nothing was lost. In production the hook is empty
// and each function is a thin wrapper that retries on EINTR. The exceptions: the path
// resolution of a symbolic link (std::filesystem), read-ahead hints (posix_fadvise), and the
// signal handlers, which may call only what is safe in a handler.

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
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
    copyRange,
    cloneRange,  // FICLONERANGE
    setxattr,
    getxattr,  // flistxattr and fgetxattr
    startWriteback,
    stat,    // fstat and stat
    access,  // faccessat with the effective ids
    lock,    // flock
    lease,   // fcntl F_SETLEASE, F_GETLEASE
    syncfs,  // one flush of a whole filesystem
    flags,   // FS_IOC_GETFLAGS, FS_IOC_SETFLAGS: a file's inode flags
    seek     // lseek: where a sparse file's data lies, or a new file's offset past a gap
};

// A fault hook returns 0 to let the call through, or an errno value to fail it with.
using FaultHook = std::function<int(Op, const std::string& path)>;
void setFaultHook(FaultHook hook);  // not thread-safe: tests only

// Each returns what its POSIX namesake returns and sets errno the same way.
// ioctl(fdOut, FICLONERANGE): shares `length` bytes of fdIn at inOffset into fdOut at outOffset.
int cloneRange(int fdIn, std::uint64_t inOffset, int fdOut, std::uint64_t outOffset,
               std::uint64_t length);
int open(const std::string& path, int flags, mode_t mode = 0);
// The *at calls name a file inside the folder open as `dir`, so that a folder renamed or
// replaced meanwhile cannot redirect them. The fault hook sees `name`.
int openAt(int dir, const std::string& name, int flags, mode_t mode = 0);
int statAt(int dir, const std::string& name, struct stat& st);  // never follows a link
int unlinkAt(int dir, const std::string& name);
int renameAt(int dir, const std::string& from, const std::string& to);
// renameat2(2) with RENAME_EXCHANGE in one folder: both names stay, their files swap places in
// one step. -1 with EINVAL/ENOSYS/EOPNOTSUPP where the filesystem cannot do that.
int exchangeAt(int dir, const std::string& a, const std::string& b);
// linkat(2) of the open file `fd` (through /proc/self/fd) to `name` in the folder `dir`: gives a
// file that still has a name elsewhere one more. The fault hook sees `name` (as a rename).
int linkFdAt(int fd, int dir, const std::string& name);
// The inode flags (chattr(1)'s letters) of an open file; -1 with ENOTTY/EOPNOTSUPP/EINVAL
// where the filesystem keeps none.
int getFlags(int fd, unsigned& flags);
int setFlags(int fd, unsigned flags);
int ftruncate(int fd, off_t length);
// lseek(2): with SEEK_DATA or SEEK_HOLE, where the next data or hole starts at or after `from`;
// with SEEK_SET, a new file's offset moved past bytes it shares or leaves as a hole.
off_t seek(int fd, off_t from, int whence);
int fremovexattr(int fd, const std::string& name);
ssize_t pread(int fd, void* buf, size_t count, off_t offset);
ssize_t write(int fd, const void* buf, size_t count);
ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset);
int fsync(int fd);
// syncfs(2): flushes every file and folder entry of the filesystem that holds `fd`, and (since
// Linux 5.8) reports a failure to store any of them since `fd` was opened.
int syncfs(int fd);
int close(int fd);
int rename(const std::string& from, const std::string& to);
int unlink(const std::string& path);
int fchmod(int fd, mode_t mode);
int fchown(int fd, uid_t uid, gid_t gid);
int fsetxattr(int fd, const std::string& name, const void* value, size_t size);
ssize_t flistxattr(int fd, char* list, size_t size);
ssize_t fgetxattr(int fd, const std::string& name, void* value, size_t size);
int fstat(int fd, struct stat& st);
int stat(const std::string& path, struct stat& st);  // follows a symbolic link
// faccessat(2) with AT_EACCESS: may this process, with its effective ids, do `mode`?
int accessEffective(const std::string& path, int mode);
int flock(int fd, int operation);
// F_SETLEASE with F_RDLCK or F_UNLCK; a break of the lease is announced with `signal`.
int setLease(int fd, int type, int signal = 0);
int getLease(int fd);  // F_GETLEASE: F_RDLCK while ours is held and unbroken
// pread(2) until `count` bytes or the end of the file; returns the bytes read, throws
// std::system_error on a failure.
std::size_t preadAll(int fd, void* buf, std::size_t count, std::uint64_t offset);
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

// The one owner of a file descriptor: closed when it goes, without a report; close() reports.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1);
    // Closes through the seam: 0, or -1 with errno set. The descriptor is gone either way.
    int close();

  private:
    int fd_ = -1;
};

// open() into an owner; an empty one (errno set) on failure.
Fd openFd(const std::string& path, int flags, mode_t mode = 0);

// fsync(2) (or syncfs(2) for the `wholeFilesystem`) on a helper thread, so the caller can go on
// while the disk flushes. The fault hook is consulted when it starts, so an injected failure
// keeps its place in the order of calls. The destructor waits; the descriptor must stay open
// until then.
class Fsync {
  public:
    explicit Fsync(int fd, bool wholeFilesystem = false);
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
