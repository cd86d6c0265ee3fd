// SPDX-License-Identifier: MIT
#include "core/io/binary_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "core/io/clone.h"
#include "core/io/sys.h"
#include "core/io/text.h"
#include "core/tag_error.h"

namespace pelorix {

// ---- byte codecs ---------------------------------------------------------------------------

const std::uint8_t* ByteReader::take(std::size_t n) {
    if (!has(n)) {
        ok_ = false;
        return nullptr;
    }
    const std::uint8_t* at = bytes_.data() + pos_;
    pos_ += n;
    return at;
}

void ByteReader::seek(std::size_t pos) {
    if (pos > bytes_.size())
        ok_ = false;
    else
        pos_ = pos;
}

void ByteReader::skip(std::size_t n) {
    (void)take(n);
}

std::uint8_t ByteReader::readU8() {
    const std::uint8_t* p = take(1);
    return p ? p[0] : 0;
}

std::uint16_t ByteReader::readU16BE() {
    const std::uint8_t* p = take(2);
    return p ? std::uint16_t((p[0] << 8) | p[1]) : 0;
}

std::uint32_t ByteReader::readU24BE() {
    const std::uint8_t* p = take(3);
    return p ? (std::uint32_t(p[0]) << 16) | (std::uint32_t(p[1]) << 8) | p[2] : 0;
}

std::uint32_t ByteReader::readU32BE() {
    const std::uint8_t* p = take(4);
    if (!p) return 0;
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           p[3];
}

std::uint32_t ByteReader::readU32LE() {
    const std::uint8_t* p = take(4);
    if (!p) return 0;
    return (std::uint32_t(p[3]) << 24) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) |
           p[0];
}

std::uint64_t ByteReader::readU64BE() {
    const std::uint64_t hi = readU32BE();
    return (hi << 32) | readU32BE();
}

std::uint32_t ByteReader::readSynchsafe32() {
    const std::uint8_t* p = take(4);
    if (!p) return 0;
    return (std::uint32_t(p[0] & 0x7F) << 21) | (std::uint32_t(p[1] & 0x7F) << 14) |
           (std::uint32_t(p[2] & 0x7F) << 7) | std::uint32_t(p[3] & 0x7F);
}

std::string ByteReader::readFourCC() {
    const std::uint8_t* p = take(4);
    return p ? text::decodeLossy(p, 4, text::Encoding::latin1) : std::string();
}

std::span<const std::uint8_t> ByteReader::readSpan(std::size_t n) {
    const std::uint8_t* p = take(n);
    return p ? std::span<const std::uint8_t>(p, n) : std::span<const std::uint8_t>();
}

Bytes ByteReader::readBytes(std::size_t n) {
    const auto s = readSpan(n);
    return Bytes(s.begin(), s.end());
}

ByteWriter& ByteWriter::u8(std::uint8_t v) {
    out_.push_back(v);
    return *this;
}

ByteWriter& ByteWriter::u16LE(std::uint16_t v) {
    return u8(std::uint8_t(v)).u8(std::uint8_t(v >> 8));
}

ByteWriter& ByteWriter::u24BE(std::uint32_t v) {
    return u8(std::uint8_t(v >> 16)).u8(std::uint8_t(v >> 8)).u8(std::uint8_t(v));
}

ByteWriter& ByteWriter::u32BE(std::uint64_t v) {
    return u8(std::uint8_t(v >> 24)).u24BE(std::uint32_t(v & 0xFFFFFF));
}

ByteWriter& ByteWriter::u32LE(std::uint64_t v) {
    return u8(std::uint8_t(v))
        .u8(std::uint8_t(v >> 8))
        .u8(std::uint8_t(v >> 16))
        .u8(std::uint8_t(v >> 24));
}

ByteWriter& ByteWriter::synchsafe32(std::uint64_t v) {
    for (int shift = 21; shift >= 0; shift -= 7) u8(std::uint8_t((v >> shift) & 0x7F));
    return *this;
}

ByteWriter& ByteWriter::fourCC(std::string_view text) {
    for (const char32_t c : text::scalars(text)) u8(std::uint8_t(c & 0xFF));
    return *this;
}

ByteWriter& ByteWriter::bytes(std::span<const std::uint8_t> more) {
    out_.insert(out_.end(), more.begin(), more.end());
    return *this;
}

ByteWriter& ByteWriter::ascii(std::string_view text) {
    out_.insert(out_.end(), text.begin(), text.end());
    return *this;
}

ByteWriter& ByteWriter::zeros(std::size_t n) {
    out_.resize(out_.size() + n, 0);
    return *this;
}

Bytes bytes32BE(std::uint64_t v) {
    Bytes b;
    ByteWriter(b).u32BE(v);
    return b;
}

