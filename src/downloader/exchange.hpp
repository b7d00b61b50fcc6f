#pragma once
// One request/response exchange with all its retries: the request, header and body steps
// (request.hpp, response_header.hpp, response_body.hpp) on a pooled or new connection,
// redirects followed or reported, within the download's bounds (download_bounds.hpp).
//
// Thread safety: exchanges run on several threads at once; they share only the
// connection pool, the host slots, the byte budget and the progress registry, all locked.
#include <string>

#include "downloader/limits.hpp"

namespace downloader::detail {

struct Answer {
    int status = 0;  // of the final response; 0 when a redirect was reported
    std::string body;
};

// The final answer for the URL; an empty body when a redirect was reported through
// `redirectTarget`. Three attempts ("Can't download page." after the last); a pooled
// connection the server closed while idle costs no attempt, once. A 5xx or 429 answer
// costs an attempt and a pause (the Retry-After it gives, up to limits.retryAfterCap);
// when none is left it is the answer. Raises "URL empty", the address parser's and the
// steps' errors, "Too many redirects", Abandoned at the deadlines; every failure also
// logs "Download failed. This is bad.".
Answer fetch(const std::string& url, std::string* redirectTarget, const Limits& limits);

}  // namespace downloader::detail
