// SPDX-License-Identifier: MIT
// The write procedure, step by step. Each step's details live in their own unit: the claim on
// the original (lock, lease, permission), the pending files (temporary file, backup), the
// attributes a new file takes over, the checks before the replace, the codecs.
#include "core/write/write.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "core/io/sys.h"
#include "core/io/text.h"
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

// Flushes a folder's entries (a rename, a new file) to storage. `confirm`: then asks the
// filesystem whether it stored everything (syncfs): a filesystem shut down after an I/O error
// (XFS) answers a folder's flush with success and only this with the error.
void syncFolder(int folder, bool confirm) {
    const int rc = sys::fsync(folder);
    // Some filesystems cannot flush a folder at all; their renames are as durable as they get.
    if (rc != 0 && errno != EINVAL && errno != ENOTSUP) sys::throwErrno();
    if (confirm && sys::syncfs(folder) != 0) sys::throwErrno();
}

// True where a folder's flush fails whenever the filesystem cannot store the folder's entries:
// ext4 (shut down, its journal aborted, or a block not written) and btrfs (its transaction
// aborted). There a write whose own file and folder were flushed needs no flush of the whole
// filesystem, which waits for every other program's unwritten files on it (often most of a
// write's time on a busy disk). Anywhere else, XFS first, the filesystem's flush confirms.
bool folderFlushTells(int folder) {
    struct statfs st {};
    if (::fstatfs(folder, &st) != 0) return false;
    return st.f_type == EXT4_SUPER_MAGIC || st.f_type == BTRFS_SUPER_MAGIC;
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

// Removes this process's leftovers of spare temporary names of the claimed file: under its
// lock no live write owns one.
void removeSpareLeftovers(const Claim& claim) {
    const int copy = ::fcntl(claim.folder(), F_DUPFD_CLOEXEC, 0);
    DIR* listing = copy < 0 ? nullptr : ::fdopendir(copy);
    if (!listing) {
        if (copy >= 0) (void)sys::close(copy);
        return;  // nothing found is nothing removed; the write goes on
    }
    ::rewinddir(listing);
    std::vector<std::string> found;
    while (const dirent* e = ::readdir(listing)) {
        if (isSpareTempOf(e->d_name, claim.name())) found.emplace_back(e->d_name);
    }
    ::closedir(listing);
    for (const std::string& name : found) {
        struct stat st {};
        if (sys::statAt(claim.folder(), name, st) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == ::geteuid()) {
            (void)sys::unlinkAt(claim.folder(), name);
        }
    }
}

// The temporary file, created exclusively beside the claimed file through its folder's
// descriptor, known to the signal handler before it exists.
FileOut createTemp(const Claim& claim, std::optional<PendingFile>& tmp) {
    const int folder = claim.folder();
    std::string name = tempNameFor(claim.name());
    // A leftover from an earlier crash goes first: while the lock is held no live write owns
    // it. A leftover is a file or a link owned by this process's user or the file's owner (a
    // temporary file takes the owner at once). Anything else there (a folder, another user's
    // file, even one this process could remove) is left alone for a name no one can foresee.
    struct stat there {};
    const bool free = sys::statAt(folder, name, there) != 0;
    if (free && errno != ENOENT) sys::throwErrno();
    const bool leftover =
        free || ((S_ISREG(there.st_mode) || S_ISLNK(there.st_mode)) &&
                 (there.st_uid == ::geteuid() || there.st_uid == claim.status().st_uid));
    if (!leftover || (sys::unlinkAt(folder, name) != 0 && errno != ENOENT)) {
        removeSpareLeftovers(claim);
        name = spareTempNameFor(claim.name());
    }
    tmp.emplace(folder, name, claim.path().parent_path() / name);
    tmp->arm();
    try {
        return FileOut(folder, name, tmp->path());  // mode 0600 until the original's applies
    } catch (...) {
        tmp->keep();  // whatever holds the name is not ours
        throw;
    }
}

// The claimed file leaves its last name, the temporary one it was swapped to. A link another
// program began to make before the swap can still land on it after the look that followed the
// swap (the name is looked up first, the link made later); the claimed file then lives on under
// that name with the old contents. Seen here, the swap is undone, the new file goes and the
// write is refused, so no name is left on the old contents.
void dropSwappedOut(const Claim& claim, PendingFile& tmp) {
    const int folder = claim.folder();
    if (sys::unlinkAt(folder, tmp.name()) != 0) return;  // the pending file tries again
    tmp.keep();
    if (claim.in().linkCount() == 0) return;
    tmp.arm();
    if (sys::linkFdAt(claim.in().fd(), folder, tmp.name()) != 0) {
        tmp.keep();  // whatever holds the name now is not ours
        sys::throwErrno();
    }
    if (sys::exchangeAt(folder, tmp.name(), claim.name()) != 0) {
        // The new file stays at the name and the old one beside it, under both its names.
        tmp.keep();
        sys::throwErrno();
    }
    throw TagError::io(msg::linkedMeanwhile);
}

// Puts the temporary file in the original's place. Where the filesystem can swap two names in
// one step, it does, and then looks at what it swapped out: the claimed file with its one name
// and its lease unbroken, or the swap is undone and the write refused. A program that saved
// its own version over the file, linked it, or opened it for writing just before the swap gets
// its file back at the name.
void replace(const Claim& claim, PendingFile& tmp) {
    if (!claim.leaseHolds()) throw TagError::io(msg::openElsewhere);
    const int folder = claim.folder();
    if (sys::exchangeAt(folder, tmp.name(), claim.name()) == 0) {
        // The temporary name now holds what was at the name; the pending file removes it.
        struct stat out {};
        const int looked = sys::statAt(folder, tmp.name(), out) == 0 ? 0 : errno;
        std::string_view refusal = looked ? "" : claim.strangerAtName(out);
        if (!looked && refusal.empty() && !claim.leaseHolds()) refusal = msg::openElsewhere;
        if (!looked && refusal.empty()) {
            dropSwappedOut(claim, tmp);
            return;
        }
        if (sys::exchangeAt(folder, tmp.name(), claim.name()) != 0) {
            // What was at the name stays at the temporary name for whoever looks.
            tmp.keep();
            sys::throwErrno();
        }
        if (looked) sys::throwErrno(looked);
        throw TagError::io(refusal);
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) sys::throwErrno();
    // A plain rename replaces whatever holds the name: the last look comes just before it.
    claim.checkUndisturbed();
    if (sys::renameAt(folder, tmp.name(), claim.name()) != 0) sys::throwErrno();
    tmp.keep();
    // As after a swap: a link that landed on the replaced file puts it back at the name.
    if (claim.in().linkCount() == 0) return;
    tmp.arm();
    if (sys::linkFdAt(claim.in().fd(), folder, tmp.name()) != 0) {
        tmp.keep();
        sys::throwErrno();
    }
    if (sys::renameAt(folder, tmp.name(), claim.name()) != 0) sys::throwErrno();
    tmp.keep();
    throw TagError::io(msg::linkedMeanwhile);
}

// True when the file already is what the write would make of it: a removal that finds no
// code, or a write of the very text every carrier holds. Such a write changes no byte.
bool alreadyAsAsked(formats::AudioFormat format, const FileIn& in,
                    const std::optional<std::string>& isrc, bool addAxml) {
    const auto code = formats::format(format).read(in);
    const auto counted = [](const formats::Carrier& c) {
        return !c.reportOnly && !text::trimWhitespaceAndNewlines(c.text).empty();
    };
    const formats::Carriers found = formats::format(format).carriers(in);
    if (!isrc) {
        return (!code || text::trimWhitespaceAndNewlines(*code).empty()) &&
               std::none_of(found.begin(), found.end(), counted);
    }
    const bool hasAxml = std::any_of(found.begin(), found.end(), [](const formats::Carrier& c) {
        return c.place.find("axml") != std::string::npos;
    });
    if ((addAxml && !hasAxml) || code != isrc) return false;
    return std::all_of(found.begin(), found.end(),
                       [&](const formats::Carrier& c) { return !counted(c) || c.text == *isrc; });
}

}  // namespace