Bytes bytes32LE(std::uint64_t v) {
    Bytes b;
    ByteWriter(b).u32LE(v);
    return b;
}

Bytes synchsafeEncode(std::uint64_t v) {
    Bytes b;
    ByteWriter(b).synchsafe32(v);
    return b;
}

Bytes fourCCBytes(std::string_view text) {
    Bytes b;
    ByteWriter(b).fourCC(text);
    return b;
}

void append(Bytes& to, std::span<const std::uint8_t> more) {
    ByteWriter(to).bytes(more);
}

void append(Bytes& to, std::string_view ascii) {
    ByteWriter(to).ascii(ascii);
}

std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    }
    return out;
}

// ---- FileIn --------------------------------------------------------------------------------

namespace {

constexpr std::uint64_t kPage = 4 * 1024;
// Reads of at most this many bytes go through the cache, which then holds at least this much.
constexpr std::uint64_t kCachedRead = kPage;
// Copies up to this size are read into the output's gather buffer: one read, no write of their
// own. Larger ones go through the kernel.
constexpr std::uint64_t kSmallCopy = 64 * 1024;
// One copy_file_range call, and the step at which the output starts writing to the disk.
constexpr std::uint64_t kKernelPiece = 8 << 20;
// Below this, sharing blocks saves less than the calls it takes.
constexpr std::uint64_t kShareMinimum = 1 << 20;

}  // namespace

FileIn::FileIn(const std::filesystem::path& path) : path_(path) {
    open(AT_FDCWD, path.string());
}

FileIn::FileIn(int folder, const std::string& name, const std::filesystem::path& shown)
    : path_(shown) {
    open(folder, name);
}

void FileIn::open(int folder, const std::string& name) {
    // Non-blocking, so that opening a FIFO cannot hang; only regular files are read.
    fd_ =
        sys::Fd(folder == AT_FDCWD ? sys::open(name, O_RDONLY | O_NONBLOCK)
                                   : sys::openAt(folder, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW));
    if (!fd_) {
        throw TagError::io(msg::cannotOpen(std::generic_category().message(errno)));
    }
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        int err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        fd_.reset();
        throw TagError::io(msg::cannotOpen(err == EISDIR ? std::generic_category().message(err)
                                                         : std::string("Not a regular file")));
    }
    // For a regular file this is where a seek to the end lands, without the extra call.
    size_ = st.st_size < 0 ? 0 : std::uint64_t(st.st_size);
}

std::size_t FileIn::readInto(std::uint64_t offset, std::uint8_t* to, std::size_t count) const {
    if (count == 0 || offset >= size_) return 0;
    return sys::preadAll(fd_.get(), to, std::min<std::uint64_t>(count, size_ - offset), offset);
}

Bytes FileIn::read(std::uint64_t offset, std::int64_t count) const {
    if (count <= 0 || offset >= size_) return {};
    const std::uint64_t want = std::min<std::uint64_t>(std::uint64_t(count), size_ - offset);
    if (want > kCachedRead) {
        Bytes out(want);
        out.resize(sys::preadAll(fd_.get(), out.data(), want, offset));
        return out;
    }
    const auto holds = [&](const Stretch& c) {
        return offset >= c.start && offset - c.start <= c.bytes.size() &&
               c.bytes.size() - (offset - c.start) >= want;
    };
    if (!holds(cache_[0])) {
        std::swap(cache_[0], cache_[1]);
        if (!holds(cache_[0])) {
            // The stretch starts at a page boundary, so that the fields just before `offset`
            // (a walk often steps back to a header it passed) come with it.
            Stretch& c = cache_[0];
            c.bytes.clear();  // a failed read below must not leave a stale stretch behind
            c.start = offset / kPage * kPage;
            c.bytes.resize(std::min(offset - c.start + kCachedRead, size_ - c.start));
            c.bytes.resize(sys::preadAll(fd_.get(), c.bytes.data(), c.bytes.size(), c.start));
        }
    }
    // Fewer bytes than wanted only when the file shrank since it was opened.
    const Stretch& c = cache_[0];
    const std::uint64_t at = std::min<std::uint64_t>(offset - c.start, c.bytes.size());
    const std::uint64_t n = std::min<std::uint64_t>(want, c.bytes.size() - at);
    return Bytes(c.bytes.begin() + std::ptrdiff_t(at), c.bytes.begin() + std::ptrdiff_t(at + n));
}

void FileIn::adviseSequential(std::uint64_t offset, std::uint64_t count) const {
    // Only a hint about this descriptor's readahead: nothing in the file changes, and a
    // refusal changes nothing either, so it bypasses the fault seam.
    (void)::posix_fadvise(fd_.get(), off_t(offset), off_t(count), POSIX_FADV_SEQUENTIAL);
}

