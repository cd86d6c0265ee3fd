// SPDX-License-Identifier: MIT
#include "cli/dry_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <system_error>

#include "core/formats/chunk_file.h"
#include "core/formats/detect.h"
#include "core/formats/flac.h"
#include "core/formats/mp3.h"
#include "core/formats/mp4.h"
#include "core/io/binary_io.h"
#include "core/tag_error.h"
#include "core/write/audio_tagger.h"

namespace pelorix::cli {

namespace fs = std::filesystem;

namespace {

// A link is followed to the file it names, as the write does.
fs::path targetOf(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(path, ec))) return path;
    fs::path real = fs::canonical(path, ec);
    if (ec) throw TagError::io(msg::cannotOpen(ec.message()));
    return real;
}

std::string platformText(int err) {
    return std::generic_category().message(err);
}

// Refusals of the replace itself: the caller must be allowed to write the file and to
// create and rename files in its folder, and the new file would belong to the caller.
void checkPermissions(const fs::path& target, int fd) {
    if (::access(target.c_str(), W_OK) != 0) {
        throw TagError::io("Cannot write the file: " + platformText(errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && ::geteuid() != 0 && st.st_uid != ::geteuid()) {
        throw TagError::io(
            "The file belongs to another user; replacing it would change its owner.");
    }
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        throw TagError::io(msg::cannotWrite(platformText(errno)));
    }
}

void writeInto(AudioFormat format, const FileIn& in, FileOut& out,
               const std::optional<std::string>& isrc) {
    switch (format) {
        case AudioFormat::mp3:
            return MP3Tagger::write(in, out, isrc);
        case AudioFormat::wav:
            return ChunkFile::write(in, out, true, isrc);
        case AudioFormat::aiff:
            return ChunkFile::write(in, out, false, isrc);
        case AudioFormat::flac:
            return FLACTagger::write(in, out, isrc);
        case AudioFormat::m4a:
            return MP4Tagger::write(in, out, isrc);
    }
}

}  // namespace

Rehearsal rehearseWrite(const fs::path& path, const std::optional<std::string>& isrc) {
    Rehearsal r;
    try {
        const fs::path target = targetOf(path);
        const FileIn in(target);
        const AudioFormat format = AudioFormat::detect(in);
        r.format = std::string(format.label());
        (void)AudioTagger::audioRanges(in, format);
        checkPermissions(target, in.fd());
        {
            // Never closed with close(): that would ask the device for a flush it refuses.
            FileOut sink("/dev/null", FileOut::Mode::replace);
            writeInto(format, in, sink, isrc);
            sink.flushBuffer();
        }
        r.stored = AudioTagger::readISRC(target);
    } catch (const std::exception& e) {
        r.error = e.what();
    }
    return r;
}

}  // namespace pelorix::cli
