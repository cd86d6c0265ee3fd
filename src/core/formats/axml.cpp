// SPDX-License-Identifier: MIT
#include "core/formats/axml.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <sstream>

#include "core/tag_error.h"

namespace pelorix::formats::axml {

namespace {

constexpr unsigned kParse = pugi::parse_full & ~pugi::parse_eol;  // keep every byte's meaning

std::string_view localName(const char* name) {
    const char* colon = std::strrchr(name, ':');
    return colon ? colon + 1 : name;
}

bool equalsFolded(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return (x | 0x20) == (y | 0x20); });
}

// Trailing NUL padding is not part of the document.
std::string_view trimmed(std::string_view xml) {
    while (!xml.empty() && (xml.back() == '\0')) xml.remove_suffix(1);
    return xml;
}

bool isISRCIdentifier(const pugi::xml_node& n) {
    return n.type() == pugi::node_element && localName(n.name()) == "identifier" &&
           equalsFolded(n.attribute("formatLabel").value(), "ISRC");
}

// The `dc:identifier` children that hold the code.
std::vector<pugi::xml_node> valueNodes(const pugi::xml_node& identifier) {
    std::vector<pugi::xml_node> out;
    for (pugi::xml_node c : identifier.children()) {
        if (c.type() == pugi::node_element && localName(c.name()) == "identifier") {
            out.push_back(c);
        }
    }
    return out;
}

