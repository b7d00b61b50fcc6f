#include "comics/cbz.hpp"

#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "comics/strip_source.hpp"
#include "comics/strip_store.hpp"

namespace comics {
namespace {

// Appends the valid UTF-8 of text, with U+FFFD for every byte outside a valid
// sequence and without the characters XML 1.0 does not allow.
void appendXmlText(std::string& out, const std::string& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char b = p[i];
        std::size_t length = 0;
        char32_t c = 0;
        if (b < 0x80) {
            length = 1;
            c = b;
        } else if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
            c = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            c = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            c = b & 0x07;
        }
        bool valid = length > 0 && i + length <= n;
        for (std::size_t k = 1; valid && k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) valid = false;
            c = (c << 6) | (p[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF.
        if (valid && ((length == 3 && c < 0x800) || (length == 4 && c < 0x10000) ||
                      (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF))
            valid = false;
        if (!valid) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        const bool allowed =
            c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c != 0xFFFE && c != 0xFFFF);
        if (allowed) {
            switch (c) {
                case '&':
                    out += "&amp;";
                    break;
                case '<':
                    out += "&lt;";
                    break;
                case '>':
                    out += "&gt;";
                    break;
                case '"':
                    out += "&quot;";
                    break;
                case '\'':
                    out += "&apos;";
                    break;
                default:
                    out.append(text, i, length);
            }
        }
        i += length;
    }
}

std::string xmlText(const std::string& text) {
    std::string out;
    appendXmlText(out, text);
    return out;
}

struct ZipDiscard {
    void operator()(zip_t* archive) const {
        if (archive) zip_discard(archive);
    }
};
using Archive = std::unique_ptr<zip_t, ZipDiscard>;

[[noreturn]] void fail(zip_t* archive, const std::string& path) {
    throw std::runtime_error("Cannot write " + path + ": " + zip_strerror(archive));
}

// Adds a source as a stored (not compressed) member; the archive owns the
// source from then on.
void addStored(zip_t* archive, const std::string& path, const std::string& name,
               zip_source_t* source) {
    if (!source) fail(archive, path);
    const zip_int64_t index = zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(source);
        fail(archive, path);
    }
    if (zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0) != 0)
        fail(archive, path);
}

}  // namespace

std::string pageAddressOf(const std::string& imageRef) {
    std::string ref = imageRef;
    if (ref.rfind("POST=", 0) == 0) {
        const std::size_t space = ref.find(' ');
        ref = space == std::string::npos ? "" : ref.substr(space + 1);
    }
    if (ref.rfind("REFER=", 0) != 0) return {};
    const std::size_t space = ref.find(' ');
    if (space == std::string::npos) return {};
    std::string address = ref.substr(6, space - 6);
    if (address.empty()) return {};
    if (address.rfind("http://", 0) != 0 && address.rfind("https://", 0) != 0)
        address = "http://" + address;
    return address;
}

std::string comicInfo(const std::string& series, const std::string& firstPageAddress,
                      const std::vector<std::string>& titles, const std::string& notes) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<ComicInfo xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
    xml += "  <Series>" + xmlText(series) + "</Series>\n";
    if (!notes.empty()) xml += "  <Notes>" + xmlText(notes) + "</Notes>\n";
    if (!firstPageAddress.empty()) xml += "  <Web>" + xmlText(firstPageAddress) + "</Web>\n";
    xml += "  <PageCount>" + std::to_string(titles.size()) + "</PageCount>\n";
    xml += "  <Pages>\n";
    for (std::size_t i = 0; i < titles.size(); ++i)
        xml += "    <Page Image=\"" + std::to_string(i) + "\" Bookmark=\"" + xmlText(titles[i]) +
               "\" />\n";
    xml += "  </Pages>\n</ComicInfo>\n";
    return xml;
}

CbzResult writeCbz(const Comic& c, const std::string& path, StripStore& store) {
    const std::vector<Page> pages = c.pagesCopy();
    int error = 0;
    Archive archive(zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error));
    if (!archive) {
        zip_error_t e;
        zip_error_init_with_code(&e, error);
        const std::string why = zip_error_strerror(&e);
        zip_error_fini(&e);
        throw std::runtime_error("Cannot write " + path + ": " + why);
    }
    const std::size_t width = std::max<std::size_t>(4, std::to_string(pages.size()).size());
    CbzResult result;
    std::vector<std::string> titles;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const auto where = store.locate(std::string(pages[i].image()));
        std::string lead;
        if (where && where->length >= 4) {
            // The type by the first bytes, read from the store file itself.
            std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(where->path.c_str(), "rb"),
                                                              &std::fclose);
            if (f && std::fseek(f.get(), static_cast<long>(where->offset), SEEK_SET) == 0) {
                lead.resize(32);
                lead.resize(std::fread(lead.data(), 1, lead.size(), f.get()));
            }
        }
        std::string_view extension = imageExtension(lead);
        if (!where || extension.empty()) {
            result.missing.push_back(i);
            continue;
        }
        std::string number = std::to_string(i + 1);
        const std::string name =
            std::string(width - number.size(), '0') + number + "." + std::string(extension);
        addStored(archive.get(), path, name,
                  zip_source_file(archive.get(), where->path.c_str(), where->offset,
                                  static_cast<zip_int64_t>(where->length)));
        titles.emplace_back(pages[i].title());
        ++result.pages;
    }
    std::string notes;
    if (!result.missing.empty()) {
        notes = "Pages missing from this archive:";
        for (std::size_t i : result.missing) notes += " " + std::to_string(i + 1);
    }
    // Lives until the archive is written: libzip reads the buffer at close.
    const std::string info =
        comicInfo(c.name(), pages.empty() ? "" : pageAddressOf(std::string(pages.front().image())),
                  titles, notes);
    addStored(archive.get(), path, "ComicInfo.xml",
              zip_source_buffer(archive.get(), info.data(), info.size(), 0));
    if (zip_close(archive.get()) != 0) fail(archive.get(), path);
    archive.release();  // closed: nothing to discard
    return result;
}

}  // namespace comics
