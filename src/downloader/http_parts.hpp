#pragma once
// Pieces of the HTTP client that are tested on their own: the annotated-URL parser, the
// receive buffer, the chunk decoder and the UTF-16 conversion.
// Thread safety: pure functions and plain values; a receive buffer belongs to the
// one exchange (and thread) that fills it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "downloader/limits.hpp"

namespace downloader::detail {

// An annotated URL taken apart (see downloader.hpp). Logs "Posting ", "Refer " and
// "Fallback to HTTP 1.0" as it reads the annotations.
struct Request {
    bool post = false;
    std::string form;      // POST data
    std::string referrer;  // with "http://" (or its own "https://") in front; empty when none
    bool http10 = false;
    bool tls = false;  // "https://"
    std::string host;
    std::uint16_t port = 80;  // 443 with TLS
    std::string path;         // starts with "/"
};
Request parseUrl(const std::string& url);

// Bytes below 0x20 and DEL as "%XX", so text from a page cannot add header lines.
std::string encodeControls(const std::string& text);

// A growable byte buffer whose front can be cut cheaply (the cut advances an offset).
class ReceiveBuffer {
public:
    // Adds bytes at the end. A buffer that cannot grow raises and stays as it was.
    void append(const char* data, std::size_t length);
    std::string_view contents() const { return std::string_view(data_).substr(start_); }
    std::size_t length() const { return data_.size() - start_; }
    // Bytes in memory, the cut front included.
    std::size_t held() const { return data_.capacity(); }
    // Room for `total` bytes of contents without growing (best effort).
    void reserve(std::size_t total);
    // The first n bytes of the contents, moved out; the buffer is empty afterwards.
    std::string take(std::size_t n);
    // Drops the first n bytes; n beyond the length raises
    // "Cannot cut at index larger than length".
    void cut(std::size_t n);

private:
    std::string data_;
    std::size_t start_ = 0;
};

enum class ChunkState { needMore, complete };
// Moves complete chunks from the buffer into `body`. In final mode a chunk that has not
// fully arrived is appended as far as it goes.
ChunkState decodeChunks(ReceiveBuffer& buffer, std::string& body, bool finalMode,
                        const Limits& limits);

// A body starting with a UTF-16 byte-order mark (FE FF or FF FE) converted to UTF-8,
// mark included; anything else unchanged.
std::string convertUtf16(std::string body);

}  // namespace downloader::detail
