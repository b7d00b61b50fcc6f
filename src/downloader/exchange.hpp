#pragma once
// One request/response exchange with all its retries: the request, header and body steps
// (request.hpp, response_header.hpp, response_body.hpp) on a pooled or new connection,
// redirects followed or reported.
//
// Thread safety: exchanges run on several threads at once; they share only the
// connection pool and the progress registry, both locked.
#include <string>

#include "downloader/limits.hpp"

namespace downloader::detail {

// The body of the URL, or "" when a redirect was reported through `redirectTarget`.
// Three attempts ("Can't download page." after the last); a pooled connection the server
// closed while idle costs no attempt, once. Raises "URL empty", the address parser's and
// the steps' errors, "Too many redirects"; every failure also logs "Download failed. This
// is bad.".
std::string fetch(const std::string& url, std::string* redirectTarget, const Limits& limits);

}  // namespace downloader::detail
