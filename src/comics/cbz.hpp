#pragma once
// Comic book archives (CBZ): a comic's strips in page order in one ZIP file,
// with a ComicInfo.xml that names the series, the page count, the web address
// of the first page and each page's title.
//
// The images are copied from the strip store exactly as the site sent them
// (stored, not compressed again); their names are the page numbers, padded to
// one width so that they sort in page order, with the extension of their type.
// libzip writes the archive to a temporary file and renames it over the
// target at the end, so a failed export leaves an older archive untouched.
//
// Thread safety: writeCbz reads the comic through its copies and the store
// through its own lock; two exports must not write the same file.
#include <cstddef>
#include <string>
#include <vector>

#include "comics/base.hpp"

namespace comics {

class StripStore;

struct CbzResult {
    std::size_t pages = 0;             // images in the archive
    std::vector<std::size_t> missing;  // page indexes left out (not in the store)
};

// Writes the archive of the comic's pages whose strips are in the store.
// Raises an error when the archive cannot be written.
CbzResult writeCbz(const Comic& c, const std::string& path, StripStore& store);

// The ComicInfo.xml text for the pages given (their titles in this order); the
// series name and titles are made valid UTF-8 and escaped for XML.
std::string comicInfo(const std::string& series, const std::string& firstPageAddress,
                      const std::vector<std::string>& titles, const std::string& notes = {});

// The address of the page a strip was found on (its "REFER=" part) with
// "http://" in front when it carries no scheme; "" without a referrer.
std::string pageAddressOf(const std::string& imageRef);

}  // namespace comics
