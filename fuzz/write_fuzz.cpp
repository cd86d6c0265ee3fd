// SPDX-License-Identifier: MIT
// The whole driver on a real file in a private folder (on tmpfs where there is one): detect,
// stream to the temporary file, read back, compare the audio, back up, replace. Either the write
// refuses and the file is untouched with nothing left beside it, or the file reads back the
// code, keeps its audio bytes, and can be written again and stripped of the code.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>

#include "core/formats/detect.h"
#include "core/formats/id3v2.h"
#include "core/tag_error.h"
#include "core/write/audio_tagger.h"
#include "fuzz_support.h"

using namespace pelorix;
using namespace pelorix::fuzz;
namespace fs = std::filesystem;

namespace {

fs::path makeFolder() {
    const fs::path base =
        fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string name = (base / "pelorix-fuzz-XXXXXX").string();
    if (!::mkdtemp(name.data())) std::abort();
    return name;
}

struct Folder {
    fs::path path = makeFolder();
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

Bytes readAll(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void writeAll(const fs::path& p, const std::uint8_t* data, std::size_t size) {
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    if (!f) std::abort();
}

std::size_t entries(const fs::path& dir) {
    return std::size_t(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Folder folder;
    // The extension matters only to an MP3 stream that detection cannot recognise otherwise.
    const fs::path file = folder.path / "Song.mp3";
    const fs::path backup = folder.path / "Song (original).mp3";
    writeAll(file, data, size);
    const Bytes original(data, data + size);

    // The audio as the codecs delimit it, read directly: the same bytes the driver's own
    // fingerprint covers, without its piece buffers, which dominate the cost of a tiny input.
    auto audioOf = [&](AudioFormat f) {
        const FileIn in(file);
        return rangeBytes(in, AudioTagger::audioRanges(in, f));
    };
    std::optional<AudioFormat> format;
    std::optional<Bytes> audio;
    (void)succeeds([&] {
        format = AudioFormat::detect(file);
        audio = audioOf(*format);
    });

    const bool written = succeeds([&] { AudioTagger::writeISRC(file, kCode, true); });
    if (!written) {
        FUZZ_CHECK(readAll(file) == original);
        FUZZ_CHECK(entries(folder.path) == 1);
        fs::remove(file);
        return 0;
    }
    FUZZ_CHECK(entries(folder.path) == 2);
    FUZZ_CHECK(readAll(backup) == original);
    fs::remove(backup);
    FUZZ_CHECK(format.has_value() && audio.has_value());
    FUZZ_CHECK(AudioFormat::detect(file) == *format);
    FUZZ_CHECK(AudioTagger::readISRC(file) == kCode);
    FUZZ_CHECK(audioOf(*format) == *audio);

    // Our own output is a file we can edit again: the same code gives the same bytes, and the
    // code can be taken out without touching the audio.
    const Bytes first = readAll(file);
    AudioTagger::writeISRC(file, kCode, false);
    FUZZ_CHECK(readAll(file) == first);
    // Whether taking the code out leaves an MP3 with no leading tag at all.
    const bool leavesNoTag = *format == AudioFormat::mp3 && [&] {
        const FileIn in(file);
        const auto total = ID3v2::totalSize(in.read(0, 10));
        if (!total) return true;
        const auto tag = ID3v2::parse(in.read(0, std::int64_t(*total)));
        return std::all_of(tag->frames.begin(), tag->frames.end(),
                           [](const ID3v2::Frame& f) { return f.id == "TSRC"; });
    }();
    std::string refusal;
    try {
        AudioTagger::writeISRC(file, std::nullopt, false);
    } catch (const std::exception& e) {
        refusal = e.what();
    }
    if (refusal.empty()) {
        // An MP3 left without a tag is its remaining bytes, which detection may not take for
        // audio any more: its audio, compared below, is then the whole file.
        FUZZ_CHECK(leavesNoTag || AudioTagger::readISRC(file) == std::nullopt);
        FUZZ_CHECK(audioOf(*format) == *audio);
    } else {
        // Two refusals are expected, and leave the file as it was. An MP3 that loses its only
        // tag is whatever its remaining bytes look like, read back as an MP3 (led by a second
        // tag, say). An MP4 movie that changes size moves the chunk
        // offsets after it, and refuses an offset no real file has; the first write may have
        // kept the size.
        FUZZ_CHECK(readAll(file) == first);
        FUZZ_CHECK(leavesNoTag ||
                   (*format == AudioFormat::m4a &&
                    (refusal == msg::mp4TooLarge || refusal == msg::mp4OffsetsDamaged)));
    }
    FUZZ_CHECK(entries(folder.path) == 1);
    fs::remove(file);
    return 0;
}
