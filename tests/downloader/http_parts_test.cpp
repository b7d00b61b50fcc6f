#include "downloader/http_parts.hpp"

#include <gtest/gtest.h>

#include "log_counter.hpp"
#include "support/log_capture.hpp"

using namespace downloader::detail;

namespace {

using testsupport::errorOf;

}  // namespace

TEST(ParseUrl, HostPortAndPath) {
    Request r = parseUrl("http://host/a b.html");
    EXPECT_EQ(r.host, "host");
    EXPECT_EQ(r.port, 80);
    EXPECT_EQ(r.path, "/a%20b.html");
    EXPECT_FALSE(r.post);
    EXPECT_FALSE(r.http10);

    r = parseUrl("host");
    EXPECT_EQ(r.host, "host");
    EXPECT_EQ(r.path, "/");

    r = parseUrl("host:8080/x?y=1/2");
    EXPECT_EQ(r.host, "host");
    EXPECT_EQ(r.port, 8080);
    EXPECT_EQ(r.path, "/x?y=1/2");

    EXPECT_EQ(parseUrl("host:81x/").port, 81);  // digits up to the first non-digit
}

TEST(ParseUrl, Annotations) {
    LogCounter log;
    Request r = parseUrl("POST=a=1&b=2 REFER=ref/index.html 1.0 http://host/form");
    EXPECT_TRUE(r.post);
    EXPECT_EQ(r.form, "a=1&b=2");
    EXPECT_EQ(r.referrer, "http://ref/index.html");
    EXPECT_TRUE(r.http10);
    EXPECT_EQ(r.path, "/form");
    std::string text = log.text();
    EXPECT_NE(text.find("Posting a=1&b=2"), std::string::npos);
    EXPECT_NE(text.find("Refer ref/index.html"), std::string::npos);
    EXPECT_NE(text.find("Fallback to HTTP 1.0"), std::string::npos);

    EXPECT_EQ(parseUrl("REFER=http://r/ h/").referrer, "http://r/");
    EXPECT_EQ(parseUrl("REFER=ab h/").referrer, "http://ab");
    EXPECT_EQ(parseUrl("REFER=https://r/ h/").referrer, "https://r/");
    EXPECT_EQ(parseUrl("REFER=httpsx h/").referrer, "http://httpsx");
    EXPECT_THROW(parseUrl("POST=a=1"), std::runtime_error);
    EXPECT_THROW(parseUrl("REFER=x"), std::runtime_error);
}

TEST(ParseUrl, HttpsAddresses) {
    Request r = parseUrl("https://host/a b?x=1");
    EXPECT_TRUE(r.tls);
    EXPECT_EQ(r.host, "host");
    EXPECT_EQ(r.port, 443);
    EXPECT_EQ(r.path, "/a%20b?x=1");
    EXPECT_EQ(parseUrl("https://host:8443").port, 8443);
    EXPECT_EQ(parseUrl("https://host:8443").path, "/");
    Request annotated = parseUrl("POST=a=1 REFER=https://p/ 1.0 https://host/f");
    EXPECT_TRUE(annotated.tls && annotated.post && annotated.http10);
    EXPECT_EQ(annotated.referrer, "https://p/");
    EXPECT_FALSE(parseUrl("http://host/").tls);
    EXPECT_FALSE(parseUrl("host/").tls);
    EXPECT_EQ(errorOf([] { parseUrl("https:///x"); }), "No address found");
}

TEST(ParseUrl, BadAddressesAreErrors) {
    EXPECT_EQ(errorOf([] { parseUrl("http:///x"); }), "No address found");
    EXPECT_EQ(errorOf([] { parseUrl(":80/x"); }), "No address found");
    EXPECT_EQ(errorOf([] { parseUrl("host:/x"); }), "Invalid port ''");
    EXPECT_EQ(errorOf([] { parseUrl("host:0/x"); }), "Invalid port '0'");
    EXPECT_EQ(errorOf([] { parseUrl("host:65536/x"); }), "Invalid port '65536'");
    EXPECT_EQ(errorOf([] { parseUrl("host:99999999999999999999/x"); }),
              "Invalid port '99999999999999999999'");
    EXPECT_EQ(parseUrl("host:65535/x").port, 65535);
}

TEST(ParseUrl, ControlBytesCannotStartHeaderLines) {
    Request r = parseUrl("REFER=r/\r\nX:1 host/a\r\nInjected: yes\x7f");
    EXPECT_EQ(r.path, "/a%0D%0AInjected:%20yes%7F");
    EXPECT_EQ(r.referrer, "http://r/%0D%0AX:1");
}

