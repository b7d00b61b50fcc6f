#include "wendle/page_scan.hpp"

#include <cctype>
#include <utility>

#include "tools/text.hpp"

namespace wendle {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool isNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == ':';
}

// The offset of "</" + name (any case) at or after `from`, or the end of the page.
std::size_t findClosing(std::string_view page, std::string_view name, std::size_t from) {
    for (std::size_t at = page.find("</", from); at != std::string_view::npos;
         at = page.find("</", at + 2)) {
        std::string_view rest = page.substr(at + 2);
        if (rest.size() < name.size()) break;
        bool same = true;
        for (std::size_t i = 0; i < name.size() && same; ++i)
            same = std::tolower(static_cast<unsigned char>(rest[i])) == name[i];
        if (same) return at;
    }
    return page.size();
}

// Reads the attributes from `at` up to the tag's ">"; returns the offset after
// it, or npos when the page ends first.
std::size_t readAttributes(std::string_view page, std::size_t at, std::vector<Attribute>& out) {
    for (;;) {
        while (at < page.size() && (isSpace(page[at]) || page[at] == '/')) ++at;
        if (at >= page.size()) return std::string_view::npos;
        if (page[at] == '>') return at + 1;
        std::size_t nameStart = at;
        while (at < page.size() && !isSpace(page[at]) && page[at] != '=' && page[at] != '>' &&
               page[at] != '/')
            ++at;
        Attribute attribute;
        attribute.written = std::string(page.substr(nameStart, at - nameStart));
        attribute.name = tools::lowered(attribute.written);
        std::size_t look = at;
        while (look < page.size() && isSpace(page[look])) ++look;
        if (look < page.size() && page[look] == '=') {
            at = look + 1;
            while (at < page.size() && isSpace(page[at])) ++at;
            if (at >= page.size()) return std::string_view::npos;
            if (page[at] == '"' || page[at] == '\'') {
                char quote = page[at];
                std::size_t close = page.find(quote, at + 1);
                if (close == std::string_view::npos) return std::string_view::npos;
                attribute.quote = quote;
                attribute.value = std::string(page.substr(at + 1, close - at - 1));
                at = close + 1;
            } else {
                std::size_t valueStart = at;
                while (at < page.size() && !isSpace(page[at]) && page[at] != '>') ++at;
                attribute.value = std::string(page.substr(valueStart, at - valueStart));
            }
        }
        if (!attribute.name.empty()) out.push_back(std::move(attribute));
    }
}

std::string firstSrcsetAddress(std::string_view value) {
    std::size_t begin = 0;
    while (begin < value.size() && (isSpace(value[begin]) || value[begin] == ',')) ++begin;
    std::size_t end = begin;
    while (end < value.size() && !isSpace(value[end]) && value[end] != ',') ++end;
    return std::string(value.substr(begin, end - begin));
}

void appendUtf8(std::string& out, unsigned long code) {
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return;
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

}  // namespace

const Attribute* Tag::find(std::string_view attributeName) const {
    int index = indexOf(attributeName);
    return index < 0 ? nullptr : &attributes[static_cast<std::size_t>(index)];
}

int Tag::indexOf(std::string_view attributeName) const {
    for (std::size_t i = 0; i < attributes.size(); ++i)
        if (attributes[i].name == attributeName) return static_cast<int>(i);
    return -1;
}

std::vector<Tag> scanTags(std::string_view page, std::size_t limit) {
    std::vector<Tag> tags;
    std::size_t at = 0;
    while (tags.size() < limit) {
        std::size_t lt = page.find('<', at);
        if (lt == std::string_view::npos || lt + 1 >= page.size()) break;
        if (page.substr(lt, 4) == "<!--") {
            std::size_t close = page.find("-->", lt + 4);
            if (close == std::string_view::npos) break;
            at = close + 3;
            continue;
        }
        Tag tag;
        std::size_t nameStart = lt + 1;
        if (page[nameStart] == '/') {
            tag.closing = true;
            ++nameStart;
        }
        std::size_t nameEnd = nameStart;
        while (nameEnd < page.size() && isNameChar(page[nameEnd])) ++nameEnd;
        if (nameEnd == nameStart || !std::isalpha(static_cast<unsigned char>(page[nameStart]))) {
            // "<!DOCTYPE", "<?xml", or a "<" in text.
            at = lt + 1;
            if (page[nameStart] == '!' || page[nameStart] == '?') {
                std::size_t close = page.find('>', lt);
                if (close == std::string_view::npos) break;
                at = close + 1;
            }
            continue;
        }
        tag.written = std::string(page.substr(nameStart, nameEnd - nameStart));
        tag.name = tools::lowered(tag.written);
        tag.begin = lt;
        std::size_t end = readAttributes(page, nameEnd, tag.attributes);
        if (end == std::string_view::npos) break;
        tag.end = end;
        at = end;
        if (!tag.closing && (tag.name == "script" || tag.name == "style"))
            at = findClosing(page, tag.name, end);
        tags.push_back(std::move(tag));
    }
    return tags;
}

