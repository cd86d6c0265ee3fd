// SPDX-License-Identifier: MIT
// The whole driver on a real file in a private folder (on tmpfs where there is one): detect,
// stream to the temporary file, read back, compare the audio, back up, replace. Either the write
// refuses and the file is untouched with nothing left beside it, or the file reads back the
// code, keeps its audio bytes, and can be written again and stripped of the code.
#include <unistd.h>

#include <cstdlib>

#include "core/formats/detect.h"
#include "core/write/audio_tagger.h"
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
    auto audioOf = [&](AudioFormat f) {
        const FileIn in(file);
        return rangeBytes(in, AudioTagger::audioRanges(in, f));
    };
    std::optional<AudioFormat> format;
    std::optional<Bytes> audio;
    (void)succeeds([&] { format = AudioFormat::detect(file), audio = audioOf(*format); });

    if (!succeeds([&] { AudioTagger::writeISRC(file, kCode, true); })) {
        FUZZ_CHECK(readAll(file) == original && entries(folder.path) == 1);
        fs::remove(file);
        return 0;
    }
    FUZZ_CHECK(entries(folder.path) == 2 && readAll(backup) == original);
    fs::remove(backup);
    FUZZ_CHECK(format && audio && AudioFormat::detect(file) == *format);
    FUZZ_CHECK(AudioTagger::readISRC(file) == kCode && audioOf(*format) == *audio);

    // Our own output is a file we can edit again: the same code gives the same bytes, and the
    // code can be taken out without touching the audio, or the removal refuses and changes
    // nothing (an MP3 left without a tag is whatever its remaining bytes look like; an MP4 offset
    // no real file has may not move, and fragment boxes are only read when the movie changes
    // size).
    const Bytes first = readAll(file);
    AudioTagger::writeISRC(file, kCode, false);
    FUZZ_CHECK(readAll(file) == first);
    std::string refusal;
    try {
        AudioTagger::writeISRC(file, std::nullopt, false);
        FUZZ_CHECK(AudioTagger::readISRC(file) == std::nullopt && audioOf(*format) == *audio);
    } catch (const TagError& e) {
        refusal = e.what();
        FUZZ_CHECK(readAll(file) == first);
        FUZZ_CHECK(*format == AudioFormat::mp3 ||
                   (*format == AudioFormat::m4a &&
                    (refusal == msg::mp4TooLarge || refusal == msg::mp4OffsetsDamaged ||
                     refusal == msg::mp4Damaged)));
    }
    FUZZ_CHECK(entries(folder.path) == 1);
    fs::remove(file);
    return 0;
}