fs::path makeBackup(const fs::path& path) {
    const FileIn in(path);
    struct stat st {};
    if (sys::fstat(in.fd(), st) != 0) sys::throwErrno();
    const sys::Fd folder = sys::openFd(path.has_parent_path() ? path.parent_path().string() : ".",
                                       O_RDONLY | O_DIRECTORY);
    if (!folder) throw TagError::io(msg::cannotWrite(std::generic_category().message(errno)));
    PendingFile copy = writeBackup(in, st, folder.get(), path);
    copy.keep();
    return copy.path();
}

std::optional<std::string> rehearseWrite(const fs::path& path,
                                         const std::optional<std::string>& isrc, bool addAxml,
                                         bool backup) {
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
    checkFlagsKeepable(in.fd());
    checkAttributesKeepable(in.fd(), claim.folder());
    if (backup) checkBackupName(claim.folder(), target);
    // The device takes every byte and keeps none; close() would ask it for a flush it refuses.
    FileOut sink("/dev/null", FileOut::Mode::replace);
    formats::format(format).write(in, sink, isrc, addAxml);
    sink.flushBuffer();
    return formats::format(format).read(in);
}

namespace {

// A write made ready up to its replace: the original claimed, the new file written and checked,
// the backup written when one was asked for. Or a write that found the file as asked, with
// nothing to replace.
struct Staged {
    explicit Staged(const fs::path& path) : target(path), claim(std::make_unique<Claim>(target)) {}
    fs::path target;
    std::unique_ptr<Claim> claim;  // the last to go: a replaced original is freed with it
    std::optional<PendingFile> tmp;
    std::optional<PendingFile> copy;
    bool unchanged() const { return !tmp; }
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
    if (alreadyAsAsked(format, in, isrc, addAxml)) return staged;

