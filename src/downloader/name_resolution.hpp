#pragma once
// Name resolution for the HTTP client: IPv4 host lookups and socket addresses.
//
// Thread safety: lookups may run on several threads at once (the answer is copied out of
// the resolver at once); each object is used by one thread at a time.
#include <netinet/in.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace downloader {

// Name resolution errors.
class AddressError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};
class HostError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The answer of one IPv4 lookup, copied out of the resolver at once.
class ActuallyThreadsafeInternetHost {
public:
    bool lookupByName(const std::string& name);
    bool lookupByAddress(std::uint32_t address);  // host order
    bool lookupByDottedAddress(const std::string& dotted);

    std::string name;
    std::vector<std::string> aliases;
    std::vector<std::uint32_t> addresses;  // host order
};

// An IPv4 socket address: dotted text used directly, anything else resolved by name.
class ActuallyWorkingInternetAddress {
public:
    ActuallyWorkingInternetAddress(std::uint16_t port, const std::string& host);
    std::string toString() const;  // "1.2.3.4:80"
    const sockaddr* socketAddress() const;
    socklen_t length() const { return sizeof(address_); }
    int family() const { return AF_INET; }
    std::uint16_t port() const;
    std::uint32_t address() const;
    std::string addressText() const;
    std::string portText() const;

private:
    sockaddr_in address_{};
};

}  // namespace downloader
