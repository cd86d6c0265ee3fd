// The whole driver on a real file in a private folder (on tmpfs where there is one): detect,
// stream to the temporary file, read back, compare the audio, back up, replace. Either the write
// refuses and the file is untouched with nothing left beside it, or the file reads back the
// code, keeps its audio fingerprint, and can be written again and stripped of the code.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>

#include "core/audio_format.h"
#include "core/audio_tagger.h"
#include "fuzz_support.h"

using namespace pelorix;
using namespace pelorix::fuzz;
namespace fs = std::filesystem;

namespace {

fs::path makeFolder() {
    const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
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

    std::optional<std::string> fingerprint;
    std::optional<AudioFormat> format;
    (void)succeeds([&] {
        format = AudioFormat::detect(file);
        fingerprint = AudioTagger::fingerprint(file, *format);
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
    FUZZ_CHECK(format.has_value() && fingerprint.has_value());
    FUZZ_CHECK(AudioTagger::readISRC(file) == kCode);
    FUZZ_CHECK(AudioTagger::fingerprint(file, *format) == *fingerprint);

    // Our own output is a file we can edit again: the same code gives the same bytes, and the
    // code can be taken out without touching the audio.
    const Bytes first = readAll(file);
    AudioTagger::writeISRC(file, kCode, false);
    FUZZ_CHECK(readAll(file) == first);
    if (succeeds([&] { AudioTagger::writeISRC(file, std::nullopt, false); })) {
        FUZZ_CHECK(AudioTagger::readISRC(file) == std::nullopt);
        FUZZ_CHECK(AudioTagger::fingerprint(file, *format) == *fingerprint);
    } else {
        // An MP3 stream left without any tag is recognised by its name alone, which the
        // temporary file does not share, so the read-back refuses it; nothing changes.
        FUZZ_CHECK(*format == AudioFormat::mp3);
        FUZZ_CHECK(readAll(file) == first);
    }
    FUZZ_CHECK(entries(folder.path) == 1);
    fs::remove(file);
    return 0;
}