    if (backup) checkBackupName(claim.folder(), target);  // before anything is created

    // 2. The temporary file, with the original's owner, access and flags before its first byte.
    FileOut out = createTemp(claim, staged->tmp);
    const PendingFile& tmp = *staged->tmp;
    keepOwner(claim.status(), out.fd());
    keepAccessAndFlags(in.fd(), out.fd());
    formats::format(format).write(in, out, isrc, addAxml);
    out.flushBuffer();
    keepModeAndAttributes(in.fd(), claim.status(), out.fd());
    if (auto& hook = afterWriteHook()) hook(tmp.path());

    // 3. The checks read the temporary file as the kernel holds it, which is exactly what the
    //    flush stores; they run while the disk flushes, and the replace waits for both.
    if (flush) out.startFlush();
    verifyWritten(in, audioBefore, FileIn(tmp.folder(), tmp.name(), tmp.path()), format, isrc,
                  out.shared());
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
    if (backup) staged->copy.emplace(writeBackup(in, claim.status(), claim.folder(), target));
    return staged;
}

// The replace; a backup of an original that stays is removed again.
void commit(Staged& staged) {
    if (staged.unchanged()) return;
    replace(*staged.claim, *staged.tmp);
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
    // The group ended at a job that found no room while other files held theirs: the job is
    // tried again once they are replaced and their originals' room is free.
    bool outOfRoom = false;
    std::vector<std::pair<std::size_t, std::unique_ptr<sys::Fsync>>> flushes;  // by folder
};

bool holdsAny(const Group* group) {
    return group && std::any_of(group->entries.begin(), group->entries.end(),
                                [](const Entry& e) { return e.staged != nullptr; });
}

// A failure for want of room (or of quota), which a smaller group may not meet.
bool outOfRoom(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::system_error& e) {
        return e.code().value() == ENOSPC || e.code().value() == EDQUOT;
    } catch (...) {
        return false;
    }
}

bool holds(const Group& group, const struct stat& st) {
    return std::any_of(group.entries.begin(), group.entries.end(), [&](const Entry& e) {
        if (!e.staged) return false;
        const struct stat& o = e.staged->claim->status();
        return o.st_dev == st.st_dev && o.st_ino == st.st_ino;
    });
}

