#include "downloader/name_resolution.hpp"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <memory>

namespace downloader {

namespace {

// Copies one getaddrinfo answer (IPv4 only) into the host's fields.
void fillFromAnswer(ActuallyThreadsafeInternetHost& host, const addrinfo* answer) {
    host.name.clear();
    host.aliases.clear();
    host.addresses.clear();
    for (const addrinfo* entry = answer; entry; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || entry->ai_addrlen != sizeof(sockaddr_in))
            throw HostError("Address family mismatch");
        if (host.name.empty() && entry->ai_canonname) host.name = entry->ai_canonname;
        std::uint32_t address =
            ntohl(reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr);
        if (std::find(host.addresses.begin(), host.addresses.end(), address) ==
            host.addresses.end())
            host.addresses.push_back(address);
    }
}

struct AnswerDeleter {
    void operator()(addrinfo* answer) const { freeaddrinfo(answer); }
};

}  // namespace

bool ActuallyThreadsafeInternetHost::lookupByName(const std::string& hostName) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* raw = nullptr;
    if (getaddrinfo(hostName.c_str(), nullptr, &hints, &raw) != 0 || !raw) return false;
    std::unique_ptr<addrinfo, AnswerDeleter> answer(raw);
    fillFromAnswer(*this, answer.get());
    if (name.empty()) name = hostName;
    return !addresses.empty();
}

bool ActuallyThreadsafeInternetHost::lookupByAddress(std::uint32_t address) {
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_addr.s_addr = htonl(address);
    char text[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&socketAddress), sizeof socketAddress, text,
                    sizeof text, nullptr, 0, NI_NAMEREQD) != 0)
        return false;
    name = text;
    aliases.clear();
    addresses = {address};
    return true;
}

bool ActuallyThreadsafeInternetHost::lookupByDottedAddress(const std::string& dotted) {
    in_addr parsed{};
    if (inet_pton(AF_INET, dotted.c_str(), &parsed) != 1) return false;
    return lookupByAddress(ntohl(parsed.s_addr));
}

ActuallyWorkingInternetAddress::ActuallyWorkingInternetAddress(std::uint16_t port,
                                                               const std::string& host) {
    address_.sin_family = AF_INET;
    address_.sin_port = htons(port);
    if (inet_pton(AF_INET, host.c_str(), &address_.sin_addr) == 1) return;
    ActuallyThreadsafeInternetHost resolved;
    if (!resolved.lookupByName(host)) throw AddressError("Unable to resolve host '" + host + "'");
    address_.sin_addr.s_addr = htonl(resolved.addresses.front());
}

std::string ActuallyWorkingInternetAddress::toString() const {
    return addressText() + ":" + portText();
}
const sockaddr* ActuallyWorkingInternetAddress::socketAddress() const {
    return reinterpret_cast<const sockaddr*>(&address_);
}
std::uint16_t ActuallyWorkingInternetAddress::port() const { return ntohs(address_.sin_port); }
std::uint32_t ActuallyWorkingInternetAddress::address() const {
    return ntohl(address_.sin_addr.s_addr);
}
std::string ActuallyWorkingInternetAddress::addressText() const {
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &address_.sin_addr, text, sizeof text);
    return text;
}
std::string ActuallyWorkingInternetAddress::portText() const { return std::to_string(port()); }

}  // namespace downloader
