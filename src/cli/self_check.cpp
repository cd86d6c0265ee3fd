// SPDX-License-Identifier: MIT
#include "cli/self_check.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <numbers>
#include <system_error>

#include "core/formats/format.h"
#include "core/io/binary_io.h"
#include "core/io/sha256.h"
#include "core/io/text.h"
#include "core/isrc.h"
#include "core/read/read.h"
#include "core/write/write.h"

namespace pelorix::cli::self_check {

namespace fs = std::filesystem;

namespace {

const std::string kFirstCode = "FIABC2600001";
const std::string kSecondCode = "SEXYZ2512345";

// The decoded file's header is skipped by the hash; it must be shorter than this.
constexpr std::uint64_t kDecodedHeaderSkip = 4096;

// A private folder for the run's files, removed again on every way out. mkdtemp makes a name
// nobody else holds and a folder only we can enter, so no one can plant links among the files.
class WorkFolder {
  public:
    WorkFolder() {
        std::error_code ec;
        fs::path tmp = fs::temp_directory_path(ec);
        if (ec) {
            error_ = ec;
            return;
        }
        std::string name = (tmp / "pelorix-selftest-XXXXXX").string();
        if (::mkdtemp(name.data()) == nullptr) {
            error_ = std::error_code(errno, std::generic_category());
            return;
        }
        path_ = name;
    }
    ~WorkFolder() {
        if (path_.empty()) return;
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    // The folder, or the reason it could not be made.
    const fs::path& path() const {
        if (path_.empty()) throw std::system_error(error_, "Cannot create the work folder");
        return path_;
    }

  private:
    fs::path path_;
    std::error_code error_;
};

void writeWhole(const fs::path& path, const Bytes& bytes) {
    FileOut out(path, FileOut::Mode::replace);
    out.write(bytes);
    out.close();
}

Bytes readWhole(const fs::path& path) {
    FileIn in(path);
    return in.read(0, static_cast<std::int64_t>(in.size()));
}

std::size_t occurrences(const Bytes& hay, std::string_view needle) {
    std::size_t n = 0;
    for (auto it = hay.begin();; ++it) {
        it = std::search(it, hay.end(), needle.begin(), needle.end());
        if (it == hay.end()) return n;
        ++n;
    }
}

std::string lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

// Backups of `file` in its folder: names that begin with its stem and contain "(original".
int backupCount(const fs::path& file) {
    const std::string stem = file.stem().string();
    int n = 0;
    for (const auto& entry : fs::directory_iterator(file.parent_path())) {
        std::string name = entry.path().filename().string();
        if (name.starts_with(stem) && name.find("(original") != std::string::npos) ++n;
    }
    return n;
}

// ffmpeg reads "-" as a pipe and "name:" as a protocol; the file protocol takes any path as is.
std::string ffmpegPath(const fs::path& p) {
    return "file:" + p.string();
}

class FFmpeg : public Converter {
  public:
    std::string name() const override { return "ffmpeg"; }
    std::string inspectorName() const override { return "ffprobe"; }

    ProcessResult convert(const Target& t, const fs::path& source,
                          const fs::path& destination) const override {
        const std::string muxer = toolName(
            {{"aiff", "aiff"}, {"flac", "flac"}, {"m4a", "ipod"}, {"caf", "caf"}}, t.container);
        const std::string encoder = toolName({{"pcm16be", "pcm_s16be"},
                                              {"pcm16le", "pcm_s16le"},
                                              {"flac", "flac"},
                                              {"aac", "aac"},
                                              {"alac", "alac"}},
                                             t.codec);
        if (muxer.empty() || encoder.empty()) return noOptions(t);
        // Only the first audio stream, no metadata and no encoder names: the output then
        // depends on the audio alone, so two decodes of the same sound are the same bytes.
        std::vector<std::string> args = {
            "-nostdin", "-hide_banner",     "-loglevel", "error",   "-y",
            "-i",       ffmpegPath(source), "-map",      "0:a:0",   "-map_metadata",
            "-1",       "-map_chapters",    "-1",        "-fflags", "+bitexact",
            "-flags:a", "+bitexact",        "-c:a",      encoder};
        if (t.indexFirst) args.insert(args.end(), {"-movflags", "+faststart"});
        args.insert(args.end(), {"-f", muxer, ffmpegPath(destination)});
        return runProcess("ffmpeg", args);
    }

