#include "downloader/request.hpp"

namespace downloader::detail {

namespace {

const char* const webHost = "tovik.example.org";

}  // namespace

RequestBytes requestBytes(const Request& request) {
    RequestBytes bytes;
    bytes.line = std::string(request.post ? "POST " : "GET ") + request.path + " HTTP/" +
                 (request.http10 ? "1.0" : "1.1") + "\r\n";
    bytes.headers = {
        "Connection: keep-alive\r\n",
        std::string("User-Agent: Mozilla/5.0 (TOVIK.2; ") + webHost + ")\r\n",
        "Accept: */*\r\n",
        "Host: " + request.host + "\r\n",
    };
    if (request.post)
        bytes.headers.push_back(
            "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
            std::to_string(request.form.size()) + "\r\n");
    if (!request.referrer.empty()) bytes.headers.push_back("Referer: " + request.referrer + "\r\n");
    bytes.headers.push_back("\r\n" + request.form);
    return bytes;
}

void sendHeaders(Socket& socket, const RequestBytes& bytes) {
    for (std::size_t i = 0; i < bytes.headers.size(); ++i)
        socket.send(bytes.headers[i], i + 1 < bytes.headers.size());
}

}  // namespace downloader::detail
