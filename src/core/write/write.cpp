// SPDX-License-Identifier: MIT
// The write procedure, step by step. Each step's details live in their own unit: the claim on
// the original (lock, lease, permission), the pending files (temporary file, backup), the
// attributes a new file takes over, the checks before the replace, the codecs.
#include "core/write/write.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "core/io/sys.h"
#include "core/isrc.h"
#include "core/tag_error.h"
#include "core/write/attributes.h"
#include "core/write/backup.h"
#include "core/write/claim.h"
#include "core/write/pending_file.h"
#include "core/write/verify.h"

namespace pelorix::write {

namespace fs = std::filesystem;

namespace {

std::function<void(const fs::path&)>& afterWriteHook() {
    static std::function<void(const fs::path&)> hook;
    return hook;
}

// Flushes a folder's entries (a rename, a new file) to storage.
void syncFolder(const fs::path& folder) {
    sys::Fd fd =
        sys::openFd(folder.empty() ? std::string(".") : folder.string(), O_RDONLY | O_DIRECTORY);
    if (!fd) sys::throwErrno();
    const int rc = sys::fsync(fd.get());
    const int err = errno;
    (void)fd.close();
    // Some filesystems cannot flush a folder at all; their renames are as durable as they get.
    if (rc != 0 && err != EINVAL && err != ENOTSUP) sys::throwErrno(err);
}

// A symbolic link is followed once, so that the file it points at is rewritten and the link
// stays a link.
fs::path resolveTarget(const fs::path& path) {
    std::error_code ec;
    const auto st = fs::symlink_status(path, ec);
    if (ec || !fs::is_symlink(st)) return path;  // a missing file fails in detection
    fs::path real = fs::canonical(path, ec);
    if (ec) throw TagError::io(msg::cannotOpen(ec.message()));
    return real;
}

// Puts the temporary file in the original's place. Where the filesystem can swap two names
// in one step, it does, and looks at the lease once more: a program that opened the original
// for writing just before the swap gets it back at its name, and the write is refused.
void replace(const Claim& claim, PendingFile& tmp, const fs::path& target) {
    if (!claim.leaseHolds()) throw TagError::io(msg::openElsewhere);
    const std::string from = tmp.path().string(), to = target.string();
    if (claim.leased() && sys::exchange(from, to) == 0) {
        // The temporary name now holds the original; the pending file removes it either way.
        if (claim.leaseHolds()) return;
        if (sys::exchange(from, to) != 0) {
            // The original stays at the temporary name for whoever looks.
            tmp.keep();
            sys::throwErrno();
        }
        throw TagError::io(msg::openElsewhere);
    }
    if (claim.leased() && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        sys::throwErrno();
    }
    if (sys::rename(from, to) != 0) sys::throwErrno();
    tmp.keep();
}

}  // namespace

fs::path makeBackup(const fs::path& path) {
    const FileIn in(path);
    struct stat st {};
    if (sys::fstat(in.fd(), st) != 0) sys::throwErrno();
    PendingFile copy = writeBackup(in, st, path);
    copy.keep();
    return copy.path();
}

std::optional<std::string> rehearseWrite(const fs::path& path,
                                         const std::optional<std::string>& isrc, bool addAxml) {
    const fs::path target = resolveTarget(path);
    const Claim claim(target);
    const FileIn& in = claim.in();
    const formats::AudioFormat format = formats::AudioFormat::detect(in);
    (void)formats::format(format).audioRanges(in);
    const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
    struct stat folderStatus {};
    if (sys::accessEffective(folder, W_OK | X_OK) != 0 || sys::stat(folder, folderStatus) != 0) {
        throw TagError::io(msg::cannotWrite(std::generic_category().message(errno)));
    }
    if (!ownerKeepable(claim.status(), folderStatus)) throw TagError::io(msg::ownerNotKept);
    // The device takes every byte and keeps none; close() would ask it for a flush it refuses.
    FileOut sink("/dev/null", FileOut::Mode::replace);
    formats::format(format).write(in, sink, isrc, addAxml);
    sink.flushBuffer();
    return formats::format(format).read(in);
}

namespace {

// A write made ready up to its replace: the original claimed, the new file written and checked,
// the backup written when one was asked for.
struct Staged {
    explicit Staged(const fs::path& path)
        : target(path), claim(std::make_unique<Claim>(target)), tmp(tempPathFor(target)) {}
    fs::path target;
    std::unique_ptr<Claim> claim;  // the last to go: a replaced original is freed with it
    PendingFile tmp;
    std::optional<PendingFile> copy;
};

// The code a write expects its file to hold, as BatchJob::expected.
using Expected = std::optional<std::optional<std::string>>;

// Steps 1 to 3 of a write, up to the backup. `flush`: the new file goes to storage here, while
// the checks read it; otherwise it stays in the kernel's cache for a flush of the whole
// filesystem, which also reports any failure to store it. `expected`: checked right after the
// claim.
std::unique_ptr<Staged> stage(const fs::path& target, const std::optional<std::string>& isrc,
                              bool backup, bool flush, bool addAxml,
                              const Expected& expected = std::nullopt) {
    // 1. The original, opened once, locked, leased, checked: detected, read and copied through
    //    this one opening.
    auto staged = std::make_unique<Staged>(target);
    const Claim& claim = *staged->claim;
    const FileIn& in = claim.in();
    const formats::AudioFormat format = formats::AudioFormat::detect(in);
    if (expected) {
        const auto text = formats::format(format).read(in);
        const auto code = text ? ISRC::parse(*text) : std::nullopt;
        const auto found = code ? std::optional(code->code()) : std::nullopt;
        if (found != *expected) throw CodeChanged(found);
    }
    const std::vector<ByteRange> audioBefore = formats::format(format).audioRanges(in);

    // 2. The temporary file. A leftover from an earlier crash goes first: while the lock is
    //    held no live write owns it. unlink(2) takes a file or a link, never a folder: a folder
    //    of that name makes the exclusive creation fail instead.
    PendingFile& tmp = staged->tmp;
    (void)sys::unlink(tmp.path().string());
    FileOut out(tmp.path());  // exclusive, mode 0600 until the original's mode is applied
    tmp.arm();
    keepOwner(claim.status(), out.fd());
    formats::format(format).write(in, out, isrc, addAxml);
    out.flushBuffer();
    keepModeAndAttributes(in.fd(), claim.status(), out.fd());
    if (auto& hook = afterWriteHook()) hook(tmp.path());

    // 3. The checks read the temporary file as the kernel holds it, which is exactly what the
    //    flush stores; they run while the disk flushes, and the replace waits for both.
    if (flush) out.startFlush();
    verifyWritten(in, audioBefore, FileIn(tmp.path()), format, isrc, out.shared());
    if (flush) {
        // Freeing the replaced file's cached pages costs about as much as reading them. While
        // the flush still runs that time is free, so they go now, step by step, until it ends;
        // the rest goes with the replace. A backup still reads them.
        constexpr std::uint64_t kDropStep = 16 << 20;
        for (std::uint64_t at = 0; !backup && at < in.size() && out.flushing(); at += kDropStep) {
            in.adviseDone(at, kDropStep);
        }
        out.close();
    }
    // Unflushed, the descriptor closes without a report: the filesystem's flush gives it.
    claim.checkUndisturbed();

    // 4. The backup (flushed to storage by its own writing).
    if (backup) staged->copy.emplace(writeBackup(in, claim.status(), target));
    return staged;
}

// The replace; a backup of an original that stays is removed again.
void commit(Staged& staged) {
    replace(*staged.claim, staged.tmp, staged.target);
    if (staged.copy) staged.copy->keep();
}

// How much one batch holds at once: its claims (descriptors, locks, leases), pending files
// and unflushed bytes.
constexpr std::size_t kGroupFiles = 64;
constexpr std::uint64_t kGroupBytes = std::uint64_t(256) << 20;

// Fewer files where the process may open few descriptors: three groups' originals may be open
// at once (one written, one flushed, one closing), with their folders.
std::size_t groupFiles() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return kGroupFiles;
    }
    const std::size_t open = std::size_t(limit.rlim_cur);
    return std::clamp<std::size_t>(open > 40 ? (open - 32) / 8 : 1, 1, kGroupFiles);
}

