// SPDX-License-Identifier: MIT
#include "core/write/audio_tagger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>
#include <system_error>
#include <utility>

#include "core/formats/chunk_file.h"
#include "core/formats/flac.h"
#include "core/formats/id3v2.h"
#include "core/formats/mp3.h"
#include "core/formats/mp4.h"
#include "core/io/sha256.h"
#include "core/io/sys.h"
#include "core/io/text.h"
#include "core/tag_error.h"

namespace pelorix::AudioTagger {

namespace fs = std::filesystem;

namespace {

std::function<void(const fs::path&)>& afterWriteHook() {
    static std::function<void(const fs::path&)> hook;
    return hook;
}

// The audio of a file as one byte stream: its ranges concatenated, read in pieces of at most
// 1 MiB. The part of a range beyond the end of the file is simply absent, not an error.
class AudioStream {
  public:
    AudioStream(const FileIn& in, std::vector<ByteRange> ranges)
        : in_(in), ranges_(std::move(ranges)) {}

    // The next piece; empty once the audio is exhausted. Valid until the next call.
    std::span<const std::uint8_t> next() {
        while (index_ < ranges_.size()) {
            ByteRange& r = ranges_[index_];
            if (r.length == 0 || r.offset >= in_.size()) {
                ++index_;
                continue;
            }
            if (buffer_.empty()) buffer_.resize(pieceSize());
            if (!advised_) in_.adviseSequential(r.offset, r.length);
            advised_ = true;
            const auto want = std::size_t(
                std::min<std::uint64_t>({r.length, in_.size() - r.offset, buffer_.size()}));
            const ssize_t n = sys::pread(in_.fd(), buffer_.data(), want, off_t(r.offset));
            if (n < 0) sys::throwErrno();
            if (n == 0) {  // the file shrank since it was opened
                ++index_;
                advised_ = false;
                continue;
            }
            r.offset += std::uint64_t(n);
            r.length -= std::uint64_t(n);
            return {buffer_.data(), std::size_t(n)};
        }
        return {};
    }

  private:
    // 1 MiB, or less for less audio: a small file need not clear and fault in a whole piece.
    std::size_t pieceSize() const {
        std::uint64_t total = 0;
        for (std::size_t i = index_; i < ranges_.size() && total < kPieceSize; ++i) {
            total += std::min(ranges_[i].length, kPieceSize);
        }
        return std::size_t(std::min<std::uint64_t>(total, kPieceSize));
    }