std::vector<pugi::xml_node> identifiers(const pugi::xml_document& doc) {
    std::vector<pugi::xml_node> out;
    for (pugi::xpath_node x : doc.select_nodes("//*")) {
        if (isISRCIdentifier(x.node())) out.push_back(x.node());
    }
    return out;
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

pugi::xml_parse_result load(pugi::xml_document& doc, std::string_view xml) {
    return doc.load_buffer(xml.data(), xml.size(), kParse, pugi::encoding_utf8);
}

// The document written out again: raw, so no white space is added, with its own declaration.
std::string serialised(const pugi::xml_document& doc) {
    std::ostringstream out;
    doc.save(out, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return out.str();
}
std::string serialised(const pugi::xml_node& node) {
    std::ostringstream out;
    node.print(out, "", pugi::format_raw, pugi::encoding_utf8);
    return out.str();
}

// Adds an identifier to the core metadata, creating what the document lacks.
void addIdentifier(pugi::xml_document& doc, const std::string& code) {
    pugi::xml_node root = doc.document_element();
    std::string prefix = "ebucore:";
    if (!root) {
        root = doc.append_child("ebucore:ebuCoreMain");
        root.append_attribute("xmlns:dc") = "http://purl.org/dc/elements/1.1/";
        root.append_attribute("xmlns:ebucore") = "urn:ebu:metadata-schema:ebucore";
    } else if (const char* colon = std::strchr(root.name(), ':')) {
        prefix.assign(root.name(), std::size_t(colon - root.name()) + 1);
    } else {
        prefix.clear();
    }
    pugi::xml_node core;
    for (pugi::xml_node c : root.children()) {
        if (c.type() == pugi::node_element && localName(c.name()) == "coreMetadata") core = c;
    }
    if (!core) core = root.append_child((prefix + "coreMetadata").c_str());
    pugi::xml_node id = core.append_child((prefix + "identifier").c_str());
    id.append_attribute("typeLabel") = "GUID";
    id.append_attribute("typeDefinition") = "Globally Unique Identifier";
    id.append_attribute("formatLabel") = "ISRC";
    id.append_attribute("formatDefinition") = "International Standard Recording Code";
    id.append_child("dc:identifier").text().set(("ISRC:" + code).c_str());
}

}  // namespace

std::vector<std::string> isrcs(std::string_view xml) {
    pugi::xml_document doc;
    if (!load(doc, trimmed(xml))) return {};
    std::vector<std::string> out;
    for (const pugi::xml_node& id : identifiers(doc)) {
        for (const pugi::xml_node& v : valueNodes(id)) {
            std::string value;
            for (pugi::xml_node d : v.children()) {
                if (d.type() == pugi::node_pcdata || d.type() == pugi::node_cdata) {
                    value += d.value();
                }
            }
            std::string text = stripped(std::move(value));
            if (!text.empty()) out.push_back(std::move(text));
        }
    }
    return out;
}

namespace {

// Where an element lies in the text: its start tag from `start`, its content from `content` to
// `contentEnd`, its end tag up to `end`; a self-closing one has no content (`content` is `end`).
struct Span {
    std::size_t start = 0, content = 0, contentEnd = 0, end = 0;
    bool empty = false;  // self-closing
};

// The end of the markup that starts at `at` (a '<'): past its '>', quotes, comments, CDATA and
// processing instructions respected. npos when it does not end.
std::size_t markupEnd(std::string_view t, std::size_t at) {
    const auto past = [&](std::string_view close) {
        const std::size_t e = t.find(close, at);
        return e == std::string_view::npos ? e : e + close.size();
    };
    if (t.substr(at, 4) == "<!--") return past("-->");
    if (t.substr(at, 9) == "<![CDATA[") return past("]]>");
    if (t.substr(at, 2) == "<?") return past("?>");
    char quote = 0;
    for (std::size_t i = at + 1; i < t.size(); ++i) {
        if (quote) {
            if (t[i] == quote) quote = 0;
        } else if (t[i] == '"' || t[i] == '\'') {
            quote = t[i];
        } else if (t[i] == '>') {
            return i + 1;
        }
    }
    return std::string_view::npos;
}

// The span of the element `node` of a document parsed from `t`; none when the text does not
// show it as expected.
std::optional<Span> spanOf(std::string_view t, const pugi::xml_node& node) {
    Span s;
    const std::ptrdiff_t name = node.offset_debug();
    if (name < 1 || std::size_t(name) > t.size() || t[std::size_t(name) - 1] != '<') {
        return std::nullopt;
    }
    s.start = std::size_t(name) - 1;
    std::size_t at = markupEnd(t, s.start);
    if (at == std::string_view::npos) return std::nullopt;
    if (t[at - 2] == '/') {
        s.content = s.contentEnd = s.end = at;
        s.empty = true;
        return s;
    }
    s.content = at;
    for (int depth = 1; depth > 0;) {
        const std::size_t open = t.find('<', at);
        if (open == std::string_view::npos) return std::nullopt;
        const std::size_t close = markupEnd(t, open);
        if (close == std::string_view::npos) return std::nullopt;
        const char kind = open + 1 < t.size() ? t[open + 1] : 0;
        if (kind == '/') {
            --depth;
            if (depth == 0) s.contentEnd = open;
        } else if (kind != '!' && kind != '?' && t[close - 2] != '/') {
            ++depth;
        }
        at = close;
    }
    s.end = at;
    return s;
}

// The text with each range replaced, ranges in any order and not overlapping.
struct Splice {
    std::size_t at, length;
    std::string with;
};
std::string spliced(std::string_view xml, std::vector<Splice> edits) {
    std::sort(edits.begin(), edits.end(),
              [](const Splice& a, const Splice& b) { return a.at > b.at; });
    std::string out(xml);
    for (const Splice& e : edits) out.replace(e.at, e.length, e.with);
    return out;
}

}  // namespace

std::string withISRC(std::string_view xml, const std::optional<std::string>& code, bool add) {
    const std::string_view text = trimmed(xml);
    pugi::xml_document doc;
    if (!text.empty() && !load(doc, text)) throw TagError::malformed(msg::axmlDamaged);
    std::vector<pugi::xml_node> ids = identifiers(doc);
    // An identifier inside another one goes with it.
    std::erase_if(ids, [](const pugi::xml_node& n) {
        for (pugi::xml_node p = n.parent(); p; p = p.parent()) {
            if (isISRCIdentifier(p)) return true;
        }
        return false;
    });
    const auto span = [&](const pugi::xml_node& n) {
        const auto s = spanOf(text, n);
        if (!s) throw TagError::malformed(msg::axmlDamaged);
        return *s;
    };
    // Every byte outside the identifiers stays as it was: only their ranges are replaced.
    std::vector<Splice> edits;
    if (!code) {
        for (const pugi::xml_node& id : ids) {
            const Span s = span(id);
            edits.push_back({s.start, s.end - s.start, {}});
        }
        return edits.empty() ? std::string(xml) : spliced(xml, edits);
    }
    const std::string value = "ISRC:" + *code;
    if (ids.empty()) {
        if (!add) return std::string(xml);
        if (!doc.document_element()) {
            addIdentifier(doc, *code);
            return serialised(doc);
        }
        // Built in a scratch document after the root's prefix, then set in before the end tag
        // of the core metadata (or of the root, with a core metadata of its own).
        pugi::xml_node root = doc.document_element();
        pugi::xml_node core;
        for (pugi::xml_node c : root.children()) {
            if (c.type() == pugi::node_element && localName(c.name()) == "coreMetadata") core = c;
        }
        const pugi::xml_node target = core ? core : root;
        const std::string prefix(root.name(),
                                 std::size_t(localName(root.name()).data() - root.name()));
        pugi::xml_document scratch;
        pugi::xml_node scratchCore =
            scratch.append_child(root.name()).append_child((prefix + "coreMetadata").c_str());
        addIdentifier(scratch, *code);
        const std::string built = serialised(core ? scratchCore.first_child() : scratchCore);
        const Span where = span(target);
        if (where.empty) {  // "<x/>" becomes "<x>...</x>"
            edits.push_back({where.end - 2, 2, ">" + built + "</" + target.name() + ">"});
        } else {
            edits.push_back({where.contentEnd, 0, built});
        }
        return spliced(xml, edits);
    }
    for (const pugi::xml_node& id : ids) {
        const std::vector<pugi::xml_node> values = valueNodes(id);
        if (values.empty()) {
            const Span s = span(id);
            const std::string element = "<dc:identifier>" + value + "</dc:identifier>";
            if (s.empty) {
                edits.push_back(
                    {s.end - 2, 2, ">" + element + "</" + std::string(id.name()) + ">"});
            } else {
                edits.push_back({s.contentEnd, 0, element});
            }
            continue;
        }
        for (const pugi::xml_node& v : values) {
            const Span s = span(v);
            if (s.empty) {
                edits.push_back({s.end - 2, 2, ">" + value + "</" + std::string(v.name()) + ">"});
            } else {
                edits.push_back({s.content, s.contentEnd - s.content, value});
            }
        }
    }
    return spliced(xml, edits);
}

}  // namespace pelorix::formats::axml
