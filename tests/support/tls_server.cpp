#include "tls_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace testsupport {

namespace {

void openssl(const std::string& arguments) {
    if (std::system(("openssl " + arguments + " >/dev/null 2>&1").c_str()) != 0)
        throw std::runtime_error("openssl " + arguments + " failed");
}

std::string quoted(const std::string& path) { return "'" + path + "'"; }

const char* const newKey = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";

void makeCa(const std::string& base, const std::string& name) {
    openssl(std::string("req -x509 ") + newKey + " -keyout " + quoted(base + ".key") + " -out " +
            quoted(base + ".pem") + " -days 30 -subj '/CN=" + name + "'");
}

TestCertificates::Pair makeLeaf(const std::string& directory, const std::string& name,
                                const std::string& ca, const std::string& altNames, int days) {
    std::string base = directory + "/" + name;
    std::ofstream(base + ".ext") << "subjectAltName=" << altNames << "\n";
    openssl(std::string("req ") + newKey + " -keyout " + quoted(base + ".key") + " -out " +
            quoted(base + ".csr") + " -subj '/CN=" + name + "'");
    openssl("x509 -req -in " + quoted(base + ".csr") + " -CA " + quoted(ca + ".pem") + " -CAkey " +
            quoted(ca + ".key") + " -CAcreateserial -out " + quoted(base + ".pem") + " -days " +
            std::to_string(days) + " -extfile " + quoted(base + ".ext"));
    return {base + ".pem", base + ".key"};
}

}  // namespace

TestCertificates::TestCertificates(const std::string& directory) {
    makeCa(directory + "/ca", "Tovik Test CA");
    makeCa(directory + "/stranger", "Unknown Test CA");
    caFile = directory + "/ca.pem";
    good = makeLeaf(directory, "good", directory + "/ca", "DNS:localhost,IP:127.0.0.1", 30);
    otherName = makeLeaf(directory, "other", directory + "/ca", "DNS:other.example", 30);
    expired = makeLeaf(directory, "expired", directory + "/ca", "DNS:localhost,IP:127.0.0.1", -1);
    unknownCa =
        makeLeaf(directory, "unknown", directory + "/stranger", "DNS:localhost,IP:127.0.0.1", 30);
}

struct TlsFront::Context {
    SSL_CTX* ctx = nullptr;
    ~Context() { SSL_CTX_free(ctx); }
};

TlsFront::TlsFront(HttpServer& backend, const TestCertificates::Pair& pair, bool stallHandshake)
    : backend_(backend), context_(std::make_shared<Context>()), stallHandshake_(stallHandshake) {
    context_->ctx = SSL_CTX_new(TLS_server_method());
    if (!context_->ctx ||
        SSL_CTX_use_certificate_chain_file(context_->ctx, pair.certificate.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context_->ctx, pair.key.c_str(), SSL_FILETYPE_PEM) != 1)
        throw std::runtime_error("TLS server set-up failed for " + pair.certificate);
    if (pipe(wakeFd_) != 0) throw std::runtime_error("pipe failed");
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listenFd_, 128) != 0)
        throw std::runtime_error("bind/listen failed");
    socklen_t length = sizeof address;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

TlsFront::~TlsFront() { stop(); }

void TlsFront::stop() {
    if (stopping_.exchange(true)) return;
    char wake = 'x';
    (void)!write(wakeFd_[1], &wake, 1);
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> hold(lock_);
        workers.swap(workers_);
    }
    for (auto& worker : workers) worker.join();
    close(listenFd_);
    close(wakeFd_[0]);
    close(wakeFd_[1]);
}

std::string TlsFront::url(const std::string& path, const std::string& host) const {
    return "https://" + host + ":" + std::to_string(port_) + path;
}

void TlsFront::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (stopping_.load() || (fds[1].revents & POLLIN)) return;
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) continue;
        int one = 1;  // replies go out as they come, without waiting for acknowledgements
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard<std::mutex> hold(lock_);
        workers_.emplace_back([this, fd] { serve(fd); });
    }
}

namespace {

// Waits for `events` on fd; false when the wake pipe fired or poll failed.
bool waitFor(int fd, short events, int wakeFd) {
    pollfd fds[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
    while (poll(fds, 2, -1) < 0)
        if (errno != EINTR) return false;
    return !(fds[1].revents & POLLIN);
}

// Retries a non-blocking TLS call until it completes; false on failure or stop.
template <typename Call>
bool tlsCall(SSL* ssl, int fd, int wakeFd, Call call, int& result) {
    for (;;) {
        result = call();
        if (result > 0) return true;
        int error = SSL_get_error(ssl, result);
        if (error == SSL_ERROR_WANT_READ) {
            if (!waitFor(fd, POLLIN, wakeFd)) return false;
        } else if (error == SSL_ERROR_WANT_WRITE) {
            if (!waitFor(fd, POLLOUT, wakeFd)) return false;
        } else {
            return false;
        }
    }
}

}  // namespace

void TlsFront::serve(int fd) {
    if (stallHandshake_) {
        waitFor(wakeFd_[0], POLLIN, wakeFd_[0]);
        close(fd);
        return;
    }
    SSL* ssl = SSL_new(context_->ctx);
    SSL_set_fd(ssl, fd);
    int backendFd = -1;
    int result = 0;
    if (tlsCall(
            ssl, fd, wakeFd_[0], [ssl] { return SSL_accept(ssl); }, result)) {
        handshakes_.fetch_add(1);
        backendFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(backend_.port());
        if (connect(backendFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(backendFd);
            backendFd = -1;
        }
    }
    char block[16384];
    bool open = backendFd >= 0;
    while (open && !stopping_.load()) {
        if (SSL_pending(ssl) == 0) {
            pollfd fds[3] = {{fd, POLLIN, 0}, {backendFd, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
            if (poll(fds, 3, -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (fds[2].revents & POLLIN) break;
            if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
                ssize_t n = recv(backendFd, block, sizeof block, 0);
                if (n <= 0) break;
                std::size_t length = static_cast<std::size_t>(n);
                if (!tlsCall(
                        ssl, fd, wakeFd_[0],
                        [&] { return SSL_write(ssl, block, static_cast<int>(length)); }, result))
                    break;
                continue;
            }
            if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        }
        int n = SSL_read(ssl, block, sizeof block);
        if (n > 0) {
            for (int sent = 0; sent < n;) {
                ssize_t m =
                    send(backendFd, block + sent, static_cast<std::size_t>(n - sent), MSG_NOSIGNAL);
                if (m <= 0) {
                    open = false;
                    break;
                }
                sent += static_cast<int>(m);
            }
            continue;
        }
        int error = SSL_get_error(ssl, n);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) break;
    }
    SSL_free(ssl);
    if (backendFd >= 0) close(backendFd);
    close(fd);
}

}  // namespace testsupport