// A folder of a batch's files, opened before any of them is written, so that the flush of
// its filesystem reports every failure to store them.
struct Folder {
    std::string path;
    sys::Fd fd;
    dev_t device = 0;
    std::exception_ptr error;  // its filesystem could not be flushed, or it could not
    bool replaced = false;     // a file in it was replaced: its entries need a flush
};

struct Entry {
    std::size_t index = 0;
    std::size_t folder = 0;
    std::unique_ptr<Staged> staged;  // none once it failed
    std::exception_ptr error;
};

std::size_t folderOf(std::vector<Folder>& folders, const fs::path& target) {
    const std::string path = target.has_parent_path() ? target.parent_path().string() : ".";
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (folders[i].path == path) return i;
    }
    Folder f{path, sys::openFd(path, O_RDONLY | O_DIRECTORY), 0, nullptr, false};
    struct stat st {};
    if (!f.fd || sys::fstat(f.fd.get(), st) != 0) sys::throwErrno();
    f.device = st.st_dev;
    folders.push_back(std::move(f));
    return folders.size() - 1;
}

// A group of a batch: its jobs staged, then flushed, committed and reported together.
struct Group {
    std::vector<Folder> folders;
    std::vector<Entry> entries;
    std::size_t end = 0;  // the first job not taken
    std::vector<std::pair<std::size_t, std::unique_ptr<sys::Fsync>>> flushes;  // by folder
};

