// SPDX-License-Identifier: MIT
// The write procedure, step by step. Each step's details live in their own unit: the claim on
// the original (lock, lease, permission), the pending files (temporary file, backup), the
// attributes a new file takes over, the checks before the replace, the codecs.
#include "core/write/audio_tagger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "core/formats/carriers.h"
#include "core/io/sha256.h"
#include "core/io/sys.h"
#include "core/tag_error.h"
#include "core/write/attributes.h"
#include "core/write/backup.h"
#include "core/write/claim.h"
#include "core/write/codecs.h"
#include "core/write/pending_file.h"
#include "core/write/verify.h"

namespace pelorix::AudioTagger {

namespace fs = std::filesystem;
using namespace pelorix::write;

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

std::optional<std::string> readISRC(const fs::path& path) {
    const FileIn in(path);  // detection and reading share one opening
    return readCode(AudioFormat::detect(in), in);
}

Carriers carriers(const fs::path& path) {
    const FileIn in(path);
    return carriersOf(AudioFormat::detect(in), in);
}

std::vector<ByteRange> audioRanges(const FileIn& in, AudioFormat format) {
    return write::audioRanges(in, format);
}

std::string fingerprint(const fs::path& path, AudioFormat format) {
    const FileIn in(path);
    AudioStream audio(in, audioRanges(in, format));
    Sha256 hash;
    for (auto piece = audio.next(); !piece.empty(); piece = audio.next()) {
        hash.update(piece.data(), piece.size());
    }
    return hash.hexDigest();
}

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
    const AudioFormat format = AudioFormat::detect(in);
    (void)audioRanges(in, format);
    const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
    struct stat folderStatus {};
    if (sys::accessEffective(folder, W_OK | X_OK) != 0 || sys::stat(folder, folderStatus) != 0) {
        throw TagError::io(msg::cannotWrite(std::generic_category().message(errno)));
    }
    if (!ownerKeepable(claim.status(), folderStatus)) throw TagError::io(msg::ownerNotKept);
    // The device takes every byte and keeps none; close() would ask it for a flush it refuses.
    FileOut sink("/dev/null", FileOut::Mode::replace);
    writeCode(format, in, sink, isrc, addAxml);
    sink.flushBuffer();
    return readCode(format, in);
}

void writeISRC(const fs::path& path, const std::optional<std::string>& isrc, bool backup,
               bool addAxml) {
    const fs::path target = resolveTarget(path);
    // 1. The original, opened once, locked, leased, checked: detected, read and copied through
    //    this one opening.
    const Claim claim(target);
    const FileIn& in = claim.in();
    const AudioFormat format = AudioFormat::detect(in);
    const std::vector<ByteRange> audioBefore = audioRanges(in, format);

    // 2. The temporary file. A leftover from an earlier crash goes first: while the lock is
    //    held no live write owns it. unlink(2) takes a file or a link, never a folder: a folder
    //    of that name makes the exclusive creation fail instead.
    PendingFile tmp(tempPathFor(target));
    (void)sys::unlink(tmp.path().string());
    FileOut out(tmp.path());  // exclusive, mode 0600 until the original's mode is applied
    tmp.arm();
    keepOwner(claim.status(), out.fd());
    writeCode(format, in, out, isrc, addAxml);
    out.flushBuffer();
    keepModeAndAttributes(in.fd(), claim.status(), out.fd());
    if (auto& hook = afterWriteHook()) hook(tmp.path());

    // 3. The checks read the temporary file as the kernel holds it, which is exactly what the
    //    flush stores; they run while the disk flushes, and the replace waits for both.
    out.startFlush();
    verifyWritten(in, audioBefore, FileIn(tmp.path()), format, isrc, out.shared());
    // Freeing the replaced file's cached pages costs about as much as reading them. While the
    // flush still runs that time is free, so they go now, step by step, until it ends; the rest
    // goes with the replace. A backup still reads them.
    constexpr std::uint64_t kDropStep = 16 << 20;
    for (std::uint64_t at = 0; !backup && at < in.size() && out.flushing(); at += kDropStep) {
        in.adviseDone(at, kDropStep);
    }
    out.close();
    claim.checkUndisturbed();

    // 4. The backup, then the replace; a backup of an original that stays is removed again.
    std::optional<PendingFile> copy;
    if (backup) {
        copy.emplace(writeBackup(in, claim.status(), target));
        syncFolder(target.parent_path());
    }
    replace(claim, tmp, target);
    if (copy) copy->keep();
    syncFolder(target.parent_path());
}

namespace testing {
void setAfterWriteHook(std::function<void(const fs::path& tmp)> hook) {
    afterWriteHook() = std::move(hook);
}
}  // namespace testing

}  // namespace pelorix::AudioTagger
