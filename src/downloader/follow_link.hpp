#pragma once
// Link resolution: turns a link found on a page into the address of the next request,
// in the form the HTTP client accepts (no "http://", annotations kept in front). Links on
// an "https://" page, and links that carry "https://" themselves, give "https://" addresses.
// Thread safety: a pure function, callable from any thread.
#include <string>

namespace downloader {

// `oldAddress` is the address of the page the link was found on. Relative, host-absolute
// ("/x"), query-only ("?x") and absolute links are resolved; "&amp;" becomes "&" and
// spaces become "%20". Raises on an empty link or an empty old address.
std::string followLink(const std::string& oldAddress, const std::string& link);

}  // namespace downloader
