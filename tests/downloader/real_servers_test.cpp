// The client against HTTP servers written by others: Python's http.server in HTTP/1.1 mode
// and nginx, each serving a directory of pages and images on 127.0.0.1.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <sstream>
#include <thread>

#include "downloader/downloader.hpp"
#include "log_counter.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

namespace {

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

using testsupport::freePort;
using testsupport::Process;
using testsupport::waitForListener;

// A site: two pages, one with a space in its name, and a binary "image".
std::string makeSite(const TempDir& dir) {
    std::filesystem::create_directories(dir.path() / "www" / "strips");
    writeFile(dir.file("www/index.html"), "<a href=\"strips/1.html\">first</a>\n");
    writeFile(dir.file("www/strips/1.html"), std::string(50000, 'p') + "\n");
    writeFile(dir.file("www/a b.html"), "spaced\n");
    std::string image("\x89PNG\r\n\x1a\n", 8);
    for (int i = 0; i < 70000; ++i) image += static_cast<char>(i * 31 % 256);
    writeFile(dir.file("www/strips/1.png"), image);
    return image;
}

// The file once it has `count` lines (or after two seconds).
std::string readLines(const std::string& path, int count) {
    std::string text;
    for (int i = 0; i < 200; ++i) {
        text = readFile(path);
        if (std::count(text.begin(), text.end(), '\n') >= count) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return text;
}

class RealServers : public ::testing::Test {
protected:
    void SetUp() override {
        downloader::dropIdleConnections();
        downloader::Limits fast;
        fast.receiveTimeout = std::chrono::milliseconds(10000);
        fast.connectRetryWait = std::chrono::milliseconds(100);
        client = downloader::HttpClient(fast);
    }
    void TearDown() override { downloader::dropIdleConnections(); }

    // Fetches the site's files through one kept-alive connection.
    void fetchSite(const TempDir& dir, const std::string& base, const std::string& image) {
        EXPECT_EQ(client.fetchUrl("http://" + base + "/index.html"),
                  readFile(dir.file("www/index.html")));
        EXPECT_EQ(client.fetchUrl(base + "/strips/1.html"),
                  readFile(dir.file("www/strips/1.html")));
        EXPECT_EQ(client.download("REFER=" + base + "/strips/1.html " + base + "/strips/1.png"),
                  image);
        EXPECT_EQ(client.fetchUrl(base + "/a b.html"), "spaced\n");
        EXPECT_EQ(downloader::idleConnectionCount(), 1u);
    }

    downloader::HttpClient client;
};

}  // namespace

TEST_F(RealServers, PythonHttpServer) {
    if (!testsupport::haveProgram("python3")) GTEST_SKIP() << "python3 not installed";
    TempDir dir;
    std::string image = makeSite(dir);
    // Each request logs the client's port: one port means one kept-alive connection.
    writeFile(dir.file("serve.py"),
              "import http.server, sys\n"
              "root, port, log = sys.argv[1], int(sys.argv[2]), open(sys.argv[3], 'a')\n"
              "class Handler(http.server.SimpleHTTPRequestHandler):\n"
              "    protocol_version = 'HTTP/1.1'\n"
              "    def __init__(self, *a, **k):\n"
              "        super().__init__(*a, directory=root, **k)\n"
              "    def log_message(self, fmt, *args):\n"
              "        log.write('%d %s\\n' % (self.client_address[1], self.path)); log.flush()\n"
              "http.server.ThreadingHTTPServer(('127.0.0.1', port), Handler).serve_forever()\n");
    std::uint16_t port = freePort();
    Process python({"python3", dir.file("serve.py"), dir.file("www"), std::to_string(port),
                    dir.file("requests.log")});
    ASSERT_TRUE(python.started());
    ASSERT_TRUE(waitForListener(port));
    std::string base = "127.0.0.1:" + std::to_string(port);
    fetchSite(dir, base, image);

    std::istringstream log(readLines(dir.file("requests.log"), 4));
    std::set<std::string> clientPorts;
    int requests = 0;
    for (std::string clientPort, path; log >> clientPort >> path;) {
        clientPorts.insert(clientPort);
        ++requests;
    }
    // The listener probe made one connection of its own without a request.
    EXPECT_EQ(requests, 4);
    EXPECT_EQ(clientPorts.size(), 1u);
}

TEST_F(RealServers, Nginx) {
    std::string nginx = "/usr/sbin/nginx";
    if (access(nginx.c_str(), X_OK) != 0) GTEST_SKIP() << "nginx not installed";
    TempDir dir;
    std::string image = makeSite(dir);
    std::filesystem::create_directories(dir.path() / "tmp");
    std::uint16_t port = freePort();
    std::string d = dir.path().string();
    writeFile(dir.file("nginx.conf"),
              "daemon off;\nmaster_process off;\nworker_processes 1;\n"
              "pid " +
                  d + "/nginx.pid;\nerror_log " + d +
                  "/error.log;\n"
                  "events { worker_connections 64; }\n"
                  "http {\n"
                  "  log_format conn '$connection $connection_requests $request_uri $status';\n"
                  "  access_log " +
                  d +
                  "/access.log conn;\n"
                  "  client_body_temp_path " +
                  d +
                  "/tmp;\n"
                  "  types { text/html html; image/png png; }\n"
                  "  keepalive_timeout 60;\n"
                  "  server { listen 127.0.0.1:" +
                  std::to_string(port) + "; root " + d +
                  "/www; }\n"
                  "}\n");
    Process server({nginx, "-p", d, "-c", dir.file("nginx.conf"), "-e", d + "/error.log"});
    ASSERT_TRUE(server.started());
    ASSERT_TRUE(waitForListener(port)) << readFile(dir.file("error.log"));
    std::string base = "127.0.0.1:" + std::to_string(port);
    fetchSite(dir, base, image);
    // Error pages come back like any other page.
    EXPECT_NE(client.fetchUrl(base + "/missing.html").find("404"), std::string::npos);

    // nginx writes the log line after sending the response.
    std::string lines = readLines(dir.file("access.log"), 5);
    std::istringstream log(lines);
    std::set<std::string> connections;
    int last = 0;
    for (std::string connection, count, uri, status; log >> connection >> count >> uri >> status;) {
        connections.insert(connection);
        last = std::stoi(count);
    }
    EXPECT_EQ(connections.size(), 1u);
    EXPECT_EQ(last, 5);  // the fifth request on that one connection
}
