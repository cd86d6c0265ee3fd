// SPDX-License-Identifier: MIT
#include "core/formats/axml.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "core/tag_error.h"

namespace pelorix::formats::axml {

namespace {

// What a scan keeps is bounded by these, whatever the size of the chunk.
constexpr std::size_t kMaxDepth = 4096;
constexpr std::size_t kMaxName = 1024;   // an element's name
constexpr std::size_t kMaxLabel = 256;   // a formatLabel value as stored
constexpr std::size_t kMaxValue = 4096;  // a code element's text as stored
constexpr std::size_t kMaxIdentifiers = 1024;

bool equalsFolded(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return (x | 0x20) == (y | 0x20); });
}

std::string_view localName(std::string_view name) {
    const std::size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

bool isSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
bool isNameStart(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
}
bool isNameChar(int c) {
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// The chunk's bytes front to back, at most a piece (and a few bytes of look-ahead) held at a
// time. Positions count from the chunk's first byte.
class Reader {
  public:
    Reader(const FileIn& in, std::uint64_t offset, std::uint64_t length, std::size_t piece)
        : in_(in), offset_(offset), length_(length), piece_(std::max<std::size_t>(piece, 1)) {}

    // The byte `ahead` bytes on, or -1 past the end.
    int peek(std::size_t ahead = 0) {
        if (buffer_.size() - at_ <= ahead && !fill(ahead + 1)) return -1;
        return buffer_[at_ + ahead];
    }
    int get() {
        const int c = peek();
        if (c >= 0) ++at_;
        return c;
    }
    // Takes `s` when it comes next.
    bool take(std::string_view s) {
        for (std::size_t i = 0; i < s.size(); ++i) {
            if (peek(i) != static_cast<unsigned char>(s[i])) return false;
        }
        at_ += s.size();
        return true;
    }
    std::uint64_t position() const { return base_ + at_; }

  private:
    bool fill(std::size_t n) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + std::ptrdiff_t(at_));
        base_ += at_;
        at_ = 0;
        while (buffer_.size() < n && next_ < length_) {
            const std::uint64_t want = std::min<std::uint64_t>(piece_, length_ - next_);
            const Bytes bytes = in_.read(offset_ + next_, std::int64_t(want));
            if (bytes.empty()) throw TagError::malformed(pelorix::msg::fileEnded);
            buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
            next_ += bytes.size();
        }
        return buffer_.size() >= n;
    }

    const FileIn& in_;
    std::uint64_t offset_, length_;
    std::size_t piece_;
    Bytes buffer_;
    std::size_t at_ = 0;
    std::uint64_t base_ = 0;  // the position of buffer_[0]
    std::uint64_t next_ = 0;  // the next byte to read from the file
};

// Where an element lies: its start tag from `start`, its content from `content` to
// `contentEnd`, its end tag up to `end`; a self-closing one has no content.
struct Span {
    std::uint64_t start = 0, content = 0, contentEnd = 0, end = 0;
    bool empty = false;
    std::string name;
};

// A code element: its span and its text as stored, runs of character data (escapes to decode)
// and CDATA sections (taken as they are).
struct Value {
    Span span;
    std::vector<std::pair<bool, std::string>> runs;  // (CDATA, text)
    std::size_t stored = 0;
};

struct Identifier {
    Span span;
    std::vector<Value> values;
};

struct Scan {
    std::vector<Identifier> identifiers;
    bool wellFormed = true;
    bool doctype = false;
    bool markupInValue = false;  // a comment, instruction or element inside a code element
};

struct NotWellFormed {};

