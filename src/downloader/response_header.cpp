#include "downloader/response_header.hpp"

#include <cctype>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "tools/log.hpp"
#include "tools/text.hpp"

namespace downloader::detail {

namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::vector<std::string> headerLines(const std::string& header) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = header.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(header.substr(at, end - at));
    if (at < header.size()) lines.push_back(header.substr(at));
    return lines;
}

// The Content-Length value: digits after optional blanks, up to the first non-digit.
std::uint64_t contentLength(const std::string& text, const Limits& limits) {
    std::size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    std::uint64_t value = 0;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
        if (value > (UINT64_MAX - 9) / 10) throw std::runtime_error("Invalid Content-Length");
        value = value * 10 + static_cast<std::uint64_t>(text[at] - '0');
    }
    if (value > limits.maxBody)
        throw std::runtime_error("Response body over " + std::to_string(limits.maxBody) + " bytes");
    return value;
}

}  // namespace

std::optional<std::string> receiveHeader(Socket& socket, ReceiveBuffer& buffer,
                                         const Limits& limits, bool& failed) {
    std::size_t searchFrom = 0;  // where "\r\n\r\n" may still start
    char block[1024];
    for (;;) {
        ssize_t n = socket.receive(block, sizeof block);
        if (n < 0) {
            failed = true;
            return std::nullopt;
        }
        if (n == 0) {
            tools::logln("Connection closed at ", buffer.length());
            return std::nullopt;
        }
        buffer.append(block, static_cast<std::size_t>(n));
        std::string_view data = buffer.contents();
        std::size_t end = data.find("\r\n\r\n", searchFrom);
        if (end == std::string_view::npos) {
            if (data.size() > limits.maxHeader)
                throw std::runtime_error("Response header over " +
                                         std::to_string(limits.maxHeader) + " bytes");
            searchFrom = data.size() >= 3 ? data.size() - 3 : 0;
            continue;
        }
        std::string header(data.substr(0, end + 4));
        buffer.cut(end + 4);
        return header;
    }
}

ResponseHeader parseResponseHeader(std::string text, const Limits& limits) {
    ResponseHeader header;
    header.text = std::move(text);
    const std::string& raw = header.text;
    std::string lowHeader = tools::lowered(raw);
    std::size_t at = lowHeader.find("\r\ncontent-length:");
    if (at != std::string::npos) {
        std::size_t valueAt = at + 17;
        std::size_t valueEnd = raw.find("\r\n", valueAt);
        header.length = contentLength(raw.substr(valueAt, valueEnd - valueAt), limits);
        header.hasLength = true;
    } else if (lowHeader.find("\r\ntransfer-encoding: chunked") != std::string::npos) {
        tools::logln("Recognize chunked mode");
        header.chunked = true;
    }
    for (const std::string& line : headerLines(raw)) {
        if (!header.location && startsWith(line, "Location: ")) header.location = line.substr(10);
        if (startsWith(line, "Connection: ") &&
            tools::lowered(line).find("close") != std::string::npos)
            header.closes = true;
    }
    return header;
}

}  // namespace downloader::detail