void FileIn::adviseDone(std::uint64_t offset, std::uint64_t count) const {
    (void)::posix_fadvise(fd_.get(), off_t(offset), off_t(count), POSIX_FADV_DONTNEED);
}

void FileIn::copy(std::uint64_t offset, std::uint64_t count, FileOut& out) const {
    if (count == 0) return;
    out.mustBeWritable();
    if (count <= kSmallCopy) {
        const Bytes piece = read(offset, std::int64_t(count));
        out.write(piece);
        if (piece.size() < count) throw TagError::malformed(msg::fileEnded);
        return;
    }
    // The kernel appends at the descriptor's offset, so the gathered bytes must be there first.
    out.flushBuffer();
    if (out.mayShare_ && count >= kShareMinimum && offset < size_) {
        const auto part = clone::alignedPart(offset, out.position_, std::min(count, size_ - offset),
                                             clone::blockSize(out.fd_.get()));
        if (part) {
            // The head up to the first whole block is copied; then the blocks are shared.
            copyData(offset, part->offset - offset, out);
            count -= part->offset - offset;
            offset = part->offset;
            const std::uint64_t at = out.position_;
            if (clone::cloneRange(fd_.get(), part->offset, out.fd_.get(), at, part->length)) {
                // Sharing does not move the descriptor's offset; the next bytes go after it.
                if (sys::seek(out.fd_.get(), off_t(at + part->length), SEEK_SET) < 0)
                    sys::throwErrno();
                out.shared_.push_back({part->offset, at, part->length});
                out.position_ += part->length;
                out.writebackFrom_ = out.position_;  // nothing of it is waiting for the disk
                offset += part->length;
                count -= part->length;
            } else {
                out.mayShare_ = false;
            }
        }
    }
    copyData(offset, count, out);
}

// Copies the stretches that hold data, and leaves the holes between them unwritten. Holes
// smaller than this are copied as the zeros they read as: one call costs more than they do.
void FileIn::copyData(std::uint64_t offset, std::uint64_t count, FileOut& out) const {
    constexpr std::uint64_t kWorthAHole = 1 << 20;
    const std::uint64_t end = offset + count;
    while (offset < end && offset < size_) {
        const off_t hole = sys::seek(fd_.get(), off_t(offset), SEEK_HOLE);
        // Where the filesystem cannot say, or the file changed under us, every byte is copied.
        if (hole < 0 || std::uint64_t(hole) >= end) break;
        off_t data = sys::seek(fd_.get(), hole, SEEK_DATA);
        if (data < 0 && errno == ENXIO) data = off_t(size_);  // a hole up to the end
        if (data < 0 || data <= hole) break;
        const std::uint64_t holeEnd = std::min<std::uint64_t>(std::uint64_t(data), end);
        if (holeEnd - std::uint64_t(hole) < kWorthAHole) {
            copyInKernel(offset, holeEnd - offset, out);
        } else {
            copyInKernel(offset, std::uint64_t(hole) - offset, out);
            out.skipHole(holeEnd - std::uint64_t(hole));
        }
        offset = holeEnd;
    }
    if (offset < end) copyInKernel(offset, end - offset, out);
}

void FileIn::copyInKernel(std::uint64_t offset, std::uint64_t count, FileOut& out) const {
    if (count == 0) return;
    adviseSequential(offset, count);
    while (count > 0) {
        if (offset >= size_) throw TagError::malformed(msg::fileEnded);
        const auto want = std::size_t(std::min({count, size_ - offset, kKernelPiece}));
        const ssize_t n = sys::copyFileRange(fd_.get(), off_t(offset), out.fd_.get(), want);
        if (n < 0 && !sys::kernelCopyUnavailable(errno)) sys::throwErrno();
        if (n <= 0) {
            // Unavailable here, or nothing copied where the file should still have bytes (some
            // filesystems say 0 rather than fail): read(2) knows what is really there.
            copyThroughBuffer(offset, count, out);
            return;
        }
        out.appended(std::uint64_t(n));
        offset += std::uint64_t(n);
        count -= std::uint64_t(n);
    }
}

void FileIn::copyThroughBuffer(std::uint64_t offset, std::uint64_t count, FileOut& out) const {
    Bytes piece(std::min<std::uint64_t>(count, kPieceSize));
    while (count > 0) {
        std::size_t n = 0;
        if (offset < size_) {
            std::uint64_t want = std::min<std::uint64_t>({count, size_ - offset, kPieceSize});
            ssize_t r = sys::pread(fd_.get(), piece.data(), want, off_t(offset));
            if (r < 0) sys::throwErrno();
            n = std::size_t(r);
        }
        if (n == 0) throw TagError::malformed(msg::fileEnded);
        out.write(piece.data(), n);
        out.flushBuffer();
        offset += n;
        count -= n;
    }
}

