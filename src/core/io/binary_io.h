// SPDX-License-Identifier: MIT
#pragma once
// File streams and byte codecs. Input is never loaded whole: headers and metadata are read into
// memory, audio moves from input to output inside the kernel or through a buffer of at most
// 1 MiB. Output is written strictly front to back, with `patch` to fill in a size field once it
// is known.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pelorix {

namespace sys {
class Fsync;
}

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::size_t kPieceSize = 1 << 20;  // 1 MiB

// `length` bytes of a file starting at `offset`.
struct ByteRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    friend bool operator==(const ByteRange&, const ByteRange&) = default;
};

// ---- byte codecs ---------------------------------------------------------------------------
// Preconditions: at + 4 <= bytes.size(). Callers check lengths first; ByteReader does it for you.
std::uint32_t be32(const Bytes& bytes, std::size_t at);
std::uint32_t le32(const Bytes& bytes, std::size_t at);
Bytes bytes32BE(std::uint64_t value);
Bytes bytes32LE(std::uint64_t value);
std::uint32_t synchsafeDecode(const Bytes& bytes, std::size_t at);
Bytes synchsafeEncode(std::uint64_t value);
// The four bytes read as ISO-8859-1 and returned as UTF-8 text.
std::string fourCC(const Bytes& bytes, std::size_t at);
// One byte per Unicode scalar of the UTF-8 text: the low 8 bits of its code point.
Bytes fourCCBytes(std::string_view text);

void append(Bytes& to, const Bytes& more);
void append(Bytes& to, std::string_view ascii);

// A bounds-checked cursor over a byte range. Reads past the end never touch memory: `ok()`
// turns false and the read returns 0, so a parser checks once after a group of reads.
class ByteReader {
  public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    explicit ByteReader(const Bytes& b) : ByteReader(b.data(), b.size()) {}

    std::size_t position() const { return pos_; }
    std::size_t size() const { return size_; }
    std::size_t remaining() const { return pos_ <= size_ ? size_ - pos_ : 0; }
    bool has(std::size_t n) const { return n <= remaining(); }
    bool ok() const { return ok_; }
    void seek(std::size_t pos);
    void skip(std::size_t n);

    std::uint8_t readU8();
    std::uint16_t readU16BE();
    std::uint32_t readU24BE();
    std::uint32_t readU32BE();
    std::uint32_t readU32LE();
    std::uint64_t readU64BE();
    Bytes readBytes(std::size_t n);

  private:
    bool take(std::size_t n);
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

class FileOut;

// A file opened for reading. `size` is fixed when the file is opened.
class FileIn {
  public:
    // Throws TagError::io "Cannot open the file: <platform text>".
    explicit FileIn(const std::filesystem::path& path);
    ~FileIn();
    FileIn(const FileIn&) = delete;
    FileIn& operator=(const FileIn&) = delete;

    std::uint64_t size() const { return size_; }
    int fd() const { return fd_; }
    const std::filesystem::path& path() const { return path_; }

    // Up to `count` bytes from `offset`; empty when count <= 0 or offset >= size.
    // Platform failures throw std::system_error.
    Bytes read(std::uint64_t offset, std::int64_t count) const;

    // Copies exactly `count` bytes from `offset` into `out` at its position. The kernel copies
    // between the files where it can (copy_file_range), else the bytes pass through one buffer
    // of at most 1 MiB. Running past the end throws TagError::malformed "The file ended
    // unexpectedly.", after writing what there was.
    void copy(std::uint64_t offset, std::uint64_t count, FileOut& out) const;

    // Tells the kernel that this range will be read front to back, so it reads ahead further.
    void adviseSequential(std::uint64_t offset, std::uint64_t count) const;
    // Tells the kernel this range will not be read again, so it may drop its cached pages now
    // (clean ones only; the file itself is untouched).
    void adviseDone(std::uint64_t offset, std::uint64_t count) const;

  private:
    void copyThroughBuffer(std::uint64_t offset, std::uint64_t count, FileOut& out) const;

    std::filesystem::path path_;
    int fd_ = -1;
    std::uint64_t size_ = 0;
    // Parsers read many small fields (box, chunk and block headers, short tags); they are served
    // from one cached stretch of the file, so a header walk costs one system call, not one per
    // field. A stream belongs to one thread, so the const reads may fill it.
    mutable Bytes cache_;
    mutable std::uint64_t cacheStart_ = 0;
};

// A new file being written. The destructor closes without reporting; call close() when the
// contents matter: it flushes to storage and reports every failure.
class FileOut {
  public:
    enum class Mode {
        exclusive,  // O_CREAT|O_EXCL|O_NOFOLLOW, mode 0600: never follows or reuses what is there
        replace     // create or truncate (test fixtures, the self test's sample files)
    };

    // Throws TagError::io "Cannot write next to the file: <platform text>".
    explicit FileOut(const std::filesystem::path& path, Mode mode = Mode::exclusive);
    ~FileOut();
    FileOut(const FileOut&) = delete;
    FileOut& operator=(const FileOut&) = delete;

    std::uint64_t position() const { return position_; }
    int fd() const { return fd_; }
    const std::filesystem::path& path() const { return path_; }

    void write(const Bytes& bytes) { write(bytes.data(), bytes.size()); }
    void write(const std::uint8_t* data, std::size_t size);
    // Writes `bytes` at an earlier `offset`; position() does not change.
    void patch(std::uint64_t offset, const Bytes& bytes);
    // Flushes the data to storage (fsync) and closes; either failure throws.
    void close();
    // Starts the flush of close() on a helper thread, so the caller can read the file back
    // meanwhile; close() waits for it and reports its failure. Nothing may be written after it.
    void startFlush();
    // True while a flush started by startFlush() is still running.
    bool flushing() const;

    // Pushes buffered bytes to the file so that the descriptor's offset equals position().
    void flushBuffer();

  private:
    friend class FileIn;  // its copy appends through the descriptor and reports it here
    void appended(std::uint64_t count);
    void startWriteback();
    void mustBeWritable() const;

    std::filesystem::path path_;
    int fd_ = -1;
    std::uint64_t position_ = 0;
    Bytes buffer_;  // small writes (headers) are gathered here
    // Bytes before this offset have been handed to the disk (startWriteback); false once the
    // filesystem says it cannot do that, after which close() alone flushes.
    std::uint64_t writebackFrom_ = 0;
    bool earlyWriteback_ = true;
    std::unique_ptr<sys::Fsync> flush_;  // set by startFlush()
};

}  // namespace pelorix