TEST(ReceiveBuffer, AppendAndCut) {
    ReceiveBuffer buffer;
    buffer.append("hello world", 11);
    buffer.cut(6);
    EXPECT_EQ(buffer.contents(), "world");
    buffer.append("!", 1);
    EXPECT_EQ(buffer.contents(), "world!");
    EXPECT_EQ(errorOf([&] { buffer.cut(7); }), "Cannot cut at index larger than length");
    EXPECT_EQ(buffer.contents(), "world!");
    buffer.cut(6);
    EXPECT_EQ(buffer.length(), 0u);
    std::string model;
    for (int i = 0; i < 1000; ++i) {  // front cuts interleaved with appends keep the order
        std::string piece = std::to_string(i);
        buffer.append(piece.data(), piece.size());
        model += piece;
        buffer.cut(1);
        model.erase(0, 1);
    }
    EXPECT_EQ(buffer.contents(), model);
}

namespace {

ChunkState decode(ReceiveBuffer& buffer, std::string& body, const std::string& more,
                  bool finalMode = false) {
    buffer.append(more.data(), more.size());
    return decodeChunks(buffer, body, finalMode, downloader::Limits{});
}

}  // namespace

TEST(ChunkDecoder, WholeAndSplitBodies) {
    ReceiveBuffer buffer;
    std::string body;
    EXPECT_EQ(decode(buffer, body, "5\r\nhello\r\n0\r\n\r\n"), ChunkState::complete);
    EXPECT_EQ(body, "hello");

    ReceiveBuffer split;
    std::string pieces;
    const std::string all = "3\r\nabc\r\n4\r\ndefg\r\n0\r\nTrailer: x\r\n\r\n";
    for (std::size_t i = 0; i + 1 < all.size(); ++i)
        ASSERT_EQ(decode(split, pieces, all.substr(i, 1)), ChunkState::needMore) << i;
    EXPECT_EQ(decode(split, pieces, all.substr(all.size() - 1)), ChunkState::complete);
    EXPECT_EQ(pieces, "abcdefg");
}

TEST(ChunkDecoder, SizeLines) {
    ReceiveBuffer buffer;
    std::string body;
    std::string chunk(26, 'z');
    EXPECT_EQ(decode(buffer, body, " 1A;ext=1 \r\n" + chunk + "\r\n0\r\n\r\n"),
              ChunkState::complete);
    EXPECT_EQ(body, chunk);

    ReceiveBuffer bad;
    EXPECT_EQ(errorOf([&] { decode(bad, body, "1g\r\nx\r\n"); }),
              "Invalid character 'g' in hex string");
    ReceiveBuffer huge;
    EXPECT_EQ(errorOf([&] { decode(huge, body, "FFFFFFFFFFFFFFFFFFFF\r\n"); }),
              "Chunk size over 268435456 bytes");
}

TEST(ChunkDecoder, FinalModeKeepsThePartialChunk) {
    ReceiveBuffer buffer;
    std::string body;
    EXPECT_EQ(decode(buffer, body, "2\r\nab\r\n8\r\ncdef"), ChunkState::needMore);
    EXPECT_EQ(body, "ab");
    EXPECT_EQ(decodeChunks(buffer, body, true, downloader::Limits{}), ChunkState::needMore);
    EXPECT_EQ(body, "abcdef");
}

TEST(Utf16, BothByteOrdersBecomeUtf8) {
    EXPECT_EQ(convertUtf16(std::string("\xFF\xFE\x41\x00", 4)), "\xEF\xBB\xBF\x41");
    EXPECT_EQ(convertUtf16(std::string("\xFE\xFF\x00\x41\x00\xE9\x20\xAC", 8)),
              "\xEF\xBB\xBF"
              "A\xC3\xA9\xE2\x82\xAC");
    // A surrogate pair, then an odd last byte that is dropped.
    EXPECT_EQ(convertUtf16(std::string("\xFF\xFE\x3D\xD8\x00\xDE\x42", 7)),
              "\xEF\xBB\xBF\xF0\x9F\x98\x80");
    // A lone surrogate becomes the replacement character.
    EXPECT_EQ(convertUtf16(std::string("\xFE\xFF\xD8\x00", 4)), "\xEF\xBB\xBF\xEF\xBF\xBD");
}

TEST(Utf16, OtherBodiesStayAsTheyAre) {
    EXPECT_EQ(convertUtf16(std::string("\xFF\xFE", 2)), std::string("\xFF\xFE", 2));
    EXPECT_EQ(convertUtf16("plain"), "plain");
    EXPECT_EQ(convertUtf16("\xEF\xBB\xBFutf8"), "\xEF\xBB\xBFutf8");
}