bool holds(const Group& group, const struct stat& st) {
    return std::any_of(group.entries.begin(), group.entries.end(), [&](const Entry& e) {
        if (!e.staged) return false;
        const struct stat& o = e.staged->claim->status();
        return o.st_dev == st.st_dev && o.st_ino == st.st_ino;
    });
}

// Stages the jobs from `first` on, up to a group's bounds. A file that `pending` (the group
// before, not yet committed) or this group already holds ends the group: it waits for the
// claim on it to end.
std::unique_ptr<Group> stageGroup(const std::vector<BatchJob>& jobs, std::size_t first, bool backup,
                                  const Group* pending) {
    auto group = std::make_unique<Group>();
    std::uint64_t bytes = 0;
    std::size_t& next = group->end;
    static const std::size_t maxFiles = groupFiles();
    for (next = first;
         next < jobs.size() && group->entries.size() < maxFiles && bytes < kGroupBytes; ++next) {
        Entry e;
        e.index = next;
        try {
            const fs::path target = resolveTarget(jobs[next].path);
            struct stat st {};
            if (sys::stat(target.string(), st) == 0 &&
                (holds(*group, st) || (pending && holds(*pending, st)))) {
                break;
            }
            e.folder = folderOf(group->folders, target);
            e.staged = stage(target, jobs[next].isrc, backup, false, jobs[next].addAxml,
                             jobs[next].expected);
            bytes += e.staged->claim->in().size();
        } catch (...) {
            e.error = std::current_exception();
        }
        group->entries.push_back(std::move(e));
    }
    return group;
}

// Starts the flush of every new file, backup and folder entry of the group: one per
// filesystem.
void startFlush(Group& group) {
    for (std::size_t f = 0; f < group.folders.size(); ++f) {
        const auto same = [&](const Folder& o) { return o.device == group.folders[f].device; };
        if (std::any_of(group.folders.begin(), group.folders.begin() + std::ptrdiff_t(f), same)) {
            continue;
        }
        group.flushes.emplace_back(f,
                                   std::make_unique<sys::Fsync>(group.folders[f].fd.get(), true));
    }
}