// The text of escaped character data: the five named entities and character references
// decoded, anything else kept as it stands.
std::string unescaped(std::string_view raw) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '&') {
            out += raw[i];
            continue;
        }
        const std::string_view rest = raw.substr(i + 1);
        const std::size_t semi = rest.find(';');
        if (semi == std::string_view::npos) {
            out += '&';
            continue;
        }
        const std::string_view name = rest.substr(0, semi);
        static constexpr std::pair<std::string_view, char> kNamed[] = {
            {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"apos", '\''}, {"quot", '"'}};
        const auto named = std::find_if(std::begin(kNamed), std::end(kNamed),
                                        [&](const auto& n) { return n.first == name; });
        std::optional<std::uint32_t> scalar;
        if (named != std::end(kNamed)) {
            scalar = std::uint32_t(static_cast<unsigned char>(named->second));
        } else if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x';
            const std::string_view digits = name.substr(hex ? 2 : 1);
            std::uint32_t v = 0;
            bool ok = !digits.empty();
            for (const char d : digits) {
                const int x = std::isdigit(static_cast<unsigned char>(d)) ? d - '0'
                              : hex && std::isxdigit(static_cast<unsigned char>(d))
                                  ? (d | 0x20) - 'a' + 10
                                  : -1;
                if (x < 0 || v > 0x10FFFF) ok = false;
                if (!ok) break;
                v = v * (hex ? 16 : 10) + std::uint32_t(x);
            }
            if (ok && v <= 0x10FFFF) scalar = v;
        }
        if (!scalar) {
            out += '&';
            continue;
        }
        const std::uint32_t c = *scalar;
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
        i += semi + 1;
    }
    return out;
}

// One pass over the XML that keeps only the open elements' names and the ISRC identifiers.
class Scanner {
  public:
    explicit Scanner(Reader& reader) : r_(reader) {}

    Scan run() {
        try {
            while (r_.peek() >= 0) {
                if (r_.peek() == '<') {
                    markup();
                } else {
                    text();
                }
            }
            if (!open_.empty() || !sawElement_) throw NotWellFormed{};
        } catch (const NotWellFormed&) {
            scan_.wellFormed = false;
        }
        return std::move(scan_);
    }

  private:
    struct Open {
        std::size_t nameAt;  // in names_
        bool identifier = false;
        bool value = false;
    };

    [[noreturn]] static void bad() { throw NotWellFormed{}; }

    Value* openValue() {
        return !open_.empty() && open_.back().value ? &scan_.identifiers.back().values.back()
                                                    : nullptr;
    }
    // Each byte and each run counts against the bound.
    static void store(Value& v, int c) {
        if (++v.stored > kMaxValue) throw TagError::unsupported(msg::axmlTooComplex);
        v.runs.back().second += char(c);
    }
    static void startRun(Value* v, bool cdata) {
        if (!v) return;
        if (++v->stored > kMaxValue) throw TagError::unsupported(msg::axmlTooComplex);
        v->runs.emplace_back(cdata, "");
    }

    // Character data; white space alone between markup is no part of a code element's text.
    void text() {
        Value* v = openValue();
        startRun(v, false);
        bool blank = true;
        for (int c = r_.peek(); c >= 0 && c != '<'; c = r_.peek()) {
            r_.get();
            if (!v) continue;
            blank = blank && isSpace(c);
            store(*v, c);
        }
        if (v && blank) v->runs.pop_back();
    }

    // Reads up to and past `end`, handing each byte before it to `keep`.
    template <typename Keep>
    void through(std::string_view end, Keep keep) {
        std::string tail;
        for (;;) {
            const int c = r_.get();
            if (c < 0) bad();
            tail += char(c);
            if (tail.size() > end.size()) {
                keep(static_cast<unsigned char>(tail.front()));
                tail.erase(0, 1);
            }
            if (tail == end) return;
        }
    }

    void markup() {
        const std::uint64_t at = r_.position();
        r_.get();
        if (r_.take("!--")) {
            through("-->", [](int) {});
            noteMarkup();
        } else if (r_.take("![CDATA[")) {
            if (open_.empty()) bad();
            Value* v = openValue();
            startRun(v, true);
            through("]]>", [&](int c) {
                if (v) store(*v, c);
            });
        } else if (r_.take("!DOCTYPE")) {
            if (!open_.empty() || sawElement_) bad();
            doctype();
        } else if (r_.take("?")) {
            if (!isNameStart(r_.peek())) bad();
            through("?>", [](int) {});
            noteMarkup();
        } else if (r_.take("/")) {
            endTag(at);
        } else if (isNameStart(r_.peek())) {
            startTag(at);
        } else {
            bad();
        }
    }

    // Markup inside a code element: read past, but an edit would lose it.
    void noteMarkup() {
        if (openValue()) scan_.markupInValue = true;
    }

