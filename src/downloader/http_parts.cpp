#include "downloader/http_parts.hpp"

#include <cctype>
#include <new>
#include <stdexcept>

#include "tools/log.hpp"

namespace downloader::detail {

namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// Splits off an annotation's value, up to the space that ends it.
std::string takeAnnotation(std::string& rest, const std::string& marker, const std::string& url) {
    std::size_t space = rest.find(' ');
    if (space == std::string::npos)
        throw std::runtime_error(marker + " without a following space in '" + url + "'");
    std::string value = rest.substr(marker.size(), space - marker.size());
    rest.erase(0, space + 1);
    return value;
}

std::uint16_t parsePort(const std::string& text) {
    std::size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    std::uint32_t port = 0;
    bool digits = false;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
        digits = true;
        port = port * 10 + static_cast<std::uint32_t>(text[at] - '0');
        if (port > 65535) break;
    }
    if (!digits || port < 1 || port > 65535)
        throw std::runtime_error("Invalid port '" + text + "'");
    return static_cast<std::uint16_t>(port);
}

void appendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace

std::string encodeControls(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

Request parseUrl(const std::string& url) {
    Request request;
    std::string rest = url;
    if (startsWith(rest, "POST=")) {
        request.post = true;
        request.form = takeAnnotation(rest, "POST=", url);
        tools::logln("Posting ", request.form);
    }
    if (startsWith(rest, "REFER=")) {
        std::string referrer = takeAnnotation(rest, "REFER=", url);
        tools::logln("Refer ", referrer);
        if ((referrer.size() < 7 || !startsWith(referrer, "http://")) &&
            !startsWith(referrer, "https://"))
            referrer = "http://" + referrer;
        request.referrer = encodeControls(referrer);
    }
    if (startsWith(rest, "1.0 ")) {
        request.http10 = true;
        rest.erase(0, 4);
        tools::logln("Fallback to HTTP 1.0");
    }
    if (startsWith(rest, "http://")) {
        rest.erase(0, 7);
    } else if (startsWith(rest, "https://")) {
        rest.erase(0, 8);
        request.tls = true;
        request.port = 443;
    }
    if (rest.find('/') == std::string::npos) rest += '/';
    std::string spaced;
    spaced.reserve(rest.size());
    for (char c : rest) {
        if (c == ' ')
            spaced += "%20";
        else
            spaced += c;
    }
    rest = encodeControls(spaced);

    std::size_t slash = rest.find('/');
    std::string hostPart = rest.substr(0, slash);
    request.path = rest.substr(slash);
    std::size_t colon = hostPart.find(':');
    request.host = hostPart.substr(0, colon);
    if (colon != std::string::npos) request.port = parsePort(hostPart.substr(colon + 1));
    if (request.host.empty()) throw std::runtime_error("No address found");
    return request;
}

void ReceiveBuffer::append(const char* data, std::size_t length) {
    try {
        // Drop the cut front once it is the larger part, so cuts stay cheap and the
        // storage does not grow without bound.
        if (start_ > 0 && start_ >= data_.size() / 2) {
            data_.erase(0, start_);
            start_ = 0;
        }
        data_.append(data, length);
    } catch (const std::bad_alloc&) {
        throw std::runtime_error("Out of memory for the response (" +
                                 std::to_string(this->length()) + " bytes received)");
    } catch (const std::length_error&) {
        throw std::runtime_error("Out of memory for the response (" +
                                 std::to_string(this->length()) + " bytes received)");
    }
}

void ReceiveBuffer::reserve(std::size_t total) {
    try {
        if (start_ > 0) {
            data_.erase(0, start_);
            start_ = 0;
        }
        data_.reserve(total);
    } catch (const std::exception&) {
        // growing on demand reports what cannot be held
    }
}

std::string ReceiveBuffer::take(std::size_t n) {
    if (start_ > 0) data_.erase(0, start_);
    start_ = 0;
    if (data_.size() > n) data_.resize(n);
    std::string out = std::move(data_);
    data_.clear();
    return out;
}

void ReceiveBuffer::cut(std::size_t n) {
    if (n > length()) throw std::runtime_error("Cannot cut at index larger than length");
    if (n == length()) {
        data_.clear();
        start_ = 0;
    } else {
        start_ += n;
    }
}

ChunkState decodeChunks(ReceiveBuffer& buffer, std::string& body, bool finalMode,
                        const Limits& limits) {
    for (;;) {
        std::string_view data = buffer.contents();
        std::size_t lineEnd = data.find("\r\n");
        if (lineEnd == std::string_view::npos) {
            if (data.size() > limits.maxHeader)
                throw std::runtime_error("Chunk size line too long");
            return ChunkState::needMore;
        }
        std::string_view line = data.substr(0, lineEnd);
        std::size_t first = line.find_first_not_of(" \t");
        line = first == std::string_view::npos ? std::string_view() : line.substr(first);
        line = line.substr(0, line.find(';'));
        std::size_t last = line.find_last_not_of(" \t");
        line = last == std::string_view::npos ? std::string_view() : line.substr(0, last + 1);

        std::uint64_t size = 0;
        for (char c : line) {
            char low = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            int digit;
            if (low >= '0' && low <= '9')
                digit = low - '0';
            else if (low >= 'a' && low <= 'f')
                digit = low - 'a' + 10;
            else
                throw std::runtime_error(std::string("Invalid character '") + low +
                                         "' in hex string");
            size = size * 16 + static_cast<std::uint64_t>(digit);
            if (size > limits.maxChunk)
                throw std::runtime_error("Chunk size over " + std::to_string(limits.maxChunk) +
                                         " bytes");
        }

        if (size == 0)
            return data.find("\r\n\r\n", lineEnd) != std::string_view::npos ? ChunkState::complete
                                                                            : ChunkState::needMore;
        if (body.size() + size > limits.maxBody)
            throw std::runtime_error("Response body over " + std::to_string(limits.maxBody) +
                                     " bytes");
        if (data.size() < lineEnd + 2 + size + 2) {
            if (finalMode) body.append(data.substr(lineEnd + 2));
            return ChunkState::needMore;
        }
        body.append(data.substr(lineEnd + 2, size));
        buffer.cut(lineEnd + 2 + size + 2);
        finalMode = false;
    }
}

std::string convertUtf16(std::string body) {
    if (body.size() <= 2) return body;
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(body[i]); };
    bool bigEndian;
    if (byte(0) == 0xFE && byte(1) == 0xFF)
        bigEndian = true;
    else if (byte(0) == 0xFF && byte(1) == 0xFE)
        bigEndian = false;
    else
        return body;  // moved out, no copy
    auto unit = [&](std::size_t i) -> std::uint32_t {
        return bigEndian ? (byte(i) << 8 | byte(i + 1)) : (byte(i + 1) << 8 | byte(i));
    };
    std::string out;
    out.reserve(body.size() * 3 / 2);
    std::size_t units = body.size() / 2;  // an odd last byte is dropped
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t code = unit(2 * i);
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < units) {
            std::uint32_t low = unit(2 * (i + 1));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            } else {
                code = 0xFFFD;
            }
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;  // a lone surrogate
        }
        appendUtf8(out, code);
    }
    return out;
}

}  // namespace downloader::detail
