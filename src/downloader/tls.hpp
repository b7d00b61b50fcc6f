#pragma once
// TLS on top of a connected socket for "https://" addresses: certificates checked against
// the system's store (plus one extra CA file when set), SNI and host-name checks always on.
// Thread safety: the shared client context is set up once and is safe from any
// thread; one session is used by one thread at a time.
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>

typedef struct ssl_st SSL;

namespace downloader::detail {

// A handshake or certificate check that failed: names the host and OpenSSL's reason.
class TlsError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};
// The peer went silent inside the handshake (costs an attempt, like a silent receive).
class HandshakeStalled : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct SslDeleter {
    void operator()(SSL* ssl) const;
};
using SslPtr = std::unique_ptr<SSL, SslDeleter>;

// Runs the client handshake on a connected, blocking socket. The socket's send and
// receive time-outs are set to `timeout` for it.
SslPtr startTls(int fd, const std::string& host, std::chrono::milliseconds timeout);

// Like send and recv: the count, 0 when the peer closed, -1 on an error or time-out.
ssize_t tlsSend(SSL* ssl, const std::string& bytes);
ssize_t tlsReceive(SSL* ssl, char* data, std::size_t length);
// Decrypted bytes waiting inside the session.
bool tlsPending(SSL* ssl);

std::size_t handshakeCount();

}  // namespace downloader::detail
