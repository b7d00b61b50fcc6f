#include "downloader/response_header.hpp"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <ctime>
#include <iomanip>
#include <locale>
#include <sstream>
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

// "HTTP/1.1 503 Service Unavailable" -> 503; 0 without a status line.
int statusCode(std::string_view header) {
    if (!startsWith(header, "HTTP/")) return 0;
    std::size_t space = header.find(' ');
    if (space == std::string_view::npos || header.size() < space + 4) return 0;
    int code = 0;
    for (std::size_t i = space + 1; i < space + 4; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(header[i]))) return 0;
        code = code * 10 + (header[i] - '0');
    }
    return code;
}

// A Retry-After value: decimal seconds, or an HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT").
std::optional<std::chrono::milliseconds> retryDelay(std::string value) {
    value.erase(0, value.find_first_not_of(" \t"));
    value.erase(value.find_last_not_of(" \t") + 1);
    if (value.empty()) return std::nullopt;
    if (std::all_of(value.begin(), value.end(),
                    [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        if (value.size() > 9) return std::chrono::hours(24 * 365);  // absurd: far beyond any cap
        return std::chrono::seconds(std::stol(value));
    }
    std::tm when{};
    std::istringstream in(value);
    in.imbue(std::locale::classic());
    in >> std::get_time(&when, "%a, %d %b %Y %H:%M:%S");
    if (in.fail()) return std::nullopt;
    std::time_t at = timegm(&when);
    if (at == static_cast<std::time_t>(-1)) return std::nullopt;
    auto wait = std::chrono::system_clock::from_time_t(at) - std::chrono::system_clock::now();
    return std::max(std::chrono::milliseconds(0),
                    std::chrono::duration_cast<std::chrono::milliseconds>(wait));
}

}  // namespace

std::optional<std::string> receiveHeader(Socket& socket, ReceiveBuffer& buffer,
                                         const Limits& limits, DownloadTimer& timer, bool& failed) {
    std::size_t searchFrom = 0;  // where "\r\n\r\n" may still start
    char block[1024];
    for (;;) {
        ssize_t n = timer.receive(socket, block, sizeof block);
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
    header.status = statusCode(raw);
    for (const std::string& line : headerLines(raw)) {
        if (!header.retryAfter && tools::lowered(line.substr(0, 12)) == "retry-after:")
            header.retryAfter = retryDelay(line.substr(12));
        if (!header.location && startsWith(line, "Location: ")) header.location = line.substr(10);
        if (startsWith(line, "Connection: ") &&
            tools::lowered(line).find("close") != std::string::npos)
            header.closes = true;
    }
    return header;
}

}  // namespace downloader::detail
