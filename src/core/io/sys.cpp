// SPDX-License-Identifier: MIT
#include "core/io/sys.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace pelorix::sys {

namespace {
FaultHook& hook() {
    static FaultHook h;
    return h;
}

// Returns true (with errno set) when the test hook asks for this call to fail.
bool injected(Op op, const std::string& path = {}) {
    auto& h = hook();
    if (!h) return false;
    int err = h(op, path);
    if (err == 0) return false;
    errno = err;
    return true;
}

template <typename F>
auto retry(F f) {
    for (;;) {
        auto r = f();
        if (r == -1 && errno == EINTR) continue;
        return r;
    }
}
}  // namespace

void setFaultHook(FaultHook h) {
    hook() = std::move(h);
}

int open(const std::string& path, int flags, mode_t mode) {
    if (injected(Op::open, path)) return -1;
    return retry([&] { return ::open(path.c_str(), flags | O_CLOEXEC, mode); });
}

ssize_t pread(int fd, void* buf, size_t count, off_t offset) {
    if (injected(Op::read)) return -1;
    return retry([&] { return ::pread(fd, buf, count, offset); });
}

ssize_t write(int fd, const void* buf, size_t count) {
    if (injected(Op::write)) return -1;
    return retry([&] { return ::write(fd, buf, count); });
}

ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset) {
    if (injected(Op::write)) return -1;
    return retry([&] { return ::pwrite(fd, buf, count, offset); });
}

int fsync(int fd) {
    if (injected(Op::fsync)) return -1;
    return retry([&] { return ::fsync(fd); });
}

int syncfs(int fd) {
    if (injected(Op::syncfs)) return -1;
    return retry([&] { return ::syncfs(fd); });
}

int close(int fd) {
    if (injected(Op::close)) {
        ::close(fd);  // never leak the descriptor, even when pretending to fail
        return -1;
    }
    // close(2) must not be retried on EINTR on Linux: the descriptor is already gone.
    return ::close(fd);
}

int rename(const std::string& from, const std::string& to) {
    if (injected(Op::rename, to)) return -1;
    return ::rename(from.c_str(), to.c_str());
}

int unlink(const std::string& path) {
    if (injected(Op::unlink, path)) return -1;
    return ::unlink(path.c_str());
}

int fchmod(int fd, mode_t mode) {
    if (injected(Op::fchmod)) return -1;
    return ::fchmod(fd, mode);
}

int cloneRange(int fdIn, std::uint64_t inOffset, int fdOut, std::uint64_t outOffset,
               std::uint64_t length) {
    if (injected(Op::cloneRange)) return -1;
    file_clone_range range{};
    range.src_fd = fdIn;
    range.src_offset = inOffset;
    range.src_length = length;
    range.dest_offset = outOffset;
    int rc;
    do {
        rc = ::ioctl(fdOut, FICLONERANGE, &range);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

int fchown(int fd, uid_t uid, gid_t gid) {
    if (injected(Op::fchown)) return -1;
    return ::fchown(fd, uid, gid);
}

int fsetxattr(int fd, const std::string& name, const void* value, size_t size) {
    if (injected(Op::setxattr, name)) return -1;
    return ::fsetxattr(fd, name.c_str(), value, size, 0);
}

ssize_t flistxattr(int fd, char* list, size_t size) {
    if (injected(Op::getxattr)) return -1;
    return ::flistxattr(fd, list, size);
}

ssize_t fgetxattr(int fd, const std::string& name, void* value, size_t size) {
    if (injected(Op::getxattr)) return -1;
    return ::fgetxattr(fd, name.c_str(), value, size);
}

int fstat(int fd, struct stat& st) {
    if (injected(Op::stat)) return -1;
    return ::fstat(fd, &st);
}

int stat(const std::string& path, struct stat& st) {
    if (injected(Op::stat, path)) return -1;
    return ::stat(path.c_str(), &st);
}

int accessEffective(const std::string& path, int mode) {
    if (injected(Op::access, path)) return -1;
    return ::faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS);
}

int flock(int fd, int operation) {
    if (injected(Op::lock)) return -1;
    return retry([&] { return ::flock(fd, operation); });
}

int setLease(int fd, int type, int signal) {
    if (injected(Op::lease)) return -1;
    // The break of a lease is announced with SIGIO unless the descriptor names another signal;
    // SIGIO's default action would end the process.
    if (type != F_UNLCK && ::fcntl(fd, F_SETSIG, signal) != 0) return -1;
    return retry([&] { return ::fcntl(fd, F_SETLEASE, type); });
}

int getLease(int fd) {
    if (injected(Op::lease)) return -1;
    return ::fcntl(fd, F_GETLEASE);
}

int openAt(int dir, const std::string& name, int flags, mode_t mode) {
    if (injected(Op::open, name)) return -1;
    return retry([&] { return ::openat(dir, name.c_str(), flags | O_CLOEXEC, mode); });
}

int statAt(int dir, const std::string& name, struct stat& st) {
    if (injected(Op::stat, name)) return -1;
    return ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW);
}