    // Up to the '>' that closes it: nested declarations counted, quoted text passed over.
    void doctype() {
        scan_.doctype = true;
        int angles = 1;
        char quote = 0;
        for (;;) {
            const int c = r_.get();
            if (c < 0) bad();
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = char(c);
            } else if (c == '<') {
                ++angles;
            } else if (c == '>' && --angles == 0) {
                return;
            }
        }
    }

    std::string name() {
        std::string out;
        while (isNameChar(r_.peek())) {
            if (out.size() == kMaxName) throw TagError::unsupported(msg::axmlTooComplex);
            out += char(r_.get());
        }
        return out;
    }
    void spaces() {
        while (isSpace(r_.peek())) r_.get();
    }

    void startTag(std::uint64_t at) {
        sawElement_ = true;
        const std::string element = name();
        std::optional<std::string> label;  // the first formatLabel, as stored
        bool empty = false;
        for (;;) {
            spaces();
            const int c = r_.get();
            if (c == '>') break;
            if (c == '/') {
                if (r_.get() != '>') bad();
                empty = true;
                break;
            }
            if (!isNameStart(c)) bad();
            // Only whether the name is "formatLabel" matters, so a long one is not kept.
            std::string attribute(1, char(c));
            while (isNameChar(r_.peek())) {
                const int n = r_.get();
                if (attribute.size() <= 16) attribute += char(n);
            }
            const bool wanted = attribute == "formatLabel" && !label;
            spaces();
            if (r_.get() != '=') bad();
            spaces();
            const int quote = r_.get();
            if (quote != '"' && quote != '\'') bad();
            if (wanted) label.emplace();
            for (int v = r_.get(); v != quote; v = r_.get()) {
                if (v < 0) bad();
                if (!wanted) continue;
                if (label->size() == kMaxLabel) throw TagError::unsupported(msg::axmlTooComplex);
                *label += isSpace(v) ? ' ' : char(v);
            }
        }
        const bool identifier =
            localName(element) == "identifier" && label && equalsFolded(unescaped(*label), "ISRC");
        const bool value =
            !open_.empty() && open_.back().identifier && localName(element) == "identifier";
        noteMarkup();
        if (identifier && insideIdentifier_) throw TagError::unsupported(msg::axmlNotEdited);
        Span span{at, r_.position(), r_.position(), r_.position(), empty, element};
        if (identifier || value) {
            if (++kept_ > kMaxIdentifiers) throw TagError::unsupported(msg::axmlTooComplex);
        }
        if (identifier) scan_.identifiers.push_back({span, {}});
        if (value) scan_.identifiers.back().values.push_back({span, {}, 0});
        if (empty) return;
        if (open_.size() == kMaxDepth) throw TagError::unsupported(msg::axmlTooComplex);
        open_.push_back({names_.size(), identifier, value});
        names_ += element;
        insideIdentifier_ = insideIdentifier_ || identifier;
    }

    void endTag(std::uint64_t at) {
        if (open_.empty()) bad();
        const Open top = open_.back();
        const std::string_view expected = std::string_view(names_).substr(top.nameAt);
        for (const char e : expected) {
            if (r_.get() != static_cast<unsigned char>(e)) bad();
        }
        if (isNameChar(r_.peek())) bad();
        spaces();
        if (r_.get() != '>') bad();
        open_.pop_back();
        names_.resize(top.nameAt);
        if (!top.identifier && !top.value) return;
        Identifier& id = scan_.identifiers.back();
        Span& span = top.value ? id.values.back().span : id.span;
        span.contentEnd = at;
        span.end = r_.position();
        if (top.identifier) insideIdentifier_ = false;
    }

    Reader& r_;
    Scan scan_;
    std::vector<Open> open_;
    std::string names_;  // the open elements' names, end to end
    bool sawElement_ = false;
    bool insideIdentifier_ = false;
    std::size_t kept_ = 0;
};

// The length of the chunk's content without the NUL padding after the document.
std::uint64_t documentLength(const FileIn& in, const ByteRange& chunk, std::size_t piece) {
    piece = std::max<std::size_t>(piece, 1);
    for (std::uint64_t end = chunk.length; end > 0;) {
        const std::uint64_t n = std::min<std::uint64_t>(piece, end);
        const Bytes b = in.read(chunk.offset + end - n, std::int64_t(n));
        if (b.size() < n) throw TagError::malformed(pelorix::msg::fileEnded);
        const auto last = std::find_if(b.rbegin(), b.rend(), [](std::uint8_t x) { return x; });
        if (last != b.rend()) return end - n + std::uint64_t(b.rend() - last);
        end -= n;
    }
    return 0;
}

