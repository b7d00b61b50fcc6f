#include "downloader/tls.hpp"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <system_error>

#include "downloader/downloader.hpp"

namespace downloader {

namespace {

std::mutex contextLock;
std::string extraCaSetting;              // guarded by contextLock
std::shared_ptr<SSL_CTX> sharedContext;  // guarded by contextLock
std::string sharedContextCa;             // the extra CA file it was made with
std::atomic<std::size_t> handshakes{0};

// The text of the newest OpenSSL error of this thread, "" when there is none.
std::string lastOpenSslError() {
    unsigned long code = ERR_peek_last_error();
    if (code == 0) return {};
    if (const char* reason = ERR_reason_error_string(code)) return reason;
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

std::string extraCaFile() {
    if (!extraCaSetting.empty()) return extraCaSetting;
    const char* fromEnvironment = std::getenv("TOVIK_EXTRA_CA");
    return fromEnvironment ? fromEnvironment : "";
}

// The client context; made again when the extra CA file changes.
std::shared_ptr<SSL_CTX> context() {
    std::lock_guard<std::mutex> hold(contextLock);
    std::string ca = extraCaFile();
    if (sharedContext && ca == sharedContextCa) return sharedContext;
    ERR_clear_error();
    std::shared_ptr<SSL_CTX> made(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    if (!made) throw detail::TlsError("Cannot set up TLS: " + lastOpenSslError());
    SSL_CTX* raw = made.get();
    SSL_CTX_set_min_proto_version(raw, TLS1_2_VERSION);
    SSL_CTX_set_verify(raw, SSL_VERIFY_PEER, nullptr);
    // A peer that closes without close_notify ends the body like a plain close does.
    SSL_CTX_set_options(raw, SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_mode(raw, SSL_MODE_AUTO_RETRY);
    if (SSL_CTX_set_default_verify_paths(raw) != 1)
        throw detail::TlsError("Cannot read the system's certificates: " + lastOpenSslError());
    if (!ca.empty() && SSL_CTX_load_verify_locations(raw, ca.c_str(), nullptr) != 1)
        throw detail::TlsError("Cannot read CA file '" + ca + "': " + lastOpenSslError());
    sharedContext = made;
    sharedContextCa = ca;
    return made;
}

// Writes on a socket whose peer has gone raise SIGPIPE; OpenSSL writes without
// MSG_NOSIGNAL, so the signal is held back for this thread and a raised one swallowed.
class SigpipeBlock {
public:
    SigpipeBlock() {
        sigset_t pipe = pipeSet();
        pthread_sigmask(SIG_BLOCK, &pipe, &old_);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    }
    ~SigpipeBlock() {
        if (!wasPending_) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                sigset_t pipe = pipeSet();
                timespec zero{};
                while (sigtimedwait(&pipe, nullptr, &zero) < 0 && errno == EINTR) {
                }
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    SigpipeBlock(const SigpipeBlock&) = delete;
    SigpipeBlock& operator=(const SigpipeBlock&) = delete;

private:
    static sigset_t pipeSet() {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        return pipe;
    }
    sigset_t old_{};
    bool wasPending_ = false;
};

}  // namespace

void setExtraCaFile(const std::string& path) {
    std::lock_guard<std::mutex> hold(contextLock);
    extraCaSetting = path;
}

namespace detail {

void SslDeleter::operator()(SSL* ssl) const { SSL_free(ssl); }

SslPtr startTls(int fd, const std::string& host, std::chrono::milliseconds timeout) {
    std::shared_ptr<SSL_CTX> shared = context();
    ERR_clear_error();
    SslPtr ssl(SSL_new(shared.get()));
    if (!ssl || SSL_set_fd(ssl.get(), fd) != 1)
        throw TlsError("TLS setup for " + host + " failed: " + lastOpenSslError());
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl.get());
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    in_addr literal{};
    bool checked;
    if (inet_pton(AF_INET, host.c_str(), &literal) == 1) {
        checked = X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1;
    } else {
        checked = SSL_set_tlsext_host_name(ssl.get(), host.c_str()) == 1 &&
                  SSL_set1_host(ssl.get(), host.c_str()) == 1;
    }
    if (!checked) throw TlsError("TLS setup for " + host + " failed: bad host name");

    timeval limit{};
    limit.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    limit.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    if (limit.tv_sec == 0 && limit.tv_usec == 0) limit.tv_usec = 1000;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);

    SigpipeBlock block;
    errno = 0;
    int result = SSL_connect(ssl.get());
    if (result == 1) {
        handshakes.fetch_add(1);
        return ssl;
    }
    int error = SSL_get_error(ssl.get(), result);
    int savedErrno = errno;
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE ||
        (error == SSL_ERROR_SYSCALL && (savedErrno == EAGAIN || savedErrno == EWOULDBLOCK)))
        throw HandshakeStalled("TLS handshake with " + host + " timed out");
    std::string reason;
    long verified = SSL_get_verify_result(ssl.get());
    if (verified != X509_V_OK) reason = X509_verify_cert_error_string(verified);
    if (reason.empty()) reason = lastOpenSslError();
    if (reason.empty() && error == SSL_ERROR_SYSCALL)
        reason = savedErrno ? std::error_code(savedErrno, std::generic_category()).message()
                            : "connection closed during the handshake";
    if (reason.empty()) reason = "error " + std::to_string(error);
    throw TlsError("TLS handshake with " + host + " failed: " + reason);
}

ssize_t tlsSend(SSL* ssl, const std::string& bytes) {
    if (bytes.empty()) return 0;
    SigpipeBlock block;
    ERR_clear_error();
    int result = SSL_write(ssl, bytes.data(), static_cast<int>(bytes.size()));
    return result > 0 ? result : -1;
}

ssize_t tlsReceive(SSL* ssl, char* data, std::size_t length) {
    ERR_clear_error();
    int result;
    if (SSL_pending(ssl) > 0) {
        result = SSL_read(ssl, data, static_cast<int>(length));
    } else {
        SigpipeBlock block;  // a read may have to write (key updates)
        result = SSL_read(ssl, data, static_cast<int>(length));
    }
    if (result > 0) return result;
    if (SSL_get_error(ssl, result) == SSL_ERROR_ZERO_RETURN) return 0;
    return -1;
}

bool tlsPending(SSL* ssl) { return SSL_pending(ssl) > 0; }

std::size_t handshakeCount() { return handshakes.load(); }

}  // namespace detail

std::size_t tlsHandshakeCount() { return detail::handshakeCount(); }

}  // namespace downloader