// ---- FileOut -------------------------------------------------------------------------------

FileOut::FileOut(int folder, const std::string& name, const std::filesystem::path& shown)
    : path_(shown) {
    fd_ = sys::Fd(sys::openAt(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600));
    if (!fd_) {
        throw TagError::io(msg::cannotWrite(std::generic_category().message(errno)));
    }
}

FileOut::FileOut(const std::filesystem::path& path, Mode mode) : path_(path) {
    int flags = O_WRONLY | O_CREAT;
    mode_t perm = 0644;
    if (mode == Mode::exclusive) {
        flags |= O_EXCL | O_NOFOLLOW;
        perm = 0600;
    } else {
        flags |= O_TRUNC;
    }
    fd_ = sys::openFd(path.string(), flags, perm);
    if (!fd_) {
        throw TagError::io(msg::cannotWrite(std::generic_category().message(errno)));
    }
}

FileOut::~FileOut() {
    flush_.reset();  // the helper thread finishes with the descriptor first; then it closes
}

void FileOut::mustBeWritable() const {
    if (flush_) throw std::logic_error("FileOut: written after startFlush()");
}

void FileOut::write(const std::uint8_t* data, std::size_t size) {
    mustBeWritable();
    constexpr std::size_t kGather = 64 * 1024;
    if (buffer_.size() + size <= kGather) {
        buffer_.insert(buffer_.end(), data, data + size);
        position_ += size;
    } else {
        flushBuffer();
        if (size <= kGather) {
            buffer_.insert(buffer_.end(), data, data + size);
            position_ += size;
        } else {
            sys::writeAll(fd_.get(), data, size);
            appended(size);
        }
    }
}

void FileOut::skipHole(std::uint64_t count) {
    flushBuffer();
    if (sys::seek(fd_.get(), off_t(position_ + count), SEEK_SET) < 0) sys::throwErrno();
    position_ += count;
    writebackFrom_ = position_;  // nothing of it is waiting for the disk
    endsInHole_ = true;
}

void FileOut::appended(std::uint64_t count) {
    endsInHole_ = false;
    position_ += count;
    if (earlyWriteback_ && position_ - buffer_.size() - writebackFrom_ >= kKernelPiece) {
        startWriteback();
    }
}

void FileOut::startWriteback() {
    // Everything already in the file goes to the disk now, while the caller goes on copying and
    // verifying, instead of all of it waiting for the fsync in close().
    const std::uint64_t inFile = position_ - buffer_.size();
    if (sys::startWriteback(fd_.get(), off_t(writebackFrom_), off_t(inFile - writebackFrom_)) !=
        0) {
        if (errno != EINVAL && errno != ESPIPE && errno != ENOSYS && errno != EOPNOTSUPP) {
            sys::throwErrno();
        }
        earlyWriteback_ = false;  // not on this filesystem; close() still flushes everything
    }
    writebackFrom_ = inFile;
}

void FileOut::flushBuffer() {
    if (buffer_.empty()) {
        // A hole skipped last ends the file only once its size says so.
        if (endsInHole_ && sys::ftruncate(fd_.get(), off_t(position_)) != 0) sys::throwErrno();
        endsInHole_ = false;
        return;
    }
    Bytes pending;
    pending.swap(buffer_);  // a failed write must not be retried by the destructor's path
    endsInHole_ = false;
    sys::writeAll(fd_.get(), pending.data(), pending.size());
}

void FileOut::patch(std::uint64_t offset, const Bytes& bytes) {
    mustBeWritable();
    flushBuffer();
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n =
            sys::pwrite(fd_.get(), bytes.data() + done, bytes.size() - done, off_t(offset + done));
        if (n < 0) sys::throwErrno();
        if (n == 0) sys::throwErrno(EIO);
        done += std::size_t(n);
    }
}

void FileOut::startFlush() {
    if (!fd_ || flush_) return;
    flushBuffer();
    flush_ = std::make_unique<sys::Fsync>(fd_.get());
}

bool FileOut::flushing() const {
    return flush_ && !flush_->done();
}

void FileOut::close() {
    if (!fd_) return;
    flushBuffer();
    if (flush_) {
        const int rc = flush_->wait();
        const int err = errno;
        flush_.reset();
        if (rc != 0) sys::throwErrno(err);
    } else if (sys::fsync(fd_.get()) != 0) {
        sys::throwErrno();
    }
    if (fd_.close() != 0) sys::throwErrno();
}

std::uint64_t FileIn::linkCount() const {
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0)
        return 1;  // cannot happen for an open descriptor; assume a name
    return st.st_nlink;
}

}  // namespace pelorix
