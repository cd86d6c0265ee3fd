#include "core/binary_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "core/sys.h"
#include "core/tag_error.h"

namespace pelorix {

// ---- byte codecs ---------------------------------------------------------------------------

std::uint32_t be32(const Bytes& b, std::size_t at) {
    return (std::uint32_t(b[at]) << 24) | (std::uint32_t(b[at + 1]) << 16) |
           (std::uint32_t(b[at + 2]) << 8) | std::uint32_t(b[at + 3]);
}

std::uint32_t le32(const Bytes& b, std::size_t at) {
    return (std::uint32_t(b[at + 3]) << 24) | (std::uint32_t(b[at + 2]) << 16) |
           (std::uint32_t(b[at + 1]) << 8) | std::uint32_t(b[at]);
}

Bytes bytes32BE(std::uint64_t v) {
    return {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
}

Bytes bytes32LE(std::uint64_t v) {
    return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
}

std::uint32_t synchsafeDecode(const Bytes& b, std::size_t at) {
    return (std::uint32_t(b[at] & 0x7F) << 21) | (std::uint32_t(b[at + 1] & 0x7F) << 14) |
           (std::uint32_t(b[at + 2] & 0x7F) << 7) | std::uint32_t(b[at + 3] & 0x7F);
}

Bytes synchsafeEncode(std::uint64_t v) {
    return {std::uint8_t((v >> 21) & 0x7F), std::uint8_t((v >> 14) & 0x7F),
            std::uint8_t((v >> 7) & 0x7F), std::uint8_t(v & 0x7F)};
}

std::string fourCC(const Bytes& b, std::size_t at) {
    std::string s;
    for (std::size_t i = at; i < at + 4; ++i) {
        std::uint8_t c = b[i];
        if (c < 0x80) {
            s += char(c);
        } else {  // ISO-8859-1 byte as a two-byte UTF-8 sequence
            s += char(0xC0 | (c >> 6));
            s += char(0x80 | (c & 0x3F));
        }
    }
    return s;
}

Bytes fourCCBytes(std::string_view text) {
    // Decode UTF-8 scalars and keep the low 8 bits of each. Invalid bytes pass through as-is.
    Bytes out;
    std::size_t i = 0;
    while (i < text.size()) {
        auto c = std::uint8_t(text[i]);
        std::uint32_t cp = c;
        std::size_t len = 1;
        if (c >= 0xF0 && i + 3 < text.size()) {
            cp = ((c & 0x07u) << 18) | ((std::uint8_t(text[i + 1]) & 0x3Fu) << 12) |
                 ((std::uint8_t(text[i + 2]) & 0x3Fu) << 6) | (std::uint8_t(text[i + 3]) & 0x3Fu);
            len = 4;
        } else if (c >= 0xE0 && i + 2 < text.size()) {
            cp = ((c & 0x0Fu) << 12) | ((std::uint8_t(text[i + 1]) & 0x3Fu) << 6) |
                 (std::uint8_t(text[i + 2]) & 0x3Fu);
            len = 3;
        } else if (c >= 0xC0 && i + 1 < text.size()) {
            cp = ((c & 0x1Fu) << 6) | (std::uint8_t(text[i + 1]) & 0x3Fu);
            len = 2;
        }
        out.push_back(std::uint8_t(cp & 0xFF));
        i += len;
    }
    return out;
}

void append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

void append(Bytes& to, std::string_view ascii) { to.insert(to.end(), ascii.begin(), ascii.end()); }

// ---- ByteReader ----------------------------------------------------------------------------

bool ByteReader::take(std::size_t n) {
    if (!ok_ || !has(n)) {
        ok_ = false;
        return false;
    }
    return true;
}

void ByteReader::seek(std::size_t pos) {
    if (pos > size_) ok_ = false;
    else pos_ = pos;
}

void ByteReader::skip(std::size_t n) {
    if (take(n)) pos_ += n;
}

std::uint8_t ByteReader::readU8() {
    if (!take(1)) return 0;
    return data_[pos_++];
}

std::uint16_t ByteReader::readU16BE() {
    if (!take(2)) return 0;
    std::uint16_t v = std::uint16_t((data_[pos_] << 8) | data_[pos_ + 1]);
    pos_ += 2;
    return v;
}

std::uint32_t ByteReader::readU24BE() {
    if (!take(3)) return 0;
    std::uint32_t v = (std::uint32_t(data_[pos_]) << 16) | (std::uint32_t(data_[pos_ + 1]) << 8) |
                      data_[pos_ + 2];
    pos_ += 3;
    return v;
}

std::uint32_t ByteReader::readU32BE() {
    if (!take(4)) return 0;
    std::uint32_t v = (std::uint32_t(data_[pos_]) << 24) | (std::uint32_t(data_[pos_ + 1]) << 16) |
                      (std::uint32_t(data_[pos_ + 2]) << 8) | data_[pos_ + 3];
    pos_ += 4;
    return v;
}

std::uint32_t ByteReader::readU32LE() {
    if (!take(4)) return 0;
    std::uint32_t v = (std::uint32_t(data_[pos_ + 3]) << 24) |
                      (std::uint32_t(data_[pos_ + 2]) << 16) |
                      (std::uint32_t(data_[pos_ + 1]) << 8) | data_[pos_];
    pos_ += 4;
    return v;
}

std::uint64_t ByteReader::readU64BE() {
    std::uint64_t hi = readU32BE();
    std::uint64_t lo = readU32BE();
    return (hi << 32) | lo;
}

Bytes ByteReader::readBytes(std::size_t n) {
    if (!take(n)) return {};
    Bytes b(data_ + pos_, data_ + pos_ + n);
    pos_ += n;
    return b;
}

// ---- FileIn --------------------------------------------------------------------------------

FileIn::FileIn(const std::filesystem::path& path) : path_(path) {
    // Non-blocking, so that opening a FIFO cannot hang; only regular files are read.
    fd_ = sys::open(path.string(), O_RDONLY | O_NONBLOCK);
    if (fd_ < 0) {
        throw TagError::io(msg::cannotOpen(std::generic_category().message(errno)));
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        int err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd_);
        fd_ = -1;
        throw TagError::io(msg::cannotOpen(err == EISDIR ? std::generic_category().message(err)
                                                         : std::string("Not a regular file")));
    }
    off_t end = ::lseek(fd_, 0, SEEK_END);
    size_ = end < 0 ? 0 : std::uint64_t(end);
}

FileIn::~FileIn() {
    if (fd_ >= 0) ::close(fd_);
}

Bytes FileIn::read(std::uint64_t offset, std::int64_t count) const {
    if (count <= 0 || offset >= size_) return {};
    std::uint64_t want = std::min<std::uint64_t>(std::uint64_t(count), size_ - offset);
    Bytes out(want);
    std::uint64_t got = 0;
    while (got < want) {
        ssize_t n = sys::pread(fd_, out.data() + got, want - got, off_t(offset + got));
        if (n < 0) sys::throwErrno();
        if (n == 0) break;  // the file shrank since it was opened
        got += std::uint64_t(n);
    }
    out.resize(got);
    return out;
}

void FileIn::copy(std::uint64_t offset, std::uint64_t count, FileOut& out) const {
    if (count == 0) return;
    out.flushBuffer();
    Bytes piece(std::min<std::uint64_t>(count, kPieceSize));
    while (count > 0) {
        std::size_t n = 0;
        if (offset < size_) {
            std::uint64_t want = std::min<std::uint64_t>({count, size_ - offset, kPieceSize});
            ssize_t r = sys::pread(fd_, piece.data(), want, off_t(offset));
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

FileOut::FileOut(const std::filesystem::path& path, Mode mode) : path_(path) {
    int flags = O_WRONLY | O_CREAT;
    mode_t perm = 0644;
    if (mode == Mode::exclusive) {
        flags |= O_EXCL | O_NOFOLLOW;
        perm = 0600;
    } else {
        flags |= O_TRUNC;
    }
    fd_ = sys::open(path.string(), flags, perm);
    if (fd_ < 0) {
        throw TagError::io(msg::cannotWrite(std::generic_category().message(errno)));
    }
}

FileOut::~FileOut() {
    if (fd_ >= 0) ::close(fd_);
}

static void writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = sys::write(fd, data, size);
        if (n < 0) sys::throwErrno();
        if (n == 0) sys::throwErrno(EIO);
        data += n;
        size -= std::size_t(n);
    }
}

void FileOut::write(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kGather = 64 * 1024;
    if (buffer_.size() + size <= kGather) {
        buffer_.insert(buffer_.end(), data, data + size);
    } else {
        flushBuffer();
        if (size <= kGather) buffer_.insert(buffer_.end(), data, data + size);
        else writeAll(fd_, data, size);
    }
    position_ += size;
}

void FileOut::flushBuffer() {
    if (buffer_.empty()) return;
    Bytes pending;
    pending.swap(buffer_);  // a failed write must not be retried by the destructor's path
    writeAll(fd_, pending.data(), pending.size());
}

void FileOut::patch(std::uint64_t offset, const Bytes& bytes) {
    flushBuffer();
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = sys::pwrite(fd_, bytes.data() + done, bytes.size() - done, off_t(offset + done));
        if (n < 0) sys::throwErrno();
        if (n == 0) sys::throwErrno(EIO);
        done += std::size_t(n);
    }
}

void FileOut::close() {
    if (fd_ < 0) return;
    flushBuffer();
    if (sys::fsync(fd_) != 0) sys::throwErrno();
    int fd = fd_;
    fd_ = -1;
    if (sys::close(fd) != 0) sys::throwErrno();
}

}  // namespace pelorix