int unlinkAt(int dir, const std::string& name) {
    if (injected(Op::unlink, name)) return -1;
    return ::unlinkat(dir, name.c_str(), 0);
}

int renameAt(int dir, const std::string& from, const std::string& to) {
    if (injected(Op::rename, to)) return -1;
    return ::renameat(dir, from.c_str(), dir, to.c_str());
}

int exchangeAt(int dir, const std::string& a, const std::string& b) {
    if (injected(Op::rename, b)) return -1;
    return ::renameat2(dir, a.c_str(), dir, b.c_str(), RENAME_EXCHANGE);
}

int linkFdAt(int fd, int dir, const std::string& name) {
    if (injected(Op::rename, name)) return -1;
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, self.c_str(), dir, name.c_str(), AT_SYMLINK_FOLLOW);
}

int getFlags(int fd, unsigned& flags) {
    if (injected(Op::flags)) return -1;
    int value = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &value) != 0) return -1;
    flags = unsigned(value);
    return 0;
}

int setFlags(int fd, unsigned flags) {
    if (injected(Op::flags)) return -1;
    int value = int(flags);
    return ::ioctl(fd, FS_IOC_SETFLAGS, &value);
}

int ftruncate(int fd, off_t length) {
    if (injected(Op::write)) return -1;
    return retry([&] { return ::ftruncate(fd, length); });
}

off_t seek(int fd, off_t from, int whence) {
    if (injected(Op::seek)) return -1;
    return ::lseek(fd, from, whence);
}

int fremovexattr(int fd, const std::string& name) {
    if (injected(Op::setxattr)) return -1;
    return ::fremovexattr(fd, name.c_str());
}

std::size_t preadAll(int fd, void* buf, std::size_t count, std::uint64_t offset) {
    auto* to = static_cast<std::uint8_t*>(buf);
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = pread(fd, to + got, count - got, off_t(offset + got));
        if (n < 0) throwErrno();
        if (n == 0) break;  // the end of the file, or it shrank since it was opened
        got += std::size_t(n);
    }
    return got;
}

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
}

void Fd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

int Fd::close() {
    return fd_ < 0 ? 0 : sys::close(release());
}

Fd openFd(const std::string& path, int flags, mode_t mode) {
    return Fd(open(path, flags, mode));
}

ssize_t copyFileRange(int fdIn, off_t offIn, int fdOut, size_t count) {
    if (injected(Op::copyRange)) return -1;
    return retry([&] {
        loff_t in = offIn;
        return ::copy_file_range(fdIn, &in, fdOut, nullptr, count, 0);
    });
}

bool kernelCopyUnavailable(int err) {
    return err == ENOSYS || err == EXDEV || err == EINVAL || err == EOPNOTSUPP;
}

void writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) throwErrno();
        if (n == 0) throwErrno(EIO);
        data += n;
        size -= std::size_t(n);
    }
}

int startWriteback(int fd, off_t offset, off_t count) {
    if (injected(Op::startWriteback)) return -1;
    return retry([&] { return ::sync_file_range(fd, offset, count, SYNC_FILE_RANGE_WRITE); });
}

Fsync::Fsync(int fd, bool wholeFilesystem) {
    if (injected(wholeFilesystem ? Op::syncfs : Op::fsync)) {
        result_ = -1;
        error_ = errno;
        done_ = true;
        return;
    }
    const auto flush = [fd, wholeFilesystem] {
        return retry([&] { return wholeFilesystem ? ::syncfs(fd) : ::fsync(fd); });
    };
    try {
        thread_ = std::thread([this, flush] {
            result_ = flush();
            error_ = errno;
            done_.store(true, std::memory_order_release);
        });
    } catch (const std::system_error&) {
        // No thread to be had: flush here and now.
        result_ = flush();
        error_ = errno;
        done_ = true;
    }
}

Fsync::~Fsync() {
    if (thread_.joinable()) thread_.join();
}

int Fsync::wait() {
    if (thread_.joinable()) thread_.join();
    errno = error_;
    return result_;
}

void throwErrno() {
    throwErrno(errno);
}

void throwErrno(int err) {
    throw std::system_error(err, std::generic_category());
}

}  // namespace pelorix::sys
