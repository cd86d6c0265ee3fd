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
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/io/sys.h"

namespace pelorix {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::size_t kPieceSize = 1 << 20;  // 1 MiB

// `length` bytes of a file starting at `offset`.
struct ByteRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    friend bool operator==(const ByteRange&, const ByteRange&) = default;
};

// ---- byte codecs ---------------------------------------------------------------------------
// Every codec reads and builds its structures through these two classes; the endianness is in
// the method name. Text helpers map each byte to the Unicode scalar of the same value and back.

// A bounds-checked cursor over bytes. Reads past the end never touch memory: `ok()` turns false
// and the read returns 0 (or nothing), so a parser checks once after a group of reads.
class ByteReader {
  public:
    explicit ByteReader(std::span<const std::uint8_t> bytes, std::size_t at = 0)
        : bytes_(bytes), pos_(at), ok_(at <= bytes.size()) {}

    std::size_t position() const { return pos_; }
    std::size_t size() const { return bytes_.size(); }
    std::size_t remaining() const { return ok_ ? bytes_.size() - pos_ : 0; }
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
    // Four 7-bit groups, most significant first (ID3v2 sizes); the top bit of each is ignored.
    std::uint32_t readSynchsafe32();
    // Four bytes as ISO-8859-1, returned as UTF-8 text.
    std::string readFourCC();
    std::span<const std::uint8_t> readSpan(std::size_t n);
    Bytes readBytes(std::size_t n);

  private:
    const std::uint8_t* take(std::size_t n);
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

// Appends to a byte vector. A size known only later is filled in where it ends up: in the file
// with FileOut::patch, or in the bytes before they are written.
class ByteWriter {
  public:
    explicit ByteWriter(Bytes& out) : out_(out) {}
    std::size_t size() const { return out_.size(); }

    ByteWriter& u8(std::uint8_t v);
    ByteWriter& u16LE(std::uint16_t v);
    ByteWriter& u24BE(std::uint32_t v);
    ByteWriter& u32BE(std::uint64_t v);  // the low 32 bits
    ByteWriter& u32LE(std::uint64_t v);
    ByteWriter& synchsafe32(std::uint64_t v);  // the low 28 bits
    // One byte per Unicode scalar of the UTF-8 text: the low 8 bits of its code point.
    ByteWriter& fourCC(std::string_view text);
    ByteWriter& bytes(std::span<const std::uint8_t> more);
    ByteWriter& ascii(std::string_view text);
    ByteWriter& zeros(std::size_t n);

  private:
    Bytes& out_;
};

// Shorthands over the two classes for a single field.
inline std::uint32_t be32(std::span<const std::uint8_t> b, std::size_t at) {
    return ByteReader(b, at).readU32BE();
}
inline std::uint32_t le32(std::span<const std::uint8_t> b, std::size_t at) {
    return ByteReader(b, at).readU32LE();
}
inline std::string fourCC(std::span<const std::uint8_t> b, std::size_t at) {
    return ByteReader(b, at).readFourCC();
}
Bytes bytes32BE(std::uint64_t value);
Bytes bytes32LE(std::uint64_t value);
Bytes synchsafeEncode(std::uint64_t value);
Bytes fourCCBytes(std::string_view text);

void append(Bytes& to, std::span<const std::uint8_t> more);
void append(Bytes& to, std::string_view ascii);

// ASCII letters folded to lower case, every other byte as it is (chunk IDs, extensions).
std::string asciiLower(std::string_view text);

class FileOut;

// A file opened for reading. `size` is fixed when the file is opened.
class FileIn {
  public:
    // Throws TagError::io "Cannot open the file: <platform text>".
    explicit FileIn(const std::filesystem::path& path);
    // The file called `name` in the folder open as `folder`, known as `shown`.
    FileIn(int folder, const std::string& name, const std::filesystem::path& shown);
    FileIn(const FileIn&) = delete;
    FileIn& operator=(const FileIn&) = delete;

    std::uint64_t size() const { return size_; }
    int fd() const { return fd_.get(); }
    // How many names the file has now (0 once its last one is gone); never fails for an open
    // file, so it bypasses the seam as the status taken at opening does.
    std::uint64_t linkCount() const;
    const std::filesystem::path& path() const { return path_; }

