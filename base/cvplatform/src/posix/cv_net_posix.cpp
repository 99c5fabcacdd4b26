// Network address literals on POSIX.  The socket library needs no start-up
// here, and the literals are read with inet_pton; an IPv6 zone ("%eth0"),
// which inet_pton does not take, is cut off first.
#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstring>

#include "cvplatform/cv_str.h"

namespace {

// Longest IPv6 literal without its zone, terminator included.
constexpr std::size_t kIpv6TextSize = INET6_ADDRSTRLEN;

}  // namespace

void cv_net_startup() {}

cv_status cv_net_parse_address(const char *text, cv_net_address *address, int *is_ipv6) {
    if (text == nullptr || address == nullptr) return CV_E_INVALID;
    std::memset(address, 0, sizeof(*address));

    if (::inet_pton(AF_INET, text, address->ipv4) == 1) {
        address->family = CV_NET_FAMILY_IPV4;
        if (is_ipv6 != nullptr) *is_ipv6 = 0;
        return CV_OK;
    }

    int parsed = ::inet_pton(AF_INET6, text, address->ipv6);
    if (parsed != 1) {
        const char *zone = std::strchr(text, '%');
        const std::size_t length = zone != nullptr ? static_cast<std::size_t>(zone - text) : 0;
        if (zone != nullptr && length < kIpv6TextSize) {
            char bare[kIpv6TextSize];
            std::memcpy(bare, text, length);
            bare[length] = '\0';
            parsed = ::inet_pton(AF_INET6, bare, address->ipv6);
        }
    }
    if (parsed != 1) {
        std::memset(address, 0, sizeof(*address));
        return CV_E_INVALID;
    }
    address->family = CV_NET_FAMILY_IPV6;
    if (is_ipv6 != nullptr) *is_ipv6 = 1;
    return CV_OK;
}
