// SPDX-License-Identifier: MIT
// Replays the stored cases: every file listed in outcomes.tsv through detection and the codecs,
// compared with the format, code, write and removal outcome recorded for it, read and written as
// the driver does (a write or removal that succeeds must read back); and every typed code in
// isrc.tsv through ISRC parsing.
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>

#include "core/formats/format.h"
#include "core/isrc.h"
#include "fuzz_support.h"

using namespace pelorix;
using Code = std::optional<std::string>;

namespace {

// "-" for none, the text, or the refusal's message.
std::string outcome(const std::function<Code()>& f) {
    try {
        return f().value_or("-");
    } catch (const TagError& e) {
        return e.what();
    }
}

// The tab-separated cells of each line that is not a comment; "\t", "\n" and "\xHH" unescaped.
std::vector<std::vector<std::string>> rows(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::vector<std::string>> out;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::stringstream fields(line);
        auto& cells = out.emplace_back();
        for (std::string c; std::getline(fields, c, '\t');) {
            for (std::size_t at; (at = c.find('\\')) != std::string::npos;) {
                const char e = c.at(at + 1);
                const bool hex = e == 'x';
                const char byte = hex        ? char(std::stoi(c.substr(at + 2, 2), nullptr, 16))
                                  : e == 't' ? '\t'
                                             : '\n';
                c.replace(at, hex ? 4 : 2, 1, byte);
            }
            cells.push_back(c);
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::filesystem::path corpus = argv[1];
    int cases = 0, failures = 0;
    auto expect = [&](const std::string& what, const std::string& want, const std::string& got) {
        if (want == got) return;
        ++failures;
        std::fprintf(stderr, "%s: want \"%s\", got \"%s\"\n", what.c_str(), want.c_str(),
                     got.c_str());
    };
    for (const auto& cell : rows(corpus / "outcomes.tsv")) {
        ++cases;
        const FileIn in(corpus / cell.at(0));
        expect(cell[0] + ", format", cell.at(1),
               outcome([&] { return Code(formats::AudioFormat::detect(in).label()); }));
        expect(cell[0] + ", read", cell.at(2),
               outcome([&] { return formats::format(formats::AudioFormat::detect(in)).read(in); }));
        for (const Code& code : {Code(fuzz::kCode), Code()}) {
            const fuzz::MemFile output;
            const std::string got = outcome([&]() -> Code {
                {
                    FileOut out(output.path(), FileOut::Mode::replace);
                    formats::format(formats::AudioFormat::detect(in)).write(in, out, code, false);
                    out.close();
                }
                const FileIn result(output.path());
                return formats::format(formats::AudioFormat::detect(in)).read(result) == code
                           ? "ok"
                           : "not read back";
            });
            expect(cell[0] + (code ? ", write" : ", remove"), cell.at(code ? 3 : 4), got);
        }
    }
    for (const auto& cell : rows(corpus / "isrc.tsv")) {
        ++cases;
        const auto parsed = ISRC::parse(cell.at(0));
        expect("ISRC " + cell[0], cell.size() > 1 ? cell[1] : "", parsed ? parsed->code() : "");
    }
    std::printf("%d stored cases replayed, %d differences\n", cases, failures);
    return cases < 100 || failures != 0 ? 1 : 0;
}
