// SPDX-License-Identifier: MIT
// The whole driver on a real file in a private folder (on tmpfs where there is one). Either the
// write refuses and the file is untouched (the very inode) with nothing beside it, or the file
// reads back the code, keeps its audio bytes, and can be written again and stripped of the code.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "core/formats/format.h"
#include "core/formats/id3v2.h"
#include "core/formats/mp4.h"
#include "core/read/read.h"
#include "core/write/write.h"
#include "fuzz_support.h"

using namespace pelorix;
using namespace pelorix::fuzz;
namespace fs = std::filesystem;

namespace {

struct Folder {
    fs::path path = [] {
        const bool shm = fs::is_directory("/dev/shm");
        std::string name =
            ((shm ? fs::path("/dev/shm") : fs::temp_directory_path()) / "pelorix-fuzz-XXXXXX")
                .string();
        if (!::mkdtemp(name.data())) std::abort();
        return fs::path(name);
    }();
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

Bytes readAll(const fs::path& p) {
    const FileIn in(p);
    return in.read(0, std::int64_t(in.size()));
}

ino_t inodeOf(const fs::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? st.st_ino : 0;
}

std::size_t entries(const fs::path& dir) {
    return std::size_t(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Folder folder;
    // The extension matters only to an MP3 stream that detection cannot recognise otherwise.
    const fs::path file = folder.path / "Song.mp3", backup = folder.path / "Song (original).mp3";
    const Bytes original(data, data + size);
    {
        FileOut out(file, FileOut::Mode::replace);
        out.write(original);
        out.close();
    }
    // The audio as the driver delimits it, read directly.
    auto audioOf = [&](formats::AudioFormat f) {
        const FileIn in(file);
        return rangeBytes(in, formats::format(f).audioRanges(in));
    };
    std::optional<formats::AudioFormat> format;
    std::optional<Bytes> audio;
    (void)succeeds([&] { format = formats::AudioFormat::detect(file), audio = audioOf(*format); });

    const ino_t claimed = inodeOf(file);
    auto outcome = write::Outcome::written;
    if (!succeeds([&] { outcome = write::writeISRC(file, kCode, true); })) {
        FUZZ_CHECK(inodeOf(file) == claimed && readAll(file) == original &&
                   entries(folder.path) == 1);
        fs::remove(file);
        return 0;
    }
    if (outcome == write::Outcome::unchanged) {
        // The file held this very code in every place: not a byte, not the inode, no backup.
        FUZZ_CHECK(inodeOf(file) == claimed && readAll(file) == original &&
                   entries(folder.path) == 1);
    } else {
        FUZZ_CHECK(inodeOf(file) != claimed);
        FUZZ_CHECK(entries(folder.path) == 2 && readAll(backup) == original);
        fs::remove(backup);
    }
    FUZZ_CHECK(format && audio && formats::AudioFormat::detect(file) == *format);
    FUZZ_CHECK(read::readISRC(file) == kCode && audioOf(*format) == *audio);

    // Our own output is a file we can edit again: the same code gives the same bytes, and the
    // code can be taken out without touching the audio.
    const Bytes first = readAll(file);
    const ino_t ours = inodeOf(file);
    FUZZ_CHECK(write::writeISRC(file, kCode, false) == write::Outcome::unchanged);
    FUZZ_CHECK(readAll(file) == first && inodeOf(file) == ours);
    // Whether taking the code out leaves an MP3 with no leading tag at all.
    const bool leavesNoTag = *format == formats::AudioFormat::mp3 && [&] {
        const FileIn in(file);
        const auto total = formats::id3v2::totalSize(in.read(0, 10));
        if (!total) return true;
        const auto tag = formats::id3v2::parse(in.read(0, std::int64_t(*total)));
        return std::all_of(tag->frames.begin(), tag->frames.end(),
                           [](const formats::id3v2::Frame& f) { return f.id == "TSRC"; });
    }();
    std::string refusal;
    try {
        write::writeISRC(file, std::nullopt, false);
        // A removal leaves a file without a code, and a second one finds none: it changes
        // nothing.
        const ino_t removed = inodeOf(file);
        const Bytes without = readAll(file);
        FUZZ_CHECK(leavesNoTag ||
                   write::writeISRC(file, std::nullopt, false) == write::Outcome::unchanged);
        FUZZ_CHECK(inodeOf(file) == removed || leavesNoTag);
        FUZZ_CHECK(readAll(file) == without);
    } catch (const std::exception& e) {
        refusal = e.what();
    }
    if (refusal.empty()) {
        // An MP3 left without a tag is its remaining bytes, which detection may not take for
        // audio any more: its audio, compared below, is then the whole file.
        FUZZ_CHECK(leavesNoTag || read::readISRC(file) == std::nullopt);
        FUZZ_CHECK(audioOf(*format) == *audio);
    } else {
        // Two refusals are expected, and leave the file as it was. An MP3 that loses its only
        // tag is whatever its remaining bytes look like, read back as an MP3 (led by a second
        // tag, say). An MP4 movie that changes size moves the chunk
        // offsets after it, and refuses an offset no real file has; the first write may have
        // kept the size.
        FUZZ_CHECK(readAll(file) == first);
        FUZZ_CHECK(leavesNoTag || (*format == formats::AudioFormat::m4a &&
                                   (refusal == formats::mp4::msg::mp4TooLarge ||
                                    refusal == formats::mp4::msg::mp4OffsetsDamaged ||
                                    refusal == formats::mp4::msg::mp4Damaged)));
    }
    FUZZ_CHECK(entries(folder.path) == 1);
    fs::remove(file);
    return 0;
}
