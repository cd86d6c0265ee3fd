// SPDX-License-Identifier: MIT
#include "core/formats/axml.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <cstring>
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

std::string withISRC(std::string_view xml, const std::optional<std::string>& code, bool add) {
    const std::string_view text = trimmed(xml);
    pugi::xml_document doc;
    if (!text.empty() && !load(doc, text)) throw TagError::malformed(msg::axmlDamaged);
    const std::vector<pugi::xml_node> ids = identifiers(doc);
    if (!code) {
        if (ids.empty()) return std::string(xml);
        for (pugi::xml_node id : ids) id.parent().remove_child(id);
        return serialised(doc);
    }
    if (ids.empty()) {
        if (!add) return std::string(xml);
        addIdentifier(doc, *code);
        return serialised(doc);
    }
    // Where each value is one text node between its tags, exactly those bytes are replaced,
    // back to front so that earlier offsets stay valid.
    struct Edit {
        std::size_t at, length;
    };
    std::vector<Edit> edits;
    bool inPlace = true;
    for (const pugi::xml_node& id : ids) {
        const std::vector<pugi::xml_node> values = valueNodes(id);
        inPlace = inPlace && !values.empty();
        for (const pugi::xml_node& v : values) {
            const pugi::xml_node data = v.first_child();
            const std::size_t at = data ? std::size_t(data.offset_debug()) : 0;
            const std::size_t end = data ? text.find('<', at) : std::string_view::npos;
            if (!data || data.type() != pugi::node_pcdata || data.next_sibling() ||
                end == std::string_view::npos) {
                inPlace = false;
                break;
            }
            edits.push_back({at, end - at});
        }
    }
    if (!inPlace) {
        // A value spread over several nodes (comments, CDATA) or missing: write the document
        // out again with one text per value.
        for (pugi::xml_node id : ids) {
            std::vector<pugi::xml_node> values = valueNodes(id);
            if (values.empty()) values.push_back(id.append_child("dc:identifier"));
            for (pugi::xml_node v : values) {
                while (v.first_child()) v.remove_child(v.first_child());
                v.text().set(("ISRC:" + *code).c_str());
            }
        }
        return serialised(doc);
    }
    std::string out(xml);
    std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.at > b.at; });
    for (const Edit& e : edits) out.replace(e.at, e.length, "ISRC:" + *code);
    return out;
}

}  // namespace pelorix::formats::axml