// Waits for the group's flushes, replaces its files in order, flushes each folder once and
// reports each job. The replaced originals' claims go to `released`.
void commitGroup(Group& group, const BatchReport& done,
                 std::vector<std::unique_ptr<Claim>>& released) {
    std::vector<Folder>& folders = group.folders;
    for (auto& [f, flush] : group.flushes) {
        if (flush->wait() == 0) continue;
        try {
            sys::throwErrno();
        } catch (...) {
            for (Folder& o : folders) {
                if (o.device == folders[f].device) o.error = std::current_exception();
            }
        }
    }
    for (Entry& e : group.entries) {
        if (!e.staged) continue;
        try {
            if (folders[e.folder].error) std::rethrow_exception(folders[e.folder].error);
            e.staged->claim->checkUndisturbed();
            commit(*e.staged);
            folders[e.folder].replaced = true;
        } catch (...) {
            e.error = std::current_exception();
            e.staged.reset();  // the temporary file and the backup go now
        }
    }
    for (Folder& f : folders) {
        if (!f.replaced) continue;
        const int rc = sys::fsync(f.fd.get());
        // Some filesystems cannot flush a folder at all; their renames are as durable as they
        // get.
        if (rc != 0 && errno != EINVAL && errno != ENOTSUP) {
            try {
                sys::throwErrno();
            } catch (...) {
                f.error = std::current_exception();
            }
        }
    }
    for (Entry& e : group.entries) {
        if (e.staged) {
            if (folders[e.folder].error) e.error = folders[e.folder].error;
            // The replaced original's name goes now; its blocks go with its last descriptor,
            // closed later.
            released.push_back(std::move(e.staged->claim));
            e.staged.reset();
        }
        done(e.index, e.error);
    }
}

void writeOne(const fs::path& path, const std::optional<std::string>& isrc, bool backup,
              bool addAxml, const Expected& expected) {
    const fs::path target = resolveTarget(path);
    const std::unique_ptr<Staged> staged = stage(target, isrc, backup, true, addAxml, expected);
    if (staged->copy) syncFolder(target.parent_path());
    commit(*staged);
    syncFolder(target.parent_path());
}

}  // namespace

CodeChanged::CodeChanged(std::optional<std::string> found)
    : std::runtime_error(
          "The file's code is no longer the one expected. The file was not changed."),
      found_(std::move(found)) {}

void writeISRC(const fs::path& path, const std::optional<std::string>& isrc, bool backup,
               bool addAxml) {
    writeOne(path, isrc, backup, addAxml, std::nullopt);
}

void writeBatch(const std::vector<BatchJob>& jobs, bool backup, const BatchReport& done) {
    if (jobs.size() == 1) {
        // One file alone flushes while its checks read it, and leaves the rest of the
        // filesystem to itself.
        try {
            writeOne(jobs[0].path, jobs[0].isrc, backup, jobs[0].addAxml, jobs[0].expected);
            done(0, nullptr);
        } catch (...) {
            done(0, std::current_exception());
        }
        return;
    }
    // Freeing a replaced original's blocks costs milliseconds on some filesystems (ext4 with
    // online discard): the last descriptors of a group's originals close on a helper thread
    // while the next group is written.
    std::thread closing;
    const auto closeLater = [&](std::vector<std::unique_ptr<Claim>> claims) {
        if (closing.joinable()) closing.join();
        try {
            closing = std::thread([claims = std::move(claims)]() mutable { claims.clear(); });
        } catch (const std::system_error&) {
            // No thread to be had: they close here and now.
        }
    };
    try {
        // While one group's files go to storage, the next group is written.
        std::unique_ptr<Group> current = stageGroup(jobs, 0, backup, nullptr);
        while (current) {
            startFlush(*current);
            std::unique_ptr<Group> next;
            if (current->end < jobs.size()) {
                next = stageGroup(jobs, current->end, backup, current.get());
            }
            std::vector<std::unique_ptr<Claim>> released;
            commitGroup(*current, done, released);
            closeLater(std::move(released));
            current = std::move(next);
        }
    } catch (...) {
        if (closing.joinable()) closing.join();
        throw;
    }
    if (closing.joinable()) closing.join();
}

namespace testing {
void setAfterWriteHook(std::function<void(const fs::path& tmp)> hook) {
    afterWriteHook() = std::move(hook);
}
}  // namespace testing

}  // namespace pelorix::write