std::vector<Link> scanLinks(std::string_view page) {
    std::vector<Tag> tags = scanTags(page);
    std::vector<Link> links;
    for (std::size_t i = 0; i < tags.size(); ++i) {
        const Tag& tag = tags[i];
        if (tag.closing || (tag.name != "a" && tag.name != "link")) continue;
        const Attribute* href = tag.find("href");
        if (!href || href->value.empty()) continue;
        Link link;
        link.tag = tag;
        link.href = href->value;
        if (tag.name == "a") {
            // What the link holds: up to its end, or the next link when it is never closed.
            for (std::size_t k = i + 1; k < tags.size() && k < i + 40; ++k) {
                std::string_view between(page.data() + tags[k - 1].end,
                                         tags[k].begin - tags[k - 1].end);
                std::string text = collapsedWhitespace(between);
                if (!text.empty()) link.texts.push_back(std::move(text));
                if (tags[k].name == "a") break;
                if (tags[k].name == "img" && !tags[k].closing) link.images.push_back(tags[k]);
            }
        }
        links.push_back(std::move(link));
    }
    return links;
}

std::vector<Image> scanImages(std::string_view page) {
    std::vector<Image> images;
    for (Tag& tag : scanTags(page)) {
        if (tag.closing || tag.name != "img") continue;
        Image image;
        auto usable = [](const std::string& value) {
            return !value.empty() && !value.starts_with("data:");
        };
        for (std::string_view name : {"data-src", "data-lazy-src", "data-original", "src"}) {
            int index = tag.indexOf(name);
            if (index >= 0 && usable(tag.attributes[static_cast<std::size_t>(index)].value)) {
                image.attribute = index;
                image.value = tag.attributes[static_cast<std::size_t>(index)].value;
                break;
            }
        }
        if (image.attribute < 0)
            for (std::string_view name : {"srcset", "data-srcset", "data-lazy-srcset"}) {
                int index = tag.indexOf(name);
                if (index < 0) continue;
                std::string first =
                    firstSrcsetAddress(tag.attributes[static_cast<std::size_t>(index)].value);
                if (usable(first)) {
                    image.attribute = index;
                    image.value = first;
                    break;
                }
            }
        if (image.attribute < 0) continue;
        image.offset = tag.begin;
        image.tag = std::move(tag);
        images.push_back(std::move(image));
    }
    return images;
}

std::string titleText(std::string_view page) {
    std::vector<Tag> tags = scanTags(page, 400);
    for (std::size_t i = 0; i + 1 < tags.size(); ++i)
        if (!tags[i].closing && tags[i].name == "title")
            return collapsedWhitespace(page.substr(tags[i].end, tags[i + 1].begin - tags[i].end));
    return {};
}

std::string decodeEntities(std::string_view text) {
    static const std::pair<std::string_view, unsigned long> named[] = {
        {"raquo", 0xBB},   {"laquo", 0xAB},   {"rsaquo", 0x203A}, {"lsaquo", 0x2039},
        {"rarr", 0x2192},  {"larr", 0x2190},  {"gt", '>'},        {"lt", '<'},
        {"amp", '&'},      {"nbsp", ' '},     {"quot", '"'},      {"apos", '\''},
        {"ndash", 0x2013}, {"mdash", 0x2014}, {"hellip", 0x2026}, {"rang", 0x27E9},
        {"lang", 0x27E8},  {"#039", '\''}};
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t semicolon = text[at] == '&' ? text.find(';', at) : std::string_view::npos;
        if (semicolon == std::string_view::npos || semicolon - at > 10) {
            out.push_back(text[at++]);
            continue;
        }
        std::string_view name = text.substr(at + 1, semicolon - at - 1);
        unsigned long code = 0;
        bool known = false;
        if (name.size() > 1 && name[0] == '#') {
            bool hex = name[1] == 'x' || name[1] == 'X';
            std::string digits(name.substr(hex ? 2 : 1));
            if (!digits.empty() &&
                digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") ==
                    std::string::npos) {
                code = std::stoul(digits.substr(0, 7), nullptr, hex ? 16 : 10);
                known = true;
            }
        } else {
            for (const auto& [entity, value] : named)
                if (entity == name) {
                    code = value;
                    known = true;
                }
        }
        if (!known) {
            out.push_back(text[at++]);
            continue;
        }
        appendUtf8(out, code == 0xA0 ? ' ' : code);
        at = semicolon + 1;
    }
    return out;
}

std::string collapsedWhitespace(std::string_view text) {
    std::string out;
    bool blank = false;
    for (char c : text) {
        if (isSpace(c)) {
            blank = !out.empty();
            continue;
        }
        if (blank) out.push_back(' ');
        blank = false;
        out.push_back(c);
    }
    return out;
}

}  // namespace wendle