    const FileIn& in_;
    std::vector<ByteRange> ranges_;
    std::size_t index_ = 0;
    bool advised_ = false;  // the current range was announced as a sequential read
    Bytes buffer_;
};

// True when both streams hold the same bytes: the same verdict as comparing their SHA-256
// digests, without the hashing and without the (theoretical) chance of a collision.
bool sameAudio(AudioStream& a, AudioStream& b) {
    std::span<const std::uint8_t> pa, pb;
    for (;;) {
        if (pa.empty()) pa = a.next();
        if (pb.empty()) pb = b.next();
        if (pa.empty() || pb.empty()) return pa.empty() && pb.empty();
        const std::size_t n = std::min(pa.size(), pb.size());
        if (std::memcmp(pa.data(), pb.data(), n) != 0) return false;
        pa = pa.subspan(n);
        pb = pb.subspan(n);
    }
}

struct stat statOf(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) sys::throwErrno();
    return st;
}

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The original is still the file we copied and compared against: the path names the same
// inode, and nothing wrote to it (a write moves ctime, which no user call can set back).
bool unchangedSince(const FileIn& in, const fs::path& path, const struct stat& then) {
    const struct stat now = statOf(in.fd());
    struct stat atPath {};
    if (::stat(path.c_str(), &atPath) != 0) return false;
    return now.st_size == then.st_size && sameTime(now.st_mtim, then.st_mtim) &&
           sameTime(now.st_ctim, then.st_ctim) && atPath.st_dev == then.st_dev &&
           atPath.st_ino == then.st_ino;
}

void copyXattrs(int from, int to) {
    ssize_t len = ::flistxattr(from, nullptr, 0);
    if (len <= 0) return;  // none, or the filesystem keeps no attributes
    std::string names(std::size_t(len), '\0');
    len = ::flistxattr(from, names.data(), names.size());
    if (len <= 0) return;
    names.resize(std::size_t(len));
    for (std::size_t at = 0; at < names.size();) {
        const std::string name(names.c_str() + at);
        at += name.size() + 1;
        if (name.empty()) continue;
        ssize_t vlen = ::fgetxattr(from, name.c_str(), nullptr, 0);
        if (vlen < 0) continue;
        std::string value(std::size_t(vlen), '\0');
        vlen = ::fgetxattr(from, name.c_str(), value.data(), value.size());
        if (vlen < 0) continue;
        if (sys::fsetxattr(to, name, value.data(), std::size_t(vlen)) != 0) {
            // Namespaces such as trusted.* or security.* need privileges this process may lack.
            if (errno == ENOTSUP || errno == EPERM || errno == EACCES) continue;
            sys::throwErrno();
        }
    }
}

// Gives `to` the owner and group (where this process may set them), permission bits and
// extended attributes of the file `from` described by `st`.
void copyAttributes(int from, const struct stat& st, int to) {
    const struct stat mine = statOf(to);
    if (mine.st_uid != st.st_uid || mine.st_gid != st.st_gid) {
        // Owner first: a change of owner clears set-id bits, which the mode below restores.
        if (sys::fchown(to, st.st_uid, st.st_gid) != 0) {
            (void)sys::fchown(to, uid_t(-1), st.st_gid);  // a member may still set the group
        }
    }
    if (sys::fchmod(to, st.st_mode & 07777) != 0) sys::throwErrno();
    copyXattrs(from, to);
}

// Flushes a folder's entries (a rename, a new file) to storage.
void syncFolder(const fs::path& folder) {
    const int fd =
        sys::open(folder.empty() ? std::string(".") : folder.string(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) sys::throwErrno();
    const int rc = sys::fsync(fd);
    const int err = errno;
    sys::close(fd);
    // Some filesystems cannot flush a folder at all; their renames are as durable as they get.
    if (rc != 0 && err != EINVAL && err != ENOTSUP) sys::throwErrno(err);
}

// Copies the whole of `in` into the empty file `to`, in-kernel where possible.
void copyContents(const FileIn& in, int to) {
    std::uint64_t offset = 0;
    bool inKernel = true;
    Bytes piece;
    while (offset < in.size()) {
        const auto want = std::size_t(std::min<std::uint64_t>(in.size() - offset, kPieceSize));
        ssize_t n;
        if (inKernel) {
            // Appends at the descriptor's offset, where the fallback's writes go on if the
            // kernel gives up half-way.
            n = sys::copyFileRange(in.fd(), off_t(offset), to, want);
            if (n < 0 && sys::kernelCopyUnavailable(errno)) {
                inKernel = false;
                continue;
            }
            if (n < 0) sys::throwErrno();
        } else {
            if (piece.empty()) piece.resize(kPieceSize);
            n = sys::pread(in.fd(), piece.data(), want, off_t(offset));
            if (n < 0) sys::throwErrno();
            sys::writeAll(to, piece.data(), std::size_t(n));
        }
        if (n == 0) break;  // the file shrank since it was opened
        offset += std::uint64_t(n);
    }
}

// Deletes the temporary file on every way out, but only one this call created and has not
// yet moved into place: whatever else sits at that name is not ours.
class TempFileGuard {
  public:
    explicit TempFileGuard(fs::path path) : path_(std::move(path)) {}
    ~TempFileGuard() {
        if (armed_) (void)sys::unlink(path_.string());
    }
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;
    void arm() { armed_ = true; }
    void disarm() { armed_ = false; }

  private:
    fs::path path_;
    bool armed_ = false;
};

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

fs::path tempPathFor(const fs::path& file) {
    std::string name = ".";  // appended step by step: GCC 12 misreports "." + s (-Wrestrict)
    name += file.filename().string();
    name += ".pelorix-tmp";
    return file.parent_path() / name;
}

bool sameCode(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    if (!a || !b) return !a && !b;
    return text::canonicallyEqual(*a, *b);
}

std::optional<std::string> readWith(AudioFormat format, const FileIn& in) {
    switch (format) {
        case AudioFormat::mp3:
            return MP3Tagger::readISRC(in);
        case AudioFormat::wav:
        case AudioFormat::aiff: {
            const auto parsed = ChunkFile::parse(in, format == AudioFormat::wav);
            const auto tag = ChunkFile::existingTag(in, parsed.chunks);
            if (!tag) return std::nullopt;
            return ID3v2::isrc(*tag);
        }
        case AudioFormat::flac:
            return FLACTagger::readISRC(in);
        case AudioFormat::m4a:
            return MP4Tagger::readISRC(in);
    }
    throw TagError::unsupported(msg::unsupportedType);
}

void writeWith(AudioFormat format, const FileIn& in, FileOut& out,
               const std::optional<std::string>& isrc) {
    switch (format) {
        case AudioFormat::mp3:
            MP3Tagger::write(in, out, isrc);
            return;
        case AudioFormat::wav:
            ChunkFile::write(in, out, true, isrc);
            return;
        case AudioFormat::aiff:
            ChunkFile::write(in, out, false, isrc);
            return;
        case AudioFormat::flac:
            FLACTagger::write(in, out, isrc);
            return;
        case AudioFormat::m4a:
            MP4Tagger::write(in, out, isrc);
            return;
    }
    throw TagError::unsupported(msg::unsupportedType);
}

std::string backupName(const std::string& base, const std::string& ext, std::uint64_t n) {
    std::string name = base + (n == 1 ? " (original)" : " (original " + std::to_string(n) + ")");
    return name + ext;
}

}  // namespace

std::optional<std::string> readISRC(const fs::path& path) {
    const FileIn in(path);  // detection and reading share one opening
    return readWith(AudioFormat::detect(in), in);
}

std::vector<ByteRange> audioRanges(const FileIn& in, AudioFormat format) {
    const std::uint64_t size = in.size();
    switch (format) {
        case AudioFormat::mp3: {
            std::uint64_t start = 0;
            if (auto total = ID3v2::totalSize(in.read(0, 10))) {
                // The codec refuses such a tag too; saying so beats hashing nothing.
                if (*total > size) throw TagError::malformed(msg::id3Truncated);
                start = *total;
            }
            return {{start, size - start}};
        }
        case AudioFormat::wav:
        case AudioFormat::aiff: {
            const bool little = format == AudioFormat::wav;
            const std::string id = little ? "data" : "SSND";
            for (const auto& chunk : ChunkFile::parse(in, little).chunks) {
                if (chunk.id == id) return {{chunk.headerOffset + 8, chunk.size}};
            }
            return {};
        }
        case AudioFormat::flac: {
            const std::uint64_t start = FLACTagger::audioOffset(in);
            if (start >= size) return {};
            return {{start, size - start}};
        }
        case AudioFormat::m4a:
            return MP4Tagger::mediaRanges(in);
    }
    return {};
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
    const struct stat st = statOf(in.fd());
    const std::string base = path.stem().string();
    const std::string ext = path.extension().string();
    for (std::uint64_t n = 1;; ++n) {
        const fs::path candidate = path.parent_path() / backupName(base, ext, n);
        // Exclusive creation: an existing file, folder or link (even a dangling one) at the
        // name is never reused or followed, so a backup never overwrites anything.
        int fd = sys::open(candidate.string(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            sys::throwErrno();
        }
        try {
            copyContents(in, fd);
            copyAttributes(in.fd(), st, fd);
            if (sys::fsync(fd) != 0) sys::throwErrno();
            const int closing = std::exchange(fd, -1);
            if (sys::close(closing) != 0) sys::throwErrno();
        } catch (...) {
            if (fd >= 0) (void)sys::close(fd);
            (void)sys::unlink(candidate.string());
            throw;
        }
        return candidate;
    }
}

void writeISRC(const fs::path& path, const std::optional<std::string>& isrc, bool backup) {
    const fs::path target = resolveTarget(path);
    const FileIn in(target);  // detected, fingerprinted and copied through this one opening
    const AudioFormat format = AudioFormat::detect(in);

    const fs::path tmp = tempPathFor(target);
    // A leftover from an earlier crash goes. unlink(2) takes a file or a link, never a folder:
    // a folder of that name makes the exclusive creation below fail instead.
    (void)sys::unlink(tmp.string());
    TempFileGuard guard(tmp);

    const struct stat original = statOf(in.fd());
    const std::vector<ByteRange> audioBefore = audioRanges(in, format);

    FileOut out(tmp);  // exclusive, mode 0600 until the original's mode is applied
    guard.arm();
    writeWith(format, in, out, isrc);
    copyAttributes(in.fd(), original, out.fd());
    out.flushBuffer();
    if (auto& hook = afterWriteHook()) hook(tmp);

    // The checks read the temporary file as the kernel holds it, which is exactly what the
    // flush stores; they run while the disk flushes, and the replace waits for both.
    out.startFlush();
    {
        const FileIn written(tmp);
        if (!sameCode(readWith(AudioFormat::detect(written), written), isrc)) {
            throw TagError::io(msg::verifyISRC);
        }
        AudioStream before(in, audioBefore);
        AudioStream after(written, audioRanges(written, format));
        if (!sameAudio(before, after)) throw TagError::io(msg::verifyAudio);
    }
    // Freeing the replaced file's cached pages costs about as much as reading them. While the
    // flush still runs that time is free, so they go now, step by step, until it ends; the rest
    // goes with the replace. A backup still reads them.
    constexpr std::uint64_t kDropStep = 16 << 20;
    for (std::uint64_t at = 0; !backup && at < in.size() && out.flushing(); at += kDropStep) {
        in.adviseDone(at, kDropStep);
    }
    out.close();
    if (!unchangedSince(in, target, original)) throw TagError::io(msg::verifyAudio);

    std::optional<fs::path> copy;
    try {
        if (backup) {
            copy = makeBackup(target);
            syncFolder(target.parent_path());
        }
        if (sys::rename(tmp.string(), target.string()) != 0) sys::throwErrno();
    } catch (...) {
        // The original is intact, so a backup of it would only be a stray duplicate.
        if (copy) (void)sys::unlink(copy->string());
        throw;
    }
    guard.disarm();
    syncFolder(target.parent_path());
}

namespace testing {
void setAfterWriteHook(std::function<void(const fs::path& tmp)> hook) {
    afterWriteHook() = std::move(hook);
}
}  // namespace testing

}  // namespace pelorix::AudioTagger