    ProcessResult inspect(const fs::path& file) const override {
        return runProcess("ffprobe", {"-hide_banner", ffmpegPath(file)});
    }
};

}  // namespace

// ---- converters -------------------------------------------------------------------------------

std::string toolName(std::initializer_list<std::pair<const char*, const char*>> table,
                     const std::string& key) {
    for (const auto& [from, to] : table) {
        if (key == from) return to;
    }
    return {};
}

ProcessResult noOptions(const Target& t) {
    return {-1, "no converter options for " + t.codec + " in " + t.container};
}

std::unique_ptr<Converter> ffmpegConverter() {
    return std::make_unique<FFmpeg>();
}

const std::vector<Conversion>& conversions() {
    // One M4A with the index in front of the media, one behind it: both MP4 layouts.
    static const std::vector<Conversion> list = {
        {"AIFF", "aiff", {"aiff", "pcm16be"}},
        {"FLAC", "flac", {"flac", "flac"}},
        {"M4A-AAC", "m4a", {"m4a", "aac", true}},
        {"M4A-ALAC", "m4a", {"m4a", "alac"}},
    };
    return list;
}

// ---- report -----------------------------------------------------------------------------------

void Session::check(bool condition, const std::string& message) {
    if (condition) {
        ++passes_;
    } else {
        ++failures_;
        line("  FAIL: " + message);
    }
}

void Session::line(const std::string& text) {
    out_ << text << '\n' << std::flush;
}

// ---- fixtures ---------------------------------------------------------------------------------

void makeWAV(const fs::path& path, bool extraID3) {
    constexpr std::uint32_t kRate = 44100;
    constexpr std::uint32_t kSamples = 44100;

    Bytes body;  // everything after "RIFF" and its size
    append(body, "WAVE");

    ByteWriter(body)
        .ascii("fmt ")
        .u32LE(16)
        .u16LE(1)  // PCM
        .u16LE(1)  // mono
        .u32LE(kRate)
        .u32LE(kRate * 2)
        .u16LE(2)
        .u16LE(16);

    append(body, "junk");
    append(body, bytes32LE(3));
    body.insert(body.end(), {0x01, 0x02, 0x03, 0x00});  // odd size: one pad byte

    append(body, "data");
    append(body, bytes32LE(kSamples * 2));
    ByteWriter samples(body);
    for (std::uint32_t i = 0; i < kSamples; ++i) {
        double v = 8000.0 * std::sin(2.0 * std::numbers::pi * 440.0 * i / kRate);
        // The conversion to an integer truncates toward zero.
        samples.u16LE(static_cast<std::uint16_t>(static_cast<std::int16_t>(v)));
    }

    append(body, "LIST");
    append(body, bytes32LE(24));
    append(body, "INFO");
    append(body, "INAM");
    append(body, bytes32LE(10));
    append(body, "Test Title");
    body.insert(body.end(), {0x00, 0x00});

    if (extraID3) {
        append(body, "id3 ");
        append(body, bytes32LE(90));
        append(body, "ID3");
        body.insert(body.end(), {0x04, 0x00, 0x00});
        append(body, synchsafeEncode(80));
        append(body, "TIT2");
        append(body, synchsafeEncode(6));
        body.insert(body.end(), {0x00, 0x00, 0x03});
        append(body, "Hello");
        body.insert(body.end(), 64, 0x00);
    }

    Bytes file;
    append(file, "RIFF");
    append(file, bytes32LE(body.size()));
    append(file, body);
    writeWhole(path, file);
}

void makeMP3(const fs::path& path) {
    Bytes frames;
    append(frames, "TIT2");
    append(frames, synchsafeEncode(10));
    frames.insert(frames.end(), {0x00, 0x00, 0x03});
    append(frames, "Hello MP3");
    append(frames, "APIC");
    append(frames, synchsafeEncode(3000));
    frames.insert(frames.end(), {0x00, 0x00});
    for (std::uint32_t k = 0; k < 3000; ++k) frames.push_back(std::uint8_t((7 * k) % 256));
    frames.insert(frames.end(), 200, 0x00);

    Bytes file;
    append(file, "ID3");
    file.insert(file.end(), {0x04, 0x00, 0x00});
    append(file, synchsafeEncode(frames.size()));
    append(file, frames);
    for (int f = 0; f < 60; ++f) {
        file.insert(file.end(), {0xFF, 0xFB, 0x90, 0x00});  // MPEG-1 Layer III, 128 kbit/s
        file.insert(file.end(), 413, 0x00);
    }
    append(file, "TAG");
    file.insert(file.end(), 125, 0x20);
    writeWhole(path, file);
}

// ---- scenario ---------------------------------------------------------------------------------

std::optional<std::string> pcmHash(const Converter& converter, const fs::path& file,
                                   const fs::path& work) {
    fs::path out = work / ("decoded-" + file.filename().string() + ".caf");
    std::error_code ignored;
    fs::remove(out, ignored);
    if (converter.convert(decodeTarget(), file, out).status != 0) return std::nullopt;
    try {
        FileIn in(out);
        Sha256 hash;
        for (std::uint64_t at = kDecodedHeaderSkip; at < in.size();) {
            Bytes piece = in.read(at, static_cast<std::int64_t>(kPieceSize));
            if (piece.empty()) break;
            hash.update(piece);
            at += piece.size();
        }
        return hash.hexDigest();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void exercise(Session& s, const std::string& label, const fs::path& file, const fs::path& work,
              bool expectTitle) {
    const Converter& converter = s.converter();
    s.line("== " + label);

    formats::AudioFormat format = formats::AudioFormat::detect(file);
    const std::string fp0 = read::fingerprint(file, format);
    const std::optional<std::string> pcm0 = pcmHash(converter, file, work);

    s.check(!read::readISRC(file), label + ": ISRC should be absent initially");

    write::writeISRC(file, kFirstCode, false);
    s.check(read::readISRC(file) == kFirstCode, label + ": read back " + kFirstCode);
    s.check(read::fingerprint(file, format) == fp0,
            label + ": audio fingerprint unchanged after write");
    s.check(pcm0 && pcmHash(converter, file, work) == pcm0,
            label + ": " + converter.name() + " decodes to identical PCM");

    ProcessResult info = converter.inspect(file);
    s.check(info.status == 0, label + ": " + converter.inspectorName() + " opens the file (" +
                                  std::to_string(info.status) + ")");
    if (info.output.find("ISRC") != std::string::npos ||
        lower(info.output).find(lower(kFirstCode)) != std::string::npos) {
        s.line("  (" + converter.inspectorName() + " shows the ISRC)");
    }

    write::writeISRC(file, kSecondCode, true);
    s.check(read::readISRC(file) == kSecondCode, label + ": replaced with " + kSecondCode);
    int backups = backupCount(file);
    s.check(backups == 1, label + ": one backup created (" + std::to_string(backups) + ")");

    write::writeISRC(file, kSecondCode, false);
    s.check(read::readISRC(file) == kSecondCode, label + ": idempotent write");

    if (expectTitle) {
        Bytes whole = readWhole(file);
        s.check(occurrences(whole, "Hello") > 0, label + ": existing title frame preserved");
        s.check(occurrences(whole, "TSRC") == 1, label + ": exactly one TSRC frame");
    }

    write::writeISRC(file, std::nullopt, false);
    s.check(!read::readISRC(file), label + ": ISRC removed");
    s.check(read::fingerprint(file, format) == fp0,
            label + ": audio fingerprint unchanged after removal");
    s.check(pcmHash(converter, file, work) == pcm0, label + ": decodes identically after removal");

    if (expectTitle) {
        s.check(occurrences(readWhole(file), "Hello") > 0,
                label + ": title still there after removal");
    }
}

// ---- the run ----------------------------------------------------------------------------------

int run() {
    return run(std::cout, *platformConverter());
}

int run(std::ostream& out, const Converter& converter) {
    Session s(out, converter);
    WorkFolder folder;

    auto normalised = ISRC::parse("fi-abc-26-00001");
    s.check(normalised && normalised->code() == kFirstCode, "ISRC normalises");
    s.check(
        !ISRC::parse("FIABC260000") && !ISRC::parse("1IABC2600001") && !ISRC::parse("FIABC26A0001"),
        "ISRC rejects bad input");
    auto base = ISRC::parse(kFirstCode);
    auto advanced = base ? base->advanced(9) : std::nullopt;
    s.check(advanced && advanced->formatted() == "FI-ABC-26-00010", "ISRC advances");
    auto last = ISRC::parse("FIABC2699999");
    s.check(last && !last->advanced(1), "ISRC overflow rejected");

    try {
        const fs::path& work = folder.path();

        fs::path plain = work / "plain.wav";
        makeWAV(plain, false);
        exercise(s, "WAV", plain, work, false);

        fs::path withTag = work / "withtag.wav";
        makeWAV(withTag, true);
        exercise(s, "WAV+ID3", withTag, work, true);

        fs::path source = work / "src.wav";
        makeWAV(source, false);
        for (const auto& c : conversions()) {
            fs::path output = work / (c.label + "." + c.extension);
            ProcessResult r = converter.convert(c.target, source, output);
            if (r.status != 0) {
                // One report line: the tool's trailing newline would split it.
                s.check(false, c.label + ": " + converter.name() +
                                   " failed: " + text::trimWhitespaceAndNewlines(r.output));
                continue;
            }
            exercise(s, c.label, output, work, false);
        }

        fs::path mp3 = work / "mp3test.mp3";
        makeMP3(mp3);
        exercise(s, "MP3 (ID3v2.4)", mp3, work, true);

        Bytes whole = readWhole(mp3);
        s.check(whole.size() >= 128 && whole[whole.size() - 128] == 'T' &&
                    whole[whole.size() - 127] == 'A' && whole[whole.size() - 126] == 'G',
                "MP3: ID3v1 tail preserved");
    } catch (const std::exception& e) {
        s.check(false, std::string("unexpected error: ") + e.what());
    } catch (...) {
        s.check(false, "unexpected error: unknown failure");
    }

    s.line("");
    s.line("PELORIX selftest: " + std::to_string(s.passes()) + " ok, " +
           std::to_string(s.failures()) + " failed");
    return s.failures() == 0 ? 0 : 1;
}

}  // namespace pelorix::cli::self_check
