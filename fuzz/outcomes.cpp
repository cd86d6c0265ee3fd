// SPDX-License-Identifier: MIT
// Replays the stored files listed in outcomes.tsv through detection and the codecs, and compares
// what happens with what is recorded there: the format detected, the code read, and whether
// writing a code and removing it succeed (then the code reads back) or fail with the recorded
// message.
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>

#include "core/formats/chunk_file.h"
#include "core/formats/detect.h"
#include "core/formats/flac.h"
#include "core/formats/mp3.h"
#include "core/formats/mp4.h"
#include "fuzz_support.h"

using namespace pelorix;
using Code = std::optional<std::string>;

namespace {

// As the driver reads and writes: with the format detected from the original file.
Code readCode(const FileIn& in, AudioFormat format) {
    switch (format) {
        case AudioFormat::mp3:
            return MP3Tagger::readISRC(in);
        case AudioFormat::wav:
        case AudioFormat::aiff: {
            const auto tag =
                ChunkFile::existingTag(in, ChunkFile::parse(in, format == AudioFormat::wav).chunks);
            return tag ? ID3v2::isrc(*tag) : std::nullopt;
        }
        case AudioFormat::flac:
            return FLACTagger::readISRC(in);
        case AudioFormat::m4a:
            return MP4Tagger::readISRC(in);
    }
    return std::nullopt;
}

void writeCode(const FileIn& in, AudioFormat format, FileOut& out, const Code& code) {
    if (format == AudioFormat::mp3) MP3Tagger::write(in, out, code);
    if (format == AudioFormat::wav || format == AudioFormat::aiff) {
        ChunkFile::write(in, out, format == AudioFormat::wav, code);
    }
    if (format == AudioFormat::flac) FLACTagger::write(in, out, code);
    if (format == AudioFormat::m4a) MP4Tagger::write(in, out, code);
}

// "-" for none, the code, or the refusal's message.
std::string outcome(const std::function<Code()>& f) {
    try {
        return f().value_or("-");
    } catch (const TagError& e) {
        return e.what();
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::filesystem::path corpus = argv[1];
    std::ifstream list(corpus / "outcomes.tsv");
    int rows = 0, failures = 0;
    for (std::string line; std::getline(list, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> cell;
        std::stringstream fields(line);
        for (std::string c; std::getline(fields, c, '\t');) cell.push_back(c);
        if (cell.size() != 5) {
            std::fprintf(stderr, "bad row: %s\n", line.c_str());
            return 1;
        }
        ++rows;
        const FileIn in(corpus / cell[0]);
        auto expect = [&](const char* what, const std::string& want, const std::string& got) {
            if (want == got) return;
            ++failures;
            std::fprintf(stderr, "%s, %s: want \"%s\", got \"%s\"\n", cell[0].c_str(), what,
                         want.c_str(), got.c_str());
        };
        expect("format", cell[1], outcome([&] { return Code(AudioFormat::detect(in).label()); }));
        expect("read", cell[2], outcome([&] { return readCode(in, AudioFormat::detect(in)); }));
        for (const Code& code : {Code(fuzz::kCode), Code()}) {
            const fuzz::MemFile output;
            const std::string got = outcome([&]() -> Code {
                {
                    FileOut out(output.path(), FileOut::Mode::replace);
                    writeCode(in, AudioFormat::detect(in), out, code);
                    out.close();
                }
                const FileIn result(output.path());
                if (readCode(result, AudioFormat::detect(in)) != code) {
                    return "the code does not read back";
                }
                return "ok";
            });
            expect(code ? "write" : "remove", cell[code ? 3 : 4], got);
        }
    }
    std::printf("%d stored files replayed, %d differences\n", rows, failures);
    return rows == 0 || failures != 0 ? 1 : 0;
}