    // Up to `count` bytes from `offset`; empty when count <= 0 or offset >= size.
    // Platform failures throw std::system_error.
    Bytes read(std::uint64_t offset, std::int64_t count) const;
    // Up to `count` bytes from `offset` into `to`, bypassing the small-read cache: for a pass
    // over a large range with one buffer. Returns how many were read (fewer only at the end).
    std::size_t readInto(std::uint64_t offset, std::uint8_t* to, std::size_t count) const;

    // Copies exactly `count` bytes from `offset` into `out` at its position. Where both files'
    // filesystem shares extents and the bytes keep their place within a block, the whole blocks
    // are shared instead (FICLONERANGE; see FileOut::shared()). Otherwise the kernel copies
    // between the files where it can (copy_file_range), else the bytes pass through one buffer
    // of at most 1 MiB. Running past the end throws TagError::malformed "The file ended
    // unexpectedly.", after writing what there was. Holes of the input (a sparse file) stay
    // holes in the output.
    void copy(std::uint64_t offset, std::uint64_t count, FileOut& out) const;

    // Tells the kernel that this range will be read front to back, so it reads ahead further.
    void adviseSequential(std::uint64_t offset, std::uint64_t count) const;
    // Tells the kernel this range will not be read again, so it may drop its cached pages now
    // (clean ones only; the file itself is untouched).
    void adviseDone(std::uint64_t offset, std::uint64_t count) const;

  private:
    void open(int folder, const std::string& name);
    void copyData(std::uint64_t offset, std::uint64_t count, FileOut& out) const;
    void copyInKernel(std::uint64_t offset, std::uint64_t count, FileOut& out) const;
    void copyThroughBuffer(std::uint64_t offset, std::uint64_t count, FileOut& out) const;

    std::filesystem::path path_;
    sys::Fd fd_;
    std::uint64_t size_ = 0;
    // Parsers read many small fields (box, chunk and block headers, short tags), mostly near the
    // head and near the tail of the file, and often twice (once to recognise the file, once to
    // read it). They are served from two cached stretches, the one used last kept, so a header
    // walk costs a system call or two, not one per field. A stream belongs to one thread, so the
    // const reads may fill them.
    struct Stretch {
        Bytes bytes;
        std::uint64_t start = 0;
    };
    mutable Stretch cache_[2];
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
    // Created exclusively as `name` in the folder open as `folder`, known as `shown`.
    FileOut(int folder, const std::string& name, const std::filesystem::path& shown);
    ~FileOut();
    FileOut(const FileOut&) = delete;
    FileOut& operator=(const FileOut&) = delete;

    std::uint64_t position() const { return position_; }
    int fd() const { return fd_.get(); }
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

    // A range of this file that shares the source's blocks instead of holding a copy of them.
    struct Shared {
        std::uint64_t from = 0;  // offset in the source
        std::uint64_t at = 0;    // offset in this file
        std::uint64_t length = 0;
    };
    const std::vector<Shared>& shared() const { return shared_; }

  private:
    friend class FileIn;  // its copy appends through the descriptor and reports it here
    void appended(std::uint64_t count);
    // Leaves `count` bytes unwritten (a hole that reads as zeros) at the position.
    void skipHole(std::uint64_t count);
    void startWriteback();
    void mustBeWritable() const;

    std::filesystem::path path_;
    sys::Fd fd_;
    std::uint64_t position_ = 0;
    Bytes buffer_;  // small writes (headers) are gathered here
    // Bytes before this offset have been handed to the disk (startWriteback); false once the
    // filesystem says it cannot do that, after which close() alone flushes.
    std::uint64_t writebackFrom_ = 0;
    bool earlyWriteback_ = true;
    std::unique_ptr<sys::Fsync> flush_;  // set by startFlush()
    std::vector<Shared> shared_;
    bool mayShare_ = true;     // false once the filesystem said it cannot share extents
    bool endsInHole_ = false;  // the file ends before position(): a hole was skipped last
};

}  // namespace pelorix
