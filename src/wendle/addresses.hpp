#pragma once
// Addresses as the generator compares and writes them. Pure functions, usable
// from any thread.
#include <string>
#include <string_view>
#include <vector>

namespace wendle {

// The address in a form where equivalent writings agree: no scheme, the host
// lowered without a leading "www." and without the default port (80, 443), no
// fragment, no "index.html", "index.htm" or "index.php" at the end of the path
// and no trailing "/". The query is kept ("?" alone is dropped).
std::string normalisedAddress(std::string_view address);

// Whether two addresses name the same page in the sense of normalisedAddress.
bool sameAddress(std::string_view a, std::string_view b);

// A replacer expression that finds something in every address naming the same
// page as `address` (any scheme, "www." or not, default port or not, trailing
// "/", index file, fragment) and in no other: the plugin's frontpage_match.
std::string frontPageMatch(std::string_view address);

// The host of an address (lowered, port kept), without scheme or "www.".
std::string hostOf(std::string_view address);

// The address normalised, with every run of digits written as "#": pages of one
// comic usually share it ("site/comic/#.html").
std::string addressShape(std::string_view address);

// The numbers in an address, in order ("a/2023/05/x12" gives 2023, 5, 12);
// later strips usually have larger ones. Runs of more than 18 digits count as
// one large number.
std::vector<unsigned long long> addressNumbers(std::string_view address);

// The address without "http://" (addresses of plain pages are written that
// way; "https://" stays).
std::string withoutHttp(const std::string& address);

}  // namespace wendle