// Stages the jobs from `first` on, up to a group's bounds. A file that `pending` (the group
// before, not yet committed) or this group already holds ends the group: it waits for the
// claim on it to end. So does a file that finds no room while other files of the batch hold
// theirs: what fits one by one is written.
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
            if (outOfRoom(e.error) && (holdsAny(group.get()) || holdsAny(pending))) {
                group->outOfRoom = true;
                break;
            }
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
// Once `mayCommit` says no, no file of the group is replaced from there on: `stopped` is set
// and those files are reported as not written.
void commitGroup(Group& group, const BatchOutcomeReport& done,
                 std::vector<std::unique_ptr<Claim>>& released, const MayCommit& mayCommit,
                 bool& stopped) {
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
    std::vector<bool> held(group.entries.size(), false);
    for (std::size_t k = 0; k < group.entries.size(); ++k) {
        Entry& e = group.entries[k];
        if (!e.staged) continue;
        const bool changes = !e.staged->unchanged();
        if (changes && !stopped && mayCommit && !mayCommit()) stopped = true;
        if (changes && stopped) {
            held[k] = true;
            e.staged.reset();  // its temporary file and backup go; the file stays as it was
            continue;
        }
        try {
            if (folders[e.folder].error) std::rethrow_exception(folders[e.folder].error);
            e.staged->claim->checkUndisturbed();
            commit(*e.staged);
            folders[e.folder].replaced |= !e.staged->unchanged();
        } catch (...) {
            e.error = std::current_exception();
            e.staged.reset();  // the temporary file and the backup go now
        }
    }
    // Each folder's entries, then each filesystem's word that it stored them.
    for (std::size_t f = 0; f < folders.size(); ++f) {
        if (!folders[f].replaced) continue;
        const bool last = std::none_of(
            folders.begin() + std::ptrdiff_t(f) + 1, folders.end(),
            [&](const Folder& o) { return o.replaced && o.device == folders[f].device; });
        try {
            syncFolder(folders[f].fd.get(), last);
        } catch (...) {
            for (Folder& o : folders) {
                if (&o == &folders[f] || (last && o.device == folders[f].device)) {
                    o.error = std::current_exception();
                }
            }
        }
    }
    for (std::size_t k = 0; k < group.entries.size(); ++k) {
        Entry& e = group.entries[k];
        Outcome outcome = held[k] ? Outcome::notWritten : Outcome::written;
        if (e.staged) {
            if (e.staged->unchanged()) {
                outcome = Outcome::unchanged;
            } else if (folders[e.folder].error) {
                e.error = folders[e.folder].error;
            }
            // The replaced original's name goes now; its blocks go with its last descriptor,
            // closed later.
            released.push_back(std::move(e.staged->claim));
            e.staged.reset();
        }
        done(e.index, e.error, outcome);
    }
}

Outcome writeOne(const fs::path& path, const std::optional<std::string>& isrc, bool backup,
                 bool addAxml, const Expected& expected, const MayCommit& mayCommit = {}) {
    const fs::path target = resolveTarget(path);
    const std::unique_ptr<Staged> staged = stage(target, isrc, backup, true, addAxml, expected);
    if (staged->unchanged()) return Outcome::unchanged;
    if (mayCommit && !mayCommit()) return Outcome::notWritten;
    const int folder = staged->claim->folder();
    if (staged->copy) syncFolder(folder, false);
    commit(*staged);
    syncFolder(folder, !folderFlushTells(folder));
    return Outcome::written;
}

}  // namespace

CodeChanged::CodeChanged(std::optional<std::string> found)
    : TagError(msg::codeChanged), found_(std::move(found)) {}

Outcome writeISRC(const fs::path& path, const std::optional<std::string>& isrc, bool backup,
                  bool addAxml) {
    return writeOne(path, isrc, backup, addAxml, std::nullopt);
}

void writeBatch(const std::vector<BatchJob>& jobs, bool backup, const BatchReport& done) {
    writeBatch(jobs, backup, [&](std::size_t i, std::exception_ptr error, Outcome) {
        done(i, std::move(error));
    });
}

void writeBatch(const std::vector<BatchJob>& jobs, bool backup, const BatchOutcomeReport& done,
                const MayCommit& mayCommit) {
    if (jobs.size() == 1) {
        // One file alone flushes while its checks read it, and leaves the rest of the
        // filesystem to itself.
        Outcome outcome = Outcome::written;
        try {
            outcome = writeOne(jobs[0].path, jobs[0].isrc, backup, jobs[0].addAxml,
                               jobs[0].expected, mayCommit);
        } catch (...) {
            done(0, std::current_exception(), outcome);
            return;
        }
        done(0, nullptr, outcome);
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
            // A job that found no room waits for the room the last group's originals free.
            if (current->outOfRoom && closing.joinable()) closing.join();
            std::unique_ptr<Group> next;
            if (current->end < jobs.size()) {
                next = stageGroup(jobs, current->end, backup, current.get());
            }
            std::vector<std::unique_ptr<Claim>> released;
            bool stopped = false;
            commitGroup(*current, done, released, mayCommit, stopped);
            closeLater(std::move(released));
            if (stopped) {
                next.reset();  // its temporary files and backups go
                for (std::size_t i = current->end; i < jobs.size(); ++i) {
                    done(i, nullptr, Outcome::notWritten);
                }
                break;
            }
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