Scan scanned(const FileIn& in, const ByteRange& chunk, std::size_t piece) {
    const std::uint64_t length = documentLength(in, chunk, piece);
    if (length == 0) return Scan{.identifiers = {}, .wellFormed = false};
    Reader reader(in, chunk.offset, length, piece);
    return Scanner(reader).run();
}

std::string stripped(std::string text) {
    const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    text.erase(text.begin(), std::find_if(text.begin(), text.end(), notSpace));
    text.erase(std::find_if(text.rbegin(), text.rend(), notSpace).base(), text.end());
    if (text.size() >= 5 && equalsFolded(std::string_view(text).substr(0, 5), "ISRC:")) {
        text.erase(0, 5);
    }
    return text;
}

// The codes of a scan; an identifier in XML that turns out not to be well-formed is refused.
std::vector<std::string> codesOf(const Scan& scan) {
    if (!scan.wellFormed) {
        if (!scan.identifiers.empty()) throw TagError::unsupported(msg::axmlNotEdited);
        return {};
    }
    std::vector<std::string> out;
    for (const Identifier& id : scan.identifiers) {
        for (const Value& v : id.values) {
            std::string value;
            for (const auto& [cdata, run] : v.runs) value += cdata ? run : unescaped(run);
            std::string text = stripped(std::move(value));
            if (!text.empty()) out.push_back(std::move(text));
        }
    }
    return out;
}

}  // namespace

std::vector<std::string> isrcs(const FileIn& in, const ByteRange& chunk, std::size_t piece) {
    return codesOf(scanned(in, chunk, piece));
}

std::optional<id3v2::Pieces> edited(const FileIn& in, const ByteRange& chunk,
                                    const std::optional<std::string>& code, std::size_t piece) {
    const Scan scan = scanned(in, chunk, piece);
    if (codesOf(scan).empty()) return std::nullopt;
    if (scan.doctype || scan.markupInValue) throw TagError::unsupported(msg::axmlNotEdited);
    // Every byte outside the identifiers is copied: only their ranges are replaced.
    id3v2::Pieces out;
    std::uint64_t at = 0;
    const auto replace = [&](std::uint64_t from, std::uint64_t to, const std::string& with) {
        if (from > at) out.add(ByteRange{chunk.offset + at, from - at});
        out.add(std::span(reinterpret_cast<const std::uint8_t*>(with.data()), with.size()));
        at = to;
    };
    // The element's content set to `content`; "<x/>" becomes "<x>...</x>".
    const auto fill = [&](const Span& s, const std::string& content) {
        if (s.empty) {
            replace(s.end - 2, s.end, ">" + content + "</" + s.name + ">");
        } else {
            replace(s.content, s.contentEnd, content);
        }
    };
    for (const Identifier& id : scan.identifiers) {
        if (!code) {
            replace(id.span.start, id.span.end, "");
        } else if (id.values.empty()) {
            const std::string element = "<dc:identifier>ISRC:" + *code + "</dc:identifier>";
            if (id.span.empty) {
                fill(id.span, element);
            } else {
                replace(id.span.contentEnd, id.span.contentEnd, element);
            }
        } else {
            for (const Value& v : id.values) fill(v.span, "ISRC:" + *code);
        }
    }
    if (chunk.length > at) out.add(ByteRange{chunk.offset + at, chunk.length - at});
    return out;
}

std::string document(const std::string& code) {
    return "<ebucore:ebuCoreMain xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
           "xmlns:ebucore=\"urn:ebu:metadata-schema:ebucore\"><ebucore:coreMetadata>"
           "<ebucore:identifier typeLabel=\"GUID\" typeDefinition=\"Globally Unique "
           "Identifier\" formatLabel=\"ISRC\" formatDefinition=\"International Standard "
           "Recording Code\"><dc:identifier>ISRC:" +
           code +
           "</dc:identifier></ebucore:identifier></ebucore:coreMetadata>"
           "</ebucore:ebuCoreMain>";
}

}  // namespace pelorix::formats::axml
