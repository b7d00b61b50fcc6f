#pragma once
// A forgiving reader of the tags of a page: links with what labels them, images
// with the attribute that holds their address, and the page's title texts. It
// knows no document tree; it reads tags in order, skips comments, scripts and
// styles, and accepts upper-case tags and unquoted attributes as the browsers do.
// Pure functions, usable from any thread.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace wendle {

struct Attribute {
    std::string name;     // lowered
    std::string written;  // the name as written
    std::string value;    // as written, entities undecoded
    char quote = 0;       // '"', '\'' or 0 (unquoted or no value)
};

struct Tag {
    std::string name;       // lowered ("a", "img", "link" ...)
    std::string written;    // as written
    std::size_t begin = 0;  // offset of "<"
    std::size_t end = 0;    // offset after ">"
    bool closing = false;   // "</name>"
    std::vector<Attribute> attributes;

    // The attribute (by lowered name), or null.
    const Attribute* find(std::string_view attributeName) const;
    // Its index in attributes, or -1.
    int indexOf(std::string_view attributeName) const;
};

// The tags of a page in order (at most `limit` of them).
std::vector<Tag> scanTags(std::string_view page, std::size_t limit = 20000);

// A link: an <a> or <link> tag with an href, and for <a> what it holds.
struct Link {
    Tag tag;
    std::string href;                // as written
    std::vector<std::string> texts;  // the text pieces between the tags inside, trimmed
    std::vector<Tag> images;         // <img> tags inside
};
std::vector<Link> scanLinks(std::string_view page);

// An image: an <img> tag and the attribute that holds the address the browser
// shows in the end (data-src and its kin of lazy-loading themes before a
// placeholder src, srcset when nothing else).
struct Image {
    Tag tag;
    int attribute = -1;  // index in tag.attributes
    std::string value;   // the address as written (a srcset's first address)
    std::size_t offset = 0;
};
std::vector<Image> scanImages(std::string_view page);

// The text of the first <title> element, trimmed, entities undecoded ("" when none).
std::string titleText(std::string_view page);

// The text with the entities a label may use decoded (named arrows and
// quotation marks, &amp; &lt; &gt; &nbsp; &quot;, decimal and hexadecimal
// references) into UTF-8.
std::string decodeEntities(std::string_view text);

// The text with its leading and trailing white space removed and inner runs of
// white space as one blank.
std::string collapsedWhitespace(std::string_view text);

}  // namespace wendle
